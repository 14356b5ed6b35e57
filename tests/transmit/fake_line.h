// Test doubles for the keyers: a keying line that records every call with the fake time
// at which it happened, and a waiter that advances that fake time instead of sleeping.
// Thread-safe, so send-thread tests can key on a worker while the test reads the log.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "transmit/key_line.h"

namespace kestrix::test {

class FakeClock final : public transmit::Waiter {
 public:
  void WaitMs(int32_t ms) override {
    if (ms > 0) nowMs_.fetch_add(ms);
    waits_.fetch_add(1);
  }
  int64_t NowMs() const { return nowMs_.load(); }
  int64_t Waits() const { return waits_.load(); }
  void Advance(int64_t ms) { nowMs_.fetch_add(ms); }

 private:
  std::atomic<int64_t> nowMs_{0};
  std::atomic<int64_t> waits_{0};
};

struct LineEdge {
  int64_t atMs;
  uint8_t state;
  bool operator==(const LineEdge&) const = default;
};

class FakeKeyLine final : public transmit::KeyLine {
 public:
  explicit FakeKeyLine(const FakeClock& clock) : clock_(clock) {}
  void SetKeyLine(uint8_t state) override {
    std::lock_guard<std::mutex> lock(mu_);
    edges_.push_back({clock_.NowMs(), state});
  }
  std::vector<LineEdge> Edges() const {
    std::lock_guard<std::mutex> lock(mu_);
    return edges_;
  }
  // The line as '.'/'-'-free text: "3@0 0@54 ..." for messages in failing assertions.
  std::string Describe() const {
    std::string s;
    for (const LineEdge& e : Edges())
      s += std::to_string(e.state) + "@" + std::to_string(e.atMs) + " ";
    return s;
  }
  void Clear() {
    std::lock_guard<std::mutex> lock(mu_);
    edges_.clear();
  }

 private:
  const FakeClock& clock_;
  mutable std::mutex mu_;
  std::vector<LineEdge> edges_;
};

}  // namespace kestrix::test
