#include "skim/rigctld_client.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cmath>
#include <sstream>
#include <string>
#include <thread>

namespace kestrix::skim {
namespace {

TEST(RigctldClientTest, FrequencyRepliesAndErrors) {
  struct Case {
    const char* reply;
    bool ok;
    double hz;
  };
  const Case cases[] = {
      {"14025000\n", true, 14025000.0},
      {"7030000.000000\r\n", true, 7030000.0},
      {"Frequency: 3560000\n", false, 0},  // the extended protocol is not spoken
      {"RPRT -5\n", false, 0},
      {"\n", false, 0},
      {"-1\n", false, 0},
      {"abc\n", false, 0},
  };
  for (const Case& c : cases) {
    double hz = 0.0;
    EXPECT_EQ(ParseRigctldFrequency(c.reply, hz), c.ok) << c.reply;
    if (c.ok) {
      EXPECT_EQ(hz, c.hz) << c.reply;
    }
  }
}

TEST(RigctldClientTest, ModeRepliesGiveTheSideband) {
  const struct {
    const char* reply;
    bool ok;
    int lower;
  } cases[] = {
      {"USB\n2400\n", true, 0},    {"CW\n500\n", true, 0},
      {"PKTUSB\n3000\n", true, 0}, {"LSB\r\n2400\r\n", true, 1},
      {"CWR\n500\n", true, 1},     {"PKTLSB\n3000\n", true, 1},
      {"AM\n6000\n", false, -1},   {"FM\n12000\n", false, -1},
      {"RPRT -11\n", false, -1},   {"", false, -1},
      {"cw\n500\n", false, -1},
  };
  for (const auto& c : cases) {
    int lower = -1;
    EXPECT_EQ(ParseRigctldMode(c.reply, lower), c.ok) << c.reply;
    EXPECT_EQ(lower, c.lower) << c.reply;
  }
}

// A stand-in rigctld on a loopback port: answers "f" with the dial it holds and "m" with
// its mode, line by line.
class FakeRig {
 public:
  explicit FakeRig(int port = 0) {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    a.sin_port = htons(static_cast<uint16_t>(port));
    const int one = 1;
    setsockopt(listen_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    socklen_t len = sizeof a;
    getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    ::listen(listen_, 4);
    thread_ = std::thread([this] { Run(); });
  }
  ~FakeRig() {
    stop_ = true;
    shutdown(listen_, SHUT_RDWR);
    close(listen_);
    thread_.join();
  }
  int Port() const { return port_; }
  std::atomic<long> dial{14025000};
  std::atomic<bool> lower{false};

 private:
  void Run() {
    while (!stop_) {
      const int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      char buf[64];
      ssize_t n;
      while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
        for (ssize_t i = 0; i < n; ++i) {
          std::string reply;
          if (buf[i] == 'f') reply = std::to_string(dial.load()) + "\n";
          if (buf[i] == 'm') reply = lower ? "LSB\n2400\n" : "CW\n500\n";
          send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
        }
      }
      close(fd);
    }
  }
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(RigctldClientTest, FollowsTheDialAndTheSideband) {
  std::ostringstream log;
  double dial = std::nan("");
  {
    FakeRig rig;
    RigctldClient client("127.0.0.1:" + std::to_string(rig.Port()), log, 0.02);
    std::string error;
    ASSERT_TRUE(client.Start(error)) << error;
    EXPECT_EQ(client.DialHz(), 14025000.0);
    EXPECT_EQ(client.LowerSideband(), 0);
    EXPECT_EQ(client.Moved(), 14025000.0);
    EXPECT_TRUE(std::isnan(client.Moved()));  // unchanged since
    rig.dial = 14031500;
    for (int i = 0; i < 500 && std::isnan(dial); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      dial = client.Moved();
    }
    EXPECT_EQ(dial, 14031500.0);
    rig.lower = true;
    for (int i = 0; i < 500 && client.LowerSideband() != 1; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
    EXPECT_EQ(client.LowerSideband(), 1);
    client.Stop();
  }
}

// No rigctld at the start: Start says so, and the client keeps trying until one answers.
TEST(RigctldClientTest, ARigctldThatComesLaterIsFollowed) {
  int port = 0;
  {
    FakeRig probe;  // a free loopback port, released again
    port = probe.Port();
  }
  std::ostringstream log;
  RigctldClient client("127.0.0.1:" + std::to_string(port), log, 0.02, 0.05);
  std::string error;
  EXPECT_FALSE(client.Start(error));
  EXPECT_NE(error.find("rigctld at 127.0.0.1:" + std::to_string(port)), std::string::npos) << error;
  EXPECT_TRUE(std::isnan(client.DialHz()));
  FakeRig rig(port);
  rig.dial = 7012000;
  for (int i = 0; i < 1000 && std::isnan(client.DialHz()); ++i)
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(client.DialHz(), 7012000.0);
  EXPECT_EQ(client.Moved(), 7012000.0);
  client.Stop();
  EXPECT_NE(log.str().find("answers"), std::string::npos) << log.str();
}

}  // namespace
}  // namespace kestrix::skim
