// Cost of kestrix-decode --best on a 10-minute recording, on one core, as a multiple of
// real time (the x_real_time counter).
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cli/best_decode.h"
#include "signalgen/morse_gen.h"

namespace {

void BM_BestTenMinutes(benchmark::State& state) {
  kestrix::signalgen::MorseSignalParams p;
  p.wpm = 22;
  p.snrDb = 3;
  p.amplitude = 0.1;
  p.fadeDepthDb = 10;
  p.driftHzPerMin = 20;
  std::string text;
  while (text.size() < 2400) text += "CQ CQ DE K1ABC K1ABC UR RST 579 579 NAME JOHN HW? K ";
  auto samples = kestrix::signalgen::GenerateMorse(text, p);
  samples.resize(static_cast<size_t>(600.0 * 44100.0));
  const kestrix::DecodeOptions options;
  const kestrix::CaptureBlocks blocks = kestrix::CutCaptureBlocks(samples, 1, options);
  for (auto _ : state) {
    const kestrix::BestReading best = kestrix::DecodeBest(blocks, options, 1);
    benchmark::DoNotOptimize(best.text.data());
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * 600.0, benchmark::Counter::kIsRate);
}
// CPU time of the one thread that runs all six chains: the figure for one core, whatever
// else the machine is doing.
BENCHMARK(BM_BestTenMinutes)->Unit(benchmark::kMillisecond);

}  // namespace
