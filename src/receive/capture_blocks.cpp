#include "receive/capture_blocks.h"

namespace kestrix {

CaptureBlockPacker::CaptureBlockPacker(int captureChannels)
    : stereo_(captureChannels == 2),
      bytesPerFrame_(stereo_ ? 4 : 2),
      block_(static_cast<size_t>(kBlockFrames) * bytesPerFrame_, 0) {}

void CaptureBlockPacker::Put(const int16_t* f, int channels) {
  if (stereo_) {
    Store(2 * filled_, f[0]);
    Store(2 * filled_ + 1, channels > 1 ? f[1] : f[0]);
  } else {
    // A mono capture of a stereo source hears both channels.
    Store(filled_, channels > 1 ? static_cast<int16_t>((f[0] + f[1]) / 2) : f[0]);
  }
}

}  // namespace kestrix
