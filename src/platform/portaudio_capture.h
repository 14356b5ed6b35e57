// A sound card as the capture device: a PortAudio input stream of 16-bit samples in the
// format's channels and rate, whose callback copies into the queued buffers. ALSA devices,
// PulseAudio and PipeWire (through their ALSA plugins, "pulse" and "pipewire") and JACK
// all appear in the device list.
//
// The list holds the input-capable devices, the system's default input first, so device 0
// (where the program falls back after a failure) is the one the desktop would choose.
//
// A stream is started once and never again: Reset closes it and the next Start opens a
// fresh one. Starting a stopped stream again can hang inside PortAudio's ALSA code when
// the sound server went away meanwhile (a restart while the program transmits), and that
// would freeze the window. A stream that stops recording on its own (the server
// restarted, the device was taken away) is replaced the same way when the receive loop's
// late-buffer recovery calls Start. While the sound system cannot give a new stream, the
// device stays open with its buffers queued and Start keeps trying, for up to
// kLostStreamGraceSeconds; after that Start reports the failure as any other.
//
// Threads: every method on the receive loop's thread; the stream callback on PortAudio's
// audio thread, where it only copies, counts and marks buffers done.
#pragma once

#include <portaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/capture_device.h"
#include "platform/capture_queue.h"
#include "platform/portaudio_session.h"
#include "platform/stream_recovery.h"

namespace kestrix {

// How long a lost input stream is tried again before Start gives up: long enough for a
// sound server to restart (a second or two, more on a loaded machine), short enough that
// a device gone for good is reported.
inline constexpr double kLostStreamGraceSeconds = 20.0;

class PortAudioCapture final : public CaptureDevice {
 public:
  PortAudioCapture();
  ~PortAudioCapture() override;
  PortAudioCapture(const PortAudioCapture&) = delete;
  PortAudioCapture& operator=(const PortAudioCapture&) = delete;

  // Why PortAudio could not start ("" when it did); the device list is then empty.
  const std::string& InitError() const { return session_->Error(); }
  // The PortAudio text of the last failed call ("" after success), for logs.
  const std::string& LastError() const { return lastError_; }
  // "ALSA", "JACK Audio Connection Kit", ... for device `index`; "" when out of range.
  std::string HostApiName(int index) const;
  // Frames recorded while no buffer was queued (lost), and overflows the sound system
  // reported; both since the device was opened.
  uint64_t DroppedFrames() const { return dropped_.load(std::memory_order_relaxed); }
  uint64_t Overflows() const { return overflows_.load(std::memory_order_relaxed); }
  // True while a lost stream is being tried again (see above).
  bool Recovering() const { return recovery_.Recovering(); }

  int DeviceCount() override;
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
  static int Callback(const void* input, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags flags,
                      void* self);
  // Remembers the PortAudio text and maps the error onto a CaptureResult.
  int Fail(PaError error);
  // Stream parameters for our device `device`; false when there is no such device or the
  // format is not 16-bit PCM with one or two channels (`result` says which).
  bool Describe(int device, const CaptureFormat& format, PaStreamParameters& parameters,
                int& result);
  // Stops the stream at once (the callback has returned when this does).
  int AbortStream();
  // Opens and starts a stream on the open device's parameters (the grace rule above).
  int StartFreshStream();
  // Closes the stream; its failures change nothing, as it is being replaced. The next
  // Start opens a new one.
  void DropStream();
  // Open in the program's sense: a stream, or one Start opens afresh.
  bool IsOpen() const { return stream_ != nullptr || fresh_; }

  std::shared_ptr<PortAudioSession> session_;
  std::vector<int> devices_;  // our index -> PortAudio device index
  PaStream* stream_ = nullptr;
  int openDevice_ = -1;
  PaStreamParameters parameters_{};  // of the open device, for fresh streams
  double rate_ = 44100.0;
  uint32_t bytesPerFrame_ = 2;
  CaptureQueue queue_;
  std::string lastError_;
  // Written by the callback, read here.
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> overflows_{0};
  std::atomic<uint64_t> callbacks_{0};
  uint64_t callbacksAtStart_ = 0;
  bool fresh_ = false;  // no stream: Start opens one
  StreamRecovery recovery_;
};

}  // namespace kestrix
