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

#include "shell/keying_panel.h"
#include "shell/layout.h"
#include "shell/main_window.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"

namespace kestrix::shell {

// --- Sending ---------------------------------------------------------------------------------

void MainWindow::CreateTransmitter() {
  transmit::KeyLine* line = seams_.keyLine;
  if (!line) {
    // The window's keying port: serial, parallel or none (code practice, full timing).
    line = &keying_->Port();
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

void MainWindow::MsgBtnClick() {
  QCoreApplication::processEvents();
}

void MainWindow::ToneVolumeChange() {
  Memo1Click();
}

// --- Transmit menu ---------------------------------------------------------------------------

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
