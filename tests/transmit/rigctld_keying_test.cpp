#include "transmit/rigctld_keying.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "cli/send_cwdaemon.h"
#include "cli/send_rigctld.h"
#include "cli/send_tone.h"
#include "cwdaemon_rig.h"
#include "fake_playback.h"
#include "platform/monotonic_wait.h"
#include "rigctld_fixture.h"
#include "transmit/cwdaemon.h"

namespace kestrix::transmit {
namespace {

using test::RecordingProxy;
using test::RigctldProcess;

TEST(RigctldAddress, Forms) {
  struct Case {
    const char* text;
    bool ok;
    const char* host;
    const char* port;
  };
  for (const Case& c :
       {Case{"127.0.0.1:4532", true, "127.0.0.1", "4532"},
        Case{"localhost", true, "localhost", "4532"}, Case{"[::1]:4533", true, "::1", "4533"},
        Case{"rig.local:1", true, "rig.local", "1"}, Case{":4532", false, "", ""},
        Case{"host:", false, "", ""}, Case{"host:0", false, "", ""},
        Case{"host:65536", false, "", ""}, Case{"::1:4532", false, "", ""},
        Case{"[::1", false, "", ""}, Case{"", false, "", ""}}) {
    SCOPED_TRACE(c.text);
    std::string host = "unchanged", port, error;
    EXPECT_EQ(ParseRigctldAddress(c.text, host, port, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(host, c.host);
      EXPECT_EQ(port, c.port);
    } else {
      EXPECT_EQ(host, "unchanged");
      EXPECT_NE(error.find("--rigctld"), std::string::npos) << error;
    }
  }
}

TEST(RigctldKeyerText, UnitsAndTheCharactersARigKeyerTakes) {
  EXPECT_EQ(MorseUnits("PARIS "), 50);
  EXPECT_EQ(MorseUnits("paris "), 50);
  EXPECT_EQ(MorseUnits("E"), 4);
  EXPECT_EQ(MorseUnits("%"), 0);
  EXPECT_EQ(RigKeyerText("cq de k1abc/p 5nn? <%>#"), "CQ DE K1ABC/P 5NN? ");
}

// A rigctld behind a recording proxy; the tests skip without rigctld.
class RigctldTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const std::string exe = test::FindRigctld();
    if (exe.empty()) GTEST_SKIP() << "rigctld not installed (Debian: libhamlib-utils)";
    rigctld_ = std::make_unique<RigctldProcess>(exe);
    ASSERT_TRUE(rigctld_->Running()) << "rigctld did not start";
    proxy_ = std::make_unique<RecordingProxy>(rigctld_->Port());
  }
  cli::RigctldSendOptions SendOptions(int wpm) const {
    cli::RigctldSendOptions o;
    o.host = "127.0.0.1";
    o.port = std::to_string(proxy_->Port());
    o.wpm = wpm;
    return o;
  }
  // The text of the "+b" commands, run together.
  std::string Morse() const {
    std::string text;
    for (const auto& l : proxy_->LinesStarting("+b ")) text += l.text.substr(3);
    return text;
  }
  // A second connection straight to rigctld, kept open: what the dummy rig's PTT is.
  std::string Ptt() {
    if (!direct_)
      direct_ = std::make_unique<RigctldConnection>("127.0.0.1", std::to_string(rigctld_->Port()),
                                                    nullptr);
    std::string lines;
    if (direct_->Command("t", &lines) != 0) return "?";
    return lines.find("PTT: 1") != std::string::npos ? "1" : "0";
  }

  std::unique_ptr<RigctldProcess> rigctld_;
  std::unique_ptr<RecordingProxy> proxy_;
  std::unique_ptr<RigctldConnection> direct_;
};

std::function<bool(std::string&)> Once(std::string text) {
  auto given = std::make_shared<bool>(false);
  return [text, given](std::string& out) {
    if (*given) return false;
    *given = true;
    out = text;
    return true;
  };
}

TEST_F(RigctldTest, TextIsKeyedExactlyAtTheSetSpeedAFewCharactersAtATime) {
  std::ostringstream err;
  std::atomic<bool> stop{false};
  const std::string text = "CQ TEST DE K1ABC";
  const int64_t start = platform::MonotonicNowUs();
  ASSERT_EQ(cli::RunRigctldSend(SendOptions(60), Once(text), stop, err), 0) << err.str();
  const int64_t end = platform::MonotonicNowUs();

  const auto lines = proxy_->Lines();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.front().text, "+L KEYSPD 60") << "the speed before the text";
  EXPECT_EQ(Morse(), text);
  const auto chunks = proxy_->LinesStarting("+b ");
  EXPECT_GT(chunks.size(), 3u) << "a few characters at a time";
  // 60 wpm: 20 ms a unit. Each chunk goes when what the rig holds is under the lead, so
  // the rig never holds much more than a chunk and the lead.
  const int64_t unitUs = 20000;
  int64_t busyUntil = 0;
  for (const auto& c : chunks) {
    const int64_t holds = std::max<int64_t>(0, busyUntil - c.atUs);
    EXPECT_LE(holds, kRigLeadUs + 5000) << c.text;
    EXPECT_LE(MorseUnits(c.text.substr(3)) * unitUs, kRigChunkUs + 4 * unitUs * 3) << c.text;
    busyUntil = std::max(busyUntil, c.atUs) + MorseUnits(c.text.substr(3)) * unitUs;
  }
  // The run lasts as long as the rig keys the text.
  const int64_t keying = MorseUnits(text) * unitUs;
  EXPECT_GE(end - start, keying - 10000);
  EXPECT_LE(end - start, keying + 300000);
}

TEST_F(RigctldTest, AStopEndsTheKeyingWithinPointThreeSeconds) {
  std::ostringstream err;
  std::atomic<bool> stop{false};
  int rc = -1;
  std::thread send([&] {
    rc =
        cli::RunRigctldSend(SendOptions(30), Once("CQ CQ CQ DE K1ABC K1ABC K1ABC TEST"), stop, err);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(900));
  const int64_t stoppedAt = platform::MonotonicNowUs();
  stop.store(true);
  send.join();
  EXPECT_EQ(rc, 130);
  const auto chunks = proxy_->LinesStarting("+b ");
  ASSERT_FALSE(chunks.empty());
  EXPECT_LT(chunks.back().atUs, stoppedAt + 2000) << "nothing sent after the stop";
  const auto stops = proxy_->LinesStarting("+\\stop_morse");
  ASSERT_EQ(stops.size(), 1u) << "stop_morse asked for";
  EXPECT_LT(stops[0].atUs - stoppedAt, 50000);
  // What the rig still held at the stop (30 wpm: 40 ms units): a rig with stop_morse
  // drops it at once; without (the dummy rig), at most the lead and the last character.
  int64_t busyUntil = 0;
  for (const auto& c : chunks)
    busyUntil = std::max(busyUntil, c.atUs) + MorseUnits(c.text.substr(3)) * 40000;
  EXPECT_LE(busyUntil - stoppedAt, kRigLeadUs + MorseUnits(chunks.back().text.substr(3)) * 40000);
  EXPECT_LT(Morse().size(), std::string("CQ CQ CQ DE K1ABC K1ABC K1ABC TEST").size());
}

TEST_F(RigctldTest, ARigctldThatGoesAwayGivesOneLineAndEndsTheSend) {
  std::ostringstream err;
  std::atomic<bool> stop{false};
  int rc = -1;
  std::thread send([&] {
    rc =
        cli::RunRigctldSend(SendOptions(30), Once("CQ CQ CQ DE K1ABC K1ABC K1ABC TEST"), stop, err);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  rigctld_->Kill();
  const int64_t killedAt = platform::MonotonicNowUs();
  send.join();
  EXPECT_LT(platform::MonotonicNowUs() - killedAt, 3000000) << "nothing hangs";
  EXPECT_EQ(rc, 1);
  const std::string text = err.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("rigctld at 127.0.0.1:"), std::string::npos) << text;

  // And nothing reached at start: one line, nothing keyed.
  std::ostringstream again;
  EXPECT_EQ(cli::RunRigctldSend(SendOptions(30), Once("TEST"), stop, again), 1);
  EXPECT_NE(again.str().find("keyed"), std::string::npos) << again.str();
}

TEST_F(RigctldTest, PttIsUpBeforeTheFirstToneSampleAndDownAfterTheLast) {
  enum class End { kDone, kStopped, kCardFailed };
  for (End end : {End::kDone, End::kStopped, End::kCardFailed}) {
    const bool stopEarly = end == End::kStopped;
    SCOPED_TRACE(end == End::kDone      ? "to the end"
                 : end == End::kStopped ? "stopped at the first block"
                                        : "the sound card failed at its third block");
    RigctldConnection rig("127.0.0.1", std::to_string(proxy_->Port()), nullptr);
    RigctldPtt ptt(rig);
    test::FakePlayback card;
    card.mode = test::FakePlayback::Mode::kInstant;
    if (end == End::kCardFailed) card.failOn["Write"] = 3;
    std::atomic<bool> stop{false};
    int64_t firstWrite = 0, lastWrite = 0;
    std::string pttAtFirstWrite;
    card.onWrite = [&](int n) {
      lastWrite = platform::MonotonicNowUs();
      if (n == 1) {
        firstWrite = lastWrite;
        pttAtFirstWrite = Ptt();
        if (stopEarly) stop.store(true);
      }
    };
    cli::ToneSendOptions o;
    o.wpm = 40;
    o.ptt = &ptt;
    o.pttLeadMs = 30;
    o.pttTailMs = 20;
    o.stop = &stop;
    std::ostringstream err;
    const size_t before = proxy_->Lines().size();
    const int rc = cli::RunToneSendOn(card, 0, o, "PARIS PARIS", err);
    if (end == End::kCardFailed) {
      EXPECT_NE(rc, 0) << err.str();
    } else {
      ASSERT_EQ(rc, stopEarly ? 130 : 0) << err.str();
    }
    EXPECT_EQ(pttAtFirstWrite, "1");
    EXPECT_EQ(Ptt(), "0") << "released on the way out";
    std::vector<RecordingProxy::Line> mine;
    const auto lines = proxy_->Lines();
    for (size_t i = before; i < lines.size(); ++i) mine.push_back(lines[i]);
    ASSERT_EQ(mine.size(), 2u);
    EXPECT_EQ(mine[0].text, "+T 1");
    EXPECT_EQ(mine[1].text, "+T 0");
    EXPECT_GE(firstWrite - mine[0].atUs, 30000) << "the lead";
    EXPECT_GT(mine[1].atUs, lastWrite) << "down after the last sample";
    if (end == End::kDone) {
      EXPECT_GE(mine[1].atUs - lastWrite, 20000) << "the tail";
    }
  }
}

TEST_F(RigctldTest, NetworkKeyingThroughTheRigsKeyer) {
  RigctldConnection rig("127.0.0.1", std::to_string(proxy_->Port()), nullptr);
  platform::MonotonicWaiter waiter;
  RigctldKeyer keyer(rig, waiter, nullptr);
  std::ostringstream errText;
  LineLog log(errText);
  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  std::atomic<uint8_t> keyState{kKeyUp};
  CwdaemonKeyerOptions o;
  o.startWpm = 40;
  o.text = &keyer;
  o.abortOutput = [&] { keyer.Stop(); };
  CwdaemonKeyer network(line, waiter, keyState, log, o);
  CwdaemonServer server(network, log);
  network.Start();
  std::string error;
  ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
  test::UdpClient client;

  client.Send(server.Port(), "cq <test>^");
  EXPECT_EQ(client.Receive(), "cq <test>\r\n");
  EXPECT_EQ(Morse(), "CQ TEST") << "the rig's keyer takes what it knows";
  EXPECT_EQ(proxy_->Lines().front().text, "+L KEYSPD 40");

  client.Send(server.Port(),
              "\x1b"
              "250");
  client.Send(server.Port(), "paris paris paris paris");
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const int64_t abortAt = platform::MonotonicNowUs();
  client.Send(server.Port(),
              "\x1b"
              "4");
  ASSERT_TRUE(test::WaitFor([&] { return network.Idle(); }));
  const auto chunks = proxy_->LinesStarting("+b ");
  EXPECT_LT(chunks.back().atUs, abortAt + 5000) << "nothing sent after the abort";
  EXPECT_FALSE(proxy_->LinesStarting("+L KEYSPD 50").empty());
  for (const auto& e : line.Edges()) EXPECT_EQ(e.state, kKeyUp) << "no key line keyed";
  server.Stop();
  network.Stop();
}

}  // namespace
}  // namespace kestrix::transmit
