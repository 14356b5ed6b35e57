#include "platform/capture_queue.h"

#include <algorithm>
#include <cstring>

namespace kestrix {

int CaptureQueue::Prepare(CaptureHeader& header) {
  if (header.Data == nullptr || header.BufferLength == 0) return kCaptureBadParam;
  if ((header.Flags.load(std::memory_order_acquire) & kHeaderInQueue) != 0) {
    return kCaptureStillQueued;
  }
  header.Flags.fetch_or(kHeaderPrepared, std::memory_order_acq_rel);
  return kCaptureOk;
}

int CaptureQueue::Add(CaptureHeader& header) {
  const uint32_t flags = header.Flags.load(std::memory_order_acquire);
  if ((flags & kHeaderPrepared) == 0) return kCaptureUnprepared;
  if ((flags & kHeaderInQueue) != 0) return kCaptureStillQueued;
  const uint32_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) >= kSlots) return kCaptureError;
  header.BytesRecorded.store(0, std::memory_order_relaxed);
  header.Done.store(false, std::memory_order_relaxed);
  header.Flags.fetch_or(kHeaderInQueue, std::memory_order_relaxed);
  slots_[tail % kSlots] = &header;
  // Release: the audio thread that sees the new tail also sees the slot and the header.
  tail_.store(tail + 1, std::memory_order_release);
  return kCaptureOk;
}

int CaptureQueue::Unprepare(CaptureHeader& header) {
  const uint32_t flags = header.Flags.load(std::memory_order_acquire);
  if ((flags & kHeaderInQueue) != 0 && !header.IsDone()) return kCaptureStillQueued;
  header.Flags.fetch_and(~(kHeaderPrepared | kHeaderInQueue), std::memory_order_acq_rel);
  return kCaptureOk;
}

void CaptureQueue::Flush() {
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  for (uint32_t i = head_.load(std::memory_order_acquire); i != tail; ++i) {
    CaptureHeader* h = slots_[i % kSlots];
    h->Flags.fetch_and(~kHeaderInQueue, std::memory_order_relaxed);
    h->Done.store(true, std::memory_order_release);
  }
  head_.store(tail, std::memory_order_release);
  position_.store(0, std::memory_order_release);
}

CaptureQueue::Delivery CaptureQueue::Deliver(const uint8_t* data, size_t bytes) {
  Delivery result;
  while (bytes > 0) {
    const uint32_t head = head_.load(std::memory_order_relaxed);
    // Acquire pairs with Add's release of the tail.
    if (head == tail_.load(std::memory_order_acquire)) {
      result.dropped = bytes;
      return result;
    }
    CaptureHeader& h = *slots_[head % kSlots];
    const uint32_t recorded = h.BytesRecorded.load(std::memory_order_relaxed);
    const size_t n = std::min<size_t>(bytes, h.BufferLength - recorded);
    if (data != nullptr) {
      std::memcpy(h.Data + recorded, data, n);
      data += n;
    } else {
      std::memset(h.Data + recorded, 0, n);
    }
    bytes -= n;
    h.BytesRecorded.store(recorded + static_cast<uint32_t>(n), std::memory_order_relaxed);
    position_.fetch_add(static_cast<uint32_t>(n), std::memory_order_release);
    result.endsBuffer = recorded + n == h.BufferLength;
    if (result.endsBuffer) {
      ++result.completed;
      h.Flags.fetch_and(~kHeaderInQueue, std::memory_order_relaxed);
      head_.store(head + 1, std::memory_order_release);
      // Last: a loop that sees Done sees the samples, the count and the flags.
      h.Done.store(true, std::memory_order_release);
    }
  }
  return result;
}

}  // namespace kestrix
