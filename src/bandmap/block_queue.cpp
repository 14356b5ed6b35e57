#include "bandmap/block_queue.h"

#include <algorithm>
#include <cstring>

namespace kestrix::bandmap {

BlockQueue::BlockQueue(size_t slots, size_t maxBytes)
    : slots_(std::max<size_t>(slots, 3)), maxBytes_(maxBytes) {
  // Three slots at least: one being read, one being written, one waiting.
  for (Slot& s : slots_) s.data.assign(maxBytes, 0);
}

void BlockQueue::Push(const uint8_t* data, size_t bytes, const BlockFormat& format) {
  // The slot written longest ago is the oldest block if it still waits. One slot at most
  // is being read, so one of two neighbours can always be claimed.
  for (size_t tries = 0; tries < slots_.size(); ++tries) {
    Slot& s = slots_[writeCursor_];
    writeCursor_ = (writeCursor_ + 1) % slots_.size();
    uint64_t word = s.word.load(std::memory_order_relaxed);
    const uint64_t state = word & kStateMask;
    if (state == kReading) continue;
    // Acquire: a slot the consumer has just released must not be overwritten before its
    // reads of the old bytes are done.
    if (!s.word.compare_exchange_strong(word, (word & ~kStateMask) | kWriting,
                                        std::memory_order_acquire)) {
      continue;  // the consumer claimed it in between
    }
    if (state == kReady) dropped_.fetch_add(1, std::memory_order_relaxed);
    s.bytes = std::min(bytes, maxBytes_);
    std::memcpy(s.data.data(), data, s.bytes);
    s.format = format;
    ++sequence_;
    // Release: the bytes above are visible to whoever claims the slot as ready.
    s.word.store((sequence_ << 2) | kReady, std::memory_order_release);
    pushed_.fetch_add(1, std::memory_order_relaxed);
    wake_.fetch_add(1, std::memory_order_release);
    wake_.notify_one();
    return;
  }
  dropped_.fetch_add(1, std::memory_order_relaxed);  // unreachable with three slots
}

bool BlockQueue::Take(Taken& out) {
  if (holding_) Release();
  for (;;) {
    size_t best = slots_.size();
    uint64_t bestWord = 0;
    for (size_t i = 0; i < slots_.size(); ++i) {
      const uint64_t word = slots_[i].word.load(std::memory_order_relaxed);
      if ((word & kStateMask) != kReady) continue;
      if (best == slots_.size() || (word >> 2) < (bestWord >> 2)) {
        best = i;
        bestWord = word;
      }
    }
    if (best == slots_.size()) return false;
    // The exact word, sequence included: a slot refilled since the scan is not taken as
    // the oldest. Acquire pairs with the producer's release.
    uint64_t expected = bestWord;
    if (!slots_[best].word.compare_exchange_strong(expected, (bestWord & ~kStateMask) | kReading,
                                                   std::memory_order_acquire)) {
      continue;
    }
    // The scan looks at the slots one after another: the producer may have finished an
    // older block in a slot already passed and a newer one in a slot not yet reached.
    // Whatever was ready before the block claimed is visible now (the claim's acquire), so
    // a second look finds it; the claimed block goes back and the older one is taken first.
    bool older = false;
    for (size_t i = 0; i < slots_.size() && !older; ++i) {
      const uint64_t word = slots_[i].word.load(std::memory_order_relaxed);
      older = i != best && (word & kStateMask) == kReady && (word >> 2) < (bestWord >> 2);
    }
    if (older) {
      slots_[best].word.store(bestWord, std::memory_order_release);
      continue;
    }
    const Slot& s = slots_[best];
    out.data = s.data.data();
    out.bytes = s.bytes;
    out.format = s.format;
    out.sequence = bestWord >> 2;
    reading_ = best;
    holding_ = true;
    return true;
  }
}

void BlockQueue::Release() {
  if (!holding_) return;
  holding_ = false;
  Slot& s = slots_[reading_];
  // Release: our reads of the bytes happen before the producer may write them again.
  s.word.store(s.word.load(std::memory_order_relaxed) & ~kStateMask, std::memory_order_release);
}

void BlockQueue::Wake() {
  wake_.fetch_add(1, std::memory_order_release);
  wake_.notify_all();
}

}  // namespace kestrix::bandmap
