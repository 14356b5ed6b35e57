#include "transmit/cwdaemon_line_keyer.h"

#include <algorithm>

namespace kestrix::transmit {

void CwdaemonLineKeyer::CatchUp() {
  const int64_t now = waiter_.NowUs();
  if (!scheduled_ || now - dueUs_ > kLateEdgeUs) dueUs_ = now;
  scheduled_ = true;
}

void CwdaemonLineKeyer::Pause(int64_t us) {
  CatchUp();
  if (us > 0) dueUs_ += us;
}

void CwdaemonLineKeyer::NotBefore(int64_t us) {
  CatchUp();
  dueUs_ = std::max(dueUs_, us);
}

int64_t CwdaemonLineKeyer::UsualCallUs() const {
  const size_t n = std::min(calls_, kCallHistory);
  if (n == 0) return 0;
  std::array<int64_t, kCallHistory> sorted = callUs_;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                   sorted.begin() + static_cast<std::ptrdiff_t>(n));
  return sorted[n / 2];
}

bool CwdaemonLineKeyer::WaitDue(const StopWhen& stop) {
  for (int64_t now = waiter_.NowUs(); now < dueUs_; now = waiter_.NowUs()) {
    if (stop && stop()) return false;
    waiter_.WaitUntilUs(std::min(dueUs_, now + sliceUs_));
  }
  return !(stop && stop());
}

bool CwdaemonLineKeyer::WaitSpaces(const StopWhen& stop) {
  if (!scheduled_) return true;
  return WaitDue(stop);
}

void CwdaemonLineKeyer::Edge(uint8_t state) {
  int64_t start = waiter_.NowUs();
  if (start < dueUs_) {
    waiter_.WaitUntilUs(dueUs_);
    start = waiter_.NowUs();
  }
  keyState_.store(state, std::memory_order_relaxed);
  line_.SetKeyLine(state);
  const int64_t end = waiter_.NowUs();
  // As the port keyer: an edge that landed late (slow wake-up or stalled call) moves the
  // schedule, so what follows keeps its full length.
  const int64_t usual = calls_ == 0 ? end - start : UsualCallUs();
  const int64_t late = end - usual - dueUs_;
  if (late > kLateEdgeUs) dueUs_ += late;
  callUs_[calls_ % kCallHistory] = end - start;
  ++calls_;
}

bool CwdaemonLineKeyer::Key(std::string_view symbols, const CwdaemonTiming& t,
                            const StopWhen& stop) {
  CatchUp();
  for (char symbol : symbols) {
    switch (symbol) {
      case '.':
      case '-':
        // Key up until the element is due, in slices; a stop now keys nothing more.
        if (!WaitDue(stop)) return false;
        Edge(kKeyDown);
        dueUs_ += symbol == '.' ? t.dotUs : t.dashUs;
        Edge(kKeyUp);  // the mark is never cut short
        dueUs_ += t.elementSpaceUs;
        break;
      case '*':
        dueUs_ += t.charSpaceUs;
        break;
      case '^':
        dueUs_ += t.wordSpaceUs;
        break;
      default:
        break;
    }
  }
  return true;
}

}  // namespace kestrix::transmit
