// The queue of capture buffers shared by a device's audio thread and the receive loop.
//
// The loop (one thread) prepares, queues and releases headers; the device's audio thread
// (one thread) copies recorded bytes into the oldest queued buffer, marks it done when it
// is full and moves on to the next. Single producer of headers, single consumer: the ring
// indices are atomics and no lock is taken, so Deliver can run in a real-time audio
// callback (it never waits, never allocates, never logs).
#pragma once

#include <array>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/capture_device.h"

namespace kestrix {

class CaptureQueue {
 public:
  // --- Loop thread ----------------------------------------------------------------
  int Prepare(CaptureHeader& header);
  int Add(CaptureHeader& header);
  int Unprepare(CaptureHeader& header);
  // With the audio thread quiet (stream stopped): every queued header is marked done with
  // what it holds, the queue is emptied and the position set back to 0.
  void Flush();

  // --- Audio thread -----------------------------------------------------------------
  struct Delivery {
    size_t dropped = 0;       // bytes that found no queued buffer
    uint32_t completed = 0;   // buffers this delivery filled up and marked done
    bool endsBuffer = false;  // the last byte stored completed a buffer
  };
  // Copies `bytes` bytes from `data` (nullptr: silence) into the queued buffers in queue
  // order.
  Delivery Deliver(const uint8_t* data, size_t bytes);

  // --- Either thread ----------------------------------------------------------------
  bool HasQueued() const {
    return head_.load(std::memory_order_acquire) != tail_.load(std::memory_order_acquire);
  }
  // Bytes stored into buffers since the last Flush (wraps at 2^32, a multiple of every
  // buffer size, so the loop's modulo rules hold across the wrap).
  uint32_t Position() const { return position_.load(std::memory_order_acquire); }

 private:
  static constexpr uint32_t kSlots = 4;  // the loop never has more than two queued
  std::array<CaptureHeader*, kSlots> slots_{};
  // head_: next slot the audio thread fills (written by the audio thread; Flush resets it
  // while that thread is quiet). tail_: next free slot (written by the loop thread).
  std::atomic<uint32_t> head_{0};
  std::atomic<uint32_t> tail_{0};
  std::atomic<uint32_t> position_{0};
};

}  // namespace kestrix
