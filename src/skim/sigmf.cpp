#include "skim/sigmf.h"

#include <cstdint>
#include <ctime>

#include "skim/json_lite.h"

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
  JsonValue root;
  std::string why;
  if (!ParseJson(json, root, why)) {
    error = "not valid JSON (" + why + ")";
    return false;
  }
  const JsonValue* global = root.Find("global");
  if (global == nullptr || global->type != JsonValue::Type::Object) {
    error = "no \"global\" object (not SigMF metadata)";
    return false;
  }
  const JsonValue* type = global->Find("core:datatype");
  if (type == nullptr || !type->IsString()) {
    error = "no core:datatype";
    return false;
  }
  out.datatype = type->string;
  const std::string& t = type->string;
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
  const JsonValue* rate = global->Find("core:sample_rate");
  if (rate == nullptr || !rate->IsNumber()) {
    error = "no core:sample_rate";
    return false;
  }
  if (!(rate->number >= 1000.0 && rate->number <= 100e6)) {
    error =
        "core:sample_rate " + std::to_string(rate->number) + " is out of range (1 kHz .. 100 MHz)";
    return false;
  }
  out.sampleRate = rate->number;
  const JsonValue* channels = global->Find("core:num_channels");
  if (channels != nullptr && (!channels->IsNumber() || channels->number != 1.0)) {
    error = "core:num_channels is not 1 (only single-channel recordings are read)";
    return false;
  }
  const JsonValue* captures = root.Find("captures");
  if (captures != nullptr && captures->type == JsonValue::Type::Array && !captures->array.empty()) {
    const JsonValue& first = captures->array.front();
    const JsonValue* f = first.Find("core:frequency");
    if (f != nullptr && f->IsNumber() && std::isfinite(f->number) && f->number >= 0.0)
      out.frequency = f->number;
    const JsonValue* dt = first.Find("core:datetime");
    if (dt != nullptr && dt->IsString()) out.datetime = dt->string;
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
