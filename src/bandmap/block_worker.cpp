#include "bandmap/block_worker.h"

#include <time.h>

#include <algorithm>

#include "receive/capture_format.h"

namespace kestrix::bandmap {

double ThreadCpuSeconds() {
  timespec t{};
  if (clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t) != 0) return 0.0;
  return static_cast<double>(t.tv_sec) + 1e-9 * static_cast<double>(t.tv_nsec);
}

BlockWorker::BlockWorker(size_t queueSlots)
    : queue_(queueSlots, static_cast<size_t>(kCaptureBufferBytes)) {}

BlockWorker::~BlockWorker() {
  Stop();
}

void BlockWorker::Start() {
  if (worker_.joinable()) return;
  stop_.store(false, std::memory_order_relaxed);
  worker_ = std::thread([this] { Run(); });
}

void BlockWorker::Stop() {
  if (!worker_.joinable()) return;
  stop_.store(true, std::memory_order_relaxed);
  queue_.Wake();
  worker_.join();
}

void BlockWorker::OnCaptureBlock(const uint8_t* data, uint32_t bytes,
                                 const CaptureSettings& capture) {
  BlockFormat f;
  f.rate = capture.Format.SamplesPerSecond;
  f.channels = std::max<int>(1, capture.Format.Channels);
  f.channel = capture.Channel == ChannelMode::kRight && f.channels > 1 ? 1 : 0;
  queue_.Push(data, bytes, f);
}

void BlockWorker::Run() {
  while (!stop_.load(std::memory_order_relaxed)) {
    const uint32_t seen = queue_.Pushes();
    BlockQueue::Taken block;
    if (!queue_.Take(block)) {
      if (stop_.load(std::memory_order_relaxed)) break;
      queue_.WaitForPush(seen);
      continue;
    }
    const double cpu0 = ThreadCpuSeconds();
    ProcessBlock(block);
    queue_.Release();
    cpuS_ += ThreadCpuSeconds() - cpu0;
  }
}

void BlockWorker::DrainForTest() {
  BlockQueue::Taken block;
  while (queue_.Take(block)) {
    ProcessBlock(block);
    queue_.Release();
  }
}

}  // namespace kestrix::bandmap
