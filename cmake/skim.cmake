# kestrix-skim: every CW signal in a band segment decoded at once, spots for loggers.
# The engine (channel bank, signal finder, per-signal soft decoders) and the inputs (I/Q
# and audio recordings, SigMF, SoapySDR, sound cards, rigctld) are the library
# kestrix_skim; the program adds only its options and main. No Qt.
pkg_check_modules(FFTW3F REQUIRED IMPORTED_TARGET fftw3f)
find_package(SoapySDR REQUIRED)
find_package(Threads REQUIRED)

add_library(kestrix_skim STATIC
  src/skim/filter_design.cpp
  src/skim/fftw_plan.cpp
  src/skim/channelizer.cpp
  src/skim/click_blanker.cpp
  src/skim/sideband_canceller.cpp
  src/skim/carrier_canceller.cpp
  src/skim/signal_finder.cpp
  src/skim/skimmer.cpp
  src/skim/sigmf_json.cpp
  src/skim/sigmf.cpp
  src/skim/sample_source.cpp
  src/skim/skim_run.cpp
  src/skim/rigctld_client.cpp
  src/skim/live_source.cpp
  src/skim/soapy_source.cpp
  src/skim/audio_device_source.cpp
  src/skim/spot_feed.cpp
  src/skim/receivers.cpp
)
target_include_directories(kestrix_skim PUBLIC src)
# The per-sample loops (filter bank branches, spectrum statistics) vectorise fully at -O3.
set_source_files_properties(src/skim/channelizer.cpp src/skim/click_blanker.cpp src/skim/signal_finder.cpp
  src/skim/sideband_canceller.cpp
  src/skim/skimmer.cpp PROPERTIES COMPILE_OPTIONS "-O3")
target_link_libraries(kestrix_skim PUBLIC kestrix_soft kestrix_skim_calls kestrix_capture SoapySDR
  PkgConfig::FFTW3F PkgConfig::SNDFILE Threads::Threads)

add_executable(kestrix-skim src/cli/skim_main.cpp src/cli/skim_options.cpp)
target_link_libraries(kestrix-skim PRIVATE kestrix_skim)
install(TARGETS kestrix-skim RUNTIME DESTINATION bin)

add_executable(kestrix_skim_tests
  tests/skim/channelizer_test.cpp
  tests/skim/click_blanker_test.cpp
  tests/skim/sideband_canceller_test.cpp
  tests/skim/carrier_canceller_test.cpp
  tests/skim/signal_finder_test.cpp
  tests/skim/sample_source_test.cpp
  tests/skim/sigmf_test.cpp
  tests/skim/skimmer_test.cpp
  tests/skim/receivers_test.cpp
  tests/cli/skim_options_test.cpp
  src/cli/skim_options.cpp
)
target_include_directories(kestrix_skim_tests PRIVATE tests/skim)
target_link_libraries(kestrix_skim_tests PRIVATE
  kestrix_skim kestrix_bandscene kestrix_morsegen GTest::gtest_main)
gtest_discover_tests(kestrix_skim_tests DISCOVERY_TIMEOUT 60 PROPERTIES TIMEOUT 300 LABELS core)

# The rig-control client's, the live reader's and the receivers' threads, apart so that the
# ThreadSanitizer run (-L tsan) takes them without the DSP tests.
add_executable(kestrix_skim_thread_tests tests/skim/rigctld_client_test.cpp
  tests/skim/live_source_test.cpp tests/skim/receivers_thread_test.cpp)
target_link_libraries(kestrix_skim_thread_tests PRIVATE kestrix_skim GTest::gtest_main)
gtest_discover_tests(kestrix_skim_thread_tests DISCOVERY_TIMEOUT 60
  PROPERTIES TIMEOUT 120 LABELS core-tsan)

# Coverage-guided fuzzing of the SigMF metadata reader (clang builds, scripts/fuzz).
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_sigmf_fuzzer tests/skim/sigmf_fuzzer.cpp
    src/skim/sigmf.cpp src/skim/sigmf_json.cpp)
  target_include_directories(kestrix_sigmf_fuzzer PRIVATE src)
  target_compile_options(kestrix_sigmf_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_sigmf_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()

if(KESTRIX_BUILD_BENCH)
  add_executable(kestrix_skim_bench bench/bench_skim.cpp)
  target_link_libraries(kestrix_skim_bench PRIVATE kestrix_skim kestrix_bandscene benchmark::benchmark)
endif()
