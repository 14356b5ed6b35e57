#include "shell/receive_side.h"

#include <QSignalBlocker>
#include <QTimer>

#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "shell/afc_start_dialog.h"
#include "shell/layout.h"
#include "shell/sound_card_dialog.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {

namespace {
// The spectrum box as the mode handlers place it (pixels); wider than the image panel,
// which clips it.
constexpr int kModeSpectrumWidth = 521;
}  // namespace

ReceiveSide::ReceiveSide(const ReceiveParts& parts, std::function<void()> loadSettings,
                         QObject* parent)
    : QObject(parent),
      parts_(parts),
      loadSettings_(std::move(loadSettings)),
      controller_(std::make_unique<ReceiveController>(parts.rx, parts.loop, *this)) {
  parts_.rx.SetSink(this);
}

ReceiveSide::~ReceiveSide() {
  parts_.rx.SetSink(nullptr);
}

void ReceiveSide::MeasureLayout() {
  ReceivePanel& rp = parts_.rp;
  spectrumHeightRef_ = rp.FrequencyBar->geometry().top() - rp.Image1->geometry().top();
  const int textPanelHeight = rp.TextPanel->height();
  rp.TextPanel->move(rp.TextPanel->x(), rp.SplitPanel->geometry().top() - textPanelHeight);
}

void ReceiveSide::Connect() {
  const ReceivePanel& rp = parts_.rp;
  connect(rp.StartButton, &QPushButton::clicked, this, &ReceiveSide::StartButtonClick);
  connect(rp.StopButton, &QPushButton::clicked, this, &ReceiveSide::StopButtonClick);
  connect(rp.TextButton, &QPushButton::clicked, this, &ReceiveSide::TextButtonClick);
  connect(rp.ScanButton, &QPushButton::clicked, this, &ReceiveSide::ScanButtonClick);
  connect(rp.ManualButton, &QPushButton::clicked, this, &ReceiveSide::ManualButtonClick);
  connect(rp.ClearButton, &QPushButton::clicked, this, &ReceiveSide::ClearButtonClick);
  connect(rp.FrequencyBar, &QScrollBar::valueChanged, this, &ReceiveSide::FrequencyBarChange);
  connect(rp.SpectrumBox, &SpectrumDisplay::mouseDown, this, &ReceiveSide::SpectrumBoxMouseDown);
  connect(rp.SpectrumBox, &SpectrumDisplay::markerTextChanged, rp.MkrLabel, &QLineEdit::setText);
  connect(rp.SignalGainBar, &QSlider::valueChanged, this, &ReceiveSide::SignalGainBarChange);
  connect(rp.CoarseGainTrackBar, &QSlider::valueChanged, this,
          &ReceiveSide::CoarseGainTrackBarChange);
  connect(rp.Rx10Btn, &QRadioButton::clicked, this, &ReceiveSide::Rx10BtnClick);
  connect(rp.Rx1Btn, &QRadioButton::clicked, this, &ReceiveSide::Rx1BtnClick);
  connect(rp.Rx01Btn, &QRadioButton::clicked, this, &ReceiveSide::Rx01BtnClick);
  connect(rp.Rx001Btn, &QRadioButton::clicked, this, &ReceiveSide::Rx001BtnClick);
  connect(rp.ThresholdBar2, &QScrollBar::valueChanged, this, &ReceiveSide::ThresholdBar2Change);
  connect(rp.ThresholdBar, &QScrollBar::valueChanged, this, &ReceiveSide::ThresholdBarChange);
  connect(rp.FilterButton, &QPushButton::clicked, this, &ReceiveSide::FilterButtonClick);
  connect(rp.RunOnButton, &QPushButton::clicked, this, &ReceiveSide::RunOnButtonClick);
  connect(rp.SpaceButton, &QPushButton::clicked, this, &ReceiveSide::SpaceButtonClick);
  connect(rp.TxtScrollBtn, &QPushButton::clicked, this, &ReceiveSide::TxtScrollBtnClick);
  connect(rp.BlankBtn, &QPushButton::clicked, this, &ReceiveSide::BlankBtnClick);
  connect(rp.SquelchBtn, &QPushButton::clicked, this, &ReceiveSide::SquelchBtnClick);
  connect(rp.LockWpmBtn, &QPushButton::clicked, this, &ReceiveSide::LockWpmBtnClick);
  connect(&parts_.afcDialog, &AfcStartDialog::frequencySet, this,
          [this](int hz) { parts_.rx.Tone.AfcStartFrequency = hz; });

  const MainMenu& m = parts_.menu;
  auto on = [this](QAction* item, void (ReceiveSide::*handler)()) {
    connect(item, &QAction::triggered, this, [this, handler] { (this->*handler)(); });
  };
  on(m.SelectSoundCard, &ReceiveSide::SelectSoundCardClick);
  on(m.MicInput, &ReceiveSide::MicInputClick);
  on(m.RightInput, &ReceiveSide::RightInputClick);
  on(m.LeftInput, &ReceiveSide::LeftInputClick);
  on(m.Fade_On, &ReceiveSide::Fade_OnClick);
  on(m.Fade_Off, &ReceiveSide::Fade_OffClick);
  on(m.MsgsON, &ReceiveSide::MsgsONClick);
  on(m.MsgsOFF, &ReceiveSide::MsgsOFFClick);
  on(m.Text2, &ReceiveSide::Text2Click);
  on(m.Manual2, &ReceiveSide::Manual2Click);
  on(m.Quiet1, &ReceiveSide::Quiet1Click);
  on(m.Normal2, &ReceiveSide::Normal2Click);
  on(m.Noisy2, &ReceiveSide::Noisy2Click);
  on(m.Auto4, &ReceiveSide::Auto4Click);
  on(m.Manual3, &ReceiveSide::Manual3Click);
  on(m.FilterOn1, &ReceiveSide::FilterOn1Click);
  on(m.FilterOff1, &ReceiveSide::FilterOff1Click);
  on(m.Auto3, &ReceiveSide::Auto3Click);
  on(m.N25WPM1, &ReceiveSide::N25WPM1Click);
  on(m.N35wpm1, &ReceiveSide::N35wpm1Click);
  on(m.N50wpm1, &ReceiveSide::N50wpm1Click);
  on(m.N50wpm2, &ReceiveSide::N50wpm2Click);
  on(m.Off1, &ReceiveSide::Off1Click);
  on(m.Narrow1, &ReceiveSide::Narrow1Click);
  on(m.Medium1, &ReceiveSide::Medium1Click);
  on(m.Wide1, &ReceiveSide::Wide1Click);
  on(m.AFCStartFreq, &ReceiveSide::AFCStartFreqClick);
  on(m.Upper1, &ReceiveSide::Upper1Click);
  on(m.Lower1, &ReceiveSide::Lower1Click);
  on(m.Normal1, &ReceiveSide::Normal1Click);
  on(m.Bold1, &ReceiveSide::Bold1Click);
  on(m.SmallFont1, &ReceiveSide::SmallFont1Click);
  on(m.NormalFont1, &ReceiveSide::NormalFont1Click);
  on(m.MediumFont1, &ReceiveSide::MediumFont1Click);
  on(m.LargeFont1, &ReceiveSide::LargeFont1Click);
  on(m.ScrollingOn1, &ReceiveSide::ScrollingOn1Click);
  on(m.ScrollingOff1, &ReceiveSide::ScrollingOff1Click);
  on(m.SpacesOn, &ReceiveSide::SpacesOnClick);
  on(m.SpacesOff, &ReceiveSide::SpacesOffClick);
  on(m.Short1, &ReceiveSide::Short1Click);
  on(m.Medium2, &ReceiveSide::Medium2Click);
  on(m.Long1, &ReceiveSide::Long1Click);
  on(m.ProsignEnable, &ReceiveSide::ProsignEnableClick);
  on(m.ProsignDisable, &ReceiveSide::ProsignDisableClick);
  on(m.EnableEnglish, &ReceiveSide::EnableEnglishClick);
  on(m.DisableEnglish, &ReceiveSide::DisableEnglishClick);
  on(m.Spectrum1, &ReceiveSide::Spectrum1Click);
  on(m.Waterfall2, &ReceiveSide::Waterfall2Click);
  on(m.Enable3, &ReceiveSide::Enable3Click);
}

// --- Run control --------------------------------------------------------------------------

void ReceiveSide::ShowStarted(ReceiveMode mode) {
  ShowModeButtons(mode);
  SetCaption(parts_.rp.StartButton, "START", kBlue);
  SetCaption(parts_.rp.StopButton, "STOP", kBlue);
}

void ReceiveSide::ClearDisplayBitmaps() {
  parts_.rp.SpectrumBox->ClearForStart(DisplayHeight());
}

void ReceiveSide::ClearSpectrumBitmap(int width) {
  // The MANUAL frame clears its own (wider) area as it draws.
  if (width == kTextBitmapWidth) parts_.rp.SpectrumBox->ClearTextFrame(DisplayHeight());
}

void ReceiveSide::ShowStopped() {
  const ReceivePanel& rp = parts_.rp;
  SetCaption(rp.StartButton, "START", kBlack);
  SetCaption(rp.StopButton, "STOP", kRed);
  SetCaption(rp.ManualButton, "MANUAL", kBlue);
  SetCaption(rp.TextButton, "TEXT", kBlue);
  SetCaption(parts_.tp.XmitButton, parts_.tp.XmitButton->text(), kBlue);
}

void ReceiveSide::InputChannelChecked(ChannelMode mode) {
  switch (mode) {
    case ChannelMode::kMic:
      parts_.menu.MicInput->setChecked(true);
      break;
    case ChannelMode::kLeft:
      parts_.menu.LeftInput->setChecked(true);
      break;
    case ChannelMode::kRight:
      parts_.menu.RightInput->setChecked(true);
      break;
  }
}

void ReceiveSide::SelectSoundCardClick() {
  parts_.soundCardDialog.SelectSoundCardClick();
}

// --- The modes as the window shows them ---------------------------------------------------

void ReceiveSide::ShowModeButtons(ReceiveMode mode) {
  const ReceivePanel& rp = parts_.rp;
  SetCaption(rp.ScanButton, "SCAN", mode == ReceiveMode::kScan ? kRed : kBlue);
  SetCaption(rp.TextButton, "TEXT", mode == ReceiveMode::kText ? kRed : kBlue);
  SetCaption(rp.ManualButton, "MANUAL", mode == ReceiveMode::kManual ? kRed : kBlue);
}

void ReceiveSide::TuningOff() {
  SetCaption(parts_.tp.TuneButton, "OFF", kBlack);
  parts_.tx.TuneActive = 0;
  parts_.tx.KeyState = 0;
}

void ReceiveSide::TransmitPaneForMode() {
  if (parts_.tx.XmitEnable != 3) return;
  SetCaption(parts_.tp.XmitButton, "ON", kRed);
  parts_.tp.Memo1->setReadOnly(false);
  parts_.tp.Memo1->setFocus();
}

void ReceiveSide::PlaceSpectrumBox() {
  const ReceivePanel& rp = parts_.rp;
  rp.SpectrumBox->setGeometry(kSpectrumLeft, 0, kModeSpectrumWidth, spectrumHeightRef_ - 1);
  rp.SpectrumBox->show();
  rp.Image1->hide();
}

void ReceiveSide::ShowScanMode() {
  const ReceivePanel& rp = parts_.rp;
  ShowModeButtons(ReceiveMode::kScan);
  SetCaption(parts_.tp.XmitButton, "OFF", kBlue);
  TuningOff();
  parts_.tp.Memo1->setReadOnly(true);
  rp.Image1->setGeometry(kImage1);
  rp.Image1->show();
  rp.Image1->raise();
  rp.SpectrumBox->hide();
  rp.Memo2->hide();
  rp.TextPanel->hide();
  rp.ThresholdBar2->hide();
  rp.FrequencyBar->hide();
  SetPanel(rp.LearnPanel, "NONE", kBlack, kSilver);
}

void ReceiveSide::ShowTextMode() {
  const ReceivePanel& rp = parts_.rp;
  ShowModeButtons(ReceiveMode::kText);
  TuningOff();
  PlaceSpectrumBox();
  TransmitPaneForMode();
  rp.ThresholdBar2->show();
  rp.FrequencyBar->show();
  rp.TextPanel->hide();
  rp.TextPanel->setEnabled(false);
  rp.TextPanel->setReadOnly(true);
  rp.TextPanel->clear();
  rp.Memo2->setEnabled(true);
  rp.Memo2->clear();
  rp.Memo2->show();
}

void ReceiveSide::ShowManualMode() {
  const ReceivePanel& rp = parts_.rp;
  ShowModeButtons(ReceiveMode::kManual);
  TuningOff();
  TransmitPaneForMode();
  rp.Memo2->hide();
  rp.Memo2->setEnabled(false);
  rp.ThresholdBar2->show();
  rp.FrequencyBar->show();
  rp.TextPanel->show();
  rp.TextPanel->setEnabled(true);
  rp.TextPanel->clear();
  rp.TextPanel->setReadOnly(false);
  rp.TextPanel->setFocus();
  rp.TextPanel->moveCursor(QTextCursor::End);
  PlaceSpectrumBox();
}

void ReceiveSide::AfterClear() {
  if (parts_.rx.Mode == ReceiveMode::kManual) {
    parts_.rp.TextPanel->clear();
    parts_.rp.TextPanel->setFocus();
  }
  parts_.tp.Memo1->setFocus();
}

void ReceiveSide::FocusTextPane() {
  if (parts_.tx.SendingState != 0) {
    parts_.tp.Memo1->setFocus();
  } else {
    parts_.rp.Memo2->setFocus();
  }
}

void ReceiveSide::ArmStartupTick() {
  parts_.startupTimer.start();
}

void ReceiveSide::ArmAutoStart() {
  parts_.autoStartTimer.start();
}

void ReceiveSide::ShowSpeedButton(const char* caption, bool automatic) {
  SetCaption(parts_.rp.FilterButton, caption, automatic ? kRed : kBlue);
}

void ReceiveSide::ShowToggle(ReceiveToggle which, bool on) {
  const ReceivePanel& rp = parts_.rp;
  QPushButton* button = rp.SquelchBtn;
  QColor off = kBlue;
  switch (which) {
    case ReceiveToggle::kSquelch:
      break;
    case ReceiveToggle::kBlanking:
      button = rp.BlankBtn;
      break;
    case ReceiveToggle::kLockWpm:
      button = rp.LockWpmBtn;
      break;
    case ReceiveToggle::kTextOutput:
      button = rp.TxtScrollBtn;
      break;
    case ReceiveToggle::kWordSpaces:
      button = rp.SpaceButton;
      off = kBlack;
      break;
  }
  SetCaption(button, on ? "ON" : "OFF", on ? kRed : off);
}

void ReceiveSide::ShowSpaceTime(SpaceTime spacing) {
  switch (spacing) {
    case SpaceTime::kShort:
      SetCaption(parts_.rp.RunOnButton, "SHORT", kBlue);
      break;
    case SpaceTime::kMedium:
      SetCaption(parts_.rp.RunOnButton, "MEDIUM", kRed);
      break;
    case SpaceTime::kLong:
      SetCaption(parts_.rp.RunOnButton, "LONG", kBlue);
      break;
  }
}

void ReceiveSide::ShowMarker(int hz) {
  parts_.rp.MkrLabel->setText(QString::number(hz));
}

// --- Tuning and AFC ------------------------------------------------------------------------

void ReceiveSide::FrequencyBarChange() {
  parts_.rx.SetFrequencyBar(parts_.rp.FrequencyBar->value());
}

void ReceiveSide::Off1Click() {
  parts_.menu.Off1->setChecked(true);
  parts_.rx.SetAfcMode(AfcMode::kOff);
}
void ReceiveSide::Narrow1Click() {
  parts_.menu.Narrow1->setChecked(true);
  parts_.rx.SetAfcMode(AfcMode::kNarrow);
}
void ReceiveSide::Medium1Click() {
  parts_.menu.Medium1->setChecked(true);
  parts_.rx.SetAfcMode(AfcMode::kMedium);
}
void ReceiveSide::Wide1Click() {
  parts_.menu.Wide1->setChecked(true);
  parts_.rx.SetAfcMode(AfcMode::kWide);
}

void ReceiveSide::AFCStartFreqClick() {
  parts_.afcDialog.show();
  parts_.afcDialog.raise();
}
void ReceiveSide::AFCStartBtnClick() {
  parts_.afcDialog.AFCStartBtn()->click();
}
void ReceiveSide::AFCStartCancelBtnClick() {
  parts_.afcDialog.AFCStartCancelBtn()->click();
}

// --- Gain ----------------------------------------------------------------------------------

void ReceiveSide::SignalGainBarChange() {
  parts_.rx.Gain.SetSignalGainPosition(parts_.rp.SignalGainBar->value());
  FocusTextPane();
}

void ReceiveSide::CoarseGainTrackBarChange() {
  parts_.rx.Gain.SetCoarseTrackPosition(parts_.rp.CoarseGainTrackBar->value());
  FocusTextPane();
}

void ReceiveSide::CoarseGainChosen(int which) {
  const ReceivePanel& rp = parts_.rp;
  QRadioButton* buttons[] = {rp.Rx01Btn, rp.Rx1Btn, rp.Rx10Btn, rp.Rx001Btn};
  buttons[which - 1]->setChecked(true);
  parts_.rx.Gain.SetCoarseButton(static_cast<CoarseGain>(which));
  FocusTextPane();
}

void ReceiveSide::Rx10BtnClick() {
  CoarseGainChosen(static_cast<int>(CoarseGain::k10x));
}
void ReceiveSide::Rx1BtnClick() {
  CoarseGainChosen(static_cast<int>(CoarseGain::k1x));
}
void ReceiveSide::Rx01BtnClick() {
  CoarseGainChosen(static_cast<int>(CoarseGain::kX01));
}
void ReceiveSide::Rx001BtnClick() {
  CoarseGainChosen(static_cast<int>(CoarseGain::kX001));
}

// --- Threshold and noise filter ----------------------------------------------------------

void ReceiveSide::ThresholdChosen(ThresholdMode mode, QAction* item) {
  item->setChecked(true);
  controller_->ChooseThreshold(mode, parts_.rp.ThresholdBar2->value());
}

void ReceiveSide::Quiet1Click() {
  ThresholdChosen(ThresholdMode::kQuiet, parts_.menu.Quiet1);
}
void ReceiveSide::Normal2Click() {
  ThresholdChosen(ThresholdMode::kNormal, parts_.menu.Normal2);
}
void ReceiveSide::Noisy2Click() {
  ThresholdChosen(ThresholdMode::kNoisy, parts_.menu.Noisy2);
}
void ReceiveSide::Auto4Click() {
  ThresholdChosen(ThresholdMode::kAuto, parts_.menu.Auto4);
}
void ReceiveSide::Manual3Click() {
  ThresholdChosen(ThresholdMode::kManual, parts_.menu.Manual3);
}

void ReceiveSide::ThresholdBar2Change() {
  controller_->SetManualThreshold(parts_.rp.ThresholdBar2->value());
}

void ReceiveSide::FilterOn1Click() {
  parts_.menu.FilterOn1->setChecked(true);
  controller_->SetNoiseFilter(true);
}

void ReceiveSide::FilterOff1Click() {
  parts_.menu.FilterOff1->setChecked(true);
  controller_->SetNoiseFilter(false);
}

// --- Receive speed -------------------------------------------------------------------------

void ReceiveSide::ReceiveSpeedChosen(ReceiveSpeed speed, QAction* item) {
  item->setChecked(true);
  controller_->ChooseReceiveSpeed(speed);
}

void ReceiveSide::Auto3Click() {
  ReceiveSpeedChosen(ReceiveSpeed::kAuto, parts_.menu.Auto3);
}
void ReceiveSide::N25WPM1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k10, parts_.menu.N25WPM1);
}
void ReceiveSide::N35wpm1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k20, parts_.menu.N35wpm1);
}
void ReceiveSide::N50wpm1Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k30, parts_.menu.N50wpm1);
}
void ReceiveSide::N50wpm2Click() {
  ReceiveSpeedChosen(ReceiveSpeed::k50Plus, parts_.menu.N50wpm2);
}

// --- Options and display -------------------------------------------------------------------

void ReceiveSide::Fade_OnClick() {
  parts_.menu.Fade_On->setChecked(true);
  parts_.rx.Options.FadeControlOn = true;
}

void ReceiveSide::Fade_OffClick() {
  parts_.menu.Fade_Off->setChecked(true);
  parts_.rx.Options.FadeControlOn = false;
}

void ReceiveSide::SetSquelch(bool on) {
  parts_.rx.Options.SquelchOn = on;
  ShowToggle(ReceiveToggle::kSquelch, on);
}

void ReceiveSide::Spectrum1Click() {
  parts_.rp.SpectrumBox->ClearLineBlack(DisplayHeight());
  parts_.rx.SetDisplayType(DisplayType::kLine);
  parts_.menu.Spectrum1->setChecked(true);
}

void ReceiveSide::Waterfall2Click() {
  parts_.rp.SpectrumBox->ClearLineBlack(DisplayHeight());
  parts_.rx.SetDisplayType(DisplayType::kWaterfall);
  parts_.menu.Waterfall2->setChecked(true);
}

void ReceiveSide::Enable3Click() {
  parts_.timeline.Enable();
}

// --- What the receiver shows ---------------------------------------------------------------

void ReceiveSide::PeakFrequencyShown(int hz) {
  parts_.sp.FreqDisplay->setText(QString::number(hz));
}

void ReceiveSide::FrequencyBarMoved(int position) {
  const QSignalBlocker quiet(parts_.rp.FrequencyBar);
  parts_.rp.FrequencyBar->setValue(position);
}

void ReceiveSide::SpectrumFrame(const Receiver& rx) {
  if (rx.Mode == ReceiveMode::kText) {
    parts_.rp.SpectrumBox->DrawTextFrame(rx, DisplayHeight());
  } else if (rx.Mode == ReceiveMode::kManual) {
    parts_.rp.SpectrumBox->DrawManualFrame(rx, DisplayHeight());
  }
}

void ReceiveSide::SquelchMeasured(int ratio) {
  parts_.sp.RawSNR_Label->setText(QString::number(ratio));
}

void ReceiveSide::LevelsUpdated(const Receiver& rx) {
  parts_.sp.ShowLevels(rx);
  parts_.rp.SignalBar->SetInputLevel(rx.InputLevel);
}

void ReceiveSide::LearnStateShown(bool learning) {
  const QString text = learning ? "LEARN" : "DONE";
  if (parts_.rp.LearnPanel->text() == text) return;
  SetPanel(parts_.rp.LearnPanel, text, kYellow, learning ? kRed : kGreen);
}

void ReceiveSide::TimelineBlock(const Receiver& rx) {
  parts_.timeline.AddBlock(rx);
}

void ReceiveSide::BlockFinished(const Receiver& rx) {
  parts_.sp.ShowBlockCounters(rx);
  if (afterBlock_) afterBlock_();
}

}  // namespace kestrix::shell
