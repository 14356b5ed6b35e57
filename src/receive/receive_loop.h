// Run control of reception: START, STOP, the block loop that exchanges the two capture
// buffers with the device and runs every completed block through the Receiver, the pause
// while transmitting, the automatic start and the late-buffer recovery, and the input
// channel choice. GUI-free: everything the window does around it goes through ReceiveHost.
//
// Threads: every method runs on the window's GUI thread. StartButtonClick does not return
// while the receiver runs; the host's ProcessMessages runs the window's other handlers
// (STOP, the timers, menus) nested inside it. The flags below are atomics because the
// transmit worker threads set and clear TxActive and ReceiveStop; no lock is taken.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "platform/capture_device.h"
#include "platform/sound_cards.h"
#include "receive/capture_format.h"
#include "receive/receiver.h"

namespace kestrix {

// The window timers the loop arms and disarms.
enum class LoopTimer : int {
  kSystemTimer = 0,   // 1000 ms: one-shot automatic start -> SystemTimerTimer
  kTimeoutTimer = 1,  // 375 ms, repeating while armed: late buffer -> TimeoutTimerTimer
  kTimeoutTimer2 = 2  // 375 ms: the sound-card keyer's watchdog -> TimeoutTimer2Timer
};

inline constexpr int kSystemTimerMs = 1000;
inline constexpr int kTimeoutTimerMs = 375;
inline constexpr int kBufferWaitSleepMs = 5;  // per round while waiting for a buffer
inline constexpr int kPauseSleepMs = 20;      // per round while transmitting
inline constexpr int kStopSettleMs = 400;     // STOP: between ReceiveStop and ReceiveHalted
inline constexpr int kLateRestartSleepMs = 100;
inline constexpr int kStartBitmapWidth = 570;  // START and MANUAL clear this many pixels
inline constexpr int kTextBitmapWidth = 557;   // the TEXT pass clears this many

// Message box titles and texts of sound input.
inline constexpr const char* kWaveDeviceTitle = "Wave Device Message";
inline constexpr const char* kApplicationTitle = "Application Message";
inline constexpr const char* kOperatingHintTitle = "Operating Hint";

// What the loop needs from the window (or from a test, or from kestrix-decode).
class ReceiveHost {
 public:
  virtual ~ReceiveHost() = default;

  // Runs pending window events; the window's handlers run nested in here.
  virtual void ProcessMessages() = 0;
  // Starts (or restarts the interval of) a timer / stops it.
  virtual void ArmTimer(LoopTimer timer) = 0;
  virtual void DisarmTimer(LoopTimer timer) = 0;
  // A modal message box with an OK button.
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
  // QUIT PROGRAM: stop sending, close the keying port, StopButtonClick, terminate.
  virtual void QuitButtonClick() = 0;
  // Sleeps the calling thread (at 1 ms timer resolution).
  virtual void Sleep(int ms) = 0;
  // One round of the pause while transmitting: serve window events for up to `ms`
  // (returning early is fine), so the send threads' window calls are not kept waiting.
  virtual void WaitForEvents(int ms) { Sleep(ms); }
  // Whether the settings file is being applied right now (no hints, no restarts then).
  virtual bool SettingsLoadPending() { return false; }

  // --- Window parts of START and STOP -------------------------------------------
  // START: the immediate transmit-memory mode, the transmit worker threads.
  virtual void StartTransmitWorkers() {}
  // START: mode buttons coloured for `mode` (active red, others blue), START/STOP blue.
  virtual void ShowStarted(ReceiveMode /*mode*/) {}
  // START has set the receiver's start values; capture opens next.
  virtual void StartValuesApplied() {}
  // START: SpectrumBitmap white and WaterfallBitmap black over (0,0)-(width, height).
  virtual void ClearDisplayBitmaps(int /*width*/) {}
  // START with at least one sound card: bring up the tone output device.
  virtual void InitToneOutput() {}
  // A TEXT or MANUAL pass: SpectrumBitmap white over (0,0)-(width, height).
  virtual void ClearSpectrumBitmap(int /*width*/) {}
  // STOP (first press only): START black, STOP red, MANUAL/TEXT/transmit captions blue.
  virtual void ShowStopped() {}
  // STOP: silence the sidetone, clear the transmit running states, release the keying line.
  virtual void StopTransmit() {}
  // The input channel menu: check `mode`, uncheck the other two.
  virtual void InputChannelChecked(ChannelMode /*mode*/) {}
};

// Gets a look at every capture buffer the loop completes, before the receiver works on it
// (the band map copies it to its own thread). Called on the loop's thread; must return at
// once: the loop's timing depends on it.
class CaptureBlockTap {
 public:
  virtual ~CaptureBlockTap() = default;
  virtual void OnCaptureBlock(const uint8_t* data, uint32_t bytes,
                              const CaptureSettings& capture) = 0;
};

// The position rule that decides when the loop may queue the other buffer.
// TEXT: position mod bufferBytes <= bufferBytes/2, or position a multiple of 2*bufferBytes.
// MANUAL: position mod bufferBytes >= bufferBytes/2, or (phase 0 only) a multiple of
// 2*bufferBytes. The TEXT loop also gives up after bufferBytes+1 polls.
bool PositionAllowsExchange(ReceiveMode mode, uint32_t position, uint32_t bufferBytes,
                            int bufferPhase);

class ReceiveLoop {
 public:
  // `sendingState`: the transmitter's SendingState, when there is one; the loop keeps its
  // own otherwise.
  ReceiveLoop(Receiver& rx, CaptureDevice& device, ReceiveHost& host,
              std::atomic<int32_t>* sendingState = nullptr);
  ReceiveLoop(const ReceiveLoop&) = delete;
  ReceiveLoop& operator=(const ReceiveLoop&) = delete;
  ~ReceiveLoop();

  // --- Handlers -------------------------------------------------------------------
  // START and the automatic start. Returns when the receiver stops or must restart.
  // A press while the loop already runs is ignored.
  void StartButtonClick();
  // STOP: ReceiveStop at once, ReceiveHalted 400 ms later.
  void StopButtonClick();
  // SystemTimer tick: the automatic start.
  void SystemTimerTimer();
  // TimeoutTimer tick: the buffer is late; start the device again.
  void TimeoutTimerTimer();
  // TimeoutTimer2 tick: the sound-card keyer's wait is abandoned.
  void TimeoutTimer2Timer() { WaveWatchdog.store(1, std::memory_order_relaxed); }
  // Options > Input: channel, format and buffer size; outside a settings load a hint and
  // a restart of the loop one SystemTimer interval later.
  void MicInputClick() { InputChannelClick(ChannelMode::kMic); }
  void LeftInputClick() { InputChannelClick(ChannelMode::kLeft); }
  void RightInputClick() { InputChannelClick(ChannelMode::kRight); }
  void InputChannelClick(ChannelMode mode);
  // The shared reaction to a sound-device failure after its message was shown: code 1
  // continues, any other code quits the program (and ends the loop). Returns true when
  // the program goes on.
  bool HandleWaveError(int code);
  // Every completed buffer also goes to `tap` (null: to nobody) from the next one on. Each
  // slot holds one tap (the band map's is slot 0, the soft decoder's slot 1).
  static constexpr int kBlockTapSlots = 2;
  void SetBlockTap(CaptureBlockTap* tap, int slot = 0) {
    taps_.at(static_cast<size_t>(slot)) = tap;
  }

  // --- Run-control flags (also written by the transmit side and the dialogs) ---------
  std::atomic<uint8_t> ReceiveStop{0};
  std::atomic<uint8_t> ReceiveHalted{0};
  std::atomic<uint8_t> RestartRequested{0};
  std::atomic<uint8_t> AutoStartPending{0};
  std::atomic<uint8_t> TxActive{0};
  std::atomic<int32_t> BufferPhase{0};
  // The transmitter's state (0 idle, 3 sending); the MANUAL pass is skipped while nonzero.
 private:
  std::atomic<int32_t> ownSendingState_{0};

 public:
  std::atomic<int32_t>& SendingState;
  // Set by TimeoutTimer2Timer, cleared by TimeoutTimerTimer; read by the sound-card keyer.
  std::atomic<uint8_t> WaveWatchdog{0};

  // --- Observation ------------------------------------------------------------------
  bool Running() const { return running_; }
  // Set once a fatal device error has asked the program to quit.
  bool QuitRequested() const { return quitRequested_; }
  int64_t BlocksProcessed() const { return blocksProcessed_; }
  Receiver& Rx() { return rx_; }
  CaptureDevice& Device() { return device_; }
  ReceiveHost& Host() { return host_; }
  const CaptureHeader& HeaderA() const { return headerA_; }
  const CaptureHeader& HeaderB() const { return headerB_; }

 private:
  enum class PassEnd { kContinue, kRestart, kReturn };

  // Restart point: open capture and run the block loop until it returns.
  void RestartPoint();
  bool OpenCapture();
  // After a transmission: capture starts again on buffer a without reopening.
  bool RestartCaptureOnA();
  // The loop has ended: stop the device and release it.
  void EndCapture();
  PassEnd BlockLoop();
  // One TEXT or MANUAL pass: buffer exchange, then the Receiver's block work.
  PassEnd AudioPass(ReceiveMode mode);
  PassEnd ExchangeBuffers(ReceiveMode mode, const uint8_t*& completed);
  // False when STOP or a fatal error cut the wait short.
  bool WaitForBuffer(CaptureHeader& header);
  // Reports a device failure with `text` and HandleWaveError(code); true = go on.
  bool Check(int result, const char* text, int code = 0);
  uint8_t* BufferA() { return bufferA_.data(); }
  uint8_t* BufferB() { return bufferB_.data(); }

  Receiver& rx_;
  CaptureDevice& device_;
  ReceiveHost& host_;
  std::vector<uint8_t> bufferA_;
  std::vector<uint8_t> bufferB_;
  CaptureHeader headerA_;
  CaptureHeader headerB_;
  bool running_ = false;
  bool quitRequested_ = false;
  bool captureOpen_ = false;
  int64_t blocksProcessed_ = 0;
  std::array<CaptureBlockTap*, kBlockTapSlots> taps_{};
};

}  // namespace kestrix
