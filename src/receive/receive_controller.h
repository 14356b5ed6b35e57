// The receive controls' rules, free of any window: the three operating modes (Scan, Text,
// Manual) and the full setup after a settings load, CLEAR, the receive-speed choices and
// the speed button's cycle with its capture-rate change, the manual threshold and its
// line, the option buttons, the space-time cycle, click-to-tune, and the start-up tick
// that loads the settings and restarts the speed learning a moment after Text mode is
// chosen.
//
// The controller changes the Receiver and asks its ReceiveView to show the result; the
// window implements the view with its widgets, the tests with a recorder.
//
// Threads: the GUI thread only (the receive loop runs inside it).
#pragma once

#include <cstdint>

#include "receive/display_heights.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"

namespace kestrix {

// The speed button's capture rate (Hz); used from the next opening of capture.
inline constexpr uint32_t kSpeedButtonRate = 22050;

// Where a mode change came from: its button or the Receive > Op Modes menu.
enum class ModeSource { kButton, kMenu };

// The two-state buttons of the receive side, each showing ON or OFF.
enum class ReceiveToggle { kSquelch, kBlanking, kLockWpm, kTextOutput, kWordSpaces };

// What the window shows of the receive controls. Every call comes from a controller
// method, on the GUI thread.
class ReceiveView {
 public:
  virtual ~ReceiveView() = default;
  // The mode's controls: Scan shows the picture and hides the panes; Text shows the
  // spectrum and the receive pane (emptied); Manual the spectrum and the copy pane
  // (emptied, focused). Each colours its mode button, turns Tune off and sets the
  // transmit pane for the mode.
  virtual void ShowScanMode() = 0;
  virtual void ShowTextMode() = 0;
  virtual void ShowManualMode() = 0;
  // CLEAR's window part after the receiver's: the copy pane in Manual mode, then the focus
  // to the transmit pane.
  virtual void AfterClear() = 0;
  // The focus back to the pane in use after a button.
  virtual void FocusTextPane() = 0;
  // Runs StartupTick once, a moment from now.
  virtual void ArmStartupTick() = 0;
  // The automatic start's timer, armed again while reception is not running.
  virtual void ArmAutoStart() = 0;
  // Reads the settings file through the same handlers a user runs.
  virtual void LoadStoredSettings() = 0;
  // The speed button's caption; `automatic` is shown highlighted.
  virtual void ShowSpeedButton(const char* caption, bool automatic) = 0;
  virtual void ShowToggle(ReceiveToggle which, bool on) = 0;
  virtual void ShowSpaceTime(SpaceTime spacing) = 0;
  // The tuned marker's frequency, as a bare number until the next frame adds its unit.
  virtual void ShowMarker(int hz) = 0;
  // The last line graph drawn again (the manual threshold line moved).
  virtual void RedrawSpectrum() = 0;
};

class ReceiveController {
 public:
  ReceiveController(Receiver& rx, ReceiveLoop& loop, ReceiveView& view)
      : rx_(rx), loop_(loop), view_(view) {}
  ReceiveController(const ReceiveController&) = delete;
  ReceiveController& operator=(const ReceiveController&) = delete;

  // --- Modes and CLEAR ------------------------------------------------------------
  // Choosing the active mode again keeps everything (the received text included), except
  // right after a settings load (ForceModeSetup).
  void ChooseScan();
  void ChooseText(ModeSource source);
  void ChooseManual(ModeSource source);
  void Clear();
  // Creation's defaults: Text mode at the buttons' height, a settings load pending.
  void StartDefaults();
  // The start-up timer's tick: the settings load (once, then Text mode set up in full),
  // and the learning restart a Text mode choice asked for.
  void StartupTick();

  // --- Receive speed --------------------------------------------------------------
  void ChooseReceiveSpeed(ReceiveSpeed speed);
  // The speed button: Auto -> 10 -> 20 -> 30 -> Auto (50+ goes to Auto), and the capture
  // rate for the next opening of the device.
  void StepSpeedButton();

  // --- Threshold, filter ----------------------------------------------------------
  // `manualPosition` is ThresholdBar2's, applied when the mode is manual.
  void ChooseThreshold(ThresholdMode mode, int manualPosition);
  void SetManualThreshold(int position);
  void ResyncManualThreshold();
  void SetNoiseFilter(bool on);

  // --- Buttons --------------------------------------------------------------------
  void ToggleSquelch();
  void ToggleBlanking();
  void ToggleLockWpm();
  void ToggleTextOutput();
  void ToggleWordSpaces();
  // Space time: LONG -> SHORT -> MEDIUM -> LONG.
  void StepSpaceTime();
  // Click-to-tune at x pixels on the spectrum; a locked speed is released.
  void TuneAt(int x);

  // --- State ----------------------------------------------------------------------
  int DisplayHeight() const { return displayHeight_; }
  // The next mode choice redoes its setup (a settings load raises it).
  void ForceModeSetup() { forceModeSetup_ = true; }
  bool ModeSetupForced() const { return forceModeSetup_; }
  bool SettingsLoadPending() const { return settingsLoadPending_; }
  void SetSettingsLoadPending(bool pending) { settingsLoadPending_ = pending; }
  bool LearnRestartPending() const { return learnRestartPending_; }

 private:
  bool Redo(ReceiveMode mode);
  bool ReceptionStopped() const;
  void AfterSpeedChange();
  void RedrawThresholdLine();
  void ArmAutoStartIfIdle();

  Receiver& rx_;
  ReceiveLoop& loop_;
  ReceiveView& view_;
  int displayHeight_ = kDisplayHeightButton;
  bool forceModeSetup_ = false;
  bool settingsLoadPending_ = true;
  bool learnRestartPending_ = false;
};

}  // namespace kestrix
