// The header queue between a device's audio thread and the receive loop.
#include "platform/capture_queue.h"

#include <gtest/gtest.h>

#include <numeric>
#include <thread>
#include <vector>

namespace kestrix {
namespace {

// Points `h` at `mem` and queues it, as the loop does with each buffer.
void Queue(CaptureQueue& q, CaptureHeader& h, std::vector<uint8_t>& mem) {
  h.Reset(mem.data(), static_cast<uint32_t>(mem.size()));
  ASSERT_EQ(q.Prepare(h), kCaptureOk);
  ASSERT_EQ(q.Add(h), kCaptureOk);
}

TEST(CaptureQueue, FillsBuffersInQueueOrderAndMarksThemDone) {
  std::vector<uint8_t> a(8), b(8);
  CaptureHeader ha, hb;
  CaptureQueue q;
  Queue(q, ha, a);
  Queue(q, hb, b);

  std::vector<uint8_t> in(12);
  std::iota(in.begin(), in.end(), 1);
  CaptureQueue::Delivery d = q.Deliver(in.data(), in.size());
  EXPECT_EQ(d.dropped, 0u);
  EXPECT_EQ(d.completed, 1u);
  EXPECT_FALSE(d.endsBuffer);
  EXPECT_TRUE(ha.IsDone());
  EXPECT_FALSE(hb.IsDone());
  EXPECT_EQ(ha.BytesRecorded.load(), 8u);
  EXPECT_EQ(hb.BytesRecorded.load(), 4u);
  EXPECT_EQ(a, (std::vector<uint8_t>{1, 2, 3, 4, 5, 6, 7, 8}));
  EXPECT_EQ(b[0], 9);
  EXPECT_EQ(q.Position(), 12u);

  // Silence completes b; the rest finds no buffer.
  d = q.Deliver(nullptr, 10);
  EXPECT_EQ(d.dropped, 6u);
  EXPECT_TRUE(d.endsBuffer);
  EXPECT_TRUE(hb.IsDone());
  EXPECT_EQ(b[7], 0);
  EXPECT_EQ(q.Position(), 16u);  // lost bytes are not counted
  EXPECT_FALSE(q.HasQueued());
}

TEST(CaptureQueue, RefusesHeadersInTheWrongState) {
  std::vector<uint8_t> a(8);
  CaptureHeader h;
  CaptureQueue q;
  EXPECT_EQ(q.Prepare(h), kCaptureBadParam);  // no data
  h.Reset(a.data(), 8);
  EXPECT_EQ(q.Add(h), kCaptureUnprepared);
  ASSERT_EQ(q.Prepare(h), kCaptureOk);
  ASSERT_EQ(q.Add(h), kCaptureOk);
  EXPECT_EQ(q.Add(h), kCaptureStillQueued);
  EXPECT_EQ(q.Prepare(h), kCaptureStillQueued);
  EXPECT_EQ(q.Unprepare(h), kCaptureStillQueued);
  q.Deliver(nullptr, 8);
  EXPECT_EQ(q.Unprepare(h), kCaptureOk);
  EXPECT_EQ(q.Add(h), kCaptureUnprepared);
}

// An audio thread fills while this thread queues and releases, as the loop does: every
// byte arrives once, in order.
TEST(CaptureQueue, HandsOverBetweenThreadsWithoutLosingOrder) {
  constexpr int kBuffers = 2000;
  constexpr uint32_t kSize = 64;
  std::vector<uint8_t> mem[2] = {std::vector<uint8_t>(kSize), std::vector<uint8_t>(kSize)};
  CaptureHeader h[2];
  CaptureQueue q;
  std::atomic<bool> quit{false};
  std::thread audio([&] {
    uint8_t next = 0;
    while (!quit.load()) {
      uint8_t chunk[24];
      for (uint8_t& c : chunk) c = next++;
      // Wait for room rather than drop, so the test can check every byte.
      size_t off = 0;
      while (off < sizeof chunk && !quit.load()) {
        const size_t left = sizeof chunk - off;
        const size_t dropped = q.Deliver(chunk + off, left).dropped;
        off += left - dropped;
        if (dropped > 0) std::this_thread::yield();
      }
    }
  });
  uint8_t expect = 0;
  Queue(q, h[0], mem[0]);
  Queue(q, h[1], mem[1]);
  for (int n = 0; n < kBuffers; ++n) {
    CaptureHeader& cur = h[n % 2];
    while (!cur.IsDone()) std::this_thread::yield();
    ASSERT_EQ(q.Unprepare(cur), kCaptureOk);
    for (uint32_t k = 0; k < kSize; ++k) ASSERT_EQ(mem[n % 2][k], expect++) << "buffer " << n;
    ASSERT_NO_FATAL_FAILURE(Queue(q, cur, mem[n % 2]));
  }
  quit.store(true);
  audio.join();
}

}  // namespace
}  // namespace kestrix
