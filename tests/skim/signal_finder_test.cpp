#include "skim/signal_finder.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "iq_scene.h"

namespace kestrix::skim {
namespace {

using testing::MakeScene;
using testing::Scene;
using testing::SceneStation;

// Everything the finder ever tracked: birth frequency of each id.
struct Seen {
  std::vector<double> freqs;
  std::vector<double> bornS;
};

Seen RunFinder(const Scene& scene, SignalFinderConfig cfg = {}) {
  cfg.inputRate = scene.rate;
  cfg.measure = false;
  SignalFinder finder(cfg);
  const auto x = MakeScene(scene);
  Seen seen;
  for (size_t at = 0; at < x.size(); at += 4096) {
    finder.Push(x.data() + at, std::min<size_t>(4096, x.size() - at));
    for (uint64_t id : finder.LastEvents().born) {
      for (const TrackedSignal& s : finder.Signals()) {
        if (s.id != id) continue;
        seen.freqs.push_back(s.freqHz);
        seen.bornS.push_back(s.bornS);
      }
    }
  }
  return seen;
}

std::string List(const Seen& s) {
  std::string out;
  for (double f : s.freqs) out += std::to_string(f) + " ";
  return out;
}

// Scenes that must give no signal at all.
TEST(SignalFinderTest, NoiseAndWidebandClicksSpawnNoSignal) {
  struct Case {
    const char* name;
    double rate;
    double clickEveryS;
  };
  for (const Case& c : {Case{"noise 48k", 48000, 0.0}, Case{"noise 192k", 192000, 0.0},
                        Case{"clicks 48k", 48000, 0.37}, Case{"clicks 192k", 192000, 0.11}}) {
    Scene scene;
    scene.rate = c.rate;
    scene.seconds = 20.0;
    scene.clickEveryS = c.clickEveryS;
    scene.clickAmplitude = 20.0;
    const Seen seen = RunFinder(scene);
    EXPECT_TRUE(seen.freqs.empty()) << c.name << ": " << List(seen);
  }
}

// Stations at various levels and offsets (both sides of the centre, two 60 Hz apart) are
// each found once, near their frequency, within a few seconds.
TEST(SignalFinderTest, FindsEveryKeyedCarrierOnceNearItsFrequency) {
  Scene scene;
  scene.seconds = 12.0;
  scene.stations = {{-15000.0, 10.0}, {-300.0, 3.0}, {2000.0, 20.0}, {2060.0, 8.0}, {9000.5, 0.0}};
  const Seen seen = RunFinder(scene);
  ASSERT_EQ(seen.freqs.size(), scene.stations.size()) << List(seen);
  for (const SceneStation& st : scene.stations) {
    const auto it = std::find_if(seen.freqs.begin(), seen.freqs.end(),
                                 [&](double f) { return std::abs(f - st.offsetHz) < 4.0; });
    ASSERT_NE(it, seen.freqs.end()) << st.offsetHz << ": " << List(seen);
    EXPECT_LT(seen.bornS[static_cast<size_t>(it - seen.freqs.begin())], st.startS + 4.0);
  }
}

// A very strong, hard-keyed station splatters key clicks hundreds of Hz around; only the
// station itself (and a real neighbour well above the splatter) are signals.
TEST(SignalFinderTest, StrongStationsClicksAreNotSignals) {
  Scene scene;
  scene.seconds = 15.0;
  SceneStation loud{1000.0, 60.0};
  loud.riseMs = 0.0;
  loud.wpm = 35.0;
  SceneStation neighbour{1700.0, 40.0};
  scene.stations = {loud, neighbour};
  const Seen seen = RunFinder(scene);
  ASSERT_EQ(seen.freqs.size(), 2u) << List(seen);
  EXPECT_NEAR(seen.freqs[0], 1000.0, 4.0);
  EXPECT_NEAR(seen.freqs[1], 1700.0, 4.0);
}

// A station that stops is retired after the silence; one that comes back is a new signal.
TEST(SignalFinderTest, RetiresAStationThatWentQuiet) {
  Scene scene;
  scene.seconds = 30.0;
  SceneStation once{500.0, 15.0};
  once.repeat = false;
  scene.stations = {once};
  SignalFinderConfig cfg;
  cfg.inputRate = scene.rate;
  cfg.measure = false;
  cfg.retireS = 5.0;
  SignalFinder finder(cfg);
  const auto x = MakeScene(scene);
  int born = 0, retired = 0;
  double retiredAt = 0.0;
  for (size_t at = 0; at < x.size(); at += 4096) {
    finder.Push(x.data() + at, std::min<size_t>(4096, x.size() - at));
    born += static_cast<int>(finder.LastEvents().born.size());
    if (!finder.LastEvents().retired.empty()) retiredAt = finder.TimeS();
    retired += static_cast<int>(finder.LastEvents().retired.size());
  }
  const std::vector<float> env = testing::KeyEnvelope(once.text, once.wpm, 1000.0, 0.0);
  size_t last = env.size();
  while (last > 0 && env[last - 1] == 0.0f) --last;
  const double lastKeyS = once.startS + static_cast<double>(last) / 1000.0;
  EXPECT_EQ(born, 1);
  EXPECT_EQ(retired, 1);
  EXPECT_GT(retiredAt, lastKeyS + cfg.retireS - 0.5);
  EXPECT_LT(retiredAt, lastKeyS + cfg.retireS + 1.0);
}

// The fine frequency lands within a couple of Hz although bins are about 6 Hz wide.
TEST(SignalFinderTest, FineFrequencyBetweenBins) {
  for (double f : {1234.0, 1236.9, -4321.7}) {
    Scene scene;
    scene.seconds = 8.0;
    scene.stations = {{f, 15.0}};
    const Seen seen = RunFinder(scene);
    ASSERT_EQ(seen.freqs.size(), 1u) << f;
    EXPECT_NEAR(seen.freqs[0], f, 1.5);
  }
}

}  // namespace
}  // namespace kestrix::skim
