// The capture format handed to the sound device, the buffer size that follows from the
// input channel choice, and the conversion of a completed buffer into samples.
#pragma once

#include <cstdint>

#include "platform/pcm_format.h"

namespace kestrix {

inline constexpr int kBlockFrames = 8192;          // frames per capture buffer
inline constexpr int kManualFrames = 2048;         // frames the MANUAL pass converts
inline constexpr int kCaptureBufferBytes = 65550;  // each capture buffer's allocation
inline constexpr int kSampleBlockSize = 16384;

enum class ChannelMode : int32_t { kMic = 1, kLeft = 2, kRight = 3 };

struct CaptureSettings {
  CaptureFormat Format;
  ChannelMode Channel = ChannelMode::kMic;
  int32_t InputDevice = 0;
  uint16_t BufferBytes = 16384;
  uint16_t HalfBufferBytes = 8192;

  // The input channel choice: format, buffer size and half size. Mic is mono; Left and
  // Right capture stereo and keep one channel.
  void SetChannel(ChannelMode mode);
  // The receive-speed button's rate change (22050 Hz); used at the next open.
  void SetRate(uint32_t rate);
};

// Fills out[0..count-1] from a completed buffer of 16-bit little-endian samples:
// every sample (Mic), the even samples (Left) or the odd samples (Right).
void ConvertSamples(const uint8_t* buffer, ChannelMode mode, int count, int32_t* out);

}  // namespace kestrix
