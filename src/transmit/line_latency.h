// What the keying line's calls cost: a KeyLine that passes every call on to the real line
// and times it on the waiter's clock, so an operator can see what an adapter adds to each
// edge (a USB serial adapter's control transfer takes up to a millisecond or more).
//
// Threads: SetKeyLine may come from any thread (the keyer, Tune, a release at exit); the
// statistics are read under the same lock.
#pragma once

#include <array>
#include <cstdint>
#include <mutex>

#include "transmit/key_line.h"

namespace kestrix::transmit {

// The distribution of call times, in microseconds, in constant memory: 1 µs steps below
// 1 ms, 10 µs steps below 10 ms, 100 µs steps below 100 ms, one bin above; the worst is
// kept exactly.
class LatencyHistogram {
 public:
  void Add(int64_t us);
  int64_t Count() const { return count_; }
  // The median, at the resolution of its bin (the bin's lower edge, so 100 ms stands for
  // anything longer); 0 when empty.
  int64_t MedianUs() const;
  int64_t WorstUs() const { return worst_; }

 private:
  static constexpr int kBins = 1000 + 900 + 900 + 1;
  static int Bin(int64_t us);
  static int64_t BinStartUs(int bin);
  std::array<uint32_t, kBins> bins_{};
  int64_t count_ = 0;
  int64_t worst_ = 0;
};

class TimedKeyLine final : public KeyLine {
 public:
  TimedKeyLine(KeyLine& line, Waiter& clock) : line_(line), clock_(clock) {}
  void SetKeyLine(uint8_t state) override;

  struct Summary {
    int64_t calls = 0;
    int64_t medianUs = 0;
    int64_t worstUs = 0;
  };
  Summary Latency() const;

 private:
  KeyLine& line_;
  Waiter& clock_;
  mutable std::mutex mu_;
  LatencyHistogram histogram_;
};

}  // namespace kestrix::transmit
