# The transmit pane and the send threads: the GUI-free controller (TCharThread,
# TSendThread, SEND, Xmit Enable, the typing modes, LOOP, the key queue and its
# translation) with its tests, the key-code table, and the window's part of sending.
find_package(Threads REQUIRED)

add_library(kestrix_send STATIC
  src/transmit/transmit_controller.cpp
  src/transmit/send_threads.cpp
  src/transmit/key_translation.cpp
  src/transmit/gui_call_queue.cpp
  src/platform/key_codes.cpp
)
target_include_directories(kestrix_send PUBLIC src)
target_link_libraries(kestrix_send PUBLIC kestrix_transmit Threads::Threads)

add_executable(kestrix_send_tests
  tests/transmit/transmit_controller_test.cpp
  tests/transmit/key_codes_test.cpp
)
target_include_directories(kestrix_send_tests PRIVATE tests)
target_link_libraries(kestrix_send_tests PRIVATE kestrix_send GTest::gtest_main)
# "core-tsan": a core test (the -L core runs) that also runs under ThreadSanitizer (-L tsan).
gtest_discover_tests(kestrix_send_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS core-tsan)

if(TARGET kestrix_shell)
  find_package(Qt6 6.4 REQUIRED COMPONENTS Test)
  target_sources(kestrix_shell PRIVATE
    src/shell/window_transmit_host.cpp
    src/shell/window_keyers.cpp
  )
  target_link_libraries(kestrix_shell PUBLIC kestrix_send)
  # Hand measurement of typing latency and hand-offs (not a test).
  add_executable(kestrix_send_latency tools/send_latency.cpp)
  target_link_libraries(kestrix_send_latency PRIVATE kestrix_shell kestrix_cli)
  add_executable(kestrix_send_window_tests
    tests/shell/shell_test_main.cpp
    tests/shell/send_window_test.cpp
  )
  target_include_directories(kestrix_send_window_tests PRIVATE tests)
  target_link_libraries(kestrix_send_window_tests PRIVATE
    kestrix_shell kestrix_cli Qt6::Test GTest::gtest)
  gtest_discover_tests(kestrix_send_window_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()

# Fuzzing of kestrix-send's command line and of keying its text on the port keyer (clang
# builds only; scripts/fuzz runs it from tests/fuzz/send/).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_send_fuzzer tests/cli/send_fuzzer.cpp
    src/cli/send_options.cpp
    src/cli/command_line.cpp
    src/cli/send_cwdaemon.cpp
    src/transmit/port_keyer.cpp
    src/transmit/morse_send_table.cpp
    src/transmit/element_timing.cpp)
  target_include_directories(kestrix_send_fuzzer PRIVATE src tests/transmit)
  target_link_libraries(kestrix_send_fuzzer PRIVATE kestrix_tone kestrix_cwdaemon)
  target_compile_options(kestrix_send_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_send_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
