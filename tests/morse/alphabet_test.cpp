#include "morse/alphabet.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

#include "decoder/characters.h"
#include "transmit/morse_send_table.h"

namespace kestrix::morse {
namespace {

TEST(MorseAlphabet, EachCharacterAndPatternOnceAndShortEnoughForTheReceiveTable) {
  std::set<char> characters;
  std::set<std::string_view> patterns;
  for (const Symbol& s : kAlphabet) {
    EXPECT_TRUE(characters.insert(s.character).second) << s.character;
    EXPECT_TRUE(patterns.insert(s.pattern).second) << s.character << " " << s.pattern;
    EXPECT_EQ(s.pattern.find_first_not_of(".-"), std::string_view::npos) << s.character;
    // The receive table holds codes of one to seven elements.
    EXPECT_GE(s.pattern.size(), 1u) << s.character;
    EXPECT_LE(s.pattern.size(), 7u) << s.character;
  }
  EXPECT_EQ(characters.size(), 26u + 10u + 15u);
}

TEST(MorseAlphabet, ProsignsAreTheirLettersRunTogether) {
  const std::pair<const char*, const char*> cases[] = {
      {"AR", ".-.-."},    {"SK", "...-.-"},   {"KN", "-.--."}, {"BT", "-...-"},  {"BK", "-...-.-"},
      {"CQ", "-.-.--.-"}, {"HH", "........"}, {"a", ".-"},     {"A#R", ".-.-."}, {"", ""},
  };
  for (const auto& [letters, pattern] : cases)
    EXPECT_EQ(Joined(letters).View(), pattern) << letters;
  // Past the longest pattern the rest is dropped rather than written out of bounds.
  EXPECT_EQ(Joined("0000000").View(), std::string(kMaxJoinedElements, '-'));
  EXPECT_EQ(PatternOf('z'), PatternOf('Z'));
  EXPECT_TRUE(PatternOf('#').empty());
  EXPECT_TRUE(PatternOf('\0').empty());
}

// The sender and the decoder read the same alphabet: whatever the sender keys for a
// character, the decoder's finisher reads back as that character (or the prosign text
// the receive pane shows for it).
TEST(MorseAlphabet, TheDecoderReadsBackWhatTheSenderKeys) {
  const auto& send = transmit::SendTable();
  const auto& receive = ReceiveTables();
  int checked = 0;
  for (int c = 33; c < 127; ++c) {
    std::string_view symbols = send.Pattern(static_cast<uint8_t>(c));
    if (symbols.empty()) continue;
    ASSERT_EQ(symbols.back(), '*') << static_cast<char>(c);
    symbols.remove_suffix(1);
    const int code = ElementCode(symbols);
    const uint8_t shown = receive.upper[static_cast<size_t>(code)];
    if (shown != ' ') {
      const char want =
          c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : static_cast<char>(c);
      EXPECT_EQ(shown, static_cast<uint8_t>(want)) << static_cast<char>(c) << " " << symbols;
      ++checked;
    } else {
      EXPECT_FALSE(ProsignText(code, false).empty()) << static_cast<char>(c) << " " << symbols;
    }
  }
  EXPECT_EQ(checked, 2 * 26 + 10 + 6);  // letters in both cases, digits and , - . / ? @
}

}  // namespace
}  // namespace kestrix::morse
