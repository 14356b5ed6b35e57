#include <gtest/gtest.h>

#include "platform/key_codes.h"

namespace kestrix::platform {
namespace {

TEST(KeyCodes, QtKeysToVirtualKeys) {
  constexpr int kPad = qtkey::kKeypadModifier;
  struct Case {
    int key;
    int modifiers;
    uint32_t x11;
    int vk;
  };
  const Case cases[] = {
      {'A', 0, 38, 'A'},
      {'Z', 0, 52, 'Z'},
      {'7', 0, 16, '7'},
      {'&', 0, 16, '7'},
      {'@', 0, 11, '2'},
      {'?', 0, 61, 191},
      {'/', 0, 61, 191},
      {';', 0, 47, 186},
      {'+', 0, 21, 187},
      {'_', 0, 20, 189},
      {'~', 0, 49, 192},
      {'{', 0, 34, 219},
      {'|', 0, 51, 220},
      {'"', 0, 48, 222},
      {' ', 0, 65, 32},
      {'5', kPad, 84, 101},
      {'*', kPad, 63, 106},
      {'+', kPad, 86, 107},
      {'-', kPad, 82, 109},
      {'.', kPad, 91, 110},
      {'/', kPad, 106, 111},
      {qtkey::kUp, 0, 111, 38},
      {qtkey::kDown, 0, 116, 40},
      {qtkey::kF1, 0, 67, 112},
      {qtkey::kF1 + 9, 0, 76, 121},
      {qtkey::kEscape, 0, 9, 27},
      {qtkey::kBackspace, 0, 22, 8},
      {qtkey::kShift, 0, 50, 16},
      {qtkey::kControl, 0, 37, 17},
      {qtkey::kAlt, 0, 64, 18},
      {qtkey::kNumLock, 0, 77, 144},
      {qtkey::kHome, kPad, 79, 36},
      // Characters no US key carries: the US key in the same place.
      {0xDC, 0, 34, 219},    // German U-umlaut, where "[" is
      {0x0419, 0, 24, 'Q'},  // Cyrillic short i, on the Q key
      {0xDF, 0, 20, 189},    // sharp s, where "-" is
      {0xE9, 0, 200, 0},     // nothing known there
  };
  for (const Case& c : cases) {
    EXPECT_EQ(VirtualKeyFromQt(c.key, c.modifiers, c.x11), c.vk) << std::hex << c.key;
  }
}

}  // namespace
}  // namespace kestrix::platform
