#include "decoder/characters.h"

#include "decoder/timing.h"
#include "morse/alphabet.h"

namespace kestrix {

namespace {

// The element code of characters sent run together, e.g. a prosign by its letters.
constexpr int JoinedCode(std::string_view letters) {
  return ElementCode(morse::Joined(letters).View());
}

// Codes with a fixed meaning of their own rather than a pattern of the alphabet: CQ run
// together (eight elements, code 330) is moved to 88 before the table is read, and the 73
// shown at 124 is too long for the table as sent. BK run together (seven elements, 174)
// keeps its code, which has no character.
constexpr int kCqRunTogether = JoinedCode("CQ");
constexpr int kCqCode = 88;
constexpr int k73Code = 124;
constexpr int kBkRunTogether = JoinedCode("BK");

// The characters the receive pane prints straight from the table. The rest of the
// alphabet's punctuation prints as a prosign text ('=' as BT) or as a space.
constexpr std::string_view kTableCharacters = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789,.-@;?:/";

struct ProsignEntry {
  int code;
  std::string_view text;     // what the receive pane shows
  std::string_view letters;  // what a partner program gets
  bool nonEnglishLetter;     // the code is a non-English letter when those are on
};

constexpr ProsignEntry kProsigns[] = {
    {JoinedCode("KA"), "KA", "KA", false},
    {JoinedCode("BT"), "=", "BT", false},
    {JoinedCode("KN"), "KN", "KN", true},
    {JoinedCode("AR"), "AR", "AR", false},
    {JoinedCode("SN"), "SN", "SN", true},
    {JoinedCode("AS"), "AS", "AS", false},
    {JoinedCode("SK"), "SK", "SK", false},
    {kCqCode, "CQ", "CQ", false},
    {JoinedCode(";"), "BK", "BK", false},  // printed before the semicolon itself
    {k73Code, "73", "73", false},
    {JoinedCode("HI"), "HI", "HI", false},
    {ElementCode("-------"), "@", "@", false},
};

struct NonEnglishLetter {
  int code;
  std::string_view upper;
  std::string_view lower;
};

constexpr NonEnglishLetter kNonEnglish[] = {
    {ElementCode("----"), "CH", "ch"},      {ElementCode("..--"), "\xDC", "\xFC"},
    {ElementCode(".-.-"), "\xC4", "\xE4"},  {ElementCode("---."), "\xD6", "\xF6"},
    {ElementCode("--.--"), "\xD1", "\xF1"}, {ElementCode(".--.-"), "\xC5", "\xE0"},
    {ElementCode(".-..-"), "\xC8", "\xE8"},  // E grave
    {ElementCode(".---."), "J^", "j^"},     {ElementCode("-.--."), "H^", "h^"},
    {ElementCode("--.-."), "G^", "g^"},     {ElementCode("...-."), "S^", "s^"},
    {ElementCode(".--.."), "P'", "p'"},     {ElementCode("-.-.."), "\xC7", "\xE7"},
    {ElementCode("..-.."), "\xC9", "\xE9"},
};

const ProsignEntry* FindProsign(int code) {
  for (const ProsignEntry& p : kProsigns) {
    if (p.code == code) return &p;
  }
  return nullptr;
}

}  // namespace

CharacterTables::CharacterTables() {
  // Every code of up to seven elements is a space unless the alphabet fills it; longer
  // codes have no character at all.
  for (int i = 0; i <= 128; ++i) {
    lower[static_cast<size_t>(i)] = ' ';
    upper[static_cast<size_t>(i)] = ' ';
  }
  auto put = [this](std::string_view pattern, char lowerCase, char upperCase) {
    const auto code = static_cast<size_t>(ElementCode(pattern));
    lower[code] = static_cast<uint8_t>(lowerCase);
    upper[code] = static_cast<uint8_t>(upperCase);
  };
  for (char c : kTableCharacters) {
    const char small = c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
    put(morse::PatternOf(c), small, c);
  }
  put(morse::PatternOf(')'), '|', '|');  // the closing parenthesis prints as a bar
}

const CharacterTables& ReceiveTables() {
  static const CharacterTables tables;
  return tables;
}

std::string_view ProsignText(int code, bool nonEnglish) {
  const ProsignEntry* p = FindProsign(code);
  if (p == nullptr || (nonEnglish && p->nonEnglishLetter)) return "";
  return p->text;
}

std::string_view ProsignLetters(int code) {
  const ProsignEntry* p = FindProsign(code);
  return p == nullptr ? "" : p->letters;
}

std::string_view NonEnglishText(int code, LetterCase letterCase) {
  for (const NonEnglishLetter& l : kNonEnglish) {
    if (l.code == code) return letterCase == LetterCase::kUpper ? l.upper : l.lower;
  }
  return "";
}

uint8_t CharacterFinisher::Step() {
  // Codes past seven elements are all invalid; the weight stops growing at 2^30 so that a
  // long run of elements in noise cannot overflow.
  constexpr int32_t kMaxWeight = 1 << 30;
  if (t_.DotFlag) {
    t_.ElementCode =
        t_.ElementCode > kMaxWeight ? t_.ElementCode : t_.ElementCode + t_.ElementWeight;
    t_.ElementWeight = t_.ElementWeight >= kMaxWeight ? kMaxWeight : t_.ElementWeight * 2;
    t_.DotFlag = 0;
  } else if (t_.DashFlag) {
    t_.ElementWeight = t_.ElementWeight >= kMaxWeight ? kMaxWeight : t_.ElementWeight * 2;
    t_.DashFlag = 0;
  } else if (t_.CharEndFlag) {
    Finish();
  }
  return t_.DecodedChar;
}

void CharacterFinisher::Finish() {
  constexpr int64_t kMaxHeldCode = (int64_t{1} << 31) - 1;
  // The terminating bit. Held characters keep adding it while the squelch is on; the
  // sum saturates instead of overflowing; such a code ends up as code 0 anyway.
  const int64_t held = static_cast<int64_t>(t_.ElementCode) + t_.ElementWeight;
  t_.ElementCode = held > kMaxHeldCode ? kMaxHeldCode : static_cast<int32_t>(held);
  if (o_.SquelchOn) return;

  if (t_.ElementCode == kCqRunTogether) t_.ElementCode = kCqCode;
  // Codes past seven elements become code 0, except BK run together, which prints nothing
  // at all, not even a space.
  if (t_.ElementCode != kBkRunTogether && (t_.ElementCode > 128 || t_.ElementCode < 1)) {
    t_.ElementCode = 0;
  }
  const int code = t_.ElementCode;
  const auto& tables = ReceiveTables();
  t_.DecodedChar = o_.Case == LetterCase::kUpper ? tables.upper[static_cast<size_t>(code)]
                                                 : tables.lower[static_cast<size_t>(code)];
  t_.CodeLetter = code;
  timing_.SaveCounters();

  if (o_.Prosigns) {
    const std::string_view text = ProsignText(code, o_.NonEnglish != 0);
    if (!text.empty()) {
      sink_.InsertText(text.data(), text.size());
      for (char c : ProsignLetters(code)) sink_.ProsignLetter(c);
    }
  }
  if (o_.NonEnglish) {
    const std::string_view text = NonEnglishText(code, o_.Case);
    if (!text.empty()) sink_.InsertText(text.data(), text.size());
  }

  if (t_.RawWpm > 110) {
    t_.DecodedChar = 0;
  } else {
    if (t_.LastWasSpace == 1 && code == 1) t_.DecodedChar = 0;
    t_.LastWasSpace = code == 1 ? 1 : 0;
  }

  if (o_.TextOutputOn() && t_.DecodedChar != 0) {
    const char c = static_cast<char>(t_.DecodedChar);
    sink_.InsertText(&c, 1);
    sink_.TableCharacter(c);
  }

  t_.ElementCode = 0;
  t_.ElementWeight = 1;
  t_.CharEndFlag = 0;
}

}  // namespace kestrix
