// Real-time scheduling for the thread that keys the line: with SCHED_FIFO a busy desktop
// cannot stretch an element by preempting the keyer. Asked for only where the system
// allows it (RLIMIT_RTPRIO, or root); a refusal is never an error, the keyer then runs
// with normal scheduling and its waits still come from the monotonic clock.
#pragma once

#include <string>

namespace kestrix::platform {

struct RealtimeResult {
  bool obtained = false;
  int priority = 0;
  std::string text;  // what was obtained or why not, for --verbose and the log
};

// Tries to run the calling thread SCHED_FIFO at `priority` (or the highest the limit
// allows, if lower).
RealtimeResult RequestRealtime(int priority);

}  // namespace kestrix::platform
