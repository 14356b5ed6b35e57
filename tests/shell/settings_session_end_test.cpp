#include "shell/settings_session_end.h"

#include <gtest/gtest.h>

#include <QCloseEvent>
#include <QEventLoop>
#include <QTimer>
#include <QWidget>
#include <csignal>

#include "settings_test_util.h"
#include "shell/settings_file.h"

namespace kestrix {
namespace {

// A window whose close box runs a quit sequence that ends with writing the settings.
class FakeMainWindow : public QWidget {
 public:
  std::string settingsPath;
  int quitCount = 0;

 protected:
  void closeEvent(QCloseEvent* event) override {
    ++quitCount;
    std::string error;
    SaveSettings(settingsPath, DefaultSettings(), error);
    event->accept();
  }
};

// Waits for the watcher's request. The timer only keeps a broken build from hanging; no
// assertion depends on it.
void WaitForRequest(const SessionEndWatcher& watcher, int requestsBefore) {
  QEventLoop loop;
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, [&] {
    if (watcher.Requests() > requestsBefore) loop.quit();
  });
  poll.start(1);
  QTimer::singleShot(10000, &loop, &QEventLoop::quit);
  loop.exec();
}

class QuitSignal : public ::testing::TestWithParam<int> {};

TEST_P(QuitSignal, RunsTheCloseBoxSequenceAndTheSettingsAreWritten) {
  testing::ScratchFolder dir;
  FakeMainWindow window;
  window.settingsPath = dir.File("Kestrix.cfc");
  window.show();
  SessionEndWatcher watcher([&] {
    if (window.quitCount == 0) window.close();
  });
  ASSERT_TRUE(watcher.Active());

  ASSERT_EQ(std::raise(GetParam()), 0);  // would end the test program without the watcher
  WaitForRequest(watcher, 0);

  EXPECT_EQ(watcher.LastSignal(), GetParam());
  EXPECT_EQ(window.quitCount, 1);
  EXPECT_FALSE(window.isVisible());
  EXPECT_EQ(testing::ReadBytes(window.settingsPath).size(), kSettingsFileSize);
}

INSTANTIATE_TEST_SUITE_P(Signals, QuitSignal, ::testing::Values(SIGTERM, SIGINT, SIGHUP));

TEST(SessionEndWatcher, OnlyOneAtATimeAndHandlersComeBackAfterward) {
  struct sigaction before {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &before), 0);
  {
    SessionEndWatcher first([] {});
    SessionEndWatcher second([] {});
    EXPECT_TRUE(first.Active());
    EXPECT_FALSE(second.Active());
  }
  struct sigaction after {};
  ASSERT_EQ(::sigaction(SIGTERM, nullptr, &after), 0);
  EXPECT_EQ(after.sa_handler, before.sa_handler);
}

}  // namespace
}  // namespace kestrix
