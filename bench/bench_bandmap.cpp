// The band map's cost: one capture block (8192 frames, 186 ms at 44100 Hz) of a busy
// receiver passband through the whole engine (hand-off, skimmer, station list, waterfall
// spectra), as time per block and as a multiple of real time on one core ("x_realtime").
// The band map's budget is 10 % of one core: at least 10x real time here.
#include <benchmark/benchmark.h>

#include <cmath>
#include <vector>

#include "bandmap/band_map_engine.h"
#include "signalgen/band_scene.h"

namespace {

std::vector<std::vector<uint8_t>> BusyPassband(double seconds) {
  kestrix::signalgen::SceneRecipe r;
  r.durationS = seconds;
  r.lowHz = 300;
  r.highHz = 2800;
  r.runners = 8;
  r.callersPerRunner = 2;
  r.ragchews = 1;
  r.beacons = 1;
  r.birdies = 1;
  r.clickers = 1;
  r.minSpacingHz = 200;
  r.minSnrDb = 3;
  r.maxSnrDb = 25;
  r.seed = 5;
  const auto plan = kestrix::signalgen::PlanScene(r);
  kestrix::signalgen::BandSceneRenderer::Options o;
  o.sampleRate = 44100;
  o.audio = true;
  kestrix::signalgen::BandSceneRenderer renderer(plan, o);
  std::vector<float> audio(renderer.TotalSamples());
  renderer.RenderAudio(audio.data(), audio.size());
  float peak = 1e-9f;
  for (float v : audio) peak = std::max(peak, std::fabs(v));
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t at = 0; at + kestrix::kBlockFrames <= audio.size(); at += kestrix::kBlockFrames) {
    std::vector<uint8_t> b(2 * kestrix::kBlockFrames);
    for (size_t i = 0; i < static_cast<size_t>(kestrix::kBlockFrames); ++i) {
      const auto v = static_cast<int16_t>(std::lround(audio[at + i] / peak * 16000.0f));
      b[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
    }
    blocks.push_back(std::move(b));
  }
  return blocks;
}

void BM_BandMapBlock(benchmark::State& state) {
  static const auto blocks = BusyPassband(60);
  kestrix::bandmap::EngineConfig c;
  c.dialHz = 7030000.0;
  kestrix::bandmap::BandMapEngine engine(c, nullptr);
  kestrix::CaptureSettings capture;
  size_t at = 0;
  for (auto _ : state) {
    const auto& b = blocks[at];
    engine.OnCaptureBlock(b.data(), static_cast<uint32_t>(b.size()), capture);
    engine.DrainForTest();
    at = (at + 1) % blocks.size();
  }
  kestrix::bandmap::Snapshot s;
  engine.TakeSnapshot(s);
  state.counters["stations"] = static_cast<double>(s.stations.size());
  state.counters["x_realtime"] = benchmark::Counter(kestrix::kBlockFrames / 44100.0,
                                                    benchmark::Counter::kIsIterationInvariantRate);
}
BENCHMARK(BM_BandMapBlock)->Unit(benchmark::kMicrosecond)->MinTime(5.0);

}  // namespace

BENCHMARK_MAIN();
