// Cost of the sound-card keyer's tone step: one 4096-sample block (92.9 ms of sound) must
// be synthesised well inside the time the other block plays. Also a whole batch rendered
// through the keyer into memory, as kestrix-send --wav does.
#include <benchmark/benchmark.h>

#include <sstream>
#include <vector>

#include "cli/send_tone.h"
#include "platform/wav_playback.h"
#include "transmit/tone_synth.h"

namespace {

using namespace kestrix::transmit;

void BM_ToneBlock(benchmark::State& state) {
  const auto waveform = static_cast<ToneWaveform>(state.range(0));
  std::vector<uint8_t> mask(kToneBlockSamples, 1);
  for (size_t i = 0; i < mask.size(); i += 700) mask[i] = 0;
  std::vector<uint8_t> out(2 * kToneBlockSamples);
  const float omega = ToneOmega(750.0f);
  float phase = 500000.0f;  // late in a long batch, where the float argument is large
  for (auto _ : state) {
    SynthesizeTone(mask.data(), kToneBlockSamples, omega, waveform, phase, out.data());
    benchmark::DoNotOptimize(out.data());
    if (phase > 1.0e6f) phase = 500000.0f;
  }
  // Time per block as a fraction of the 92.9 ms the other block plays meanwhile.
  const double budgetS = kToneBlockSamples / 44100.0;
  state.counters["of_budget"] =
      benchmark::Counter(static_cast<double>(state.iterations()) * budgetS,
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_ToneBlock)->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_RenderText(benchmark::State& state) {
  const std::string text = "CQ CQ DE K1ABC K1ABC PSE K ";
  double seconds = 0;
  for (auto _ : state) {
    kestrix::WavPlayback wav("");
    kestrix::cli::ToneSendOptions o;
    o.wpm = 25;
    std::ostringstream err;
    kestrix::cli::RunToneSendOn(wav, 0, o, text, err);
    seconds = static_cast<double>(wav.Samples().size()) / 44100.0;
  }
  state.counters["realtime_x"] = benchmark::Counter(
      seconds * static_cast<double>(state.iterations()), benchmark::Counter::kIsRate);
}
BENCHMARK(BM_RenderText)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
