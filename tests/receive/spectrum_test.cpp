#include "receive/spectrum.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <vector>

namespace kestrix {
namespace {

constexpr double kPi = 3.141592653589793;

int PeakBin(const PowerSpectrumArray& s) {
  int best = 1;
  for (int j = 1; j <= kSpectrumBins; ++j) {
    if (s[j] > s[best]) best = j;
  }
  return best;
}

TEST(SpectrumAnalyzer, WindowIsTheFourTermBlackmanHarris) {
  SpectrumAnalyzer a;
  EXPECT_NEAR(a.SpectrumWindow()[0], 0.00006f, 1e-7f);
  EXPECT_NEAR(a.SpectrumWindow()[2048], 1.0f, 1e-6f);
  EXPECT_NEAR(a.SpectrumWindow()[4096], a.SpectrumWindow()[0], 1e-7f);
}

TEST(SpectrumAnalyzer, AToneOnGridBinJPeaksAtIndexJPlusOne) {
  SpectrumAnalyzer a;
  PowerSpectrumArray power;
  std::vector<int32_t> samples(kSpectrumSize);
  for (int j : {3, 100, 130, 422, 1500}) {
    for (int i = 0; i < kSpectrumSize; ++i) {
      samples[static_cast<size_t>(i)] =
          static_cast<int32_t>(std::lround(10000.0 * std::sin(2.0 * kPi * j * i / kSpectrumSize)));
    }
    a.WindowedPowerSpectrum(samples.data(), power);
    EXPECT_EQ(PeakBin(power), j + 1) << "grid bin " << j;
  }
}

TEST(SpectrumAnalyzer, SilenceGivesAZeroSpectrum) {
  SpectrumAnalyzer a;
  PowerSpectrumArray power;
  power[7] = 3.0f;
  const std::vector<int32_t> zeros(kSpectrumSize, 0);
  a.WindowedPowerSpectrum(zeros.data(), power);
  for (int j = 1; j <= kSpectrumBins; ++j) ASSERT_EQ(power[j], 0.0f);
  // The guard bins around the spectrum stay zero for neighbour reads.
  EXPECT_EQ(power[-5], 0.0f);
  EXPECT_EQ(power[kSpectrumBins + 5], 0.0f);
}

// Runs a continuous tone at `cycles` per tone-rate sample through `blocks` blocks and
// returns the RMS of the last block's output over the RMS of its input.
double BlockGain(ToneFilter& f, double cycles, int blocks) {
  std::vector<float> block(kToneBlockSize);
  double in = 0.0;
  double out = 0.0;
  for (int b = 0; b < blocks; ++b) {
    in = 0.0;
    for (int i = 0; i < kToneBlockSize; ++i) {
      const double v = 1000.0 * std::sin(2.0 * kPi * cycles * (b * kToneBlockSize + i));
      block[static_cast<size_t>(i)] = static_cast<float>(v);
      in += v * v;
    }
    f.Convolve(block.data());
  }
  for (float v : block) out += static_cast<double>(v) * v;
  return std::sqrt(out / in);
}

// The 2048-point design grid is used on 1024-point transforms, so a design frequency c
// (cycles per sample of the design grid) passes tone-rate frequencies near 2c.
TEST(ToneFilter, PassesTheBandAndRejectsFarTones) {
  const float centre = (130.0f - 2.75f) / 2024.0f;  // a 700 Hz tone's design frequency
  const float half = 0.002f;                        // the "20 wpm" half-width
  ToneFilter f;
  f.DesignBandpass(centre - half, centre + half);
  EXPECT_NEAR(20.0 * std::log10(BlockGain(f, 2.0 * centre, 4)), 0.0, 0.5);

  // 0.05 cycles per tone-rate sample is about 275 Hz away. Measured -121 dB; with the
  // design window's sidelobes below -90 dB anything above that is a broken design or
  // overlap-add.
  ToneFilter g;
  g.DesignBandpass(centre - half, centre + half);
  EXPECT_LT(20.0 * std::log10(BlockGain(g, 2.0 * centre + 0.05, 4)), -90.0);

  // The narrowest band (the "10 wpm" preset) is narrower than the design window's main
  // lobe, so its centre gain stays about 2 dB down.
  ToneFilter n;
  n.DesignBandpass(centre - 0.0012f, centre + 0.0012f);
  EXPECT_NEAR(20.0 * std::log10(BlockGain(n, 2.0 * centre, 4)), -2.0, 0.5);
}

TEST(ToneFilter, ZerosInGiveZerosOut) {
  ToneFilter f;
  f.DesignBandpass(0.06f, 0.07f);
  std::vector<float> block(kToneBlockSize, 0.0f);
  for (int b = 0; b < 3; ++b) {
    f.Convolve(block.data());
    for (float v : block) ASSERT_EQ(v, 0.0f);
  }
}

TEST(ToneFilter, AZeroCutoffDesignsWithoutDividingByZero) {
  // A tone at the very bottom of the range with a matching half-width puts the lower
  // edge exactly at 0.
  ToneFilter f;
  f.DesignBandpass(0.0f, 0.0024f);
  for (float t : f.Taps()) ASSERT_TRUE(std::isfinite(t));
  // The lower edge has become a unit-gain low-pass, so the band-pass has no gain at 0 Hz.
  float sum = 0.0f;
  for (float t : f.Taps()) sum += t;
  EXPECT_NEAR(sum, 0.0f, 1e-5f);
}

TEST(ToneFilter, CarriesTheOverlapFromBlockToBlock) {
  // A steady in-band tone must not dip at the block boundary.
  const float centre = (130.0f - 2.75f) / 2024.0f;
  ToneFilter f;
  f.DesignBandpass(centre - 0.002f, centre + 0.002f);
  std::vector<float> block(kToneBlockSize);
  std::vector<float> out;
  for (int b = 0; b < 4; ++b) {
    for (int i = 0; i < kToneBlockSize; ++i) {
      block[static_cast<size_t>(i)] = static_cast<float>(
          1000.0 * std::sin(2.0 * kPi * 2.0 * centre * (b * kToneBlockSize + i)));
    }
    f.Convolve(block.data());
    if (b >= 2) out.insert(out.end(), block.begin(), block.end());
  }
  // Peak amplitude over windows straddling the boundary between blocks 2 and 3.
  auto peak = [&](size_t from) {
    float m = 0.0f;
    for (size_t i = from; i < from + 64; ++i) m = std::max(m, std::fabs(out[i]));
    return m;
  };
  EXPECT_NEAR(peak(kToneBlockSize - 32), peak(200), 30.0f);
}

}  // namespace
}  // namespace kestrix
