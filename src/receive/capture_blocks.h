// Interleaved 16-bit frames from a recording or a generator, packed into capture blocks of
// kBlockFrames frames in the capture format, as the sound card would have filled them: a
// stereo capture (Left or Right) gets both channels (a mono source on both), a mono capture
// (Mic) gets a mono source or the mean of the two channels of a stereo one.
//
// kestrix-decode's file mode and --best pack the same way, so both read the same blocks.
// One thread at a time; the block buffer is allocated once.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <vector>

#include "receive/capture_format.h"

namespace kestrix {

using CaptureBlock = std::vector<uint8_t>;  // kBlockFrames * BlockAlign bytes

class CaptureBlockPacker {
 public:
  // `captureChannels`: 1 (Mic) or 2 (Left, Right), the capture format's Channels.
  explicit CaptureBlockPacker(int captureChannels = 1);

  // Adds `count` frames of `channels` (1 or 2) interleaved samples; calls `full(block)`
  // for each block completed.
  template <typename Full>
  void Feed(const int16_t* frames, size_t count, int channels, Full&& full) {
    for (size_t i = 0; i < count; ++i) {
      Put(frames + i * static_cast<size_t>(channels), channels);
      if (++filled_ == static_cast<size_t>(kBlockFrames)) {
        filled_ = 0;
        full(static_cast<const CaptureBlock&>(block_));
      }
    }
  }

  // End of the input: completes a partial block with silence and adds `flushFrames` of
  // silence after the input (the completion counts towards it), in whole blocks. Nothing
  // when there is neither a partial block nor flush silence.
  template <typename Full>
  void Finish(int flushFrames, Full&& full) {
    if (filled_ == 0 && flushFrames <= 0) return;
    int remaining = flushFrames > 0 ? flushFrames : 0;
    std::fill(block_.begin() + static_cast<ptrdiff_t>(filled_ * bytesPerFrame_), block_.end(), 0);
    remaining -= kBlockFrames - static_cast<int>(filled_);
    filled_ = 0;
    full(static_cast<const CaptureBlock&>(block_));
    std::fill(block_.begin(), block_.end(), 0);
    while (remaining > 0) {
      full(static_cast<const CaptureBlock&>(block_));
      remaining -= kBlockFrames;
    }
  }

 private:
  void Put(const int16_t* frame, int channels);
  void Store(size_t sample, int16_t v) {
    block_[2 * sample] = static_cast<uint8_t>(static_cast<uint16_t>(v) & 0xFF);
    block_[2 * sample + 1] = static_cast<uint8_t>(static_cast<uint16_t>(v) >> 8);
  }

  bool stereo_;
  size_t bytesPerFrame_;
  CaptureBlock block_;
  size_t filled_ = 0;  // frames in block_
};

}  // namespace kestrix
