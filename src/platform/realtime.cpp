#include "platform/realtime.h"

#include <pthread.h>
#include <sched.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>

#include "platform/key_lines.h"

namespace kestrix::platform {

RealtimeResult RequestRealtime(int priority) {
  RealtimeResult result;
  const int maxPriority = sched_get_priority_max(SCHED_FIFO);
  int wanted = std::clamp(priority, 1, maxPriority > 0 ? maxPriority : 1);
  rlimit limit{};
  if (getrlimit(RLIMIT_RTPRIO, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY) {
    // An unprivileged process may go up to its soft limit; root is not bound by it.
    if (limit.rlim_cur < static_cast<rlim_t>(wanted) && geteuid() != 0) {
      wanted = static_cast<int>(limit.rlim_cur);
    }
  }
  if (wanted < 1) {
    result.text =
        "normal scheduling (RLIMIT_RTPRIO is 0; raise it in /etc/security/limits.conf for "
        "SCHED_FIFO)";
    return result;
  }
  sched_param param{};
  param.sched_priority = wanted;
  if (int err = pthread_setschedparam(pthread_self(), SCHED_FIFO, &param)) {
    result.text = "normal scheduling (SCHED_FIFO " + std::to_string(wanted) +
                  " refused: " + ErrorText(err) + ")";
    return result;
  }
  result.obtained = true;
  result.priority = wanted;
  result.text = "SCHED_FIFO priority " + std::to_string(wanted);
  return result;
}

RealtimeResult LockMemory() {
  RealtimeResult result;
  rlimit limit{};
  const bool unlimited =
      geteuid() == 0 || (getrlimit(RLIMIT_MEMLOCK, &limit) == 0 && limit.rlim_cur == RLIM_INFINITY);
  // MCL_FUTURE under a limit would make later allocations fail once it is reached: only
  // with no limit.
  if (unlimited && mlockall(MCL_CURRENT | MCL_FUTURE) == 0) {
    result.obtained = true;
    result.text = "memory locked";
    return result;
  }
  if (mlockall(MCL_CURRENT) == 0) {
    result.obtained = true;
    result.text = "memory mapped so far locked";
    return result;
  }
  result.text = "memory not locked (" + ErrorText(errno) +
                "; RLIMIT_MEMLOCK allows less than the program maps)";
  return result;
}

}  // namespace kestrix::platform
