// The two seams the keyers are written against: the keying line and the wait. The window
// and kestrix-send give them the real serial or parallel line and a monotonic sleep; the
// tests give them a recording line and a fake clock.
#pragma once

#include <cstdint>

#include "platform/waiter.h"

namespace kestrix::transmit {

inline constexpr uint8_t kKeyUp = 0;
inline constexpr uint8_t kKeyDown = 3;

// Drives the keying output. `state` is 0 (key up) or 3 (key down) before polarity; the
// implementation applies the polarity and writes the complete line state in one operation,
// so the last caller wins. Called from the keyer threads and from the GUI thread.
class KeyLine {
 public:
  virtual ~KeyLine() = default;
  virtual void SetKeyLine(uint8_t state) = 0;
};

// The clock and the waits the keyers schedule their edges on (platform/waiter.h).
using Waiter = platform::Waiter;

}  // namespace kestrix::transmit
