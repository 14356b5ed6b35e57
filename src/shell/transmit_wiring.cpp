// The transmit side's wiring: the transmit controller built over the keying port and the
// keyers, SEND, and the transmit pane's keys and clicks, which go to the controller.
#include <QCoreApplication>
#include <QKeyEvent>
#include <QSignalBlocker>

#include "platform/key_codes.h"
#include "platform/monotonic_wait.h"
#include "shell/window_keyers.h"
#include "shell/window_transmit_host.h"
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
  connect(tp_.SendBtn, &QPushButton::clicked, this, [this] { txc_->SendBtnClick(); });
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
      txc_->Memo1Click();
      return false;
    default:
      return false;
  }
}

}  // namespace kestrix::shell
