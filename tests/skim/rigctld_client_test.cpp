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

// A stand-in rigctld on a loopback port: answers every "f" with the dial it holds, and can
// drop the connection.
class FakeRig {
 public:
  FakeRig() {
    listen_ = socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
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

 private:
  void Run() {
    while (!stop_) {
      const int fd = accept(listen_, nullptr, nullptr);
      if (fd < 0) return;
      char buf[64];
      ssize_t n;
      while ((n = recv(fd, buf, sizeof buf, 0)) > 0) {
        const std::string reply = std::to_string(dial.load()) + "\n";
        send(fd, reply.data(), reply.size(), MSG_NOSIGNAL);
      }
      close(fd);
    }
  }
  int listen_ = -1;
  int port_ = 0;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

TEST(RigctldClientTest, FollowsTheDialAndRefusesAnAddressWithoutRigctld) {
  std::ostringstream log;
  double dial = std::nan("");
  {
    FakeRig rig;
    RigctldClient client("127.0.0.1:" + std::to_string(rig.Port()), log, 0.02);
    std::string error;
    ASSERT_TRUE(client.Start(error)) << error;
    EXPECT_EQ(client.DialHz(), 14025000.0);
    EXPECT_EQ(client.Moved(), 14025000.0);
    EXPECT_TRUE(std::isnan(client.Moved()));  // unchanged since
    rig.dial = 14031500;
    for (int i = 0; i < 500 && std::isnan(dial); ++i) {
      std::this_thread::sleep_for(std::chrono::milliseconds(5));
      dial = client.Moved();
    }
    EXPECT_EQ(dial, 14031500.0);
    client.Stop();
  }
  RigctldClient nobody("127.0.0.1:1", log);
  std::string error;
  EXPECT_FALSE(nobody.Start(error));
  EXPECT_NE(error.find("rigctld at 127.0.0.1:1"), std::string::npos) << error;
}

}  // namespace
}  // namespace kestrix::skim
