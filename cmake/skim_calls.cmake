# The skimmer's call signs, spots and telnet feed: the Qt-free library kestrix-skim and the
# band map build on (call book with the ITU prefix table, per-signal call extractor, cluster
# spot line and re-spot rule, telnet input parser and spot server), the band-scene
# generator the skimmer is measured with, and their tests. Tests carry "core" (sanitizers);
# the telnet server's also "tsan".

# The ITU prefix table is compiled in from data/itu-prefixes.txt.
set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS
  ${CMAKE_CURRENT_SOURCE_DIR}/data/itu-prefixes.txt)
file(READ ${CMAKE_CURRENT_SOURCE_DIR}/data/itu-prefixes.txt KESTRIX_ITU_PREFIX_TEXT)
configure_file(src/skim/itu_prefixes.inc.in
  ${CMAKE_CURRENT_BINARY_DIR}/generated/skim/itu_prefixes.inc @ONLY)

find_package(Threads REQUIRED)
add_library(kestrix_skim_calls STATIC
  src/skim/call_sign.cpp
  src/skim/call_extractor.cpp
  src/skim/spot.cpp
  src/skim/telnet_input.cpp
  src/skim/cluster_command.cpp
  src/skim/telnet_server.cpp
)
target_include_directories(kestrix_skim_calls PUBLIC src)
target_include_directories(kestrix_skim_calls PRIVATE ${CMAKE_CURRENT_BINARY_DIR}/generated)
target_link_libraries(kestrix_skim_calls PUBLIC Threads::Threads)

# Band scenes: many stations at once, as I/Q or audio, with the truth (beside the Morse
# generator in src/signalgen, on the one Morse alphabet).
add_library(kestrix_bandscene STATIC src/signalgen/band_scene.cpp)
target_include_directories(kestrix_bandscene PUBLIC src)
target_link_libraries(kestrix_bandscene PUBLIC kestrix_morse)

# Writes a scene to WAV or SigMF plus the truth CSV (a measuring tool, not installed).
add_executable(kestrix-bandscene tools/bandscene_main.cpp)
target_link_libraries(kestrix-bandscene PRIVATE kestrix_bandscene PkgConfig::SNDFILE)

add_executable(kestrix_skim_calls_tests
  tests/skim/call_sign_test.cpp
  tests/skim/call_extractor_test.cpp
  tests/skim/spot_test.cpp
  tests/skim/telnet_input_test.cpp
  tests/skim/cluster_command_test.cpp
  tests/skim/telnet_server_test.cpp
  tests/skim/scene_calls_test.cpp
  tests/signalgen/band_scene_test.cpp
)
target_include_directories(kestrix_skim_calls_tests PRIVATE tests)
target_link_libraries(kestrix_skim_calls_tests PRIVATE
  kestrix_skim_calls kestrix_bandscene GTest::gtest_main)
# "core-tsan": a core test that also runs under ThreadSanitizer (-L tsan).
gtest_discover_tests(kestrix_skim_calls_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS core-tsan)

# Coverage-guided fuzzing (clang's libFuzzer, scripts/fuzz): the telnet input lines and the
# operator's call files.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_telnet_fuzzer tests/skim/telnet_fuzzer.cpp src/skim/telnet_input.cpp
    src/skim/cluster_command.cpp)
  target_include_directories(kestrix_telnet_fuzzer PRIVATE src)
  target_compile_options(kestrix_telnet_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_telnet_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)

  add_executable(kestrix_callfiles_fuzzer tests/skim/callfiles_fuzzer.cpp
    src/skim/call_sign.cpp src/skim/call_extractor.cpp)
  target_include_directories(kestrix_callfiles_fuzzer PRIVATE src
    ${CMAKE_CURRENT_BINARY_DIR}/generated)
  target_compile_options(kestrix_callfiles_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_callfiles_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
