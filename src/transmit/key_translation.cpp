#include "transmit/key_translation.h"

namespace kestrix::transmit {

int32_t TranslateKey(int32_t key, bool shiftHeld) {
  switch (key) {
    case vk::kUp:
    case vk::kDown:
    case vk::kLeft:
    case vk::kRight:
    case vk::kInsert:
    case vk::kHome:
    case vk::kPageUp:
    case vk::kPageDown:
    case vk::kDelete:
    case vk::kEnd:
    case vk::kNumLock:
      return vk::kSpace;
    case vk::kDecimal:
      return '.';
    case vk::kDivide:
      return '/';
    case vk::kMultiply:
      return 231;  // the shifted 8 of the pattern table
    case vk::kSubtract:
      return 189;  // the minus key
    case vk::kAdd:
      return 230;  // the shifted = (plus)
    default:
      break;
  }
  if (key >= vk::kNumpad0 && key <= vk::kNumpad9) return '0' + (key - vk::kNumpad0);
  if (!shiftHeld) return key;
  // The shifted private codes of the pattern table.
  switch (key) {
    case vk::kOemSlash:
      return '?';
    case '2':
      return '@';
    case vk::kOemPlus:
      return 230;
    case '8':
      return 231;
    case '9':
      return 232;
    case '6':
      return 238;
    case '7':
      return 233;
    case '1':
      return 234;
    case '5':
      return 235;
    case '3':
      return 236;
    case '4':
      return 239;
    case vk::kOemTilde:
      return 237;
    default:
      return key;
  }
}

}  // namespace kestrix::transmit
