// The key codes of the transmit pane (Windows virtual-key numbers, which the key queue
// holds) and their translation into send codes, the indexes of the pattern table.
#pragma once

#include <cstdint>

namespace kestrix::transmit {

namespace vk {
inline constexpr int kBackspace = 8;
inline constexpr int kTab = 9;
inline constexpr int kEnter = 13;
inline constexpr int kShift = 16;
inline constexpr int kCtrl = 17;
inline constexpr int kAlt = 18;
inline constexpr int kEscape = 27;
inline constexpr int kSpace = 32;
inline constexpr int kPageUp = 33;
inline constexpr int kPageDown = 34;
inline constexpr int kEnd = 35;
inline constexpr int kHome = 36;
inline constexpr int kLeft = 37;
inline constexpr int kUp = 38;
inline constexpr int kRight = 39;
inline constexpr int kDown = 40;
inline constexpr int kInsert = 45;
inline constexpr int kDelete = 46;
inline constexpr int kNumpad0 = 96;
inline constexpr int kNumpad9 = 105;
inline constexpr int kMultiply = 106;
inline constexpr int kAdd = 107;
inline constexpr int kSubtract = 109;
inline constexpr int kDecimal = 110;
inline constexpr int kDivide = 111;
inline constexpr int kF1 = 112;
inline constexpr int kF3 = 114;
inline constexpr int kF10 = 121;
inline constexpr int kNumLock = 144;
inline constexpr int kOemPlus = 187;   // = and +
inline constexpr int kOemSlash = 191;  // / and ?
inline constexpr int kOemTilde = 192;  // the key left of 1
inline constexpr int kOemBackslash = 220;
}  // namespace vk

// The send code for virtual key `key` with Shift held or not. Shift itself comes back
// unchanged (16); the caller records it rather than queueing it. Up and Down become a
// space (the caller switches the display first).
int32_t TranslateKey(int32_t key, bool shiftHeld);

// F1..F10 in the text queue: send memory M1..M10. Returns 0 for any other code.
inline int MemoryForCode(int32_t code) {
  return code >= vk::kF1 && code <= vk::kF10 ? code - vk::kF1 + 1 : 0;
}

}  // namespace kestrix::transmit
