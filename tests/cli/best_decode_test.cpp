// kestrix-decode --best: generated recordings the window's defaults misread, which --best
// must read, and recordings the defaults already read, which it must not make worse.
#include "cli/best_decode.h"

#include <gtest/gtest.h>

#include <string>

#include "language/plausibility.h"
#include "support/decode_helpers.h"
#include "support/text_metrics.h"

namespace kestrix::testing {

using signalgen::GenerateMorse;
using signalgen::MorseSignalParams;

namespace {

const std::string kQso = "CQ CQ DE K1ABC K1ABC THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG K";
const std::string kShortQso = "DL2XYZ DE G4ABC UR RST 579 NAME JOHN HW? KN";

std::string DecodeBestSamples(const std::vector<int16_t>& samples,
                              const DecodeOptions& options = DecodeOptions{}) {
  return DecodeBest(CutCaptureBlocks(samples, 1, options), options, 1).text;
}

std::string Sent(const std::string& text) {
  return Plausibility::Normalise(Lower(text));
}

double Cer(const std::string& sent, const std::string& decoded) {
  return CharacterErrorRate(Sent(sent), Plausibility::Normalise(decoded));
}

struct HardCase {
  const char* name;
  std::string text;
  MorseSignalParams params;
  double bestBound;  // CER --best must stay under, counted from the first character
};

MorseSignalParams Params(double wpm, double snrDb, uint32_t seed) {
  MorseSignalParams p;
  p.wpm = wpm;
  p.snrDb = snrDb;
  p.amplitude = 0.1;
  p.seed = seed;
  return p;
}

TEST(BestDecode, ReadsWhatTheDefaultsMisread) {
  std::vector<HardCase> cases;
  // Short and clean: the learn phase of the plain chain eats the first word.
  cases.push_back({"first word", "CQ DE K1ABC K", Params(20, 200, 1), 0.0});
  {
    // 60 Hz a minute: the tone leaves the plain chain's filter half a minute in.
    MorseSignalParams p = Params(22, 10, 2);
    p.driftHzPerMin = 60;
    cases.push_back({"drift", kQso, p, 0.03});
  }
  {
    // Noise only inside a 250 Hz CW filter around the tone.
    MorseSignalParams p = Params(22, 20, 3);
    p.filterHz = 250;
    cases.push_back({"narrow filter", kShortQso, p, 0.0});
  }
  {
    MorseSignalParams p = Params(22, 15, 4);
    p.fadeDepthDb = 25;
    p.fadePeriodS = 4;
    cases.push_back({"fading", kShortQso, p, 0.25});
  }
  for (const HardCase& c : cases) {
    const auto samples = GenerateMorse(c.text, c.params);
    const std::string plain = DecodeSamples(samples);
    const std::string best = DecodeBestSamples(samples);
    const double plainCer = Cer(c.text, plain);
    const double bestCer = Cer(c.text, best);
    EXPECT_GT(plainCer, 0.0) << c.name << ": the defaults read it; the case tests nothing";
    EXPECT_LT(bestCer, plainCer) << c.name << "\n plain: " << plain << "\n best:  " << best;
    EXPECT_LE(bestCer, c.bestBound) << c.name << "\n best:  " << best;
  }
}

TEST(BestDecode, DoesNotSpoilWhatTheDefaultsRead) {
  struct Case {
    const char* name;
    MorseSignalParams params;
  };
  MorseSignalParams hand = Params(18, 12, 5);
  hand.jitter = 0.1;
  hand.dashRatio = 3.4;
  MorseSignalParams other = Params(20, 10, 6);
  other.interfererHz = 850;
  other.interfererWpm = 28;
  const std::vector<Case> cases = {
      {"clean 35 wpm", Params(35, 200, 7)},
      {"SNR -3 dB", Params(20, -3, 8)},
      {"hand-keyed", hand},
      {"interferer", other},
  };
  for (const Case& c : cases) {
    const std::string sent = "VVV VVV " + kShortQso;
    const auto samples = GenerateMorse(sent, c.params);
    const std::string plain = DecodeSamples(samples);
    const std::string best = DecodeBestSamples(samples);
    // Scored after the preamble, which the plain chain spends learning.
    EXPECT_LE(Cer(kShortQso, best), Cer(kShortQso, plain))
        << c.name << "\n plain: " << plain << "\n best:  " << best;
  }
}

TEST(BestDecode, SoftTextWinsOnlyWhenItReadsClearlyBetter) {
  const std::string qso = Lower(kQso);
  const struct {
    const char* name;
    std::string assembled, soft;
    bool softWins;
  } cases[] = {
      {"same text", qso, qso, false},
      {"no soft text", qso, "", false},
      {"no assembled text", "", "cq de k1abc", true},
      {"soft reads the opening too", "k1abc the quick brown fox jumps over the lazy dog k", qso,
       true},
      {"soft reads noise letters", qso, "eteti tnmae itee tt e", false},
      {"one letter more is not enough", qso.substr(0, qso.size() - 2), qso, false},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(SoftReadsBetter(c.assembled, c.soft), c.softWins) << c.name;
  }
}

TEST(BestDecode, TakesTheSoftReadingOfAWeakSignalAndKeepsTheChainsOnAStrongOne) {
  MorseSignalParams weak = Params(20, -8, 2);  // -1 dB in 500 Hz
  weak.amplitude = 0.02;
  MorseSignalParams edge = Params(20, -10, 3);  // -3 dB
  edge.amplitude = 0.02;
  // Noise first: the chains' tone pick of the opening seconds is noise, the soft engine
  // tunes itself as --engine soft does.
  MorseSignalParams late = Params(20, -2, 4);
  late.leadInS = 8.0;
  const std::string groups = "KEMUB CRDLS BQGBC NNCHC RNBSD HUUSB SSMBH BREJN";
  const struct {
    const char* name;
    std::string text;
    MorseSignalParams params;
    bool softTaken;
  } cases[] = {{"weak", kQso, weak, true},
               {"random groups at the edge", groups, edge, true},
               {"8 s of noise first", kQso, late, true},
               {"strong", kQso, Params(20, 20, 2), false}};
  for (const auto& c : cases) {
    const auto samples = GenerateMorse(c.text, c.params);
    const BestReading best = ReadBest(samples, 1, DecodeOptions{}, 1);
    EXPECT_EQ(best.softTaken, c.softTaken) << c.name << "\n soft: " << best.softText;
    if (c.softTaken) {
      EXPECT_LT(Cer(c.text, best.text), Cer(c.text, best.assembled))
          << c.name << "\n soft:  " << best.text << "\n chains: " << best.assembled;
    } else {
      EXPECT_EQ(best.text, DecodeBestSamples(samples)) << c.name;
    }
  }
}

TEST(BestDecode, IsAnOptionForRecordingsOnly) {
  DecodeOptions o;
  std::string error;
  ASSERT_TRUE(ParseDecodeOptions({"--best", "--trace", "t.csv", "rec.wav"}, o, error)) << error;
  EXPECT_TRUE(o.best);
  ASSERT_TRUE(ParseDecodeOptions({"rec.wav"}, o, error));
  EXPECT_FALSE(o.best);
  for (const std::vector<std::string>& live :
       {std::vector<std::string>{"--best", "--device", "1"}, {"--best", "--input-file", "a.wav"}}) {
    EXPECT_FALSE(ParseDecodeOptions(live, o, error));
    EXPECT_NE(error.find("--best"), std::string::npos) << error;
  }
}

TEST(BestDecode, ChainsCoverTheSettingsNotFixedOnTheCommandLine) {
  DecodeOptions o;
  const auto all = BestChains(o);
  ASSERT_EQ(all.size(), 6u);
  // The window's defaults come first: they win ties.
  EXPECT_EQ(all[0].Name(), "noisy/afc-off");
  o.threshold = ThresholdMode::kAuto;
  const auto fixed = BestChains(o);
  ASSERT_EQ(fixed.size(), 2u);
  EXPECT_EQ(fixed[0].Name(), "auto/afc-off");
  EXPECT_EQ(fixed[1].Name(), "auto/afc-narrow");
}

TEST(BestDecode, CutsTheRecordingIntoTheSessionsBlocks) {
  // As many blocks as the plain session processes, for partial, whole and stereo input.
  struct Case {
    size_t frames;
    int channels;
    double flushSeconds;
  };
  for (const Case c :
       {Case{1000, 1, 2.0}, Case{8192 * 3, 1, 0.0}, Case{8192 * 2 + 5, 2, 1.0}, Case{0, 1, 0.0}}) {
    DecodeOptions o;
    o.flushSeconds = c.flushSeconds;
    std::vector<int16_t> frames(c.frames * static_cast<size_t>(c.channels), 100);
    DecodeSession session(o, nullptr);
    session.Feed(frames.data(), static_cast<int>(c.frames), c.channels);
    session.Finish();
    const CaptureBlocks blocks = CutCaptureBlocks(frames, c.channels, o);
    EXPECT_EQ(static_cast<int64_t>(blocks.size()), session.BlocksProcessed())
        << c.frames << " frames, " << c.channels << " channels";
  }
}

TEST(BestDecode, SegmentsTileTheRecordingAndAvoidCuttingWords) {
  // Two chains; words at blocks [10, 14] and [30, 60] (one longer than a segment may be).
  ChainReading a;
  a.text = "abc defg";
  a.textBlock = {10, 12, 14, 15, 30, 40, 50, 60};
  ChainReading b;
  b.text = "xy z";
  b.textBlock = {11, 14, 14, 31};
  const auto segments = CutSegments({a, b}, 100);
  ASSERT_FALSE(segments.empty());
  EXPECT_EQ(segments.front().first, 0);
  EXPECT_EQ(segments.back().second, 100);
  for (size_t i = 0; i < segments.size(); ++i) {
    const auto [first, end] = segments[i];
    if (i > 0) {
      EXPECT_EQ(first, segments[i - 1].second);
    }
    if (i + 1 < segments.size()) {
      EXPECT_GE(end - first, kMinSegmentBlocks);
      EXPECT_LE(end - first, kMaxSegmentBlocks);
    }
    // No cut inside the first word of either chain.
    EXPECT_FALSE(first > 10 && first <= 14) << "cut at " << first;
  }
}

TEST(Plausibility, CwTextOutscoresNoiseLetters) {
  const Plausibility& m = Plausibility::Model();
  struct Pair {
    const char* better;
    const char* worse;
  };
  for (const Pair p :
       {Pair{"cq cq de k1abc k", "tm eet ie ettm"}, Pair{"ur rst 599 599", "ur rst 5n9 ie9"},
        Pair{"tnx fer call", "tnxefer call"}, Pair{"name john", "nt e john"},
        Pair{"73 es gud dx", "73 es gud dx e e"}}) {
    EXPECT_GT(m.Score(p.better), m.Score(p.worse)) << p.better << " / " << p.worse;
  }
  EXPECT_GT(m.Score("the quick brown fox"), 0.0);
  EXPECT_LT(m.Score("e t e i t"), 0.0);
  EXPECT_EQ(m.Score(""), 0.0);
  // Case and runs of blanks do not matter; "before" gives the context of a split word.
  EXPECT_DOUBLE_EQ(m.Score("CQ  DE"), m.Score("cq de"));
  EXPECT_NE(m.Score("bc", "k1a"), m.Score("bc", " "));
}

}  // namespace
}  // namespace kestrix::testing
