// kestrix-decode --engine soft on a recording: the soft-decision decoder on the chosen
// channel, tuned to --tone or to the strongest tone of the first seconds.
#pragma once

#include <ostream>
#include <string>

#include "cli/decode_options.h"

namespace kestrix {

int RunSoftDecode(const DecodeOptions& options, std::ostream& out, std::string& error);

// The decoder's settings for the command line's hints (--speed, --case).
struct SoftHints {
  double wpm = 0.0;
  bool upperCase = false;
};
SoftHints SoftHintsFrom(const DecodeOptions& options);

}  // namespace kestrix
