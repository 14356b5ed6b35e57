# The transmitter's GUI-free core: element timing, the pattern table, the port keyer and
# the sound-card keyer's mask, the shared transmit state; and the monotonic wait the
# keyers sleep with. No Qt: its tests carry the "core" label and run under the sanitizers.

add_library(kestrix_transmit STATIC
  src/transmit/element_timing.cpp
  src/transmit/morse_send_table.cpp
  src/transmit/port_keyer.cpp
  src/transmit/line_latency.cpp
  src/transmit/key_mask.cpp
  src/platform/monotonic_wait.cpp
)
target_include_directories(kestrix_transmit PUBLIC src)
target_link_libraries(kestrix_transmit PUBLIC kestrix_morse)

add_executable(kestrix_transmit_tests
  tests/transmit/element_timing_test.cpp
  tests/transmit/keyers_test.cpp
)
target_include_directories(kestrix_transmit_tests PRIVATE tests)
target_link_libraries(kestrix_transmit_tests PRIVATE kestrix_transmit GTest::gtest_main)
gtest_discover_tests(kestrix_transmit_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core)

# The Morse alphabet and its readers on both sides.
target_sources(kestrix_transmit_tests PRIVATE tests/morse/alphabet_test.cpp)
target_link_libraries(kestrix_transmit_tests PRIVATE kestrix_core)
