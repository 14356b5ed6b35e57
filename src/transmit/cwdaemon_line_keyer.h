// Network keying's keyer for a key line: keys a character's symbols ('.', '-', '*', '^' as
// in the pattern table) at network timing (cwdaemon_timing.h), element by element, so that
// an abort is obeyed after the element being keyed instead of after the whole character.
//
// Every edge is scheduled at a deadline on the waiter's clock in microseconds, as the
// window's port keyer does: a line call's usual cost shifts every edge alike and
// lengthens no element, and an edge landing more than kLateEdgeUs late moves the rest of
// the schedule with it. A character's trailing space is not waited for: Key returns at its
// last key-up and the space stays due, so the next character (or message) starts on time
// and a message's completion (caret echo, "h" reply) goes out at its last key-up.
//
// Key-up waits run in slices of `sliceUs`, each ending on the clock's deadline, and the
// stop condition is read before every slice and every key-down: a stop leaves the key up
// at once. A key-down wait is never cut short, so a mark is never clipped.
//
// Threads: one keyer thread; `stop` may read atomics written elsewhere.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string_view>

#include "transmit/cwdaemon_timing.h"
#include "transmit/key_line.h"
#include "transmit/port_keyer.h"

namespace kestrix::transmit {

class CwdaemonLineKeyer {
 public:
  using StopWhen = std::function<bool()>;

  CwdaemonLineKeyer(KeyLine& line, Waiter& waiter, std::atomic<uint8_t>& keyState,
                    int64_t sliceUs = 20000)
      : line_(line), waiter_(waiter), keyState_(keyState), sliceUs_(sliceUs > 0 ? sliceUs : 1) {}

  // Keys `symbols`. False when `stop` held before an element (nothing more was keyed and
  // the key is up); true once the last key-up of the character was made.
  bool Key(std::string_view symbols, const CwdaemonTiming& t, const StopWhen& stop);
  // Adds `us` of silence before the next element ('~').
  void Pause(int64_t us);
  // The next element starts no earlier than `us` on the clock (PTT delay).
  void NotBefore(int64_t us);
  // Waits, key up, until the schedule's pending spaces have passed or `stop` holds.
  // True when they passed.
  bool WaitSpaces(const StopWhen& stop);
  // Forgets the pending spaces (after an abort: the next message starts at once).
  void Forget() { scheduled_ = false; }
  // When the next edge is due (the end of the pending spaces).
  int64_t DueUs() const { return dueUs_; }

 private:
  void CatchUp();
  bool WaitDue(const StopWhen& stop);
  void Edge(uint8_t state);
  int64_t UsualCallUs() const;

  KeyLine& line_;
  Waiter& waiter_;
  std::atomic<uint8_t>& keyState_;
  const int64_t sliceUs_;

  bool scheduled_ = false;
  int64_t dueUs_ = 0;
  static constexpr size_t kCallHistory = 9;
  std::array<int64_t, kCallHistory> callUs_{};
  size_t calls_ = 0;
};

}  // namespace kestrix::transmit
