// The PCM format record handed to a sound input device. The sound devices and the receive
// chain share it; it lives here so the devices need nothing from the receive side.
#pragma once

#include <cstdint>

namespace kestrix {

// Field order and widths of the platform's PCM format record.
struct CaptureFormat {
  uint16_t FormatTag = 1;  // PCM
  uint16_t Channels = 1;
  uint32_t SamplesPerSecond = 44100;
  uint32_t AverageBytesPerSecond = 88200;
  uint16_t BlockAlign = 2;
  uint16_t BitsPerSample = 16;
};

}  // namespace kestrix
