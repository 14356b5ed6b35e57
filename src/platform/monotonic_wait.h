// The keyers' wait on Linux: CLOCK_MONOTONIC and absolute sleeps on it, so a deadline is
// met however long the work before the wait took.
#pragma once

#include <cstdint>

#include "platform/waiter.h"

namespace kestrix::platform {

// The monotonic clock in microseconds.
int64_t MonotonicNowUs();

class MonotonicWaiter final : public Waiter {
 public:
  // Sleeps `ms` milliseconds from now; zero or negative returns at once. Signals do not
  // shorten it.
  void WaitMs(int32_t ms) override;
  int64_t NowUs() override { return MonotonicNowUs(); }
  // Sleeps until the monotonic clock reaches `deadlineUs`; signals do not shorten it.
  void WaitUntilUs(int64_t deadlineUs) override;
};

}  // namespace kestrix::platform
