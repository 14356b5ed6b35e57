#include "transmit/winkeyer.h"

#include <gtest/gtest.h>

#include <sstream>
#include <thread>

#include "cli/send_winkeyer.h"
#include "cwdaemon_rig.h"
#include "fake_line.h"
#include "platform/monotonic_wait.h"
#include "transmit/cwdaemon.h"
#include "winkeyer_emulator.h"

namespace kestrix::transmit {
namespace {

using test::WinKeyerEmulator;

std::function<bool(std::string&)> Once(std::string text) {
  auto given = std::make_shared<bool>(false);
  return [text, given](std::string& out) {
    if (*given) return false;
    *given = true;
    out = text;
    return true;
  };
}

// The host's bytes as hex, for failure messages and prefix checks.
std::vector<uint8_t> Values(const std::vector<WinKeyerEmulator::Byte>& bytes) {
  std::vector<uint8_t> out;
  for (const auto& b : bytes) out.push_back(b.value);
  return out;
}

TEST(WinKeyerBytes, TextProsignsAndSidetone) {
  size_t echoes = 0;
  EXPECT_EQ(WinKeyerBytes("cq de k1abc? 5nn", &echoes), "CQ DE K1ABC? 5NN");
  EXPECT_EQ(echoes, 16u);
  EXPECT_EQ(WinKeyerBytes("<>%#=", &echoes),
            "\x1bSK\x1b"
            "BK\x1b"
            "BT");
  EXPECT_EQ(echoes, 0u) << "a merged pair's echo is not counted on";
  EXPECT_EQ(WinKeyerSidetoneCode(800), 5);
  EXPECT_EQ(WinKeyerSidetoneCode(750), 5);
  EXPECT_EQ(WinKeyerSidetoneCode(600), 7);
  EXPECT_EQ(WinKeyerSidetoneCode(4000), 1);
}

TEST(WinKeyer, HostOpenFirstThenTheSetupAndTheTextExactly) {
  WinKeyerEmulator emulator;
  WinKeyerOptions o;
  o.wpm = 60;
  o.pttLeadMs = 40;
  o.pttTailMs = 20;
  o.sidetone = false;
  std::ostringstream err;
  std::atomic<bool> stop{false};
  const std::string text = "CQ TEST DE K1ABC";
  ASSERT_EQ(cli::RunWinKeyerSend(emulator.Path(), o, Once(text), stop, err), 0) << err.str();
  EXPECT_EQ(emulator.Keyed(), text);
  EXPECT_EQ(emulator.Speed(), 60);
  const std::vector<uint8_t> sent = Values(emulator.Received());
  const std::vector<uint8_t> setup = {0x00, 0x02, 0x0E, 0x44, 0x09, 0x05, 0x01, 0x05,
                                      0x04, 4,    2,    0x03, 50,   0x02, 60};
  ASSERT_GE(sent.size(), setup.size());
  EXPECT_EQ(std::vector<uint8_t>(sent.begin(), sent.begin() + setup.size()), setup)
      << "host open first; echoes on; key 1 and PTT, side tone off; lead 40 ms, tail 20 ms";
  ASSERT_TRUE(test::WaitFor([&] { return emulator.Closed(); })) << "host close";
  const std::vector<uint8_t> all = Values(emulator.Received());
  EXPECT_EQ(std::vector<uint8_t>(all.end() - 2, all.end()), (std::vector<uint8_t>{0x00, 0x03}))
      << "host close last";
}

TEST(WinKeyer, XoffHoldsTheTextSoNothingIsLostOrSentTwice) {
  WinKeyerEmulator emulator(/*capacity=*/9);  // XOFF above 6
  WinKeyerOptions o;
  o.wpm = 99;
  std::ostringstream err;
  std::atomic<bool> stop{false};
  const std::string text = "THE QUICK BROWN FOX JUMPS OVER THE LAZY DOG 0123456789";
  ASSERT_EQ(cli::RunWinKeyerSend(emulator.Path(), o, Once(text), stop, err), 0)
      << err.str() << emulator.Keyed() << " overflow " << emulator.Overflow() << " held "
      << emulator.MostHeld();
  EXPECT_EQ(emulator.Keyed(), text);
  EXPECT_EQ(emulator.Overflow(), 0u);
  EXPECT_GT(emulator.XoffsSent(), 0) << "the keyer did say XOFF";
  EXPECT_LE(emulator.MostHeld(), 9u);
}

TEST(WinKeyer, AStopClearsTheBufferWithinPointTwoSeconds) {
  WinKeyerEmulator emulator;
  WinKeyerOptions o;
  o.wpm = 20;
  std::ostringstream err;
  std::atomic<bool> stop{false};
  int rc = -1;
  std::thread send([&] {
    rc = cli::RunWinKeyerSend(emulator.Path(), o, Once("CQ CQ CQ DE K1ABC K1ABC K"), stop, err);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(700));
  const int64_t stoppedAt = platform::MonotonicNowUs();
  stop.store(true);
  send.join();
  EXPECT_EQ(rc, 130);
  int64_t clearAt = -1;
  for (const auto& b : emulator.Received())
    if (b.value == 0x0A && clearAt < 0) clearAt = b.atUs;
  ASSERT_GE(clearAt, 0) << "clear buffer sent";
  EXPECT_LT(clearAt - stoppedAt, 200000);
  const std::string keyed = emulator.Keyed();
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  EXPECT_EQ(emulator.Keyed(), keyed) << "nothing keyed after the clear";
  EXPECT_LT(keyed.size(), 10u);
}

TEST(WinKeyer, PaddleSendingIsHandedOverAndNotCountedAsEchoes) {
  WinKeyerEmulator emulator;
  std::mutex mu;
  std::string paddled;
  WinKeyerOptions o;
  o.wpm = 60;
  o.onPaddle = [&](char c) {
    std::lock_guard<std::mutex> lock(mu);
    paddled += c;
  };
  WinKeyer keyer(o);
  std::string error;
  ASSERT_TRUE(keyer.Open(emulator.Path(), error)) << error;
  EXPECT_EQ(keyer.Revision(), 23);
  emulator.Paddle("TEST");
  ASSERT_TRUE(test::WaitFor([&] {
    std::lock_guard<std::mutex> lock(mu);
    return paddled == "TEST";
  }));
  ASSERT_TRUE(keyer.Send("E E", 60, nullptr));
  ASSERT_TRUE(keyer.Drain(nullptr));
  EXPECT_EQ(emulator.Keyed(), "E E");
  std::lock_guard<std::mutex> lock(mu);
  EXPECT_EQ(paddled, "TEST");
}

TEST(WinKeyer, UnpluggedMidMessageGivesOneLineAndNothingHangs) {
  WinKeyerEmulator emulator;
  WinKeyerOptions o;
  o.wpm = 20;
  std::ostringstream err;
  std::atomic<bool> stop{false};
  int rc = -1;
  std::thread send([&] {
    rc = cli::RunWinKeyerSend(emulator.Path(), o, Once("CQ CQ CQ DE K1ABC K1ABC TEST"), stop, err);
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const int64_t unpluggedAt = platform::MonotonicNowUs();
  emulator.Unplug();
  send.join();
  EXPECT_LT(platform::MonotonicNowUs() - unpluggedAt, 1500000) << "nothing hangs";
  EXPECT_EQ(rc, 1);
  const std::string text = err.str();
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 1) << text;
  EXPECT_NE(text.find("WinKeyer on " + emulator.Path()), std::string::npos) << text;
}

TEST(WinKeyer, NoKeyerAnsweringIsOneLineAndNothingKeyed) {
  WinKeyerEmulator silent(128, /*answers=*/false);
  std::ostringstream err;
  std::atomic<bool> stop{false};
  EXPECT_EQ(cli::RunWinKeyerSend(silent.Path(), WinKeyerOptions{}, Once("TEST"), stop, err), 1);
  EXPECT_NE(err.str().find("no WinKeyer answering on " + silent.Path()), std::string::npos)
      << err.str();
  EXPECT_EQ(silent.Keyed(), "");
  std::ostringstream missing;
  EXPECT_EQ(
      cli::RunWinKeyerSend("/nonexistent/ttyUSB9", WinKeyerOptions{}, Once("TEST"), stop, missing),
      1);
  EXPECT_NE(missing.str().find("cannot open /nonexistent/ttyUSB9"), std::string::npos);
}

TEST(WinKeyer, NetworkKeyingThroughTheWinKeyer) {
  WinKeyerEmulator emulator;
  WinKeyerOptions wo;
  wo.wpm = 40;
  WinKeyer keyer(wo);
  std::string error;
  ASSERT_TRUE(keyer.Open(emulator.Path(), error)) << error;
  std::ostringstream errText;
  LineLog log(errText);
  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  platform::MonotonicWaiter waiter;
  std::atomic<uint8_t> keyState{kKeyUp};
  CwdaemonKeyerOptions o;
  o.startWpm = 40;
  o.text = &keyer;
  o.abortOutput = [&] { keyer.Stop(); };
  CwdaemonKeyer network(line, waiter, keyState, log, o);
  CwdaemonServer server(network, log);
  network.Start();
  ASSERT_TRUE(server.Start({"127.0.0.1", 0}, error)) << error;
  test::UdpClient client;

  client.Send(server.Port(), "cq <test>^");
  EXPECT_EQ(client.Receive(), "cq <test>\r\n");
  EXPECT_EQ(emulator.Keyed(), "CQ SKTESTBK") << "prosigns as merged letters";

  client.Send(server.Port(),
              "\x1b"
              "225");
  client.Send(server.Port(), "paris paris paris paris");
  std::this_thread::sleep_for(std::chrono::milliseconds(600));
  const int64_t abortAt = platform::MonotonicNowUs();
  client.Send(server.Port(),
              "\x1b"
              "4");
  ASSERT_TRUE(test::WaitFor([&] { return network.Idle(); }));
  int64_t clearAt = -1;
  for (const auto& b : emulator.Received())
    if (b.value == 0x0A && b.atUs >= abortAt && clearAt < 0) clearAt = b.atUs;
  ASSERT_GE(clearAt, 0);
  EXPECT_LT(clearAt - abortAt, 200000) << "ESC 4 clears the keyer's buffer";
  EXPECT_EQ(emulator.Speed(), 25);
  server.Stop();
  network.Stop();
}

}  // namespace
}  // namespace kestrix::transmit
