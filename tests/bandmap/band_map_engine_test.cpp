// The band map's engine on a generated passband: every station calling CQ is listed with
// its call at its frequency, typed CQ; cluster lines go out only with a known dial; the
// worker thread takes blocks as the receive loop hands them over and stops cleanly.
#include "bandmap/band_map_engine.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <string>
#include <thread>
#include <vector>

#include "signalgen/band_scene.h"
#include "support/scene_blocks.h"

namespace kestrix::bandmap {
namespace {

using signalgen::BandScenePlan;
using signalgen::StationRole;

BandScenePlan Scene(double seconds, uint32_t seed) {
  signalgen::SceneRecipe r;
  r.durationS = seconds;
  r.lowHz = 500;
  r.highHz = 2000;
  r.runners = 3;
  r.callersPerRunner = 0;
  r.ragchews = 0;
  r.beacons = 0;
  r.birdies = 0;
  r.clickers = 0;
  r.minSnrDb = 15;
  r.maxSnrDb = 25;
  r.minWpm = 20;
  r.maxWpm = 28;
  r.fadingShare = 0;
  r.handKeyShare = 0;
  r.contest = false;
  r.seed = seed;
  return signalgen::PlanScene(r);
}

// The scene as the receive loop's capture buffers, at half of full scale.
std::vector<std::vector<uint8_t>> Blocks(const BandScenePlan& plan) {
  return kestrix::testing::SceneBlocks(plan, 0.5f * 32767.0f);
}

struct Lines final : skim::SpotOutput {
  void OnSpot(const std::string& line, const skim::Spot& spot) override {
    lines.push_back(line);
    times.push_back(spot.utcSeconds);
  }
  std::vector<std::string> lines;
  std::vector<int64_t> times;
};

// A clock that runs with the audio: 8192 / 44100 s per block.
struct AudioClock {
  double t = 1.7e9;
  double operator()() const { return t; }
};

TEST(BandMapEngine, ListsEveryCqStationWithItsCallAtItsFrequency) {
  const BandScenePlan plan = Scene(60, 11);
  const auto blocks = Blocks(plan);
  for (const bool dialKnown : {true, false}) {
    SCOPED_TRACE(dialKnown ? "dial known" : "no dial");
    Lines lines;
    AudioClock clock;
    EngineConfig c;
    c.clock = [&clock] { return clock(); };
    if (dialKnown) c.dialHz = 7030000.0;
    BandMapEngine engine(c, &lines);
    CaptureSettings capture;  // Mic: mono 44100 Hz
    size_t spotted = 0;
    for (size_t i = 0; i < blocks.size(); ++i) {
      // Half way through, a minute of transmitting: no blocks, the clock runs on.
      if (i == blocks.size() / 2) clock.t += 60.0;
      engine.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()), capture);
      engine.DrainForTest();
      // A spot carries the time of the block it was heard in.
      for (; spotted < lines.times.size(); ++spotted) {
        EXPECT_EQ(lines.times[spotted], static_cast<int64_t>(std::floor(clock.t)));
      }
      clock.t += static_cast<double>(kBlockFrames) / 44100.0;
    }
    Snapshot s;
    engine.TakeSnapshot(s);
    EXPECT_EQ(s.blocks, blocks.size());
    EXPECT_EQ(s.dropped, 0u);
    EXPECT_FALSE(s.rows.empty());
    for (const auto& station : plan.stations) {
      if (station.role != StationRole::Cq) continue;
      SCOPED_TRACE(station.call);
      const StationRow* found = nullptr;
      for (const StationRow& r : s.stations) {
        if (r.call == station.call) found = &r;
      }
      ASSERT_NE(found, nullptr);
      EXPECT_NEAR(found->audioHz, station.offsetHz, 15.0);
      EXPECT_TRUE(found->cq);
      EXPECT_NEAR(found->wpm, station.wpm, 4.0);
      EXPECT_GT(found->lastHeard, clock.t - 30.0);
    }
    for (size_t i = 1; i < s.stations.size(); ++i) {
      EXPECT_LE(s.stations[i - 1].audioHz, s.stations[i].audioHz);
    }
    if (dialKnown) {
      EXPECT_EQ(std::isnan(s.dialHz), false);
      ASSERT_FALSE(lines.lines.empty());
      // The default spotter, cut so that the frequency ends in column 24.
      EXPECT_EQ(lines.lines.front().rfind("DX de KESTRI-#:   7031.", 0), 0u) << lines.lines.front();
    } else {
      // No cluster line without a real frequency; the list is still there.
      EXPECT_TRUE(lines.lines.empty());
      EXPECT_GT(s.spots, 0u);
    }
  }
}

TEST(BandMapEngine, TheWorkerSkimsHandedOverBlocksAndStopsWhenAsked) {
  const BandScenePlan plan = Scene(6, 12);
  const auto blocks = Blocks(plan);
  EngineConfig c;
  BandMapEngine engine(c, nullptr);
  engine.Start();
  CaptureSettings capture;
  CaptureSettings slow = capture;
  slow.SetRate(22050);  // the speed button's rate: the engine starts over at that rate
  for (size_t i = 0; i < blocks.size(); ++i) {
    engine.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()),
                          i < blocks.size() / 2 ? capture : slow);
  }
  Snapshot s;
  for (;;) {
    engine.TakeSnapshot(s);
    if (s.blocks + s.dropped == blocks.size()) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  engine.Stop();
  EXPECT_FALSE(engine.Running());
  EXPECT_GT(s.blocks, 0u);
  EXPECT_GT(s.streamS, 0.0);
  engine.Stop();  // twice is fine
}

}  // namespace
}  // namespace kestrix::bandmap

namespace kestrix::bandmap {
namespace {

// The main receiver tuned to one station of the passband: the band map hands over what its
// decoder reads there, and nothing of the others; a new tuning moves to another station,
// and no tuning keeps nothing.
TEST(BandMapEngine, FollowsTheStationTheReceiverIsTunedTo) {
  const BandScenePlan plan = Scene(60, 11);
  const auto blocks = Blocks(plan);
  ASSERT_GE(plan.stations.size(), 2u);
  const auto& first = plan.stations[0];
  const auto& second = plan.stations[1];
  EngineConfig c;
  BandMapEngine engine(c, nullptr);
  CaptureSettings capture;
  std::string got;
  std::string untuned;
  for (size_t i = 0; i < blocks.size(); ++i) {
    const size_t third = blocks.size() * 9 / 20;  // 27 s each, then 6 s untuned
    engine.Follow(i < third ? first.offsetHz : i < 2 * third ? second.offsetHz : std::nan(""));
    engine.OnCaptureBlock(blocks[i].data(), static_cast<uint32_t>(blocks[i].size()), capture);
    engine.DrainForTest();
    if (i == third - 1 || i == 2 * third - 1) {
      EXPECT_TRUE(engine.Following()) << i;
      got += '|';
    }
    engine.TakeFollowedText(i < 2 * third ? got : untuned);
  }
  EXPECT_FALSE(engine.Following());
  EXPECT_EQ(untuned, "");
  const size_t bar = got.find('|');
  ASSERT_NE(bar, std::string::npos);
  const std::string a = got.substr(0, bar);
  const std::string b = got.substr(bar + 1);
  EXPECT_NE(a.find(first.call), std::string::npos) << a;
  EXPECT_EQ(a.find(second.call), std::string::npos) << a;
  EXPECT_NE(b.find(second.call), std::string::npos) << b;
  EXPECT_EQ(b.find(first.call), std::string::npos) << b;
}

}  // namespace
}  // namespace kestrix::bandmap
