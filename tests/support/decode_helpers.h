// Runs generated audio through the same session kestrix-decode uses.
#pragma once

#include <string>
#include <vector>

#include "cli/decode_session.h"
#include "signalgen/morse_gen.h"

namespace kestrix::testing {

// Decodes mono 44100 Hz samples with the given options; returns the receive-pane text
// (Windows-1252 bytes).
inline std::string DecodeSamples(const std::vector<int16_t>& samples,
                                 DecodeOptions options = DecodeOptions{}) {
  std::string text;
  DecodeSession session(options, [&text](std::string_view t) { text.append(t); });
  session.Feed(samples.data(), static_cast<int>(samples.size()), 1);
  session.Finish();
  return text;
}

inline std::string DecodeText(const std::string& sent, const signalgen::MorseSignalParams& params,
                              DecodeOptions options = DecodeOptions{}) {
  return DecodeSamples(signalgen::GenerateMorse(sent, params), std::move(options));
}

inline std::string Lower(std::string s) {
  for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace kestrix::testing
