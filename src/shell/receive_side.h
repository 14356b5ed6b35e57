// The receive side of the main window: the handlers of its controls and menus (modes,
// CLEAR, tuning and AFC, gain, threshold, noise filter, receive speed, the option buttons,
// the input choice, the display type, and the Text menu), the widgets' part of the
// receive controller's rules, and the receiver's per-block read-outs.
//
// The rules themselves are the ReceiveController's; a handler here checks its menu item,
// calls the controller or the receiver and shows the result. The settings loader runs the
// same handlers.
//
// GUI thread only.
#pragma once

#include <QObject>
#include <functional>
#include <memory>

#include "receive/receive_controller.h"
#include "receive/receive_loop.h"
#include "receive/receiver.h"
#include "shell/main_menu.h"
#include "shell/receive_panel.h"
#include "shell/status_panel.h"
#include "shell/transmit_panel.h"
#include "shell/window_transmit_state.h"

class QTimer;
class QAction;

namespace kestrix {
class TimelineWindow;
}

namespace kestrix::shell {

class AfcStartDialog;
class SoundCardDialog;

// Receive pane font sizes in points, by the Text > Size choice 1..4.
inline constexpr int kFontPoints[5] = {12, 10, 12, 16, 20};

// Received-text look that the settings file stores (the case lives in ReceiveOptions).
struct PaneStyle {
  int32_t FontStyle = 0;  // 0 normal, 1 bold
  int32_t FontSize = 2;   // 1 small .. 4 large
};

// What the receive side works on; all owned by the window.
struct ReceiveParts {
  ReceivePanel& rp;
  TransmitPanel& tp;
  StatusPanel& sp;
  MainMenu& menu;
  Receiver& rx;
  ReceiveLoop& loop;
  TransmitState& tx;
  TimelineWindow& timeline;
  AfcStartDialog& afcDialog;
  SoundCardDialog& soundCardDialog;
  QTimer& startupTimer;    // Timer1
  QTimer& autoStartTimer;  // SystemTimer
};

class ReceiveSide final : public QObject, public ReceiveView, public ReceiverSink {
 public:
  // `loadSettings` reads the settings file (the start-up tick's load).
  ReceiveSide(const ReceiveParts& parts, std::function<void()> loadSettings, QObject* parent);
  ~ReceiveSide() override;

  ReceiveController& Controller() { return *controller_; }
  PaneStyle& Style() { return style_; }
  int DisplayHeight() const { return controller_->DisplayHeight(); }
  // Layout measures taken at creation for the mode handlers (pixels).
  int SpectrumHeightRef() const { return spectrumHeightRef_; }
  // Takes the measures and puts the copy pane right above the divider.
  void MeasureLayout();
  // Connects the receive controls and menus to the handlers below.
  void Connect();

  // --- Run control ------------------------------------------------------------------
  void StartButtonClick() { parts_.loop.StartButtonClick(); }
  void StopButtonClick() { parts_.loop.StopButtonClick(); }
  void SystemTimerTimer() { parts_.loop.SystemTimerTimer(); }
  void TimeoutTimerTimer() { parts_.loop.TimeoutTimerTimer(); }
  // The window's parts of START and STOP.
  void ShowStarted(ReceiveMode mode);
  void ClearDisplayBitmaps();
  void ClearSpectrumBitmap(int width);
  void ShowStopped();
  void InputChannelChecked(ChannelMode mode);

  // --- Modes, CLEAR, tuning --------------------------------------------------------
  void ScanButtonClick() { controller_->ChooseScan(); }
  void TextButtonClick() { controller_->ChooseText(ModeSource::kButton); }
  void ManualButtonClick() { controller_->ChooseManual(ModeSource::kButton); }
  void Text2Click() { controller_->ChooseText(ModeSource::kMenu); }
  void Manual2Click() { controller_->ChooseManual(ModeSource::kMenu); }
  void ClearButtonClick() { controller_->Clear(); }
  void FrequencyBarChange();
  void SpectrumBoxMouseDown(int x) { controller_->TuneAt(x); }
  void Off1Click();
  void Narrow1Click();
  void Medium1Click();
  void Wide1Click();
  void AFCStartFreqClick();
  void AFCStartBtnClick();
  void AFCStartCancelBtnClick();

  // --- Gain, threshold, filter, speed ----------------------------------------------------
  void SignalGainBarChange();
  void CoarseGainTrackBarChange();
  void Rx10BtnClick();
  void Rx1BtnClick();
  void Rx01BtnClick();
  void Rx001BtnClick();
  void Quiet1Click();
  void Normal2Click();
  void Noisy2Click();
  void Auto4Click();
  void Manual3Click();
  void ThresholdBar2Change();
  void ThresholdBarChange() { controller_->ResyncManualThreshold(); }
  void FilterOn1Click();
  void FilterOff1Click();
  void Auto3Click();
  void N25WPM1Click();  // "10 wpm"
  void N35wpm1Click();  // "20 wpm"
  void N50wpm1Click();  // "30 wpm"
  void N50wpm2Click();  // "50+ wpm"
  void FilterButtonClick() { controller_->StepSpeedButton(); }

  // --- Option buttons, input, display --------------------------------------------------
  void SquelchBtnClick() { controller_->ToggleSquelch(); }
  void LockWpmBtnClick() { controller_->ToggleLockWpm(); }
  void BlankBtnClick() { controller_->ToggleBlanking(); }
  void Fade_OnClick();
  void Fade_OffClick();
  void MicInputClick() { parts_.loop.MicInputClick(); }
  void LeftInputClick() { parts_.loop.LeftInputClick(); }
  void RightInputClick() { parts_.loop.RightInputClick(); }
  void SelectSoundCardClick();
  void Spectrum1Click();
  void Waterfall2Click();
  void Enable3Click();
  // The squelch flag with its button, as the settings file applies it (no handler runs).
  void SetSquelch(bool on);

  // --- The Text menu and its buttons (receive_side_text.cpp) ---------------------------
  void Upper1Click();
  void Lower1Click();
  void Normal1Click();
  void Bold1Click();
  void SmallFont1Click();
  void NormalFont1Click();
  void MediumFont1Click();
  void LargeFont1Click();
  void ScrollingOn1Click();
  void ScrollingOff1Click();
  void TxtScrollBtnClick() { controller_->ToggleTextOutput(); }
  void SpacesOnClick();
  void SpacesOffClick();
  void SpaceButtonClick() { controller_->ToggleWordSpaces(); }
  void Short1Click();
  void Medium2Click();
  void Long1Click();
  void RunOnButtonClick() { controller_->StepSpaceTime(); }
  void ProsignEnableClick();
  void ProsignDisableClick();
  void EnableEnglishClick();
  void DisableEnglishClick();
  void MsgsONClick();
  void MsgsOFFClick();
  // The copy pane's key handler (Windows key codes; 220 is the backslash key). Returns
  // true when the key was used up.
  bool TextPanelKeyDown(int key);

  // --- ReceiveView --------------------------------------------------------------------
  void ShowScanMode() override;
  void ShowTextMode() override;
  void ShowManualMode() override;
  void AfterClear() override;
  void FocusTextPane() override;
  void ArmStartupTick() override;
  void ArmAutoStart() override;
  void LoadStoredSettings() override { loadSettings_(); }
  void ShowSpeedButton(const char* caption, bool automatic) override;
  void ShowToggle(ReceiveToggle which, bool on) override;
  void ShowSpaceTime(SpaceTime spacing) override;
  void ShowMarker(int hz) override;
  void RedrawSpectrum() override { SpectrumFrame(parts_.rx); }

  // --- ReceiverSink -------------------------------------------------------------------
  void PeakFrequencyShown(int hz) override;
  void FrequencyBarMoved(int position) override;
  void SpectrumFrame(const Receiver& rx) override;
  void SquelchMeasured(int ratio) override;
  void LevelsUpdated(const Receiver& rx) override;
  void LearnStateShown(bool learning) override;
  void TimelineBlock(const Receiver& rx) override;
  void BlockFinished(const Receiver& rx) override;
  // Runs after each block's read-outs (another decoder puts its own over them).
  void SetAfterBlock(std::function<void()> after) { afterBlock_ = std::move(after); }

 private:
  void ShowModeButtons(ReceiveMode mode);
  void TuningOff();
  void TransmitPaneForMode();
  void PlaceSpectrumBox();
  void ReceiveSpeedChosen(ReceiveSpeed speed, QAction* item);
  void ThresholdChosen(ThresholdMode mode, QAction* item);
  void CoarseGainChosen(int which);
  void SetFontSize(int size, QAction* item);
  void SetBold(bool bold, QAction* item);

  ReceiveParts parts_;
  std::function<void()> loadSettings_;
  std::unique_ptr<ReceiveController> controller_;
  PaneStyle style_;
  int spectrumHeightRef_ = 0;
  std::function<void()> afterBlock_;
};

}  // namespace kestrix::shell
