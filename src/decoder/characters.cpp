#include "decoder/characters.h"

#include "decoder/timing.h"

namespace kestrix {

CharacterTables::CharacterTables() {
  for (int i = 0; i <= 128; ++i) {
    lower[static_cast<size_t>(i)] = ' ';
    upper[static_cast<size_t>(i)] = ' ';
  }
  struct Entry {
    int code;
    char lower;
    char upper;
  };
  static constexpr Entry kEntries[] = {
      {2, 't', 'T'},   {3, 'e', 'E'},   {4, 'm', 'M'},   {5, 'a', 'A'},   {6, 'n', 'N'},
      {7, 'i', 'I'},   {8, 'o', 'O'},   {9, 'w', 'W'},   {10, 'k', 'K'},  {11, 'u', 'U'},
      {12, 'g', 'G'},  {13, 'r', 'R'},  {14, 'd', 'D'},  {15, 's', 'S'},  {17, 'j', 'J'},
      {18, 'y', 'Y'},  {20, 'q', 'Q'},  {22, 'x', 'X'},  {23, 'v', 'V'},  {25, 'p', 'P'},
      {26, 'c', 'C'},  {27, 'f', 'F'},  {28, 'z', 'Z'},  {29, 'l', 'L'},  {30, 'b', 'B'},
      {31, 'h', 'H'},  {32, '0', '0'},  {33, '1', '1'},  {35, '2', '2'},  {39, '3', '3'},
      {47, '4', '4'},  {48, '9', '9'},  {54, '/', '/'},  {56, '8', '8'},  {60, '7', '7'},
      {62, '6', '6'},  {63, '5', '5'},  {76, ',', ','},  {82, '|', '|'},  {85, '.', '.'},
      {94, '-', '-'},  {105, '@', '@'}, {106, ';', ';'}, {115, '?', '?'}, {120, ':', ':'},
      {128, ' ', ' '},
  };
  for (const Entry& e : kEntries) {
    lower[static_cast<size_t>(e.code)] = static_cast<uint8_t>(e.lower);
    upper[static_cast<size_t>(e.code)] = static_cast<uint8_t>(e.upper);
  }
}

const CharacterTables& ReceiveTables() {
  static const CharacterTables tables;
  return tables;
}

std::string_view ProsignText(int code, bool nonEnglish) {
  switch (code) {
    case 42:
      return "KA";
    case 46:
      return "=";
    case 50:
      return nonEnglish ? "" : "KN";
    case 53:
      return "AR";
    case 55:
      return nonEnglish ? "" : "SN";
    case 61:
      return "AS";
    case 87:
      return "SK";
    case 88:
      return "CQ";
    case 106:
      return "BK";
    case 124:
      return "73";
    case 127:
      return "HI";
    case 128:
      return "@";
    default:
      return "";
  }
}

std::string_view ProsignLetters(int code) {
  switch (code) {
    case 46:
      return "BT";
    case 128:
      return "@";
    default:
      return ProsignText(code, false);
  }
}

std::string_view NonEnglishText(int code, LetterCase letterCase) {
  const bool up = letterCase == LetterCase::kUpper;
  switch (code) {
    case 16:
      return up ? "CH" : "ch";
    case 19:
      return up ? "\xDC" : "\xFC";
    case 21:
      return up ? "\xC4" : "\xE4";
    case 24:
      return up ? "\xD6" : "\xF6";
    case 36:
      return up ? "\xD1" : "\xF1";
    case 41:
      return up ? "\xC5" : "\xE0";
    case 45:
      return up ? "\xC8" : "\xE8";  // E grave
    case 49:
      return up ? "J^" : "j^";
    case 50:
      return up ? "H^" : "h^";
    case 52:
      return up ? "G^" : "g^";
    case 55:
      return up ? "S^" : "s^";
    case 57:
      return up ? "P'" : "p'";
    case 58:
      return up ? "\xC7" : "\xE7";
    case 59:
      return up ? "\xC9" : "\xE9";
    default:
      return "";
  }
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

  if (t_.ElementCode == 330) t_.ElementCode = 88;  // -.-.--.- sent as one run
  if (t_.ElementCode != 174 && (t_.ElementCode > 128 || t_.ElementCode < 1)) t_.ElementCode = 0;
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
