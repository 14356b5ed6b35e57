#include "receive/capture_blocks.h"

#include "platform/pcm_frames.h"

namespace kestrix {

CaptureBlockPacker::CaptureBlockPacker(int captureChannels)
    : stereo_(captureChannels == 2),
      bytesPerFrame_(stereo_ ? 4 : 2),
      block_(static_cast<size_t>(kBlockFrames) * bytesPerFrame_, 0) {}

void CaptureBlockPacker::Put(const int16_t* f, int channels) {
  int16_t frame[2];
  MapFrame(f, channels, frame, stereo_ ? 2 : 1);
  if (stereo_) {
    Store(2 * filled_, frame[0]);
    Store(2 * filled_ + 1, frame[1]);
  } else {
    Store(filled_, frame[0]);
  }
}

}  // namespace kestrix
