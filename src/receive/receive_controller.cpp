#include "receive/receive_controller.h"

namespace kestrix {

// --- Modes and CLEAR ---------------------------------------------------------------------

bool ReceiveController::Redo(ReceiveMode mode) {
  if (rx_.Mode == mode && !forceModeSetup_) return false;
  forceModeSetup_ = false;
  return true;
}

void ReceiveController::ArmAutoStartIfIdle() {
  if (!loop_.Running()) view_.ArmAutoStart();
}

void ReceiveController::ChooseScan() {
  if (!Redo(ReceiveMode::kScan)) return;
  rx_.Mode = ReceiveMode::kScan;
  displayHeight_ = kDisplayHeightScan;
  view_.ShowScanMode();
  ArmAutoStartIfIdle();
}

void ReceiveController::ChooseText(ModeSource source) {
  if (!Redo(ReceiveMode::kText)) return;
  displayHeight_ = source == ModeSource::kButton ? kDisplayHeightButton : kDisplayHeightMenu;
  view_.ShowTextMode();
  // Mode and CLEAR: panes emptied, decoder reset; the learning restarts at the next tick.
  rx_.TextModeSetup();
  view_.AfterClear();
  learnRestartPending_ = true;
  view_.ArmStartupTick();
  ArmAutoStartIfIdle();
}

void ReceiveController::ChooseManual(ModeSource source) {
  if (!Redo(ReceiveMode::kManual)) return;
  rx_.Mode = ReceiveMode::kManual;
  displayHeight_ = source == ModeSource::kButton ? kDisplayHeightButton : kDisplayHeightMenu;
  view_.ShowManualMode();
  ArmAutoStartIfIdle();
}

void ReceiveController::Clear() {
  rx_.Clear();
  view_.AfterClear();
}

void ReceiveController::StartDefaults() {
  rx_.Mode = ReceiveMode::kText;
  displayHeight_ = kDisplayHeightButton;
  settingsLoadPending_ = true;
  learnRestartPending_ = false;
  forceModeSetup_ = false;
}

void ReceiveController::StartupTick() {
  if (settingsLoadPending_) {
    view_.LoadStoredSettings();
    rx_.Mode = ReceiveMode::kText;
    settingsLoadPending_ = false;
    ChooseText(ModeSource::kMenu);
  }
  if (learnRestartPending_) {
    learnRestartPending_ = false;
    rx_.RestartLearning();
  }
}

// --- Receive speed -----------------------------------------------------------------------

bool ReceiveController::ReceptionStopped() const {
  return loop_.ReceiveStop.load(std::memory_order_relaxed) != 0;
}

void ReceiveController::AfterSpeedChange() {
  if (!ReceptionStopped()) view_.AfterClear();
}

void ReceiveController::ChooseReceiveSpeed(ReceiveSpeed speed) {
  rx_.SetReceiveSpeed(speed, ReceptionStopped());
  AfterSpeedChange();
}

void ReceiveController::StepSpeedButton() {
  // Steps 1 -> 2 -> 3 -> 4 -> 1; the 50+ preset (5) first drops to 4, so it lands on Auto.
  ReceiveSpeed next = ReceiveSpeed::kAuto;
  const char* caption = "Auto";
  switch (rx_.Options.Speed) {
    case ReceiveSpeed::kAuto:
      next = ReceiveSpeed::k10;
      caption = "25 wpm";
      break;
    case ReceiveSpeed::k10:
      next = ReceiveSpeed::k20;
      caption = "35 wpm";
      break;
    case ReceiveSpeed::k20:
      next = ReceiveSpeed::k30;
      caption = "50 wpm";
      break;
    default:
      break;
  }
  view_.ShowSpeedButton(caption, next == ReceiveSpeed::kAuto);
  rx_.Capture.SetRate(kSpeedButtonRate);
  ChooseReceiveSpeed(next);
}

// --- Threshold, filter -------------------------------------------------------------------

void ReceiveController::ChooseThreshold(ThresholdMode mode, int manualPosition) {
  rx_.SetThresholdMode(mode);
  if (mode == ThresholdMode::kManual) SetManualThreshold(manualPosition);
  view_.AfterClear();
}

// The manual threshold line follows the bar at once, also while reception is stopped: the
// last line graph is drawn again from the spectrum it showed, with the line where every
// frame puts it. A waterfall has no line, and a new row must come only from a new block.
void ReceiveController::SetManualThreshold(int position) {
  rx_.SetThresholdBar2(position);
  RedrawThresholdLine();
}

void ReceiveController::ResyncManualThreshold() {
  rx_.ThresholdBarChange();
  RedrawThresholdLine();
}

void ReceiveController::RedrawThresholdLine() {
  if (rx_.Options.Threshold != ThresholdMode::kManual) return;
  const bool lineGraph = rx_.Mode == ReceiveMode::kManual ||
                         (rx_.Mode == ReceiveMode::kText && rx_.Display == DisplayType::kLine);
  if (lineGraph) view_.RedrawSpectrum();
}

void ReceiveController::SetNoiseFilter(bool on) {
  rx_.SetNoiseFilter(on);
  view_.AfterClear();
}

// --- Buttons -----------------------------------------------------------------------------

void ReceiveController::ToggleSquelch() {
  rx_.Options.SquelchOn = !rx_.Options.SquelchOn;
  view_.ShowToggle(ReceiveToggle::kSquelch, rx_.Options.SquelchOn);
  view_.FocusTextPane();
}

void ReceiveController::ToggleBlanking() {
  rx_.Options.BlankingOn = !rx_.Options.BlankingOn;
  view_.ShowToggle(ReceiveToggle::kBlanking, rx_.Options.BlankingOn);
  view_.FocusTextPane();
}

void ReceiveController::ToggleLockWpm() {
  rx_.SetLockWpm(!rx_.Options.LockWpmOn);
  view_.ShowToggle(ReceiveToggle::kLockWpm, rx_.Options.LockWpmOn);
  view_.FocusTextPane();
}

void ReceiveController::ToggleTextOutput() {
  ReceiveOptions& o = rx_.Options;
  o.TextOutput = o.TextOutputOn() ? 0 : kOn3;
  view_.ShowToggle(ReceiveToggle::kTextOutput, o.TextOutputOn());
  view_.FocusTextPane();
}

void ReceiveController::ToggleWordSpaces() {
  ReceiveOptions& o = rx_.Options;
  o.WordSpaces = o.SpacesOn() ? 0 : kOn3;
  view_.ShowToggle(ReceiveToggle::kWordSpaces, o.SpacesOn());
  view_.FocusTextPane();
}

void ReceiveController::StepSpaceTime() {
  SpaceTime& s = rx_.Options.Spacing;
  switch (s) {
    case SpaceTime::kLong:
      s = SpaceTime::kShort;
      break;
    case SpaceTime::kShort:
      s = SpaceTime::kMedium;
      break;
    case SpaceTime::kMedium:
      s = SpaceTime::kLong;
      break;
  }
  view_.ShowSpaceTime(s);
  view_.FocusTextPane();
}

void ReceiveController::TuneAt(int x) {
  const bool locked = rx_.Options.LockWpmOn;
  rx_.SpectrumClick(x);
  view_.ShowMarker(rx_.Tone.MarkerHz);
  if (locked) view_.ShowToggle(ReceiveToggle::kLockWpm, rx_.Options.LockWpmOn);
}

}  // namespace kestrix
