// Reads text back from a recorded keying line: marks of two units or more are dashes,
// gaps of two units or more end a character and gaps of six or more end a word (the
// keyer leaves 3 units after a character and 9 between words at the standard ratios).
// For tests of everything that keys: send threads, memories, network keying.
#pragma once

#include <map>
#include <string>
#include <vector>

#include "fake_line.h"
#include "transmit/morse_send_table.h"

namespace kestrix::test {

inline std::string ReadLine(const std::vector<LineEdge>& edges, int unitMs) {
  std::map<std::string, char> byPattern;
  const auto& table = transmit::SendTable();
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789?/=.,-+@";
  for (const char* c = alphabet; *c; ++c) {
    std::string p(table.Pattern(static_cast<uint8_t>(*c)));
    if (!p.empty() && p.back() == '*') p.pop_back();
    byPattern.emplace(p, *c);
  }
  std::string text, symbols;
  auto flush = [&] {
    if (symbols.empty()) return;
    auto it = byPattern.find(symbols);
    text += it == byPattern.end() ? '#' : it->second;
    symbols.clear();
  };
  int64_t downAt = -1, upAt = -1;
  for (const LineEdge& e : edges) {
    if (e.state == transmit::kKeyDown && downAt < 0) {
      if (upAt >= 0) {
        const int64_t gap = e.atMs - upAt;
        if (gap >= 6 * unitMs) {
          flush();
          text += ' ';
        } else if (gap >= 2 * unitMs) {
          flush();
        }
      }
      downAt = e.atMs;
    } else if (e.state != transmit::kKeyDown && downAt >= 0) {
      symbols += (e.atMs - downAt) >= 2 * unitMs ? '-' : '.';
      downAt = -1;
      upAt = e.atMs;
    }
  }
  flush();
  return text;
}

}  // namespace kestrix::test
