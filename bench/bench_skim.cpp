// The skimmer's costs: the channel bank and the signal finder per second of band, one
// signal's decoder per second, and the whole engine on a busy band, each as a multiple of
// real time on one core ("x_realtime" counters), and how many 192 kHz receivers one core
// keeps in real time.
#include <benchmark/benchmark.h>

#include <cmath>
#include <complex>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "signalgen/band_scene.h"
#include "skim/call_sign.h"
#include "skim/channelizer.h"
#include "skim/receivers.h"
#include "skim/sample_source.h"
#include "skim/sideband_canceller.h"
#include "skim/signal_finder.h"
#include "skim/skimmer.h"
#include "skim/spot_feed.h"
#include "soft/soft_decoder.h"

namespace {

using kestrix::skim::Channelizer;

std::vector<std::complex<float>> Noise(size_t n) {
  std::mt19937 rng(1);
  std::normal_distribution<float> g(0.0f, 0.01f);
  std::vector<std::complex<float>> x(n);
  for (auto& v : x) v = {g(rng), g(rng)};
  return x;
}

struct NullFrames final : Channelizer::FrameSink {
  void OnFrame(const std::complex<float>* y) override { sum += y[1].real(); }
  float sum = 0;
};

void SetRealTime(benchmark::State& state, double secondsPerIteration) {
  state.counters["x_realtime"] =
      benchmark::Counter(secondsPerIteration, benchmark::Counter::kIsIterationInvariantRate);
}

// One second of band through the polyphase bank.
void BM_Channelizer(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  kestrix::skim::ChannelizerConfig c;
  c.inputRate = rate;
  Channelizer bank(c);
  const auto x = Noise(static_cast<size_t>(rate));
  NullFrames sink;
  for (auto _ : state) bank.Push(x.data(), x.size(), sink);
  benchmark::DoNotOptimize(sink.sum);
  SetRealTime(state, 1.0);
}
BENCHMARK(BM_Channelizer)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

// One second of band through the signal finder (spectra, floors, peaks, tracking).
void BM_SignalFinder(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  kestrix::skim::SignalFinderConfig c;
  c.inputRate = rate;
  kestrix::skim::SignalFinder finder(c);
  const auto x = Noise(static_cast<size_t>(rate));
  for (auto _ : state) finder.Push(x.data(), x.size());
  SetRealTime(state, 1.0);
}
BENCHMARK(BM_SignalFinder)->Arg(48000)->Arg(192000)->Unit(benchmark::kMillisecond);

// One second of a receiver's audio (8 kHz) through the sideband canceller with `range(0)`
// loud carriers, each keyed at 25 WPM dits (the most edges a second it is likely to see).
void BM_SidebandCanceller(benchmark::State& state) {
  const int loud = static_cast<int>(state.range(0));
  kestrix::skim::SidebandCanceller canceller;
  std::vector<double> hz;
  for (int i = 0; i < loud; ++i) hz.push_back(600.0 + 500.0 * i);
  canceller.SetCarriers(hz.data(), hz.size());
  std::vector<float> x(8000);
  std::mt19937 rng(1);
  std::normal_distribution<float> g(0.0f, 0.001f);
  for (size_t n = 0; n < x.size(); ++n) {
    const bool keyed = (n / 384) % 2 == 0;
    float v = g(rng);
    for (double f : hz)
      v += keyed ? static_cast<float>(std::sin(2 * 3.14159265358979 * f * n / 8000.0)) : 0.0f;
    x[n] = v;
  }
  std::vector<float> work(x.size());
  for (auto _ : state) {
    work = x;
    canceller.Process(work.data(), work.size());
  }
  benchmark::DoNotOptimize(work.data());
  SetRealTime(state, 1.0);
}
BENCHMARK(BM_SidebandCanceller)->Arg(0)->Arg(1)->Arg(4)->Unit(benchmark::kMicrosecond);

// One signal's decoder for one second of its baseband at `range(0)` Hz (the engine feeds
// its decoders at 125 Hz): what each extra station costs.
void BM_PerSignalDecoder(benchmark::State& state) {
  const size_t rate = static_cast<size_t>(state.range(0));
  kestrix::soft::SoftDecoderConfig c;
  c.sampleRate = static_cast<double>(rate);
  kestrix::soft::SoftDecoder decoder(c);
  std::vector<std::complex<float>> x(rate * 20);
  std::mt19937 rng(2);
  std::normal_distribution<float> g(0.0f, 0.05f);
  const size_t dot = rate * 48 / 1000;  // about 25 WPM
  for (size_t i = 0; i < x.size(); ++i) {
    const bool key = (i / dot) % 3 != 2;  // dots and gaps
    x[i] = {(key ? 1.0f : 0.0f) + g(rng), g(rng)};
  }
  std::string text;
  size_t at = 0;
  for (auto _ : state) {
    decoder.Process(x.data() + at, rate);
    at = (at + rate) % x.size();
    text.clear();
    decoder.TakeText(text);
  }
  SetRealTime(state, 1.0);
}
BENCHMARK(BM_PerSignalDecoder)->Arg(125)->Arg(250)->Unit(benchmark::kMicrosecond);

struct Quiet final : kestrix::skim::SkimListener {
  void OnText(const kestrix::skim::SkimText& t) override { chars += t.text.size(); }
  size_t chars = 0;
};

// The whole engine on a busy band: `range(1)` stations over the band, 20 s.
void BM_Skimmer(benchmark::State& state) {
  const double rate = static_cast<double>(state.range(0));
  kestrix::signalgen::SceneRecipe recipe;
  recipe.durationS = 20;
  recipe.runners = static_cast<int>(state.range(1)) / 2;
  recipe.callersPerRunner = 1;
  recipe.ragchews = 0;
  recipe.beacons = 0;
  recipe.lowHz = -0.45 * rate;
  recipe.highHz = 0.45 * rate;
  recipe.minSpacingHz = std::min(300.0, 0.8 * rate / static_cast<double>(state.range(1)));
  const auto plan = kestrix::signalgen::PlanScene(recipe);
  kestrix::signalgen::BandSceneRenderer::Options ro;
  ro.sampleRate = rate;
  kestrix::signalgen::BandSceneRenderer renderer(plan, ro);
  std::vector<std::complex<float>> band(renderer.TotalSamples());
  renderer.RenderIq(band.data(), band.size());
  for (auto _ : state) {
    state.PauseTiming();
    Quiet quiet;
    kestrix::skim::SkimmerConfig c;
    c.inputRate = rate;
    auto skimmer = std::make_unique<kestrix::skim::Skimmer>(c, quiet);
    state.ResumeTiming();
    for (size_t at = 0; at < band.size(); at += 8192) {
      skimmer->Process(band.data() + at, std::min<size_t>(8192, band.size() - at));
    }
    skimmer->Flush();
    benchmark::DoNotOptimize(quiet.chars);
  }
  SetRealTime(state, recipe.durationS);
}
BENCHMARK(BM_Skimmer)
    ->Args({48000, 30})
    ->Args({192000, 90})
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

struct NoSpots final : kestrix::skim::SpotOutput {
  void OnSpot(const std::string&, const kestrix::skim::Spot&) override { ++spots; }
  size_t spots = 0;
};

// A station of `range(0)` 192 kHz receivers in one process, each on its own thread into one
// spot feed, on a busy band (90 stations, 20 s). "receivers_per_core": receiver-seconds
// per second of the process's CPU time, how many such receivers one core keeps in real
// time.
void BM_Receivers(benchmark::State& state) {
  constexpr double kRate = 192000.0;
  const size_t count = static_cast<size_t>(state.range(0));
  kestrix::signalgen::SceneRecipe recipe;
  recipe.durationS = 20;
  recipe.runners = 45;
  recipe.callersPerRunner = 1;
  recipe.ragchews = 0;
  recipe.beacons = 0;
  recipe.lowHz = -0.45 * kRate;
  recipe.highHz = 0.45 * kRate;
  recipe.minSpacingHz = 300.0;
  const auto plan = kestrix::signalgen::PlanScene(recipe);
  kestrix::signalgen::BandSceneRenderer::Options ro;
  ro.sampleRate = kRate;
  kestrix::signalgen::BandSceneRenderer renderer(plan, ro);
  std::vector<std::complex<float>> band(renderer.TotalSamples());
  renderer.RenderIq(band.data(), band.size());
  const kestrix::skim::CallBook book;
  for (auto _ : state) {
    state.PauseTiming();
    NoSpots out;
    kestrix::skim::SpotFeed feed(book, {}, out, nullptr);
    kestrix::skim::ReceiverHub hub(feed);
    std::vector<std::unique_ptr<kestrix::skim::SampleSource>> sources;
    std::vector<std::unique_ptr<kestrix::skim::Skimmer>> skimmers;
    std::vector<kestrix::skim::ReceiverRun> runs(count);
    for (size_t i = 0; i < count; ++i) {
      kestrix::skim::SkimmerConfig c;
      c.inputRate = kRate;
      c.centreHz = 7e6 + 200e3 * static_cast<double>(i);  // each its own band
      sources.push_back(kestrix::skim::MemorySource(reinterpret_cast<const float*>(band.data()),
                                                    band.size(), kRate, true));
      skimmers.push_back(std::make_unique<kestrix::skim::Skimmer>(c, hub.AddReceiver(0.0)));
      runs[i].source = sources.back().get();
      runs[i].skimmer = skimmers.back().get();
    }
    state.ResumeTiming();
    kestrix::skim::RunReceivers(runs);
    benchmark::DoNotOptimize(out.spots);
  }
  state.counters["receivers_per_core"] = benchmark::Counter(
      recipe.durationS * static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_Receivers)
    ->Arg(1)
    ->Arg(2)
    ->Arg(6)
    ->MeasureProcessCPUTime()
    ->Unit(benchmark::kMillisecond)
    ->Iterations(1);

}  // namespace

BENCHMARK_MAIN();
