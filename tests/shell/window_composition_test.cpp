// The window as it comes up: every named control with its kind, caption, hint and place,
// the ranges and initial values, the status line, and the menu tree with its check marks.
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>

#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "shell/layout.h"
#include "shell/up_down.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

enum class Place { kVisible, kOffScreen, kHidden };

struct ControlCase {
  const char* name;
  const char* kind;  // class name
  const char* caption;
  const char* hint;
};

QString CaptionOf(const QWidget* w) {
  if (auto* b = qobject_cast<const QAbstractButton*>(w)) return b->text();
  if (auto* l = qobject_cast<const QLabel*>(w)) return l->text();
  if (auto* e = qobject_cast<const QLineEdit*>(w)) return e->text();
  if (auto* g = qobject_cast<const QGroupBox*>(w)) return g->title();
  return {};
}

// Visible, on the client area.
const ControlCase kVisible[] = {
    {"SpectrumBox", "kestrix::SpectrumDisplay", "", "Click on the signal to decode text"},
    {"MkrLabel", "QLineEdit", "0", ""},
    {"Memo2", "QPlainTextEdit", "", ""},
    {"Memo1", "QPlainTextEdit", "", ""},
    {"FrequencyBar", "QScrollBar", "", ""},
    {"ThresholdBar2", "QScrollBar", "", "Manual Threshold Level"},
    {"SignalBar", "kestrix::LevelBar", "", ""},
    {"CoarseGainTrackBar", "QSlider", "", ""},
    {"ClearButton", "QPushButton", "CLEAR", "Clear the text screens or RESET the decoding"},
    {"LearnPanel", "QLabel", "NONE", "Decoding status"},
    {"LockWpmBtn", "QPushButton", "OFF", ""},
    {"SyncBtn", "QPushButton", "SET", "Synchronize the transmit speed to receive speed"},
    {"XmitSpeedPnl", "QLabel", "25", ""},
    {"XmitSpeedUpDn", "kestrix::shell::UpDown", "", ""},
    {"XmitButton", "QPushButton", "OFF", "Must be enabled to transmit"},
    {"TuneButton", "QPushButton", "OFF", "Key the transmitter"},
    {"Msg1Button", "QPushButton", "M1", ""},
    {"Msg10Button", "QPushButton", "M10", ""},
    {"StoreButton", "QPushButton", "&STORE", "Strore screen text to a memory location"},
    {"RecallButton", "QPushButton", "&RECALL", "Recall text from a memory location"},
    {"ClearMsgButton", "QPushButton", "&CLR MSG", "Clear the transmit message on the screen"},
    {"LoopButton", "QPushButton", "&LOOP", ""},
    {"SendBtn", "QPushButton", "SEN&D", "Send the data shown on the screen"},
    {"ScatchPadMemo", "QLineEdit", "", "F10 Scratchpad"},
    {"StatusPanel", "QFrame", "", ""},
    {"InputLevelLabel", "QLabel", "Input Level", ""},
    {"DispGainLabel", "QLabel", "Disp Gain", ""},
    {"SigTxtLabel", "QLabel", "Sig/Txt", ""},
    {"DecodeLabel", "QLabel", "Decode", ""},
    {"LockWpmLabel", "QLabel", "Lock WPM", ""},
    {"RxTxSyncLabel", "QLabel", "RxTx Sync", ""},
    {"XmitSpeedLabel", "QLabel", "Xmit Speed", ""},
    {"XmitEnableLabel", "QLabel", "Xmit Enable", ""},
    {"XmitTuneLabel", "QLabel", "Xmit Tune", ""},
};
// Beyond the edges: alive, driven by menus and code.
const ControlCase kOffScreen[] = {
    {"StartButton", "QPushButton", "START", ""},
    {"StopButton", "QPushButton", "STOP", "Stop Receive Data"},
    {"TextButton", "QPushButton", "TEXT", "Program performs CW text decoding"},
    {"ScanButton", "QPushButton", "SCAN", "Spectrum display only"},
    {"OpModesBox", "QGroupBox", "Op Modes", ""},
    {"ManualButton", "QPushButton", "MANUAL", "Operator performs CW text decoding"},
    {"RxFineLabel", "QLabel", "Rx Fine", ""},
    {"Rx1Btn", "QRadioButton", "3", "Coarse Rx Gain (1x)"},
    {"Rx10Btn", "QRadioButton", "4", "Coarse Rx Gain (10x)"},
    {"Rx01Btn", "QRadioButton", "2", "Coarse Rx Gain (x01)"},
    {"Rx001Btn", "QRadioButton", "1", "Rx Coarse Gain (x001)"},
    {"SignalGainBar", "QSlider", "", "Set the receive gain"},
    {"ThresholdBar", "QScrollBar", "", ""},
    {"SpaceButton", "QPushButton", "ON", "Spaces between words"},
    {"SpacesLabel", "QLabel", "Spaces", ""},
    {"RunOnButton", "QPushButton", "MEDIUM", "Short/Medium/Long time between characters"},
    {"FilterButton", "QPushButton", "35 wpm", "25 wpm/35 wpm/ 50 wpm max decoding"},
    {"TxtScrollBtn", "QPushButton", "ON", "Stop Text Scrolling"},
    {"ScrollingLabel", "QLabel", "Scrolling", ""},
    {"BlankBtn", "QPushButton", "OFF", "Noise Floor Blanking"},
    {"NxBlankLabel", "QLabel", "Nx Blank", ""},
    {"SquelchBtn", "QPushButton", "OFF", ""},
    {"SquelchLabel", "QLabel", "Squelch", ""},
    {"OverloadPnl", "QLabel", "", "Too much input signal"},
    {"OverloadLabel", "QLabel", "Overload", ""},
    {"SpeedTrackBar", "QSlider", "", "Set the transmit wpm"},
    {"ToneVolume", "QSlider", "", "Side Tone Volume"},
    {"ToneVolLabel", "QLabel", "Tone Vol", ""},
    {"ToneFreqBar", "QSlider", "", "Sets the 'Serial Port' side tone"},
    {"ToneFreqLabel", "QLabel", "Tone Freq", ""},
    {"SendButton", "QPushButton", "SEN&D", "Send the data shown on the screen"},
    {"MsgButton13", "QPushButton", "&IMM", "Transmit characters immediately the transmit text"},
    {"MsgButton14", "QPushButton", "SC&N", "Transmit all text that is shown on the screen"},
    {"MsgBtn", "QPushButton", "MsgBtn", ""},
    {"QuitButton", "QPushButton", "QUIT PROGRAM", ""},
    {"ContestPanel", "QFrame", "", ""},
    {"RemoteCallMemo", "QLineEdit", "Call", ""},
    {"RemoteCallBtn", "QPushButton", "<", ""},
    {"MyCallMemo", "QLineEdit", "My Call", ""},
    {"SendBothBtn", "QPushButton", "Send", ""},
    {"F599Btn", "QPushButton", "5nn", ""},
    {"TuBtn", "QPushButton", "tu", ""},
    {"XmitCntrMemo", "QLineEdit", "1", ""},
    {"SndContactBtn", "QPushButton", "<", ""},
    {"Timeout", "QLabel", "0", ""},
    {"CodeLetter", "QLabel", "CODE", ""},
    {"AvgHysterisis", "QLabel", "0", ""},
};
// Present but hidden until a mode shows them.
const ControlCase kHidden[] = {
    {"TextPanel", "QPlainTextEdit", "", ""},
    {"Image1", "QLabel", "", ""},
};

class Composition : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Make().show();
  }
};

TEST_F(Composition, EveryControlHasItsNameKindCaptionHintAndPlace) {
  const QRect client(0, 0, kClientWidth, kClientHeight);
  auto check = [&](const ControlCase& c, Place place) {
    SCOPED_TRACE(c.name);
    auto* w = Find<QWidget>(c.name);
    ASSERT_NE(w, nullptr);
    EXPECT_STREQ(w->metaObject()->className(), c.kind);
    EXPECT_EQ(CaptionOf(w), QString::fromLatin1(c.caption));
    EXPECT_EQ(w->toolTip(), QString::fromLatin1(c.hint));
    const QRect onForm(w->mapTo(W().Form(), QPoint(0, 0)), w->size());
    switch (place) {
      case Place::kVisible:
        EXPECT_TRUE(w->isVisible());
        EXPECT_TRUE(client.contains(onForm)) << onForm.x() << "," << onForm.y();
        break;
      case Place::kOffScreen:
        EXPECT_TRUE(w->isVisibleTo(W().Form()));
        EXPECT_FALSE(client.intersects(onForm)) << onForm.x() << "," << onForm.y();
        break;
      case Place::kHidden:
        EXPECT_FALSE(w->isVisible());
        break;
    }
  };
  for (const ControlCase& c : kVisible) check(c, Place::kVisible);
  for (const ControlCase& c : kOffScreen) check(c, Place::kOffScreen);
  for (const ControlCase& c : kHidden) check(c, Place::kHidden);
}

TEST_F(Composition, WindowIsFixedPurpleAndCaptionedKestrix) {
  EXPECT_EQ(W().windowTitle(), "Kestrix");
  EXPECT_EQ(W().Form()->size(), QSize(kClientWidth, kClientHeight));
  EXPECT_EQ(W().minimumSize(), W().maximumSize());
  EXPECT_FALSE(W().windowFlags().testFlag(Qt::WindowMaximizeButtonHint));
  EXPECT_TRUE(W().windowFlags().testFlag(Qt::WindowMinimizeButtonHint));
  EXPECT_EQ(W().Form()->palette().color(QPalette::Window), QColor(0x80, 0x00, 0x80));
  EXPECT_EQ(W().font().pixelSize(), 16);
  EXPECT_EQ(W().font().family(), "Arial");
  // The image panel is white, 453 x 345, at the top left.
  auto* image = Find<QFrame>("ImagePanel");
  EXPECT_EQ(image->size(), QSize(453, 345));
  EXPECT_EQ(image->palette().color(QPalette::Window), QColor(Qt::white));
  EXPECT_EQ(Find<QWidget>("SpectrumBox")->size(), QSize(423, 98));
  EXPECT_EQ(Find<QFrame>("StatusPanel")->geometry(), QRect(0, 441, 556, 18));
}

TEST_F(Composition, RangesAndInitialValues) {
  struct Range {
    const char* name;
    int minimum, maximum, value;
  };
  const Range ranges[] = {{"FrequencyBar", 1, 423, 256}, {"ThresholdBar2", 0, 250, 60},
                          {"ThresholdBar", 5, 183, 90},  {"CoarseGainTrackBar", 1, 20, 10},
                          {"SignalGainBar", 0, 20, 10},  {"SpeedTrackBar", 5, 100, 20},
                          {"ToneVolume", 1, 64, 63},     {"ToneFreqBar", 50, 100, 75}};
  for (const Range& r : ranges) {
    SCOPED_TRACE(r.name);
    auto* s = Find<QAbstractSlider>(r.name);
    ASSERT_NE(s, nullptr);
    EXPECT_EQ(s->minimum(), r.minimum);
    EXPECT_EQ(s->maximum(), r.maximum);
    EXPECT_EQ(s->value(), r.value);
  }
  EXPECT_EQ(Find<QScrollBar>("ThresholdBar2")->pageStep(), 10);
  auto* counter = Find<UpDown>("XmitUpDn");
  EXPECT_EQ(counter->Minimum(), 1);
  EXPECT_EQ(counter->Maximum(), 10000);
  EXPECT_EQ(counter->Position(), 1);
  EXPECT_EQ(Find<UpDown>("XmitSpeedUpDn")->Minimum(), 5);
  EXPECT_EQ(Find<QLineEdit>("ScatchPadMemo")->maxLength(), 64);
  EXPECT_EQ(Find<QLineEdit>("RemoteCallMemo")->maxLength(), 64);
  EXPECT_TRUE(Find<QRadioButton>("Rx1Btn")->isChecked());
  EXPECT_FALSE(Find<QRadioButton>("Rx10Btn")->isChecked());
  EXPECT_EQ(W().Timers().Timer1->interval(), 250);
  EXPECT_EQ(W().Timers().SystemTimer->interval(), 1000);
  EXPECT_EQ(W().Timers().TimeoutTimer->interval(), 375);
  EXPECT_FALSE(W().Timers().TimeoutTimer->isActive());
  EXPECT_EQ(W().Timers().TimeoutTimer2->interval(), 375);
  EXPECT_FALSE(W().Timers().TimeoutTimer2->isActive());
}

TEST_F(Composition, CaptionColoursAtCreation) {
  struct Painted {
    const char* name;
    QColor colour;
  };
  const Painted colours[] = {{"TextButton", kRed},  {"ScanButton", kBlue},  {"ManualButton", kBlue},
                             {"SpaceButton", kRed}, {"TxtScrollBtn", kRed}, {"BlankBtn", kBlue},
                             {"SquelchBtn", kBlue}, {"LockWpmBtn", kBlue},  {"XmitButton", kBlue},
                             {"TuneButton", kBlack}};
  for (const Painted& c : colours) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Colour(Find<QPushButton>(c.name)), c.colour);
  }
  auto* learn = Find<QLabel>("LearnPanel");
  EXPECT_EQ(learn->palette().color(QPalette::Window), kSilver);
  EXPECT_EQ(learn->palette().color(QPalette::WindowText), kBlack);
  EXPECT_EQ(Find<QLabel>("OverloadPnl")->palette().color(QPalette::Window), kGreen);
}

TEST_F(Composition, StatusLineCaptionsValuesAndHints) {
  auto text = [&](const char* name) { return Find<QLabel>(name)->text(); };
  EXPECT_EQ(text("SnrCaption"), "SNR (dB) = ");
  EXPECT_EQ(text("SquelchCaption"), " Squelch  =");
  EXPECT_EQ(text("PeakFreqCaption"), " Peak Freq=");
  EXPECT_EQ(text("RecWpmCaption"), " Rec WPM=");
  EXPECT_EQ(text("XmitWpmCaption"), " Xmit WPM=");
  EXPECT_EQ(text("FreqDisplay"), "?");
  EXPECT_EQ(text("TestString"), "?");
  EXPECT_EQ(text("CodeLabel"), "25");
  EXPECT_EQ(Find<QLabel>("AvgSignalCntr")->toolTip(), "Average received signal level");
  EXPECT_EQ(Find<QLabel>("RawSNR_Label")->toolTip(), "Average threshold of the signal level");
  EXPECT_EQ(Find<QLabel>("FreqDisplay")->toolTip(), "Peak frequency in the spectrum");
  EXPECT_EQ(Find<QLabel>("TestString")->toolTip(), "Received words per minute");
  EXPECT_EQ(Find<QLabel>("CodeLabel")->toolTip(), "Transmit words per minute");
}

// One line per menu: captions in order, "-" for separators, "(hidden)" for items that
// exist but are not shown, "[x]" for a check mark, submenus in braces.
QString Dump(const QMenu* menu) {
  QStringList parts;
  for (const QAction* a : menu->actions()) {
    QString item = a->isSeparator() ? QString("-") : a->text();
    if (!a->isVisible()) item += "(hidden)";
    if (a->isChecked()) item += "[x]";
    if (a->menu()) item += ">{" + Dump(a->menu()) + "}";
    parts << item;
  }
  return parts.join('|');
}

TEST_F(Composition, MenuTreeHiddenItemsAndInitialCheckMarks) {
  QStringList serials;
  for (int i = 1; i <= 8; ++i) serials << QString("Serial Port %1(hidden)").arg(i);
  const QStringList expected = {
      "File>{Save Rcv|Save Xmit|Load Xmit|-|Save Form|-|Quit}",
      "Options>{Select Sound Card|Input>{Mic[x]|Right|Left}|Fade Control(hidden)>{ON|OFF[x]}|"
      "Output Port(hidden)>{COM Port|" +
          serials.join('|') +
          "|Printer 1|Printer 2|None[x]|-|Invert Xmit>{Normal[x]|Invert}}|"
          "Stay On Top>{Off[x]|On}|Messaging>{Msgs OFF[x]|Msgs ON}}",
      "Receive>{Op Modes>{Text|Manual}|Threshold>{Quiet|Normal|Noisy|Auto(hidden)|Manual}|"
      "Noise Filter>{Filter On|Filter Off}|"
      "Receive Speed>{Auto|10 wpm|20 wpm|30 wpm|50+ wpm}|Decoder>{Classic[x]|Soft}}",
      "Afc>{Off[x]|Narrow|Medium|Wide|-|AFC Start Freq}",
      "Text>{Case>{Upper|Lower[x]}|Type>{Normal[x]|Bold}|"
      "Size>{Small Font|Normal Font[x]|Medium Font|Large Font}|"
      "Scrolling>{Scrolling On[x]|Scrolling Off}|Spaces>{On[x]|Off}|"
      "Space Time>{Short|Medium[x]|Long}|Prosigns>{Enable[x]|Disable}|"
      "Non English>{Enable|Disable[x]}}",
      "Display>{Type>{Line[x]|Waterfall}|Timeline>{Enable}|Band Map}",
      "Transmit>{Output Device>{Sound Card|Serial Port}|Output Port>{Port Number|None[x]}|"
      "Invert Xmit>{Normal[x]|Invert}|SideTone>{Sound Frequency>{600 hz|750 Hz[x]|1000 Hz}|"
      "Sound Waveform>{Sinewave[x]|SqurareWave}|-|ON|OFF[x]}|"
      "Character Timing>{Show Configuration}|"
      "Transmit Window>{F10 ScatchPad[x]|Contest Window}|Transmit Memory Data}",
      "Help>{Help Menu|About}",
  };
  const QList<QAction*> top = W().menuBar()->actions();
  ASSERT_EQ(top.size(), expected.size());
  for (int i = 0; i < top.size(); ++i) {
    EXPECT_EQ(top[i]->text() + ">{" + Dump(top[i]->menu()) + "}", expected[i]);
  }
}

TEST_F(Composition, ChoosingAnAlternativeMovesTheCheckMarkWithinItsSubmenuOnly) {
  struct Choice {
    const char* chosen;
    const char* cleared;    // a sibling that must lose its mark
    const char* elsewhere;  // an item of another submenu (untouched by the other rows)
  };
  const Choice choices[] = {
      {"Upper1", "Lower1", "Normal1"},
      {"Bold1", "Normal1", "ScrollingOn1"},
      {"LargeFont1", "NormalFont1", "SpacesOn"},
      {"Long1", "Medium2", "SpacesOn"},
      {"Waterfall2", "Spectrum1", "Off1"},
      {"Wide1", "Off1", "Sinewave1"},
      {"DisableEnglish", "EnableEnglish", "ProsignEnable"},
      {"Invert2", "Normal3", "None2"},
      {"Freq3", "Freq2", "Sinewave1"},
      {"ContestWindow", "F10ScratchPad", "None2"},
      {"MsgsON", "MsgsOFF", "Off2"},
  };
  for (const Choice& c : choices) {
    SCOPED_TRACE(c.chosen);
    auto* chosen = Find<QAction>(c.chosen);
    auto* cleared = Find<QAction>(c.cleared);
    cleared->trigger();
    ASSERT_TRUE(cleared->isChecked());
    chosen->trigger();
    EXPECT_TRUE(chosen->isChecked());
    EXPECT_FALSE(cleared->isChecked());
    EXPECT_TRUE(Find<QAction>(c.elsewhere)->isChecked());
    // Choosing the checked item again keeps it checked.
    chosen->trigger();
    EXPECT_TRUE(chosen->isChecked());
  }
  // A submenu with no mark at creation gets one with the first choice.
  Find<QAction>("N35wpm1")->trigger();
  EXPECT_TRUE(Find<QAction>("N35wpm1")->isChecked());
  Find<QAction>("Auto3")->trigger();
  EXPECT_FALSE(Find<QAction>("N35wpm1")->isChecked());
}

TEST_F(Composition, CoarseGainButtonsAreOneRadioGroup) {
  const char* names[] = {"Rx10Btn", "Rx01Btn", "Rx001Btn", "Rx1Btn"};
  for (const char* name : names) {
    Find<QRadioButton>(name)->click();
    for (const char* other : names) {
      EXPECT_EQ(Find<QRadioButton>(other)->isChecked(), QString(other) == name) << name;
    }
  }
}

}  // namespace
}  // namespace kestrix::shell::testing
