#include "shell/window_transmit_host.h"

#include <QMetaObject>
#include <QPlainTextEdit>
#include <QTextCursor>

#include "platform/key_codes.h"
#include "shell/main_window.h"
#include "shell/receive_side.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"

namespace kestrix::shell {

// The key table is written with Qt's numbers; keep it honest.
static_assert(platform::qtkey::kEscape == Qt::Key_Escape);
static_assert(platform::qtkey::kBacktab == Qt::Key_Backtab);
static_assert(platform::qtkey::kPageDown == Qt::Key_PageDown);
static_assert(platform::qtkey::kScrollLock == Qt::Key_ScrollLock);
static_assert(platform::qtkey::kF1 == Qt::Key_F1 && platform::qtkey::kF12 == Qt::Key_F12);
static_assert(platform::qtkey::kAltGr == Qt::Key_AltGr);
static_assert(platform::qtkey::kKeypadModifier == Qt::KeypadModifier);

WindowTransmitHost::WindowTransmitHost(MainWindow& window, transmit::TransmitState& tx)
    : w_(window),
      tx_(tx),
      // A queued call on this object gets the GUI thread to the send threads' work; it
      // runs wherever the GUI thread processes events (the receive loop's waits too).
      queue_([this] {
        QMetaObject::invokeMethod(
            this, [this] { queue_.ServePending(); }, Qt::QueuedConnection);
      }) {}

void WindowTransmitHost::SetMemoryHandlers(std::function<void(int)> click,
                                           std::function<void(int)> apply) {
  memoryClick_ = std::move(click);
  memoryApply_ = std::move(apply);
}

namespace {
QPlainTextEdit* Pane(MainWindow& w) {
  return w.TransmitControls().Memo1;
}
// Pane text is Windows-1252 in the buffers; the widget holds Unicode.
QString FromBytes(std::string_view text) {
  return QString::fromLatin1(text.data(), static_cast<qsizetype>(text.size()));
}
}  // namespace

std::string WindowTransmitHost::PaneText() {
  return Pane(w_)->toPlainText().toLatin1().toStdString();
}

void WindowTransmitHost::SetPaneText(std::string_view text) {
  Pane(w_)->setPlainText(FromBytes(text));
}

void WindowTransmitHost::AppendPaneText(std::string_view text) {
  QPlainTextEdit* pane = Pane(w_);
  QTextCursor end(pane->document());
  end.movePosition(QTextCursor::End);
  end.insertText(FromBytes(text));
}

void WindowTransmitHost::SetCaret(int position) {
  QPlainTextEdit* pane = Pane(w_);
  QTextCursor c = pane->textCursor();
  if (position < 0) {
    c.movePosition(QTextCursor::End);
  } else {
    c.setPosition(std::min(position, pane->document()->characterCount() - 1));
  }
  pane->setTextCursor(c);
}

void WindowTransmitHost::SetPaneReadOnly(bool readOnly) {
  Pane(w_)->setReadOnly(readOnly);
}

void WindowTransmitHost::FocusPane() {
  Pane(w_)->setFocus();
}

void WindowTransmitHost::ShowXmitEnable(bool on) {
  SetCaption(w_.TransmitControls().XmitButton, on ? "ON" : "OFF", on ? kRed : kBlue);
}

void WindowTransmitHost::ShowSendButton(bool active) {
  SetCaption(w_.TransmitControls().SendBtn, "SEN&D", active ? kRed : kBlue);
}

void WindowTransmitHost::ShowTypingMode(int screenMode) {
  const TransmitPanel& tp = w_.TransmitControls();
  SetCaption(tp.MsgButton13, "&IMM", screenMode == 0 ? kRed : kBlue);
  SetCaption(tp.MsgButton14, "SC&N", screenMode == 1 ? kRed : kBlue);
}

void WindowTransmitHost::ShowLoop(bool on) {
  SetCaption(w_.TransmitControls().LoopButton, "&LOOP", on ? kRed : kBlue);
}

void WindowTransmitHost::ResetMessageButtons() {
  const TransmitPanel& tp = w_.TransmitControls();
  for (QPushButton* b : tp.MsgButtons) SetCaption(b, b->text(), kBlack);
  for (QPushButton* b :
       {tp.RemoteCallBtn, tp.MyCallBtn, tp.SendBothBtn, tp.F599Btn, tp.TuBtn, tp.SndContactBtn}) {
    SetCaption(b, b->text(), kBlack);
  }
}

void WindowTransmitHost::ResetMemoryOpButtons() {
  const TransmitPanel& tp = w_.TransmitControls();
  SetCaption(tp.StoreButton, "&STORE", kBlue);
  SetCaption(tp.RecallButton, "&RECALL", kBlue);
  SetCaption(tp.ClearMsgButton, "&CLR MSG", kBlue);
}

void WindowTransmitHost::ShowMessage(const std::string& title, const std::string& text) {
  w_.ShowMessage(title, text);
}

void WindowTransmitHost::EnableSpeedUpDn(bool enabled) {
  w_.TransmitControls().XmitSpeedUpDn->setEnabled(enabled);
}

void WindowTransmitHost::ShowDisplay(bool waterfall) {
  if (waterfall) {
    w_.Receive().Waterfall2Click();
  } else {
    w_.Receive().Spectrum1Click();
  }
}

void WindowTransmitHost::MemoryButtonClick(int n) {
  // The memories panel provides the handler; without it a memory key does nothing.
  if (memoryClick_) memoryClick_(n);
}

void WindowTransmitHost::ApplyMemoryOperation(int op) {
  if (memoryApply_) memoryApply_(op);
}

}  // namespace kestrix::shell
