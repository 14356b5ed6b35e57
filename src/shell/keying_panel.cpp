#include "shell/keying_panel.h"

#include <QLineEdit>
#include <QMetaObject>
#include <QPushButton>
#include <QSignalBlocker>
#include <QSpinBox>

#include "shell/char_timing_dialog.h"
#include "shell/com_port_dialog.h"
#include "shell/main_window.h"
#include "shell/receive_side.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;
}

KeyingPanel::KeyingPanel(MainWindow& window, platform::KeyDevice* device,
                         std::function<std::vector<platform::SerialPortInfo>()> listPorts)
    : w_(window), tx_(window.Tx()), listPorts_(std::move(listPorts)) {
  if (!listPorts_) listPorts_ = [] { return platform::ListSerialPorts(); };
  auto devices = [this] {
    std::vector<std::string> paths;
    for (const platform::SerialPortInfo& p : listPorts_()) paths.push_back(p.device);
    return paths;
  };
  port_ = std::make_unique<transmit::KeyingPort>(tx_, device ? *device : platform::SystemDevices(),
                                                 *this, devices);

  charTiming_ = new CharTimingDialog(&w_);
  QObject::connect(charTiming_->DotUpDn, &UpDown::clicked, &w_, [this] { DotUpDnClick(); });
  QObject::connect(charTiming_->DashUpDn, &UpDown::clicked, &w_, [this] { DashUpDnClick(); });
  QObject::connect(charTiming_->CharUpDn, &UpDown::clicked, &w_, [this] { CharUpDnClick(); });
  QObject::connect(charTiming_->WordUpDn, &UpDown::clicked, &w_, [this] { WordUpDnClick(); });

  comPort_ = new ComPortDialog(&w_);
  QObject::connect(comPort_->SelectComPortBtn, &QPushButton::clicked, &w_,
                   [this] { SelectComPortBtnClick(); });
  QObject::connect(comPort_->ComPortCancelBtn, &QPushButton::clicked, &w_,
                   [this] { ComPortCancelBtnClick(); });
}

KeyingPanel::~KeyingPanel() {
  port_.reset();  // key up, device closed
}

// --- Tune and speed -------------------------------------------------------------------------

void KeyingPanel::TuneButtonClick() {
  const TransmitPanel& tp = w_.TransmitControls();
  const bool enabled = tx_.XmitEnable.load(kRelaxed) == 3;
  if (tx_.TuneActive.load(kRelaxed) == 1 || !enabled) {
    tx_.TuneActive = 0;
    tx_.KeyState = transmit::kKeyUp;
    port_->SetKeyLine(transmit::kKeyUp);
    SetCaption(tp.TuneButton, "OFF", kBlack);
    if (!enabled) w_.ShowMessage("Error Message", "Xmit Enable must be ON");
  } else {
    tx_.TuneActive = 1;
    tx_.KeyState = transmit::kKeyDown;
    port_->SetKeyLine(transmit::kKeyDown);
    SetCaption(tp.TuneButton, "ON", kRed);
  }
  tp.Memo1->setFocus();
}

void KeyingPanel::Recompute() {
  transmit::ComputeElementTiming(tx_.Timing, tx_.SpeedWpm, tx_.Ratios());
}

void KeyingPanel::SpeedTrackBarChange() {
  const TransmitPanel& tp = w_.TransmitControls();
  const int wpm = tp.SpeedTrackBar->value();
  tx_.SpeedWpm = wpm;
  Recompute();
  w_.Status().CodeLabel->setText(QString::number(wpm));
  tp.XmitSpeedPnl->setText(QString::number(wpm));
  w_.Transmitter().Memo1Click();
}

void KeyingPanel::XmitSpeedUpDnClick() {
  if (tx_.SendingState.load(kRelaxed) != 0) return;
  const TransmitPanel& tp = w_.TransmitControls();
  int wpm = tp.XmitSpeedUpDn->Position();
  if (tx_.OutputDevice == 1 && wpm > kSerialSpeedLimit) {
    wpm = kSerialSpeedLimit;
    tp.XmitSpeedUpDn->SetPosition(wpm);
    w_.ShowMessage("Transmit Speed Error",
                   "Use the sound card output for code speeds greater than 50 wpm!");
  }
  {
    const QSignalBlocker quiet(tp.SpeedTrackBar);
    tp.SpeedTrackBar->setValue(wpm);
  }
  SpeedTrackBarChange();
}

void KeyingPanel::SyncBtnClick(int receiveWpm) {
  const TransmitPanel& tp = w_.TransmitControls();
  {
    // The bar keeps the speed within its 5..100 wpm range.
    const QSignalBlocker quiet(tp.SpeedTrackBar);
    tp.SpeedTrackBar->setValue(receiveWpm);
  }
  SpeedTrackBarChange();
}

// --- Character Timing dialog -------------------------------------------------------------------

void KeyingPanel::CharacterConfigClick() {
  // Opening the dialog changes nothing; a ratio takes effect when its control is clicked.
  charTiming_->show();
  charTiming_->raise();
}

void KeyingPanel::RatioClicked(TimingRatio which) {
  UpDown* upDown = nullptr;
  QLineEdit* memo = nullptr;
  float* ratio = nullptr;
  switch (which) {
    case TimingRatio::kDot:
      upDown = charTiming_->DotUpDn, memo = charTiming_->DotLengthMemo, ratio = &tx_.DotRatio;
      break;
    case TimingRatio::kDash:
      upDown = charTiming_->DashUpDn, memo = charTiming_->DashLengthMemo, ratio = &tx_.DashRatio;
      break;
    case TimingRatio::kChar:
      upDown = charTiming_->CharUpDn, memo = charTiming_->CharSpaceMemo, ratio = &tx_.CharRatio;
      break;
    case TimingRatio::kWord:
      upDown = charTiming_->WordUpDn, memo = charTiming_->WordSpaceMemo, ratio = &tx_.WordRatio;
      break;
  }
  *ratio = static_cast<float>(upDown->Position());
  memo->setText(QString::fromStdString(RatioMemoText(static_cast<float>(upDown->Position()))));
  tx_.SpeedWpm = w_.TransmitControls().SpeedTrackBar->value();
  Recompute();
}

void KeyingPanel::DotUpDnClick() {
  RatioClicked(TimingRatio::kDot);
}
void KeyingPanel::DashUpDnClick() {
  RatioClicked(TimingRatio::kDash);
}
void KeyingPanel::CharUpDnClick() {
  RatioClicked(TimingRatio::kChar);
}
void KeyingPanel::WordUpDnClick() {
  RatioClicked(TimingRatio::kWord);
}

void KeyingPanel::SetTimingRatio(TimingRatio which, float percent, int upDownPosition,
                                 const std::string& memoText) {
  UpDown* upDown = nullptr;
  QLineEdit* memo = nullptr;
  switch (which) {
    case TimingRatio::kDot:
      tx_.DotRatio = percent, upDown = charTiming_->DotUpDn, memo = charTiming_->DotLengthMemo;
      break;
    case TimingRatio::kDash:
      tx_.DashRatio = percent, upDown = charTiming_->DashUpDn, memo = charTiming_->DashLengthMemo;
      break;
    case TimingRatio::kChar:
      tx_.CharRatio = percent, upDown = charTiming_->CharUpDn, memo = charTiming_->CharSpaceMemo;
      break;
    case TimingRatio::kWord:
      tx_.WordRatio = percent, upDown = charTiming_->WordUpDn, memo = charTiming_->WordSpaceMemo;
      break;
  }
  // The up-down takes the truncated value (and clamps it to its range); the box shows the
  // stored value. The timing is recomputed with the ratio now in force.
  upDown->SetPosition(upDownPosition);
  memo->setText(QString::fromStdString(memoText));
  Recompute();
}

// --- Output device, port and polarity ------------------------------------------------------------

void KeyingPanel::SoundCard1Click() {
  w_.Menu().SoundCard1->setChecked(true);
  w_.Menu().SerialPort1->setChecked(false);
  tx_.OutputDevice = 0;
}

void KeyingPanel::SerialPort1Click() {
  w_.Menu().SerialPort1->setChecked(true);
  w_.Menu().SoundCard1->setChecked(false);
  tx_.OutputDevice = 1;
}

void KeyingPanel::PortNumber1Click() {
  w_.Menu().PortNumber1->setChecked(true);
  w_.Menu().None2->setChecked(false);
  comPort_->Accepted = 0;
  comPort_->ShowPorts(listPorts_());
  comPort_->show();
  comPort_->raise();
}

void KeyingPanel::ComPortCancelBtnClick() {
  comPort_->Accepted = 0;
  comPort_->hide();
}

void KeyingPanel::SelectComPortBtnClick() {
  const int number = comPort_->ComPortSpinBtn->value();
  comPort_->Accepted = 1;
  comPort_->hide();
  port_->SelectComPort(number);
}

void KeyingPanel::None2Click() {
  w_.Menu().PortNumber1->setChecked(false);
  w_.Menu().None2->setChecked(true);
  port_->SelectNoPort();
}

void KeyingPanel::Normal3Click() {
  w_.Menu().Normal3->setChecked(true);
  w_.Menu().Invert2->setChecked(false);
  port_->SetPolarity(1);
}

void KeyingPanel::Invert2Click() {
  w_.Menu().Invert2->setChecked(true);
  w_.Menu().Normal3->setChecked(false);
  port_->SetPolarity(2);
}

void KeyingPanel::Printer11Click() {
  w_.Menu().Printer11->setChecked(true);
  port_->SelectParallelPort(transmit::kPrinter1Address);
}

void KeyingPanel::Printer21Click() {
  w_.Menu().Printer21->setChecked(true);
  port_->SelectParallelPort(transmit::kPrinter2Address);
}

void KeyingPanel::None1Click() {
  w_.Menu().None1->setChecked(true);
  port_->SelectNoPort();
}

void KeyingPanel::SideToneOnClick() {
  w_.Menu().SideToneOn->setChecked(true);
  w_.Menu().SideToneOFF->setChecked(false);
  tx_.SideToneOn = 1;
}

void KeyingPanel::SideToneOFFClick() {
  w_.Menu().SideToneOFF->setChecked(true);
  w_.Menu().SideToneOn->setChecked(false);
  tx_.SideToneOn = 0;
}

void KeyingPanel::OpenNamedComPort(const std::string& name) {
  w_.Menu().PortNumber1->setChecked(true);
  w_.Menu().None2->setChecked(false);
  port_->OpenNamedPort(name);
}

void KeyingPanel::SetComPortSpinBtn(int value) {
  tx_.ComPortNumber = value;
  comPort_->ComPortSpinBtn->setValue(value);  // the spin box keeps 1..255
}

void KeyingPanel::ReleaseLine() {
  port_->ReleaseLine();
}

void KeyingPanel::ShutDown() {
  port_->ShutDown();
}

// --- KeyingPortHost ------------------------------------------------------------------------------

void KeyingPanel::PortMessage(const std::string& title, const std::string& text) {
  w_.ShowMessage(title, text);
}

void KeyingPanel::RunNoneHandler() {
  None2Click();
}

void KeyingPanel::LineFailed(const std::string& /*device*/, const std::string& text) {
  // The port has already dropped the line; the message and the menu change belong to the
  // GUI thread, whichever thread keyed the failing edge.
  QMetaObject::invokeMethod(
      &w_,
      [this, text] {
        w_.ShowMessage(transmit::kPortErrorTitle, text);
        None2Click();
      },
      Qt::QueuedConnection);
}

}  // namespace kestrix::shell
