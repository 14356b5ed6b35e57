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
// allows, if lower). Threads it creates afterwards inherit the policy.
RealtimeResult RequestRealtime(int priority);

// Locks the process's memory so a page fault cannot stretch an element: everything mapped
// now and later where RLIMIT_MEMLOCK is unlimited (or as root); what is mapped now where
// the limit allows that much; else nothing. Never an error. `text` says which.
RealtimeResult LockMemory();

}  // namespace kestrix::platform
