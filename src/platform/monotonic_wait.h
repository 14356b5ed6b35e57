// The keyers' wait on Linux: a relative sleep on the monotonic clock, each wait measured
// from its own start (nothing is carried from one element to the next), so the time spent
// in the line call adds to the element as it does on every keyer of this kind.
#pragma once

#include <cstdint>

#include "transmit/key_line.h"

namespace kestrix::platform {

class MonotonicWaiter final : public transmit::Waiter {
 public:
  // Sleeps `ms` milliseconds; zero or negative returns at once. Signals do not shorten it.
  void WaitMs(int32_t ms) override;
};

}  // namespace kestrix::platform
