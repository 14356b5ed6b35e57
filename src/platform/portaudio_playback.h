// A sound card as the playback device: a PortAudio output stream of 16-bit mono samples
// whose callback copies from the queued buffers and marks each one done when it has taken
// its last byte; with nothing queued it plays silence.
//
// The list holds the output-capable devices, the system's default output first, so device
// 0 is the one the desktop would choose (the keyer's default).
//
// The stream starts with the first Write and keeps running between characters: a Reset
// with nothing queued only sets the position back, so a character's tail is not cut off
// in the sound system and the next one needs no stream start. A Reset with buffers still
// queued stops the stream at once.
//
// A stream that stopped playing (the sound server restarted, the device went away; the
// keyer's watchdog notices) is closed at the Reset that follows, and the next Write opens
// a fresh one. While the sound system cannot give one yet, Writes are taken but nothing
// plays (the watchdog ends each run) for up to kLostPlaybackGraceSeconds; after that the
// Write fails as any other.
//
// Threads: every method on the keyer's thread (Open on the GUI thread); the callback on
// PortAudio's audio thread, where it only copies, counts and marks buffers done.
#pragma once

#include <portaudio.h>

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/playback_device.h"
#include "platform/playback_queue.h"
#include "platform/portaudio_session.h"
#include "platform/stream_recovery.h"

namespace kestrix {

// How long a lost output stream is tried again before Write gives up: a sound server
// restart takes a second or two.
inline constexpr double kLostPlaybackGraceSeconds = 20.0;

class PortAudioPlayback final : public PlaybackDevice {
 public:
  PortAudioPlayback();
  ~PortAudioPlayback() override;
  PortAudioPlayback(const PortAudioPlayback&) = delete;
  PortAudioPlayback& operator=(const PortAudioPlayback&) = delete;

  // Why PortAudio could not start ("" when it did); the device list is then empty.
  const std::string& InitError() const { return session_->Error(); }
  // "ALSA", "PulseAudio", ... for device `index`; "" when out of range.
  std::string HostApiName(int index) const;
  // Output underflows the sound system reported since Open.
  uint64_t Underflows() const { return underflows_.load(std::memory_order_relaxed); }
  // The output latency PortAudio reports for the open stream, seconds (0 when closed).
  double OutputLatency() const;
  // Stream-clock seconds from the last Write that found the queue empty to the moment the
  // callback handed its first byte to the sound system, plus the output latency the
  // callback was told: the delay from a keying call to the first sample at the DAC.
  // Negative while nothing has been measured.
  double LastStartLatency() const { return startLatency_.load(std::memory_order_acquire); }

  int DeviceCount() override;
  std::string ProductName(int index) override;
  int QueryFormat(int device, const PlaybackFormat& format) override;
  int Open(int device, const PlaybackFormat& format) override;
  int SetVolume(uint32_t volume) override;
  int Close() override;
  int Prepare(PlaybackHeader& header) override;
  int Write(PlaybackHeader& header) override;
  int Position(uint32_t& bytes) override;
  int Reset() override;
  int Unprepare(PlaybackHeader& header) override;
  std::string LastError() const override { return lastError_; }

 private:
  static int Callback(const void* input, void* output, unsigned long frames,
                      const PaStreamCallbackTimeInfo* timeInfo, PaStreamCallbackFlags flags,
                      void* self);
  int Fail(PaError error);
  bool Describe(int device, const PlaybackFormat& format, PaStreamParameters& parameters,
                int& result);
  int AbortStream();
  // Open in the program's sense: a stream, or one to be opened afresh at the next Write.
  bool IsOpen() const { return stream_ != nullptr || fresh_; }
  // Closes the stream (its failures change nothing: it is being replaced); the next Write
  // opens a new one.
  void DropStream();
  // Opens and starts a stream on the saved parameters for Write; false while the sound
  // system cannot give one (then `result` is the failure once the grace time is over).
  bool OpenFreshStream(int& result);

  std::shared_ptr<PortAudioSession> session_;
  std::vector<int> devices_;  // our index -> PortAudio device index
  PaStream* stream_ = nullptr;
  bool started_ = false;
  bool fresh_ = false;               // the stream was dropped: Write opens a new one
  PaStreamParameters parameters_{};  // of the open stream, for a fresh one
  double rate_ = 44100.0;
  StreamRecovery recovery_;
  PlaybackQueue queue_;
  std::string lastError_;
  std::atomic<float> gain_{1.0f};
  // Callback side.
  std::atomic<uint64_t> underflows_{0};
  std::atomic<double> writeTime_{-1.0};  // stream time of a Write into an empty queue
  std::atomic<double> startLatency_{-1.0};
};

}  // namespace kestrix
