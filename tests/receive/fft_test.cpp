#include "receive/fft.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <random>
#include <vector>

namespace kestrix {
namespace {

std::vector<float> RandomSignal(int n, unsigned seed) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<float> dist(-1000.0f, 1000.0f);
  std::vector<float> x(static_cast<size_t>(n));
  for (float& v : x) v = dist(rng);
  return x;
}

class RoundTrip : public ::testing::TestWithParam<int> {};

TEST_P(RoundTrip, InverseOfForwardReturnsTheInput) {
  const int n = GetParam();
  const std::vector<float> x = RandomSignal(n, 11);
  std::vector<float> y = x;
  RealFft(y.data(), n);
  InverseRealFft(y.data(), n);
  for (int i = 0; i < n; ++i) {
    ASSERT_NEAR(y[static_cast<size_t>(i)], x[static_cast<size_t>(i)], 0.02f) << "sample " << i;
  }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip, ::testing::Values(8, 1024, 2048, 4096, 65536));

TEST(RealFft, MatchesTheDefinitionWithTheEndPairHalved) {
  constexpr int kN = 64;
  const std::vector<float> x = RandomSignal(kN, 5);
  std::vector<float> y = x;
  RealFft(y.data(), kN);
  for (int k = 0; k <= kN / 2; ++k) {
    std::complex<double> sum = 0.0;
    for (int t = 0; t < kN; ++t) {
      sum += static_cast<double>(x[static_cast<size_t>(t)]) *
             std::polar(1.0, -2.0 * 3.141592653589793 * k * t / kN);
    }
    std::complex<double> got;
    if (k == 0) {
      got = {2.0 * y[0], 0.0};  // slot 0 real part: X(0) / 2
    } else if (k == kN / 2) {
      got = {2.0 * y[1], 0.0};  // slot 0 imaginary part: X(N/2) / 2
    } else {
      got = {y[static_cast<size_t>(2 * k)], y[static_cast<size_t>(2 * k + 1)]};
    }
    EXPECT_NEAR(got.real(), sum.real(), 0.05) << "bin " << k;
    EXPECT_NEAR(got.imag(), sum.imag(), 0.05) << "bin " << k;
  }
}

TEST(RealFft, ZerosGiveZeros) {
  std::vector<float> y(1024, 0.0f);
  RealFft(y.data(), 1024);
  for (float v : y) EXPECT_EQ(v, 0.0f);
  InverseRealFft(y.data(), 1024);
  for (float v : y) EXPECT_EQ(v, 0.0f);
}

}  // namespace
}  // namespace kestrix
