// SigMF recordings: the metadata file (.sigmf-meta, JSON) that says how to read the
// samples in its .sigmf-data file.
//
// Read from the metadata: "global" -> "core:datatype" (required), "core:sample_rate"
// (required, Hz), "core:num_channels" (must be 1 when present), "core:datetime" of the
// first capture; the centre frequency is "captures"[0] -> "core:frequency" (Hz), absent
// when the file gives none. Every other field is ignored.
//
// Sample types read: cf32_le (float I, Q), ci16_le (int16 I, Q, full scale 32768), ci8
// and cu8 (8-bit, as many cheap receivers record). Anything else is refused by name, with
// a hint for real types (a receiver's audio) and big-endian ones.
#pragma once

#include <cmath>
#include <cstddef>
#include <string>
#include <string_view>

namespace kestrix::skim {

enum class SigmfType { Cf32Le, Ci16Le, Ci8, Cu8 };

struct SigmfMeta {
  SigmfType type = SigmfType::Cf32Le;
  std::string datatype;             // as written in the file
  double sampleRate = 0.0;          // Hz
  double frequency = std::nan("");  // centre, Hz; NaN when not given
  std::string datetime;             // ISO 8601 of the first capture, "" when not given
  size_t BytesPerSample() const;    // one complex sample
};

// Parses the metadata text; false with one line in `error` ("core:datatype 'ri16_le' is a
// real sample type; ...").
bool ParseSigmfMeta(std::string_view json, SigmfMeta& out, std::string& error);

// Seconds since 1970 UTC of an ISO 8601 time such as "2024-05-01T12:34:56.5Z"; false
// when it is not one.
bool ParseIsoUtc(std::string_view text, double& seconds);

}  // namespace kestrix::skim
