#include "receive/capture_format.h"

namespace kestrix {

void CaptureSettings::SetChannel(ChannelMode mode) {
  Channel = mode;
  Format.BitsPerSample = 16;
  if (mode == ChannelMode::kMic) {
    Format.Channels = 1;
    Format.BlockAlign = 2;
    Format.AverageBytesPerSecond = Format.SamplesPerSecond * 2;
    BufferBytes = 2048 * 8;
  } else {
    Format.Channels = 2;
    Format.BlockAlign = 4;
    Format.AverageBytesPerSecond = Format.SamplesPerSecond * 4;
    BufferBytes = 2048 * 16;
  }
  HalfBufferBytes = static_cast<uint16_t>(BufferBytes / 2);
}

void CaptureSettings::SetRate(uint32_t rate) {
  // The filter button sets the byte rate as for mono, whatever the channel mode.
  Format.SamplesPerSecond = rate;
  Format.AverageBytesPerSecond = rate * 2;
}

void ConvertSamples(const uint8_t* buffer, ChannelMode mode, int count, int32_t* out) {
  const int stride = mode == ChannelMode::kMic ? 1 : 2;
  const int first = mode == ChannelMode::kRight ? 1 : 0;
  for (int i = 0; i < count; ++i) {
    const uint8_t* p = buffer + 2 * (i * stride + first);
    out[i] = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
  }
}

}  // namespace kestrix
