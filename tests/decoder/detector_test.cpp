#include "decoder/detector.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrix {
namespace {

struct Detector {
  DetectorState d;
  TimingState t;
  ReceiveOptions o;
  KeyingDetector k{d, t, o};

  Detector() {
    // A fixed manual threshold makes the decisions depend on the envelope alone.
    o.Threshold = ThresholdMode::kManual;
    o.ThresholdBar2Position = 240;  // 250000 - 240000 = 10000
    d.Threshold = 10000.0;
    d.T = 10000;
    d.IdleFlag = 0;
  }

  // One block whose samples k (8..65 map to envelope index k - 8) are `down` for the
  // listed k and silent otherwise.
  void Block(const std::vector<int>& downSamples, float level = 2000.0f, int squelch = 50) {
    std::vector<float> m(kTicksPerBlock, 0.0f);
    for (int s : downSamples) m[static_cast<size_t>(s - 8)] = level;
    k.ProcessBlock(m.data(), squelch);
  }

  int DelayedDown(int from, int to) const {
    int n = 0;
    for (int i = from; i <= to; ++i) n += d.keys[static_cast<size_t>(i)];
    return n;
  }
};

std::vector<int> Samples(int from, int length) {
  std::vector<int> v;
  for (int i = 0; i < length; ++i) v.push_back(from + i);
  return v;
}

TEST(KeyingDetector, ASampleEqualToTheThresholdIsNoSignal) {
  Detector equal;
  equal.d.IdleFlag = 1;
  equal.Block(Samples(8, 58), 1000.0f);  // level 10000 == T
  EXPECT_EQ(equal.d.Timeout, 64);

  Detector above;
  above.d.IdleFlag = 1;
  above.Block(Samples(8, 58), 1000.5f);  // level 10005
  EXPECT_EQ(above.d.Timeout, 0);
  EXPECT_EQ(above.d.IdleFlag, 0);
}

TEST(KeyingDetector, ManualThresholdIgnoresTheSignal) {
  Detector s;
  s.o.ThresholdBar2Position = 60;
  s.Block(Samples(10, 30), 50000.0f);
  EXPECT_DOUBLE_EQ(s.d.Threshold, 190000.0);
  EXPECT_EQ(s.d.T, 190000);
}

TEST(KeyingDetector, KeyStatesAreDelayedByThirtyTwoTicks) {
  Detector s;
  s.t.SpeedWpm = 50;  // no spike removal, no look-ahead smoothing
  s.Block(Samples(20, 20));
  // Sample k sits at window index 62 + k; keys 2..65 are window 32..95, so it comes out as
  // key k + 32 of this block when k <= 33 and as key k - 32 of the next block otherwise.
  EXPECT_EQ(s.DelayedDown(52, 65), 14);
  EXPECT_EQ(s.DelayedDown(2, 51), 0);
  s.Block({});
  EXPECT_EQ(s.DelayedDown(2, 7), 6);
  EXPECT_EQ(s.DelayedDown(8, 65), 0);
}

TEST(KeyingDetector, LowSquelchForcesEveryKeyUp) {
  Detector s;
  s.t.SpeedWpm = 50;
  s.Block(Samples(8, 58), 2000.0f, 5);
  EXPECT_EQ(s.DelayedDown(2, 65), 0);
  s.Block(Samples(8, 58), 2000.0f, 6);
  EXPECT_GT(s.DelayedDown(2, 65), 0);
}

struct SpikeCase {
  const char* name;
  int speed;
  bool learning;
  int length;
  bool removed;
};

class SpikeFilter : public ::testing::TestWithParam<SpikeCase> {};

TEST_P(SpikeFilter, RemovesShortRunsBelow45WpmAfterLearning) {
  const SpikeCase c = GetParam();
  Detector s;
  s.t.SpeedWpm = c.speed;
  s.t.Learning = c.learning;
  s.t.AvgDot = 60;
  s.d.SmoothedDot = 60;  // spike limit 5 x 60 / 23 = 13 ticks at 15..28 wpm
  s.Block({});
  s.Block(Samples(20, c.length));
  const int kept = s.DelayedDown(52, 52 + c.length - 1);
  EXPECT_EQ(kept, c.removed ? 0 : c.length);
}

INSTANTIATE_TEST_SUITE_P(Cases, SpikeFilter,
                         ::testing::Values(SpikeCase{"ShortRunRemoved", 20, false, 6, true},
                                           SpikeCase{"RunAtTheLimitRemoved", 20, false, 13, true},
                                           SpikeCase{"LongerRunKept", 20, false, 14, false},
                                           SpikeCase{"NotWhileLearning", 20, true, 6, false},
                                           SpikeCase{"NotFrom45Wpm", 45, false, 6, false}),
                         [](const auto& info) { return std::string(info.param.name); });

struct ThresholdCase {
  ThresholdMode mode;
  int speed;
  double factor;
};

TEST(KeyingDetector, ThresholdFollowsThePeakByModeAndSpeed) {
  for (const ThresholdCase c : {ThresholdCase{ThresholdMode::kNormal, 14, 0.4},
                                ThresholdCase{ThresholdMode::kNormal, 15, 0.445},
                                ThresholdCase{ThresholdMode::kNormal, 28, 0.375},
                                ThresholdCase{ThresholdMode::kNoisy, 24, 0.46},
                                ThresholdCase{ThresholdMode::kNoisy, 25, 0.47},
                                ThresholdCase{ThresholdMode::kQuiet, 24, 0.43},
                                ThresholdCase{ThresholdMode::kQuiet, 25, 0.44},
                                ThresholdCase{ThresholdMode::kAuto, 24, 0.46},
                                ThresholdCase{ThresholdMode::kAuto, 34, 0.45}}) {
    Detector s;
    s.o.Threshold = c.mode;
    s.t.SpeedWpm = c.speed;
    s.d.PeakLevel = 5000.0;
    s.Block(Samples(10, 30), 3000.0f);
    for (int k = 2; k <= 65; ++k) {
      ASSERT_NEAR(s.d.thresholdShown[static_cast<size_t>(k)],
                  c.factor * s.d.peakShown[static_cast<size_t>(k)], 1e-6)
          << "mode " << static_cast<int>(c.mode) << " speed " << c.speed << " sample " << k;
    }
  }
}

TEST(KeyingDetector, AutoModeHoldsTheThresholdFrom35Wpm) {
  Detector s;
  s.o.Threshold = ThresholdMode::kAuto;
  s.t.SpeedWpm = 35;
  s.d.Threshold = 1234.0;
  s.Block(Samples(10, 30), 3000.0f);
  EXPECT_DOUBLE_EQ(s.d.Threshold, 1234.0);
}

TEST(KeyingDetector, LongSilenceMakesTheDetectorIdle) {
  Detector s;
  s.o.Threshold = ThresholdMode::kNoisy;
  s.t.SpeedWpm = 60;  // idle limit 100 ticks
  s.Block(Samples(10, 30), 3000.0f);
  EXPECT_EQ(s.d.IdleFlag, 0);
  s.Block({});
  s.Block({});
  EXPECT_EQ(s.d.IdleFlag, 1);
}

TEST(KeyingDetector, RunawayCodeResetsTheSpeed) {
  Detector s;
  s.t.SpeedWpm = 20;
  s.t.ElementCode = 200;
  s.Block({});
  EXPECT_EQ(s.t.SpeedWpm, 32);
  EXPECT_EQ(s.t.AvgDash, 130);
  EXPECT_EQ(s.t.AvgDot, 43);
}

TEST(KeyingDetector, LevelResetCutsTheFloor) {
  Detector s;
  s.d.NoiseFloor = 40.0;
  s.d.IdleFlag = 1;
  s.k.LevelReset();
  EXPECT_DOUBLE_EQ(s.d.NoiseFloor, 10.0);
  EXPECT_DOUBLE_EQ(s.d.PeakLevel, 10.0);
  EXPECT_DOUBLE_EQ(s.d.Threshold, 60.0);
  EXPECT_EQ(s.d.IdleFlag, 0);
}

TEST(TruncToInt, TruncatesTowardZeroAndSaturates) {
  EXPECT_EQ(TruncToInt(2.9), 2);
  EXPECT_EQ(TruncToInt(-2.9), -2);
  EXPECT_EQ(TruncToInt(1e12), 2147483647);
  EXPECT_EQ(TruncToInt(-1e12), -2147483647 - 1);
}

}  // namespace
}  // namespace kestrix
