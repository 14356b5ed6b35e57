#include "receive/receive_loop.h"

namespace kestrix {

namespace {

constexpr auto kRelaxed = std::memory_order_relaxed;

// A MANUAL position poll that lasts this many rounds of 256 polls (each round yields and
// sleeps 1 ms) gives up like the TEXT poll does, so that a device that has stopped
// recording reaches the wait, where the late-buffer recovery can restart it.
constexpr int kManualPollRounds = 375;
constexpr uint32_t kPollsPerRound = 256;

}  // namespace

bool PositionAllowsExchange(ReceiveMode mode, uint32_t position, uint32_t bufferBytes,
                            int bufferPhase) {
  if (bufferBytes == 0) return true;
  const uint32_t within = position % bufferBytes;
  const bool atPairBoundary = position % (2 * bufferBytes) == 0;
  if (mode == ReceiveMode::kManual) {
    return within >= bufferBytes / 2 || (bufferPhase == 0 && atPairBoundary);
  }
  return within <= bufferBytes / 2 || atPairBoundary;
}

ReceiveLoop::ReceiveLoop(Receiver& rx, CaptureDevice& device, ReceiveHost& host,
                         std::atomic<int32_t>* sendingState)
    : SendingState(sendingState ? *sendingState : ownSendingState_),
      rx_(rx),
      device_(device),
      host_(host),
      bufferA_(kCaptureBufferBytes, 0),
      bufferB_(kCaptureBufferBytes, 0) {}

ReceiveLoop::~ReceiveLoop() {
  // The device must not write into the buffers once they are gone.
  if (captureOpen_) {
    device_.Reset();
    device_.Close();
  }
}

// --- Handlers --------------------------------------------------------------------------

void ReceiveLoop::StartButtonClick() {
  if (ReceiveStop.load(kRelaxed) != 0) return;
  // A second START inside the running loop would open the device under itself.
  if (running_ || quitRequested_) return;
  running_ = true;
  // A START that gets this far (a send has cleared ReceiveStop since the STOP) must run:
  // left set, STOP's halted flag would send it straight back from the restart point.
  ReceiveHalted.store(0, kRelaxed);

  host_.StartTransmitWorkers();
  host_.ShowStarted(rx_.Mode);
  rx_.StartValues();
  host_.StartValuesApplied();
  host_.ClearDisplayBitmaps(kStartBitmapWidth);

  if (device_.DeviceCount() <= 0) {
    host_.ShowMessage(kApplicationTitle, kNoSoundCardText);
    running_ = false;
    quitRequested_ = true;
    host_.QuitButtonClick();
    return;
  }
  host_.InitToneOutput();

  RestartPoint();
  // Ended by STOP: the next armed SystemTimer tick may start again.
  if (ReceiveStop.load(kRelaxed) != 0) AutoStartPending.store(1, kRelaxed);
  EndCapture();
  running_ = false;
}

void ReceiveLoop::StopButtonClick() {
  if (ReceiveStop.load(kRelaxed) == 0) host_.ShowStopped();
  host_.StopTransmit();
  host_.DisarmTimer(LoopTimer::kTimeoutTimer);
  host_.DisarmTimer(LoopTimer::kSystemTimer);
  ReceiveStop.store(1, kRelaxed);
  // Handlers run nested in the loop, so the loop sees ReceiveStop only after this returns;
  // the halted flag then keeps the restart point from reopening capture.
  host_.Sleep(kStopSettleMs);
  ReceiveHalted.store(1, kRelaxed);
}

void ReceiveLoop::SystemTimerTimer() {
  host_.DisarmTimer(LoopTimer::kSystemTimer);
  if (AutoStartPending.load(kRelaxed) == 0) return;
  if (running_) {
    if (RestartRequested.load(kRelaxed) != 0) {
      // The loop has not run out yet (it is pausing or waiting for its last buffer): try
      // again on the next tick rather than starting a second loop inside it.
      host_.ArmTimer(LoopTimer::kSystemTimer);
    } else {
      AutoStartPending.store(0, kRelaxed);  // already running, which is what was wanted
    }
    return;
  }
  AutoStartPending.store(0, kRelaxed);
  ReceiveHalted.store(0, kRelaxed);
  RestartRequested.store(0, kRelaxed);
  StartButtonClick();
}

void ReceiveLoop::TimeoutTimerTimer() {
  if (!running_ || !captureOpen_) {
    host_.DisarmTimer(LoopTimer::kTimeoutTimer);
    return;
  }
  WaveWatchdog.store(0, kRelaxed);
  host_.Sleep(kLateRestartSleepMs);
  Check(device_.Start(), "Error starting the input wave device");
}

void ReceiveLoop::InputChannelClick(ChannelMode mode) {
  rx_.Capture.SetChannel(mode);
  host_.InputChannelChecked(mode);
  if (host_.SettingsLoadPending()) return;
  host_.ShowMessage(kOperatingHintTitle,
                    mode == ChannelMode::kMic
                        ? "Be sure to set the mixer panel recording input to Microphone"
                        : "Be sure to set the mixer panel recording input to Line in");
  AutoStartPending.store(1, kRelaxed);
  ReceiveHalted.store(0, kRelaxed);
  RestartRequested.store(1, kRelaxed);
  host_.ArmTimer(LoopTimer::kSystemTimer);
}

bool ReceiveLoop::HandleWaveError(int code) {
  if (code == 1) return true;
  if (!quitRequested_) {
    quitRequested_ = true;
    host_.QuitButtonClick();
  }
  return false;
}

// --- The loop ------------------------------------------------------------------------

bool ReceiveLoop::Check(int result, const char* text, int code) {
  if (result == kCaptureOk) return true;
  // After a fatal error the program is on its way out; one message is enough.
  if (quitRequested_) return false;
  host_.ShowMessage(kWaveDeviceTitle, text);
  return HandleWaveError(code);
}

void ReceiveLoop::RestartPoint() {
  for (;;) {
    if (ReceiveHalted.load(kRelaxed) != 0 || quitRequested_) return;
    if (!OpenCapture()) return;
    ReceiveStop.store(0, kRelaxed);
    host_.ArmTimer(LoopTimer::kTimeoutTimer);
    if (BlockLoop() != PassEnd::kRestart) return;
  }
}

bool ReceiveLoop::OpenCapture() {
  if (captureOpen_) {
    // Back at the restart point with the device still recording (ReceiveStop came
    // during a position poll): stop it before its headers are filled again.
    device_.Close();
    captureOpen_ = false;
  }
  BufferPhase.store(0, kRelaxed);
  const CaptureSettings& c = rx_.Capture;
  headerA_.Reset(BufferA(), c.BufferBytes);
  headerB_.Reset(BufferB(), c.BufferBytes);

  int device = rx_.Capture.InputDevice;
  if (device_.QueryFormat(device, c.Format) != kCaptureOk) {
    Check(kCaptureBadFormat, "Could not status the input wave device", 1);
    rx_.Capture.InputDevice = device = 0;
  }
  if (device_.Open(device, c.Format) != kCaptureOk) {
    // The program goes on without capture; the next start tries device 0. Preparing
    // buffers for a device that did not open could only fail and end the program.
    Check(kCaptureNotOpen, "Error Opening Input wave device", 1);
    rx_.Capture.InputDevice = 0;
    captureOpen_ = false;
    return false;
  }
  captureOpen_ = true;
  return Check(device_.Prepare(headerA_), "Error preparing the header_a") &&
         Check(device_.Add(headerA_), "Error in sending a buffer_a") &&
         Check(device_.Start(), "Error starting the input wave device");
}

bool ReceiveLoop::RestartCaptureOnA() {
  BufferPhase.store(0, kRelaxed);
  if (!Check(device_.Reset(), "Error Resetting the input wave device")) return false;
  const uint16_t bytes = rx_.Capture.BufferBytes;
  headerA_.Reset(BufferA(), bytes);
  headerB_.Reset(BufferB(), bytes);
  return Check(device_.Prepare(headerA_), "Error preparing the header_a") &&
         Check(device_.Add(headerA_), "Error in sending a buffer_a") &&
         Check(device_.Start(), "Error starting the input wave device");
}

void ReceiveLoop::EndCapture() {
  host_.DisarmTimer(LoopTimer::kTimeoutTimer);
  if (!captureOpen_) return;
  // Closed rather than left open, so that other programs can use the sound card while
  // reception is stopped; every start opens it again anyway.
  Check(device_.Reset(), "Error Resetting the input wave device");
  device_.Close();
  captureOpen_ = false;
}

ReceiveLoop::PassEnd ReceiveLoop::BlockLoop() {
  for (;;) {
    if (TxActive.load(kRelaxed) != 0) {
      // No late-buffer restarts while transmitting: the recovery sleeps on this thread,
      // which the transmit workers need for their pane updates.
      host_.DisarmTimer(LoopTimer::kTimeoutTimer);
      while (TxActive.load(kRelaxed) != 0) {
        host_.ProcessMessages();
        // STOP (or a fatal error) during a transmission ends reception now; waiting for
        // the end of the send would let the send's clean-up clear ReceiveStop and
        // reception would go on as if STOP had never been pressed.
        if (quitRequested_) return PassEnd::kReturn;
        if (ReceiveHalted.load(kRelaxed) != 0) return PassEnd::kReturn;
        host_.WaitForEvents(kPauseSleepMs);
      }
      if (!RestartCaptureOnA()) return PassEnd::kReturn;
    }

    bool audioWork = false;
    PassEnd end = PassEnd::kContinue;
    if (rx_.Mode == ReceiveMode::kText) {
      audioWork = true;
      end = AudioPass(ReceiveMode::kText);
    } else if (rx_.Mode == ReceiveMode::kManual && SendingState.load(kRelaxed) == 0) {
      audioWork = true;
      end = AudioPass(ReceiveMode::kManual);
    }
    if (end != PassEnd::kContinue) return end;
    if (quitRequested_) return PassEnd::kReturn;

    if (ReceiveStop.load(kRelaxed) != 0) return PassEnd::kReturn;
    host_.ProcessMessages();
    // SCAN (and MANUAL while sending) waits for nothing; without a pause this would spin
    // a core at full load just to keep the window alive.
    if (!audioWork) host_.Sleep(kBufferWaitSleepMs);
  }
}

ReceiveLoop::PassEnd ReceiveLoop::AudioPass(ReceiveMode mode) {
  const uint8_t* completed = nullptr;
  const PassEnd end = ExchangeBuffers(mode, completed);
  if (end != PassEnd::kContinue) return end;
  for (CaptureBlockTap* tap : taps_)
    if (tap != nullptr) tap->OnCaptureBlock(completed, rx_.Capture.BufferBytes, rx_.Capture);
  if (mode == ReceiveMode::kText) {
    host_.ClearSpectrumBitmap(kTextBitmapWidth);
    rx_.ProcessTextBlock(completed);
  } else {
    host_.ClearSpectrumBitmap(kStartBitmapWidth);
    rx_.ProcessManualBlock(completed);
  }
  ++blocksProcessed_;
  return ReceiveStop.load(kRelaxed) != 0 ? PassEnd::kReturn : PassEnd::kContinue;
}

ReceiveLoop::PassEnd ReceiveLoop::ExchangeBuffers(ReceiveMode mode, const uint8_t*& completed) {
  const uint32_t bytes = rx_.Capture.BufferBytes;
  const int phase = BufferPhase.load(kRelaxed);

  // Queue the other buffer only at the right point of the current one.
  uint32_t position = 0;
  int rounds = 0;
  for (uint32_t polls = 1;; ++polls) {
    if (!Check(device_.Position(position), "Error getting the byte position")) {
      return PassEnd::kReturn;
    }
    if (PositionAllowsExchange(mode, position, bytes, phase)) break;
    if (mode == ReceiveMode::kText && polls >= bytes + 1u) break;
    if (ReceiveStop.load(kRelaxed) != 0) return PassEnd::kRestart;
    if (mode == ReceiveMode::kManual && polls % kPollsPerRound == 0) {
      // The MANUAL rule waits up to half a buffer (93 ms at 44100 Hz) and has no poll
      // limit: keep the window alive meanwhile.
      host_.ProcessMessages();
      if (quitRequested_) return PassEnd::kReturn;
      if (ReceiveStop.load(kRelaxed) != 0) return PassEnd::kRestart;
      if (++rounds >= kManualPollRounds) break;
      host_.Sleep(1);
    }
  }

  CaptureHeader& next = phase == 0 ? headerB_ : headerA_;
  next.Reset(phase == 0 ? BufferB() : BufferA(), bytes);
  if (phase == 0) {
    if (!Check(device_.Prepare(next), "Error preparing the header_b") ||
        !Check(device_.Add(next), "Error in sending a buffer_b")) {
      return PassEnd::kReturn;
    }
  } else {
    if (!Check(device_.Prepare(next), "Error preparing the header_a") ||
        !Check(device_.Add(next), "Error in sending a buffer_a")) {
      return PassEnd::kReturn;
    }
  }

  host_.ArmTimer(LoopTimer::kTimeoutTimer);
  CaptureHeader& recording = phase == 0 ? headerA_ : headerB_;
  // A wait cut short by STOP leaves the buffer queued; releasing it then would fail and
  // end the program, so the loop just returns (its end resets the device).
  if (!WaitForBuffer(recording)) return PassEnd::kReturn;
  if (!Check(device_.Unprepare(recording),
             phase == 0 ? "Error unpreparing the Header a" : "Error unpreparing the Header b")) {
    return PassEnd::kReturn;
  }
  if (ReceiveStop.load(kRelaxed) != 0) return PassEnd::kReturn;
  host_.DisarmTimer(LoopTimer::kTimeoutTimer);
  BufferPhase.store(phase ^ 1, kRelaxed);
  if (RestartRequested.load(kRelaxed) != 0) return PassEnd::kReturn;
  completed = recording.Data;
  return PassEnd::kContinue;
}

bool ReceiveLoop::WaitForBuffer(CaptureHeader& header) {
  while (!header.IsDone()) {
    if (ReceiveStop.load(kRelaxed) != 0 || quitRequested_) return false;
    host_.ProcessMessages();
    if (quitRequested_) return false;
    host_.Sleep(kBufferWaitSleepMs);
  }
  return true;
}

}  // namespace kestrix
