// The soft-decision decoder on generated Morse: clean over the speed range, noise, fading,
// hand keying, a speed change, a drifting tone, complex baseband, and no text from noise
// or silence.
#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <string>
#include <vector>

#include "signalgen/morse_gen.h"
#include "soft/segment_viterbi.h"
#include "soft/sender_spacing.h"
#include "soft/soft_decoder.h"
#include "text_metrics.h"

namespace kestrix::soft {
namespace {

constexpr int kRate = 8000;

std::string Decode(const std::vector<int16_t>& samples, double toneHz,
                   const SoftDecoderConfig& config = {}) {
  AudioSoftDecoder decoder(kRate, toneHz, config);
  std::vector<float> audio(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) audio[i] = samples[i] / 32768.0F;
  std::string text;
  // Fed in uneven pieces, as a sound card or a file reader would.
  for (size_t at = 0; at < audio.size();) {
    const size_t n = std::min<size_t>(audio.size() - at, 777);
    decoder.Process(audio.data() + at, n);
    decoder.TakeText(text);
    at += n;
  }
  decoder.Flush();
  decoder.TakeText(text);
  return text;
}

std::string Normalised(std::string text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

struct Case {
  const char* name;
  const char* text;
  double wpm;
  double snrDb;  // in 2500 Hz, as the generator counts
  double jitter;
  double fadeDb;
  double driftHzPerMin;
  int maxErrors;
  double fadePeriodS = 4.0;
};

TEST(SoftDecoder, ReadsGeneratedMorse) {
  const Case cases[] = {
      {"clean 5 wpm", "TEST K1ABC", 5, 200, 0, 0, 0, 0},
      {"clean 20 wpm", "CQ CQ DE K1ABC K1ABC K", 20, 200, 0, 0, 0, 0},
      {"clean 60 wpm", "CQ TEST DL2XYZ DL2XYZ TEST 5NN 14", 60, 200, 0, 0, 0, 0},
      {"noise 20 wpm", "CQ CQ DE G4ABC G4ABC K", 20, 0, 0, 0, 0, 0},
      {"weak 20 wpm", "VK3ZZ DE JA1QRP RST 559 559", 20, -6, 0, 0, 0, 2},
      // At the edge (-3 and -1 dB in 500 Hz): the speed must come out of the noise at the
      // start, and only marks integrated over their whole length read this.
      {"edge 20 wpm", "KEMUB CRDLS BQGBC NNCHC RNBSD HUUSB SSMBH BREJN", 20, -10, 0, 0, 0, 10},
      {"weak 10 wpm", "CQ CQ DE W1AW W1AW K", 10, -8, 0, 0, 0, 1},
      {"hand keyed", "GM OM TNX FER CALL UR RST 579", 18, 10, 0.08, 0, 0, 1},
      {"fading 12 dB", "NAME JOHN QTH YORK HW? K", 20, 10, 0, 12, 0, 2},
      // Deep fades of a strong signal: the faded marks stand far out of the noise and must
      // not be judged against the level of the last peak (nor the first, at the start).
      {"deep fast fades", "DL2XYZ DE G4ABC GM OM TNX FER CALL UR", 20, 40, 0, 20, 0, 1, 3},
      {"deep slow fades", "DL2XYZ DE G4ABC GM OM TNX FER CALL UR RST 579", 20, 40, 0, 30, 0, 1, 12},
      {"drift 60 Hz a minute", "WX CLOUDY 12C 73 ES GUD DX SK CQ CQ DE K1ABC", 22, 10, 0, 0, 60, 1},
  };
  for (const Case& c : cases) {
    signalgen::MorseSignalParams p;
    p.sampleRate = kRate;
    p.wpm = c.wpm;
    p.snrDb = c.snrDb;
    p.amplitude = 0.05;
    p.jitter = c.jitter;
    p.fadeDepthDb = c.fadeDb;
    p.fadePeriodS = c.fadePeriodS;
    p.driftHzPerMin = c.driftHzPerMin;
    p.seed = 7;
    const std::string sent = Normalised(c.text);
    const std::string got = Normalised(Decode(signalgen::GenerateMorse(c.text, p), p.toneHz));
    EXPECT_LE(testing::InfixEditDistance(sent, got), c.maxErrors)
        << c.name << ": sent \"" << sent << "\", got \"" << got << '"';
  }
}

// Error counts over a few seeds, where one recording is too few characters to tell: random
// groups at -3 dB in 500 Hz (the length priors of a keyer read them), and a heavy fist at
// a good SNR (the priors widen for a sender whose clear marks vary).
TEST(SoftDecoder, ReadsTheEdgeAndAHeavyFistOverSeeds) {
  struct Row {
    const char* name;
    double snrDb, jitter, dashRatio;
    int maxErrors;  // over the seeds together
  };
  const std::string groups =
      "KEMUB CRDLS BQGBC NNCHC RNBSD HUUSB SSMBH BREJN QXZTA PLOVY WIFGD JTEKS MHRUA ZCPNO";
  for (const Row& r :
       {Row{"-3 dB groups", -10, 0.0, 3.0, 22}, Row{"20 % jitter", 10, 0.2, 3.6, 36}}) {
    int errors = 0, sentChars = 0;
    std::string report;
    for (uint32_t seed : {3u, 5u, 9u}) {
      signalgen::MorseSignalParams p;
      p.sampleRate = kRate;
      p.wpm = r.jitter > 0 ? 18 : 20;
      p.snrDb = r.snrDb;
      p.amplitude = 0.05;
      p.jitter = r.jitter;
      p.dashRatio = r.dashRatio;
      p.seed = seed;
      const std::string sent = Normalised(groups);
      const std::string got = Normalised(Decode(signalgen::GenerateMorse(groups, p), p.toneHz));
      errors += testing::InfixEditDistance(sent, got);
      sentChars += static_cast<int>(sent.size());
      report += " \"" + got + '"';
    }
    EXPECT_LE(errors, r.maxErrors) << r.name << " of " << sentChars << ":" << report;
  }
}

// Farnsworth spacing: letters at full speed, the gaps between letters and words stretched
// to a far slower overall speed. The sender's own gaps make the word spaces (a letter gap
// of 23 dots is no word gap for him), from the first letter on (the first spaces wait for
// his spacing), and the marks before a gap longer than the search's lag are read as they
// were, and the noise in those gaps makes no letters. Normal spacing reads as before.
// Counting spaces.
TEST(SoftDecoder, ReadsFarnsworthSpacingAsTheSenderSpacesIt) {
  struct Row {
    double wpm, overall;
    int maxErrors;
  };
  const std::string text = "CQ CQ DE K1ABC K1ABC PSE K";
  for (const Row& r : {Row{18, 5, 0}, Row{18, 12, 0}, Row{25, 15, 0}, Row{18, 0, 0}}) {
    signalgen::MorseSignalParams p;
    p.sampleRate = kRate;
    p.wpm = r.wpm;
    p.farnsworthWpm = r.overall;
    p.snrDb = 10;
    p.amplitude = 0.05;
    p.seed = 4;
    const std::string got = Normalised(Decode(signalgen::GenerateMorse(text, p), 700));
    EXPECT_LE(testing::InfixEditDistance(Normalised(text), got), r.maxErrors)
        << r.wpm << "/" << r.overall << ": " << got;
  }
}

// Two stations' overs, as a QSO recorded at one end sounds (another level, speed and
// pitch; the own sidetone with the receiver muted, digital silence between its elements;
// fading on one side), and one sender's steps of level and speed with no pause. Every
// over is read: each, after the first two words it may take to re-acquire it, is found in
// the text with few errors.
TEST(SoftDecoder, ReadsEveryOverOfATwoSidedQso) {
  struct Row {
    const char* name;
    double wpm, snrDb;
    signalgen::OtherStation other;
    double fadeDb;
    int maxErrors;  // in each over
  };
  const Row rows[] = {
      {"sidetone 20 dB down", 20, 0, {-20, 28, 30, true, 1.0}, 0, 3},
      {"sidetone 14 dB up", 22, 3, {14, 16, -20, true, 1.0}, 0, 2},
      {"other 25 dB up, 12 wpm", 25, 0, {25, 12, -50, false, 1.0}, 0, 2},
      {"one side fading", 18, 5, {-10, 35, 50, false, 1.0}, 10, 3},
      {"level step 25 dB down", 20, 25, {-25, 0, 0, false, 0.0}, 0, 2},
      {"speed 15 to 32 wpm", 15, 5, {0, 32, 0, false, 0.0}, 0, 3},
      {"speed 32 to 15 wpm", 32, 5, {0, 15, 0, false, 0.0}, 0, 3},
  };
  const char* overs[] = {"CQ CQ DE K1ABC K1ABC K", "K1ABC DE G4XYZ GM OM UR RST 579 579 K",
                         "G4XYZ DE K1ABC R TNX FER CALL NAME JOHN QTH YORK K"};
  for (const Row& r : rows) {
    signalgen::MorseSignalParams p;
    p.sampleRate = kRate;
    p.wpm = r.wpm;
    p.snrDb = r.snrDb;
    p.amplitude = 0.02;
    p.other = r.other;
    p.fadeDepthDb = r.fadeDb;
    p.fadePeriodS = 5;
    p.seed = 11;
    const std::string text = std::string(overs[0]) + "|" + overs[1] + "|" + overs[2];
    const std::string got = Normalised(Decode(signalgen::GenerateMorse(text, p), p.toneHz));
    for (const char* over : overs) {
      std::string rest = Normalised(over);
      rest = rest.substr(rest.find(' ', rest.find(' ') + 1) + 1);
      EXPECT_LE(testing::InfixEditDistance(rest, got), r.maxErrors)
          << r.name << ": \"" << rest << "\" in \"" << got << '"';
    }
  }
}

TEST(SenderSpacing, LearnsLetterAndWordGapsFromTheGapsKeyed) {
  struct Row {
    const char* name;
    std::vector<double> gaps;  // dots
    double letter, word;       // 0: no estimate yet
  };
  const Row rows[] = {
      {"too few", {3, 7}, 0, 0},
      {"normal", {3, 3, 7, 3.2, 2.9, 7.4, 3, 3}, 3, 7},
      {"Farnsworth 18/12", {6.9, 6.9, 16, 7.1, 6.8, 16.5, 7}, 6.9, 16},
      {"no word gaps", {6.9, 7.2, 6.8, 7}, 6.95, 6.95 * 7 / 3},
      // A pause between overs does not move the word gap far.
      {"normal and a pause", {3, 3, 7, 3, 3, 60, 3, 7, 3, 7}, 3, 7},
  };
  for (const Row& r : rows) {
    SenderSpacing spacing;
    bool ready = false;
    for (double g : r.gaps) ready = spacing.Add(g);
    EXPECT_EQ(ready, r.letter > 0) << r.name;
    if (!ready) continue;
    EXPECT_NEAR(spacing.Letter(), r.letter, 0.15 * r.letter) << r.name;
    EXPECT_NEAR(spacing.Word(), r.word, 0.15 * r.word) << r.name;
  }
}

TEST(SoftDecoder, FollowsASpeedChange) {
  signalgen::MorseSignalParams p;
  p.sampleRate = kRate;
  p.snrDb = 10;
  p.wpm = 15;
  p.tailS = 0.3;
  std::vector<int16_t> audio = signalgen::GenerateMorse("CQ CQ DE W1AW W1AW", p);
  p.wpm = 24;
  p.leadInS = 0.3;
  const std::vector<int16_t> fast = signalgen::GenerateMorse("QRL? DE W1AW W1AW K", p);
  audio.insert(audio.end(), fast.begin(), fast.end());
  const std::string got = Normalised(Decode(audio, p.toneHz));
  EXPECT_LE(testing::InfixEditDistance("cq cq de w1aw w1aw qrl? de w1aw w1aw k", got), 3) << got;
}

// Noise before the text (a recording that opens with the band, or a station that starts
// late), and static crashes: short full-scale bursts between and over the elements.
TEST(SoftDecoder, WaitsForTheToneAndBlanksStaticCrashes) {
  const std::string text = "CQ CQ DE W9XG W9XG K";
  for (bool crashes : {false, true}) {
    signalgen::MorseSignalParams p;
    p.sampleRate = kRate;
    p.snrDb = 0;
    p.amplitude = 0.05;
    p.leadInS = crashes ? 1.0 : 9.0;
    std::vector<int16_t> audio = signalgen::GenerateMorse(text, p);
    if (crashes) {
      for (size_t at = kRate / 7; at + 8 < audio.size(); at += kRate / 4) {
        for (size_t k = 0; k < 8; ++k) audio[at + k] = (at / 8) % 2 ? 25000 : -25000;
      }
    }
    const std::string got = Normalised(Decode(audio, p.toneHz));
    EXPECT_LE(testing::InfixEditDistance(Normalised(text), got), 1)
        << (crashes ? "crashes" : "lead-in") << ": " << got;
  }
}

TEST(SoftDecoder, ToneStandsOutOnlyWhenKeyed) {
  signalgen::MorseSignalParams p;
  p.sampleRate = kRate;
  p.snrDb = 0;
  p.amplitude = 0.05;
  for (bool keyed : {true, false}) {
    if (!keyed) p.amplitude = 1e-9;
    const std::vector<int16_t> audio = signalgen::GenerateMorse("TEST TEST", p);
    std::vector<float> x(audio.begin(), audio.end());
    EXPECT_EQ(ToneStandsOut(x.data(), x.size(), kRate, 700.0), keyed);
    EXPECT_FALSE(ToneStandsOut(x.data(), x.size(), kRate, 1500.0));
  }
}

TEST(SoftDecoder, GivesNoTextForNoiseOrSilence) {
  signalgen::MorseSignalParams p;
  p.sampleRate = kRate;
  p.leadInS = 20;
  p.tailS = 0;
  p.amplitude = 1e-9;  // the one element is far below the noise
  for (double snr : {200.0, 0.0}) {
    p.snrDb = snr;
    // With snr 200 the tone itself is the only thing there: scale the noise in by hand.
    std::vector<int16_t> audio = signalgen::GenerateMorse("E", p);
    if (snr > 100) {
      uint32_t state = 1;
      for (auto& s : audio) {
        state = state * 1664525U + 1013904223U;
        s = static_cast<int16_t>(static_cast<int>(state >> 20) - 2048);
      }
    }
    EXPECT_EQ(Normalised(Decode(audio, 700)), "") << "snr " << snr;
    std::vector<int16_t> silence(static_cast<size_t>(kRate) * 10, 0);
    EXPECT_EQ(Normalised(Decode(silence, 700)), "");
  }
}

TEST(SoftDecoder, ReadsComplexBasebandOffTheCentre) {
  // "PARIS PARIS" keyed at 25 wpm, 18 Hz above the centre of a 250 Hz stream.
  constexpr double kFs = 250.0;
  const double unitS = 1.2 / 25;
  std::vector<std::complex<float>> x;
  uint32_t state = 3;
  auto noise = [&] {
    state = state * 1664525U + 1013904223U;
    return (static_cast<float>(state >> 8) / 16777216.0F - 0.5F) * 0.2F;
  };
  auto add = [&](double units, bool on) {
    const int n = static_cast<int>(std::lround(units * unitS * kFs));
    for (int i = 0; i < n; ++i) {
      const double t = static_cast<double>(x.size()) / kFs;
      const std::complex<float> tone =
          on ? std::polar(1.0F, static_cast<float>(2 * 3.14159265358979 * 18.0 * t))
             : std::complex<float>{};
      x.push_back(tone + std::complex<float>(noise(), noise()));
    }
  };
  add(20, false);
  for (int word = 0; word < 2; ++word) {
    for (const char* letter : {".--.", ".-", ".-.", "..", "..."}) {
      for (const char* e = letter; *e != 0; ++e) {
        add(*e == '.' ? 1 : 3, true);
        add(1, false);
      }
      add(2, false);
    }
    add(4, false);
  }
  add(20, false);
  SoftDecoderConfig config;
  config.sampleRate = kFs;
  SoftDecoder decoder(config);
  decoder.Process(x.data(), x.size());
  decoder.Flush();
  std::string text;
  decoder.TakeText(text);
  EXPECT_EQ(Normalised(text), "paris paris");
  EXPECT_NEAR(decoder.State().wpm, 25.0, 4.0);
  EXPECT_GT(decoder.State().snrDb, 6.0);
}

// Six observations a dot.
void SetMorseTiming(SegmentViterbi& v) {
  auto lognormal = [](double mean) {
    std::array<float, SegmentViterbi::kMaxDuration + 1> t{};
    for (int d = 1; d <= SegmentViterbi::kMaxDuration; ++d) {
      const double z = (std::log(d) - std::log(mean)) / 0.3;
      t[d] = std::fabs(z) > 3.5 ? static_cast<float>(SegmentViterbi::kNever)
                                : static_cast<float>(-0.5 * z * z - std::log(d));
    }
    return t;
  };
  v.SetDurations(kDot, lognormal(6));
  v.SetDurations(kDash, lognormal(18));
  v.SetDurations(kElementGap, lognormal(6));
  v.SetDurations(kCharGap, lognormal(18));
  v.SetDurations(kWordGap, lognormal(42));
  for (SegmentKind m : {kDot, kDash}) {
    for (SegmentKind g : {kElementGap, kCharGap, kWordGap}) v.SetTransition(m, g, std::log(0.3));
  }
  for (SegmentKind g : {kElementGap, kCharGap, kWordGap, kIdle}) {
    v.SetTransition(g, kDot, std::log(0.4));
    v.SetTransition(g, kDash, std::log(0.4));
  }
  v.SetTransition(kWordGap, kIdle, std::log(0.2));
  v.SetTransition(kIdle, kIdle, std::log(0.2));
}

TEST(SegmentViterbi, SplitsCleanEvidenceIntoSegments) {
  // "A" then a word gap then "T".
  SegmentViterbi v;
  SetMorseTiming(v);
  const std::pair<int, int> runs[] = {{6, 1}, {6, 0}, {18, 1}, {42, 0}, {18, 1}, {40, 0}};
  for (auto [length, on] : runs) {
    for (int i = 0; i < length; ++i) v.Push(on ? 4.0F : -4.0F);
  }
  std::vector<SegmentKind> kinds;
  std::vector<int64_t> ends;
  v.Commit(v.Time() - 30, [&](const Segment& s) {
    kinds.push_back(s.kind);
    ends.push_back(s.end);
  });
  const std::vector<SegmentKind> want{kDot, kElementGap, kDash, kWordGap, kDash};
  EXPECT_EQ(kinds, want);
  EXPECT_EQ(ends, (std::vector<int64_t>{6, 12, 30, 72, 90}));
  // Handed out once.
  EXPECT_EQ(v.Commit(v.Time() - 30, [](const Segment&) {}), 0);
}

// A gap longer than the commit lag (a Farnsworth letter gap): the marks before it are
// committed as they were while it goes on, and the open gap itself is not handed out.
TEST(SegmentViterbi, CommitsTheMarksBeforeAGapThatHasNotEnded) {
  SegmentViterbi v;
  SetMorseTiming(v);
  auto lognormal = [](double mean) {
    std::array<float, SegmentViterbi::kMaxDuration + 1> t{};
    for (int d = 1; d <= SegmentViterbi::kMaxDuration; ++d) {
      const double z = (std::log(d) - std::log(mean)) / 0.3;
      t[d] = std::fabs(z) > 3.5 ? static_cast<float>(SegmentViterbi::kNever)
                                : static_cast<float>(-0.5 * z * z - std::log(d));
    }
    return t;
  };
  v.SetDurations(kCharGap, lognormal(140));  // 49 observations at the least
  v.SetDurations(kWordGap, lognormal(300));  // 105
  // "A", then 30 observations of a gap still going on.
  const std::pair<int, int> runs[] = {{6, 1}, {6, 0}, {18, 1}, {30, 0}};
  for (auto [length, on] : runs) {
    for (int i = 0; i < length; ++i) v.Push(on ? 4.0F : -4.0F);
  }
  std::vector<Segment> got;
  v.Commit(v.Time() - 10, [&](const Segment& s) { got.push_back(s); });
  ASSERT_EQ(got.size(), 3U);
  EXPECT_EQ(got[0].kind, kDot);
  EXPECT_EQ(got[1].kind, kElementGap);
  EXPECT_EQ(got[2].kind, kDash);
  EXPECT_EQ(got[2].start, 12);
  EXPECT_EQ(got[2].end, 30);
}

TEST(SegmentViterbi, CoherentSignalMakesAMarkWhereItsRatiosAloneDoNot) {
  // A dash between long gaps whose observations each look like noise (ratio -0.2): kept in
  // phase, the whole dash adds up to a mark scored log I0(2|sum|) - energy; with its phase
  // turning half a cycle every observation it is no mark at all.
  struct Case {
    const char* name;
    double turn;  // phase step per observation, radians
    bool mark;
  };
  for (const Case c : {Case{"in phase", 0.0, true}, Case{"phase turning", 3.14159, false}}) {
    SCOPED_TRACE(c.name);
    SegmentViterbi v;
    SetMorseTiming(v);
    const std::pair<int, int> runs[] = {{42, 0}, {18, 1}, {60, 0}};
    int n = 0;
    for (auto [length, on] : runs) {
      for (int i = 0; i < length; ++i, ++n) {
        const std::complex<double> w = on ? std::polar(0.6, c.turn * n) : 0.0;
        v.PushCoherent(-0.2F, w, 0.5);
      }
    }
    std::vector<Segment> marks;
    v.Commit(v.Time(), [&](const Segment& s) {
      if (IsMark(s.kind)) marks.push_back(s);
    });
    if (!c.mark) {
      EXPECT_TRUE(marks.empty());
      continue;
    }
    ASSERT_EQ(marks.size(), 1U);
    EXPECT_EQ(marks[0].kind, kDash);
    EXPECT_EQ(marks[0].start, 42);
    EXPECT_EQ(marks[0].end, 60);
    // 2|sum| = 21.6 over 18 observations of energy 0.5.
    const double x = 21.6;
    const double logI0 = x - 0.5 * std::log(2 * std::numbers::pi * x) + std::log1p(1 / (8 * x));
    EXPECT_NEAR(marks[0].evidence, logI0 - 9.0, 2e-3);
  }
}

}  // namespace
}  // namespace kestrix::soft
