#include "decoder/characters.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "decoder/timing.h"

namespace kestrix {
namespace {

class Recorder : public TextSink {
 public:
  void InsertText(const char* bytes, size_t length) override { text.append(bytes, length); }
  void TableCharacter(char c) override { posted += c; }
  void ProsignLetter(char c) override { posted += c; }
  std::string text;
  std::string posted;
};

struct Finisher {
  TimingState t;
  ReceiveOptions o;
  ElementTiming e{t, o};
  Recorder sink;
  CharacterFinisher f{t, e, o, sink};

  // Feeds a pattern of '.' and '-' and then a character end, one flag per call.
  void Send(const std::string& pattern) {
    for (char c : pattern) {
      (c == '.' ? t.DotFlag : t.DashFlag) = 1;
      f.Step();
    }
    t.CharEndFlag = 1;
    f.Step();
  }
};

TEST(CharacterTables, CodesCarryTheirLengthInTheTopBit) {
  const CharacterTables& t = ReceiveTables();
  EXPECT_EQ(t.lower[3], 'e');
  EXPECT_EQ(t.lower[2], 't');
  EXPECT_EQ(t.lower[5], 'a');
  EXPECT_EQ(t.upper[6], 'N');
  EXPECT_EQ(t.lower[32], '0');
  EXPECT_EQ(t.lower[63], '5');
  EXPECT_EQ(t.lower[16], ' ') << "unassigned codes up to 128 are spaces";
  EXPECT_EQ(t.lower[129], 0) << "codes above 128 have no character";
  EXPECT_EQ(t.upper[82], '|');
}

struct FinishCase {
  const char* name;
  std::vector<std::string> patterns;
  bool prosigns;
  bool nonEnglish;
  LetterCase letterCase;
  std::string expect;
};

class FinishText : public ::testing::TestWithParam<FinishCase> {};

TEST_P(FinishText, PrintsWhatTheOptionsAskFor) {
  const FinishCase& c = GetParam();
  Finisher s;
  s.o.Prosigns = c.prosigns;
  s.o.NonEnglish = c.nonEnglish;
  s.o.Case = c.letterCase;
  for (const auto& p : c.patterns) s.Send(p);
  EXPECT_EQ(s.sink.text, c.expect);
}

const auto kLower = LetterCase::kLower;
const auto kUpper = LetterCase::kUpper;

INSTANTIATE_TEST_SUITE_P(
    Cases, FinishText,
    ::testing::Values(FinishCase{"DotDashIsA", {".-"}, true, false, kLower, "a"},
                      FinishCase{"UpperCase", {".-"}, true, false, kUpper, "A"},
                      FinishCase{"OneSpaceInARow", {"", "", ".", ""}, true, false, kLower, " e "},
                      FinishCase{"RunTogetherCq", {"-.-.--.-"}, true, false, kLower, "CQ "},
                      FinishCase{
                          "RunTogetherCqNoProsigns", {"-.-.--.-"}, false, false, kLower, " "},
                      FinishCase{"SevenDashes", {"-------"}, true, false, kLower, "@ "},
                      FinishCase{"SevenDashesNoProsigns", {"-------"}, false, false, kLower, " "},
                      FinishCase{"BkKeepsItsSemicolon", {"-.-.-."}, true, false, kLower, "BK;"},
                      FinishCase{"SemicolonAlone", {"-.-.-."}, false, false, kLower, ";"},
                      FinishCase{"KnWithoutNonEnglish", {"-.--."}, true, false, kLower, "KN "},
                      FinishCase{"HCircumflexWithNonEnglish", {"-.--."}, true, true, kLower, "h^ "},
                      FinishCase{"BtIsEquals", {"-...-"}, true, false, kUpper, "= "},
                      FinishCase{"LongCodesAreSpaces", {"......-"}, true, false, kLower, " "},
                      FinishCase{"Pattern174PrintsNothing", {"-...-.-"}, true, false, kLower, ""},
                      FinishCase{"UmlautInWindows1252", {".-.-"}, true, true, kUpper, "\xC4 "},
                      FinishCase{"EGraveUpper", {".-..-"}, true, true, kUpper, "\xC8 "}),
    [](const auto& info) { return std::string(info.param.name); });

TEST(Finisher, TextOutputOffStillPrintsProsigns) {
  Finisher s;
  s.o.TextOutput = 0;
  s.Send(".-");
  s.Send(".-.-.");
  EXPECT_EQ(s.sink.text, "AR");
}

TEST(Finisher, HighRawSpeedSuppressesTableCharactersOnly) {
  Finisher s;
  s.t.RawWpm = 111;
  s.Send(".-");
  s.Send("...-.-");
  EXPECT_EQ(s.sink.text, "SK");
}

TEST(Finisher, SquelchHoldsTheCodeAndKeepsAddingTheWeight) {
  Finisher s;
  s.o.SquelchOn = true;
  s.Send(".-");  // code 1 + 4 = 5 after the first end
  EXPECT_EQ(s.t.ElementCode, 5);
  s.f.Step();
  EXPECT_EQ(s.t.ElementCode, 9);
  EXPECT_TRUE(s.sink.text.empty());
  s.o.SquelchOn = false;
  s.f.Step();  // 13 is "r"
  EXPECT_EQ(s.sink.text, "r");
  EXPECT_EQ(s.t.CodeLetter, 13);
}

TEST(Finisher, PostsProsignLettersAndTableCharacters) {
  Finisher s;
  s.Send("-...-");
  s.Send("");
  EXPECT_EQ(s.sink.posted, "BT  ");
}

TEST(Finisher, SavesTheCheckpointWithTheCharacterEndRaised) {
  Finisher s;
  s.Send("-.");
  EXPECT_EQ(s.t.Saved.CharEndFlag, 1);
  EXPECT_EQ(s.t.Saved.ElementCode, 6);
  // A restore raises the end again and the next call finishes the code once more,
  // adding the weight a second time: 6 + 4 = 10, a "k".
  s.e.RestoreCounters();
  s.f.Step();
  EXPECT_EQ(s.sink.text, "nk");
}

}  // namespace
}  // namespace kestrix
