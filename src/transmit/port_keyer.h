// The port keyer: keys one character on the keying line with millisecond waits, the way
// the send threads use it when the output device is the serial port. A character is never
// interrupted; stop requests are the callers' business, between characters.
//
// Threads: SendCharToPort runs on a keyer thread; it reads the timing record once per
// symbol, so a speed change takes effect at the next symbol.
#pragma once

#include <atomic>
#include <cstdint>

#include "transmit/element_timing.h"
#include "transmit/key_line.h"
#include "transmit/morse_send_table.h"

namespace kestrix::transmit {

class PortKeyer {
 public:
  // `keyState` is the shared KeyState byte (0 up, 3 down), written before every line call.
  PortKeyer(const MorseSendTable& table, const ElementTiming& timing, KeyLine& line, Waiter& waiter,
            std::atomic<uint8_t>& keyState)
      : table_(table), timing_(timing), line_(line), waiter_(waiter), keyState_(keyState) {}

  // Keys `code` and returns when the time of its last symbol has passed.
  void SendCharToPort(uint8_t code);

 private:
  void Element(int32_t downMs);

  const MorseSendTable& table_;
  const ElementTiming& timing_;
  KeyLine& line_;
  Waiter& waiter_;
  std::atomic<uint8_t>& keyState_;
};

}  // namespace kestrix::transmit
