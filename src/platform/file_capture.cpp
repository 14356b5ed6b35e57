#include "platform/file_capture.h"

#include <algorithm>
#include <chrono>
#include <thread>

#include "platform/pcm_frames.h"

namespace kestrix {

namespace {

class SteadyClock final : public PacingClock {
 public:
  int64_t NowNs() override {
    return std::chrono::duration_cast<std::chrono::nanoseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  }
  void SleepUntilNs(int64_t deadlineNs) override {
    // A chunk is 23 ms long, so a close waits at most that long; no interruption needed.
    std::this_thread::sleep_until(
        std::chrono::steady_clock::time_point(std::chrono::nanoseconds(deadlineNs)));
  }
};

}  // namespace

PacingClock& SteadyPacingClock() {
  static SteadyClock clock;
  return clock;
}

FileCapture::FileCapture(std::string path, FileCaptureOptions options)
    : path_(std::move(path)),
      options_(options),
      clock_(options.clock != nullptr ? *options.clock : SteadyPacingClock()) {}

FileCapture::~FileCapture() {
  Close();
}

bool FileCapture::CheckReadable(std::string& error) {
  RecordingReader probe;
  return probe.Open(path_, 44100, error);
}

std::string FileCapture::ProductName(int index) {
  if (index != 0) return "";
  const size_t slash = path_.find_last_of('/');
  return "Recording: " + (slash == std::string::npos ? path_ : path_.substr(slash + 1));
}

bool FileCapture::FormatOk(const CaptureFormat& format) {
  return format.FormatTag == 1 && format.BitsPerSample == 16 && format.Channels >= 1 &&
         format.Channels <= 2 && format.BlockAlign == format.Channels * 2 &&
         format.SamplesPerSecond >= 8000 && format.SamplesPerSecond <= 192000;
}

int FileCapture::QueryFormat(int device, const CaptureFormat& format) {
  if (device != 0) return kCaptureBadDevice;
  return FormatOk(format) ? kCaptureOk : kCaptureBadFormat;
}

int FileCapture::TrialOpen(int device, const CaptureFormat& format) {
  const int query = QueryFormat(device, format);
  if (query != kCaptureOk) return query;
  RecordingReader probe;
  std::string error;
  if (!probe.Open(path_, static_cast<int>(format.SamplesPerSecond), error)) {
    lastError_ = error;
    return kCaptureError;
  }
  return kCaptureOk;
}

int FileCapture::Open(int device, const CaptureFormat& format) {
  const int query = QueryFormat(device, format);
  if (query != kCaptureOk) return query;
  Close();
  auto reader = std::make_unique<RecordingReader>();
  std::string error;
  if (!reader->Open(path_, static_cast<int>(format.SamplesPerSecond), error)) {
    lastError_ = error;
    return kCaptureError;
  }
  lastError_.clear();
  reader_ = std::move(reader);
  channels_ = format.Channels;
  fileFrames_.assign(static_cast<size_t>(kFileChunkFrames) * 2, 0);
  chunk_.assign(static_cast<size_t>(kFileChunkFrames) * static_cast<size_t>(channels_), 0);
  ended_ = false;
  tailComplete_ = true;
  completed_.store(0);
  endBuffer_.store(-1);
  recordingFrames_.store(0);
  dropped_.store(0);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    open_ = true;
    running_ = false;
    quit_ = false;
  }
  rate_ = format.SamplesPerSecond;
  player_ = std::thread(&FileCapture::Player, this);
  return kCaptureOk;
}

int FileCapture::Close() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kCaptureOk;
    quit_ = true;
    running_ = false;
  }
  wake_.notify_all();
  clock_.Interrupt();
  if (player_.joinable()) player_.join();
  queue_.Flush();
  reader_.reset();
  std::lock_guard<std::mutex> lock(mutex_);
  open_ = false;
  return kCaptureOk;
}

int FileCapture::Prepare(CaptureHeader& header) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return kCaptureNotOpen;
  return queue_.Prepare(header);
}

int FileCapture::Add(CaptureHeader& header) {
  int result = kCaptureOk;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kCaptureNotOpen;
    result = queue_.Add(header);
  }
  wake_.notify_all();
  return result;
}

int FileCapture::Unprepare(CaptureHeader& header) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return kCaptureNotOpen;
  return queue_.Unprepare(header);
}

int FileCapture::Start() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kCaptureNotOpen;
    if (!running_) {
      running_ = true;
      ++startGeneration_;
    }
  }
  wake_.notify_all();
  return kCaptureOk;
}

int FileCapture::Position(uint32_t& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!open_) return kCaptureNotOpen;
  bytes = queue_.Position();
  return kCaptureOk;
}

int FileCapture::Reset() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!open_) return kCaptureNotOpen;
    running_ = false;
    // The player delivers only while holding the mutex: the queue is ours here.
    queue_.Flush();
  }
  wake_.notify_all();
  return kCaptureOk;
}

int FileCapture::ReadChunk() {
  endInChunk_ = false;
  int got = 0;
  while (!ended_ && got < kFileChunkFrames) {
    const int want = kFileChunkFrames - got;
    const int channels = reader_->Channels();
    const int n = reader_->Read(fileFrames_.data(), want);
    for (int i = 0; i < n; ++i) {
      const int16_t* f = fileFrames_.data() + static_cast<ptrdiff_t>(i) * channels;
      MapFrame(f, channels, chunk_.data() + static_cast<ptrdiff_t>(got + i) * channels_, channels_);
    }
    got += n;
    if (n > 0) continue;
    // End of the recording.
    if (options_.loop && reader_->Rewind()) {
      if (recordingFrames_.load(std::memory_order_relaxed) + got == 0) break;  // empty file
      continue;
    }
    ended_ = true;
    endInChunk_ = true;
  }
  std::fill(chunk_.begin() + static_cast<ptrdiff_t>(got) * channels_, chunk_.end(), 0);
  return got;
}

void FileCapture::DeliverChunk(std::unique_lock<std::mutex>& lock, int recordingFrames,
                               uint64_t generation) {
  const size_t bytesPerFrame = static_cast<size_t>(channels_) * 2;
  const uint8_t* data = reinterpret_cast<const uint8_t*>(chunk_.data());
  const size_t total = chunk_.size() * 2;
  const size_t recordingBytes = static_cast<size_t>(recordingFrames) * bytesPerFrame;
  recordingFrames_.fetch_add(recordingFrames, std::memory_order_acq_rel);
  auto noteEnd = [&] {
    // The buffer holding the last frame is the one being filled, or the last completed
    // one when that frame ended a buffer (or found none and was lost).
    const int64_t done = completed_.load(std::memory_order_acquire);
    endBuffer_.store(tailComplete_ ? done : done + 1, std::memory_order_release);
  };
  if (endInChunk_ && recordingBytes == 0) noteEnd();

  size_t offset = 0;
  while (offset < total) {
    // The recording's part and the silence after it go separately, so that the buffer
    // holding the recording's last frame is known.
    const size_t partEnd = offset < recordingBytes ? recordingBytes : total;
    const size_t part = partEnd - offset;
    const CaptureQueue::Delivery d = queue_.Deliver(data + offset, part);
    completed_.fetch_add(d.completed, std::memory_order_acq_rel);
    const size_t stored = part - d.dropped;
    if (options_.paced) {
      if (part > 0) tailComplete_ = d.dropped > 0 || d.endsBuffer;
      // A card records on whether or not a buffer is waiting.
      dropped_.fetch_add(static_cast<int64_t>(d.dropped / bytesPerFrame),
                         std::memory_order_relaxed);
      offset = partEnd;
    } else {
      if (stored > 0) tailComplete_ = d.endsBuffer;
      offset += stored;
      if (d.dropped > 0) {
        // Unpaced nothing is lost: wait for the loop to queue the next buffer.
        wake_.wait(lock, [&] {
          return quit_ || !running_ || generation != startGeneration_ || queue_.HasQueued();
        });
        if (quit_ || !running_ || generation != startGeneration_) return;
      }
    }
    if (endInChunk_ && offset == recordingBytes && recordingBytes > 0) noteEnd();
  }
}

void FileCapture::Player() {
  std::unique_lock<std::mutex> lock(mutex_);
  uint64_t generation = 0;
  int64_t originNs = 0;
  int64_t chunksSinceStart = 0;
  for (;;) {
    wake_.wait(lock, [&] { return quit_ || (running_ && (options_.paced || queue_.HasQueued())); });
    if (quit_) return;
    if (generation != startGeneration_) {
      generation = startGeneration_;
      originNs = clock_.NowNs();
      chunksSinceStart = 0;
    }
    // Reading happens without the lock so that the loop's calls never wait on the disk.
    lock.unlock();
    const int frames = ReadChunk();
    if (options_.paced) {
      ++chunksSinceStart;
      // Deadlines from the start, not from the last wake-up, so lateness never adds up.
      clock_.SleepUntilNs(originNs +
                          chunksSinceStart * kFileChunkFrames * int64_t{1000000000} / rate_);
    }
    lock.lock();
    if (quit_) return;
    // A reset while this chunk was on its way: the sound is gone, as it would be from a
    // card that was stopped.
    if (!running_ || generation != startGeneration_) continue;
    DeliverChunk(lock, frames, generation);
  }
}

}  // namespace kestrix
