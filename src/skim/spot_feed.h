// From decoded text to spots: the engine's listener that runs one call extractor per
// signal, asks the spot policy which reads become spots, writes the cluster lines to a
// SpotOutput (standard output, the telnet server) and, when asked, logs every decoded text
// per signal (--decodes).
//
// Times: the engine's stream time drives the extractors and the re-spot rule; a spot's UTC
// is `utcAtStart` plus the stream time (the recording's start, or the wall clock when a
// live receiver started).
//
// Threads: called on the engine's thread only.
#pragma once

#include <cstdint>
#include <memory>
#include <ostream>
#include <string>
#include <unordered_map>
#include <vector>

#include "skim/call_extractor.h"
#include "skim/call_sign.h"
#include "skim/skimmer.h"
#include "skim/spot.h"

namespace kestrix::skim {

// "HH:MM:SS" of a UTC time in seconds since the epoch.
std::string UtcClockText(double utc);

class SpotOutput {
 public:
  virtual ~SpotOutput() = default;
  // One cluster line, no line end.
  virtual void OnSpot(const std::string& line, const Spot& spot) = 0;
};

struct SpotFeedConfig {
  std::string spotter = "KESTRIX";  // --call
  bool cqOnly = false;
  double utcAtStart = 0.0;  // seconds since 1970 UTC at stream time 0
};

class SpotFeed final : public SkimListener {
 public:
  // `book` must outlive the feed; `decodes` (may be null) gets the per-signal text log.
  SpotFeed(const CallBook& book, const SpotFeedConfig& config, SpotOutput& output,
           std::ostream* decodes);
  ~SpotFeed() override;

  void OnSignalStarted(uint64_t signal, double timeS, double freqHz) override;
  void OnText(const SkimText& text) override;
  void OnSignalEnded(uint64_t signal, double timeS) override;

  // Distinct calls spotted so far, and spot lines written.
  size_t CallsSpotted() const { return calls_.size(); }
  uint64_t SpotsWritten() const { return spots_; }
  // The call most recently read on `signal`, "" when none (a band map's label).
  std::string CurrentCall(uint64_t signal) const;

 private:
  struct PerSignal {
    std::unique_ptr<CallExtractor> extractor;
    double freqHz = 0.0;
    double wpm = 0.0;
    double snrDb = 0.0;
    std::string line;       // decoded text not yet in the log
    double lineStartS = 0;  // stream time of its first character
  };
  void Reports(PerSignal& s, double timeS);
  void LogLine(PerSignal& s, bool all);

  const CallBook& book_;
  SpotFeedConfig config_;
  SpotOutput& output_;
  std::ostream* decodes_;
  SpotPolicy policy_;
  std::unordered_map<uint64_t, PerSignal> signals_;
  std::unordered_map<std::string, int> calls_;
  std::vector<CallReport> reports_;
  uint64_t spots_ = 0;
};

}  // namespace kestrix::skim
