# Soft-decision decoder: one signal from complex baseband or audio plus a tone.
add_library(kestrix_soft STATIC
  src/soft/soft_decoder.cpp
  src/soft/soft_acquisition.cpp
  src/soft/soft_evidence.cpp
  src/soft/soft_timing.cpp
  src/soft/soft_characters.cpp
  src/soft/audio_soft_decoder.cpp
  src/soft/station_channel.cpp
  src/soft/segment_viterbi.cpp
  src/soft/morse_patterns.cpp
  src/soft/sender_spacing.cpp
)
target_include_directories(kestrix_soft PUBLIC src)
target_link_libraries(kestrix_soft PUBLIC kestrix_morse kestrix_language)

add_executable(kestrix_soft_tests tests/soft/soft_decoder_test.cpp
  tests/soft/soft_decoder_alloc_test.cpp tests/soft/station_channel_test.cpp)
target_link_libraries(kestrix_soft_tests PRIVATE kestrix_soft kestrix_morsegen kestrix_bandscene GTest::gtest_main)
target_include_directories(kestrix_soft_tests PRIVATE tests/support)
gtest_discover_tests(kestrix_soft_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core)
