# Settings file and user files.
#
# kestrix_settings: the settings file's layout, its load and save, the settings folder and
# the --write-default-settings command. No Qt: its tests run with the core tests and under
# the sanitizers.

add_library(kestrix_settings STATIC
  src/shell/settings_file.cpp
  src/shell/settings_paths.cpp
  src/shell/settings_command.cpp
)
target_include_directories(kestrix_settings PUBLIC src)
target_link_libraries(kestrix_settings PUBLIC kestrix_core)

add_executable(kestrix_settings_tests
  tests/shell/settings_file_test.cpp
  tests/shell/settings_random_files_test.cpp
  tests/shell/settings_paths_test.cpp
)
target_link_libraries(kestrix_settings_tests PRIVATE kestrix_settings GTest::gtest_main)
gtest_discover_tests(kestrix_settings_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core)

# Coverage-guided fuzzing of the loader needs clang's libFuzzer. Configure a separate build
# with CMAKE_CXX_COMPILER=clang++ to get it; the seeded random-file test above runs anyway.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_settings_fuzzer tests/shell/settings_fuzzer.cpp
    src/shell/settings_file.cpp)
  target_include_directories(kestrix_settings_fuzzer PRIVATE src)
  target_compile_options(kestrix_settings_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_settings_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
