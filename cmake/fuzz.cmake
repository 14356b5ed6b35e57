# Coverage-guided fuzz targets (clang's libFuzzer; scripts/fuzz builds them in their own
# tree and runs each for a bounded time from the seeds under tests/fuzz/<name>/). Each
# target compiles the code it fuzzes itself, so that code carries the coverage
# instrumentation. Other parts add their own targets beside theirs in the same way.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  add_executable(kestrix_recording_fuzzer tests/platform/recording_fuzzer.cpp
    src/platform/audio_file.cpp)
  target_include_directories(kestrix_recording_fuzzer PRIVATE src)
  target_link_libraries(kestrix_recording_fuzzer PRIVATE PkgConfig::SNDFILE PkgConfig::SOXR)
  target_compile_options(kestrix_recording_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
  target_link_options(kestrix_recording_fuzzer PRIVATE -fsanitize=fuzzer,address,undefined)
endif()
