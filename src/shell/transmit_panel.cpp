#include "shell/transmit_panel.h"

#include "shell/layout.h"
#include "shell/ui_helpers.h"
#include "shell/up_down.h"

namespace kestrix::shell {
namespace {

QSlider* MakeTrackBar(QWidget* parent, const char* name, int minimum, int maximum, int value,
                      const QString& hint, const QRect& rect) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(minimum, maximum);
  s->setValue(value);
  s->setPageStep(1);
  s->setToolTip(hint);
  s->setGeometry(rect);
  s->setFocusPolicy(Qt::NoFocus);
  return s;
}

QLineEdit* MakeLine(QWidget* parent, const char* name, const QString& text, const QRect& rect) {
  auto* e = new QLineEdit(text, parent);
  e->setObjectName(QString::fromLatin1(name));
  e->setMaxLength(kStripMemoMaxLength);
  e->setGeometry(rect);
  return e;
}

}  // namespace

void TransmitPanel::Build(QWidget* form, QWidget* imagePanel) {
  // --- Transmit pane ---------------------------------------------------------------
  Memo1 = new QPlainTextEdit(imagePanel);
  Memo1->setObjectName("Memo1");
  Memo1->setGeometry(kMemo1);
  Memo1->setFrameShape(QFrame::NoFrame);
  Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  Memo1->setTabChangesFocus(false);  // tabs are text here
  // Every echo of a sent character rewrites the pane; kept as undo history for a whole
  // session that would grow without end (and keys go to the sender, not to undo).
  Memo1->setUndoRedoEnabled(false);
  QPalette red = Memo1->palette();
  red.setColor(QPalette::Text, kRed);
  red.setColor(QPalette::Base, kWhite);
  Memo1->setPalette(red);
  // The pane holds at most 16384 characters; anything typed or pasted past that is cut.
  QObject::connect(Memo1, &QPlainTextEdit::textChanged, Memo1, [memo = Memo1] {
    const QString text = memo->toPlainText();
    if (text.size() <= kMemo1MaxLength) return;
    QTextCursor c = memo->textCursor();
    c.setPosition(kMemo1MaxLength);
    c.movePosition(QTextCursor::End, QTextCursor::KeepAnchor);
    c.removeSelectedText();
  });

  // --- Button rows under the panes ------------------------------------------------------
  const int msgWidth = kBasePanel.width() / 10;
  for (int i = 0; i < 10; ++i) {
    const QString name = QString("Msg%1Button").arg(i + 1);
    MsgButtons[static_cast<size_t>(i)] =
        MakeButton(form, name.toLatin1().constData(), QString("M%1").arg(i + 1), "",
                   QRect(i * msgWidth, kMessageRowTop, msgWidth - 1, kRowHeight));
  }
  const int rowWidth = kBasePanel.width() / 5;
  auto rowButton = [&](int i, const char* name, const char* caption, const char* hint) {
    return MakeButton(form, name, caption, hint,
                      QRect(i * rowWidth, kStoreRowTop, rowWidth - 1, kRowHeight));
  };
  StoreButton = rowButton(0, "StoreButton", "&STORE", "Strore screen text to a memory location");
  RecallButton = rowButton(1, "RecallButton", "&RECALL", "Recall text from a memory location");
  ClearMsgButton =
      rowButton(2, "ClearMsgButton", "&CLR MSG", "Clear the transmit message on the screen");
  LoopButton = rowButton(3, "LoopButton", "&LOOP", "");
  SendBtn = rowButton(4, "SendBtn", "SEN&D", "Send the data shown on the screen");

  // --- Scratch pad, and the contest strip that can take its place -----------------------
  ScratchPadPanel = new QFrame(form);
  ScratchPadPanel->setObjectName("ScratchPadPanel");
  ScratchPadPanel->setGeometry(kScratchStrip);
  ScratchPadPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  ScatchPadMemo = MakeLine(ScratchPadPanel, "ScatchPadMemo", "",
                           QRect(3, 3, kScratchStrip.width() - 6, kScratchStrip.height() - 6));
  ScatchPadMemo->setToolTip("F10 Scratchpad");

  ContestPanel = new QFrame(form);
  ContestPanel->setObjectName("ContestPanel");
  ContestPanel->setGeometry(
      QRect(kOffScreenLeft, kClientHeight + 10, kScratchStrip.width(), kScratchStrip.height()));
  ContestPanel->setFrameStyle(QFrame::Panel | QFrame::Raised);
  const int h = kScratchStrip.height() - 6;
  int x = 3;
  auto next = [&](int width) {
    const QRect r(x, 3, width, h);
    x += width + 2;
    return r;
  };
  RemoteCallMemo = MakeLine(ContestPanel, "RemoteCallMemo", "Call", next(74));
  RemoteCallBtn = MakeButton(ContestPanel, "RemoteCallBtn", "<", "", next(20));
  MyCallMemo = MakeLine(ContestPanel, "MyCallMemo", "My Call", next(74));
  MyCallBtn = MakeButton(ContestPanel, "MyCallBtn", "<", "", next(20));
  SendBothBtn = MakeButton(ContestPanel, "SendBothBtn", "Send", "", next(50));
  F599Btn = MakeButton(ContestPanel, "F599Btn", "5nn", "", next(42));
  TuBtn = MakeButton(ContestPanel, "TuBtn", "tu", "", next(34));
  XmitUpDn = new UpDown(ContestPanel, false, 1, 10000, 1);
  XmitUpDn->setObjectName("XmitUpDn");
  XmitUpDn->setGeometry(next(18));
  XmitCntrMemo = MakeLine(ContestPanel, "XmitCntrMemo", "1", next(56));
  SndContactBtn = MakeButton(ContestPanel, "SndContactBtn", "<", "", next(20));

  // --- Right-hand column ------------------------------------------------------------------
  MakeCaption(form, "RxTxSyncLabel", "RxTx Sync", ColumnCaption(5));
  SyncBtn = MakeButton(form, "SyncBtn", "SET", "Synchronize the transmit speed to receive speed",
                       ColumnControl(5));
  MakeCaption(form, "XmitSpeedLabel", "Xmit Speed", ColumnCaption(6));
  const QRect speed = ColumnControl(6);
  XmitSpeedPnl = MakePanel(form, "XmitSpeedPnl", "25",
                           QRect(speed.left(), speed.top(), 42, speed.height()), kBlack, kWhite);
  XmitSpeedUpDn = new UpDown(form, true, 5, 100, 25);
  XmitSpeedUpDn->setObjectName("XmitSpeedUpDn");
  XmitSpeedUpDn->setGeometry(speed.left() + 44, speed.top(), speed.width() - 44, speed.height());
  MakeCaption(form, "XmitEnableLabel", "Xmit Enable", ColumnCaption(7));
  XmitButton =
      MakeButton(form, "XmitButton", "OFF", "Must be enabled to transmit", ColumnControl(7));
  SetCaption(XmitButton, "OFF", kBlue);
  MakeCaption(form, "XmitTuneLabel", "Xmit Tune", ColumnCaption(8));
  TuneButton = MakeButton(form, "TuneButton", "OFF", "Key the transmitter", ColumnControl(8));

  // --- Off-screen (rows from 10 on) ---------------------------------------------------------
  SpeedTrackBar =
      MakeTrackBar(form, "SpeedTrackBar", 5, 100, 20, "Set the transmit wpm", OffScreen(60));
  MakeCaption(form, "ToneVolLabel", "Tone Vol", OffScreenCaption(61));
  ToneVolume = MakeTrackBar(form, "ToneVolume", 1, 64, 63, "Side Tone Volume", OffScreen(61));
  MakeCaption(form, "ToneFreqLabel", "Tone Freq", OffScreenCaption(62));
  ToneFreqBar = MakeTrackBar(form, "ToneFreqBar", 50, 100, 75, "Sets the 'Serial Port' side tone",
                             OffScreen(62));
  SendButton =
      MakeButton(form, "SendButton", "SEN&D", "Send the data shown on the screen", OffScreen(63));
  MsgButton13 = MakeButton(form, "MsgButton13", "&IMM",
                           "Transmit characters immediately the transmit text", OffScreen(64));
  MsgButton14 = MakeButton(form, "MsgButton14", "SC&N",
                           "Transmit all text that is shown on the screen", OffScreen(65));
  MsgBtn = MakeButton(form, "MsgBtn", "MsgBtn", "", OffScreen(66));
  QuitButton = MakeButton(form, "QuitButton", "QUIT PROGRAM", "", OffScreen(67, 130));
  for (QWidget* w :
       std::initializer_list<QWidget*>{SendButton, MsgButton13, MsgButton14, MsgBtn, QuitButton}) {
    w->setFocusPolicy(Qt::NoFocus);
  }
}

}  // namespace kestrix::shell
