#include "shell/receive_panel.h"

#include <QButtonGroup>
#include <QGroupBox>

#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "shell/layout.h"
#include "shell/ui_helpers.h"

namespace kestrix::shell {
namespace {

QScrollBar* MakeScrollBar(QWidget* parent, const char* name, Qt::Orientation orientation,
                          int minimum, int maximum, int value, const QRect& rect) {
  auto* s = new QScrollBar(orientation, parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(minimum, maximum);
  s->setValue(value);
  s->setGeometry(rect);
  return s;
}

QSlider* MakeTrackBar(QWidget* parent, const char* name, int minimum, int maximum, int value,
                      const QRect& rect) {
  auto* s = new QSlider(Qt::Horizontal, parent);
  s->setObjectName(QString::fromLatin1(name));
  s->setRange(minimum, maximum);
  s->setValue(value);
  s->setPageStep(1);
  s->setGeometry(rect);
  return s;
}

// A caption in the right-hand column or above an off-screen control.
void Caption(QWidget* form, const char* name, const QString& text, const QRect& rect) {
  MakeCaption(form, name, text, rect);
}

QPlainTextEdit* MakePane(QWidget* parent, const char* name, const QRect& rect,
                         const QColor& colour) {
  auto* m = new QPlainTextEdit(parent);
  m->setObjectName(QString::fromLatin1(name));
  m->setGeometry(rect);
  m->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  m->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  m->setLineWrapMode(QPlainTextEdit::WidgetWidth);
  QPalette p = m->palette();
  p.setColor(QPalette::Text, colour);
  p.setColor(QPalette::Base, kWhite);
  m->setPalette(p);
  return m;
}

}  // namespace

void ReceivePanel::Build(QWidget* form) {
  // --- Display and panes -----------------------------------------------------------
  BasePanel = new QFrame(form);
  BasePanel->setObjectName("BasePanel");
  BasePanel->setGeometry(kBasePanel);
  BasePanel->setFrameStyle(QFrame::Panel | QFrame::Sunken);

  ImagePanel = new QFrame(BasePanel);
  ImagePanel->setObjectName("ImagePanel");
  ImagePanel->setGeometry(kImagePanel);
  ImagePanel->setAutoFillBackground(true);
  QPalette white = ImagePanel->palette();
  white.setColor(QPalette::Window, kWhite);
  ImagePanel->setPalette(white);

  SpectrumBox = new SpectrumDisplay(ImagePanel, kImagePanel.width());
  SpectrumBox->setGeometry(kSpectrumBox);

  // Scan mode's picture in place of the live spectrum.
  Image1 = MakeLabel(ImagePanel, "Image1", "", kImage1);
  Image1->setScaledContents(true);
  Image1->hide();

  ThresholdBar2 =
      MakeScrollBar(ImagePanel, "ThresholdBar2", Qt::Vertical, 0, 250, 60, kThresholdBar2);
  ThresholdBar2->setPageStep(10);
  ThresholdBar2->setToolTip("Manual Threshold Level");

  MkrLabel = new QLineEdit("0", ImagePanel);
  MkrLabel->setObjectName("MkrLabel");
  MkrLabel->setGeometry(kMkrLabel);
  MkrLabel->setReadOnly(true);
  MkrLabel->setFrame(false);
  MkrLabel->setFocusPolicy(Qt::NoFocus);
  MkrLabel->setAlignment(Qt::AlignCenter);
  QFont bold = MkrLabel->font();
  bold.setBold(true);
  bold.setPixelSize(11);
  MkrLabel->setFont(bold);

  FrequencyBar =
      MakeScrollBar(ImagePanel, "FrequencyBar", Qt::Horizontal, 1, 423, 256, kFrequencyBar);

  Memo2 = MakePane(ImagePanel, "Memo2", kMemo2, kBlack);
  // The pane grows for the whole session; an undo history of every character would too.
  Memo2->setUndoRedoEnabled(false);

  SplitPanel = new QFrame(ImagePanel);
  SplitPanel->setObjectName("SplitPanel");
  SplitPanel->setGeometry(kSplitPanel);
  SplitPanel->setAutoFillBackground(true);
  QPalette split = SplitPanel->palette();
  split.setColor(QPalette::Window, kSilver);
  SplitPanel->setPalette(split);

  // MANUAL mode's copy pane; placed over Memo2 when FormCreate measures the layout.
  TextPanel = MakePane(ImagePanel, "TextPanel", kMemo2, kBlue);
  TextPanel->hide();
  TextPanel->setEnabled(false);
  TextPanel->setReadOnly(true);

  // --- Right-hand column --------------------------------------------------------------
  Caption(form, "InputLevelLabel", "Input Level", ColumnCaption(0));
  SignalBar = new LevelBar(form);
  SignalBar->setObjectName("SignalBar");
  SignalBar->setGeometry(ColumnControl(0, 18));

  Caption(form, "DispGainLabel", "Disp Gain", ColumnCaption(1));
  CoarseGainTrackBar = MakeTrackBar(form, "CoarseGainTrackBar", 1, 20, 10, ColumnControl(1));

  Caption(form, "SigTxtLabel", "Sig/Txt", ColumnCaption(2));
  ClearButton = MakeButton(form, "ClearButton", "CLEAR",
                           "Clear the text screens or RESET the decoding", ColumnControl(2));

  Caption(form, "DecodeLabel", "Decode", ColumnCaption(3));
  LearnPanel = MakePanel(form, "LearnPanel", "NONE", ColumnControl(3), kBlack, kSilver);
  LearnPanel->setToolTip("Decoding status");

  Caption(form, "LockWpmLabel", "Lock WPM", ColumnCaption(4));
  LockWpmBtn = MakeButton(form, "LockWpmBtn", "OFF", "", ColumnControl(4));
  SetCaption(LockWpmBtn, "OFF", kBlue);

  // --- Off-screen -----------------------------------------------------------------------
  StartButton = MakeButton(form, "StartButton", "START", "", OffScreen(0));
  StopButton = MakeButton(form, "StopButton", "STOP", "Stop Receive Data", OffScreen(1));
  TextButton =
      MakeButton(form, "TextButton", "TEXT", "Program performs CW text decoding", OffScreen(2));
  SetCaption(TextButton, "TEXT", kRed);
  ScanButton = MakeButton(form, "ScanButton", "SCAN", "Spectrum display only", OffScreen(3));
  SetCaption(ScanButton, "SCAN", kBlue);

  auto* opModes = new QGroupBox("Op Modes", form);
  opModes->setObjectName("OpModesBox");
  opModes->setGeometry(OffScreen(4, 90, 44).adjusted(0, -18, 0, 0));
  OpModesBox = opModes;
  ManualButton = MakeButton(opModes, "ManualButton", "MANUAL", "Operator performs CW text decoding",
                            QRect(3, 16, 84, 24));
  SetCaption(ManualButton, "MANUAL", kBlue);

  Caption(form, "RxFineLabel", "Rx Fine", OffScreenCaption(6));
  const QRect fine = OffScreen(6, 90, 22);
  auto radio = [&](const char* name, const char* number, const char* hint, int i) {
    auto* r = new QRadioButton(number, form);
    r->setObjectName(QString::fromLatin1(name));
    r->setToolTip(QString::fromLatin1(hint));
    r->setGeometry(fine.left() + 22 * i, fine.top(), 22, 22);
    r->setFocusPolicy(Qt::NoFocus);
    return r;
  };
  Rx001Btn = radio("Rx001Btn", "1", "Rx Coarse Gain (x001)", 0);
  Rx01Btn = radio("Rx01Btn", "2", "Coarse Rx Gain (x01)", 1);
  Rx1Btn = radio("Rx1Btn", "3", "Coarse Rx Gain (1x)", 2);
  Rx10Btn = radio("Rx10Btn", "4", "Coarse Rx Gain (10x)", 3);
  Rx1Btn->setChecked(true);

  SignalGainBar = MakeTrackBar(form, "SignalGainBar", 0, 20, 10, OffScreen(7));
  SignalGainBar->setToolTip("Set the receive gain");
  ThresholdBar = MakeScrollBar(form, "ThresholdBar", Qt::Horizontal, 5, 183, 90, OffScreen(8));

  Caption(form, "SpacesLabel", "Spaces", OffScreenCaption(9));
  SpaceButton = MakeButton(form, "SpaceButton", "ON", "Spaces between words", OffScreen(9));
  SetCaption(SpaceButton, "ON", kRed);
  RunOnButton = MakeButton(form, "RunOnButton", "MEDIUM",
                           "Short/Medium/Long time between characters", OffScreen(10));
  SetCaption(RunOnButton, "MEDIUM", kRed);
  FilterButton = MakeButton(form, "FilterButton", "35 wpm", "25 wpm/35 wpm/ 50 wpm max decoding",
                            OffScreen(11));
  SetCaption(FilterButton, "35 wpm", kBlue);
  Caption(form, "ScrollingLabel", "Scrolling", OffScreenCaption(12));
  TxtScrollBtn = MakeButton(form, "TxtScrollBtn", "ON", "Stop Text Scrolling", OffScreen(12));
  SetCaption(TxtScrollBtn, "ON", kRed);
  Caption(form, "NxBlankLabel", "Nx Blank", OffScreenCaption(13));
  BlankBtn = MakeButton(form, "BlankBtn", "OFF", "Noise Floor Blanking", OffScreen(13));
  SetCaption(BlankBtn, "OFF", kBlue);
  Caption(form, "SquelchLabel", "Squelch", OffScreenCaption(14));
  SquelchBtn = MakeButton(form, "SquelchBtn", "OFF", "", OffScreen(14));
  SetCaption(SquelchBtn, "OFF", kBlue);

  Caption(form, "OverloadLabel", "Overload", OffScreenCaption(15));
  OverloadPnl2 = new QFrame(form);
  OverloadPnl2->setObjectName("OverloadPnl2");
  OverloadPnl2->setGeometry(OffScreen(15));
  OverloadPnl2->setFrameStyle(QFrame::Panel | QFrame::Sunken);
  OverloadPnl = MakePanel(OverloadPnl2, "OverloadPnl", "", QRect(2, 2, 80, 22), kBlack, kGreen);
  OverloadPnl->setToolTip("Too much input signal");

  // Controls beyond the edges never take the keyboard focus: Tab must not wander off-screen.
  for (QWidget* w : std::initializer_list<QWidget*>{StartButton, StopButton, TextButton, ScanButton,
                                                    ManualButton, SignalGainBar, ThresholdBar,
                                                    SpaceButton, RunOnButton, FilterButton,
                                                    TxtScrollBtn, BlankBtn, SquelchBtn}) {
    w->setFocusPolicy(Qt::NoFocus);
  }
}

}  // namespace kestrix::shell
