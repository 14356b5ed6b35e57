#include "bandmap/station_list.h"

#include <algorithm>
#include <cstdio>

namespace kestrix::bandmap {

double LabelOpacity(double quietS, const FadeRule& rule) {
  if (quietS <= rule.holdS) return 1.0;
  if (rule.fadeS <= 0.0) return 0.0;
  return std::clamp(1.0 - (quietS - rule.holdS) / rule.fadeS, 0.0, 1.0);
}

double RfHz(double audioHz, double dialHz, bool lowerSideband) {
  if (std::isnan(dialHz)) return std::nan("");
  return lowerSideband ? dialHz - audioHz : dialHz + audioHz;
}

std::string FrequencyText(double audioHz, double dialHz, bool lowerSideband) {
  char buf[48];
  if (std::isnan(dialHz)) {
    std::snprintf(buf, sizeof buf, "%.0f Hz", audioHz);
  } else {
    // The C library's formatting: never a decimal comma.
    std::snprintf(buf, sizeof buf, "%.2f", RfHz(audioHz, dialHz, lowerSideband) / 1000.0);
  }
  return buf;
}

void StationList::Heard(const StationRow& row) {
  auto [it, added] = rows_.try_emplace(row.call, row);
  if (added) return;
  StationRow& r = it->second;
  r.audioHz = row.audioHz;
  r.snrDb = row.snrDb;
  if (row.wpm > 0.0) r.wpm = row.wpm;
  r.cq = row.cq;
  r.lastHeard = std::max(r.lastHeard, row.lastHeard);
  r.signal = row.signal;
}

void StationList::StillHeard(const std::string& call, uint64_t signal, double audioHz, double wpm,
                             double lastHeard) {
  auto it = rows_.find(call);
  if (it == rows_.end() || it->second.signal != signal) return;
  StationRow& r = it->second;
  r.audioHz = audioHz;
  if (wpm > 0.0) r.wpm = wpm;
  r.lastHeard = std::max(r.lastHeard, lastHeard);
}

void StationList::Expire(double now) {
  std::erase_if(rows_, [&](const auto& kv) { return now - kv.second.lastHeard > rule_.keepS; });
}

std::vector<StationRow> StationList::Rows() const {
  std::vector<StationRow> out;
  out.reserve(rows_.size());
  for (const auto& kv : rows_) out.push_back(kv.second);
  std::sort(out.begin(), out.end(), [](const StationRow& a, const StationRow& b) {
    return a.audioHz != b.audioHz ? a.audioHz < b.audioHz : a.call < b.call;
  });
  return out;
}

const StationRow* StationList::Find(const std::string& call) const {
  auto it = rows_.find(call);
  return it == rows_.end() ? nullptr : &it->second;
}

}  // namespace kestrix::bandmap
