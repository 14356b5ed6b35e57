// One frame of 16-bit PCM as a capture of a given channel count hears it. Recordings
// stand in for the sound card (the recorded-input device) and are packed into capture
// blocks (kestrix-decode) with this one mapping, so both hear a recording alike.
#pragma once

#include <cstdint>

namespace kestrix {

// `in`: one frame of `inChannels` (1 or 2) samples; `out`: `outChannels` (1 or 2) samples.
// A stereo capture gets both channels (a mono source on both); a mono capture gets a mono
// source, or the mean of the two channels of a stereo one (rounded towards zero).
inline void MapFrame(const int16_t* in, int inChannels, int16_t* out, int outChannels) {
  if (outChannels == 2) {
    out[0] = in[0];
    out[1] = inChannels > 1 ? in[1] : in[0];
  } else {
    out[0] = inChannels > 1 ? static_cast<int16_t>((in[0] + in[1]) / 2) : in[0];
  }
}

}  // namespace kestrix
