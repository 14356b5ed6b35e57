// Network keying from the window: a logger's datagrams over the loopback are typed into
// the transmit pane, keyed on a recording key line, and answered with the caret echo.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QPlainTextEdit>
#include <QSlider>

#include <chrono>
#include <functional>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "shell/cwdaemon_link.h"
#include "shell/main_window.h"
#include "shell/sending_window_fixture.h"
#include "transmit/element_timing.h"
#include "transmit/fake_line.h"
#include "transmit/key_translation.h"
#include "transmit/line_reader.h"
#include "transmit/morse_send_table.h"
#include "transmit/transmit_controller.h"

namespace kestrix::shell::testing {
namespace {

// A logger's end: an unconnected UDP socket on the loopback.
class Logger {
 public:
  Logger() : fd_(socket(AF_INET, SOCK_DGRAM, 0)) {}
  ~Logger() {
    if (fd_ >= 0) close(fd_);
  }
  bool Send(uint16_t port, const std::string& datagram) {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return sendto(fd_, datagram.data(), datagram.size(), 0, reinterpret_cast<sockaddr*>(&to),
                  sizeof to) == static_cast<ssize_t>(datagram.size());
  }
  // Whatever has come back so far, without waiting.
  std::string Replies() {
    char buf[512];
    for (;;) {
      const ssize_t n = recv(fd_, buf, sizeof buf, MSG_DONTWAIT);
      if (n <= 0) break;
      replies_.append(buf, static_cast<size_t>(n));
    }
    return replies_;
  }

 private:
  int fd_;
  std::string replies_;
};

// The fake clock, optionally pausing a millisecond per wait so a message is still going
// out when the test acts on it.
class PacedClock final : public transmit::Waiter {
 public:
  explicit PacedClock(test::FakeClock& clock) : clock_(clock) {}
  void WaitMs(int32_t ms) override {
    clock_.WaitMs(ms);
    if (paced) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  std::atomic<bool> paced{false};

 private:
  test::FakeClock& clock_;
};

// ESC and a request.
std::string Esc(const std::string& request) {
  return "\x1b" + request;
}

class CwdaemonWindow : public SendingWindowTest {
 protected:
  void SetUp() override {
    WindowTest::SetUp();
    StartSending(paced_);
    if (HasFatalFailure()) return;
    link_ = std::make_unique<CwdaemonLink>(W(), log_);
    transmit::CwdaemonServerOptions serve;
    serve.port = 0;  // any free port
    std::string error;
    ASSERT_TRUE(link_->Start(serve, error)) << error;
  }
  void TearDown() override {
    link_.reset();
    SendingWindowTest::TearDown();
  }
  bool LineUp() {
    const auto edges = line_.Edges();
    return edges.empty() || edges.back().state == transmit::kKeyUp;
  }
  QString Pane() { return W().TransmitControls().Memo1->toPlainText(); }
  bool Send(const std::string& datagram) { return logger_.Send(link_->Port(), datagram); }

  PacedClock paced_{clock_};
  std::ostringstream log_;
  std::unique_ptr<CwdaemonLink> link_;
  Logger logger_;
};

TEST_F(CwdaemonWindow, MessagesAreTypedIntoThePaneKeyedAndEchoedInOrder) {
  W().Transmitter().XmitButtonClick();
  messages_.clear();  // no output port: code practice
  ASSERT_TRUE(Send(Esc("230")));
  ASSERT_TRUE(WaitFor([&] { return W().Tx().SpeedWpm == 30; }));
  EXPECT_EQ(W().TransmitControls().SpeedTrackBar->value(), 30);
  // Two messages back to back: each echo only once its own text has gone out.
  ASSERT_TRUE(Send("CQ?^"));
  ASSERT_TRUE(Send("de k1abc/p^"));
  ASSERT_TRUE(WaitFor([&] { return !logger_.Replies().empty(); }));
  EXPECT_EQ(logger_.Replies().substr(0, 5), "CQ?\r\n");
  EXPECT_EQ(Sent().substr(0, 3), "CQ?");
  ASSERT_TRUE(WaitFor([&] { return logger_.Replies() == "CQ?\r\nde k1abc/p\r\n"; }))
      << logger_.Replies() << " / " << Sent();
  EXPECT_EQ(Sent(), "CQ?DE K1ABC/P");
  EXPECT_EQ(Pane(), "CQ?de k1abc/p");
  EXPECT_EQ(link_->Sink().Pending(), 0u);
  EXPECT_EQ(W().Tx().KeyState.load(), transmit::kKeyUp);
  for (const Message& m : messages_) ADD_FAILURE() << m.title << ": " << m.text;
}

// '+' / '-' change the speed for the characters after them and the message's end puts
// the speed back: the dot of each "E" is keyed at 20, 24 and 14 wpm.
TEST_F(CwdaemonWindow, InlineSpeedStepsApplyToTheCharactersAfterThem) {
  W().Transmitter().XmitButtonClick();
  messages_.clear();
  ASSERT_TRUE(Send(Esc("220")));
  ASSERT_TRUE(WaitFor([&] { return W().Tx().SpeedWpm == 20; }));
  ASSERT_TRUE(Send("E++E-----E^"));
  ASSERT_TRUE(WaitFor([&] { return logger_.Replies() == "E++E-----E\r\n"; })) << Sent();
  std::vector<int64_t> marks;
  const auto edges = line_.Edges();
  for (size_t i = 1; i < edges.size(); ++i)
    if (edges[i - 1].state == transmit::kKeyDown && edges[i].state == transmit::kKeyUp)
      marks.push_back(edges[i].atMs - edges[i - 1].atMs);
  std::vector<int64_t> want;
  for (const int wpm : {20, 24, 14})
    want.push_back(transmit::ComputeElementTimingValues(wpm, W().Tx().Ratios()).DotMs);
  EXPECT_EQ(marks, want) << line_.Describe();
  EXPECT_EQ(W().Tx().SpeedWpm, 20);
  EXPECT_EQ(W().TransmitControls().SpeedTrackBar->value(), 20);
  EXPECT_EQ(Pane(), "EEE");
}

TEST_F(CwdaemonWindow, WithXmitEnableOffNothingIsKeyedOrEchoed) {
  ASSERT_EQ(W().Tx().XmitEnable.load(), 0);
  ASSERT_TRUE(Send("TEST^"));
  ASSERT_TRUE(WaitFor([&] { return log_.str().find("Xmit Enable is OFF") != std::string::npos; }))
      << log_.str();
  // A later datagram is handled after the refused one: by then any echo would be back.
  ASSERT_TRUE(Send(Esc("225")));
  ASSERT_TRUE(WaitFor([&] { return W().Tx().SpeedWpm == 25; }));
  EXPECT_EQ(logger_.Replies(), "");
  EXPECT_EQ(Pane(), "");
  EXPECT_TRUE(line_.Edges().empty());
  EXPECT_TRUE(messages_.empty());  // no message box for a logger's request
}

TEST_F(CwdaemonWindow, AbortStopsTheMessageWithTheKeyUpAndTheNextOneGoesOut) {
  W().Transmitter().XmitButtonClick();
  messages_.clear();
  paced_.paced = true;
  const std::string text = "PARIS PARIS PARIS PARIS PARIS PARIS PARIS PARIS";
  ASSERT_TRUE(Send(text + "^"));
  ASSERT_TRUE(WaitFor([&] { return Sent().size() >= 2; })) << Sent();
  ASSERT_TRUE(Send(Esc("4")));
  auto& txc = W().Transmitter();
  ASSERT_TRUE(WaitFor([&] {
    return link_->Sink().Pending() == 0 && txc.KeyQueueRead.load() >= txc.KeyQueueWrite.load();
  }));
  // The character being keyed is finished; the next message follows it and is echoed,
  // the aborted one is not.
  paced_.paced = false;
  ASSERT_TRUE(Send("OK^"));
  ASSERT_TRUE(WaitFor([&] { return logger_.Replies() == "OK\r\n"; }))
      << logger_.Replies() << " / " << Sent();
  const std::string sent = Sent();
  ASSERT_GE(sent.size(), 2u);
  EXPECT_EQ(sent.substr(sent.size() - 2), "OK");
  const std::string cut = sent.substr(0, sent.size() - 2);
  EXPECT_LT(cut.size(), text.size()) << sent;
  EXPECT_EQ(text.substr(0, cut.size()), cut);
  EXPECT_TRUE(LineUp());
  EXPECT_EQ(W().Tx().KeyState.load(), transmit::kKeyUp);
}

TEST_F(CwdaemonWindow, TuneNeedsXmitEnableAndEndsByItselfOrOnRequest) {
  const TransmitState& tx = W().Tx();
  ASSERT_TRUE(Send(Esc("c5")));
  ASSERT_TRUE(WaitFor([&] { return log_.str().find("not tuning") != std::string::npos; }));
  EXPECT_EQ(tx.TuneActive.load(), 0);
  EXPECT_TRUE(messages_.empty());
  W().Transmitter().XmitButtonClick();
  messages_.clear();
  ASSERT_TRUE(Send(Esc("c1")));
  ASSERT_TRUE(WaitFor([&] { return tx.TuneActive.load() == 1; }));
  EXPECT_EQ(tx.KeyState.load(), transmit::kKeyDown);
  ASSERT_TRUE(WaitFor([&] { return tx.TuneActive.load() == 0; }));  // after its second
  EXPECT_EQ(tx.KeyState.load(), transmit::kKeyUp);
  // Text waits for the tune to end.
  ASSERT_TRUE(Send(Esc("c9")));
  ASSERT_TRUE(WaitFor([&] { return tx.TuneActive.load() == 1; }));
  ASSERT_TRUE(Send("E^"));
  ASSERT_TRUE(WaitFor([&] { return link_->Sink().Pending() == 1; }));
  ASSERT_TRUE(Send(Esc("c0")));
  ASSERT_TRUE(WaitFor([&] { return logger_.Replies() == "E\r\n"; }));
  EXPECT_EQ(tx.TuneActive.load(), 0);
  EXPECT_EQ(Sent(), "E");
  EXPECT_EQ(tx.KeyState.load(), transmit::kKeyUp);
  // A tune while text goes out is refused.
  paced_.paced = true;
  ASSERT_TRUE(Send("PARIS PARIS PARIS PARIS^"));
  ASSERT_TRUE(WaitFor([&] { return Sent().size() > 2; }));
  ASSERT_TRUE(Send(Esc("c5")));
  ASSERT_TRUE(WaitFor([&] { return log_.str().find("while text") != std::string::npos; }));
  EXPECT_EQ(tx.TuneActive.load(), 0);
  paced_.paced = false;
  ASSERT_TRUE(WaitFor([&] { return logger_.Replies() == "E\r\nPARIS PARIS PARIS PARIS\r\n"; }));
  EXPECT_TRUE(messages_.empty());
}

// Every character the headless keyer keys is typed with a key that keys the same Morse,
// and the characters no key types have no Morse of their own.
TEST(TypedKeyFor, KeysTheSameMorseAsTheCharacter) {
  const auto& table = transmit::SendTable();
  for (int c = 0x20; c < 0x7F; ++c) {
    int32_t key = 0;
    bool shift = false;
    const auto own = table.Pattern(static_cast<uint8_t>(c));
    if (TypedKeyFor(static_cast<char>(c), key, shift)) {
      const int32_t code = transmit::TranslateKey(key, shift);
      ASSERT_GE(code, 0);
      ASSERT_LT(code, 256);
      EXPECT_EQ(table.Pattern(static_cast<uint8_t>(code)), own) << static_cast<char>(c);
      EXPECT_FALSE(own.empty()) << static_cast<char>(c);
    } else {
      EXPECT_TRUE(own.empty()) << static_cast<char>(c);
    }
  }
}

}  // namespace
}  // namespace kestrix::shell::testing
