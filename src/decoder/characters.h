// Element codes to characters: the two 257-entry tables (lower and upper case), prosign
// texts, the non-English letters, and the character finisher that runs once per tick.
//
// An element code is 2^n plus 2^j for every dot at position j (first element in bit 0),
// so "E" is 3, "T" 2, "A" 5 and code 1 (no elements) is a word space. The patterns come
// from the one Morse alphabet (morse/alphabet.h); this file only says which characters and
// prosigns the receive pane prints for them.
// All texts are Windows-1252 bytes. Receive-loop thread only.
#pragma once

#include <array>
#include <cstdint>
#include <string_view>

#include "decoder/options.h"
#include "decoder/state.h"
#include "decoder/text_sink.h"

namespace kestrix {

inline constexpr int kCharTableSize = 257;

// The element code of a pattern of '.' and '-': the sum the finisher builds one element
// at a time. ElementCode(".-") is 5, ElementCode("") 1.
constexpr int ElementCode(std::string_view pattern) {
  int code = 0;
  int weight = 1;
  for (char element : pattern) {
    if (element == '.') code += weight;
    weight *= 2;
  }
  return code + weight;
}

struct CharacterTables {
  std::array<uint8_t, kCharTableSize> lower{};
  std::array<uint8_t, kCharTableSize> upper{};
  CharacterTables();
};

const CharacterTables& ReceiveTables();

// Prosign text for a code, or empty. `nonEnglish` hides the two codes the non-English
// letters reuse (50 and 55).
std::string_view ProsignText(int code, bool nonEnglish);
// The one or two letters a prosign posts to a partner program.
std::string_view ProsignLetters(int code);
// Non-English letter text for a code and case, or empty.
std::string_view NonEnglishText(int code, LetterCase letterCase);

class ElementTiming;

class CharacterFinisher {
 public:
  CharacterFinisher(TimingState& state, ElementTiming& timing, const ReceiveOptions& options,
                    TextSink& sink)
      : t_(state), timing_(timing), o_(options), sink_(sink) {}

  // One call per tick after the classifier. Returns DecodedChar.
  uint8_t Step();

 private:
  void Finish();

  TimingState& t_;
  ElementTiming& timing_;
  const ReceiveOptions& o_;
  TextSink& sink_;
};

}  // namespace kestrix
