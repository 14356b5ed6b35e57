// The hand-off from the receive loop to the band map's worker: order, the oldest block
// dropped when the worker is behind, and a producer and consumer running at once (this
// binary also runs under ThreadSanitizer).
#include "bandmap/block_queue.h"

#include <gtest/gtest.h>

#include <cstring>
#include <thread>
#include <vector>

namespace kestrix::bandmap {
namespace {

// A block whose bytes all carry `n`, so a torn or mixed-up copy shows.
std::vector<uint8_t> Block(uint32_t n, size_t bytes = 64) {
  std::vector<uint8_t> b(bytes);
  for (size_t i = 0; i + 4 <= bytes; i += 4) std::memcpy(&b[i], &n, 4);
  return b;
}

uint32_t Tag(const BlockQueue::Taken& t) {
  uint32_t n = 0;
  std::memcpy(&n, t.data, 4);
  for (size_t i = 0; i + 4 <= t.bytes; i += 4) {
    uint32_t m = 0;
    std::memcpy(&m, t.data + i, 4);
    if (m != n) return 0xFFFFFFFFu;  // torn
  }
  return n;
}

TEST(BlockQueue, HandsBlocksOverInOrderWithTheirFormat) {
  BlockQueue q(4, 64);
  BlockFormat stereoRight{22050, 2, 1};
  for (uint32_t n = 1; n <= 3; ++n)
    q.Push(Block(n).data(), 64, n == 2 ? stereoRight : BlockFormat{});
  BlockQueue::Taken t;
  for (uint32_t n = 1; n <= 3; ++n) {
    ASSERT_TRUE(q.Take(t));
    EXPECT_EQ(Tag(t), n);
    EXPECT_EQ(t.sequence, n);
    EXPECT_EQ(t.format.rate, n == 2 ? 22050u : 44100u);
    EXPECT_EQ(t.format.channel, n == 2 ? 1 : 0);
    q.Release();
  }
  EXPECT_FALSE(q.Take(t));
  EXPECT_EQ(q.Dropped(), 0u);
}

TEST(BlockQueue, AWorkerBehindLosesTheOldestBlocksAndTheyAreCounted) {
  BlockQueue q(4, 64);
  for (uint32_t n = 1; n <= 10; ++n) q.Push(Block(n).data(), 64, {});
  EXPECT_EQ(q.Dropped(), 6u);
  EXPECT_EQ(q.Pushed(), 10u);
  BlockQueue::Taken t;
  for (uint32_t n = 7; n <= 10; ++n) {
    ASSERT_TRUE(q.Take(t));
    EXPECT_EQ(Tag(t), n);
  }
  q.Release();
  EXPECT_FALSE(q.Take(t));
}

TEST(BlockQueue, TheBlockBeingReadIsNeverOverwritten) {
  BlockQueue q(3, 64);
  q.Push(Block(1).data(), 64, {});
  BlockQueue::Taken held;
  ASSERT_TRUE(q.Take(held));
  for (uint32_t n = 2; n <= 20; ++n) q.Push(Block(n).data(), 64, {});
  EXPECT_EQ(Tag(held), 1u);
  q.Release();
  BlockQueue::Taken t;
  ASSERT_TRUE(q.Take(t));
  EXPECT_EQ(Tag(t), 19u);
  ASSERT_TRUE(q.Take(t));
  EXPECT_EQ(Tag(t), 20u);
}

TEST(BlockQueue, ALongerBlockIsCutToTheSlot) {
  BlockQueue q(3, 16);
  const auto big = Block(5, 64);
  q.Push(big.data(), big.size(), {});
  BlockQueue::Taken t;
  ASSERT_TRUE(q.Take(t));
  EXPECT_EQ(t.bytes, 16u);
  EXPECT_EQ(Tag(t), 5u);
}

TEST(BlockQueue, ProducerAndConsumerAtOnceLoseNothingUncountedAndKeepOrder) {
  BlockQueue q(4, 256);
  constexpr uint32_t kBlocks = 20000;
  std::thread producer([&] {
    for (uint32_t n = 1; n <= kBlocks; ++n) q.Push(Block(n, 256).data(), 256, {});
    q.Wake();
  });
  uint64_t taken = 0;
  uint32_t last = 0;
  bool ordered = true, whole = true;
  for (;;) {
    const uint32_t seen = q.Pushes();
    BlockQueue::Taken t;
    if (q.Take(t)) {
      const uint32_t n = Tag(t);
      whole = whole && n != 0xFFFFFFFFu;
      ordered = ordered && n > last;
      last = n;
      ++taken;
      q.Release();
      if (n == kBlocks) break;
      continue;
    }
    q.WaitForPush(seen);
  }
  producer.join();
  EXPECT_TRUE(whole);
  EXPECT_TRUE(ordered);
  EXPECT_EQ(taken + q.Dropped(), kBlocks);
}

}  // namespace
}  // namespace kestrix::bandmap
