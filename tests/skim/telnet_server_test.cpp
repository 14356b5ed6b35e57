#include "skim/telnet_server.h"

#include "skim/spot.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <chrono>
#include <string>
#include <thread>
#include <vector>

namespace kestrix::skim {
namespace {

using Clock = std::chrono::steady_clock;

// Generous limits for waits on the server thread; no assertion is about time.
constexpr auto kPatience = std::chrono::seconds(20);

// A telnet client on the loopback, as a logger would be.
class Client {
 public:
  explicit Client(int port, int receiveBuffer = 0) {
    fd_ = socket(AF_INET, SOCK_STREAM, 0);
    if (receiveBuffer > 0) setsockopt(fd_, SOL_SOCKET, SO_RCVBUF, &receiveBuffer, sizeof(int));
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_port = htons(static_cast<uint16_t>(port));
    inet_pton(AF_INET, "127.0.0.1", &addr.sin_addr);
    connected_ = connect(fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) == 0;
  }
  ~Client() {
    if (fd_ >= 0) close(fd_);
  }
  bool Connected() const { return connected_; }
  void Send(const std::string& s) {
    ASSERT_EQ(send(fd_, s.data(), s.size(), MSG_NOSIGNAL), static_cast<ssize_t>(s.size()));
  }

  // Reads until `what` has arrived (true) or the server closed the connection (false).
  bool ReadUntil(const std::string& what) {
    const auto deadline = Clock::now() + kPatience;
    size_t from = 0;  // only the new bytes (and an overlap) are searched each time
    while (received_.find(what, from) == std::string::npos) {
      from = received_.size() >= what.size() ? received_.size() - what.size() + 1 : 0;
      if (!ReadSome(deadline)) return false;
    }
    return true;
  }
  // True when the server closes the connection (read returns 0 or an error).
  bool ReadUntilClosed() {
    const auto deadline = Clock::now() + kPatience;
    while (ReadSome(deadline)) {
    }
    return closed_;
  }
  const std::string& Received() const { return received_; }

 private:
  bool ReadSome(Clock::time_point deadline) {
    if (closed_ || Clock::now() > deadline) return false;
    pollfd p{fd_, POLLIN, 0};
    if (poll(&p, 1, 100) <= 0) return true;
    char buf[4096];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      closed_ = true;
      return false;
    }
    received_.append(buf, static_cast<size_t>(n));
    return true;
  }
  int fd_ = -1;
  bool connected_ = false;
  bool closed_ = false;
  std::string received_;
};

TelnetServerConfig Ephemeral() {
  TelnetServerConfig config;
  config.port = 0;
  return config;
}

template <typename Pred>
bool WaitFor(Pred pred) {
  const auto deadline = Clock::now() + kPatience;
  while (!pred()) {
    if (Clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
  }
  return true;
}

const std::string kLine =
    "DX de W9XG-#:    14057.6  K7GT           CW     7 dB  21 WPM  CQ      2259Z";

TEST(TelnetServer, PromptLoginSpotsWithCrLfAndBye) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  ASSERT_GT(server.Port(), 0);

  Client client(server.Port());
  ASSERT_TRUE(client.Connected());
  ASSERT_TRUE(client.ReadUntil("Please enter your callsign:"));
  server.Publish("not for anyone");  // nobody logged in: dropped
  client.Send("w9xg\r\n");
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 1; }));
  EXPECT_TRUE(server.WaitForFirstLogin(0));
  server.Publish(kLine);
  ASSERT_TRUE(client.ReadUntil(kLine + "\r\n"));
  EXPECT_EQ(client.Received().find("not for anyone"), std::string::npos);
  EXPECT_NE(client.Received().find("W9XG"), std::string::npos);  // greeted by its call
  client.Send("bye\r\n");
  EXPECT_TRUE(client.ReadUntilClosed());
  EXPECT_TRUE(WaitFor([&] { return server.ConnectedClients() == 0; }));
  server.Stop();
  EXPECT_FALSE(server.Running());
}

TEST(TelnetServer, EveryLoggedInClientGetsEveryLineInOrder) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 8; ++i) {
    clients.push_back(std::make_unique<Client>(server.Port()));
    clients.back()->Send("K" + std::to_string(i) + "ABC\r\n");
  }
  Client lurker(server.Port());  // never logs in
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 8; }));
  std::string expected;
  for (int i = 0; i < 50; ++i) {
    const std::string line = "spot " + std::to_string(i);
    server.Publish(line);
    expected += line + "\r\n";
  }
  for (auto& c : clients) {
    ASSERT_TRUE(c->ReadUntil("spot 49\r\n"));
    EXPECT_NE(c->Received().find(expected), std::string::npos);
  }
  ASSERT_TRUE(lurker.ReadUntil("callsign:"));
  EXPECT_EQ(lurker.Received().find("spot"), std::string::npos);
}

// A logger that stops reading is dropped; the others keep getting every line and Publish
// never waits for anyone.
TEST(TelnetServer, ClientThatDoesNotReadIsDroppedOthersKeepUp) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  Client good(server.Port());
  Client stuck(server.Port(), 2048);
  good.Send("W1AW\r\n");
  stuck.Send("K1ABC\r\n");
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 2; }));
  int sent = 0;
  while (server.DroppedClients() == 0 && sent < 200000) {
    for (int i = 0; i < 400; ++i) server.Publish(kLine + " " + std::to_string(sent++));
    ASSERT_TRUE(good.ReadUntil(kLine + " " + std::to_string(sent - 1) + "\r\n"));
  }
  EXPECT_EQ(server.DroppedClients(), 1u) << sent << " lines";
  EXPECT_TRUE(WaitFor([&] { return server.LoggedInClients() == 1; }));
  server.Publish("after");
  EXPECT_TRUE(good.ReadUntil("after\r\n"));
}

// What a logger sends after login: sh/dx gets the last spots (also those published before
// anyone logged in), an unknown command one line and the connection stays, set/nobeacon
// stops the beacons for that client alone.
TEST(TelnetServer, LoggerCommandsAreAnsweredAndKeepTheConnection) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  std::vector<std::string> lines;
  for (int i = 0; i < 7; ++i) {
    lines.push_back(FormatSpotLine(
        {"W9XG", 14020.0 + i, "K" + std::to_string(i) + "ABC", 10, 25, SpotKind::Cq, 0}));
    server.Publish(lines.back(), SpotKind::Cq);
  }
  Client logger(server.Port()), other(server.Port());
  logger.Send("w9xg\r\nsh/dx 5\r\n");
  other.Send("K1ABC\r\n");
  std::string five;
  for (int i = 2; i < 7; ++i) five += lines[static_cast<size_t>(i)] + "\r\n";
  ASSERT_TRUE(logger.ReadUntil(five)) << logger.Received();
  EXPECT_EQ(logger.Received().find(lines[1]), std::string::npos);

  logger.Send("xyzzy plugh\r\nset/nobeacon\r\n");
  ASSERT_TRUE(logger.ReadUntil("Unknown command: xyzzy plugh\r\nBeacon spots off.\r\n"));
  const std::string beacon =
      FormatSpotLine({"W9XG", 28200.0, "W1ABC/B", 35, 18, SpotKind::Beacon, 0});
  server.Publish(beacon, SpotKind::Beacon);
  server.Publish(kLine, SpotKind::Cq);
  ASSERT_TRUE(logger.ReadUntil(kLine + "\r\n"));
  EXPECT_EQ(logger.Received().find(beacon), std::string::npos);
  ASSERT_TRUE(other.ReadUntil(beacon + "\r\n" + kLine + "\r\n"));
  EXPECT_EQ(server.ConnectedClients(), 2);
  EXPECT_EQ(server.DroppedClients(), 0u);
}

// A hundred loggers at once, each logging in, asking for the last spot and typing some
// garbage: every one of them gets every spot.
TEST(TelnetServer, AHundredClientsAtOnce) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  server.Publish(kLine + " old");
  std::vector<std::unique_ptr<Client>> clients;
  for (int i = 0; i < 100; ++i) {
    clients.push_back(std::make_unique<Client>(server.Port()));
    ASSERT_TRUE(clients.back()->Connected()) << i;
    clients.back()->Send("K" + std::to_string(i) + "XYZ\r\nsh/dx 1\r\n\x01\xff\xfe\x03??\r\n");
  }
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 100; }));
  for (int i = 0; i < 20; ++i) server.Publish(kLine + " " + std::to_string(i));
  for (auto& c : clients) {
    ASSERT_TRUE(c->ReadUntil(kLine + " 19\r\n"));
    EXPECT_NE(c->Received().find(kLine + " old\r\n"), std::string::npos);
    EXPECT_NE(c->Received().find("Unknown command: ??"), std::string::npos);
  }
  EXPECT_EQ(server.ConnectedClients(), 100);
  EXPECT_EQ(server.DroppedClients(), 0u);
}

TEST(TelnetServer, FloodsAndGarbageDropOnlyTheSender) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  Client good(server.Port());
  good.Send("W1AW\r\n");
  Client garbage(server.Port());
  garbage.Send(std::string("\x80\x00\x07 junk \x1b[2J\xff\xfb\r\n\r\n", 17));
  Client flood(server.Port());
  const std::string burst(16 * 1024, 'A');
  flood.Send(burst);
  EXPECT_TRUE(flood.ReadUntilClosed());
  EXPECT_GE(server.DroppedClients(), 1u);
  garbage.Send("K1ABC\r\n");  // after garbage a real login still works
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 2; }));
  server.Publish(kLine);
  EXPECT_TRUE(good.ReadUntil(kLine));
  EXPECT_TRUE(garbage.ReadUntil(kLine));
}

TEST(TelnetServer, ConnectionsBeyondTheLimitAreTurnedAway) {
  TelnetServerConfig config = Ephemeral();
  config.maxClients = 2;
  TelnetServer server(config);
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  Client a(server.Port()), b(server.Port());
  ASSERT_TRUE(a.ReadUntil("callsign:"));
  ASSERT_TRUE(b.ReadUntil("callsign:"));
  Client c(server.Port());
  EXPECT_TRUE(c.ReadUntilClosed());
  EXPECT_NE(c.Received().find("no more connections"), std::string::npos);
}

TEST(TelnetServer, WaitForFirstLoginTimesOutOrReturnsOnLogin) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  EXPECT_FALSE(server.WaitForFirstLogin(0.01));
  std::thread logger([&] {
    Client c(server.Port());
    c.Send("W1AW\r\n");
    c.ReadUntil("Hello");
  });
  EXPECT_TRUE(server.WaitForFirstLogin(60));
  logger.join();
}

TEST(TelnetServer, BadAddressOrBusyPortIsAClearError) {
  TelnetServerConfig bad = Ephemeral();
  bad.listenAddress = "not-an-address";
  TelnetServer a(bad);
  std::string error;
  EXPECT_FALSE(a.Start(error));
  EXPECT_NE(error.find("not-an-address"), std::string::npos);

  TelnetServer first(Ephemeral());
  ASSERT_TRUE(first.Start(error)) << error;
  TelnetServerConfig same = Ephemeral();
  same.port = first.Port();
  TelnetServer second(same);
  error.clear();
  EXPECT_FALSE(second.Start(error));
  EXPECT_NE(error.find(std::to_string(first.Port())), std::string::npos) << error;
}

// The last spots of a run, published just before the stop, still reach the clients.
TEST(TelnetServer, StopDeliversWhatWasPublishedBeforeIt) {
  TelnetServer server(Ephemeral());
  std::string error;
  ASSERT_TRUE(server.Start(error)) << error;
  Client c(server.Port());
  c.Send("W1AW\r\n");
  ASSERT_TRUE(WaitFor([&] { return server.LoggedInClients() == 1; }));
  for (int i = 0; i < 50; ++i) server.Publish(kLine + " " + std::to_string(i));
  server.Stop();
  EXPECT_TRUE(c.ReadUntilClosed());
  EXPECT_NE(c.Received().find(kLine + " 49\r\n"), std::string::npos);
}

TEST(TelnetServer, StopWithClientsConnectedJoinsAndPublishAfterwardsIsHarmless) {
  auto server = std::make_unique<TelnetServer>(Ephemeral());
  std::string error;
  ASSERT_TRUE(server->Start(error)) << error;
  Client c(server->Port());
  c.Send("W1AW\r\n");
  ASSERT_TRUE(WaitFor([&] { return server->LoggedInClients() == 1; }));
  std::thread publisher([&] {
    for (int i = 0; i < 1000; ++i) server->Publish(kLine);
  });
  publisher.join();
  server->Stop();
  server->Publish(kLine);
  EXPECT_TRUE(c.ReadUntilClosed());
  server.reset();
}

}  // namespace
}  // namespace kestrix::skim
