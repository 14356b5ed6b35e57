#include "skim/spot.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>

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

std::string FormatSpotLine(const Spot& spot) {
  // The frequency is written from integer tenths of a kHz: printf's %f would follow
  // LC_NUMERIC and write a decimal comma under many locales.
  const double tenthsD = std::isfinite(spot.freqKhz) ? std::round(spot.freqKhz * 10.0) : 0.0;
  const long long tenths =
      static_cast<long long>(std::clamp(tenthsD, -9.0e15, 9.0e15));  // finite, fits
  char freq[32];
  std::snprintf(freq, sizeof freq, "%s%lld.%lld", tenths < 0 ? "-" : "", std::llabs(tenths) / 10,
                std::llabs(tenths) % 10);

  const std::string spotter = spot.spotter + "-#:";
  const int snr = std::clamp(spot.snrDb, -99, 999);
  const int wpm = std::clamp(spot.wpm, 0, 999);
  // Hour and minute of the day in UTC, without gmtime (any int64 works, no time zone).
  int64_t daySeconds = spot.utcSeconds % 86400;
  if (daySeconds < 0) daySeconds += 86400;
  const int hour = static_cast<int>(daySeconds / 3600);
  const int minute = static_cast<int>(daySeconds / 60 % 60);

  char line[256];
  const int n = std::snprintf(
      line, sizeof line, "DX de %-9s%9s  %-13s  %-4s%4d dB%4d WPM  %-8s%02d%02dZ", spotter.c_str(),
      freq, spot.call.c_str(), "CW", snr, wpm, SpotKindName(spot.kind), hour, minute);
  if (n < 0) return {};
  if (static_cast<size_t>(n) < sizeof line) return std::string(line, static_cast<size_t>(n));
  // Over-long calls: format again into a buffer of the right size.
  std::string big(static_cast<size_t>(n) + 1, '\0');
  std::snprintf(big.data(), big.size(), "DX de %-9s%9s  %-13s  %-4s%4d dB%4d WPM  %-8s%02d%02dZ",
                spotter.c_str(), freq, spot.call.c_str(), "CW", snr, wpm, SpotKindName(spot.kind),
                hour, minute);
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
