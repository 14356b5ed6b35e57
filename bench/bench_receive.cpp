// Cost of the receive chain: one TEXT block (185.8 ms of audio) and whole-recording
// decoding speed as a multiple of real time.
#include <benchmark/benchmark.h>

#include <string>
#include <vector>

#include "cli/decode_session.h"
#include "receive/receiver.h"
#include "signalgen/morse_gen.h"

namespace {

constexpr double kBlockSeconds = 8192.0 / 44100.0;

class NullText : public kestrix::TextSink {
 public:
  void InsertText(const char*, size_t) override {}
};

std::vector<int16_t> Signal(double seconds) {
  kestrix::signalgen::MorseSignalParams p;
  p.wpm = 25;
  p.snrDb = 6;
  p.amplitude = 0.1;
  p.leadInS = 0.5;
  std::string text;
  while (text.size() * 0.45 < seconds) text += "CQ CQ DE K1ABC K1ABC PSE K ";
  auto s = kestrix::signalgen::GenerateMorse(text, p);
  s.resize(static_cast<size_t>(seconds * 44100.0));
  return s;
}

void BM_TextBlock(benchmark::State& state) {
  NullText text;
  kestrix::Receiver rx(text);
  rx.TextModeSetup();
  rx.RestartLearning();
  rx.StartValues();
  rx.SpectrumClick(131);
  const auto samples = Signal(8192.0 * 16 / 44100.0);
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t b = 0; b + 8192 <= samples.size(); b += 8192) {
    std::vector<uint8_t> bytes(8192 * 2);
    for (size_t i = 0; i < 8192; ++i) {
      const auto v = static_cast<uint16_t>(samples[b + i]);
      bytes[2 * i] = static_cast<uint8_t>(v & 0xFF);
      bytes[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    blocks.push_back(std::move(bytes));
  }
  size_t n = 0;
  for (auto _ : state) {
    rx.ProcessTextBlock(blocks[n++ % blocks.size()].data());
    benchmark::ClobberMemory();
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * kBlockSeconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_TextBlock)->Unit(benchmark::kMicrosecond);

void BM_DecodeRecording(benchmark::State& state) {
  const double seconds = static_cast<double>(state.range(0));
  const auto samples = Signal(seconds);
  for (auto _ : state) {
    kestrix::DecodeSession session(kestrix::DecodeOptions{}, nullptr);
    session.Feed(samples.data(), static_cast<int>(samples.size()), 1);
    session.Finish();
    benchmark::DoNotOptimize(session.BlocksProcessed());
  }
  state.counters["x_real_time"] = benchmark::Counter(
      static_cast<double>(state.iterations()) * seconds, benchmark::Counter::kIsRate);
}
BENCHMARK(BM_DecodeRecording)->Arg(600)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace

BENCHMARK_MAIN();
