#include "platform/monotonic_wait.h"

#include <cerrno>
#include <ctime>

namespace kestrix::platform {

int64_t MonotonicNowUs() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<int64_t>(now.tv_sec) * 1000000 + now.tv_nsec / 1000;
}

void MonotonicWaiter::WaitMs(int32_t ms) {
  if (ms <= 0) return;
  WaitUntilUs(MonotonicNowUs() + static_cast<int64_t>(ms) * 1000);
}

void MonotonicWaiter::WaitUntilUs(int64_t deadlineUs) {
  if (deadlineUs <= MonotonicNowUs()) return;
  const timespec deadline{static_cast<time_t>(deadlineUs / 1000000),
                          static_cast<long>(deadlineUs % 1000000) * 1000L};
  // Absolute: a signal that interrupts the sleep resumes it towards the same deadline.
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace kestrix::platform
