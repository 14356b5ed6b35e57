#include "skim/spot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "skim/call_sign.h"

namespace kestrix::skim {

const char* SpotKindName(SpotKind kind) {
  switch (kind) {
    case SpotKind::Cq:
      return "CQ";
    case SpotKind::Dx:
      return "DX";
    case SpotKind::Beacon:
      return "BEACON";
  }
  return "DX";
}

std::string SpotterField(std::string_view call, size_t freqChars) {
  // Columns 7..24 hold the spotter, at least one space, and the frequency.
  const size_t room = kSpotFreqEndColumn - 6;
  const size_t limit = std::min<size_t>(kSpotterWidth, room > freqChars ? room - 1 - freqChars : 0);
  constexpr std::string_view kMark = "-#:";
  const size_t keep = limit > kMark.size() ? std::min(call.size(), limit - kMark.size()) : 1;
  std::string field(call.substr(0, std::max<size_t>(keep, 1)));
  field += kMark;
  if (field.size() + freqChars < room) field.append(room - field.size() - freqChars, ' ');
  return field;
}

std::string FormatSpotLine(const Spot& spot) {
  // The frequency is written from integer tenths of a kHz: printf's %f would follow
  // LC_NUMERIC and write a decimal comma under many locales.
  const double tenthsD = std::isfinite(spot.freqKhz) ? std::round(spot.freqKhz * 10.0) : 0.0;
  const long long tenths =
      static_cast<long long>(std::clamp(tenthsD, -9.0e15, 9.0e15));  // finite, fits
  char freq[32];
  std::snprintf(freq, sizeof freq, "%s%lld.%lld", tenths < 0 ? "-" : "", std::llabs(tenths) / 10,
                std::llabs(tenths) % 10);

  const std::string head = SpotterField(spot.spotter, std::strlen(freq));
  const int snr = std::clamp(spot.snrDb, -99, 999);
  const int wpm = std::clamp(spot.wpm, 0, 999);
  // Hour and minute of the day in UTC, without gmtime (any int64 works, no time zone).
  int64_t daySeconds = spot.utcSeconds % 86400;
  if (daySeconds < 0) daySeconds += 86400;
  const int hour = static_cast<int>(daySeconds / 3600);
  const int minute = static_cast<int>(daySeconds / 60 % 60);

  // Over-long calls push the fields after them right; the buffer grows to fit.
  const char* format = "DX de %s%s  %-13s  %-4s%4d dB%4d WPM  %-8s%02d%02dZ";
  char line[256];
  const int n = std::snprintf(line, sizeof line, format, head.c_str(), freq, spot.call.c_str(),
                              "CW", snr, wpm, SpotKindName(spot.kind), hour, minute);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof line) return std::string(line, static_cast<size_t>(n));
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), format, head.c_str(), freq, spot.call.c_str(), "CW", snr,
                wpm, SpotKindName(spot.kind), hour, minute);
  big.resize(static_cast<size_t>(n));
  return big;
}

bool SpotPolicy::Offer(std::string_view call, double freqHz, SpotKind kind, double timeS,
                       int reads) {
  if (call.empty()) return false;
  if (config_.cqOnly && kind == SpotKind::Dx) return false;
  const std::string key(call);
  auto it = spotted_.find(key);
  if (it == spotted_.end()) {
    for (const auto& [other, last] : spotted_) {
      if (timeS - last.timeS < config_.respotAfterS &&
          std::fabs(freqHz - last.freqHz) <= config_.bustNearHz && last.reads >= reads &&
          OneEditApart(call, other))
        return false;
    }
    spotted_.emplace(key, Last{freqHz, timeS, 0, false, reads});
    return true;
  }
  Last& last = it->second;
  last.reads = std::max(last.reads, reads);
  const bool due = timeS - last.timeS >= config_.respotAfterS;
  const bool moved =
      std::fabs(freqHz - last.freqHz) > config_.moveHz &&
      !(last.hasPrevious && std::fabs(freqHz - last.previousFreqHz) <= config_.moveHz);
  if (!due && !moved) return false;
  last = Last{freqHz, timeS, last.freqHz, true, last.reads};
  return true;
}

void SpotPolicy::Prune(double timeS) {
  for (auto it = spotted_.begin(); it != spotted_.end();) {
    if (timeS - it->second.timeS >= config_.respotAfterS)
      it = spotted_.erase(it);
    else
      ++it;
  }
}

}  // namespace kestrix::skim
