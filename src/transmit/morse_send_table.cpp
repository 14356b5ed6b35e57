#include "transmit/morse_send_table.h"

#include <cstring>
#include <span>
#include <string>

#include "morse/alphabet.h"

namespace kestrix::transmit {

namespace {

struct Listed {
  uint8_t code;
  // Sent as these characters of the alphabet run together: one character, or the letters
  // of a prosign. Empty sends a word space.
  std::string_view letters;
};

// Punctuation, the virtual-key codes of the punctuation keys (186..192, 219..222), the
// keys that send prosigns and the private codes the transmit pane produces for shifted
// keys (230..239).
constexpr Listed kOthers[] = {
    {0, ""},     {32, ""},    {186, ""},   {219, ""},   {220, ""},   {221, ""},
    {222, ""},   {40, "("},   {43, "+"},   {44, ","},   {45, "-"},   {46, "."},
    {47, "/"},   {61, "="},   {63, "?"},   {64, "@"},   {187, "="},  {188, ","},
    {189, "-"},  {190, "."},  {191, "/"},  {192, "?"},  {33, "SN"},  {37, "KA"},
    {38, "AS"},  {42, "SK"},  {230, "AR"}, {231, "SK"}, {232, "KN"}, {233, "AS"},
    {234, "SN"}, {235, "KA"}, {236, "BK"}, {237, "HH"}, {238, "KN"}, {239, "CQ"},
};

// Network keying's punctuation and procedural characters (see NetworkSendTable).
constexpr Listed kNetwork[] = {
    {32, ""},    {'"', "\""}, {'\'', "'"}, {'$', "SX"}, {'(', "("}, {')', ")"},
    {'+', "+"},  {',', ","},  {'-', "-"},  {'.', "."},  {'/', "/"}, {':', ":"},
    {';', ";"},  {'=', "="},  {'?', "?"},  {'_', "IQ"}, {'@', "@"}, {'*', "AR"},
    {'<', "SK"}, {'>', "BK"}, {'!', "SN"}, {'&', "AS"},
};

}  // namespace

MorseSendTable::MorseSendTable(SendTableKind kind) {
  for (SendEntry& e : entries_) e.fill(kEntryEnd);
  // Symbols of a character: its elements, then the end-of-character space.
  auto character = [this](uint8_t code, std::string_view pattern) {
    std::string symbols(pattern);
    symbols += '*';
    Set(code, symbols);
  };
  // Letters in both cases and digits.
  for (const morse::Symbol& s : morse::kAlphabet) {
    const char c = s.character;
    if (c >= 'A' && c <= 'Z') {
      character(static_cast<uint8_t>(c), s.pattern);
      character(static_cast<uint8_t>(c - 'A' + 'a'), s.pattern);
    } else if (c >= '0' && c <= '9') {
      character(static_cast<uint8_t>(c), s.pattern);
    }
  }
  for (const Listed& l : kind == SendTableKind::kNetwork ? std::span<const Listed>(kNetwork)
                                                         : std::span<const Listed>(kOthers)) {
    if (l.letters.empty()) {
      Set(l.code, "^");
    } else {
      character(l.code, morse::Joined(l.letters).View());
    }
  }
}

void MorseSendTable::Set(uint8_t code, std::string_view pattern) {
  SendEntry& e = entries_[code];
  e.fill(kEntryEnd);
  // The longest pattern (239) is nine symbols; the entry always keeps its newline.
  const size_t n = pattern.size() < e.size() - 1 ? pattern.size() : e.size() - 1;
  std::memcpy(e.data(), pattern.data(), n);
}

std::string_view MorseSendTable::Pattern(uint8_t code) const {
  const SendEntry& e = entries_[code];
  size_t n = 0;
  while (n < e.size() && e[n] != kEntryEnd) ++n;
  return std::string_view(reinterpret_cast<const char*>(e.data()), n);
}

const MorseSendTable& SendTable() {
  static const MorseSendTable table;
  return table;
}

const MorseSendTable& NetworkSendTable() {
  static const MorseSendTable table(SendTableKind::kNetwork);
  return table;
}

}  // namespace kestrix::transmit
