// A recording standing in for the sound card: the capture device interface over a file
// (anything RecordingReader reads), played on a thread of its own.
//
// Paced, it records in real time like a card: 1024-frame chunks at the format's rate, and
// sound that arrives while no buffer is queued is lost. Unpaced (for tests and fast
// decoding), it fills each queued buffer at once and waits for the next, losing nothing.
// At the end of the recording it starts again when looping, otherwise it goes on with
// silence, as a receiver does when the sender stops.
//
// The channel layout follows the format: a mono capture of a stereo file hears the mean of
// both channels; a stereo capture of a mono file hears it on both.
//
// Threads: the device methods on the receive loop's thread; the player on its own.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/audio_file.h"
#include "platform/capture_device.h"
#include "platform/capture_queue.h"

namespace kestrix {

// What paces a recording in real time: the monotonic clock, or in tests a clock moved by
// hand so that what a paced device loses does not depend on how busy the machine is.
class PacingClock {
 public:
  virtual ~PacingClock() = default;
  virtual int64_t NowNs() = 0;
  // Returns once NowNs() has reached `deadlineNs`, or after Interrupt().
  virtual void SleepUntilNs(int64_t deadlineNs) = 0;
  // Closing the device: a sleep in progress (and any later one) returns at once.
  virtual void Interrupt() {}
};

// The monotonic clock (std::chrono::steady_clock).
PacingClock& SteadyPacingClock();

struct FileCaptureOptions {
  bool paced = true;
  bool loop = false;
  PacingClock* clock = nullptr;  // paced only; nullptr is the monotonic clock
};

// Frames the player hands over at a time: 23 ms at 44100 Hz.
inline constexpr int kFileChunkFrames = 1024;

class FileCapture final : public CaptureDevice {
 public:
  explicit FileCapture(std::string path, FileCaptureOptions options = {});
  ~FileCapture() override;
  FileCapture(const FileCapture&) = delete;
  FileCapture& operator=(const FileCapture&) = delete;

  // Opens the recording once to see that it can be read; false with one line in `error`.
  bool CheckReadable(std::string& error);
  // The reader's message after a failed Open ("" otherwise).
  const std::string& LastError() const { return lastError_; }

  // Buffers completed since Open, counting every buffer the device marked done while
  // recording (not those a Reset returned).
  int64_t BuffersCompleted() const { return completed_.load(std::memory_order_acquire); }
  // The number of buffers completed when the last frame of the recording went into a
  // buffer: the buffer holding the end of the recording is buffer number EndBuffer()
  // (counted from 1). -1 while the end has not been reached, or when looping.
  int64_t EndBuffer() const { return endBuffer_.load(std::memory_order_acquire); }
  // Frames of the recording delivered so far (not counting silence after the end).
  int64_t RecordingFrames() const { return recordingFrames_.load(std::memory_order_acquire); }
  // Frames lost because no buffer was queued (paced only).
  int64_t DroppedFrames() const { return dropped_.load(std::memory_order_relaxed); }

  int DeviceCount() override { return 1; }
  // "Recording: name.wav" for device 0.
  std::string ProductName(int index) override;
  int QueryFormat(int device, const CaptureFormat& format) override;
  int Open(int device, const CaptureFormat& format) override;
  int TrialOpen(int device, const CaptureFormat& format) override;
  int Close() override;
  int Prepare(CaptureHeader& header) override;
  int Add(CaptureHeader& header) override;
  int Start() override;
  int Position(uint32_t& bytes) override;
  int Reset() override;
  int Unprepare(CaptureHeader& header) override;

 private:
  static bool FormatOk(const CaptureFormat& format);
  void Player();
  // Reads the next chunk in the capture layout into chunk_; returns the frames of the
  // recording in it (the rest is silence).
  int ReadChunk();
  // Hands chunk_ to the queued buffers (mutex_ held); unpaced, waits for buffers.
  void DeliverChunk(std::unique_lock<std::mutex>& lock, int recordingFrames, uint64_t generation);

  const std::string path_;
  const FileCaptureOptions options_;
  PacingClock& clock_;
  std::unique_ptr<RecordingReader> reader_;
  std::string lastError_;
  int channels_ = 1;  // of the capture format
  std::vector<int16_t> fileFrames_;
  std::vector<int16_t> chunk_;
  CaptureQueue queue_;

  std::thread player_;
  std::mutex mutex_;
  std::condition_variable wake_;
  bool open_ = false;             // guarded by mutex_
  bool running_ = false;          // guarded by mutex_
  bool quit_ = false;             // guarded by mutex_
  uint64_t startGeneration_ = 0;  // guarded by mutex_: bumped by every (re)start
  uint32_t rate_ = 44100;
  // Player thread only:
  bool ended_ = false;        // the recording has ended (not looping)
  bool endInChunk_ = false;   // ... in the chunk just read
  bool tailComplete_ = true;  // no partly filled buffer holds the last frame handed over
  std::atomic<int64_t> completed_{0};
  std::atomic<int64_t> endBuffer_{-1};
  std::atomic<int64_t> recordingFrames_{0};
  std::atomic<int64_t> dropped_{0};
};

}  // namespace kestrix
