// Keyboard events to Windows virtual-key numbers, which the transmit pane's key queue and
// the send codes are written in. Qt-free: the window passes the Qt key number, the
// modifier bits and the X11 key code (scan code) as plain integers.
//
// Letters, digits, the navigation and function keys map by their meaning. Punctuation maps
// by the character it produces to the key that carries that character on a US keyboard
// (";" and ":" 186, "=" and "+" 187, "," and "<" 188, "-" and "_" 189, "." and ">" 190,
// "/" and "?" 191, "`" and "~" 192, "[" and "{" 219, "\" and "|" 220, "]" and "}" 221,
// "'" and '"' 222); the shifted digit-row symbols map to their digit. A character that no
// US key carries (a non-US layout's letters and symbols, a Cyrillic letter) falls back to
// the physical key: the virtual key of the US key in that position. So on a non-US layout
// letters and digits send what they show, while a symbol typed with a different Shift
// state than on a US keyboard (German Shift+7 for "/") reaches the send table with the
// Shift the operator pressed, and so sends the other symbol of that US key ("?").
#pragma once

#include <cstdint>

namespace kestrix::platform {

// Qt's numbers for the keys and modifiers used here (checked against Qt where it is built).
namespace qtkey {
inline constexpr int kEscape = 0x01000000;
inline constexpr int kTab = 0x01000001;
inline constexpr int kBacktab = 0x01000002;
inline constexpr int kBackspace = 0x01000003;
inline constexpr int kReturn = 0x01000004;
inline constexpr int kEnter = 0x01000005;
inline constexpr int kInsert = 0x01000006;
inline constexpr int kDelete = 0x01000007;
inline constexpr int kPause = 0x01000008;
inline constexpr int kClear = 0x0100000b;
inline constexpr int kHome = 0x01000010;
inline constexpr int kEnd = 0x01000011;
inline constexpr int kLeft = 0x01000012;
inline constexpr int kUp = 0x01000013;
inline constexpr int kRight = 0x01000014;
inline constexpr int kDown = 0x01000015;
inline constexpr int kPageUp = 0x01000016;
inline constexpr int kPageDown = 0x01000017;
inline constexpr int kShift = 0x01000020;
inline constexpr int kControl = 0x01000021;
inline constexpr int kMeta = 0x01000022;
inline constexpr int kAlt = 0x01000023;
inline constexpr int kCapsLock = 0x01000024;
inline constexpr int kNumLock = 0x01000025;
inline constexpr int kScrollLock = 0x01000026;
inline constexpr int kF1 = 0x01000030;
inline constexpr int kF12 = 0x0100003b;
inline constexpr int kAltGr = 0x01001103;
inline constexpr int kKeypadModifier = 0x20000000;
}  // namespace qtkey

// The virtual key for a key press or release; 0 when there is none (the key is then not
// queued).
int32_t VirtualKeyFromQt(int qtKey, int qtModifiers, uint32_t x11KeyCode);

}  // namespace kestrix::platform
