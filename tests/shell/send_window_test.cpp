// The window's sending, typed into Memo1 with QTest on a recording key line and a fake
// clock: keys as typed, Alt+D presses SEND, screen mode sends the pane, F10 is swallowed.
#include <QMenuBar>
#include <QTest>

#include <chrono>
#include <functional>
#include <thread>

#include "shell/main_window.h"
#include "shell/sending_window_fixture.h"
#include "shell/up_down.h"
#include "shell/window_transmit_host.h"
#include "transmit/fake_line.h"
#include "transmit/line_reader.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell::testing {
namespace {

class SendWindow : public SendingWindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    StartSending(clock_);
  }
  bool Idle() {
    const TransmitState& tx = W().Tx();
    return tx.SendActive == 0 && tx.SendingState == 0 && W().Loop().TxActive == 0;
  }
  QPlainTextEdit* Memo1() { return W().TransmitControls().Memo1; }
};

TEST_F(SendWindow, TypedTextKeysAsTyped) {
  W().Transmitter().XmitButtonClick();
  EXPECT_EQ(Caption(W().TransmitControls().XmitButton), "ON");
  ASSERT_EQ(messages_.size(), 1u);
  EXPECT_EQ(messages_[0].title, "Communications I/O Error");
  QTest::keyClicks(Memo1(), "cq test");
  // Idle again: the speed spinner comes back once the queue is found drained.
  ASSERT_TRUE(WaitFor([&] {
    return Sent() == "CQ TEST" && Idle() && W().TransmitControls().XmitSpeedUpDn->isEnabled();
  })) << Sent();
  EXPECT_EQ(Memo1()->toPlainText(), "cq test");
}

TEST_F(SendWindow, AltDPressesSendAndF10IsSwallowed) {
  Memo1()->setFocus();
  QTest::keyClick(Memo1(), Qt::Key_D, Qt::AltModifier);
  ASSERT_TRUE(WaitFor([&] { return !messages_.empty(); }));
  EXPECT_EQ(messages_[0].text, "Xmit Enable must be ON");
  const int before = W().Transmitter().KeyQueueWrite.load();
  QTest::keyClick(Memo1(), Qt::Key_F10);
  EXPECT_EQ(Memo1()->toPlainText(), "");
  EXPECT_FALSE(W().menuBar()->activeAction());
  EXPECT_GE(W().Transmitter().KeyQueueWrite.load() + W().Transmitter().KeyQueueRead.load(),
            before == 0 ? 0 : 1);
}

TEST_F(SendWindow, ScreenModeSendsThePaneAndRestoresTheControls) {
  W().Transmitter().XmitButtonClick();
  messages_.clear();
  W().TransmitControls().MsgButton14->click();
  EXPECT_EQ(Colour(W().TransmitControls().MsgButton14), kRed);
  QTest::keyClicks(Memo1(), "hi");
  W().TransmitControls().SendBtn->click();
  EXPECT_EQ(Colour(W().TransmitControls().SendBtn), kRed);
  EXPECT_TRUE(Memo1()->isReadOnly());
  ASSERT_TRUE(WaitFor([&] { return Sent() == "HI" && Idle(); })) << Sent();
  EXPECT_EQ(W().Tx().Buffer(14), "hi");
  EXPECT_EQ(Colour(W().TransmitControls().SendBtn), kBlue);
  EXPECT_FALSE(Memo1()->isReadOnly());
  EXPECT_TRUE(messages_.empty());
}

// Real-time waits of a couple of milliseconds, so a send is still going out when the test
// acts on it.
class SlowClock final : public transmit::Waiter {
 public:
  void WaitMs(int32_t) override { std::this_thread::sleep_for(std::chrono::milliseconds(2)); }
};

TEST_F(SendWindow, StopAndQuitEndARunningSendWithTheKeyUp) {
  struct Case {
    const char* name;
    std::function<void(MainWindow&)> act;
  };
  const Case cases[] = {
      {"STOP", [](MainWindow& w) { w.Receive().StopButtonClick(); }},
      {"quit", [](MainWindow& w) { w.QuitButtonClick(); }},
      {"window destroyed", [](MainWindow&) {}},
  };
  for (const Case& c : cases) {
    SlowClock slow;
    test::FakeKeyLine line(clock_);
    WindowSeams seams;
    seams.message = [](const std::string&, const std::string&) {};
    seams.terminate = [] {};
    seams.sleep = [](int) {};
    seams.keyLine = &line;
    seams.keyWaiter = &slow;
    auto w = std::make_unique<MainWindow>(std::make_unique<FakeCapture>(), WindowOptions{}, seams);
    w->Timer1Timer();
    w->Transmitter().StartWorkers();
    ASSERT_TRUE(WaitFor([&] { return !w->Transmitter().BufferSendRunning(); })) << c.name;
    w->Transmitter().XmitButtonClick();
    w->Transmitter().MsgButton14Click();
    w->TransmitControls().Memo1->setPlainText(QString(200, QChar('5')));
    w->Transmitter().SendBtnClick();
    ASSERT_TRUE(WaitFor([&] { return line.Edges().size() >= 4; })) << c.name;
    c.act(*w);
    w.reset();  // joins the send threads; each ends after its current character
    const auto edges = line.Edges();
    ASSERT_FALSE(edges.empty()) << c.name;
    EXPECT_EQ(edges.back().state, transmit::kKeyUp) << c.name;
    EXPECT_LT(edges.size(), 200u * 10u) << c.name << ": the send did not run to its end";
  }
}

}  // namespace
}  // namespace kestrix::shell::testing
