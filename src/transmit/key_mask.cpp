#include "transmit/key_mask.h"

#include <cstring>

namespace kestrix::transmit {

void KeyMask::Append(uint8_t value, int32_t n) {
  if (n <= 0) return;
  const int32_t room = kKeyMaskSamples - count_;
  if (n > room) n = room;
  std::memset(bytes_.data() + count_, value, static_cast<size_t>(n));
  count_ += n;
}

void BuildKeyMask(uint8_t code, const MorseSendTable& table, const ElementTimingValues& t,
                  bool sideToneEnabled, KeyMask& mask) {
  const uint8_t on = sideToneEnabled ? 1 : 0;
  for (uint8_t symbol : table.Entry(code)) {
    if (symbol == kEntryEnd) break;
    switch (symbol) {
      case '.':
        mask.Append(on, t.DotSamples);
        mask.Append(0, t.ElementSpaceSamples);
        break;
      case '-':
        mask.Append(on, t.DashSamples);
        mask.Append(0, t.ElementSpaceSamples);
        break;
      case '*':
        mask.Append(0, t.CharSpaceSamples);
        break;
      case '^':
        mask.Append(0, t.WordSpaceSamples);
        break;
      default:
        break;
    }
  }
}

int64_t KeyMaskSamples(uint8_t code, const MorseSendTable& table, const ElementTimingValues& t) {
  int64_t n = 0;
  for (uint8_t symbol : table.Entry(code)) {
    if (symbol == kEntryEnd) break;
    switch (symbol) {
      case '.':
        n += static_cast<int64_t>(t.DotSamples) + t.ElementSpaceSamples;
        break;
      case '-':
        n += static_cast<int64_t>(t.DashSamples) + t.ElementSpaceSamples;
        break;
      case '*':
        n += t.CharSpaceSamples;
        break;
      case '^':
        n += t.WordSpaceSamples;
        break;
      default:
        break;
    }
  }
  return n;
}

}  // namespace kestrix::transmit
