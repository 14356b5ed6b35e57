# The band map: the skimmer inside the desktop program. The Qt-free library kestrix_bandmap
# (block hand-off from the receive loop, the worker running kestrix-skim's engine, the
# station list, the waterfall's spectra, the band map's own settings file) and its tests.
# The window itself is in the shell (cmake/gui.cmake).
add_library(kestrix_bandmap STATIC
  src/bandmap/block_queue.cpp
  src/bandmap/block_worker.cpp
  src/bandmap/station_list.cpp
  src/bandmap/band_map_settings.cpp
  src/bandmap/passband_spectrum.cpp
  src/bandmap/band_map_engine.cpp
  src/bandmap/label_layout.cpp
)
target_include_directories(kestrix_bandmap PUBLIC src)
target_link_libraries(kestrix_bandmap PUBLIC kestrix_skim kestrix_capture kestrix_core Threads::Threads)

# "core-tsan": the worker and the block hand-off also run under ThreadSanitizer (-L tsan).
add_executable(kestrix_bandmap_tests
  tests/bandmap/block_queue_test.cpp
  tests/bandmap/station_list_test.cpp
  tests/bandmap/band_map_settings_test.cpp
  tests/bandmap/band_map_engine_test.cpp
  tests/bandmap/label_layout_test.cpp
)
target_include_directories(kestrix_bandmap_tests PRIVATE tests)
target_link_libraries(kestrix_bandmap_tests PRIVATE
  kestrix_bandmap kestrix_bandscene GTest::gtest_main)
gtest_discover_tests(kestrix_bandmap_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS core-tsan)

if(KESTRIX_BUILD_BENCH)
  add_executable(kestrix_bandmap_bench bench/bench_bandmap.cpp)
  target_link_libraries(kestrix_bandmap_bench PRIVATE
    kestrix_bandmap kestrix_bandscene benchmark::benchmark)
endif()

# The soft decoder in the window: the tuned station read on a worker of its own.
add_library(kestrix_softrx STATIC src/softrx/soft_receiver.cpp src/softrx/decoder_setting.cpp)
target_include_directories(kestrix_softrx PUBLIC src)
target_link_libraries(kestrix_softrx PUBLIC kestrix_bandmap kestrix_soft Threads::Threads)

# "core-tsan": the soft reading's worker also runs under ThreadSanitizer (-L tsan).
add_executable(kestrix_softrx_tests tests/softrx/soft_receiver_test.cpp)
target_include_directories(kestrix_softrx_tests PRIVATE tests)
target_link_libraries(kestrix_softrx_tests PRIVATE kestrix_softrx kestrix_morsegen GTest::gtest_main)
gtest_discover_tests(kestrix_softrx_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 300 LABELS core-tsan)

if(KESTRIX_BUILD_BENCH)
  add_executable(kestrix_softrx_bench bench/bench_softrx.cpp)
  target_link_libraries(kestrix_softrx_bench PRIVATE kestrix_softrx kestrix_morsegen benchmark::benchmark)
endif()
