#include "transmit/port_keyer.h"

#include <algorithm>

namespace kestrix::transmit {

void PortKeyer::CatchUp() {
  const int64_t now = waiter_.NowUs();
  if (!scheduled_ || now - dueUs_ > kLateEdgeUs) dueUs_ = now;
  scheduled_ = true;
}

int64_t PortKeyer::UsualCallUs() const {
  const size_t n = std::min(calls_, kCallHistory);
  if (n == 0) return 0;
  std::array<int64_t, kCallHistory> sorted = callUs_;
  std::nth_element(sorted.begin(), sorted.begin() + static_cast<std::ptrdiff_t>(n / 2),
                   sorted.begin() + static_cast<std::ptrdiff_t>(n));
  return sorted[n / 2];
}

void PortKeyer::Edge(uint8_t state) {
  int64_t start = waiter_.NowUs();
  if (start < dueUs_) {
    waiter_.WaitUntilUs(dueUs_);
    start = waiter_.NowUs();
  }
  keyState_.store(state, std::memory_order_relaxed);
  line_.SetKeyLine(state);
  const int64_t end = waiter_.NowUs();
  // Late by a slow wake-up (the call started late) or by a stalled call (it returned
  // late): either way the line changed late, and what follows keeps its full length.
  // The first call has nothing to compare with and counts as a usual one.
  const int64_t usual = calls_ == 0 ? end - start : UsualCallUs();
  const int64_t late = end - usual - dueUs_;
  if (late > kLateEdgeUs) dueUs_ += late;
  callUs_[calls_ % kCallHistory] = end - start;
  ++calls_;
}

void PortKeyer::Hold(int32_t ms) {
  if (ms > 0) dueUs_ += static_cast<int64_t>(ms) * 1000;
}

void PortKeyer::SendCharToPort(uint8_t code) {
  constexpr auto r = std::memory_order_relaxed;
  CatchUp();
  for (uint8_t symbol : table_.Entry(code)) {
    if (symbol == kEntryEnd) break;
    switch (symbol) {
      case '.':
      case '-':
        Edge(kKeyDown);
        Hold(symbol == '.' ? timing_.DotMs.load(r) : timing_.DashMs.load(r));
        Edge(kKeyUp);
        Hold(timing_.ElementSpaceMs.load(r));
        break;
      case '*':
        Hold(timing_.CharSpaceMs.load(r));
        break;
      case '^':
        Hold(timing_.WordSpaceMs.load(r));
        break;
      default:
        break;
    }
  }
  waiter_.WaitUntilUs(dueUs_);
}

}  // namespace kestrix::transmit
