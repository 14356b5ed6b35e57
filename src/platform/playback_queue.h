// The queue of output buffers shared by the keyer thread and a device's audio thread.
//
// The keyer (one thread) prepares, writes and releases headers; the audio thread (one
// thread) takes bytes from the oldest queued buffer, marks it done when it has taken the
// last byte and moves on. Single producer, single consumer, atomic ring indices and no
// lock, so Take can run in a real-time audio callback (no waits, allocations or logs).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/playback_device.h"

namespace kestrix {

class PlaybackQueue {
 public:
  // --- Keyer thread -----------------------------------------------------------------
  int Prepare(PlaybackHeader& header);
  int Write(PlaybackHeader& header);
  int Unprepare(PlaybackHeader& header);
  // With the audio thread quiet (stream stopped) or the queue empty: every queued header
  // is marked done, the queue emptied and the position set back to 0.
  void Flush();

  // --- Audio thread ---------------------------------------------------------------------
  struct Taken {
    size_t bytes = 0;        // copied from buffers; the rest of `out` is silence
    uint32_t completed = 0;  // buffers this call finished and marked done
  };
  // Fills `out` with `bytes` bytes from the queued buffers in queue order, the rest with
  // zeros. `gain` (0..1) scales the 16-bit samples unless it is 1.
  Taken Take(uint8_t* out, size_t bytes, float gain = 1.0f);

  // --- Either thread ---------------------------------------------------------------------
  bool HasQueued() const {
    return head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_acquire);
  }
  uint32_t Position() const { return position_.load(std::memory_order_acquire); }

 private:
  static constexpr uint32_t kSlots = 4;  // the keyer never has more than two queued
  std::array<PlaybackHeader*, kSlots> slots_{};
  std::atomic<uint32_t> head_{0};  // next slot the audio thread plays
  std::atomic<uint32_t> tail_{0};  // next free slot
  std::atomic<uint32_t> position_{0};
};

}  // namespace kestrix
