// The transmit-side controls of the main window: the transmit pane Memo1, the message and
// STORE/RECALL/CLR MSG/LOOP/SEND rows, the scratch pad and the contest strip, the transmit
// part of the right-hand column (RxTx Sync, Xmit Speed, Xmit Enable, Xmit Tune) and the
// off-screen transmit controls. Construction only; the handlers are the transmit
// controller's, KeyingPanel's, ToneMenu's and MemoriesPanel's, wired in main_window.cpp
// and transmit_wiring.cpp. GUI thread only.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QSlider>
#include <array>

namespace kestrix::shell {

class UpDown;

inline constexpr int kMemo1MaxLength = 16384;  // characters
inline constexpr int kStripMemoMaxLength = 64;

struct TransmitPanel {
  QPlainTextEdit* Memo1 = nullptr;
  std::array<QPushButton*, 10> MsgButtons{};  // Msg1Button .. Msg10Button
  QPushButton* StoreButton = nullptr;
  QPushButton* RecallButton = nullptr;
  QPushButton* ClearMsgButton = nullptr;
  QPushButton* LoopButton = nullptr;
  QPushButton* SendBtn = nullptr;

  QFrame* ScratchPadPanel = nullptr;
  QLineEdit* ScatchPadMemo = nullptr;
  QFrame* ContestPanel = nullptr;
  QLineEdit* RemoteCallMemo = nullptr;
  QPushButton* RemoteCallBtn = nullptr;
  QLineEdit* MyCallMemo = nullptr;
  QPushButton* MyCallBtn = nullptr;
  QPushButton* SendBothBtn = nullptr;
  QPushButton* F599Btn = nullptr;
  QPushButton* TuBtn = nullptr;
  UpDown* XmitUpDn = nullptr;
  QLineEdit* XmitCntrMemo = nullptr;
  QPushButton* SndContactBtn = nullptr;

  // Right-hand column.
  QPushButton* SyncBtn = nullptr;
  QLabel* XmitSpeedPnl = nullptr;
  UpDown* XmitSpeedUpDn = nullptr;
  QPushButton* XmitButton = nullptr;
  QPushButton* TuneButton = nullptr;

  // Off-screen.
  QSlider* SpeedTrackBar = nullptr;
  QSlider* ToneVolume = nullptr;
  QSlider* ToneFreqBar = nullptr;
  QPushButton* SendButton = nullptr;
  QPushButton* MsgButton13 = nullptr;
  QPushButton* MsgButton14 = nullptr;
  QPushButton* MsgBtn = nullptr;
  QPushButton* QuitButton = nullptr;

  // Creates every control; Memo1 goes into `imagePanel`, the rest onto `form`.
  void Build(QWidget* form, QWidget* imagePanel);
};

}  // namespace kestrix::shell
