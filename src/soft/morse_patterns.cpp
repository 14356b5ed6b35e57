#include "soft/morse_patterns.h"

#include "morse/alphabet.h"

namespace kestrix::soft {
namespace {

// Prosigns as operators write them, checked before the alphabet (KN and "(" share a
// pattern; on the air it is KN).
constexpr std::string_view kProsigns[] = {"AR", "SK", "KN", "KA", "SN", "AS", "CQ", "HH"};

// The alphabet's own text for each character: one byte, pointing into this table.
constexpr char kCharacters[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789.,?/=-:;@'()+\"!";

}  // namespace

std::string_view PatternText(std::string_view pattern) {
  for (std::string_view letters : kProsigns) {
    if (morse::Joined(letters).View() == pattern) return letters;
  }
  for (const morse::Symbol& s : morse::kAlphabet) {
    if (s.pattern != pattern) continue;
    for (const char& c : kCharacters) {
      if (c == s.character) return {&c, 1};
    }
  }
  return {};
}

}  // namespace kestrix::soft
