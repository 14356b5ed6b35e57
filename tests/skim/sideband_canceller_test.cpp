#include "skim/sideband_canceller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

constexpr double kRate = 8000.0;
constexpr double kPi = std::numbers::pi;

// A loud carrier at 1000 Hz keyed in dits and dahs (24 WPM) with raised-cosine edges of
// `riseMs`, a steady weak tone at `weakHz`, and white noise.
std::vector<float> Scene(double riseMs, double weakHz, double weak, uint32_t seed) {
  const size_t n = static_cast<size_t>(8.0 * kRate);
  std::vector<float> x(n);
  std::mt19937 rng(seed);
  std::normal_distribution<double> noise(0.0, 1e-3);
  const double rise = riseMs * 1e-3;
  auto edge = [&](double t) {
    if (rise <= 0.0) return t >= 0.0 ? 1.0 : 0.0;
    return t <= -rise / 2 ? 0.0 : t >= rise / 2 ? 1.0 : 0.5 * (1.0 + std::sin(kPi * t / rise));
  };
  // Marks of 1 and 3 dits of 50 ms with dit gaps, a pattern of 0.6 s repeated.
  const double marks[][2] = {{0.0, 0.05}, {0.1, 0.25}, {0.3, 0.35}, {0.4, 0.55}};
  for (size_t i = 0; i < n; ++i) {
    const double t = static_cast<double>(i) / kRate;
    const double u = std::fmod(t, 0.6);
    double env = 0.0;
    if (t > 0.5)
      for (const auto& m : marks) env = std::max(env, std::min(edge(u - m[0]), edge(m[1] - u)));
    x[i] = static_cast<float>(env * std::sin(2 * kPi * 1000.0 * t + 0.3) +
                              weak * std::sin(2 * kPi * weakHz * t) + noise(rng));
  }
  return x;
}

// Mean power within about 20 Hz of `hz` over samples [from, to) (Blackman windows, so a
// carrier 100 Hz away does not leak in).
double BandPower(const std::vector<float>& x, double hz, size_t from, size_t to) {
  constexpr size_t kWindow = 800;
  double sum = 0.0, gain = 0.0;
  size_t count = 0;
  for (size_t i = 0; i < kWindow; ++i) {
    const double a = 2 * kPi * static_cast<double>(i) / (kWindow - 1);
    gain += 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
  }
  for (size_t s = from; s + kWindow <= to; s += kWindow / 4) {
    std::complex<double> acc;
    for (size_t i = 0; i < kWindow; ++i) {
      const double a = 2 * kPi * static_cast<double>(i) / (kWindow - 1);
      const double w = 0.42 - 0.5 * std::cos(a) + 0.08 * std::cos(2 * a);
      acc += w * static_cast<double>(x[s + i]) *
             std::polar(1.0, -2 * kPi * hz * static_cast<double>(s + i) / kRate);
    }
    sum += std::norm(acc) / (gain * gain);
    ++count;
  }
  return sum / static_cast<double>(std::max<size_t>(count, 1));
}

TEST(SidebandCanceller, TakesALoudKeyersSidebandsAndKeepsEverythingElse) {
  struct Case {
    std::string name;
    double riseMs;
    bool named;  // the loud carrier is named to the canceller
    // Its sidebands this far out (Hz) are down at least this much (dB): less far out,
    // where an edge's timing counts for more, and less where little stood over the noise.
    std::vector<std::pair<double, double>> cuts;
  };
  const std::vector<Case> cases = {
      {"hard key", 0.0, true, {{140.0, 15.0}, {300.0, 15.0}, {1000.0, 8.0}}},
      {"5 ms rise", 5.0, true, {{140.0, 15.0}, {200.0, 6.0}}},
      {"not named: passed unchanged", 0.0, false, {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto loud = Scene(c.riseMs, 0.0, 0.0, 3);
    const auto withWeak = Scene(c.riseMs, 1460.0, 0.01, 3);
    auto run = [&](std::vector<float> x) {
      SidebandCanceller canceller;
      const double hz = 1000.4;  // as a finder would estimate it
      if (c.named) canceller.SetCarriers(&hz, 1);
      for (size_t i = 0; i < x.size(); i += 512)
        canceller.Process(x.data() + i, std::min<size_t>(512, x.size() - i));
      // Undo the lag, so that the output lines up with the input.
      x.erase(x.begin(), x.begin() + static_cast<std::ptrdiff_t>(canceller.Delay()));
      return x;
    };
    const auto out = run(loud);
    const auto outWeak = run(withWeak);
    const size_t from = static_cast<size_t>(2.0 * kRate), to = static_cast<size_t>(7.0 * kRate);
    if (!c.named) {
      for (size_t i = from; i < to; ++i) ASSERT_EQ(out[i], loud[i]);
      continue;
    }
    for (auto [off, cut] : c.cuts) {
      const double before = BandPower(loud, 1000.0 + off, from, to);
      const double after = BandPower(out, 1000.0 + off, from, to);
      EXPECT_GT(10 * std::log10(before / after), cut) << off << " Hz out";
    }
    // The carrier itself, and a steady tone 460 Hz out, come through.
    EXPECT_NEAR(
        10 * std::log10(BandPower(out, 1000.0, from, to) / BandPower(loud, 1000.0, from, to)), 0.0,
        0.3);
    EXPECT_NEAR(10 * std::log10(BandPower(outWeak, 1460.0, from, to) / (0.005 * 0.005)), 0.0, 0.5);
  }
}

}  // namespace
}  // namespace kestrix::skim
