// The receive controls' rules without a window: modes and their forced setup after a
// settings load, the start-up tick, the speed button's cycle, the option toggles, the
// space-time cycle, the manual threshold line and click-to-tune.
#include "receive/receive_controller.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "loop_fakes.h"

namespace kestrix {
namespace {

// Writes down what the controller asks the window to show, one line per call.
class RecordingView final : public ReceiveView, public TextSink {
 public:
  std::vector<std::string> calls;
  int loads = 0;

  void ShowScanMode() override { calls.push_back("scan"); }
  void ShowTextMode() override { calls.push_back("text"); }
  void ShowManualMode() override { calls.push_back("manual"); }
  void AfterClear() override { calls.push_back("after-clear"); }
  void FocusTextPane() override { calls.push_back("focus"); }
  void ArmStartupTick() override { calls.push_back("arm-tick"); }
  void ArmAutoStart() override { calls.push_back("arm-auto-start"); }
  void LoadStoredSettings() override { ++loads; }
  void ShowSpeedButton(const char* caption, bool automatic) override {
    calls.push_back(std::string("speed ") + caption + (automatic ? " (auto)" : ""));
  }
  void ShowToggle(ReceiveToggle which, bool on) override {
    calls.push_back("toggle " + std::to_string(static_cast<int>(which)) + (on ? " on" : " off"));
  }
  void ShowSpaceTime(SpaceTime s) override {
    calls.push_back("space " + std::to_string(static_cast<int>(s)));
  }
  void ShowMarker(int hz) override { calls.push_back("marker " + std::to_string(hz)); }
  void RedrawSpectrum() override { calls.push_back("redraw"); }

  // TextSink: the panes the receiver empties.
  void InsertText(const char*, size_t) override {}
  void ClearPanes() override { calls.push_back("clear-panes"); }

  bool Saw(const std::string& call) const {
    for (const std::string& c : calls) {
      if (c == call) return true;
    }
    return false;
  }
};

class ReceiveControllerTest : public ::testing::Test {
 protected:
  test::ScriptedDevice device;
  test::ScriptedHost host;
  RecordingView view;
  Receiver rx{view};
  ReceiveLoop loop{rx, device, host};
  ReceiveController ctl{rx, loop, view};
};

TEST_F(ReceiveControllerTest, ChoosingTheActiveModeAgainDoesNothingUnlessASettingsLoadForcedIt) {
  // Creation's defaults: Text at the buttons' height, a load pending.
  ctl.StartDefaults();
  EXPECT_TRUE(ctl.SettingsLoadPending());
  EXPECT_EQ(ctl.DisplayHeight(), kDisplayHeightButton);

  ctl.ChooseText(ModeSource::kMenu);
  EXPECT_TRUE(view.calls.empty());
  ctl.ForceModeSetup();
  ctl.ChooseText(ModeSource::kMenu);
  EXPECT_FALSE(ctl.ModeSetupForced());
  EXPECT_EQ(ctl.DisplayHeight(), kDisplayHeightMenu);
  // Shown, panes emptied by the receiver, CLEAR's window part, the learning restart armed;
  // reception is not running, so the automatic start is armed too.
  const std::vector<std::string> text = {"text", "clear-panes", "after-clear", "arm-tick",
                                         "arm-auto-start"};
  EXPECT_EQ(view.calls, text);
  EXPECT_TRUE(ctl.LearnRestartPending());

  struct ModeCase {
    void (*choose)(ReceiveController&);
    ReceiveMode mode;
    int height;
    const char* shown;
  };
  const ModeCase cases[] = {
      {[](ReceiveController& c) { c.ChooseScan(); }, ReceiveMode::kScan, kDisplayHeightScan,
       "scan"},
      {[](ReceiveController& c) { c.ChooseManual(ModeSource::kButton); }, ReceiveMode::kManual,
       kDisplayHeightButton, "manual"},
      {[](ReceiveController& c) { c.ChooseManual(ModeSource::kMenu); }, ReceiveMode::kManual,
       kDisplayHeightButton, ""},  // already Manual: nothing, the height stays
      {[](ReceiveController& c) { c.ChooseText(ModeSource::kButton); }, ReceiveMode::kText,
       kDisplayHeightButton, "text"},
  };
  for (const ModeCase& c : cases) {
    view.calls.clear();
    c.choose(ctl);
    EXPECT_EQ(rx.Mode, c.mode);
    EXPECT_EQ(ctl.DisplayHeight(), c.height);
    EXPECT_EQ(view.Saw(c.shown), *c.shown != '\0') << c.shown;
  }
}

TEST_F(ReceiveControllerTest, TheStartupTickLoadsOnceThenSetsUpTextAndRestartsTheLearning) {
  ctl.StartDefaults();
  rx.Timing.SpeedWpm = 22;
  ctl.StartupTick();
  EXPECT_EQ(view.loads, 1);
  EXPECT_FALSE(ctl.SettingsLoadPending());
  // The load leaves Text as the mode, and the Text setup after it is a full one only when
  // the load forced it; without, Text is already active and nothing is redone.
  EXPECT_EQ(rx.Mode, ReceiveMode::kText);
  EXPECT_FALSE(ctl.LearnRestartPending());

  ctl.ForceModeSetup();
  ctl.ChooseText(ModeSource::kButton);
  EXPECT_EQ(rx.Timing.SpeedWpm, 50);  // decoder reset
  ASSERT_TRUE(ctl.LearnRestartPending());
  rx.Timing.Learning = false;
  ctl.StartupTick();
  EXPECT_EQ(view.loads, 1);
  EXPECT_FALSE(ctl.LearnRestartPending());
  EXPECT_TRUE(rx.Timing.Learning);
}

TEST_F(ReceiveControllerTest, SpeedButtonStepsTheRangeSetsTheRateAndClearsOnlyWhileRunning) {
  struct Step {
    ReceiveSpeed before;
    const char* shown;
    ReceiveSpeed after;
  };
  const Step steps[] = {
      {ReceiveSpeed::kAuto, "speed 25 wpm", ReceiveSpeed::k10},
      {ReceiveSpeed::k10, "speed 35 wpm", ReceiveSpeed::k20},
      {ReceiveSpeed::k20, "speed 50 wpm", ReceiveSpeed::k30},
      {ReceiveSpeed::k30, "speed Auto (auto)", ReceiveSpeed::kAuto},
      {ReceiveSpeed::k50Plus, "speed Auto (auto)", ReceiveSpeed::kAuto},
  };
  for (const Step& s : steps) {
    SCOPED_TRACE(s.shown);
    rx.Options.Speed = s.before;
    view.calls.clear();
    ctl.StepSpeedButton();
    EXPECT_EQ(rx.Options.Speed, s.after);
    // The receiver's part of CLEAR (Text mode), then the window's.
    const std::vector<std::string> want = {s.shown, "clear-panes", "after-clear"};
    EXPECT_EQ(view.calls, want);
  }
  EXPECT_EQ(rx.Capture.Format.SamplesPerSecond, kSpeedButtonRate);

  loop.ReceiveStop.store(1);
  view.calls.clear();
  ctl.ChooseReceiveSpeed(ReceiveSpeed::k20);
  EXPECT_EQ(rx.Options.Speed, ReceiveSpeed::k20);
  EXPECT_TRUE(view.calls.empty());
}

TEST_F(ReceiveControllerTest, ButtonsToggleTheirOptionShowItAndGiveTheFocusBack) {
  struct Toggle {
    void (ReceiveController::*press)();
    ReceiveToggle which;
    bool (*on)(const ReceiveOptions&);
  };
  const Toggle toggles[] = {
      {&ReceiveController::ToggleSquelch, ReceiveToggle::kSquelch,
       [](const ReceiveOptions& o) { return o.SquelchOn; }},
      {&ReceiveController::ToggleBlanking, ReceiveToggle::kBlanking,
       [](const ReceiveOptions& o) { return o.BlankingOn; }},
      {&ReceiveController::ToggleLockWpm, ReceiveToggle::kLockWpm,
       [](const ReceiveOptions& o) { return o.LockWpmOn; }},
      {&ReceiveController::ToggleTextOutput, ReceiveToggle::kTextOutput,
       [](const ReceiveOptions& o) { return o.TextOutputOn(); }},
      {&ReceiveController::ToggleWordSpaces, ReceiveToggle::kWordSpaces,
       [](const ReceiveOptions& o) { return o.SpacesOn(); }},
  };
  for (const Toggle& t : toggles) {
    const bool before = t.on(rx.Options);
    for (int press = 0; press < 2; ++press) {
      view.calls.clear();
      (ctl.*t.press)();
      const bool on = t.on(rx.Options);
      EXPECT_NE(on, press == 0 ? before : !before);
      const std::vector<std::string> want = {
          "toggle " + std::to_string(static_cast<int>(t.which)) + (on ? " on" : " off"), "focus"};
      EXPECT_EQ(view.calls, want);
    }
  }
}

TEST_F(ReceiveControllerTest, SpaceTimeCyclesLongShortMedium) {
  rx.Options.Spacing = SpaceTime::kMedium;
  const SpaceTime cycle[] = {SpaceTime::kLong, SpaceTime::kShort, SpaceTime::kMedium,
                             SpaceTime::kLong};
  for (SpaceTime s : cycle) {
    ctl.StepSpaceTime();
    EXPECT_EQ(rx.Options.Spacing, s);
  }
  EXPECT_TRUE(view.Saw("space 0"));
}

TEST_F(ReceiveControllerTest, TheManualThresholdLineIsRedrawnOnlyOnALineGraph) {
  struct Case {
    ReceiveMode mode;
    DisplayType display;
    ThresholdMode threshold;
    bool redrawn;
  };
  const Case cases[] = {
      {ReceiveMode::kText, DisplayType::kLine, ThresholdMode::kManual, true},
      {ReceiveMode::kText, DisplayType::kWaterfall, ThresholdMode::kManual, false},
      {ReceiveMode::kManual, DisplayType::kWaterfall, ThresholdMode::kManual, true},
      {ReceiveMode::kScan, DisplayType::kLine, ThresholdMode::kManual, false},
      {ReceiveMode::kText, DisplayType::kLine, ThresholdMode::kNoisy, false},
  };
  for (const Case& c : cases) {
    rx.Mode = c.mode;
    rx.Display = c.display;
    rx.Options.Threshold = c.threshold;
    view.calls.clear();
    ctl.SetManualThreshold(40);
    EXPECT_EQ(view.Saw("redraw"), c.redrawn);
    EXPECT_EQ(rx.Options.ThresholdBar2Position, 40);
  }
  // Choosing manual applies the bar's position, after the receiver's CLEAR and before the
  // window's.
  rx.Mode = ReceiveMode::kText;
  rx.Display = DisplayType::kLine;
  view.calls.clear();
  ctl.ChooseThreshold(ThresholdMode::kManual, 100);
  EXPECT_DOUBLE_EQ(rx.Detector.Threshold, 150000.0);
  const std::vector<std::string> want = {"clear-panes", "redraw", "after-clear"};
  EXPECT_EQ(view.calls, want);
}

TEST_F(ReceiveControllerTest, ClickToTuneShowsTheMarkerAndReleasesALockedSpeed) {
  ctl.TuneAt(100);
  const std::vector<std::string> unlocked = {"marker 538"};  // 100 * 22050 / 4096
  EXPECT_EQ(view.calls, unlocked);
  ctl.ToggleLockWpm();
  view.calls.clear();
  ctl.TuneAt(600);
  EXPECT_FALSE(rx.Options.LockWpmOn);
  const std::vector<std::string> released = {"marker 2277", "toggle 2 off"};
  EXPECT_EQ(view.calls, released);
}

}  // namespace
}  // namespace kestrix
