#include "language/plausibility.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <iterator>

namespace kestrix {
namespace {

struct NgramCount {
  uint32_t key;
  uint32_t count;
};

#include "plausibility_model.inc"  // data/, generated

constexpr std::string_view kAlphabet = " abcdefghijklmnopqrstuvwxyz0123456789/?.,=";
static_assert(kAlphabet.size() + 1 == kModelAlphabet, "the table was built for this alphabet");

// Element counts of the symbols' Morse codes; the model of decoded noise gives a symbol
// of n elements the chance a random run of dots and dashes that stops after each element
// with probability kStop has: kStop (1 - kStop)^(n - 1) 2^-n.
constexpr double kStop = 0.4;
// Blanks in decoded noise: between each noise letter and the next, about every other.
constexpr double kNoiseBlank = 0.3;
// Smoothing of the counts (see LogProb).
constexpr double kMinBackoff = 0.1;
constexpr double kUnigramShare = 0.1;
constexpr double kMaxCharacterScore = 2.0;

int Elements(int symbol) {
  static constexpr int kLetters[26] = {2, 4, 4, 3, 1, 4, 3, 4, 2, 4, 3, 4, 2,
                                       2, 3, 4, 4, 3, 3, 1, 3, 4, 3, 4, 4, 4};
  if (symbol >= 1 && symbol <= 26) return kLetters[symbol - 1];
  if (symbol >= 27 && symbol <= 36) return 5;
  if (symbol == 37 || symbol == 41) return 5;  // / =
  return 6;                                    // ? . , and the rest
}

}  // namespace

const Plausibility& Plausibility::Model() {
  static const Plausibility model;
  return model;
}

Plausibility::Plausibility() : counts_(kModelOrder + 1), contexts_(kModelOrder) {
  auto load = [this](int order, const NgramCount* table, size_t size) {
    auto& counts = counts_[static_cast<size_t>(order)];
    auto& contexts = contexts_[static_cast<size_t>(order - 1)];
    counts.reserve(size);
    for (size_t i = 0; i < size; ++i) {
      counts.emplace(table[i].key, table[i].count);
      Context& c = contexts[table[i].key / kModelAlphabet];
      c.total += table[i].count;
      ++c.distinct;
    }
  };
  load(1, kNgrams1, std::size(kNgrams1));
  load(2, kNgrams2, std::size(kNgrams2));
  load(3, kNgrams3, std::size(kNgrams3));
  load(4, kNgrams4, std::size(kNgrams4));
}

int Plausibility::Symbol(char c) {
  const char lower = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  if (std::isspace(static_cast<unsigned char>(c))) return 0;
  const size_t at = kAlphabet.find(lower);
  return at == std::string_view::npos ? kModelAlphabet - 1 : static_cast<int>(at);
}

uint32_t Plausibility::Count(int order, uint32_t key) const {
  const auto& counts = counts_[static_cast<size_t>(order)];
  const auto it = counts.find(key);
  return it == counts.end() ? 0 : it->second;
}

double Plausibility::LogProb(const int* history, int length, int symbol) const {
  // Witten-Bell: each order mixes its own estimate with the next lower order's, giving
  // the lower order the weight of how many different symbols the context has been seen
  // followed by. The bottom is the uniform distribution.
  double p = 1.0 / kModelAlphabet;
  double unigram = p;
  const int longest = std::min(length, kModelOrder - 1);
  for (int n = 0; n <= longest; ++n) {
    uint32_t context = 0;
    for (int i = length - n; i < length; ++i) {
      context = context * kModelAlphabet + static_cast<uint32_t>(history[i]);
    }
    const auto& contexts = contexts_[static_cast<size_t>(n)];
    const auto it = contexts.find(context);
    if (it == contexts.end()) break;  // unseen context: longer ones are unseen too
    const double seen = Count(n + 1, context * kModelAlphabet + static_cast<uint32_t>(symbol));
    const double total = it->second.total;
    const double distinct = it->second.distinct;
    // The training phrases repeat a small vocabulary, which makes the counts far more
    // certain than text on the air is; the lower order keeps at least kMinBackoff.
    const double backoff = std::max(distinct / (total + distinct), kMinBackoff);
    p = (1.0 - backoff) * seen / total + backoff * p;
    if (n == 0) unigram = p;
  }
  // Words the phrases never had still get the letters' own frequencies.
  return std::log((1.0 - kUnigramShare) * p + kUnigramShare * unigram);
}

double Plausibility::NoiseLogProb(int symbol) {
  if (symbol == 0) return std::log(kNoiseBlank);
  const int n = Elements(symbol);
  return std::log(1.0 - kNoiseBlank) + std::log(kStop) + (n - 1) * std::log(1.0 - kStop) -
         n * std::log(2.0);
}

std::string Plausibility::Normalise(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (char c : text) {
    if (std::isspace(static_cast<unsigned char>(c))) {
      if (!out.empty() && out.back() == ' ') continue;
      out += ' ';
    } else {
      out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    }
  }
  return out;
}

double Plausibility::Score(std::string_view text, std::string_view before) const {
  int history[3] = {0, 0, 0};
  int length = 0;
  auto push = [&](int s) {
    if (length < 3) {
      history[length++] = s;
    } else {
      history[0] = history[1];
      history[1] = history[2];
      history[2] = s;
    }
  };
  // Each word is judged on its own, from a blank: what follows a call sign in the
  // training phrases says little about what follows one on the air.
  const std::string context = Normalise(before);
  size_t from = context.rfind(' ');
  from = from == std::string::npos ? 0 : from;
  for (size_t i = from; i < context.size(); ++i) push(Symbol(context[i]));
  double score = 0.0;
  for (char c : Normalise(text)) {
    const int s = Symbol(c);
    if (s == 0 && length > 0 && history[length - 1] == 0) continue;  // folded blank
    // Long codes are rare in noise, but a misread signal makes them too: no single
    // character counts for more than kMaxCharacterScore.
    score += std::min(LogProb(history, length, s) - NoiseLogProb(s), kMaxCharacterScore);
    if (s == 0) length = 0;
    push(s);
  }
  return score;
}

}  // namespace kestrix
