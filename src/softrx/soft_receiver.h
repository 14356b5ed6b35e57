// The soft decoder in the window: the station the operator tuned to, read by the soft
// engine on a worker thread of its own over copies of the capture blocks the receive loop
// completes.
//
// The receive loop's blocks reach the worker as they reach the band map's (BlockWorker): the
// loop never waits for the decoder. The worker converts the chosen channel to floats and
// runs a soft::StationChannel on the tuned tone (SetToneHz, from a click, the AFC or the
// band map). While the transmitter sends, no blocks come and the worker sleeps.
//
// The window takes the decoded text and the decoder's read-outs with Take() (a short lock
// around a move; the worker appends outside the lock's long work).
//
// Threads: construct, Start, Stop and destroy on one thread (the window's); OnCaptureBlock
// on the receive loop's thread; SetToneHz, Clear and Take from any thread. The destructor
// stops and joins the worker.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bandmap/block_queue.h"
#include "bandmap/block_worker.h"
#include "receive/receive_loop.h"
#include "soft/soft_decoder.h"
#include "soft/station_channel.h"

namespace kestrix::softrx {

struct SoftReceiverConfig {
  soft::SoftDecoderConfig decoder;
  soft::StationChannelConfig channel;
  size_t queueSlots = 8;  // capture blocks waiting at most (8 x 186 ms)
};

// What the window shows, as of the last block the worker finished.
struct SoftReading {
  std::string text;  // decoded since the last take (Windows-1252)
  soft::SoftSignalState state;
  double toneHz = 0.0;     // the tone the channel is tuned to
  double carrierHz = 0.0;  // the carrier it follows
  bool locked = false;     // a carrier was found near the tone
  uint64_t blocks = 0;     // blocks decoded
  uint64_t dropped = 0;    // blocks dropped because the worker was behind
  double cpuS = 0.0;       // worker thread CPU time
};

class SoftReceiver final : public bandmap::BlockWorker {
 public:
  explicit SoftReceiver(const SoftReceiverConfig& config);
  ~SoftReceiver() override;
  SoftReceiver(const SoftReceiver&) = delete;
  SoftReceiver& operator=(const SoftReceiver&) = delete;

  // The tone to read (audio Hz); the worker retunes before its next block.
  void SetToneHz(double hz) { toneHz_.store(hz, std::memory_order_relaxed); }
  double ToneHz() const { return toneHz_.load(std::memory_order_relaxed); }
  // CLEAR: the decoder starts afresh before the next block; text not yet taken is dropped.
  void Clear();

  // Moves the decoded text into `out.text` (replacing it) and copies the read-outs.
  void Take(SoftReading& out);

 private:
  void ProcessBlock(const bandmap::BlockQueue::Taken& block) override;

  SoftReceiverConfig config_;
  std::atomic<double> toneHz_{700.0};
  std::atomic<uint32_t> clears_{0};

  // Worker side.
  std::unique_ptr<soft::StationChannel> channel_;
  double rate_ = 0.0;
  uint32_t clearsSeen_ = 0;
  std::vector<float> samples_;
  std::string scratch_;

  // Shared with Take().
  std::mutex mutex_;  // held for an append or a swap, never across a call out
  SoftReading shared_;
};

}  // namespace kestrix::softrx
