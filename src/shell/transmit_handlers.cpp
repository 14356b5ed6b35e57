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
