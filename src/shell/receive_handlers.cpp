// The window's receive-side handlers: run control, the three operating modes, CLEAR,
// tuning and AFC, gain, threshold, noise filter, receive speed, the option buttons, the
// input choice and the display type; and the receiver's per-block read-outs.
#include <QSignalBlocker>

#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "shell/afc_start_dialog.h"
#include "shell/keying_panel.h"
#include "shell/layout.h"
#include "shell/main_window.h"
#include "shell/sound_card_dialog.h"
#include "shell/ui_helpers.h"
#include "shell/window_keyers.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
// The receive-speed button's capture rate (Hz); used from the next opening of capture.
constexpr uint32_t kFilterButtonRate = 22050;
// The spectrum box as the mode handlers place it (pixels); wider than the image panel,
// which clips it.
constexpr int kModeSpectrumWidth = 521;
}  // namespace

// --- Run control --------------------------------------------------------------------------

void MainWindow::StartButtonClick() {
  loop_->StartButtonClick();
}
void MainWindow::StopButtonClick() {
  loop_->StopButtonClick();
}
void MainWindow::SystemTimerTimer() {
  loop_->SystemTimerTimer();
}
void MainWindow::TimeoutTimerTimer() {
  loop_->TimeoutTimerTimer();
}

void MainWindow::ShowStarted(ReceiveMode mode) {
  ShowModeButtons(mode);
  SetCaption(rp_.StartButton, "START", kBlue);
  SetCaption(rp_.StopButton, "STOP", kBlue);
}

void MainWindow::StartValuesApplied() {
  RetuneToTone();
}

void MainWindow::RetuneToTone() {
  if (options_.tunePosition > 0) SpectrumBoxMouseDown(options_.tunePosition);
}

void MainWindow::ClearDisplayBitmaps() {
  rp_.SpectrumBox->ClearForStart(displayHeight_);
}

void MainWindow::ClearSpectrumBitmap(int width) {
  // The MANUAL frame clears its own (wider) area as it draws.
  if (width == kTextBitmapWidth) rp_.SpectrumBox->ClearTextFrame(displayHeight_);
}

void MainWindow::ShowStopped() {
  SetCaption(rp_.StartButton, "START", kBlack);
  SetCaption(rp_.StopButton, "STOP", kRed);
  SetCaption(rp_.ManualButton, "MANUAL", kBlue);
  SetCaption(rp_.TextButton, "TEXT", kBlue);
  SetCaption(tp_.XmitButton, tp_.XmitButton->text(), kBlue);
}

void MainWindow::StopTransmit() {
  // Sends end at their next character; the key goes up now (Tune keeps its flag and
  // caption).
  txc_->StopSending();
  tx_.KeyState = 0;
  keying_->ReleaseLine();
}

void MainWindow::InputChannelChecked(ChannelMode mode) {
  switch (mode) {
    case ChannelMode::kMic:
      menu_.MicInput->setChecked(true);
      break;
    case ChannelMode::kLeft:
      menu_.LeftInput->setChecked(true);
      break;
    case ChannelMode::kRight:
      menu_.RightInput->setChecked(true);
      break;
  }
}

void MainWindow::MicInputClick() {
  loop_->MicInputClick();
}
void MainWindow::LeftInputClick() {
  loop_->LeftInputClick();
}
void MainWindow::RightInputClick() {
  loop_->RightInputClick();
}
void MainWindow::SelectSoundCardClick() {
  soundCardDialog_->SelectSoundCardClick();
}

// --- Operating modes ---------------------------------------------------------------------------

void MainWindow::ShowModeButtons(ReceiveMode mode) {
  SetCaption(rp_.ScanButton, "SCAN", mode == ReceiveMode::kScan ? kRed : kBlue);
  SetCaption(rp_.TextButton, "TEXT", mode == ReceiveMode::kText ? kRed : kBlue);
  SetCaption(rp_.ManualButton, "MANUAL", mode == ReceiveMode::kManual ? kRed : kBlue);
}

void MainWindow::TuningOff() {
  SetCaption(tp_.TuneButton, "OFF", kBlack);
  tx_.TuneActive = 0;
  tx_.KeyState = 0;
}

void MainWindow::TransmitPaneForMode() {
  if (tx_.XmitEnable != 3) return;
  SetCaption(tp_.XmitButton, "ON", kRed);
  tp_.Memo1->setReadOnly(false);
  tp_.Memo1->setFocus();
}

void MainWindow::RestartSystemTimerIfIdle() {
  if (!loop_->Running()) systemTimer_->start();
}

void MainWindow::PlaceSpectrumBox() {
  rp_.SpectrumBox->setGeometry(kSpectrumLeft, 0, kModeSpectrumWidth, SpectrumHeightRef - 1);
  rp_.SpectrumBox->show();
  rp_.Image1->hide();
}

void MainWindow::ScanButtonClick() {
  if (rx_->Mode == ReceiveMode::kScan && !ForceModeSetup) return;
  ForceModeSetup = 0;
  rx_->Mode = ReceiveMode::kScan;
  displayHeight_ = kDisplayHeightScan;
  ShowModeButtons(ReceiveMode::kScan);
  SetCaption(tp_.XmitButton, "OFF", kBlue);
  TuningOff();
  tp_.Memo1->setReadOnly(true);
  rp_.Image1->setGeometry(kImage1);
  rp_.Image1->show();
  rp_.Image1->raise();
  rp_.SpectrumBox->hide();
  rp_.Memo2->hide();
  rp_.TextPanel->hide();
  rp_.ThresholdBar2->hide();
  rp_.FrequencyBar->hide();
  SetPanel(rp_.LearnPanel, "NONE", kBlack, kSilver);
  RestartSystemTimerIfIdle();
}

void MainWindow::TextButtonClick() {
  TextMode(kDisplayHeightButton);
}
void MainWindow::Text2Click() {
  TextMode(kDisplayHeightMenu);
}
void MainWindow::ManualButtonClick() {
  ManualMode(kDisplayHeightButton);
}
void MainWindow::Manual2Click() {
  ManualMode(kDisplayHeightMenu);
}

void MainWindow::TextMode(int height) {
  // Choosing the active mode again keeps everything (the received text included), except
  // right after a settings load.
  if (rx_->Mode == ReceiveMode::kText && !ForceModeSetup) return;
  ForceModeSetup = 0;
  displayHeight_ = height;
  ShowModeButtons(ReceiveMode::kText);
  TuningOff();
  PlaceSpectrumBox();
  TransmitPaneForMode();
  rp_.ThresholdBar2->show();
  rp_.FrequencyBar->show();
  rp_.TextPanel->hide();
  rp_.TextPanel->setEnabled(false);
  rp_.TextPanel->setReadOnly(true);
  rp_.TextPanel->clear();
  rp_.Memo2->setEnabled(true);
  rp_.Memo2->clear();
  rp_.Memo2->show();
  // Mode and CLEAR: panes emptied, decoder reset.
  rx_->TextModeSetup();
  AfterClear();
  // RestartLearning runs once more at Timer1's next tick.
  StatsResetPending = 1;
  timer1_->start();
  RestartSystemTimerIfIdle();
}

void MainWindow::ManualMode(int height) {
  if (rx_->Mode == ReceiveMode::kManual && !ForceModeSetup) return;
  ForceModeSetup = 0;
  rx_->Mode = ReceiveMode::kManual;
  displayHeight_ = height;
  ShowModeButtons(ReceiveMode::kManual);
  TuningOff();
  TransmitPaneForMode();
  rp_.Memo2->hide();
  rp_.Memo2->setEnabled(false);
  rp_.ThresholdBar2->show();
  rp_.FrequencyBar->show();
  rp_.TextPanel->show();
  rp_.TextPanel->setEnabled(true);
  rp_.TextPanel->clear();
  rp_.TextPanel->setReadOnly(false);
  rp_.TextPanel->setFocus();
  rp_.TextPanel->moveCursor(QTextCursor::End);
  PlaceSpectrumBox();
  RestartSystemTimerIfIdle();
}

// --- CLEAR ------------------------------------------------------------------------------------

void MainWindow::ClearButtonClick() {
  rx_->Clear();
  AfterClear();
}

void MainWindow::AfterClear() {
  if (rx_->Mode == ReceiveMode::kManual) {
    rp_.TextPanel->clear();
    rp_.TextPanel->setFocus();
  }
  tp_.Memo1->setFocus();
}

void MainWindow::FocusTextPane() {
  if (tx_.SendingState != 0) {
    tp_.Memo1->setFocus();
  } else {
    rp_.Memo2->setFocus();
  }
}

// --- Tuning and AFC ------------------------------------------------------------------------------

void MainWindow::FrequencyBarChange() {
  rx_->SetFrequencyBar(rp_.FrequencyBar->value());
}

void MainWindow::SpectrumBoxMouseDown(int x) {
  const bool locked = rx_->Options.LockWpmOn;
  rx_->SpectrumClick(x);
  // The bare number until the next frame writes it with its unit.
  rp_.MkrLabel->setText(QString::number(rx_->Tone.MarkerHz));
  if (locked) SetLockWpmCaption();
}

void MainWindow::FrequencyBarMoved(int position) {
  const QSignalBlocker quiet(rp_.FrequencyBar);
  rp_.FrequencyBar->setValue(position);
}

void MainWindow::Off1Click() {
  menu_.Off1->setChecked(true);
  rx_->SetAfcMode(AfcMode::kOff);
}
void MainWindow::Narrow1Click() {
  menu_.Narrow1->setChecked(true);
  rx_->SetAfcMode(AfcMode::kNarrow);
}
void MainWindow::Medium1Click() {
  menu_.Medium1->setChecked(true);
  rx_->SetAfcMode(AfcMode::kMedium);
}
void MainWindow::Wide1Click() {
  menu_.Wide1->setChecked(true);
  rx_->SetAfcMode(AfcMode::kWide);
}

void MainWindow::AFCStartFreqClick() {
  afcDialog_->show();
  afcDialog_->raise();
}
void MainWindow::AFCStartBtnClick() {
  afcDialog_->AFCStartBtn()->click();
}
void MainWindow::AFCStartCancelBtnClick() {
  afcDialog_->AFCStartCancelBtn()->click();
}

// --- Gain ----------------------------------------------------------------------------------------

void MainWindow::SignalGainBarChange() {
  rx_->Gain.SetSignalGainPosition(rp_.SignalGainBar->value());
  FocusTextPane();
}

void MainWindow::CoarseGainTrackBarChange() {
  rx_->Gain.SetCoarseTrackPosition(rp_.CoarseGainTrackBar->value());
  FocusTextPane();
}

void MainWindow::Rx10BtnClick() {
  rp_.Rx10Btn->setChecked(true);
  rx_->Gain.SetCoarseButton(CoarseGain::k10x);
  FocusTextPane();
}
void MainWindow::Rx1BtnClick() {
  rp_.Rx1Btn->setChecked(true);
  rx_->Gain.SetCoarseButton(CoarseGain::k1x);
  FocusTextPane();
}
void MainWindow::Rx01BtnClick() {
  rp_.Rx01Btn->setChecked(true);
  rx_->Gain.SetCoarseButton(CoarseGain::kX01);
  FocusTextPane();
}
void MainWindow::Rx001BtnClick() {
  rp_.Rx001Btn->setChecked(true);
  rx_->Gain.SetCoarseButton(CoarseGain::kX001);
  FocusTextPane();
}

// --- Threshold and noise filter ------------------------------------------------------------------

void MainWindow::ThresholdChosen(ThresholdMode mode, QAction* item) {
  item->setChecked(true);
  rx_->SetThresholdMode(mode);
  if (mode == ThresholdMode::kManual) ThresholdBar2Change();
  AfterClear();
}

void MainWindow::Quiet1Click() {
  ThresholdChosen(ThresholdMode::kQuiet, menu_.Quiet1);
}
void MainWindow::Normal2Click() {
  ThresholdChosen(ThresholdMode::kNormal, menu_.Normal2);
}
void MainWindow::Noisy2Click() {
  ThresholdChosen(ThresholdMode::kNoisy, menu_.Noisy2);
}
void MainWindow::Auto4Click() {
  ThresholdChosen(ThresholdMode::kAuto, menu_.Auto4);
}
void MainWindow::Manual3Click() {
  ThresholdChosen(ThresholdMode::kManual, menu_.Manual3);
}

void MainWindow::ThresholdBar2Change() {
  rx_->SetThresholdBar2(rp_.ThresholdBar2->value());
  RedrawThresholdLine();
}
void MainWindow::ThresholdBarChange() {
  rx_->ThresholdBarChange();
  RedrawThresholdLine();
}

// The manual threshold line follows the bar at once, also while reception is stopped: the
// last line graph is drawn again from the spectrum it showed, with the line where every
// frame puts it. A waterfall has no line, and a new row must come only from a new block.
void MainWindow::RedrawThresholdLine() {
  if (rx_->Options.Threshold != ThresholdMode::kManual) return;
  const bool lineGraph = rx_->Mode == ReceiveMode::kManual ||
                         (rx_->Mode == ReceiveMode::kText && rx_->Display == DisplayType::kLine);
  if (lineGraph) SpectrumFrame(*rx_);
}

void MainWindow::FilterOn1Click() {
  menu_.FilterOn1->setChecked(true);
  rx_->SetNoiseFilter(true);
  AfterClear();
}

void MainWindow::FilterOff1Click() {
  menu_.FilterOff1->setChecked(true);
  rx_->SetNoiseFilter(false);
  AfterClear();
}

// --- Receive speed -------------------------------------------------------------------------------

void MainWindow::ReceiveSpeedChosen(ReceiveSpeed speed, QAction* item) {
  item->setChecked(true);
  const bool stopped = loop_->ReceiveStop.load(kRelaxed) != 0;
  rx_->SetReceiveSpeed(speed, stopped);
  if (!stopped) AfterClear();
}

void MainWindow::Auto3Click() {
  ReceiveSpeedChosen(ReceiveSpeed::kAuto, menu_.Auto3);
}
void MainWindow::N25WPM1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k10, menu_.N25WPM1);
}
void MainWindow::N35wpm1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k20, menu_.N35wpm1);
}
void MainWindow::N50wpm1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k30, menu_.N50wpm1);
}
void MainWindow::N50wpm2Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k50Plus, menu_.N50wpm2);
}

void MainWindow::FilterButtonClick() {
  // Steps 1 -> 2 -> 3 -> 4 -> 1; the 50+ preset (5) first drops to 4, so it lands on Auto.
  int value = static_cast<int>(rx_->Options.Speed);
  if (value == 5) value = 4;
  QString caption = "Auto";
  QColor colour = kRed;
  switch (value) {
    case 1:
      value = 2;
      caption = "25 wpm";
      colour = kBlue;
      break;
    case 2:
      value = 3;
      caption = "35 wpm";
      colour = kBlue;
      break;
    case 3:
      value = 4;
      caption = "50 wpm";
      colour = kBlue;
      break;
    default:
      value = 1;
      break;
  }
  SetCaption(rp_.FilterButton, caption, colour);
  rx_->Capture.SetRate(kFilterButtonRate);
  const bool stopped = loop_->ReceiveStop.load(kRelaxed) != 0;
  rx_->SetReceiveSpeed(static_cast<ReceiveSpeed>(value), stopped);
  if (!stopped) AfterClear();
}

// --- Option buttons ------------------------------------------------------------------------------

void MainWindow::SquelchBtnClick() {
  ReceiveOptions& o = rx_->Options;
  o.SquelchOn = !o.SquelchOn;
  SetCaption(rp_.SquelchBtn, o.SquelchOn ? "ON" : "OFF", o.SquelchOn ? kRed : kBlue);
  FocusTextPane();
}

void MainWindow::LockWpmBtnClick() {
  rx_->SetLockWpm(!rx_->Options.LockWpmOn);
  SetLockWpmCaption();
  FocusTextPane();
}

void MainWindow::SetLockWpmCaption() {
  const bool on = rx_->Options.LockWpmOn;
  SetCaption(rp_.LockWpmBtn, on ? "ON" : "OFF", on ? kRed : kBlue);
}

void MainWindow::BlankBtnClick() {
  ReceiveOptions& o = rx_->Options;
  o.BlankingOn = !o.BlankingOn;
  SetCaption(rp_.BlankBtn, o.BlankingOn ? "ON" : "OFF", o.BlankingOn ? kRed : kBlue);
  FocusTextPane();
}

void MainWindow::Fade_OnClick() {
  menu_.Fade_On->setChecked(true);
  rx_->Options.FadeControlOn = true;
}

void MainWindow::Fade_OffClick() {
  menu_.Fade_Off->setChecked(true);
  rx_->Options.FadeControlOn = false;
}

// --- Display
// ---------------------------------------------------------------------------------------

void MainWindow::Spectrum1Click() {
  rp_.SpectrumBox->ClearLineBlack(displayHeight_);
  rx_->SetDisplayType(DisplayType::kLine);
  menu_.Spectrum1->setChecked(true);
}

void MainWindow::Waterfall2Click() {
  rp_.SpectrumBox->ClearLineBlack(displayHeight_);
  rx_->SetDisplayType(DisplayType::kWaterfall);
  menu_.Waterfall2->setChecked(true);
}

void MainWindow::Enable3Click() {
  timeline_->Enable();
}

// --- What the receiver shows
// ------------------------------------------------------------------------

void MainWindow::PeakFrequencyShown(int hz) {
  sp_.FreqDisplay->setText(QString::number(hz));
}

void MainWindow::SpectrumFrame(const Receiver& rx) {
  if (rx.Mode == ReceiveMode::kText) {
    rp_.SpectrumBox->DrawTextFrame(rx, displayHeight_);
  } else if (rx.Mode == ReceiveMode::kManual) {
    rp_.SpectrumBox->DrawManualFrame(rx, displayHeight_);
  }
}

void MainWindow::SquelchMeasured(int ratio) {
  sp_.RawSNR_Label->setText(QString::number(ratio));
}

void MainWindow::LevelsUpdated(const Receiver& rx) {
  sp_.ShowLevels(rx);
  rp_.SignalBar->SetInputLevel(rx.InputLevel);
}

void MainWindow::LearnStateShown(bool learning) {
  const QString text = learning ? "LEARN" : "DONE";
  if (rp_.LearnPanel->text() == text) return;
  SetPanel(rp_.LearnPanel, text, kYellow, learning ? kRed : kGreen);
}

void MainWindow::TimelineBlock(const Receiver& rx) {
  timeline_->AddBlock(rx);
}

void MainWindow::BlockFinished(const Receiver& rx) {
  sp_.ShowBlockCounters(rx);
}

}  // namespace kestrix::shell
