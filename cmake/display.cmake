# Displays: spectrum and waterfall box, timeline window, input level bar (Qt).
add_library(kestrix_display STATIC
  src/display/raster.cpp
  src/display/spectrum_display.cpp
  src/display/spectrum_display.h
  src/display/timeline_window.cpp
  src/display/timeline_window.h
  src/display/level_bar.cpp
  src/display/level_bar.h
)
target_include_directories(kestrix_display PUBLIC src)
target_link_libraries(kestrix_display PUBLIC kestrix_core Qt6::Widgets)

# Draws a generated (or recorded) CW signal through the receiver and saves the pictures.
add_executable(kestrix_display_demo tools/display_demo.cpp)
target_link_libraries(kestrix_display_demo PRIVATE kestrix_display kestrix_cli kestrix_morsegen)

add_executable(kestrix_display_tests
  tests/display/display_test_main.cpp
  tests/display/spectrum_display_test.cpp
  tests/display/timeline_window_test.cpp
  tests/display/level_bar_test.cpp
)
target_link_libraries(kestrix_display_tests PRIVATE
  kestrix_display kestrix_cli kestrix_morsegen GTest::gtest)
gtest_discover_tests(kestrix_display_tests DISCOVERY_TIMEOUT 60
  PROPERTIES LABELS gui ENVIRONMENT QT_QPA_PLATFORM=offscreen)

if(KESTRIX_BUILD_BENCH)
  add_executable(kestrix_display_bench bench/bench_display.cpp)
  target_link_libraries(kestrix_display_bench PRIVATE
    kestrix_display kestrix_cli kestrix_morsegen benchmark::benchmark)
endif()
