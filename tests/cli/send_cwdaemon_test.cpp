#include "cli/send_cwdaemon.h"

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "cwdaemon_rig.h"
#include "fake_line.h"
#include "line_reader.h"

namespace kestrix::cli {
namespace {

using namespace std::string_literals;

TEST(SendCwdaemon, ListenAddressForms) {
  struct Case {
    const char* text;
    bool ok;
    const char* address;
    uint16_t port;
  };
  const std::vector<Case> cases = {
      {"127.0.0.1:6789", true, "127.0.0.1", 6789},
      {"0.0.0.0:7000", true, "0.0.0.0", 7000},
      {"[::1]:6790", true, "::1", 6790},
      {"[::1]", true, "::1", 6789},
      {"192.168.1.5", true, "192.168.1.5", 6789},
      {"127.0.0.1:0", true, "127.0.0.1", 0},
      {"127.0.0.1:65536", false, "", 0},
      {"127.0.0.1:", false, "", 0},
      {"127.0.0.1:x", false, "", 0},
      {":6789", false, "", 0},
      {"::1:6789", false, "", 0},
      {"[::1", false, "", 0},
      {"[::1]6789", false, "", 0},
      {"", false, "", 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    std::string address = "unchanged", error;
    uint16_t port = 6789;
    EXPECT_EQ(ParseListenAddress(c.text, address, port, error), c.ok);
    if (c.ok) {
      EXPECT_EQ(address, c.address);
      EXPECT_EQ(port, c.port);
    } else {
      EXPECT_EQ(address, "unchanged");
      EXPECT_EQ(port, 6789) << "nothing changes on bad input";
      EXPECT_NE(error.find("--listen"), std::string::npos);
    }
  }
  uint16_t port = 1;
  std::string error;
  EXPECT_TRUE(ParseUdpPort("6789", port, error));
  EXPECT_EQ(port, 6789);
  for (const char* bad : {"", "-1", "65536", "12a", "999999"})
    EXPECT_FALSE(ParseUdpPort(bad, port, error)) << bad;
}

struct HeadlessRun {
  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  std::atomic<bool> stop{false};
  std::atomic<uint16_t> port{0};
  std::ostringstream err;
  int rc = -1;
  transmit::SendKeyers* sound = nullptr;
  std::thread thread;

  void Start(CwdaemonOptions options) {
    options.udpPort = 0;
    options.onListening = [&](uint16_t p) { port.store(p); };
    thread =
        std::thread([this, options] { rc = RunCwdaemon(options, line, clock, sound, stop, err); });
  }
  ~HeadlessRun() {
    stop.store(true);
    if (thread.joinable()) thread.join();
  }
};

TEST(SendCwdaemon, ServesUntilTheLoggerSaysExitOrStopIsSet) {
  for (bool byExit : {true, false}) {
    SCOPED_TRACE(byExit ? "ESC 5" : "stop");
    HeadlessRun run;
    CwdaemonOptions options;
    options.wpm = 30;
    run.Start(options);
    ASSERT_TRUE(test::WaitFor([&] { return run.port.load() != 0; }));
    test::UdpClient client;
    client.Send(run.port, "test^");
    EXPECT_EQ(client.Receive(), "test\r\n");
    EXPECT_EQ(test::ReadLine(run.line.Edges(), 36), "TEST") << "keyed at the start speed";
    if (byExit) {
      client.Send(run.port,
                  "\x1b"
                  "5");
    } else {
      run.stop.store(true);
    }
    run.thread.join();
    EXPECT_EQ(run.rc, 0);
    EXPECT_EQ(run.line.Edges().front().state, transmit::kKeyUp) << "key up at start";
    EXPECT_EQ(run.line.Edges().back().state, transmit::kKeyUp);
    EXPECT_NE(run.err.str().find("listening on 127.0.0.1"), std::string::npos);
  }
}

// Counts what reaches the sound-card side.
class SoundCounter final : public transmit::SendKeyers {
 public:
  void SendCharToPort(uint8_t) override { ++port; }
  void SoundKeyChar(uint8_t code, int32_t) override { text += static_cast<char>(code); }
  void SoundKeyBuffer(const char*, int32_t&, const std::atomic<uint8_t>&) override {}
  void AbortTone() override {}
  std::string text;
  int port = 0;
};

TEST(SendCwdaemon, SoundCardRunKeysTheToneAndTakesTheToneRequest) {
  SoundCounter sound;
  std::atomic<int> tone{-1};
  HeadlessRun run;
  run.sound = &sound;
  CwdaemonOptions options;
  options.setTone = [&](int hz) { tone.store(hz); };
  run.Start(options);
  ASSERT_TRUE(test::WaitFor([&] { return run.port.load() != 0; }));
  test::UdpClient client;
  client.Send(run.port,
              "\x1b"
              "3600");
  client.Send(run.port, "73^");
  EXPECT_EQ(client.Receive(), "73\r\n");
  EXPECT_EQ(tone.load(), 600);
  run.stop.store(true);
  run.thread.join();
  EXPECT_EQ(sound.text, "73");
  EXPECT_EQ(sound.port, 0);
  EXPECT_TRUE(run.line.Edges().empty() || run.line.Edges().back().state == transmit::kKeyUp);
}

TEST(SendCwdaemon, APortInUseEndsTheRunWithOneAndTheReason) {
  HeadlessRun running;
  running.Start(CwdaemonOptions{});
  ASSERT_TRUE(test::WaitFor([&] { return running.port.load() != 0; }));

  test::FakeClock clock;
  test::FakeKeyLine line{clock};
  std::atomic<bool> stop{false};
  std::ostringstream err;
  CwdaemonOptions options;
  options.udpPort = running.port.load();
  EXPECT_EQ(RunCwdaemon(options, line, clock, nullptr, stop, err), 1);
  EXPECT_NE(err.str().find("cannot bind"), std::string::npos) << err.str();
  EXPECT_EQ(line.Edges().back().state, transmit::kKeyUp);
}

}  // namespace
}  // namespace kestrix::cli
