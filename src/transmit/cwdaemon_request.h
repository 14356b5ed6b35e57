// Network keying requests: turns one UDP datagram of the cwdaemon keying protocol that
// Linux loggers speak into the actions it asks for. Pure: no sockets, no state, no clocks,
// so it can be fed any bytes (the fuzzer and the seeded random test do exactly that).
//
// A datagram is either text to key or ESC (0x1B) and a code byte with an optional value:
//
//   text       keyed; '+' / '-' raise / lower the speed 2 wpm for the rest of the message,
//              '~' adds two dots of silence before the next character, '*' is sent as '+';
//              a trailing '^' asks for the text (without '^') back, plus CR LF, once keyed;
//              CR and LF key nothing (tlf ends every message with LF) and are not warned of
//   ESC 0      reset speed, weighting, tone and word mode to the start values
//   ESC 2 wpm  speed, 5..100
//   ESC 3 Hz   tone, 0..4000 (0 = silent)
//   ESC 4      abort the message being sent and everything queued
//   ESC 5      exit (the headless server ends; the window ignores it)
//   ESC 6      word mode: an abort lets the word being keyed finish
//   ESC 7 w    weighting, -50..50
//   ESC 8 dev  keying device name
//   ESC a 0|1  PTT on (held) / off  (the keyer's PTT output, if it has one)
//   ESC b x    SSB audio route      (accepted, no effect)
//   ESC c s    tune: key down s seconds, 0..10 (above 10 is cut to 10); 0 ends a tune
//   ESC d ms   PTT delay, 0..50: PTT up this long before the first element
//   ESC e n    band switch          (accepted, no effect)
//   ESC f x    sound system         (accepted, no effect)
//   ESC g n    volume               (accepted, no effect)
//   ESC h txt  reply "h" txt CR LF once the next message has been keyed
//
// Trailing NUL bytes (some loggers send one) are dropped, and so is everything after an
// embedded NUL. A request longer than kMaxRequestBytes after that is ignored as a whole:
// keying a cut message on the air would be worse than keying nothing. Unknown codes and
// bad values produce no action and one warning line each.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix::transmit {

inline constexpr size_t kMaxRequestBytes = 256;
inline constexpr uint8_t kEscape = 0x1B;
inline constexpr int kSpeedStepWpm = 2;  // one inline '+' or '-'
inline constexpr int kMinWeighting = -50;
inline constexpr int kMaxWeighting = 50;
inline constexpr int kMaxToneHz = 4000;
inline constexpr int kMaxTuneSeconds = 10;
inline constexpr int kMaxPttDelayMs = 50;
inline constexpr size_t kMaxDeviceNameBytes = 64;

// One step of a text message, in order.
struct TextItem {
  enum class Kind : uint8_t {
    Char,    // key `code` through the pattern table
    Faster,  // +2 wpm for the rest of the message
    Slower,  // -2 wpm for the rest of the message
    Gap,     // two dots of extra silence before the next character
  };
  Kind kind = Kind::Char;
  uint8_t code = 0;
  bool operator==(const TextItem&) const = default;
};

enum class CwdaemonOp : uint8_t {
  Key,        // items (+ echo when `echo` is set)
  Reset,      //
  Speed,      // value: wpm
  Tone,       // value: Hz, 0 silent
  Abort,      //
  Exit,       //
  WordMode,   //
  Weighting,  // value: -50..50
  Device,     // text: device name
  Ptt,        // value: 0/1
  Tune,       // value: seconds 0..10
  PttDelay,   // value: ms
  Reply,      // text: what follows 'h'
  NoEffect,   // a known code this program has no output for (text: the code)
};

struct CwdaemonAction {
  CwdaemonOp op = CwdaemonOp::Key;
  int value = 0;
  std::string text;             // Device, Reply, NoEffect; for Key: the echo text
  bool echo = false;            // Key: send `text` + CR LF back once keyed
  std::vector<TextItem> items;  // Key
};

struct CwdaemonRequest {
  std::vector<CwdaemonAction> actions;  // empty when the datagram asks for nothing valid
  std::vector<std::string> warnings;    // one line each, no newline, for standard error
};

CwdaemonRequest ParseCwdaemonRequest(std::string_view datagram);

// The characters a message keys, as text ('*' already turned into '+'); what the window
// would echo into the transmit pane.
std::string KeyedText(const std::vector<TextItem>& items);

}  // namespace kestrix::transmit
