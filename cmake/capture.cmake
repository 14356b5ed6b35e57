# Sound input: the capture devices (PortAudio, recordings), the receive loop with its run
# control, the sound card dialog's logic, and kestrix-decode's live mode. No Qt.
pkg_check_modules(PORTAUDIO REQUIRED IMPORTED_TARGET portaudio-2.0)
find_package(Threads REQUIRED)

add_library(kestrix_capture STATIC
  src/platform/capture_queue.cpp
  src/platform/portaudio_session.cpp
  src/platform/portaudio_capture.cpp
  src/platform/file_capture.cpp
  src/receive/receive_loop.cpp
  src/receive/sound_card_select.cpp
  src/receive/receive_controller.cpp
)
target_include_directories(kestrix_capture PUBLIC src)
target_link_libraries(kestrix_capture PUBLIC
  kestrix_core kestrix_audiofile PkgConfig::PORTAUDIO Threads::Threads)

# kestrix-decode --device / --input-file / --list-devices.
target_sources(kestrix_cli PRIVATE src/cli/live_decode.cpp)
# How the tools list sound cards and pick one by number or name (kestrix-decode and
# kestrix-send).
target_sources(kestrix_capture PRIVATE src/platform/sound_cards.cpp)
target_link_libraries(kestrix_cli PUBLIC kestrix_capture)

if(EXISTS ${CMAKE_CURRENT_LIST_DIR}/../tests/receive/receive_loop_test.cpp)
  add_executable(kestrix_capture_tests
    tests/receive/receive_loop_test.cpp
    tests/receive/sound_card_select_test.cpp
    tests/platform/sound_cards_test.cpp
    tests/receive/receive_controller_test.cpp
    tests/platform/capture_queue_test.cpp
    tests/platform/file_capture_test.cpp
    tests/platform/stream_recovery_test.cpp
    tests/cli/live_decode_test.cpp
  )
  target_link_libraries(kestrix_capture_tests PRIVATE
    kestrix_capture kestrix_cli kestrix_morsegen GTest::gtest_main)
  gtest_discover_tests(kestrix_capture_tests DISCOVERY_TIMEOUT 60
    PROPERTIES TIMEOUT 300 LABELS core)
endif()
