# Tone output: the playback devices (PortAudio, WAV file), the sound-card keyer with its
# tone synthesis and streaming, the MIDI side tone on the ALSA sequencer, kestrix-send's
# tone part; the window's tone menu when the window is built. GUI-free parts carry the
# "core" label.
pkg_check_modules(ALSA REQUIRED IMPORTED_TARGET alsa)

add_library(kestrix_tone STATIC
  src/platform/playback_queue.cpp
  src/platform/portaudio_playback.cpp
  src/platform/wav_playback.cpp
  src/platform/midi_out.cpp
  src/transmit/tone_synth.cpp
  src/transmit/tone_output.cpp
  src/cli/send_tone.cpp
)
target_include_directories(kestrix_tone PUBLIC src)
target_link_libraries(kestrix_tone PUBLIC
  kestrix_transmit kestrix_capture PkgConfig::SNDFILE PkgConfig::ALSA)

add_executable(kestrix_tone_tests
  tests/transmit/tone_output_test.cpp
  tests/transmit/tone_round_trip_test.cpp
  tests/platform/playback_test.cpp
)
target_include_directories(kestrix_tone_tests PRIVATE tests tests/transmit)
target_link_libraries(kestrix_tone_tests PRIVATE
  kestrix_tone kestrix_cli kestrix_morsegen GTest::gtest_main)
gtest_discover_tests(kestrix_tone_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core-tsan)

if(KESTRIX_BUILD_BENCH)
  add_executable(kestrix_tone_bench bench/bench_tone.cpp)
  target_link_libraries(kestrix_tone_bench PRIVATE kestrix_tone benchmark::benchmark)
endif()

if(TARGET kestrix_shell)
  target_sources(kestrix_shell PRIVATE src/shell/tone_menu.cpp)
  target_link_libraries(kestrix_shell PUBLIC kestrix_tone)
  if(TARGET kestrix_shell_tests)
    target_sources(kestrix_shell_tests PRIVATE tests/shell/tone_menu_test.cpp)
    target_include_directories(kestrix_shell_tests PRIVATE tests/transmit)
  endif()
endif()
