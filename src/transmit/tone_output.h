// The sound-card keyer: Morse as a tone on the sound card's output. The key mask of a
// character (SoundKeyChar) or of a batch of characters (SoundKeyBuffer) is multiplied by
// the tone and streamed to the playback device through two alternating 4096-sample
// buffers, A and B, with a 375 ms watchdog on every wait for the device.
//
// Every failing device call shows its message under "Wave Device Message" and goes to the
// host's HandleWaveError (which quits the program); the sound library's reason goes to
// the log. After such a failure the keyer stays silent: the program is on its way out.
//
// Threads: OpenToneOutput on the GUI thread before any keying; SoundKeyChar and
// SoundKeyBuffer on one keyer thread at a time (a lock makes a second caller wait);
// AbortTone and the parameter atomics from any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <ostream>
#include <string>

#include "platform/playback_device.h"
#include "transmit/element_timing.h"
#include "transmit/key_line.h"
#include "transmit/key_mask.h"
#include "transmit/morse_send_table.h"
#include "transmit/send_keyers.h"
#include "transmit/tone_synth.h"

namespace kestrix::transmit {

class PortKeyer;

inline constexpr int32_t kToneWatchdogMs = 375;
inline constexpr const char* kWaveDeviceMessageTitle = "Wave Device Message";

// The HandleWaveError codes of the output side.
enum ToneErrorCode : int {
  kToneFormatError = 26,
  kToneOpenError = 27,
  kTonePrepareError = 29,
  kToneWriteError = 30,
  kToneVolumeError = 31,
  kTonePositionError = 32,
  kToneResetError = 35,
  kToneUnprepareError = 36,
};

// The messages, by the call that failed.
inline constexpr const char* kToneFormatText = "Could not handle the output WAVE format";
inline constexpr const char* kToneOpenText = "Error Opening Output wave device";
inline constexpr const char* kToneVolumeText = "Error setting the output volume";
inline constexpr const char* kTonePrepareText[2] = {"Error preparing the header_a",
                                                    "Error preparing the header_b"};
inline constexpr const char* kToneWriteText[2] = {"Error writing to the output device a",
                                                  "Error writing to the output device b"};
inline constexpr const char* kTonePositionText = "Error getting the byte position";
inline constexpr const char* kToneResetText = "Error Resetting the output wave device";
inline constexpr const char* kToneUnprepareText[2] = {"Error unpreparing the Header a",
                                                      "Error unpreparing the Header b"};

// The watchdog of the waits for the device: the window's TimeoutTimer2, or a deadline.
class ToneWatchdog {
 public:
  virtual ~ToneWatchdog() = default;
  // Clears WaveWatchdog and (re)starts the 375 ms timer. Called on the keyer thread.
  virtual void ArmWatchdog() = 0;
  // Stops the timer.
  virtual void DisarmWatchdog() = 0;
  // WaveWatchdog: the timer has fired since it was armed.
  virtual bool WatchdogFired() = 0;
};

// The watchdog on a clock: fires once `nowMs()` has passed the arming time by 375 ms.
// kestrix-send uses the monotonic clock, the tests a fake one.
class DeadlineWatchdog final : public ToneWatchdog {
 public:
  using Clock = int64_t (*)(void* context);
  DeadlineWatchdog(Clock clock, void* context) : clock_(clock), context_(context) {}
  void ArmWatchdog() override {
    deadline_ = clock_(context_) + kToneWatchdogMs;
    armed_ = true;
  }
  void DisarmWatchdog() override { armed_ = false; }
  bool WatchdogFired() override { return armed_ && clock_(context_) >= deadline_; }
  // Milliseconds on the steady clock, for kestrix-send.
  static int64_t SteadyMs(void* context);

 private:
  Clock clock_;
  void* context_;
  int64_t deadline_ = 0;
  bool armed_ = false;
};

// What the keyer needs from the window (or kestrix-send, or a test) when a call fails.
// Called on whichever thread failed; the window hands both to its GUI thread.
class ToneHost {
 public:
  virtual ~ToneHost() = default;
  // A message box with an OK button.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
  // The shared reaction to a sound-device failure after its message (any code but 1 quits).
  virtual void HandleWaveError(int code) = 0;
};

class ToneOutput {
 public:
  ToneOutput(PlaybackDevice& device, const MorseSendTable& table, const ElementTiming& timing,
             Waiter& waiter, ToneWatchdog& watchdog, ToneHost& host, std::ostream& log);
  ~ToneOutput();
  ToneOutput(const ToneOutput&) = delete;
  ToneOutput& operator=(const ToneOutput&) = delete;

  // --- Parameters (the menus set them; read at the start of every run) ---------------
  std::atomic<float> SideToneFrequency{750.0f};
  std::atomic<int32_t> ToneWaveform{0};  // 0 sine, 1 square
  // Mask bytes of key-down samples: 1 tone, 0 silence of the same length.
  std::atomic<uint8_t> SideToneEnabled{0};
  // 0: the sound card is the output device; anything else (the serial port): SoundKeyChar
  // streams nothing.
  std::atomic<int32_t> OutputDevice{0};

  // --- Run state ----------------------------------------------------------------------
  std::atomic<uint8_t> ToneAbort{0};  // 1: the run ends at its next block

  // Queries the format, opens `device` and sets full volume. Each failure shows its
  // message and goes to HandleWaveError; returns whether the output is open. An output
  // that is open already is kept (it stays open for the program's life).
  bool OpenToneOutput(int device = 0);
  bool IsOpen() const { return open_.load(std::memory_order_acquire); }
  // Set once a device call has failed; nothing is streamed after that.
  bool Failed() const { return failed_.load(std::memory_order_acquire); }

  // One character. `firstBlock` above 0: do not wait for the other buffer before the
  // first block.
  void SoundKeyChar(uint8_t code, int32_t firstBlock);
  // The zero-terminated `text` from `position` on, in batches that fit the key mask;
  // `position` ends past the last character sent. Stops between batches once
  // `stopRequested` is 1, and returns at once when a run was cut short.
  void SoundKeyBuffer(const char* text, int32_t& position,
                      const std::atomic<uint8_t>& stopRequested);
  // SEND's stop.
  void AbortTone() { ToneAbort.store(1, std::memory_order_relaxed); }

  // Closes the device (the window's destruction). Waits for a run in progress to end.
  void Close();

  // --- Observation (tests, kestrix-send) ---------------------------------------------------
  const KeyMask& Mask() const { return mask_; }
  uint8_t LastBlock() const { return lastBlock_; }
  int32_t NextBuffer() const { return nextBuffer_; }
  int64_t Batches() const { return batches_; }
  // Runs the watchdog cut short because the device stopped playing (a sound server that
  // went away, a stalled card): their samples were not all heard.
  int64_t CutRuns() const { return cutRuns_.load(std::memory_order_relaxed); }
  const PlaybackHeader& Header(int i) const { return headers_[static_cast<size_t>(i & 1)]; }

 private:
  enum class Wait { kDone, kCut, kFailed };

  // Streams the first `count` samples of the mask. False when the run was cut short by
  // the watchdog or a failure.
  bool Stream(int32_t count, bool firstBlock);
  Wait WaitPosition(uint32_t bufferBytes);
  Wait WaitDone(const PlaybackHeader& header);
  // Reports a failed call: the message, the library's reason on the log, HandleWaveError.
  void Fail(int result, const char* text, int code);
  bool Check(int result, const char* text, int code) {
    if (result == kPlaybackOk) return true;
    Fail(result, text, code);
    return false;
  }

  PlaybackDevice& device_;
  const MorseSendTable& table_;
  const ElementTiming& timing_;
  Waiter& waiter_;
  ToneWatchdog& watchdog_;
  ToneHost& host_;
  std::ostream& log_;

  std::mutex run_;  // one run at a time
  KeyMask mask_;
  std::array<std::array<uint8_t, 2 * kToneBlockSamples>, 2> buffers_{};
  std::array<PlaybackHeader, 2> headers_;  // A, B
  PlaybackFormat format_;
  std::atomic<bool> open_{false};
  std::atomic<bool> failed_{false};
  // State of the run (keyer thread).
  float phase_ = 0.0f;
  int32_t nextBuffer_ = 0;
  uint8_t lastBlock_ = 0;
  int64_t batches_ = 0;
  std::atomic<int64_t> cutRuns_{0};
};

// The send threads' keyers with the sound card: tone runs through ToneOutput, the port
// keyer for the serial port.
class ToneKeyers final : public SendKeyers {
 public:
  ToneKeyers(ToneOutput& tone, PortKeyer& port) : tone_(tone), port_(port) {}
  void SendCharToPort(uint8_t code) override;
  void SoundKeyChar(uint8_t code, int32_t firstBlock) override {
    tone_.SoundKeyChar(code, firstBlock);
  }
  void SoundKeyBuffer(const char* text, int32_t& position,
                      const std::atomic<uint8_t>& stopRequested) override {
    tone_.SoundKeyBuffer(text, position, stopRequested);
  }
  void AbortTone() override { tone_.AbortTone(); }

 private:
  ToneOutput& tone_;
  PortKeyer& port_;
};

}  // namespace kestrix::transmit
