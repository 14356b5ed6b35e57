#include "platform/playback_queue.h"

#include <algorithm>
#include <cstring>

namespace kestrix {

const char* PlaybackResultText(int code) {
  switch (code) {
    case kPlaybackOk:
      return "no error";
    case kPlaybackError:
      return "sound system error";
    case kPlaybackBadDevice:
      return "no such output device";
    case kPlaybackNotOpen:
      return "output device not open";
    case kPlaybackNoMemory:
      return "out of memory";
    case kPlaybackBadParam:
      return "bad buffer header";
    case kPlaybackBadFormat:
      return "format not played by the device";
    case kPlaybackStillPlaying:
      return "buffer still playing";
    case kPlaybackUnprepared:
      return "buffer not prepared";
    case kPlaybackDeviceLost:
      return "output device lost";
    default:
      return "unknown error";
  }
}

bool IsMonoPcm16(const PlaybackFormat& f) {
  return f.FormatTag == 1 && f.Channels == 1 && f.BitsPerSample == 16 && f.BlockAlign == 2 &&
         f.SamplesPerSecond >= 8000 && f.SamplesPerSecond <= 192000 &&
         f.AvgBytesPerSecond == f.SamplesPerSecond * 2;
}

int PlaybackQueue::Prepare(PlaybackHeader& header) {
  if (header.Data == nullptr || header.BufferLength == 0) return kPlaybackBadParam;
  if ((header.Flags.load(std::memory_order_acquire) & kPlaybackInQueue) != 0) {
    return kPlaybackStillPlaying;
  }
  header.Flags.fetch_or(kPlaybackPrepared, std::memory_order_acq_rel);
  return kPlaybackOk;
}

int PlaybackQueue::Write(PlaybackHeader& header) {
  const uint32_t flags = header.Flags.load(std::memory_order_acquire);
  if ((flags & kPlaybackPrepared) == 0) return kPlaybackUnprepared;
  if ((flags & kPlaybackInQueue) != 0) return kPlaybackStillPlaying;
  const uint32_t tail = tail_.load(std::memory_order_relaxed);
  if (tail - head_.load(std::memory_order_acquire) >= kSlots) return kPlaybackError;
  header.BytesPlayed.store(0, std::memory_order_relaxed);
  header.Done.store(false, std::memory_order_relaxed);
  header.Flags.fetch_or(kPlaybackInQueue, std::memory_order_relaxed);
  slots_[tail % kSlots] = &header;
  // Release: the audio thread that sees the new tail sees the slot, header and samples.
  tail_.store(tail + 1, std::memory_order_release);
  return kPlaybackOk;
}

int PlaybackQueue::Unprepare(PlaybackHeader& header) {
  const uint32_t flags = header.Flags.load(std::memory_order_acquire);
  if ((flags & kPlaybackInQueue) != 0 && !header.IsDone()) return kPlaybackStillPlaying;
  header.Flags.fetch_and(~(kPlaybackPrepared | kPlaybackInQueue), std::memory_order_acq_rel);
  return kPlaybackOk;
}

void PlaybackQueue::Flush() {
  const uint32_t tail = tail_.load(std::memory_order_acquire);
  for (uint32_t i = head_.load(std::memory_order_acquire); i != tail; ++i) {
    PlaybackHeader* h = slots_[i % kSlots];
    h->Flags.fetch_and(~kPlaybackInQueue, std::memory_order_relaxed);
    h->Done.store(true, std::memory_order_release);
  }
  head_.store(tail, std::memory_order_release);
  position_.store(0, std::memory_order_release);
}

PlaybackQueue::Taken PlaybackQueue::Take(uint8_t* out, size_t bytes, float gain) {
  Taken result;
  while (bytes > 0) {
    const uint32_t head = head_.load(std::memory_order_relaxed);
    if (head == tail_.load(std::memory_order_acquire)) break;  // pairs with Write's release
    PlaybackHeader& h = *slots_[head % kSlots];
    const uint32_t played = h.BytesPlayed.load(std::memory_order_relaxed);
    const size_t n = std::min<size_t>(bytes, h.BufferLength - played);
    std::memcpy(out, h.Data + played, n);
    if (gain != 1.0f) {
      for (size_t i = 0; i + 1 < n; i += 2) {
        int16_t v;
        std::memcpy(&v, out + i, 2);
        v = static_cast<int16_t>(static_cast<float>(v) * gain);
        std::memcpy(out + i, &v, 2);
      }
    }
    out += n;
    bytes -= n;
    result.bytes += n;
    h.BytesPlayed.store(played + static_cast<uint32_t>(n), std::memory_order_relaxed);
    position_.fetch_add(static_cast<uint32_t>(n), std::memory_order_release);
    if (played + n == h.BufferLength) {
      ++result.completed;
      h.Flags.fetch_and(~kPlaybackInQueue, std::memory_order_relaxed);
      head_.store(head + 1, std::memory_order_release);
      // Last: a keyer that sees Done may refill the buffer.
      h.Done.store(true, std::memory_order_release);
    }
  }
  if (bytes > 0) std::memset(out, 0, bytes);
  return result;
}

}  // namespace kestrix
