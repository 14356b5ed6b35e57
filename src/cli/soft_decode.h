// kestrix-decode --engine soft on a recording: the soft-decision decoder on the chosen
// channel, tuned to --tone or to the strongest tone of the first seconds.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/decode_options.h"
#include "soft/soft_decoder.h"

namespace kestrix {

int RunSoftDecode(const DecodeOptions& options, std::ostream& out, std::string& error);

// The decoder's settings for the command line's hints (--speed, --case).
struct SoftHints {
  double wpm = 0.0;
  bool upperCase = false;
};
SoftHints SoftHintsFrom(const DecodeOptions& options);
// The decoder's configuration with those hints applied.
soft::SoftDecoderConfig SoftConfigFrom(const DecodeOptions& options);

// The soft decoder's whole text (Windows-1252) of interleaved 16-bit frames at 44.1 kHz
// (`channels` 1 or 2; the channel as RunSoftDecode picks it) with the tone at `toneHz`.
std::string SoftReadFrames(const std::vector<int16_t>& frames, int channels, double toneHz,
                           const DecodeOptions& options);

}  // namespace kestrix
