# Settings file and user files.
#
# kestrix_settings: the settings file's layout, its load and save, the settings folder and
# the --write-default-settings command. No Qt: its tests run with the core tests and under
# the sanitizers.

add_library(kestrix_settings STATIC
  src/shell/settings_file.cpp
  src/shell/settings_load.cpp
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
    src/shell/settings_file.cpp src/shell/settings_load.cpp)
  target_include_directories(kestrix_settings_fuzzer PRIVATE src)
  target_compile_options(kestrix_settings_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_settings_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

# The Qt part: the File menu's text and picture files, and quitting from outside (signals,
# the end of the desktop session). Widget tests run offscreen.
if(KESTRIX_BUILD_GUI)
  # This file is included before the main list looks for Qt; finding it twice is harmless.
  find_package(Qt6 6.4 REQUIRED COMPONENTS Widgets)
  add_library(kestrix_userfiles STATIC
    src/shell/user_files.cpp
    src/shell/settings_session_end.h
    src/shell/settings_session_end.cpp
  )
  target_include_directories(kestrix_userfiles PUBLIC src)
  target_link_libraries(kestrix_userfiles PUBLIC kestrix_settings Qt6::Widgets)
  set_target_properties(kestrix_userfiles PROPERTIES AUTOMOC ON)

  add_executable(kestrix_userfiles_tests
    tests/shell/shell_test_main.cpp
    tests/shell/user_files_test.cpp
    tests/shell/settings_session_end_test.cpp
  )
  target_link_libraries(kestrix_userfiles_tests PRIVATE kestrix_userfiles GTest::gtest)
  gtest_discover_tests(kestrix_userfiles_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)

  # With the main window: start-up with and without a settings file, save and load
  # through the window's handlers, the File menu.
  if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/gui.cmake)
    add_executable(kestrix_settings_window_tests
      tests/shell/shell_test_main.cpp
      tests/shell/settings_window_test.cpp
    )
    target_link_libraries(kestrix_settings_window_tests PRIVATE kestrix_shell GTest::gtest)
    gtest_discover_tests(kestrix_settings_window_tests DISCOVERY_TIMEOUT 60
      PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
  endif()
endif()

# `cmake --install` puts a default settings file into the installing user's settings folder
# when there is none, so the installed program starts receiving by itself. Skipped when
# staging into DESTDIR (packaging) and under sudo, where the file would belong to root in
# someone else's folder. The build tree's kestrix writes it: the installed one may not be
# in place yet when this rule runs.
install(PROGRAMS scripts/install-default-settings
  DESTINATION bin RENAME kestrix-install-default-settings)
if(KESTRIX_BUILD_GUI AND EXISTS ${CMAKE_CURRENT_LIST_DIR}/gui.cmake)
  install(CODE "
    set(kestrix_program \"$<TARGET_FILE:kestrix>\")
    if(\"\$ENV{DESTDIR}\" STREQUAL \"\" AND \"\$ENV{SUDO_USER}\" STREQUAL \"\")
      execute_process(
        COMMAND bash \"${CMAKE_CURRENT_SOURCE_DIR}/scripts/install-default-settings\" \"\${kestrix_program}\"
        RESULT_VARIABLE kestrix_settings_rc)
      if(NOT kestrix_settings_rc EQUAL 0)
        message(WARNING \"No default settings file was written; run kestrix-install-default-settings\")
      endif()
    endif()")
endif()
