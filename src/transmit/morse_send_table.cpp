#include "transmit/morse_send_table.h"

#include <cstdio>
#include <cstring>

namespace kestrix::transmit {

namespace {

// International Morse code, A..Z and 0..9.
constexpr const char* kLetters[26] = {".-",   "-...", "-.-.", "-..",  ".",    "..-.", "--.",
                                      "....", "..",   ".---", "-.-",  ".-..", "--",   "-.",
                                      "---",  ".--.", "--.-", ".-.",  "...",  "-",    "..-",
                                      "...-", ".--",  "-..-", "-.--", "--.."};
constexpr const char* kDigits[10] = {"-----", ".----", "..---", "...--", "....-",
                                     ".....", "-....", "--...", "---..", "----."};

struct Listed {
  uint8_t code;
  const char* pattern;
};

// Punctuation, the virtual-key codes of the punctuation keys (186..192, 219..222) and the
// private codes the transmit pane produces for shifted keys (230..239).
constexpr Listed kOthers[] = {
    {0, "^"},           {32, "^"},        {186, "^"},        {219, "^"},         {220, "^"},
    {221, "^"},         {222, "^"},       {33, "...-.*"},    {37, "-.-.-*"},     {38, ".-...*"},
    {40, "-.--.*"},     {42, "...-.-*"},  {43, ".-.-.*"},    {44, "--..--*"},    {188, "--..--*"},
    {45, "-....-*"},    {189, "-....-*"}, {46, ".-.-.-*"},   {190, ".-.-.-*"},   {47, "-..-.*"},
    {191, "-..-.*"},    {61, "-...-*"},   {187, "-...-*"},   {63, "..--..*"},    {192, "..--..*"},
    {64, ".--.-.*"},    {230, ".-.-.*"},  {231, "...-.-*"},  {232, "-.--.*"},    {233, ".-...*"},
    {234, "...-.*"},    {235, "-.-.-*"},  {236, "-...-.-*"}, {237, "........*"}, {238, "-.--.*"},
    {239, "-.-.--.-*"},
};

}  // namespace

MorseSendTable::MorseSendTable() {
  for (SendEntry& e : entries_) e.fill(kEntryEnd);
  char buf[kSendEntryBytes + 1];
  for (int i = 0; i < 26; ++i) {
    std::snprintf(buf, sizeof buf, "%s*", kLetters[i]);
    Set(static_cast<uint8_t>('A' + i), buf);
    Set(static_cast<uint8_t>('a' + i), buf);
  }
  for (int i = 0; i < 10; ++i) {
    std::snprintf(buf, sizeof buf, "%s*", kDigits[i]);
    Set(static_cast<uint8_t>('0' + i), buf);
  }
  for (const Listed& l : kOthers) Set(l.code, l.pattern);
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

}  // namespace kestrix::transmit
