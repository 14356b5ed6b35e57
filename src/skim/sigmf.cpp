#include "skim/sigmf.h"

#include <cmath>
#include <cstdint>
#include <ctime>

#include "skim/sigmf_json.h"

namespace kestrix::skim {

size_t SigmfMeta::BytesPerSample() const {
  switch (type) {
    case SigmfType::Cf32Le:
      return 8;
    case SigmfType::Ci16Le:
      return 4;
    case SigmfType::Ci8:
    case SigmfType::Cu8:
      return 2;
  }
  return 8;
}

bool ParseSigmfMeta(std::string_view json, SigmfMeta& out, std::string& error) {
  out = SigmfMeta{};
  nlohmann::json root;
  std::string why;
  if (!ParseMetadataJson(json, root, why)) {
    error = "not valid JSON (" + why + ")";
    return false;
  }
  // A member of an object, null when absent or when `in` is no object.
  auto member = [](const nlohmann::json& in, const char* key) -> const nlohmann::json* {
    if (!in.is_object()) return nullptr;
    const auto it = in.find(key);
    return it == in.end() ? nullptr : &*it;
  };
  const nlohmann::json* global = member(root, "global");
  if (global == nullptr || !global->is_object()) {
    error = "no \"global\" object (not SigMF metadata)";
    return false;
  }
  const nlohmann::json* type = member(*global, "core:datatype");
  if (type == nullptr || !type->is_string()) {
    error = "no core:datatype";
    return false;
  }
  out.datatype = type->get<std::string>();
  const std::string& t = out.datatype;
  if (t == "cf32_le") {
    out.type = SigmfType::Cf32Le;
  } else if (t == "ci16_le") {
    out.type = SigmfType::Ci16Le;
  } else if (t == "ci8" || t == "ci8_le" || t == "ci8_be") {
    out.type = SigmfType::Ci8;
  } else if (t == "cu8" || t == "cu8_le" || t == "cu8_be") {
    out.type = SigmfType::Cu8;
  } else if (!t.empty() && t[0] == 'r') {
    error = "core:datatype '" + t +
            "' is a real sample type, not I/Q (for a receiver's audio use --audio)";
    return false;
  } else if (t.size() > 3 && t.substr(t.size() - 3) == "_be") {
    error = "core:datatype '" + t + "' is big-endian; only cf32_le, ci16_le, ci8 and cu8 are read";
    return false;
  } else {
    error = "core:datatype '" + t +
            "' is not a sample type kestrix-skim reads (cf32_le, ci16_le, ci8, cu8)";
    return false;
  }
  const nlohmann::json* rate = member(*global, "core:sample_rate");
  if (rate == nullptr || !rate->is_number()) {
    error = "no core:sample_rate";
    return false;
  }
  const double hz = rate->get<double>();
  if (!(hz >= 1000.0 && hz <= 100e6)) {
    error = "core:sample_rate " + std::to_string(hz) + " is out of range (1 kHz .. 100 MHz)";
    return false;
  }
  out.sampleRate = hz;
  const nlohmann::json* channels = member(*global, "core:num_channels");
  if (channels != nullptr && (!channels->is_number() || channels->get<double>() != 1.0)) {
    error = "core:num_channels is not 1 (only single-channel recordings are read)";
    return false;
  }
  const nlohmann::json* captures = member(root, "captures");
  if (captures != nullptr && captures->is_array() && !captures->empty()) {
    const nlohmann::json& first = captures->front();
    const nlohmann::json* f = member(first, "core:frequency");
    if (f != nullptr && f->is_number()) {
      const double v = f->get<double>();
      if (std::isfinite(v) && v >= 0.0) out.frequency = v;
    }
    const nlohmann::json* dt = member(first, "core:datetime");
    if (dt != nullptr && dt->is_string()) out.datetime = dt->get<std::string>();
  }
  return true;
}

bool ParseIsoUtc(std::string_view s, double& seconds) {
  // YYYY-MM-DDTHH:MM:SS[.fff][Z]
  auto num = [&](size_t at, size_t len, int& v) {
    if (at + len > s.size()) return false;
    v = 0;
    for (size_t i = at; i < at + len; ++i) {
      if (s[i] < '0' || s[i] > '9') return false;
      v = v * 10 + (s[i] - '0');
    }
    return true;
  };
  int y, mo, d, h, mi, se;
  if (!num(0, 4, y) || s.size() < 19 || s[4] != '-' || !num(5, 2, mo) || s[7] != '-' ||
      !num(8, 2, d) || (s[10] != 'T' && s[10] != ' ') || !num(11, 2, h) || s[13] != ':' ||
      !num(14, 2, mi) || s[16] != ':' || !num(17, 2, se))
    return false;
  if (mo < 1 || mo > 12 || d < 1 || d > 31 || h > 23 || mi > 59 || se > 60) return false;
  double frac = 0.0;
  size_t i = 19;
  if (i < s.size() && s[i] == '.') {
    double scale = 0.1;
    for (++i; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i, scale /= 10)
      frac += (s[i] - '0') * scale;
  }
  // Days from the civil date (proleptic Gregorian), no time zone or locale involved.
  const int yy = y - (mo <= 2 ? 1 : 0);
  const int era = (yy >= 0 ? yy : yy - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(yy - era * 400);
  const unsigned doy = static_cast<unsigned>((153 * (mo + (mo > 2 ? -3 : 9)) + 2) / 5 + d - 1);
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  const int64_t days = static_cast<int64_t>(era) * 146097 + static_cast<int64_t>(doe) - 719468;
  seconds = static_cast<double>(days * 86400 + h * 3600 + mi * 60 + se) + frac;
  return true;
}

}  // namespace kestrix::skim
