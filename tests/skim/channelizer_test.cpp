#include "skim/channelizer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "skim/filter_design.h"

namespace kestrix::skim {
namespace {

// Keeps every frame of the channels it is asked about.
class Recorder final : public Channelizer::FrameSink {
 public:
  Recorder(int channels, std::vector<int> watch) : channels_(channels), watch_(std::move(watch)) {
    out.resize(watch_.size());
  }
  void OnFrame(const std::complex<float>* y) override {
    for (size_t i = 0; i < watch_.size(); ++i) out[i].push_back(y[watch_[i]]);
  }
  std::vector<std::vector<std::complex<float>>> out;

 private:
  int channels_;
  std::vector<int> watch_;
};

std::vector<std::complex<float>> Tone(double hz, double rate, size_t n, double amp = 1.0) {
  std::vector<std::complex<float>> x(n);
  for (size_t i = 0; i < n; ++i) {
    const double ph = 2.0 * std::numbers::pi * hz * static_cast<double>(i) / rate;
    x[i] = {static_cast<float>(amp * std::cos(ph)), static_cast<float>(amp * std::sin(ph))};
  }
  return x;
}

double MeanPowerAfter(const std::vector<std::complex<float>>& y, size_t skip) {
  double p = 0.0;
  for (size_t i = skip; i < y.size(); ++i) p += std::norm(y[i]);
  return p / static_cast<double>(y.size() - skip);
}

ChannelizerConfig Config(double rate) {
  ChannelizerConfig c;
  c.inputRate = rate;
  c.outputRate = 250.0;
  c.measure = false;
  return c;
}

TEST(ChannelizerTest, ChoosesTwiceOversampledChannelsNearTheWantedRate) {
  struct Case {
    double rate;
    int channels;
  };
  for (const Case& c : {Case{192000, 1536}, Case{48000, 384}, Case{96000, 768}, Case{44100, 352}}) {
    Channelizer bank(Config(c.rate));
    EXPECT_EQ(bank.Channels(), c.channels) << c.rate;
    EXPECT_EQ(bank.Decimation(), c.channels / 2);
    EXPECT_NEAR(bank.OutputRate(), 250.0, 2.0) << c.rate;
    EXPECT_LE(bank.TapsPerBranch(), 16) << "the prototype should stay short";
  }
}

TEST(ChannelizerTest, ChannelNumbersAndCentresAgreeForBothSidesOfTheBand) {
  Channelizer bank(Config(48000));
  EXPECT_EQ(bank.ChannelFor(0.0), 0);
  EXPECT_EQ(bank.ChannelFor(1000.0), 8);
  EXPECT_EQ(bank.ChannelFor(-1000.0), 384 - 8);
  EXPECT_DOUBLE_EQ(bank.CentreHz(384 - 8), -1000.0);
  EXPECT_DOUBLE_EQ(bank.CentreHz(8), 1000.0);
  for (double f : {-23999.0, -60.0, 61.0, 17012.0}) {
    EXPECT_LE(std::abs(bank.CentreHz(bank.ChannelFor(f)) - f), bank.Spacing() / 2 + 1e-9) << f;
  }
}

// A tone 30 Hz above a channel's centre comes out of that channel with unity amplitude,
// turning at +30 Hz, for tones above and below the band centre.
TEST(ChannelizerTest, ToneComesOutMixedDownWithUnityGain) {
  const double rate = 48000.0;
  for (double centre : {1000.0, -2500.0, 0.0}) {
    Channelizer bank(Config(rate));
    const int k = bank.ChannelFor(centre);
    Recorder rec(bank.Channels(), {k});
    const auto x = Tone(centre + 30.0, rate, 48000, 0.5);
    bank.Push(x.data(), x.size(), rec);
    const auto& y = rec.out[0];
    ASSERT_GT(y.size(), 200u);
    const size_t skip = 50;  // the filter's delay
    EXPECT_NEAR(std::sqrt(MeanPowerAfter(y, skip)), 0.5, 0.01) << centre;
    // Frequency from the mean phase step.
    std::complex<double> acc;
    for (size_t i = skip + 1; i < y.size(); ++i)
      acc += std::complex<double>(y[i]) * std::conj(std::complex<double>(y[i - 1]));
    const double hz = std::arg(acc) / (2.0 * std::numbers::pi) * bank.OutputRate();
    EXPECT_NEAR(hz, 30.0, 0.5) << centre;
  }
}

// Frequency response of one channel in dB at named offsets from its centre: flat over the
// band its users read, and a tone two channels away (where it would alias) far down.
TEST(ChannelizerTest, ChannelResponseIsFlatInsideAndDeepOutside) {
  const double rate = 48000.0;
  struct Case {
    double offsetHz;
    double minDb, maxDb;
  };
  const Case cases[] = {
      {0.0, -0.1, 0.1},       {62.5, -0.2, 0.1},      {100.0, -0.5, 0.1},
      {250.0, -200.0, -65.0}, {400.0, -200.0, -65.0}, {-300.0, -200.0, -65.0},
  };
  for (const Case& c : cases) {
    Channelizer bank(Config(rate));
    const int k = bank.ChannelFor(5000.0);
    Recorder rec(bank.Channels(), {k});
    const auto x = Tone(bank.CentreHz(k) + c.offsetHz, rate, 24000);
    bank.Push(x.data(), x.size(), rec);
    const double db = 10.0 * std::log10(MeanPowerAfter(rec.out[0], 40) + 1e-30);
    EXPECT_GE(db, c.minDb) << c.offsetHz;
    EXPECT_LE(db, c.maxDb) << c.offsetHz;
  }
}

// Samples pushed one at a time or in odd-sized pieces give the same frames as one block.
TEST(ChannelizerTest, FramesDoNotDependOnHowTheInputIsCut) {
  const double rate = 48000.0;
  const auto x = Tone(777.0, rate, 20000);
  Channelizer whole(Config(rate)), pieces(Config(rate));
  const int k = whole.ChannelFor(777.0);
  Recorder a(whole.Channels(), {k}), b(pieces.Channels(), {k});
  whole.Push(x.data(), x.size(), a);
  size_t at = 0;
  for (size_t step = 1; at < x.size(); step = step * 3 % 1001 + 1) {
    const size_t n = std::min(step, x.size() - at);
    pieces.Push(x.data() + at, n, b);
    at += n;
  }
  ASSERT_EQ(a.out[0].size(), b.out[0].size());
  for (size_t i = 0; i < a.out[0].size(); ++i) {
    ASSERT_NEAR(a.out[0][i].real(), b.out[0][i].real(), 1e-5) << i;
    ASSERT_NEAR(a.out[0][i].imag(), b.out[0][i].imag(), 1e-5) << i;
  }
  // The first frame ends on the first sample, then one every Decimation() samples.
  EXPECT_EQ(whole.Frames(), static_cast<int64_t>(1 + (20000 - 1) / whole.Decimation()));
}

// A receiver's audio (real) reaches the positive-frequency channels at half amplitude.
TEST(ChannelizerTest, RealInputAppearsAtHalfAmplitudeOnThePositiveSide) {
  const double rate = 8000.0;
  ChannelizerConfig cfg = Config(rate);
  Channelizer bank(cfg);
  const int k = bank.ChannelFor(700.0);
  const int mirror = bank.ChannelFor(-700.0);
  Recorder rec(bank.Channels(), {k, mirror});
  std::vector<float> x(16000);
  for (size_t i = 0; i < x.size(); ++i) x[i] = std::cos(2.0 * std::numbers::pi * 700.0 * i / rate);
  bank.PushReal(x.data(), x.size(), rec);
  EXPECT_NEAR(std::sqrt(MeanPowerAfter(rec.out[0], 40)), 0.5, 0.01);
  EXPECT_NEAR(std::sqrt(MeanPowerAfter(rec.out[1], 40)), 0.5, 0.01);
}

TEST(FilterDesignTest, KaiserLowPassHasUnityDcGainAndItsCutoffAtMinusSixDb) {
  const std::vector<float> h = KaiserLowPass(101, 1000.0, 8000.0, 60.0);
  double dc = 0.0;
  std::complex<double> at;
  for (size_t i = 0; i < h.size(); ++i) {
    dc += h[i];
    at +=
        static_cast<double>(h[i]) * std::polar(1.0, -2.0 * std::numbers::pi * 1000.0 * i / 8000.0);
  }
  EXPECT_NEAR(dc, 1.0, 1e-6);
  EXPECT_NEAR(20.0 * std::log10(std::abs(at)), -6.02, 0.2);
}

}  // namespace
}  // namespace kestrix::skim
