#include "receive/tone.h"

#include <gtest/gtest.h>

#include "decoder/text_sink.h"
#include "receive/receiver.h"

namespace kestrix {
namespace {

TEST(CalcPeakFrequency, SymmetricPeakSitsOnItsBin) {
  PowerSpectrumArray s;
  s[100] = 5.0f;
  s[101] = 50.0f;
  s[102] = 5.0f;
  int64_t sum3 = 0;
  const double f = CalcPeakFrequency(s, sum3, 4096, 22050, 423);
  EXPECT_DOUBLE_EQ(f, 100 * kBinHz);
  EXPECT_EQ(sum3, 60);
}

TEST(CalcPeakFrequency, InterpolatesTowardTheLouderNeighbour) {
  PowerSpectrumArray s;
  s[100] = 10.0f;
  s[101] = 50.0f;
  s[102] = 30.0f;
  int64_t sum3 = 0;
  const double f = CalcPeakFrequency(s, sum3, 4096, 22050, 423);
  EXPECT_NEAR(f, (100 + 1.018602 * 20.0 / 90.0) * kBinHz, 1e-4);
}

TEST(CalcPeakFrequency, FirstOfEqualValuesWinsAndLowPeaksGiveZero) {
  PowerSpectrumArray s;
  s[200] = 7.0f;
  s[300] = 7.0f;
  int64_t sum3 = 0;
  EXPECT_NEAR(CalcPeakFrequency(s, sum3, 4096, 22050, 423), 199 * kBinHz, 1e-9);

  PowerSpectrumArray low;
  low[5] = 100.0f;  // 21.5 Hz
  EXPECT_EQ(CalcPeakFrequency(low, sum3, 4096, 22050, 423), 0.0);

  PowerSpectrumArray silent;
  EXPECT_EQ(CalcPeakFrequency(silent, sum3, 4096, 22050, 423), 0.0);
  EXPECT_EQ(sum3, 0);
}

TEST(CalcPeakFrequency, LoudToneSumNeedsSixtyFourBits) {
  PowerSpectrumArray s;
  s[130] = 4.0e13f;
  int64_t sum3 = 0;
  CalcPeakFrequency(s, sum3, 4096, 22050, 423);
  EXPECT_GT(sum3, int64_t{100});
  EXPECT_NEAR(static_cast<double>(sum3), 4.0e13, 1.0e7);
}

TEST(CalcPeakFrequency, IgnoresBinsAtAndAboveTheLimit) {
  PowerSpectrumArray s;
  s[423] = 1000.0f;
  s[300] = 10.0f;
  int64_t sum3 = 0;
  EXPECT_NEAR(CalcPeakFrequency(s, sum3, 4096, 22050, 423), 299 * kBinHz, 1e-9);
}

struct AfcCase {
  const char* name;
  AfcMode mode;
  int bar;
  int toneBin;
  int squelch;
  bool idle;
  float peakAverage;
  int expectBar;
  bool expectReset;
};

class AfcStep : public ::testing::TestWithParam<AfcCase> {};

TEST_P(AfcStep, MovesOnlyForAStrongPeakStrictlyInside) {
  const AfcCase c = GetParam();
  ToneTracker t;
  t.SetAfcMode(c.mode);
  t.PeakAverage = c.peakAverage;
  PowerSpectrumArray s;
  s[c.toneBin] = 100.0f;
  bool reset = false;
  const int bar = t.AfcStep(s, c.bar, AfcInputs{c.squelch, c.idle}, reset);
  EXPECT_EQ(bar, c.expectBar);
  EXPECT_EQ(reset, c.expectReset);
}

INSTANTIATE_TEST_SUITE_P(
    Cases, AfcStep,
    ::testing::Values(
        // Narrow at bar 100 searches 80..119.
        AfcCase{"NarrowMovesToTone", AfcMode::kNarrow, 100, 110, 40, false, 10.0f, 110, true},
        AfcCase{"SmallMoveKeepsPeak", AfcMode::kNarrow, 100, 102, 40, false, 10.0f, 102, false},
        AfcCase{"LowerEdgeIsNotInside", AfcMode::kNarrow, 100, 80, 40, false, 10.0f, 100, false},
        AfcCase{"UpperEdgeInside", AfcMode::kNarrow, 100, 119, 40, false, 10.0f, 119, true},
        AfcCase{"OutsideWindowIgnored", AfcMode::kNarrow, 100, 121, 40, false, 10.0f, 100, false},
        // 100 against 40 average: moves at t = 1.25 (squelch >= 35) but not at t = 3.2.
        AfcCase{"GoodSquelchLowThreshold", AfcMode::kNarrow, 100, 110, 35, false, 40.0f, 110, true},
        AfcCase{"PoorSquelchHighThreshold", AfcMode::kNarrow, 100, 110, 34, false, 40.0f, 100,
                false},
        // Idle raises t to 7: 100 is not above 7 x 20.
        AfcCase{"IdleNeedsSevenTimes", AfcMode::kNarrow, 100, 110, 40, true, 20.0f, 100, false},
        // Wide at 112 searches from bin 1 up.
        AfcCase{"WideClippedAtBinOne", AfcMode::kWide, 112, 1, 40, false, 10.0f, 1, true},
        AfcCase{"OffFollowsTheBar", AfcMode::kOff, 100, 110, 40, false, 10.0f, 100, false}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(AfcStep, KeepsThePeakAverageRunning) {
  ToneTracker t;
  t.SetAfcMode(AfcMode::kMedium);
  t.PeakAverage = 30.0f;
  PowerSpectrumArray s;
  s[120] = 60.0f;
  bool reset = false;
  t.AfcStep(s, 100, AfcInputs{0, false}, reset);
  EXPECT_FLOAT_EQ(t.PeakAverage, 40.0f);  // (2 x 30 + 60) / 3, moved or not
  EXPECT_EQ(t.ToneBin, 120);
}

TEST(AfcStep, KeepsTheLastPeakBinOverSilence) {
  ToneTracker t;
  t.SetAfcMode(AfcMode::kNarrow);
  PowerSpectrumArray s;
  s[105] = 50.0f;
  bool reset = false;
  t.AfcStep(s, 100, AfcInputs{0, false}, reset);
  PowerSpectrumArray silent;
  t.AfcStep(silent, 100, AfcInputs{0, false}, reset);
  EXPECT_EQ(t.ToneBin, 105);
}

class NullText : public TextSink {
 public:
  void InsertText(const char*, size_t) override {}
};

TEST(SpectrumClick, FarRightClickTunesTheTopOfTheBarAndResetsTheDecoder) {
  NullText text;
  Receiver rx(text);
  rx.Detector.NoiseFloor = 100.0;
  rx.Detector.IdleFlag = 1;
  rx.Options.LockWpmOn = true;
  rx.SpectrumClick(600);
  EXPECT_EQ(rx.FrequencyBar, 423);
  EXPECT_EQ(rx.Tone.MarkerHz, 2277);  // 423 x 22050 / 4096, bare number
  EXPECT_EQ(rx.Detector.IdleFlag, 0);
  EXPECT_DOUBLE_EQ(rx.Detector.NoiseFloor, 20.0);
  EXPECT_DOUBLE_EQ(rx.Detector.PeakLevel, 20.0);
  EXPECT_DOUBLE_EQ(rx.Detector.Threshold, 200.0);
  EXPECT_EQ(rx.Sq.SquelchRatio, 1);
  EXPECT_EQ(rx.Sq.SquelchCopy, 1);
  EXPECT_FLOAT_EQ(rx.Tone.ToneNormSmoothed, 420.0f / 2024.0f);
  EXPECT_EQ(rx.Timing.SpeedWpm, 50);
  EXPECT_EQ(rx.Timing.AvgDash, 90);
  EXPECT_EQ(rx.Timing.AvgDot, 30);
  EXPECT_FALSE(rx.Options.LockWpmOn);
}

TEST(ToneTracker, NormalisesAndSmoothsTheBarPosition) {
  ToneTracker t;
  t.Normalise(256);
  EXPECT_FLOAT_EQ(t.ToneNorm, (256 - 2.75f) / 2024.0f);
  EXPECT_FLOAT_EQ(t.ToneNormSmoothed, 4.0f * t.ToneNorm / 5.0f);
}

}  // namespace
}  // namespace kestrix
