// The keyers' clock and waits. The keyers schedule every line change at a deadline on
// this clock, so the time a line call takes shifts every edge alike and stretches no
// element; the window and kestrix-send give them the monotonic clock, the tests a fake.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrix::platform {

class Waiter {
 public:
  virtual ~Waiter() = default;

  // Blocks the calling thread for `ms` milliseconds from the moment of the call; zero or
  // negative returns at once.
  virtual void WaitMs(int32_t ms) = 0;

  // The clock the deadlines are on, in microseconds from any origin; never goes back.
  // A waiter without a clock of its own (silence written to a file, a test's stand-in)
  // keeps this default: its time is what its WaitUntilUs calls have waited, so deadlines
  // come out as the plain sum of the lengths waited. Its WaitMs does not move it.
  virtual int64_t NowUs() { return waitedUs_.load(std::memory_order_relaxed); }

  // Blocks until NowUs() reaches `deadlineUs`; a deadline already passed returns at once.
  virtual void WaitUntilUs(int64_t deadlineUs) {
    const int64_t left = deadlineUs - waitedUs_.load(std::memory_order_relaxed);
    if (left <= 0) return;
    WaitMs(static_cast<int32_t>((left + 999) / 1000));
    waitedUs_.fetch_add(left, std::memory_order_relaxed);
  }

 private:
  std::atomic<int64_t> waitedUs_{0};
};

}  // namespace kestrix::platform
