#include "skim/spot_feed.h"

#include <cmath>
#include <cstdio>

namespace kestrix::skim {

namespace {
// A log line is written once it holds this much and a word ends.
constexpr size_t kLogLineChars = 64;

}  // namespace

std::string UtcClockText(double utc) {
  const int64_t s = static_cast<int64_t>(std::floor(utc));
  const int64_t day = ((s % 86400) + 86400) % 86400;
  char buf[16];
  std::snprintf(buf, sizeof buf, "%02d:%02d:%02d", static_cast<int>(day / 3600),
                static_cast<int>(day / 60 % 60), static_cast<int>(day % 60));
  return buf;
}

SpotFeed::SpotFeed(const CallBook& book, const SpotFeedConfig& config, SpotOutput& output,
                   std::ostream* decodes)
    : book_(book),
      config_(config),
      output_(output),
      decodes_(decodes),
      policy_(SpotPolicyConfig{600.0, 100.0, config.cqOnly}) {}

SpotFeed::~SpotFeed() = default;

void SpotFeed::OnSignalStarted(uint64_t signal, double /*timeS*/, double freqHz) {
  PerSignal& s = signals_[signal];
  s.extractor = std::make_unique<CallExtractor>(book_);
  s.freqHz = freqHz;
}

void SpotFeed::OnText(const SkimText& text) {
  auto it = signals_.find(text.signal);
  if (it == signals_.end()) {
    OnSignalStarted(text.signal, text.timeS, text.freqHz);
    it = signals_.find(text.signal);
  }
  PerSignal& s = it->second;
  s.freqHz = text.freqHz;
  if (text.wpm > 0.0) s.wpm = text.wpm;
  s.snrDb = text.snrDb;
  s.extractor->Feed(text.text, text.timeS);
  Reports(s, text.timeS);
  if (decodes_ != nullptr) {
    if (s.line.empty()) s.lineStartS = text.timeS;
    s.line += text.text;
    LogLine(s, false);
  }
  if (spots_ % 64 == 0) policy_.Prune(text.timeS);
}

void SpotFeed::OnSignalEnded(uint64_t signal, double timeS) {
  auto it = signals_.find(signal);
  if (it == signals_.end()) return;
  it->second.extractor->Flush(timeS);
  Reports(it->second, timeS);
  if (decodes_ != nullptr) LogLine(it->second, true);
  signals_.erase(it);
}

std::string SpotFeed::CurrentCall(uint64_t signal) const {
  auto it = signals_.find(signal);
  return it == signals_.end() ? std::string() : it->second.extractor->CurrentCall();
}

void SpotFeed::Reports(PerSignal& s, double timeS) {
  reports_.clear();
  s.extractor->TakeReports(reports_);
  for (const CallReport& r : reports_) {
    if (!policy_.Offer(r.call, s.freqHz, r.kind, timeS, r.reads)) continue;
    Spot spot;
    spot.spotter = config_.spotter;
    spot.freqKhz = s.freqHz / 1000.0;
    spot.call = r.call;
    spot.snrDb = static_cast<int>(std::lround(s.snrDb));
    spot.wpm = static_cast<int>(std::lround(s.wpm));
    spot.kind = r.kind;
    spot.utcSeconds = static_cast<int64_t>(std::floor(config_.utcAtStart + timeS));
    ++calls_[r.call];
    ++spots_;
    output_.OnSpot(FormatSpotLine(spot), spot);
  }
}

void SpotFeed::LogLine(PerSignal& s, bool all) {
  while (!s.line.empty()) {
    size_t cut = s.line.size();
    if (!all) {
      if (s.line.size() < kLogLineChars) return;
      const size_t space = s.line.find(' ', kLogLineChars);
      if (space == std::string::npos) return;
      cut = space;
    }
    char head[96];
    std::snprintf(head, sizeof head, "%s %10.2f %3d WPM %4d dB  ",
                  UtcClockText(config_.utcAtStart + s.lineStartS).c_str(), s.freqHz / 1000.0,
                  static_cast<int>(std::lround(s.wpm)), static_cast<int>(std::lround(s.snrDb)));
    std::string text = s.line.substr(0, cut);
    while (!text.empty() && text.front() == ' ') text.erase(text.begin());
    if (!text.empty()) *decodes_ << head << text << '\n';
    s.line.erase(0, std::min(cut + 1, s.line.size()));
    if (all) s.line.clear();
  }
}

}  // namespace kestrix::skim
