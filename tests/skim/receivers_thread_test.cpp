// Several receivers on their threads into one listener, for the ThreadSanitizer run: each
// engine on its own thread, the hub serialising what they report.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <memory>
#include <numbers>
#include <random>
#include <set>
#include <vector>

#include "skim/receivers.h"

namespace kestrix::skim {
namespace {

// A carrier keyed on and off (dits at 20 WPM) at `offsetHz`, over complex noise.
std::vector<std::complex<float>> KeyedCarrier(double offsetHz, double seconds, uint32_t seed) {
  constexpr double kRate = 48000.0;
  const size_t n = static_cast<size_t>(seconds * kRate);
  std::vector<std::complex<float>> x(n);
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 0.01f);
  const size_t dit = static_cast<size_t>(0.06 * kRate);
  for (size_t i = 0; i < n; ++i) {
    const bool on = (i / dit) % 2 == 0;
    const double phase = 2.0 * std::numbers::pi * offsetHz * static_cast<double>(i) / kRate;
    const float a = on ? 0.3f : 0.0f;
    x[i] = {a * static_cast<float>(std::cos(phase)) + noise(rng),
            a * static_cast<float>(std::sin(phase)) + noise(rng)};
  }
  return x;
}

TEST(ReceiversThreads, EnginesOnTheirThreadsReportThroughTheHub) {
  struct Signals final : SkimListener {
    void OnSignalStarted(uint64_t signal, double, double) override { started.insert(signal); }
    void OnText(const SkimText&) override {}
    std::set<uint64_t> started;  // under the hub's lock
  } target;
  ReceiverHub hub(target);
  std::vector<std::vector<std::complex<float>>> bands;
  std::vector<std::unique_ptr<SampleSource>> sources;
  std::vector<std::unique_ptr<Skimmer>> skimmers;
  std::vector<ReceiverRun> runs(3);
  for (size_t i = 0; i < runs.size(); ++i) {
    bands.push_back(
        KeyedCarrier(3000.0 + 1000.0 * static_cast<double>(i), 3.0, static_cast<uint32_t>(i + 1)));
    sources.push_back(MemorySource(reinterpret_cast<const float*>(bands.back().data()),
                                   bands.back().size(), 48000.0, true));
    SkimmerConfig c;
    c.inputRate = 48000.0;
    c.centreHz = 7e6 * static_cast<double>(i + 1);
    c.measure = false;
    skimmers.push_back(std::make_unique<Skimmer>(c, hub.AddReceiver(0.0)));
    runs[i].source = sources.back().get();
    runs[i].skimmer = skimmers.back().get();
  }
  EXPECT_EQ(RunReceivers(runs), 0);
  std::set<uint64_t> receivers;
  for (uint64_t s : target.started) receivers.insert(s >> kReceiverShift);
  EXPECT_EQ(receivers, (std::set<uint64_t>{0, 1, 2}));
}

}  // namespace
}  // namespace kestrix::skim
