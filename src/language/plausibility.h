// How much a stretch of decoded text reads like amateur CW rather than the letters a
// decoder makes of noise: a character 4-gram model trained on CW phrases (see
// tools/build_plausibility_model.py) against a model of decoded noise, in which short
// codes (e, t, i, a, n, m) are common and long ones rare.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

namespace kestrix {

class Plausibility {
 public:
  // The model built from the table compiled into the program; built on first use,
  // read-only afterwards (safe to share between threads).
  static const Plausibility& Model();

  // Model symbol of a character: 0 space, 1..26 letters (either case), 27..36 digits,
  // then / ? . , = and one symbol for anything else.
  static int Symbol(char c);
  // Natural log of the probability of `symbol` after the up to three symbols `history`
  // (oldest first).
  double LogProb(const int* history, int length, int symbol) const;
  // Natural log of the probability of `symbol` in decoded noise.
  static double NoiseLogProb(int symbol);

  // Sum over the characters of `text` of the log-likelihood ratio CW text / decoded
  // noise, in nats: positive for text that reads like CW, negative for noise letters, 0
  // for no text. Runs of blanks count as one. Each word is scored from the blank before
  // it; `before` is the text that precedes `text` (its unfinished last word, if any, is the
  // context of the first characters).
  double Score(std::string_view text, std::string_view before = " ") const;

  // Text as the model sees it: lower case, runs of blanks folded into one.
  static std::string Normalise(std::string_view text);

 private:
  Plausibility();
  struct Context {
    uint32_t total = 0;     // how often the context was followed by anything
    uint32_t distinct = 0;  // how many different symbols followed it
  };
  uint32_t Count(int order, uint32_t key) const;

  std::vector<std::unordered_map<uint32_t, uint32_t>> counts_;   // by order, key = base-K
  std::vector<std::unordered_map<uint32_t, Context>> contexts_;  // by context length
};

}  // namespace kestrix
