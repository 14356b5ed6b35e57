# Network keying: the cwdaemon-style UDP keyer loggers drive, and its headless run for
# kestrix-send. No Qt: its tests carry the "core" label and run under the sanitizers.

add_library(kestrix_cwdaemon STATIC
  src/transmit/cwdaemon_request.cpp
  src/transmit/cwdaemon_timing.cpp
  src/transmit/cwdaemon_line_keyer.cpp
  src/transmit/cwdaemon.cpp
  src/transmit/rigctld_keying.cpp
  src/transmit/winkeyer.cpp
  src/cli/send_cwdaemon.cpp
  src/cli/send_rigctld.cpp
  src/cli/send_winkeyer.cpp
)
target_include_directories(kestrix_cwdaemon PUBLIC src)
find_package(Threads REQUIRED)
# The headless run keys the sound card through the tone keyer (kestrix_tone, tone.cmake).
target_link_libraries(kestrix_cwdaemon PUBLIC kestrix_transmit kestrix_tone Threads::Threads)

# Manual trial: serves the protocol on a line that prints its edges with timestamps.
add_executable(kestrix-cwdaemon-try tools/cwdaemon_try.cpp)
target_link_libraries(kestrix-cwdaemon-try PRIVATE kestrix_cwdaemon)

add_executable(kestrix_cwdaemon_tests
  tests/transmit/cwdaemon_request_test.cpp
  tests/transmit/cwdaemon_test.cpp
  tests/cli/send_cwdaemon_test.cpp
)
target_include_directories(kestrix_cwdaemon_tests PRIVATE tests tests/transmit)
target_link_libraries(kestrix_cwdaemon_tests PRIVATE
  kestrix_cwdaemon kestrix_cli kestrix_morsegen GTest::gtest_main)
gtest_discover_tests(kestrix_cwdaemon_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core-tsan)

# Keying through Hamlib's rigctld: against the real rigctld (Debian's libhamlib-utils, the
# dummy rig) started by the tests on a free loopback port behind a recording proxy; the
# tests that need it skip when it is not installed.
add_executable(kestrix_rigctld_tests tests/transmit/rigctld_keying_test.cpp)
target_include_directories(kestrix_rigctld_tests PRIVATE tests tests/transmit)
target_link_libraries(kestrix_rigctld_tests PRIVATE kestrix_cwdaemon GTest::gtest_main)
gtest_discover_tests(kestrix_rigctld_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core-tsan)

# WinKeyer output, against an emulator of the WK2 host protocol on a pseudo-terminal.
add_executable(kestrix_winkeyer_tests tests/transmit/winkeyer_test.cpp)
target_include_directories(kestrix_winkeyer_tests PRIVATE tests tests/transmit)
target_link_libraries(kestrix_winkeyer_tests PRIVATE kestrix_cwdaemon GTest::gtest_main)
gtest_discover_tests(kestrix_winkeyer_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core-tsan)

# Coverage-guided fuzzing of the request parser needs clang's libFuzzer:
#   cmake -S . -B build-fuzz -DCMAKE_CXX_COMPILER=clang++ -DKESTRIX_BUILD_GUI=OFF
#   ninja -C build-fuzz kestrix_cwdaemon_fuzzer
# The seeded random-datagram test in kestrix_cwdaemon_tests runs in every build.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_cwdaemon_fuzzer tests/transmit/cwdaemon_fuzzer.cpp
    src/transmit/cwdaemon_request.cpp)
  target_include_directories(kestrix_cwdaemon_fuzzer PRIVATE src tests/transmit)
  target_compile_options(kestrix_cwdaemon_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_cwdaemon_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

# The window's network keying (kestrix --cwdaemon-port N): the server feeding the transmit
# pane's typing path.
if(TARGET kestrix_shell)
  target_sources(kestrix_shell PRIVATE src/shell/cwdaemon_link.cpp)
  target_link_libraries(kestrix_shell PUBLIC kestrix_cwdaemon)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  add_executable(kestrix_cwdaemon_window_tests
    tests/shell/shell_test_main.cpp
    tests/shell/cwdaemon_window_test.cpp
  )
  target_include_directories(kestrix_cwdaemon_window_tests PRIVATE tests)
  target_link_libraries(kestrix_cwdaemon_window_tests PRIVATE
    kestrix_shell kestrix_cli Qt6::Test GTest::gtest)
  gtest_discover_tests(kestrix_cwdaemon_window_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()
