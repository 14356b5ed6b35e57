#include "shell/memories_panel.h"

#include <QKeyEvent>
#include <QKeySequence>
#include <QSignalBlocker>

#include "shell/layout.h"
#include "shell/main_window.h"
#include "shell/memory_window.h"
#include "shell/receive_side.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"
#include "shell/user_files.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell {

using transmit::ContestButton;

MemoriesPanel::MemoriesPanel(MainWindow& window)
    : QObject(&window),
      w_(window),
      tp_(window.TransmitControls()),
      memories_(window.Tx(), *this, *this) {
  form_ = new TransmitMemoryForm(&window);
  Connect();
}

MemoriesPanel::~MemoriesPanel() = default;

void MemoriesPanel::Connect() {
  for (int i = 0; i < transmit::kMemoryCount; ++i) {
    connect(tp_.MsgButtons[static_cast<size_t>(i)], &QPushButton::clicked, this,
            [this, n = i + 1] { memories_.MemoryButtonClick(n); });
  }
  connect(tp_.StoreButton, &QPushButton::clicked, this, [this] { memories_.StoreButtonClick(); });
  connect(tp_.RecallButton, &QPushButton::clicked, this, [this] { memories_.RecallButtonClick(); });
  connect(tp_.ClearMsgButton, &QPushButton::clicked, this,
          [this] { memories_.ClearMsgButtonClick(); });

  for (ContestButton b :
       {ContestButton::kRemoteCall, ContestButton::kMyCall, ContestButton::kSendBoth,
        ContestButton::kSerial, ContestButton::kReport, ContestButton::kClosing}) {
    connect(ContestButtonWidget(b), &QPushButton::clicked, this,
            [this, b] { memories_.ContestButtonClick(b); });
  }
  connect(tp_.XmitUpDn, &UpDown::clicked, this,
          [this] { memories_.XmitUpDnClick(tp_.XmitUpDn->Position()); });

  connect(tp_.RemoteCallMemo, &QLineEdit::textChanged, this,
          [this](const QString& t) { memories_.RemoteCallMemoChange(ToCp1252(t)); });
  connect(tp_.MyCallMemo, &QLineEdit::textChanged, this,
          [this](const QString& t) { memories_.MyCallMemoChange(ToCp1252(t)); });
  connect(tp_.ScatchPadMemo, &QLineEdit::textChanged, this,
          [this](const QString& t) { memories_.ScatchPadMemoChange(ToCp1252(t)); });

  connect(w_.Menu().TransmitData1, &QAction::triggered, this,
          [this] { memories_.TransmitData1Click(); });

  // Alt+D must press SEND once: the off-screen second "SEN&D" button would make the
  // accelerator ambiguous, and an ambiguous accelerator only moves the focus.
  tp_.SendButton->setShortcut(QKeySequence());

  tp_.ScatchPadMemo->installEventFilter(this);
  w_.ReceiveControls().TextPanel->installEventFilter(this);
}

void MemoriesPanel::FillContestBuffers() {
  memories_.FillContestBuffers(ToCp1252(tp_.RemoteCallMemo->text()),
                               ToCp1252(tp_.MyCallMemo->text()));
}

bool MemoriesPanel::eventFilter(QObject* watched, QEvent* event) {
  if (event->type() != QEvent::KeyPress) return QObject::eventFilter(watched, event);
  const int key = static_cast<QKeyEvent*>(event)->key();
  // Up and Down switch the display to the line spectrum and the waterfall; the receive
  // text panel (whose backslash key the window handles) still scrolls with them.
  if (key == Qt::Key_Up) w_.Receive().Spectrum1Click();
  if (key == Qt::Key_Down) w_.Receive().Waterfall2Click();
  if (watched == tp_.ScatchPadMemo) {
    if (key == Qt::Key_Up || key == Qt::Key_Down) return true;
    if (key == Qt::Key_F10 && w_.Tx().XmitEnable == 3) {
      memories_.MemoryKeyClick(10);
      return true;  // swallowed, so F10 does not reach the menu bar
    }
  }
  return QObject::eventFilter(watched, event);
}

QPushButton* MemoriesPanel::ContestButtonWidget(ContestButton button) const {
  switch (button) {
    case ContestButton::kRemoteCall:
      return tp_.RemoteCallBtn;
    case ContestButton::kMyCall:
      return tp_.MyCallBtn;
    case ContestButton::kSendBoth:
      return tp_.SendBothBtn;
    case ContestButton::kSerial:
      return tp_.SndContactBtn;
    case ContestButton::kReport:
      return tp_.F599Btn;
    case ContestButton::kClosing:
      break;
  }
  return tp_.TuBtn;
}

// --- The pane --------------------------------------------------------------------------------

std::string MemoriesPanel::PaneText() {
  return ToCp1252(tp_.Memo1->toPlainText());
}

void MemoriesPanel::SetPaneText(std::string_view text) {
  tp_.Memo1->setPlainText(FromCp1252(text));
}

void MemoriesPanel::AppendPaneText(std::string_view text) {
  QTextCursor c = tp_.Memo1->textCursor();
  c.movePosition(QTextCursor::End);
  c.insertText(FromCp1252(text));
  tp_.Memo1->setTextCursor(c);
}

void MemoriesPanel::PaneCaretToStart() {
  tp_.Memo1->moveCursor(QTextCursor::Start);
}

void MemoriesPanel::PaneCaretToEnd() {
  tp_.Memo1->moveCursor(QTextCursor::End);
}

void MemoriesPanel::ShowPaneWritable() {
  tp_.Memo1->show();
  tp_.Memo1->setReadOnly(false);
}

void MemoriesPanel::FocusPane() {
  tp_.Memo1->setFocus();
}

// --- Captions --------------------------------------------------------------------------------

void MemoriesPanel::ShowArmedButton(int32_t op) {
  SetCaption(tp_.StoreButton, "&STORE", op == transmit::kMemoryStore ? kRed : kBlue);
  SetCaption(tp_.RecallButton, "&RECALL", op == transmit::kMemoryRecall ? kRed : kBlue);
  SetCaption(tp_.ClearMsgButton, "&CLR MSG", op == transmit::kMemoryClear ? kRed : kBlue);
}

void MemoriesPanel::ResetSendButtonColours() {
  for (QPushButton* b : tp_.MsgButtons) SetCaption(b, b->text(), kBlack);
  for (ContestButton c :
       {ContestButton::kRemoteCall, ContestButton::kMyCall, ContestButton::kSendBoth,
        ContestButton::kSerial, ContestButton::kReport, ContestButton::kClosing}) {
    QPushButton* b = ContestButtonWidget(c);
    SetCaption(b, b->text(), kBlack);
  }
}

void MemoriesPanel::ShowMemoryButtonChosen(int n) {
  QPushButton* b = tp_.MsgButtons[static_cast<size_t>(n - 1)];
  SetCaption(b, b->text(), kRed);
}

void MemoriesPanel::ShowContestButtonChosen(ContestButton button) {
  QPushButton* b = ContestButtonWidget(button);
  SetCaption(b, b->text(), kRed);
}

// --- Scratch pad, counter, memory window ---------------------------------------------------------

void MemoriesPanel::SetScratchPadText(std::string_view text) {
  // M10 follows what the pad now holds (at most 64 characters), also when the text was
  // already there and the pad reports no change.
  {
    const QSignalBlocker quiet(tp_.ScatchPadMemo);
    tp_.ScatchPadMemo->setText(FromCp1252(text));
  }
  memories_.ScatchPadMemoChange(ToCp1252(tp_.ScatchPadMemo->text()));
}

void MemoriesPanel::ShowContestSerial(int serial) {
  tp_.XmitCntrMemo->setText(QString::number(serial));
}

bool MemoriesPanel::MemoryWindowVisible() {
  return form_->isVisible();
}

void MemoriesPanel::ShowMemoryWindow() {
  form_->show();
  form_->raise();
}

void MemoriesPanel::SetMemoryWindowText(std::string_view text) {
  form_->SetText(FromCp1252(text));
}

// --- SEND and LOOP until the controller is plugged in -------------------------------------------

void MemoriesPanel::SendBtnClick() {
  tp_.SendBtn->click();
}

void MemoriesPanel::LoopButtonClick() {
  w_.Transmitter().LoopButtonClick();
}

void MemoriesPanel::F10ScratchPadClick() {
  w_.Menu().F10ScratchPad->setChecked(true);
  w_.Tx().TransmitWindow = 0;
  tp_.ContestPanel->move(kOffScreenLeft, kClientHeight + 10);
  tp_.ScratchPadPanel->move(kScratchStrip.topLeft());
}

void MemoriesPanel::ContestWindowClick() {
  w_.Menu().ContestWindow->setChecked(true);
  w_.Tx().TransmitWindow = 1;
  tp_.ScratchPadPanel->move(kOffScreenLeft, kClientHeight + 10);
  tp_.ContestPanel->move(kScratchStrip.topLeft());
}

}  // namespace kestrix::shell
