// libFuzzer target: SigMF metadata (and so the JSON reader under it). Any bytes must give
// either metadata within the documented ranges or an error line, never a crash or hang.
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "skim/sigmf.h"
#include "skim/sigmf_json.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  kestrix::skim::SigmfMeta meta;
  std::string error;
  if (kestrix::skim::ParseSigmfMeta(text, meta, error)) {
    if (!(meta.sampleRate >= 1000.0 && meta.sampleRate <= 100e6)) std::abort();
    if (meta.BytesPerSample() < 2 || meta.BytesPerSample() > 8) std::abort();
    if (!std::isnan(meta.frequency) && !(meta.frequency >= 0.0)) std::abort();
    double t = 0.0;
    kestrix::skim::ParseIsoUtc(meta.datetime, t);
  } else if (error.empty()) {
    std::abort();
  }
  nlohmann::json v;
  if (!kestrix::skim::ParseMetadataJson(text, v, error) && error.empty()) std::abort();
  return 0;
}
