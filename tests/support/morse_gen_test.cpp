#include "morse_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

namespace kestrix::testing {
namespace {

constexpr double kPi = 3.14159265358979323846;

// Amplitude (full scale 1.0) of the component at `hz`, averaged over `period` samples centred
// on each sample. With `period` a whole number of cycles of both tones in a signal, each is
// measured without leakage from the other.
std::vector<double> Envelope(const std::vector<int16_t>& x, double hz, int rate, int period) {
  std::vector<std::complex<double>> mixed(x.size());
  for (size_t i = 0; i < x.size(); ++i) {
    const double phase = 2.0 * kPi * hz * static_cast<double>(i) / rate;
    mixed[i] = x[i] / 32767.0 * std::polar(1.0, -phase);
  }
  std::vector<double> env(x.size(), 0.0);
  std::complex<double> sum = 0.0;
  const size_t half = static_cast<size_t>(period / 2);
  for (size_t i = 0; i < x.size() + half; ++i) {
    if (i < x.size()) sum += mixed[i];
    if (i >= static_cast<size_t>(period)) sum -= mixed[i - period];
    if (i >= half) env[i - half] = 2.0 * std::abs(sum) / period;
  }
  return env;
}

struct Burst {
  size_t start;
  size_t length;
};

std::vector<Burst> RunsAbove(const std::vector<double>& env, double threshold) {
  std::vector<Burst> runs;
  for (size_t i = 0; i < env.size(); ++i) {
    if (env[i] < threshold) continue;
    if (runs.empty() || runs.back().start + runs.back().length != i) runs.push_back({i, 0});
    ++runs.back().length;
  }
  return runs;
}

double Ms(size_t samples, int rate) {
  return 1000.0 * static_cast<double>(samples) / rate;
}

MorseSignalParams Clean() {
  MorseSignalParams p;
  p.wpm = 20.0;  // 60 ms dot
  p.toneHz = 700.0;
  p.sampleRate = 44100;  // 63 samples = 1 cycle at 700 Hz
  p.leadInS = 0.2;
  p.tailS = 0.2;
  return p;
}

TEST(MorsePatternTest, KnowsLettersDigitsAndPunctuation) {
  EXPECT_EQ(MorsePattern('A'), ".-");
  EXPECT_EQ(MorsePattern('q'), "--.-");
  EXPECT_EQ(MorsePattern('Y'), "-.--");
  EXPECT_EQ(MorsePattern('0'), "-----");
  EXPECT_EQ(MorsePattern('9'), "----.");
  EXPECT_EQ(MorsePattern('?'), "..--..");
  EXPECT_EQ(MorsePattern('/'), "-..-.");
  EXPECT_EQ(MorsePattern('='), "-...-");
  EXPECT_EQ(MorsePattern('@'), ".--.-.");
  EXPECT_EQ(MorsePattern('"'), ".-..-.");
  EXPECT_EQ(MorsePattern(')'), "-.--.-");
  EXPECT_EQ(MorsePattern('#'), "");
  EXPECT_EQ(MorsePattern('<'), "");
  EXPECT_EQ(MorsePattern(' '), "");
}

TEST(GenerateMorseTest, KeyDownAndGapsFollowWordTiming) {
  MorseSignalParams p = Clean();
  const std::vector<int16_t> x = GenerateMorse("E E", p);
  // 200 ms lead-in + dot + word gap + dot + 200 ms tail
  EXPECT_EQ(x.size(), static_cast<size_t>(std::lround(0.94 * p.sampleRate)));

  const auto runs = RunsAbove(Envelope(x, p.toneHz, p.sampleRate, 63), 0.5 * p.amplitude);
  ASSERT_EQ(runs.size(), 2u);
  EXPECT_NEAR(Ms(runs[0].start, p.sampleRate), 200.0, 0.5);
  EXPECT_NEAR(Ms(runs[0].length, p.sampleRate), 60.0, 0.5);
  EXPECT_NEAR(Ms(runs[1].length, p.sampleRate), 60.0, 0.5);
  EXPECT_NEAR(Ms(runs[1].start - runs[0].start - runs[0].length, p.sampleRate), 420.0, 0.5);
}

TEST(GenerateMorseTest, LetterAndElementGapsAndDashRatio) {
  MorseSignalParams p = Clean();
  p.dashRatio = 3.5;
  const auto runs =
      RunsAbove(Envelope(GenerateMorse("TS", p), p.toneHz, p.sampleRate, 63), 0.5 * p.amplitude);
  ASSERT_EQ(runs.size(), 4u);
  EXPECT_NEAR(Ms(runs[0].length, p.sampleRate), 210.0, 0.5);
  const double expectedGaps[] = {180.0, 60.0, 60.0};
  for (size_t i = 1; i < runs.size(); ++i) {
    const size_t gap = runs[i].start - runs[i - 1].start - runs[i - 1].length;
    EXPECT_NEAR(Ms(gap, p.sampleRate), expectedGaps[i - 1], 0.5) << "gap before element " << i;
    EXPECT_NEAR(Ms(runs[i].length, p.sampleRate), 60.0, 0.5);
  }
}

TEST(GenerateMorseTest, BracketsJoinLettersAndSpacesCollapse) {
  const MorseSignalParams p = Clean();
  const size_t dot = static_cast<size_t>(0.06 * p.sampleRate);
  // <AR> drops the one letter gap of AR (3 dots) for an element gap (1 dot).
  EXPECT_EQ(GenerateMorse("AR", p).size() - GenerateMorse("<AR>", p).size(), 2 * dot);
  // A letter after a closing bracket gets its letter gap back: 3 dots, then K in 9.
  EXPECT_EQ(GenerateMorse("<AR>K", p).size(), GenerateMorse("<AR>", p).size() + 12 * dot);
  EXPECT_EQ(GenerateMorse("E   E", p).size(), GenerateMorse("E E", p).size());
  EXPECT_EQ(GenerateMorse("  E  ", p).size(), GenerateMorse("E", p).size());
  // Characters without a code are skipped rather than sent as gaps.
  EXPECT_EQ(GenerateMorse("E#E", p), GenerateMorse("EE", p));
}

TEST(GenerateMorseTest, EdgesAreShapedNotHardKeyed) {
  MorseSignalParams p = Clean();
  p.riseMs = 8.0;
  const std::vector<int16_t> x = GenerateMorse("T", p);
  const auto env = Envelope(x, p.toneHz, p.sampleRate, 63);
  auto firstAbove = [&](double fraction) {
    return static_cast<size_t>(std::find_if(env.begin(), env.end(),
                                            [&](double e) { return e >= fraction * p.amplitude; }) -
                               env.begin());
  };
  // A full raised-cosine edge of R rises from 10 % to 90 % in 2 R asin(0.8) / pi = 0.59 R.
  EXPECT_NEAR(Ms(firstAbove(0.9) - firstAbove(0.1), p.sampleRate), 0.59 * 8.0, 0.4);
  // Nothing at all before the edge begins (half the rise time before the key-down instant).
  for (size_t i = 0; i < static_cast<size_t>(0.195 * p.sampleRate); ++i) ASSERT_EQ(x[i], 0);
}

TEST(GenerateMorseTest, NoiseLevelMatchesSnrIn2500Hz) {
  for (int rate : {8000, 44100}) {
    MorseSignalParams p;
    p.amplitude = 0.1;
    p.snrDb = 10.0;
    p.sampleRate = rate;
    p.leadInS = 2.0;
    p.tailS = 0.0;
    const std::vector<int16_t> x = GenerateMorse("", p);
    ASSERT_EQ(x.size(), static_cast<size_t>(2 * rate));
    double power = 0.0;
    for (int16_t s : x) power += (s / 32767.0) * (s / 32767.0);
    power /= static_cast<double>(x.size());
    const double inBand = power * 2500.0 / (rate / 2.0);
    const double snr = 10.0 * std::log10((0.1 * 0.1 / 2.0) / inBand);
    EXPECT_NEAR(snr, 10.0, 0.2) << "at " << rate << " Hz";
  }
  MorseSignalParams quiet;
  quiet.leadInS = 0.5;
  const std::vector<int16_t> silent = GenerateMorse("", quiet);
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));
}

TEST(GenerateMorseTest, JitterAndNoiseFollowTheSeed) {
  MorseSignalParams p = Clean();
  p.jitter = 0.2;
  const std::string text(40, 'E');
  const auto a = GenerateMorse(text, p);
  EXPECT_EQ(a, GenerateMorse(text, p));
  // Hand-key spread: the dots vary widely, but none is shorter than 0.3 of nominal.
  const auto runs = RunsAbove(Envelope(a, p.toneHz, p.sampleRate, 63), 0.5 * p.amplitude);
  ASSERT_EQ(runs.size(), 40u);
  const auto [shortest, longest] = std::minmax_element(
      runs.begin(), runs.end(), [](const Burst& x, const Burst& y) { return x.length < y.length; });
  EXPECT_GE(Ms(shortest->length, p.sampleRate), 0.3 * 60.0 - 0.5);
  EXPECT_GT(Ms(longest->length - shortest->length, p.sampleRate), 20.0);
  p.seed = 2;
  EXPECT_NE(a, GenerateMorse(text, p));

  p.jitter = 0.0;
  p.snrDb = 15.0;
  const auto noisy = GenerateMorse("CQ", p);
  EXPECT_EQ(noisy, GenerateMorse("CQ", p));
  p.seed = 3;
  EXPECT_NE(noisy, GenerateMorse("CQ", p));
}

TEST(GenerateMorseTest, FadingDepthAndInterfererLevel) {
  MorseSignalParams p;
  p.sampleRate = 8000;
  p.toneHz = 500.0;  // 16 samples = 1 cycle here and 2 cycles of the interferer
  p.wpm = 20.0;
  p.dashRatio = 100.0;  // one 6 s key-down
  p.leadInS = 0.0;
  p.tailS = 0.0;
  p.fadeDepthDb = 20.0;
  p.fadePeriodS = 2.0;
  auto env = Envelope(GenerateMorse("T", p), p.toneHz, p.sampleRate, 16);
  // Away from the keying edges.
  const auto steady = std::vector<double>(env.begin() + 4000, env.end() - 4000);
  const auto [lo, hi] = std::minmax_element(steady.begin(), steady.end());
  EXPECT_NEAR(20.0 * std::log10(*hi / *lo), 20.0, 0.3);
  EXPECT_NEAR(*hi, p.amplitude, 0.01);

  p.fadeDepthDb = 0.0;
  p.interfererHz = 1000.0;
  p.interfererDb = -6.0;
  p.interfererWpm = 20.0;
  p.interfererText = "T";
  const auto x = GenerateMorse("T", p);
  const double wanted = Envelope(x, p.toneHz, p.sampleRate, 16)[24000];
  const double other = Envelope(x, p.interfererHz, p.sampleRate, 16)[24000];
  EXPECT_NEAR(wanted, p.amplitude, 0.002);
  EXPECT_NEAR(20.0 * std::log10(other / wanted), -6.0, 0.1);
}

}  // namespace
}  // namespace kestrix::testing
