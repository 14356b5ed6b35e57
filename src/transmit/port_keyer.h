// The port keyer: keys one character on the keying line, the way the send threads use it
// when the output device is the serial port. A character is never interrupted; stop
// requests are the callers' business, between characters.
//
// Every line change is scheduled at a deadline on the waiter's clock: the next edge is due
// one element after the previous edge was due, not after the previous line call returned.
// A line call's cost (a USB adapter's control transfer takes up to a millisecond or more)
// therefore shifts every edge alike and lengthens no element. The schedule is never
// caught up by shortening: an edge that lands more than kLateEdgeUs after its due time
// (a preempted thread, a stalled adapter, or a character that comes after a pause) moves
// the rest of the schedule with it. An edge counts as landed when its call returns, less
// the usual cost of a call, which the keyer learns from the calls it makes.
//
// Threads: SendCharToPort runs on a keyer thread; callers on several threads take turns
// under a lock of their own (the schedule carries from one character to the next). It
// reads the timing record once per symbol, so a speed change takes effect at the next
// symbol.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "transmit/element_timing.h"
#include "transmit/key_line.h"
#include "transmit/morse_send_table.h"

namespace kestrix::transmit {

// How late an edge may land before the schedule moves with it, in microseconds. Below
// this a late wake-up only borrows from the next element, as timer jitter does.
inline constexpr int64_t kLateEdgeUs = 2000;

class PortKeyer {
 public:
  // `keyState` is the shared KeyState byte (0 up, 3 down), written before every line call.
  PortKeyer(const MorseSendTable& table, const ElementTiming& timing, KeyLine& line, Waiter& waiter,
            std::atomic<uint8_t>& keyState)
      : table_(table), timing_(timing), line_(line), waiter_(waiter), keyState_(keyState) {}

  // Keys `code` and returns when the time of its last symbol has passed.
  void SendCharToPort(uint8_t code);

 private:
  // Starts a new schedule now when the last one has fallen behind the clock.
  void CatchUp();
  // Waits for the due time and changes the line; the schedule moves when it lands late.
  void Edge(uint8_t state);
  // Adds `ms` (nothing when zero or negative) to the time the next edge is due.
  void Hold(int32_t ms);
  // The usual cost of a line call: the median of the last few.
  int64_t UsualCallUs() const;

  const MorseSendTable& table_;
  const ElementTiming& timing_;
  KeyLine& line_;
  Waiter& waiter_;
  std::atomic<uint8_t>& keyState_;

  // The schedule (whoever keys; see Threads above).
  bool scheduled_ = false;
  int64_t dueUs_ = 0;  // when the next edge, or the end of the character, is due
  static constexpr size_t kCallHistory = 9;
  std::array<int64_t, kCallHistory> callUs_{};
  size_t calls_ = 0;  // line calls measured so far
};

}  // namespace kestrix::transmit
