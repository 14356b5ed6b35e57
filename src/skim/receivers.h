// Several receivers, one station: each receiver (an SDR, a recording, a receiver's audio)
// has its own source and engine and reads on a thread of its own; all of them report into
// one listener, the spot feed, so that there is one re-spot rule across receivers (a
// station two receivers hear is spotted once) and one telnet server.
//
// The hub serialises the engines' reports with a lock (the feed is single-threaded), tags
// each receiver's signal ids so that they never collide in the feed, and moves each
// receiver's stream time onto a common clock (a recording that started later reports
// later times).
//
// Threads: construct the hub and take the receivers' listeners on one thread before the
// runs start; the listeners are then called from the receivers' threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "skim/sample_source.h"
#include "skim/skim_run.h"
#include "skim/skimmer.h"

namespace kestrix::skim {

// The receiver index lives in the top bits of a signal id.
inline constexpr int kReceiverShift = 56;

class ReceiverHub {
 public:
  explicit ReceiverHub(SkimListener& target);
  ~ReceiverHub();
  ReceiverHub(const ReceiverHub&) = delete;
  ReceiverHub& operator=(const ReceiverHub&) = delete;

  // The listener for one more receiver, whose stream time 0 is `clockOffsetS` on the
  // common clock. Valid as long as the hub.
  SkimListener& AddReceiver(double clockOffsetS);

 private:
  class Tagged;
  SkimListener& target_;
  std::mutex mutex_;
  std::vector<std::unique_ptr<Tagged>> receivers_;
};

struct ReceiverRun {
  SampleSource* source = nullptr;
  Skimmer* skimmer = nullptr;
  RunConfig config;
  int status = 0;     // RunSkimmer's answer, after RunReceivers
  std::string error;  // with status 1
};

// Runs every receiver until each has ended (the first on the calling thread, the others
// on threads of their own). The number of receivers that failed.
int RunReceivers(std::vector<ReceiverRun>& runs);

}  // namespace kestrix::skim
