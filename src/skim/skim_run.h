// The skimmer's read loop: samples from a source into the engine, block by block, until
// the source ends, a stop is asked for or a time limit is reached; a progress report now
// and then; the dial followed when rig control moves it.
//
// Runs on the calling thread; `stop` (may be null) is polled between blocks (a signal
// handler sets it). Nothing here waits longer than one Read of the source.
#pragma once

#include <atomic>
#include <functional>
#include <string>

#include "skim/sample_source.h"
#include "skim/skimmer.h"

namespace kestrix::skim {

struct RunProgress {
  double streamS = 0.0;  // input time processed
  double totalS = 0.0;   // length of the recording, 0 when unknown
  double speed = 0.0;    // stream seconds per wall second
  size_t liveSignals = 0;
  uint64_t signalsStarted = 0;
};

struct RunConfig {
  const std::atomic<int>* stop = nullptr;
  double stopAfterS = 0.0;  // 0: no limit
  double progressEveryS = 0.5;
  std::function<void(const RunProgress&)> progress;  // may be empty
  // Returns the dial or centre in Hz when it moved, NaN otherwise (may be empty).
  std::function<double()> retune;
};

// 0 when the input ended or a stop came; 1 with `error` when the source failed. The engine
// is flushed in every case.
int RunSkimmer(SampleSource& source, Skimmer& skimmer, const RunConfig& config, std::string& error);

}  // namespace kestrix::skim
