// The window's life: creation and the first Timer1 tick with and without a settings file,
// help and About, Stay On Top, the arrow keys, the three quit paths, HandleWaveError, and
// a recording played through the window from start to text.
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFile>
#include <QKeyEvent>
#include <QPlainTextEdit>
#include <QTimer>

#include "platform/file_capture.h"
#include "shell/settings_paths.h"
#include "signalgen/morse_gen.h"
#include "window_fixture.h"

namespace kestrix::shell::testing {
namespace {

class LifeCycle : public WindowTest {};

void Touch(const QString& path) {
  QFile f(path);
  ASSERT_TRUE(f.open(QIODevice::WriteOnly));
}

TEST_F(LifeCycle, WithoutSettingsTheWindowComesUpInTextModeAndWritesNothing) {
  Make().show();
  EXPECT_TRUE(W().Files().SettingsPath.empty());
  EXPECT_TRUE(W().Receive().Controller().SettingsLoadPending());
  EXPECT_FALSE(W().Receive().Controller().ModeSetupForced());
  EXPECT_TRUE(W().Timers().Timer1->isActive());
  EXPECT_TRUE(W().Timers().SystemTimer->isActive());
  EXPECT_EQ(W().Receive().DisplayHeight(), 130);
  // The copy pane sits right above the divider, in the receive pane's place.
  auto* copy = Find<QWidget>("TextPanel");
  EXPECT_EQ(copy->geometry().bottom() + 1, Find<QWidget>("SplitPanel")->geometry().top());

  W().Rx().Timing.Learning = false;
  FirstTick();
  EXPECT_EQ(W().Rx().Mode, ReceiveMode::kText);
  EXPECT_FALSE(W().Receive().Controller().SettingsLoadPending());
  EXPECT_FALSE(
      W().Receive().Controller().LearnRestartPending());  // the same tick ran RestartLearning
  EXPECT_TRUE(W().Rx().Timing.Learning);
  EXPECT_EQ(W().Receive().DisplayHeight(), 120);  // set up through the menu handler
  EXPECT_TRUE(W().Timers().Timer1->isActive());

  // No automatic start without settings: the SystemTimer tick only disarms itself.
  W().Receive().SystemTimerTimer();
  EXPECT_FALSE(W().Timers().SystemTimer->isActive());
  EXPECT_FALSE(W().Loop().Running());
  EXPECT_EQ(W().Loop().BlocksProcessed(), 0);

  W().QuitButtonClick();
  Destroy();
  EXPECT_TRUE(QDir(Home()).entryList(QDir::Files).isEmpty());
}

TEST_F(LifeCycle, FilesAreUsedOnlyWhenTheyAreAlreadyInTheSettingsFolder) {
  Touch(Home() + "/Kestrix.cfc");
  Touch(Home() + "/KestrixHelp.html");
  Make();
  EXPECT_EQ(W().Files().SettingsPath, (Home() + "/Kestrix.cfc").toStdString());
  EXPECT_EQ(W().Files().HelpPath, (Home() + "/KestrixHelp.html").toStdString());
  W().HelpMenu1Click();
  ASSERT_EQ(helpOpened_.size(), 1u);
  EXPECT_EQ(helpOpened_[0], W().Files().HelpPath);
  EXPECT_TRUE(messages_.empty());
  // Without a help file Help says it cannot run.
  W().Files().HelpPath.clear();
  W().HelpMenu1Click();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].text, "Could not run the help application");
  EXPECT_EQ(helpOpened_.size(), 1u);
}

TEST_F(LifeCycle, AboutBoxNamesTheVersionOnItsSecondLine) {
  Make();
  Find<QAction>("About1")->trigger();
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "About Kestrix");
  const std::string& text = messages_[0].text;
  const size_t newline = text.find('\n');
  ASSERT_NE(newline, std::string::npos);
  EXPECT_GT(newline, 0u);
  EXPECT_EQ(text.substr(newline + 1), std::string(13, ' ') + "Version 3.81");
}

TEST_F(LifeCycle, StayOnTopFollowsTheMenu) {
  Make().show();
  W().On1Click();
  EXPECT_TRUE(W().StaysOnTop());
  EXPECT_TRUE(W().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(Find<QAction>("On1")->isChecked());
  EXPECT_FALSE(Find<QAction>("Off2")->isChecked());
  EXPECT_TRUE(W().isVisible());
  Find<QAction>("Off2")->trigger();
  EXPECT_FALSE(W().StaysOnTop());
  EXPECT_FALSE(W().windowFlags().testFlag(Qt::WindowStaysOnTopHint));
  EXPECT_TRUE(W().isVisible());
}

TEST_F(LifeCycle, ArrowKeysTheFormReceivesSwitchTheDisplayType) {
  Make().show();
  W().FormKeyDown(40);
  EXPECT_EQ(W().Rx().Display, DisplayType::kWaterfall);
  EXPECT_TRUE(Find<QAction>("Waterfall2")->isChecked());
  QApplication::setActiveWindow(&W());
  if (QWidget* focus = QApplication::focusWidget()) focus->clearFocus();
  QKeyEvent up(QEvent::KeyPress, Qt::Key_Up, Qt::NoModifier);
  QCoreApplication::sendEvent(&W(), &up);
  EXPECT_EQ(W().Rx().Display, DisplayType::kLine);
  EXPECT_TRUE(Find<QAction>("Spectrum1")->isChecked());
  // A control with the focus keeps the arrow keys from the form, whether it uses them (a
  // pane) or lets them pass (a button).
  for (const char* name : {"Memo2", "ClearButton"}) {
    Find<QWidget>(name)->setFocus();
    ASSERT_EQ(QApplication::focusWidget(), Find<QWidget>(name));
    QKeyEvent down(QEvent::KeyPress, Qt::Key_Down, Qt::NoModifier);
    QCoreApplication::sendEvent(Find<QWidget>(name), &down);
    EXPECT_EQ(W().Rx().Display, DisplayType::kLine) << name;
  }
}

TEST_F(LifeCycle, ButtonMenuAndCloseBoxRunTheSameQuitSequence) {
  const std::vector<std::pair<const char*, std::function<void()>>> paths = {
      {"QUIT PROGRAM", [this] { Find<QPushButton>("QuitButton")->click(); }},
      {"File > Quit", [this] { Find<QAction>("Quit1")->trigger(); }},
      {"close box", [this] { W().close(); }},
  };
  for (const auto& [name, quit] : paths) {
    SCOPED_TRACE(name);
    terminated_ = 0;
    Start();
    W().Timers().TimeoutTimer->start();
    quit();
    EXPECT_EQ(W().QuitCount(), 1);
    EXPECT_EQ(terminated_, 1);
    EXPECT_EQ(W().Loop().ReceiveStop.load(), 1);
    EXPECT_EQ(W().Loop().ReceiveHalted.load(), 1);
    EXPECT_FALSE(W().Timers().TimeoutTimer->isActive());
    EXPECT_FALSE(W().Timers().SystemTimer->isActive());
    EXPECT_EQ(Colour(Find<QPushButton>("StopButton")), kRed);
    Destroy();
  }
}

TEST_F(LifeCycle, WaveErrorOneContinuesEveryOtherCodeQuits) {
  const std::pair<int, int> cases[] = {{1, 0}, {0, 1}, {30, 1}, {26, 1}};
  for (auto [code, quits] : cases) {
    terminated_ = 0;
    Make();
    W().HandleWaveError(code);
    EXPECT_EQ(terminated_, quits) << code;
    EXPECT_EQ(W().QuitCount(), quits) << code;
    Destroy();
  }
}

// The window listening to a recording, as `kestrix --input-file` runs it: reception starts
// by itself, the text arrives in Memo2, and STOP ends the loop.
TEST_F(LifeCycle, RecordingPlayedThroughTheWindowEndsUpInTheReceivePane) {
  kestrix::signalgen::MorseSignalParams p;
  p.wpm = 20;
  p.toneHz = 700;
  p.snrDb = 20;
  p.seed = 3;
  const QString wav = Home() + "/cq.wav";
  ASSERT_TRUE(kestrix::signalgen::WriteWav16(
      wav.toStdString(), kestrix::signalgen::GenerateMorse("VVV VVV CQ DE K1ABC K1ABC TEST", p),
      44100));
  // Unpaced: the recording is handed over as fast as the loop takes it.
  auto file = std::make_unique<FileCapture>(wav.toStdString(), FileCaptureOptions{false, false});
  FileCapture* device = file.get();
  WindowOptions options;
  options.autoStart = true;
  options.tunePosition = 131;  // 700 Hz
  Make(std::move(file), options).show();

  ASSERT_TRUE(PlayToEnd(*device, 8)) << "the loop never reached the end of the recording";

  const std::string text = Memo2()->toPlainText().toStdString();
  EXPECT_NE(text.find("cq de k1abc k1abc test"), std::string::npos) << text;
  EXPECT_EQ(Colour(Find<QPushButton>("TextButton")), kBlue);  // STOP's colouring
  EXPECT_EQ(W().Rx().FrequencyBar, 131);
}

}  // namespace
}  // namespace kestrix::shell::testing
