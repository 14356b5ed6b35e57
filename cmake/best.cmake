# kestrix-decode --best: several receive chains on one recording, the most plausible text.
# The text model is kestrix_language.
target_sources(kestrix_cli PRIVATE
  src/cli/best_decode.cpp
)
find_package(Threads REQUIRED)
target_link_libraries(kestrix_cli PUBLIC kestrix_language Threads::Threads)

target_sources(kestrix_core_tests PRIVATE
  tests/cli/best_decode_test.cpp
)

if(KESTRIX_BUILD_BENCH)
  target_sources(kestrix_bench PRIVATE bench/bench_best.cpp)
endif()
