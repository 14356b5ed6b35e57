#include "transmit/port_keyer.h"

namespace kestrix::transmit {

void PortKeyer::Element(int32_t downMs) {
  constexpr auto r = std::memory_order_relaxed;
  keyState_.store(kKeyDown, r);
  line_.SetKeyLine(kKeyDown);
  waiter_.WaitMs(downMs);
  keyState_.store(kKeyUp, r);
  line_.SetKeyLine(kKeyUp);
  waiter_.WaitMs(timing_.ElementSpaceMs.load(r));
}

void PortKeyer::SendCharToPort(uint8_t code) {
  constexpr auto r = std::memory_order_relaxed;
  for (uint8_t symbol : table_.Entry(code)) {
    if (symbol == kEntryEnd) break;
    switch (symbol) {
      case '.':
        Element(timing_.DotMs.load(r));
        break;
      case '-':
        Element(timing_.DashMs.load(r));
        break;
      case '*':
        waiter_.WaitMs(timing_.CharSpaceMs.load(r));
        break;
      case '^':
        waiter_.WaitMs(timing_.WordSpaceMs.load(r));
        break;
      default:
        break;
    }
  }
}

}  // namespace kestrix::transmit
