// The band map's engine: the skimmer of kestrix-skim in audio mode, run on a worker thread
// of its own over copies of the capture blocks the window's receive loop completes.
//
// The receive loop hands each block to OnCaptureBlock (this is its CaptureBlockTap), which
// copies it into a BlockQueue and returns: the loop never waits for the skimmer. The worker
// takes the blocks in order, converts the chosen channel to floats and runs the Skimmer
// (audio mode, the passband 200..3000 Hz), the spot feed with the skimmer's call extractor
// and re-spot rule (its cluster lines go to a SpotOutput, the telnet server), a call
// extractor per signal of its own for the station list (call, kind, where, how strong),
// and the waterfall's spectra. While the transmitter sends, the receive loop is paused and
// so no blocks come: the worker sleeps.
//
// The window reads the results with TakeSnapshot() (a short lock around a copy; the worker
// builds each snapshot outside the lock and swaps it in).
//
// Dial: the typed dial (SetDialHz, any thread) or, with a rigctld address, the rig's dial
// read by a RigctldClient that the worker starts (its first connection may take seconds,
// which no window thread must wait for). Without either, frequencies stay audio Hz and no
// spot goes to the SpotOutput (a cluster line needs a real frequency).
//
// Threads: construct, Start, Stop and destroy on one thread (the window's); OnCaptureBlock
// on the receive loop's thread; SetDialHz, TakeSnapshot and the counters from any thread.
// The destructor stops and joins the worker.
#pragma once

#include <atomic>
#include <cmath>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bandmap/block_queue.h"
#include "bandmap/block_worker.h"
#include "bandmap/passband_spectrum.h"
#include "bandmap/station_list.h"
#include "receive/receive_loop.h"
#include "skim/spot.h"
#include "skim/spot_feed.h"

namespace kestrix::bandmap {

struct EngineConfig {
  std::string spotter = "KESTRIX";  // the spotter's call in cluster lines
  std::string rigctld;              // HOST:PORT, empty: no rig control
  double dialHz = std::nan("");     // the typed dial, NaN: none
  bool lowerSideband = false;
  size_t queueSlots = 8;  // capture blocks waiting at most (8 x 186 ms)
  PassbandConfig passband;
  FadeRule fade;
  size_t maxPendingRows = 100;  // waterfall rows kept for a window that does not read them
  // UTC seconds now; the system clock when empty (tests give their own).
  std::function<double()> clock;
  // Builds the skimmer's FFT plans by measurement (slow to start, faster after); the
  // window estimates, which starts at once.
  bool measurePlans = false;
};

// What the window shows, as of the last block the worker finished.
struct Snapshot {
  std::vector<StationRow> stations;      // sorted by audio frequency
  std::vector<std::vector<float>> rows;  // waterfall rows since the last take, oldest first
  int columns = 0;
  double loHz = 200.0, hiHz = 3000.0;
  double dialHz = std::nan("");  // NaN: unknown
  bool lowerSideband = false;
  double now = 0.0;      // UTC of the snapshot (for fading)
  double streamS = 0.0;  // audio skimmed, seconds
  double cpuS = 0.0;     // worker thread CPU time spent on it
  uint64_t blocks = 0;   // blocks skimmed
  uint64_t dropped = 0;  // blocks dropped because the worker was behind
  uint64_t spots = 0;    // cluster lines written
  size_t liveSignals = 0;
  std::string status;  // rig control trouble, empty when none
};

class BandMapEngine final : public BlockWorker {
 public:
  // `spots` (may be null) gets every cluster line, on the worker thread.
  BandMapEngine(const EngineConfig& config, skim::SpotOutput* spots);
  ~BandMapEngine() override;
  BandMapEngine(const BandMapEngine&) = delete;
  BandMapEngine& operator=(const BandMapEngine&) = delete;

  // Stops and joins the worker (blocks still queued are dropped) and the rig control.
  // Safe to call twice.
  void Stop();

  // The typed dial in Hz (NaN: none); used while rig control gives none.
  void SetDialHz(double hz) { typedDialHz_.store(hz, std::memory_order_relaxed); }

  // The main receiver's tuning (audio Hz, NaN: none): the first signal whose decoder reads
  // within kFollowHz of it is followed, and its text is kept for TakeFollowedText, so that
  // the receive pane shows what the band map reads for that station. A new tuning looks
  // again; a followed signal that ends is let go.
  static constexpr double kFollowHz = 15.0;
  void Follow(double audioHz) { followHz_.store(audioHz, std::memory_order_relaxed); }
  // Whether a signal is followed now.
  bool Following() const { return following_.load(std::memory_order_relaxed); }
  // Appends the followed signal's text since the last take (any thread).
  void TakeFollowedText(std::string& out);

  // The latest results; waterfall rows are moved out (each row is taken once).
  void TakeSnapshot(Snapshot& out);

 private:
  class Listener;
  class SpotGate;
  void ProcessBlock(const BlockQueue::Taken& block) override;
  void Rebuild(double rate);
  double DialHz();
  void Publish(double now);
  void Followed(const skim::SkimText& text, double audioHz);
  void Unfollow(uint64_t signal);
  double Now() const;

  EngineConfig config_;
  skim::SpotOutput* spots_;
  std::atomic<double> typedDialHz_;
  std::atomic<double> followHz_{std::nan("")};
  std::atomic<bool> following_{false};
  double followingHz_ = std::nan("");  // worker: the tuning the follow was chosen for
  uint64_t followed_ = 0;              // worker: the signal followed, 0: none
  std::mutex followMutex_;             // held for an append or a take
  std::string followedText_;

  // Worker side.
  struct Work;
  std::unique_ptr<Work> work_;

  // Shared: the snapshot the window takes.
  std::mutex snapshotMutex_;  // held for a swap or a copy, never across a call out
  Snapshot shared_;
  std::vector<std::vector<float>> sharedRows_;
};

}  // namespace kestrix::bandmap
