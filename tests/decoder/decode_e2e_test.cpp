// Generated Morse through the whole receive chain, as kestrix-decode runs it.
#include <gtest/gtest.h>

#include <string>

#include "support/decode_helpers.h"
#include "support/text_metrics.h"

namespace kestrix::testing {

using signalgen::GenerateMorse;
using signalgen::MorseSignalParams;

namespace {

// The opening "VVV VVV" is what the learn phase eats; the rest must come out exactly.
const std::string kPreamble = "VVV VVV ";
const std::string kPangram = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789 PARIS";

class CleanSpeeds : public ::testing::TestWithParam<int> {};

TEST_P(CleanSpeeds, DecodesExactlyAfterTheLearnPhase) {
  MorseSignalParams p;
  p.wpm = GetParam();
  p.toneHz = 700;
  const std::string text = DecodeText(kPreamble + kPangram + " K", p);
  EXPECT_NE(text.find(" " + Lower(kPangram) + " k"), std::string::npos) << text;
}

INSTANTIATE_TEST_SUITE_P(Wpm, CleanSpeeds, ::testing::Values(12, 20, 30, 40));

TEST(DecodeEndToEnd, ProsignsPrintTheirTextFollowedByTheTableSpace) {
  MorseSignalParams p;
  const std::string text = DecodeText(kPreamble + "DE K1ABC <AR> <SK> <BT> <KN> <CQ> TEST", p);
  // A prosign's table entry is a space, and the word gap after it adds the empty code's
  // space: two blanks after each prosign text.
  EXPECT_NE(text.find("de k1abc AR  SK  =  KN  CQ  test"), std::string::npos) << text;

  DecodeOptions off;
  off.prosigns = false;
  const std::string plain = DecodeText(kPreamble + "DE <AR> <CQ> TEST", p, off);
  EXPECT_NE(plain.find("de     test"), std::string::npos) << plain;
}

TEST(DecodeEndToEnd, NonEnglishLettersAndUpperCase) {
  MorseSignalParams p;
  DecodeOptions o;
  o.nonEnglish = true;
  o.letterCase = LetterCase::kUpper;
  const std::string text = DecodeText(kPreamble + "<AA> <OE> <UT> <KN> TEST", p, o);
  // Windows-1252: A, O and U with diaeresis; -.--. is H^ rather than KN here.
  EXPECT_NE(text.find("\xC4  \xD6  \xDC  H^  TEST"), std::string::npos) << text;

  o.letterCase = LetterCase::kLower;
  const std::string lower = DecodeText(kPreamble + "<AA> TEST", p, o);
  EXPECT_NE(lower.find("\xE4  test"), std::string::npos) << lower;
}

TEST(DecodeEndToEnd, SpacesOffRunsWordsTogether) {
  MorseSignalParams p;
  DecodeOptions o;
  o.spaces = false;
  const std::string text = DecodeText(kPreamble + "DE K1ABC TEST K", p, o);
  // Without the word-space detector a character only ends at the next key-down, so the
  // words run together and the final K stays pending.
  EXPECT_NE(text.find("dek1abctest"), std::string::npos) << text;
  EXPECT_EQ(text.find(' ', text.find("dek1abc")), std::string::npos) << text;
}

TEST(DecodeEndToEnd, AToneGivenInHertzTunesTheSameAsAuto) {
  MorseSignalParams p;
  p.toneHz = 1000;
  const auto samples = GenerateMorse(kPreamble + "CQ DE K1ABC K", p);
  DecodeOptions given;
  given.toneHz = 1000.0;
  EXPECT_EQ(DecodeSamples(samples, given), DecodeSamples(samples));
}

// Character error rate bounds measured on these fixed seeds, with headroom: the decoder
// makes no errors on them at the time of writing; the bound catches a real regression
// (a broken threshold or timing rule shows up as tens of percent) without flaking on a
// single changed character.
TEST(DecodeEndToEnd, NoisySignalsStayReadable) {
  struct Case {
    double snrDb;
    double bound;
  };
  for (const Case c : {Case{10.0, 0.02}, Case{0.0, 0.05}, Case{-3.0, 0.10}}) {
    MorseSignalParams p;
    p.amplitude = 0.1;
    p.snrDb = c.snrDb;
    p.seed = 3;
    const std::string text = DecodeText(kPreamble + kPangram, p);
    EXPECT_LE(CharacterErrorRate(Lower(kPangram), text), c.bound)
        << "SNR " << c.snrDb << " dB: " << text;
  }
}

TEST(DecodeEndToEnd, HandKeyedSignalStaysReadable) {
  MorseSignalParams p;
  p.wpm = 18;
  p.toneHz = 650;
  p.jitter = 0.10;
  p.dashRatio = 3.4;
  p.snrDb = 15;
  p.amplitude = 0.2;
  p.seed = 5;
  const std::string text = DecodeText(kPreamble + kPangram, p);
  EXPECT_LE(CharacterErrorRate(Lower(kPangram), text), 0.15) << text;
}

TEST(DecodeEndToEnd, KeepsDecodingAfterAnEarlyCheckpointRestore) {
  // "VV" right after learning is the pattern that used to restore an all-zero checkpoint
  // and stop the decoder counting for good.
  MorseSignalParams p;
  p.wpm = 20;
  const std::string text = DecodeText("VVV VVV CQ CQ DE K1ABC K1ABC K", p);
  EXPECT_NE(text.find("cq de k1abc k1abc k"), std::string::npos) << text;
}

}  // namespace
}  // namespace kestrix::testing
