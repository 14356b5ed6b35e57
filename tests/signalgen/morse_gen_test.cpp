#include "signalgen/morse_gen.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <complex>

namespace kestrix::signalgen {
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

// The key-down bursts of a signal made with `p` at 44100 Hz (63 samples = 1 cycle at 700 Hz).
std::vector<Burst> Bursts(const std::vector<int16_t>& x, const MorseSignalParams& p) {
  const std::vector<double> env = Envelope(x, p.toneHz, p.sampleRate, 63);
  std::vector<Burst> runs;
  for (size_t i = 0; i < env.size(); ++i) {
    if (env[i] < 0.5 * p.amplitude) continue;
    if (runs.empty() || runs.back().start + runs.back().length != i) runs.push_back({i, 0});
    ++runs.back().length;
  }
  return runs;
}

double Ms(size_t samples, int rate = 44100) {
  return 1000.0 * static_cast<double>(samples) / rate;
}

// 20 wpm (60 ms dot) at 700 Hz with 200 ms of silence either side.
MorseSignalParams Clean() {
  return {.wpm = 20.0, .toneHz = 700.0, .leadInS = 0.2, .tailS = 0.2, .sampleRate = 44100};
}

TEST(MorsePatternTest, KnowsLettersDigitsAndPunctuation) {
  const std::pair<char, const char*> cases[] = {
      {'A', ".-"},     {'q', "--.-"},  {'Y', "-.--"},  {'0', "-----"},  {'9', "----."},
      {'?', "..--.."}, {'/', "-..-."}, {'=', "-...-"}, {'@', ".--.-."}, {'"', ".-..-."},
      {')', "-.--.-"}, {'#', ""},      {'<', ""},      {' ', ""}};
  for (const auto& [c, pattern] : cases) EXPECT_EQ(MorsePattern(c), pattern) << c;
}

TEST(GenerateMorseTest, ElementsAndGapsFollowTheTiming) {
  // Key-down lengths and the gaps between them in ms.
  const struct {
    const char* text;
    double dashRatio;
    std::vector<double> lengths, gaps;
  } cases[] = {
      {"E E", 3.0, {60, 60}, {420}},                  // a word gap
      {"TS", 3.5, {210, 60, 60, 60}, {180, 60, 60}},  // a letter gap, element gaps, long dash
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    MorseSignalParams p = Clean();
    p.dashRatio = c.dashRatio;
    const auto runs = Bursts(GenerateMorse(c.text, p), p);
    ASSERT_EQ(runs.size(), c.lengths.size());
    EXPECT_NEAR(Ms(runs[0].start), 200.0, 0.5);  // the lead-in
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_NEAR(Ms(runs[i].length), c.lengths[i], 0.5) << "element " << i;
      if (i > 0) {
        const size_t gap = runs[i].start - runs[i - 1].start - runs[i - 1].length;
        EXPECT_NEAR(Ms(gap), c.gaps[i - 1], 0.5) << "gap before element " << i;
      }
    }
  }
  // 200 ms lead-in + dot + word gap + dot + 200 ms tail
  EXPECT_EQ(GenerateMorse("E E", Clean()).size(), static_cast<size_t>(std::lround(0.94 * 44100)));
}

TEST(GenerateMorseTest, FarnsworthStretchesOnlyTheGapsBetweenLettersAndWords) {
  // 20 wpm letters, 10 wpm overall: a 50-dot word takes 6 s, of which its 31 dots of
  // elements and element gaps keep 1.86 s and the 19 dots of letter and word gaps share
  // the rest: 4.14 s / 19 = 218 ms a gap dot.
  const struct {
    double overall;
    std::vector<double> gaps;  // ms, in "EE E"
  } cases[] = {{10.0, {653.7, 1525.3}}, {0.0, {180.0, 420.0}}, {25.0, {180.0, 420.0}}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.overall);
    MorseSignalParams p = Clean();
    p.farnsworthWpm = c.overall;
    const auto runs = Bursts(GenerateMorse("EE E", p), p);
    ASSERT_EQ(runs.size(), 3U);
    for (size_t i = 0; i < runs.size(); ++i) {
      EXPECT_NEAR(Ms(runs[i].length), 60.0, 0.5);
      if (i > 0) {
        const size_t gap = runs[i].start - runs[i - 1].start - runs[i - 1].length;
        EXPECT_NEAR(Ms(gap), c.gaps[i - 1], 0.5) << "gap before element " << i;
      }
    }
  }
}

TEST(GenerateMorseTest, OversAlternateBetweenTwoStations) {
  // "E|I|E": the second station 20 dB down at 10 wpm (120 ms dots), 500 ms between overs,
  // its over a sidetone with the receiver muted (no noise at all, even between its dots).
  MorseSignalParams p = Clean();
  p.amplitude = 0.2;
  p.snrDb = 40.0;
  p.other = {.levelDb = -20.0, .wpm = 10.0, .noiseFree = true, .gapS = 0.5};
  const auto x = GenerateMorse("E|I|E", p);
  const auto env = Envelope(x, p.toneHz, p.sampleRate, 63);
  // Bursts over a tenth of the first station's level: all four, with the overs' timing.
  std::vector<Burst> runs;
  for (size_t i = 0; i < env.size(); ++i) {
    if (env[i] < 0.05 * p.amplitude) continue;
    if (runs.empty() || runs.back().start + runs.back().length != i) runs.push_back({i, 0});
    ++runs.back().length;
  }
  ASSERT_EQ(runs.size(), 4U);
  const double expected[][2] = {{200, 60}, {760, 120}, {1000, 120}, {1620, 60}};  // start, length
  for (size_t i = 0; i < runs.size(); ++i) {
    // (a low threshold: the strong station's bursts come out a few ms long)
    EXPECT_NEAR(Ms(runs[i].start), expected[i][0], 5.0) << i;
    EXPECT_NEAR(Ms(runs[i].length), expected[i][1], 5.0) << i;
  }
  EXPECT_NEAR(env[static_cast<size_t>(0.23 * 44100)], p.amplitude, 0.02);
  EXPECT_NEAR(env[static_cast<size_t>(0.82 * 44100)], p.amplitude / 10, 0.005);
  // Digital silence between the sidetone's dots; noise between the other overs.
  auto quiet = [&](double fromS, double toS) {
    return std::all_of(x.begin() + static_cast<long>(fromS * 44100),
                       x.begin() + static_cast<long>(toS * 44100),
                       [](int16_t v) { return v == 0; });
  };
  EXPECT_TRUE(quiet(0.89, 0.99));
  EXPECT_FALSE(quiet(0.3, 0.4));
  EXPECT_FALSE(quiet(1.3, 1.4));
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
  EXPECT_NEAR(Ms(firstAbove(0.9) - firstAbove(0.1)), 0.59 * 8.0, 0.4);
  // Nothing at all before the edge begins (half the rise time before the key-down instant).
  for (size_t i = 0; i < static_cast<size_t>(0.195 * p.sampleRate); ++i) ASSERT_EQ(x[i], 0);
}

TEST(GenerateMorseTest, NoiseLevelMatchesSnrIn2500Hz) {
  for (int rate : {8000, 44100}) {
    const MorseSignalParams p{
        .amplitude = 0.1, .snrDb = 10.0, .leadInS = 2.0, .tailS = 0.0, .sampleRate = rate};
    const std::vector<int16_t> x = GenerateMorse("", p);
    ASSERT_EQ(x.size(), static_cast<size_t>(2 * rate));
    double power = 0.0;
    for (int16_t s : x) power += (s / 32767.0) * (s / 32767.0);
    power /= static_cast<double>(x.size());
    const double inBand = power * 2500.0 / (rate / 2.0);
    const double snr = 10.0 * std::log10((0.1 * 0.1 / 2.0) / inBand);
    EXPECT_NEAR(snr, 10.0, 0.2) << "at " << rate << " Hz";
  }
  const std::vector<int16_t> silent = GenerateMorse("", {.leadInS = 0.5});
  EXPECT_TRUE(std::all_of(silent.begin(), silent.end(), [](int16_t s) { return s == 0; }));
}

TEST(GenerateMorseTest, JitterAndNoiseFollowTheSeed) {
  MorseSignalParams p = Clean();
  p.jitter = 0.2;
  const std::string text(40, 'E');
  const auto a = GenerateMorse(text, p);
  EXPECT_EQ(a, GenerateMorse(text, p));
  // Hand-key spread: the dots vary widely, but none is shorter than 0.3 of nominal.
  const auto runs = Bursts(a, p);
  ASSERT_EQ(runs.size(), 40u);
  const auto [shortest, longest] = std::minmax_element(
      runs.begin(), runs.end(), [](const Burst& x, const Burst& y) { return x.length < y.length; });
  EXPECT_GE(Ms(shortest->length), 0.3 * 60.0 - 0.5);
  EXPECT_GT(Ms(longest->length - shortest->length), 20.0);
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
  // 16 samples are 1 cycle of the tone and 2 of the interferer; one 6 s key-down.
  MorseSignalParams p{.wpm = 20.0,
                      .toneHz = 500.0,
                      .dashRatio = 100.0,
                      .fadeDepthDb = 20.0,
                      .fadePeriodS = 2.0,
                      .leadInS = 0.0,
                      .tailS = 0.0,
                      .sampleRate = 8000};
  auto env = Envelope(GenerateMorse("T", p), p.toneHz, p.sampleRate, 16);
  // Away from the keying edges.
  const auto [lo, hi] = std::minmax_element(env.begin() + 4000, env.end() - 4000);
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

TEST(GenerateMorseTest, DriftSlidesTheToneAndTheFilterKeepsOnlyItsBand) {
  // One 6 s key-down at 500 Hz sliding by 600 Hz a minute (10 Hz/s).
  MorseSignalParams p{.wpm = 20.0,
                      .toneHz = 500.0,
                      .dashRatio = 100.0,
                      .driftHzPerMin = 600.0,
                      .leadInS = 0.0,
                      .tailS = 0.0,
                      .sampleRate = 8000};
  const auto x = GenerateMorse("T", p);
  // Frequency from the upward zero crossings in half a second around `t`.
  auto frequency = [&](double t) {
    const size_t from = static_cast<size_t>((t - 0.25) * 8000);
    const size_t to = static_cast<size_t>((t + 0.25) * 8000);
    size_t first = 0, last = 0, crossings = 0;
    for (size_t i = from + 1; i < to; ++i) {
      if (x[i - 1] < 0 && x[i] >= 0) {
        if (crossings++ == 0) first = i;
        last = i;
      }
    }
    return 8000.0 * static_cast<double>(crossings - 1) / static_cast<double>(last - first);
  };
  EXPECT_NEAR(frequency(0.5), 505.0, 1.5);
  EXPECT_NEAR(frequency(5.5), 555.0, 1.5);

  // A 300 Hz CW filter around 700 Hz: the tone passes at full level, the noise
  // kilohertz away is gone (down by more than this measurement resolves).
  MorseSignalParams f{.wpm = 20.0,
                      .toneHz = 700.0,
                      .amplitude = 0.1,
                      .dashRatio = 60.0,
                      .filterHz = 300.0,
                      .leadInS = 0.0,
                      .tailS = 0.0,
                      .sampleRate = 44100};
  const auto tone = Envelope(GenerateMorse("T", f), 700.0, 44100, 63);
  EXPECT_NEAR(tone[tone.size() / 2], f.amplitude, 0.005);
  f.snrDb = 0.0;
  f.dashRatio = 1.0;
  f.leadInS = 2.0;
  const auto noise = GenerateMorse("E", f);
  auto level = [&](double hz) {
    const auto env = Envelope(noise, hz, 44100, 441);  // 100 Hz wide
    double sum = 0.0;
    for (size_t i = 4410; i < 80000; ++i) sum += env[i] * env[i];
    return sum;
  };
  EXPECT_GT(10.0 * std::log10(level(700.0) / level(3000.0)), 25.0);  // white noise: 0 dB
  EXPECT_LT(10.0 * std::log10(level(700.0) / level(750.0)), 3.0);
}

}  // namespace
}  // namespace kestrix::signalgen
