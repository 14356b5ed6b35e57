// Transmit-side controls and menus. Until the send threads, keyers and tone output exist
// these keep their state (captions, colours, check marks, TransmitState) so that the
// settings file and the receive side see the values a user chose; nothing is keyed.
#include <QCoreApplication>
#include <QSignalBlocker>

#include "shell/layout.h"
#include "shell/main_window.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"

namespace kestrix::shell {

namespace {
constexpr int kSerialSpeedLimit = 50;  // wpm: faster keying needs the sound-card output
constexpr uint16_t kPrinter1Address = 0x378;
constexpr uint16_t kPrinter2Address = 0x3BC;
}  // namespace

void MainWindow::XmitButtonClick() {
  if (tx_.XmitEnable == 3) {
    tx_.SendingState = 0;
    tx_.XmitEnable = 0;
    SetCaption(tp_.XmitButton, "OFF", kBlue);
    tp_.Memo1->setFocus();
    return;
  }
  if (tx_.PortNameText() == "NONE" && tx_.OutputDevice == 1) {
    ShowMessage("Communications I/O Error",
                "No output COM port has been selected, continue for code practice");
  }
  tx_.XmitEnable = 3;
  SetCaption(tp_.XmitButton, "ON", kRed);
  tx_.SelectedBuffer = tx_.ScreenMode == 1 ? 14 : 0;
  Memo1Click();
}

void MainWindow::TuneButtonClick() {
  if (tx_.TuneActive == 1 || tx_.XmitEnable != 3) {
    tx_.TuneActive = 0;
    tx_.KeyState = 0;
    SetCaption(tp_.TuneButton, "OFF", kBlack);
    if (tx_.XmitEnable != 3) ShowMessage("Error Message", "Xmit Enable must be ON");
    return;
  }
  tx_.TuneActive = 1;
  tx_.KeyState = 3;
  SetCaption(tp_.TuneButton, "ON", kRed);
}

void MainWindow::SpeedTrackBarChange() {
  const int wpm = tp_.SpeedTrackBar->value();
  tx_.SpeedWpm = wpm;
  sp_.CodeLabel->setText(QString::number(wpm));
  tp_.XmitSpeedPnl->setText(QString::number(wpm));
  Memo1Click();
}

void MainWindow::XmitSpeedUpDnClick() {
  int wpm = tp_.XmitSpeedUpDn->Position();
  if (tx_.OutputDevice == 1 && wpm > kSerialSpeedLimit) {
    wpm = kSerialSpeedLimit;
    tp_.XmitSpeedUpDn->SetPosition(wpm);
    ShowMessage("Transmit Speed Error",
                "Use the sound card output for code speeds greater than 50 wpm!");
  }
  {
    const QSignalBlocker quiet(tp_.SpeedTrackBar);
    tp_.SpeedTrackBar->setValue(wpm);
  }
  SpeedTrackBarChange();
}

void MainWindow::LoopButtonClick() {
  tx_.LoopMode = tx_.LoopMode == 3 ? 0 : 3;
  SetCaption(tp_.LoopButton, "&LOOP", tx_.LoopMode == 3 ? kRed : kBlue);
  tp_.Memo1->moveCursor(QTextCursor::End);
}

void MainWindow::MsgButton13Click() {
  if (tx_.SendingState != 0) return;
  tx_.SelectedBuffer = 13;
  tx_.ScreenMode = 0;
  SetCaption(tp_.MsgButton13, "&IMM", kRed);
  SetCaption(tp_.MsgButton14, "SC&N", kBlue);
  tp_.Memo1->setFocus();
}

void MainWindow::MsgButton14Click() {
  if (tx_.SendingState != 0) return;
  tx_.SelectedBuffer = 14;
  tx_.ScreenMode = 1;
  SetCaption(tp_.MsgButton14, "SC&N", kRed);
  SetCaption(tp_.MsgButton13, "&IMM", kBlue);
  tp_.Memo1->setFocus();
  tp_.Memo1->moveCursor(QTextCursor::Start);
}

void MainWindow::MsgBtnClick() {
  QCoreApplication::processEvents();
}

void MainWindow::Memo1Click() {
  if (tx_.XmitEnable != 3) return;
  tp_.Memo1->setReadOnly(false);
  tp_.Memo1->setFocus();
}

void MainWindow::ToneVolumeChange() {
  Memo1Click();
}

// --- Transmit menu ---------------------------------------------------------------------------

void MainWindow::SoundCard1Click() {
  menu_.SoundCard1->setChecked(true);
  tx_.OutputDevice = 0;
}

void MainWindow::SerialPort1Click() {
  menu_.SerialPort1->setChecked(true);
  tx_.OutputDevice = 1;
}

void MainWindow::PortNumber1Click() {
  menu_.PortNumber1->setChecked(true);
}

void MainWindow::None2Click() {
  menu_.None2->setChecked(true);
  tx_.PortKind = 2;
  tx_.PortName = {'N', 'O', 'N', 'E'};
}

void MainWindow::Normal3Click() {
  menu_.Normal3->setChecked(true);
  tx_.KeyPolarity = 1;
}

void MainWindow::Invert2Click() {
  menu_.Invert2->setChecked(true);
  tx_.KeyPolarity = 2;
}

void MainWindow::Printer11Click() {
  menu_.Printer11->setChecked(true);
  tx_.PortKind = 0;
  tx_.ParallelAddress = kPrinter1Address;
  tx_.KeyState = 0;
}

void MainWindow::Printer21Click() {
  menu_.Printer21->setChecked(true);
  tx_.PortKind = 0;
  tx_.ParallelAddress = kPrinter2Address;
  tx_.KeyState = 0;
}

void MainWindow::None1Click() {
  menu_.None1->setChecked(true);
  tx_.PortKind = 2;
  tx_.PortName = {'N', 'O', 'N', 'E'};
}

void MainWindow::SideToneOnClick() {
  menu_.SideToneOn->setChecked(true);
  tx_.SideToneOn = 1;
}

void MainWindow::SideToneOFFClick() {
  menu_.SideToneOFF->setChecked(true);
  tx_.SideToneOn = 0;
}

void MainWindow::F10ScratchPadClick() {
  menu_.F10ScratchPad->setChecked(true);
  tx_.TransmitWindow = 0;
  tp_.ContestPanel->move(kOffScreenLeft, kClientHeight + 10);
  tp_.ScratchPadPanel->move(kScratchStrip.topLeft());
}

void MainWindow::ContestWindowClick() {
  menu_.ContestWindow->setChecked(true);
  tx_.TransmitWindow = 1;
  tp_.ScratchPadPanel->move(kOffScreenLeft, kClientHeight + 10);
  tp_.ContestPanel->move(kScratchStrip.topLeft());
}

}  // namespace kestrix::shell
