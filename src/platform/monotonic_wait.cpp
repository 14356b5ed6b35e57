#include "platform/monotonic_wait.h"

#include <cerrno>
#include <ctime>

namespace kestrix::platform {

void MonotonicWaiter::WaitMs(int32_t ms) {
  if (ms <= 0) return;
  // An absolute deadline taken now, so a signal that interrupts the sleep resumes it
  // without stretching the element.
  timespec deadline{};
  clock_gettime(CLOCK_MONOTONIC, &deadline);
  deadline.tv_sec += ms / 1000;
  deadline.tv_nsec += static_cast<long>(ms % 1000) * 1000000L;
  if (deadline.tv_nsec >= 1000000000L) {
    deadline.tv_nsec -= 1000000000L;
    deadline.tv_sec += 1;
  }
  while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &deadline, nullptr) == EINTR) {
  }
}

}  // namespace kestrix::platform
