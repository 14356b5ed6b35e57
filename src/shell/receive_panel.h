// The receive-side controls of the main window: the image panel with the spectrum box,
// the tuning and threshold bars and the receive pane, the receive column on the right
// (level bar, display gain, CLEAR, decode state, Lock WPM), and the off-screen controls
// that menus and code drive (START, STOP, the mode buttons, gain, the option buttons).
// Only construction lives here: names, captions, ranges, initial values, hints and places.
// The handlers are ReceiveSide's (receive_side.cpp). GUI thread only.
#pragma once

#include <QFrame>
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>

namespace kestrix {
class SpectrumDisplay;
class LevelBar;
}  // namespace kestrix

namespace kestrix::shell {

struct ReceivePanel {
  // Display and panes.
  QFrame* BasePanel = nullptr;
  QFrame* ImagePanel = nullptr;
  SpectrumDisplay* SpectrumBox = nullptr;
  QLabel* Image1 = nullptr;
  QLineEdit* MkrLabel = nullptr;
  QPlainTextEdit* Memo2 = nullptr;
  QFrame* SplitPanel = nullptr;
  QPlainTextEdit* TextPanel = nullptr;
  QScrollBar* FrequencyBar = nullptr;
  QScrollBar* ThresholdBar2 = nullptr;

  // Right-hand column.
  LevelBar* SignalBar = nullptr;
  QSlider* CoarseGainTrackBar = nullptr;
  QPushButton* ClearButton = nullptr;
  QLabel* LearnPanel = nullptr;
  QPushButton* LockWpmBtn = nullptr;

  // Off-screen.
  QPushButton* StartButton = nullptr;
  QPushButton* StopButton = nullptr;
  QPushButton* TextButton = nullptr;
  QPushButton* ScanButton = nullptr;
  QWidget* OpModesBox = nullptr;  // the "Op Modes" group box
  QPushButton* ManualButton = nullptr;
  QRadioButton* Rx1Btn = nullptr;
  QRadioButton* Rx10Btn = nullptr;
  QRadioButton* Rx01Btn = nullptr;
  QRadioButton* Rx001Btn = nullptr;
  QSlider* SignalGainBar = nullptr;
  QScrollBar* ThresholdBar = nullptr;
  QPushButton* SpaceButton = nullptr;
  QPushButton* RunOnButton = nullptr;
  QPushButton* FilterButton = nullptr;
  QPushButton* TxtScrollBtn = nullptr;
  QPushButton* BlankBtn = nullptr;
  QPushButton* SquelchBtn = nullptr;
  QFrame* OverloadPnl2 = nullptr;
  QLabel* OverloadPnl = nullptr;

  // Creates every control on `form` (the window's client area).
  void Build(QWidget* form);
};

}  // namespace kestrix::shell
