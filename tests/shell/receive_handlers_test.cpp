// The receive-side handlers: the three modes, CLEAR in each, the receive-speed button and
// menu, space time, Sync, the manual threshold, gain, AFC, click-to-tune, the option
// buttons, the input choice and the sound card dialog.
#include <QLabel>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QRadioButton>
#include <QScrollBar>
#include <QSlider>
#include <QSpinBox>
#include <functional>

#include "display/spectrum_display.h"
#include "shell/afc_start_dialog.h"
#include "shell/sound_card_dialog.h"
#include "shell/up_down.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class ReceiveHandlers : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Start();
  }
  QPlainTextEdit* TextPanel() { return Find<QPlainTextEdit>("TextPanel"); }
  QWidget* Focused() { return W().focusWidget(); }
};

TEST_F(ReceiveHandlers, EachModeShowsItsControlsAndColoursItsButton) {
  struct ModeCase {
    void (ReceiveSide::*handler)();
    ReceiveMode mode;
    int height;
    const char* red;    // the mode button shown in red; the other two are blue
    const char* shown;  // space-separated control names
    const char* hidden;
  };
  const ModeCase cases[] = {
      {&ReceiveSide::ScanButtonClick, ReceiveMode::kScan, 142, "ScanButton", "Image1",
       "SpectrumBox Memo2 TextPanel ThresholdBar2 FrequencyBar"},
      {&ReceiveSide::ManualButtonClick, ReceiveMode::kManual, 130, "ManualButton",
       "SpectrumBox TextPanel ThresholdBar2 FrequencyBar", "Image1 Memo2"},
      {&ReceiveSide::Text2Click, ReceiveMode::kText, 120, "TextButton",
       "SpectrumBox Memo2 ThresholdBar2 FrequencyBar", "Image1 TextPanel"},
      {&ReceiveSide::Manual2Click, ReceiveMode::kManual, 120, "ManualButton",
       "SpectrumBox TextPanel", "Memo2"},
      {&ReceiveSide::TextButtonClick, ReceiveMode::kText, 130, "TextButton", "SpectrumBox Memo2",
       "TextPanel"},
  };
  auto visible = [this](const QString& name) { return W().findChild<QWidget*>(name)->isVisible(); };
  for (const ModeCase& c : cases) {
    SCOPED_TRACE(c.red);
    (W().Receive().*c.handler)();
    EXPECT_EQ(W().Rx().Mode, c.mode);
    EXPECT_EQ(W().Receive().DisplayHeight(), c.height);
    for (const char* b : {"ScanButton", "TextButton", "ManualButton"}) {
      EXPECT_EQ(Colour(Find<QPushButton>(b)), QString(b) == c.red ? kRed : kBlue) << b;
    }
    for (const QString& n : QString(c.shown).split(' ')) EXPECT_TRUE(visible(n)) << n.toStdString();
    for (const QString& n : QString(c.hidden).split(' '))
      EXPECT_FALSE(visible(n)) << n.toStdString();
    EXPECT_EQ(Caption(Find<QPushButton>("TuneButton")), "OFF");
    EXPECT_EQ(Colour(Find<QPushButton>("TuneButton")), kBlack);
    if (c.mode == ReceiveMode::kScan) {
      EXPECT_EQ(Find<QLabel>("LearnPanel")->text(), "NONE");
      EXPECT_TRUE(Find<QPlainTextEdit>("Memo1")->isReadOnly());
    }
    if (c.mode == ReceiveMode::kManual) {
      EXPECT_TRUE(TextPanel()->isEnabled());
      EXPECT_FALSE(TextPanel()->isReadOnly());
      EXPECT_FALSE(Memo2()->isEnabled());
      EXPECT_EQ(Focused(), TextPanel());
    }
    if (c.mode == ReceiveMode::kText) {
      EXPECT_TRUE(Memo2()->isEnabled());
      EXPECT_FALSE(TextPanel()->isEnabled());
      // RestartLearning follows at Timer1's next tick.
      EXPECT_TRUE(W().Receive().Controller().LearnRestartPending());
      EXPECT_TRUE(W().Timers().Timer1->isActive());
    }
    // The box the mode handlers place: one pixel less than the spectrum area.
    EXPECT_EQ(Find<QWidget>("SpectrumBox")->height(), W().Receive().SpectrumHeightRef() - 1);
  }
}

TEST_F(ReceiveHandlers, TextWhileTextKeepsTheTextButAReturnFromManualStartsAfresh) {
  Receive("cq de k1abc");
  W().Rx().Timing.SpeedWpm = 22;
  W().Receive().TextButtonClick();
  W().Receive().Text2Click();
  EXPECT_EQ(Memo2()->toPlainText(), "cq de k1abc");
  EXPECT_EQ(W().Rx().Timing.SpeedWpm, 22);
  EXPECT_EQ(W().Receive().DisplayHeight(), 120);  // unchanged: nothing was redone

  W().Receive().ManualButtonClick();
  TextPanel()->setPlainText("copied by ear");
  W().Receive().TextButtonClick();
  EXPECT_EQ(Memo2()->toPlainText(), "");
  EXPECT_EQ(TextPanel()->toPlainText(), "");
  EXPECT_EQ(W().Rx().Timing.SpeedWpm, 50);  // decoder reset
  EXPECT_TRUE(W().Rx().Timing.Learning);
}

TEST_F(ReceiveHandlers, AfterASettingsLoadTheTextChoiceRedoesItsSetupOnce) {
  Receive("old text");
  W().LoadSettings("");  // raises ForceModeSetup as every load does
  W().Receive().Text2Click();
  EXPECT_EQ(Memo2()->toPlainText(), "");
  EXPECT_FALSE(W().Receive().Controller().ModeSetupForced());
  Receive("new text");
  W().Receive().Text2Click();
  EXPECT_EQ(Memo2()->toPlainText(), "new text");
}

TEST_F(ReceiveHandlers, ClearEmptiesWhatBelongsToTheModeAndFocusesTheTransmitPane) {
  struct ClearCase {
    void (ReceiveSide::*mode)();
    const char* memo2After;
    const char* textPanelAfter;
    bool decoderReset;
  };
  const ClearCase cases[] = {
      {&ReceiveSide::TextButtonClick, "", "", true},
      {&ReceiveSide::ManualButtonClick, "received", "", false},
      {&ReceiveSide::ScanButtonClick, "received", "copied", false},
  };
  for (const ClearCase& c : cases) {
    (W().Receive().*c.mode)();
    Memo2()->setPlainText("received");
    TextPanel()->setPlainText("copied");
    W().Rx().Timing.SpeedWpm = 18;
    W().Receive().ClearButtonClick();
    EXPECT_EQ(Memo2()->toPlainText(), c.memo2After);
    EXPECT_EQ(TextPanel()->toPlainText(), c.textPanelAfter);
    EXPECT_EQ(W().Rx().Timing.SpeedWpm, c.decoderReset ? 50 : 18);
    EXPECT_EQ(Focused(), Find<QWidget>("Memo1"));
  }
}

TEST_F(ReceiveHandlers, FilterButtonStepsTheSpeedRangeAndFrom50PlusGoesToAuto) {
  struct Step {
    ReceiveSpeed before;
    const char* caption;
    QColor colour;
    ReceiveSpeed after;
  };
  const Step steps[] = {
      {ReceiveSpeed::kAuto, "25 wpm", kBlue, ReceiveSpeed::k10},
      {ReceiveSpeed::k10, "35 wpm", kBlue, ReceiveSpeed::k20},
      {ReceiveSpeed::k20, "50 wpm", kBlue, ReceiveSpeed::k30},
      {ReceiveSpeed::k30, "Auto", kRed, ReceiveSpeed::kAuto},
      {ReceiveSpeed::k50Plus, "Auto", kRed, ReceiveSpeed::kAuto},
  };
  auto* button = Find<QPushButton>("FilterButton");
  for (const Step& s : steps) {
    SCOPED_TRACE(s.caption);
    W().Rx().Options.Speed = s.before;
    Receive("abc");
    button->click();
    EXPECT_EQ(Caption(button), s.caption);
    EXPECT_EQ(Colour(button), s.colour);
    EXPECT_EQ(W().Rx().Options.Speed, s.after);
    EXPECT_EQ(Memo2()->toPlainText(), "");  // CLEAR ran
  }
  // The button also halves the capture rate for the next opening of the device.
  EXPECT_EQ(W().Rx().Capture.Format.SamplesPerSecond, 22050u);
  EXPECT_EQ(W().Rx().Capture.Format.AverageBytesPerSecond, 44100u);
}

TEST_F(ReceiveHandlers, SpeedChoicesAfterStopChangeTheValueButClearNothing) {
  W().Receive().N50wpm2Click();
  W().Receive().StopButtonClick();
  EXPECT_EQ(Colour(Find<QPushButton>("StopButton")), kRed);
  EXPECT_EQ(Colour(Find<QPushButton>("StartButton")), kBlack);
  Receive("kept");
  W().Receive().N35wpm1Click();
  EXPECT_EQ(W().Rx().Options.Speed, ReceiveSpeed::k20);
  EXPECT_TRUE(Find<QAction>("N35wpm1")->isChecked());
  Find<QPushButton>("FilterButton")->click();
  EXPECT_EQ(W().Rx().Options.Speed, ReceiveSpeed::k30);
  EXPECT_EQ(Memo2()->toPlainText(), "kept");
  // The button leaves the menu's mark where it was.
  EXPECT_TRUE(Find<QAction>("N35wpm1")->isChecked());

  W().Loop().ReceiveStop.store(0);
  W().Receive().Auto3Click();
  EXPECT_EQ(Memo2()->toPlainText(), "");
}

TEST_F(ReceiveHandlers, RunOnButtonCyclesTheSpaceTimeWithoutTheMenu) {
  auto* button = Find<QPushButton>("RunOnButton");
  struct Press {
    const char* caption;
    QColor colour;
    SpaceTime spacing;
  };
  const Press presses[] = {{"LONG", kBlue, SpaceTime::kLong},
                           {"SHORT", kBlue, SpaceTime::kShort},
                           {"MEDIUM", kRed, SpaceTime::kMedium},
                           {"LONG", kBlue, SpaceTime::kLong}};
  for (const Press& p : presses) {
    button->click();
    EXPECT_EQ(Caption(button), p.caption);
    EXPECT_EQ(Colour(button), p.colour);
    EXPECT_EQ(W().Rx().Options.Spacing, p.spacing);
    EXPECT_TRUE(Find<QAction>("Medium2")->isChecked());
  }
  W().Receive().Short1Click();
  EXPECT_EQ(W().Rx().Options.Spacing, SpaceTime::kShort);
  EXPECT_TRUE(Find<QAction>("Short1")->isChecked());
}

TEST_F(ReceiveHandlers, SyncCopiesTheReceiveSpeedWithinTheTransmitRange) {
  const std::pair<int, int> cases[] = {{3, 5}, {140, 100}, {37, 37}};
  for (auto [raw, expected] : cases) {
    W().Rx().Timing.RawWpm = raw;
    Find<QPushButton>("SyncBtn")->click();
    EXPECT_EQ(Find<QSlider>("SpeedTrackBar")->value(), expected) << raw;
    EXPECT_EQ(Find<QLabel>("CodeLabel")->text(), QString::number(expected));
    EXPECT_EQ(Find<QLabel>("XmitSpeedPnl")->text(), QString::number(expected));
  }
}

TEST_F(ReceiveHandlers, ManualThresholdUsesTheBarAtFullScale) {
  Find<QScrollBar>("ThresholdBar2")->setValue(100);
  W().Receive().Manual3Click();
  EXPECT_EQ(W().Rx().Options.Threshold, ThresholdMode::kManual);
  EXPECT_DOUBLE_EQ(W().Rx().Detector.Threshold, 250000.0 - 1000.0 * 100);
  EXPECT_EQ(W().Rx().Detector.T, 150000);
  EXPECT_TRUE(Find<QAction>("Manual3")->isChecked());
  Find<QScrollBar>("ThresholdBar2")->setValue(40);
  EXPECT_DOUBLE_EQ(W().Rx().Detector.Threshold, 210000.0);
  // The second bar only re-syncs from the first.
  Find<QScrollBar>("ThresholdBar")->setValue(150);
  EXPECT_DOUBLE_EQ(W().Rx().Detector.Threshold, 210000.0);
  W().Receive().Noisy2Click();
  EXPECT_EQ(W().Rx().Options.Threshold, ThresholdMode::kNoisy);
  EXPECT_FALSE(Find<QAction>("Manual3")->isChecked());
}

TEST_F(ReceiveHandlers, GainControlsSetTheSpectrumGainAndGiveTheFocusBack) {
  struct Coarse {
    const char* button;
    float factor;
  };
  const Coarse coarse[] = {
      {"Rx10Btn", 4e-11f}, {"Rx1Btn", 4e-12f}, {"Rx01Btn", 4e-13f}, {"Rx001Btn", 4e-14f}};
  Find<QWidget>("Memo1")->setFocus();
  for (const Coarse& c : coarse) {
    Find<QRadioButton>(c.button)->click();
    EXPECT_FLOAT_EQ(W().Rx().Gain.CoarseFactor, c.factor) << c.button;
    EXPECT_FLOAT_EQ(W().Rx().Gain.SpectrumGain, 1000.0f * c.factor);
  }
  EXPECT_EQ(Focused(), Memo2());
  Find<QSlider>("CoarseGainTrackBar")->setValue(20);
  EXPECT_FLOAT_EQ(W().Rx().Gain.CoarseFactor, 0.002f);
  Find<QSlider>("SignalGainBar")->setValue(0);
  EXPECT_FLOAT_EQ(W().Rx().Gain.SpectrumGain, 0.0f);
  Find<QSlider>("SignalGainBar")->setValue(20);
  EXPECT_FLOAT_EQ(W().Rx().Gain.GainBase, 4000.0f);
}

TEST_F(ReceiveHandlers, AfcMenuSetsModeAndSearchWidth) {
  struct Afc {
    const char* item;
    int on;
    AfcMode mode;
    int halfWidth;
  };
  const Afc cases[] = {{"Narrow1", 1, AfcMode::kNarrow, 20},
                       {"Medium1", 1, AfcMode::kMedium, 80},
                       {"Wide1", 1, AfcMode::kWide, 400},
                       {"Off1", 0, AfcMode::kOff, 10}};
  for (const Afc& c : cases) {
    Find<QAction>(c.item)->trigger();
    EXPECT_EQ(W().Rx().Tone.AfcOn, c.on) << c.item;
    EXPECT_EQ(W().Rx().Tone.Mode, c.mode);
    EXPECT_EQ(W().Rx().Tone.AfcHalfWidth, c.halfWidth);
    EXPECT_TRUE(Find<QAction>(c.item)->isChecked());
  }
}

TEST_F(ReceiveHandlers, AfcStartDialogStoresOnlyWhatSetFrequencyConfirms) {
  AfcStartDialog& dialog = W().AfcStartForm();
  Find<QAction>("AFCStartFreq")->trigger();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.windowTitle(), "AFC Start Frequency");
  QSpinBox* spin = dialog.AFCStartSpinBtn();
  EXPECT_EQ(spin->minimum(), 100);
  EXPECT_EQ(spin->maximum(), 1500);
  EXPECT_EQ(spin->singleStep(), 10);
  EXPECT_EQ(spin->value(), 600);
  spin->setValue(750);
  W().Receive().AFCStartBtnClick();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(W().Rx().Tone.AfcStartFrequency, 750);
  W().Receive().AFCStartFreqClick();
  spin->setValue(900);
  W().Receive().AFCStartCancelBtnClick();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(W().Rx().Tone.AfcStartFrequency, 750);
}

TEST_F(ReceiveHandlers, ClickOnTheSpectrumTunesAndUnlocksTheSpeed) {
  Find<QPushButton>("LockWpmBtn")->click();
  ASSERT_TRUE(W().Rx().Options.LockWpmOn);
  emit Find<SpectrumDisplay>("SpectrumBox")->mouseDown(600);
  EXPECT_EQ(Find<QScrollBar>("FrequencyBar")->value(), 423);
  EXPECT_EQ(W().Rx().FrequencyBar, 423);
  EXPECT_EQ(Find<QLineEdit>("MkrLabel")->text(), "2277");
  EXPECT_FALSE(W().Rx().Options.LockWpmOn);
  EXPECT_EQ(Caption(Find<QPushButton>("LockWpmBtn")), "OFF");
  EXPECT_EQ(Colour(Find<QPushButton>("LockWpmBtn")), kBlue);
  EXPECT_EQ(W().Rx().Timing.SpeedWpm, 50);

  W().Receive().SpectrumBoxMouseDown(100);
  EXPECT_EQ(Find<QScrollBar>("FrequencyBar")->value(), 100);
  EXPECT_EQ(Find<QLineEdit>("MkrLabel")->text(), "538");  // 100 * 22050 / 4096
  // Dragging the bar retunes the receiver.
  Find<QScrollBar>("FrequencyBar")->setValue(130);
  EXPECT_EQ(W().Rx().FrequencyBar, 130);
}

TEST_F(ReceiveHandlers, OptionButtonsToggleWithTheirCaptionColours) {
  struct Toggle {
    const char* button;
    std::function<bool(const ReceiveOptions&)> on;
    QColor offColour;
  };
  const Toggle toggles[] = {
      {"SquelchBtn", [](const ReceiveOptions& o) { return o.SquelchOn; }, kBlue},
      {"BlankBtn", [](const ReceiveOptions& o) { return o.BlankingOn; }, kBlue},
      {"LockWpmBtn", [](const ReceiveOptions& o) { return o.LockWpmOn; }, kBlue},
      {"TxtScrollBtn", [](const ReceiveOptions& o) { return o.TextOutputOn(); }, kBlue},
      {"SpaceButton", [](const ReceiveOptions& o) { return o.SpacesOn(); }, kBlack},
  };
  for (const Toggle& t : toggles) {
    SCOPED_TRACE(t.button);
    auto* b = Find<QPushButton>(t.button);
    const bool before = t.on(W().Rx().Options);
    for (int press = 0; press < 2; ++press) {
      b->click();
      const bool on = t.on(W().Rx().Options);
      EXPECT_NE(on, press == 0 ? before : !before);
      EXPECT_EQ(Caption(b), on ? "ON" : "OFF");
      EXPECT_EQ(Colour(b), on ? kRed : t.offColour);
    }
  }
  // Lock WPM holds the speed it had when it was switched on.
  W().Rx().Timing.SpeedWpm = 27;
  Find<QPushButton>("LockWpmBtn")->click();
  EXPECT_EQ(W().Rx().Timing.LockedWpm, 27);
}

TEST_F(ReceiveHandlers, InputChoiceHintsAndRestartsOnlyOutsideTheSettingsLoad) {
  ASSERT_FALSE(W().Receive().Controller().SettingsLoadPending());
  W().Receive().LeftInputClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "Operating Hint");
  EXPECT_EQ(messages_[0].text, "Be sure to set the mixer panel recording input to Line in");
  EXPECT_TRUE(Find<QAction>("LeftInput")->isChecked());
  EXPECT_FALSE(Find<QAction>("MicInput")->isChecked());
  EXPECT_EQ(W().Rx().Capture.Channel, ChannelMode::kLeft);
  EXPECT_EQ(W().Loop().AutoStartPending.load(), 1);
  EXPECT_EQ(W().Loop().RestartRequested.load(), 1);
  EXPECT_TRUE(W().Timers().SystemTimer->isActive());

  Find<QAction>("MicInput")->trigger();
  ASSERT_EQ(messages_.size(), 2u);
  EXPECT_EQ(messages_[1].text, "Be sure to set the mixer panel recording input to Microphone");

  W().Receive().Controller().SetSettingsLoadPending(true);
  W().Receive().RightInputClick();
  EXPECT_EQ(messages_.size(), 2u);
  EXPECT_TRUE(Find<QAction>("RightInput")->isChecked());
}

// Three cards; the second refuses to open.
class SoundCard : public WindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    Start(std::make_unique<FakeCapture>(3, 1));
  }
};

TEST_F(SoundCard, UpDownStopsAtTheLastCardAndSelectRestartsOnIt) {
  SoundCardDialog& dialog = W().SoundCardForm();
  Find<QAction>("SelectSoundCard")->trigger();
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(W().Loop().TxActive.load(), 1);  // the loop idles meanwhile
  dialog.WaveUpDown()->SetPosition(3);
  dialog.WaveUpDownClick();
  EXPECT_EQ(dialog.WaveUpDown()->Position(), 2);
  EXPECT_EQ(dialog.SoundCardManf()->text(), "Card 2");
  EXPECT_EQ(dialog.CloseBtn()->text(), "Select");
  dialog.CloseBtn()->click();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(W().Rx().Capture.InputDevice, 2);
  EXPECT_EQ(W().Loop().TxActive.load(), 0);
  EXPECT_EQ(W().Loop().AutoStartPending.load(), 1);
  EXPECT_TRUE(W().Timers().SystemTimer->isActive());
  EXPECT_TRUE(messages_.empty());
}

TEST_F(SoundCard, ARefusedCardKeepsTheDialogOpenOnCardZero) {
  SoundCardDialog& dialog = W().SoundCardForm();
  W().Receive().SelectSoundCardClick();
  dialog.WaveUpDown()->SetPosition(1);
  dialog.WaveUpDownClick();
  dialog.CloseBtnClick();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "Wave Device Message");
  EXPECT_EQ(messages_[0].text, "Error Opening Input wave device, try a different device");
  EXPECT_TRUE(dialog.isVisible());
  EXPECT_EQ(dialog.WaveUpDown()->Position(), 0);
  EXPECT_EQ(dialog.SoundCardManf()->text(), "Card 0");
  EXPECT_EQ(W().Rx().Capture.InputDevice, 0);
  // Closing by the frame resumes reception on the current device.
  dialog.close();
  EXPECT_FALSE(dialog.isVisible());
  EXPECT_EQ(W().Loop().TxActive.load(), 0);
  EXPECT_EQ(W().Loop().AutoStartPending.load(), 1);
}

}  // namespace
}  // namespace kestrix::shell::testing
