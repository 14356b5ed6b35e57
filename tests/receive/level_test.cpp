#include "receive/level.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrix {
namespace {

TEST(ReceiveGain, ControlsRecomputeTheSpectrumGain) {
  ReceiveGain g;
  EXPECT_FLOAT_EQ(g.SpectrumGain, 1e-8f);
  g.SetSignalGainPosition(20);
  EXPECT_FLOAT_EQ(g.GainBase, 4000.0f);
  g.SetCoarseButton(CoarseGain::k10x);
  EXPECT_FLOAT_EQ(g.SpectrumGain, 4000.0f * 4e-11f);
  g.SetCoarseTrackPosition(20);
  EXPECT_FLOAT_EQ(g.SpectrumGain, 4000.0f * 0.002f);
  g.SetCoarseTrackPosition(99);  // the track bar clamps
  EXPECT_EQ(g.CoarseTrackPosition, 20);
  EXPECT_FLOAT_EQ(CoarseTrackFactor(1), 4e-13f);
  EXPECT_FLOAT_EQ(CoarseTrackFactor(10), 2e-8f);
  g.SetSignalGainPosition(0);
  EXPECT_EQ(g.SpectrumGain, 0.0f);
}

TEST(Squelch, EqualPowerInToneAndNeighboursSettlesAtTwenty) {
  PowerSpectrumArray s;
  for (int j = 90; j <= 110; ++j) s[j] = 400.0f;
  Squelch q;
  for (int i = 0; i < 60; ++i) q.Measure(s, 100);
  // signal = 50 sqrt(P), noise = 50 sqrt(4P) / 4: ratio 10 x 2.
  EXPECT_EQ(q.SquelchRatio, 20);
  EXPECT_EQ(q.SquelchCopy, 20);
}

TEST(Squelch, ZeroGainDrivesTheRatioToZero) {
  PowerSpectrumArray s;
  for (int j = 90; j <= 110; ++j) s[j] = 400.0f;
  s[100] = 40000.0f;
  Squelch q;
  for (int i = 0; i < 10; ++i) q.Measure(s, 100);
  EXPECT_GT(q.SquelchRatio, 100);
  PowerSpectrumArray zero;
  for (int i = 0; i < 40; ++i) q.Measure(zero, 100);
  // The signal average halves per block, the noise average shrinks by 0.7.
  EXPECT_EQ(q.SquelchRatio, 0);
}

TEST(Squelch, HoldsTheRatioWhileTheNoiseAverageIsZero) {
  Squelch q;
  q.SquelchRatio = 17;
  PowerSpectrumArray zero;
  q.Measure(zero, 100);
  EXPECT_EQ(q.SquelchRatio, 17);
}

TEST(ConvolveCentered, UsesPartialSumsAtBothEnds) {
  std::vector<float> in(1086, 1.0f);
  std::vector<float> out(1086);
  std::vector<float> taps(35, 1.0f);
  ConvolveCentered(in.data(), out.data(), taps.data(), 35, 1086);
  EXPECT_EQ(out[0], 18.0f);
  EXPECT_EQ(out[1], 19.0f);
  EXPECT_EQ(out[17], 35.0f);
  EXPECT_EQ(out[1068], 35.0f);
  EXPECT_EQ(out[1069], 34.0f);
  EXPECT_EQ(out[1085], 18.0f);
}

TEST(EnvelopeDetector, QuadratureTapsAreOddSymmetric) {
  const auto& t = EnvelopeDetector::QuadratureTaps();
  for (int i = 0; i < 35; ++i) {
    EXPECT_FLOAT_EQ(t[static_cast<size_t>(34 - i)], -t[static_cast<size_t>(i)]);
    if (i % 2 == 1) {
      EXPECT_EQ(t[static_cast<size_t>(i)], 0.0f);
    }
  }
  EXPECT_FLOAT_EQ(t[16], 0.635163f);
}

TEST(EnvelopeDetector, SteadyToneGivesAboutThirtyTwoTimesItsAmplitude) {
  // 700 Hz at the 5512.5 Hz tone rate, amplitude 100.
  constexpr double kPi = 3.141592653589793;
  EnvelopeDetector e;
  std::vector<float> block(kToneBlockSize);
  std::array<float, kEnvelopeSize> env{};
  for (int b = 0; b < 3; ++b) {
    for (int i = 0; i < kToneBlockSize; ++i) {
      block[static_cast<size_t>(i)] = static_cast<float>(
          100.0 * std::sin(2.0 * kPi * 700.0 / 5512.5 * (b * kToneBlockSize + i)));
    }
    e.Process(block.data(), env.data());
  }
  for (float v : env) {
    // The 35-tap transformer's ripple at this frequency stays within a few percent.
    EXPECT_NEAR(v, 3200.0f, 3200.0f * 0.06f);
  }
}

}  // namespace
}  // namespace kestrix
