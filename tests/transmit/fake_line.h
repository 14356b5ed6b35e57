// Test doubles for the keyers: a keying line that records every call with the fake time
// at which the line changed (a call may cost time, as a USB adapter's does), and a waiter
// that advances that fake time instead of sleeping.
// Thread-safe, so send-thread tests can key on a worker while the test reads the log.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "transmit/key_line.h"

namespace kestrix::test {

class FakeClock final : public transmit::Waiter {
 public:
  void WaitMs(int32_t ms) override {
    if (ms > 0) nowUs_.fetch_add(int64_t{ms} * 1000);
    waits_.fetch_add(1);
  }
  int64_t NowUs() override { return nowUs_.load(); }
  void WaitUntilUs(int64_t deadlineUs) override {
    int64_t now = nowUs_.load();
    while (now < deadlineUs && !nowUs_.compare_exchange_weak(now, deadlineUs)) {
    }
    if (now < deadlineUs) nowUs_.fetch_add(oversleepUs_.exchange(0));
    waits_.fetch_add(1);
  }
  int64_t NowMs() const { return nowUs_.load() / 1000; }
  int64_t Waits() const { return waits_.load(); }
  void Advance(int64_t ms) { nowUs_.fetch_add(ms * 1000); }
  // The next deadline wait that blocks wakes `ms` late, as a preempted thread does.
  void OversleepOnce(int64_t ms) { oversleepUs_.store(ms * 1000); }

 private:
  std::atomic<int64_t> nowUs_{0};
  std::atomic<int64_t> waits_{0};
  std::atomic<int64_t> oversleepUs_{0};
};

struct LineEdge {
  int64_t atMs;
  uint8_t state;
  bool operator==(const LineEdge&) const = default;
};

class FakeKeyLine final : public transmit::KeyLine {
 public:
  explicit FakeKeyLine(FakeClock& clock) : clock_(clock) {}
  // Each call takes `ms` of fake time before the line changes, as a USB adapter's control
  // transfer does; call number `stalledCall` (from 0) takes `stallMs` more.
  void SetCallCost(int64_t ms, size_t stalledCall = SIZE_MAX, int64_t stallMs = 0) {
    std::lock_guard<std::mutex> lock(mu_);
    costMs_ = ms;
    stalledCall_ = stalledCall;
    stallMs_ = stallMs;
  }
  void SetKeyLine(uint8_t state) override {
    std::lock_guard<std::mutex> lock(mu_);
    clock_.Advance(costMs_ + (calls_++ == stalledCall_ ? stallMs_ : 0));
    edges_.push_back({clock_.NowMs(), state});
    edgesUs_.push_back({clock_.NowUs(), state});
  }
  std::vector<LineEdge> Edges() const {
    std::lock_guard<std::mutex> lock(mu_);
    return edges_;
  }
  // The same edges with their time in microseconds (atMs holds µs here).
  std::vector<LineEdge> EdgesUs() const {
    std::lock_guard<std::mutex> lock(mu_);
    return edgesUs_;
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
    edgesUs_.clear();
  }

 private:
  FakeClock& clock_;
  mutable std::mutex mu_;
  std::vector<LineEdge> edges_;
  std::vector<LineEdge> edgesUs_;
  int64_t costMs_ = 0;
  size_t calls_ = 0;
  size_t stalledCall_ = SIZE_MAX;
  int64_t stallMs_ = 0;
};

}  // namespace kestrix::test
