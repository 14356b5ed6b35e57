// The band map's hand-off of capture blocks from the receive loop to the skimmer's worker.
//
// The receive loop (one producer, the GUI thread) copies each completed capture buffer
// into a slot and goes on; it never waits and never allocates. The worker (one consumer)
// takes the oldest block waiting. When the worker falls behind and every slot is full, the
// producer overwrites the oldest waiting block (the freshest sound is worth more to a band
// map than a late one) and counts it as dropped.
//
// Each slot has one atomic word: its state in the low two bits (free, being written, ready,
// being read) and the block's sequence number above them. Both sides claim a slot with a
// compare-and-swap on that word, so a slot is never written and read at once, and the
// sequence number in the same word keeps a consumer from taking a slot that was refilled
// between its look and its claim, and, looked at again after the claim, from taking a block
// before an older one that became ready while it looked. The release store that marks a slot ready
// (or free) publishes the bytes written before it; the acquire in the claim makes them visible.
//
// Sizes: `slots` slots of up to `maxBytes` bytes each, allocated at construction.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix::bandmap {

// What travels with a block: how to read its samples.
struct BlockFormat {
  uint32_t rate = 44100;  // frames per second
  int channels = 1;       // interleaved 16-bit little-endian samples per frame
  int channel = 0;        // the one to keep: 0 (mono or left) or 1 (right)
};

class BlockQueue {
 public:
  BlockQueue(size_t slots, size_t maxBytes);
  BlockQueue(const BlockQueue&) = delete;
  BlockQueue& operator=(const BlockQueue&) = delete;

  // --- Producer ---------------------------------------------------------------------
  // Copies `bytes` bytes (at most maxBytes; more are cut) into a slot. Never waits.
  void Push(const uint8_t* data, size_t bytes, const BlockFormat& format);

  // --- Consumer ---------------------------------------------------------------------
  // The oldest block waiting, or false when none. The block's bytes stay valid (and the
  // producer keeps off its slot) until Release().
  struct Taken {
    const uint8_t* data = nullptr;
    size_t bytes = 0;
    BlockFormat format;
    uint64_t sequence = 0;  // 1 for the first block pushed
  };
  bool Take(Taken& out);
  void Release();
  // Blocks until a push or Wake() happens after `seen` (a Pushes() value read before).
  void WaitForPush(uint32_t seen) const { wake_.wait(seen, std::memory_order_acquire); }
  // Wakes a consumer waiting in WaitForPush (to stop it).
  void Wake();

  // --- Either thread ----------------------------------------------------------------
  uint32_t Pushes() const { return wake_.load(std::memory_order_acquire); }
  uint64_t Pushed() const { return pushed_.load(std::memory_order_relaxed); }
  uint64_t Dropped() const { return dropped_.load(std::memory_order_relaxed); }
  size_t Slots() const { return slots_.size(); }

 private:
  enum : uint64_t { kFree = 0, kWriting = 1, kReady = 2, kReading = 3, kStateMask = 3 };
  struct Slot {
    std::atomic<uint64_t> word{kFree};
    std::vector<uint8_t> data;
    size_t bytes = 0;
    BlockFormat format;
  };
  std::vector<Slot> slots_;
  size_t maxBytes_;
  size_t writeCursor_ = 0;  // producer only: the slot written longest ago
  uint64_t sequence_ = 0;   // producer only
  size_t reading_ = 0;      // consumer only: the slot Take() claimed
  bool holding_ = false;    // consumer only
  std::atomic<uint64_t> pushed_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint32_t> wake_{0};  // bumped by every push and Wake()
};

}  // namespace kestrix::bandmap
