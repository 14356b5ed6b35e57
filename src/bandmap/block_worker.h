// A worker thread over the capture blocks the receive loop completes: OnCaptureBlock (the
// loop's CaptureBlockTap) copies each block into a BlockQueue and returns at once, and the
// worker hands the blocks, oldest first, to ProcessBlock. While the transmitter sends, the
// loop is paused and no blocks come: the worker sleeps. The band map's engine and the
// window's soft reading are both built on it.
//
// Threads: construct, Start, Stop and destroy on one thread (the window's); OnCaptureBlock
// on the receive loop's thread; ProcessBlock on the worker. A class built on this one calls
// Stop() in its own destructor, before its members go.
#pragma once

#include <atomic>
#include <cstdint>
#include <thread>

#include "bandmap/block_queue.h"
#include "receive/receive_loop.h"

namespace kestrix::bandmap {

// CPU seconds the calling thread has used.
double ThreadCpuSeconds();

class BlockWorker : public CaptureBlockTap {
 public:
  explicit BlockWorker(size_t queueSlots);
  ~BlockWorker() override;
  BlockWorker(const BlockWorker&) = delete;
  BlockWorker& operator=(const BlockWorker&) = delete;

  void Start();
  // Stops and joins the worker; blocks still queued are dropped. Safe to call twice.
  void Stop();
  bool Running() const { return worker_.joinable(); }

  // The receive loop's copy of a completed capture buffer.
  void OnCaptureBlock(const uint8_t* data, uint32_t bytes, const CaptureSettings& capture) override;

  // Processes whatever is queued now on the calling thread (tests without the worker).
  void DrainForTest();
  const BlockQueue& Queue() const { return queue_; }

 protected:
  virtual void ProcessBlock(const BlockQueue::Taken& block) = 0;
  // Worker thread CPU time spent in ProcessBlock so far (read on the worker).
  double WorkerCpuSeconds() const { return cpuS_; }

 private:
  void Run();

  BlockQueue queue_;
  std::atomic<bool> stop_{false};
  std::thread worker_;
  double cpuS_ = 0.0;
};

}  // namespace kestrix::bandmap
