// kestrix-decode --engine soft on a recording: the soft-decision decoder on the chosen
// channel, tuned to --tone or to the strongest tone of the first seconds.
#pragma once

#include <cstddef>
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

// The tone RunSoftDecode starts on when none is given, of mono samples at 44.1 kHz (full
// scale 1): the strongest tone of the first seconds where one stands out of the noise
// (looked for up to a minute in), else of the first seconds.
double SoftToneHz(const float* mono, size_t count);

// The soft decoder's whole text (Windows-1252) of interleaved 16-bit frames at 44.1 kHz
// (`channels` 1 or 2; the channel as RunSoftDecode picks it) with the tone at `toneHz`, or
// found as RunSoftDecode finds it when `toneHz` is 0.
// `snrDb`, when given, gets the decoder's median SNR (dB in 500 Hz) over the seconds in
// which it heard the signal, -99 when it never did.
std::string SoftReadFrames(const std::vector<int16_t>& frames, int channels, double toneHz,
                           const DecodeOptions& options, double* snrDb = nullptr);

}  // namespace kestrix
