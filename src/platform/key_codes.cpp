#include "platform/key_codes.h"

#include <array>

namespace kestrix::platform {

namespace {

// Virtual keys of the US keyboard by X11 key code (the Linux input code plus 8), for the
// character keys: the digit row, the three letter rows and the punctuation beside them.
constexpr int32_t UsKeyAt(uint32_t code) {
  constexpr int kFirst = 10;
  constexpr std::array<int32_t, 52> kKeys = {
      '1', '2', '3', '4', '5', '6', '7', '8', '9', '0', 189, 187,  // 10..21
      0,   0,                                                      // Backspace, Tab
      'Q', 'W', 'E', 'R', 'T', 'Y', 'U', 'I', 'O', 'P', 219, 221,  // 24..35
      0,   0,                                                      // Return, Control
      'A', 'S', 'D', 'F', 'G', 'H', 'J', 'K', 'L', 186, 222, 192,  // 38..49
      0,   220,                                                    // Shift, backslash
      'Z', 'X', 'C', 'V', 'B', 'N', 'M', 188, 190, 191,            // 52..61
  };
  if (code == 94) return 226;  // the extra key beside the left Shift (ISO keyboards)
  if (code < kFirst || code >= kFirst + kKeys.size()) return 0;
  return kKeys[code - kFirst];
}

// A printable character (as Qt reports it: letters upper case) to its US key.
constexpr int32_t UsKeyFor(int ch) {
  if (ch >= 'A' && ch <= 'Z') return ch;
  if (ch >= '0' && ch <= '9') return ch;
  switch (ch) {
    case ' ':
      return 32;
    case ')':
      return '0';
    case '!':
      return '1';
    case '@':
      return '2';
    case '#':
      return '3';
    case '$':
      return '4';
    case '%':
      return '5';
    case '^':
      return '6';
    case '&':
      return '7';
    case '*':
      return '8';
    case '(':
      return '9';
    case ';':
    case ':':
      return 186;
    case '=':
    case '+':
      return 187;
    case ',':
    case '<':
      return 188;
    case '-':
    case '_':
      return 189;
    case '.':
    case '>':
      return 190;
    case '/':
    case '?':
      return 191;
    case '`':
    case '~':
      return 192;
    case '[':
    case '{':
      return 219;
    case '\\':
    case '|':
      return 220;
    case ']':
    case '}':
      return 221;
    case '\'':
    case '"':
      return 222;
    default:
      return 0;
  }
}

int32_t KeypadKey(int key) {
  if (key >= '0' && key <= '9') return 96 + (key - '0');
  switch (key) {
    case '*':
      return 106;
    case '+':
      return 107;
    case '-':
      return 109;
    case '.':
    case ',':  // the decimal key of layouts with a decimal comma
      return 110;
    case '/':
      return 111;
    default:
      return 0;
  }
}

int32_t SpecialKey(int key) {
  using namespace qtkey;
  if (key >= kF1 && key <= kF12) return 112 + (key - kF1);
  switch (key) {
    case kEscape:
      return 27;
    case kTab:
    case kBacktab:
      return 9;
    case kBackspace:
      return 8;
    case kReturn:
    case kEnter:
      return 13;
    case kInsert:
      return 45;
    case kDelete:
      return 46;
    case kPause:
      return 19;
    case kClear:
      return 12;
    case kHome:
      return 36;
    case kEnd:
      return 35;
    case kLeft:
      return 37;
    case kUp:
      return 38;
    case kRight:
      return 39;
    case kDown:
      return 40;
    case kPageUp:
      return 33;
    case kPageDown:
      return 34;
    case kShift:
      return 16;
    case kControl:
      return 17;
    case kAlt:
    case kAltGr:
      return 18;
    case kMeta:
      return 91;
    case kCapsLock:
      return 20;
    case kNumLock:
      return 144;
    case kScrollLock:
      return 145;
    default:
      return 0;
  }
}

}  // namespace

int32_t VirtualKeyFromQt(int qtKey, int qtModifiers, uint32_t x11KeyCode) {
  if (qtKey & 0x01000000) return SpecialKey(qtKey);
  if (qtModifiers & qtkey::kKeypadModifier) {
    if (const int32_t k = KeypadKey(qtKey)) return k;
  }
  if (const int32_t k = UsKeyFor(qtKey)) return k;
  return UsKeyAt(x11KeyCode);
}

}  // namespace kestrix::platform
