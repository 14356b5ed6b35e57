// Transmit-side controls and menus. The sending controls (Xmit Enable, SEND, IMM/SC&N,
// LOOP, the transmit pane's keys and clicks) forward to the transmit controller; the
// keying and tone controls keep their state for the settings file and the keyers.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QSignalBlocker>

#include "platform/key_codes.h"
#include "platform/monotonic_wait.h"
#include "shell/transmit_host.h"
#include "shell/window_keyers.h"
#include "transmit/transmit_controller.h"

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

// --- Sending ---------------------------------------------------------------------------------

void MainWindow::CreateTransmitter() {
  transmit::KeyLine* line = seams_.keyLine;
  if (!line) {
    // No keying port is opened by the window yet: code practice with the full timing.
    ownKeyLine_ = std::make_unique<NoPortLine>();
    line = ownKeyLine_.get();
  }
  transmit::Waiter* waiter = seams_.keyWaiter;
  if (!waiter) {
    ownKeyWaiter_ = std::make_unique<platform::MonotonicWaiter>();
    waiter = ownKeyWaiter_.get();
  }
  keyers_ = std::make_unique<WindowKeyers>(tx_, *line, *waiter);
  txHost_ = std::make_unique<WindowTransmitHost>(*this, tx_);
  txc_ = std::make_unique<transmit::TransmitController>(
      tx_, transmit::ReceiveFlags{loop_->TxActive, loop_->ReceiveStop}, *txHost_, *keyers_);
  // PaneTextLength follows the pane: echoes and recalls go in at its end.
  connect(tp_.Memo1, &QPlainTextEdit::textChanged, this, [this] {
    tx_.PaneTextLength.store(tp_.Memo1->document()->characterCount() - 1,
                             std::memory_order_relaxed);
  });
}

void MainWindow::ConnectSendHandlers() {
  connect(tp_.SendBtn, &QPushButton::clicked, this, &MainWindow::SendBtnClick);
  // SendButton's click does nothing. Both carry "SEN&D": without its own Alt+D the
  // off-screen twin would make the accelerator ambiguous and Alt+D would only move the
  // focus between the two.
  tp_.SendButton->setShortcut(QKeySequence());
  tp_.Memo1->installEventFilter(this);
  tp_.Memo1->viewport()->installEventFilter(this);
}

bool MainWindow::Memo1Event(QObject* watched, QEvent* event) {
  if (watched != tp_.Memo1 && watched != tp_.Memo1->viewport()) return false;
  switch (event->type()) {
    case QEvent::KeyPress:
    case QEvent::KeyRelease: {
      if (watched != tp_.Memo1) return false;
      auto* k = static_cast<QKeyEvent*>(event);
      const int32_t vk = platform::VirtualKeyFromQt(k->key(), static_cast<int>(k->modifiers()),
                                                    k->nativeScanCode());
      if (vk == 0) return false;
      if (event->type() == QEvent::KeyRelease) {
        txc_->Memo1KeyUp(vk);
        return false;
      }
      return txc_->Memo1KeyDown(vk);
    }
    case QEvent::MouseButtonPress:
      txc_->Memo1MouseDown();
      return false;
    case QEvent::MouseButtonRelease:
      Memo1Click();
      return false;
    default:
      return false;
  }
}

void MainWindow::XmitButtonClick() {
  txc_->XmitButtonClick();
}
void MainWindow::SendBtnClick() {
  txc_->SendBtnClick();
}
void MainWindow::LoopButtonClick() {
  txc_->LoopButtonClick();
}
void MainWindow::MsgButton13Click() {
  txc_->MsgButton13Click();
}
void MainWindow::MsgButton14Click() {
  txc_->MsgButton14Click();
}
void MainWindow::Memo1Click() {
  txc_->Memo1Click();
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

void MainWindow::MsgBtnClick() {
  QCoreApplication::processEvents();
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

void MainWindow::Freq1Click() {
  menu_.Freq1->setChecked(true);
  tx_.ToneFrequency = 600.0f;
}

void MainWindow::Freq2Click() {
  menu_.Freq2->setChecked(true);
  tx_.ToneFrequency = 750.0f;
}

void MainWindow::Freq3Click() {
  menu_.Freq3->setChecked(true);
  tx_.ToneFrequency = 1000.0f;
}

void MainWindow::Sinewave1Click() {
  menu_.Sinewave1->setChecked(true);
  tx_.ToneWaveform = 0;
}

void MainWindow::Squarewave1Click() {
  menu_.Squarewave1->setChecked(true);
  tx_.ToneWaveform = 1;
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
