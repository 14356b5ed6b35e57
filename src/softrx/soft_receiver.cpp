#include "softrx/soft_receiver.h"

#include <algorithm>
#include <cmath>

#include "receive/capture_format.h"

namespace kestrix::softrx {

SoftReceiver::SoftReceiver(const SoftReceiverConfig& config)
    : BlockWorker(config.queueSlots), config_(config) {}

SoftReceiver::~SoftReceiver() {
  Stop();
}

void SoftReceiver::Clear() {
  clears_.fetch_add(1, std::memory_order_relaxed);
  std::lock_guard lock(mutex_);
  shared_.text.clear();
}

void SoftReceiver::Take(SoftReading& out) {
  std::lock_guard lock(mutex_);
  std::string text = std::move(shared_.text);
  shared_.text.clear();
  out = shared_;
  out.text = std::move(text);
  out.dropped = Queue().Dropped();
}

void SoftReceiver::ProcessBlock(const bandmap::BlockQueue::Taken& block) {
  const double rate = static_cast<double>(block.format.rate);
  if (rate < 8000.0) return;  // no capture format this low: a corrupt hand-off
  const double tone = toneHz_.load(std::memory_order_relaxed);
  const uint32_t clears = clears_.load(std::memory_order_relaxed);
  if (!channel_ || rate != rate_) {
    rate_ = rate;
    channel_ = std::make_unique<soft::StationChannel>(rate, tone, config_.decoder, config_.channel);
  } else if (clears != clearsSeen_) {
    channel_->Retune(tone);
    channel_->Reset();
  } else {
    channel_->Retune(tone);
  }
  clearsSeen_ = clears;

  const size_t channels = static_cast<size_t>(block.format.channels);
  const size_t frames = block.bytes / (2 * channels);
  samples_.resize(frames);
  const uint8_t* p = block.data + 2 * static_cast<size_t>(block.format.channel);
  for (size_t i = 0; i < frames; ++i, p += 2 * channels) {
    const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    samples_[i] = static_cast<float>(v) * (1.0f / 32768.0f);
  }
  channel_->Process(samples_.data(), frames);
  scratch_.clear();
  channel_->TakeText(scratch_);

  std::lock_guard lock(mutex_);
  // A CLEAR that came while this block was decoded drops its text too.
  if (clears_.load(std::memory_order_relaxed) == clearsSeen_) shared_.text += scratch_;
  shared_.state = channel_->Decoder().State();
  shared_.toneHz = channel_->ToneHz();
  shared_.carrierHz = channel_->CarrierHz();
  shared_.locked = channel_->Locked();
  ++shared_.blocks;
  shared_.cpuS = WorkerCpuSeconds();
}

}  // namespace kestrix::softrx
