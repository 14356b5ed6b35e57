// The Morse alphabet: letters, digits and punctuation with their patterns, written once
// here for the receive decoder, the transmit pattern table and the test-signal generator.
// Each of them chooses which characters it shows or sends and adds its own extras (the
// decoder's prosign texts, the sender's key codes); none keeps a copy of the patterns.
//
// A pattern is a string of '.' (dot) and '-' (dash), first element first. A prosign is its
// letters sent run together with no letter gap: AR is ".-" + ".-." = ".-.-.", so prosigns
// are named by their letters (Joined("AR")) rather than listed.
//
// Everything here is constexpr data and pure functions: usable from any thread and at
// compile time. No dependencies, so every folder may include it.
#pragma once

#include <array>
#include <cstddef>
#include <string_view>

namespace kestrix::morse {

struct Symbol {
  char character;            // upper case for letters
  std::string_view pattern;  // '.' and '-'
};

// International Morse: A..Z, 0..9, then punctuation.
inline constexpr Symbol kAlphabet[] = {
    {'A', ".-"},      {'B', "-..."},   {'C', "-.-."},   {'D', "-.."},    {'E', "."},
    {'F', "..-."},    {'G', "--."},    {'H', "...."},   {'I', ".."},     {'J', ".---"},
    {'K', "-.-"},     {'L', ".-.."},   {'M', "--"},     {'N', "-."},     {'O', "---"},
    {'P', ".--."},    {'Q', "--.-"},   {'R', ".-."},    {'S', "..."},    {'T', "-"},
    {'U', "..-"},     {'V', "...-"},   {'W', ".--"},    {'X', "-..-"},   {'Y', "-.--"},
    {'Z', "--.."},    {'0', "-----"},  {'1', ".----"},  {'2', "..---"},  {'3', "...--"},
    {'4', "....-"},   {'5', "....."},  {'6', "-...."},  {'7', "--..."},  {'8', "---.."},
    {'9', "----."},   {'.', ".-.-.-"}, {',', "--..--"}, {'?', "..--.."}, {'/', "-..-."},
    {'=', "-...-"},   {'-', "-....-"}, {':', "---..."}, {';', "-.-.-."}, {'@', ".--.-."},
    {'\'', ".----."}, {'(', "-.--."},  {')', "-.--.-"}, {'+', ".-.-."},  {'"', ".-..-."},
    {'!', "-.-.--"},
};

// The pattern of `c` (either case), or empty for a character the alphabet doesn't have.
constexpr std::string_view PatternOf(char c) {
  const char upper = c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c;
  for (const Symbol& s : kAlphabet) {
    if (s.character == upper) return s.pattern;
  }
  return {};
}

// Longest run-together pattern Joined() builds, in elements.
inline constexpr size_t kMaxJoinedElements = 24;

// The patterns of several characters run together, as a value that can live at compile time.
class JoinedPattern {
 public:
  constexpr void Append(std::string_view pattern) {
    for (char e : pattern) {
      if (size_ < elements_.size()) elements_[size_++] = e;
    }
  }
  constexpr std::string_view View() const { return {elements_.data(), size_}; }

 private:
  std::array<char, kMaxJoinedElements> elements_{};
  size_t size_ = 0;
};

// The characters of `letters` sent with no letter gap: Joined("AR") is ".-.-.", Joined("HH")
// the eight dots of the error sign. Characters outside the alphabet add nothing.
constexpr JoinedPattern Joined(std::string_view letters) {
  JoinedPattern p;
  for (char c : letters) p.Append(PatternOf(c));
  return p;
}

}  // namespace kestrix::morse
