# Keying outputs: the serial and parallel key lines, COM numbering, the keying port the
# keyers drive, real-time scheduling for the keying thread, and kestrix-send. GUI-free:
# its tests carry the "core" label. The window's keying controls join kestrix_shell.
pkg_check_modules(SERIALPORT REQUIRED IMPORTED_TARGET libserialport)

add_library(kestrix_ports STATIC
  src/platform/key_device.cpp
  src/platform/key_lines.cpp
  src/platform/serial_ports.cpp
  src/platform/realtime.cpp
  src/transmit/keying_port.cpp
)
target_include_directories(kestrix_ports PUBLIC src)
target_link_libraries(kestrix_ports PUBLIC kestrix_transmit PkgConfig::SERIALPORT)

add_library(kestrix_send_options STATIC src/cli/send_options.cpp)
# The tone and network-keying parts are defined in tone.cmake and cwdaemon.cmake.
target_link_libraries(kestrix_send_options PUBLIC
  kestrix_transmit kestrix_tone kestrix_cwdaemon kestrix_cmdline)

add_executable(kestrix-send src/cli/send_main.cpp)
target_link_libraries(kestrix-send PRIVATE kestrix_ports kestrix_send_options)
install(TARGETS kestrix-send RUNTIME DESTINATION bin)

add_executable(kestrix_ports_tests
  tests/platform/key_lines_test.cpp
  tests/transmit/keying_port_test.cpp
  tests/cli/send_options_test.cpp
)
target_include_directories(kestrix_ports_tests PRIVATE tests tests/transmit)
target_link_libraries(kestrix_ports_tests PRIVATE kestrix_ports kestrix_send_options GTest::gtest_main)
gtest_discover_tests(kestrix_ports_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core-tsan)

# The window's keying controls: Tune, speed, Character Timing, port and polarity menus.
if(TARGET kestrix_shell)
  target_sources(kestrix_shell PRIVATE
    src/shell/keying_panel.cpp
    src/shell/char_timing_dialog.cpp
    src/shell/com_port_dialog.cpp
  )
  target_link_libraries(kestrix_shell PUBLIC kestrix_ports)
endif()

if(TARGET kestrix_shell AND TARGET kestrix_settings)
  add_executable(kestrix_keying_window_tests
    tests/shell/shell_test_main.cpp
    tests/shell/keying_panel_test.cpp
  )
  target_link_libraries(kestrix_keying_window_tests PRIVATE kestrix_shell GTest::gtest)
  gtest_discover_tests(kestrix_keying_window_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 120 LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)
endif()

# The tone finder moved from the headless decoder into the receive side, which the window
# uses too.
target_sources(kestrix_core PRIVATE src/receive/tone_finder.cpp)
