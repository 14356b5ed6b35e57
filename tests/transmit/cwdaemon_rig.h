// Test rig for network keying: a UDP client on the loopback, a wait that can be held
// shut so a test can act while the keyer is inside a character, and bounded condition
// waits (generous limits; they only end early on success).
#pragma once

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>

#include "fake_line.h"
#include "transmit/key_line.h"

namespace kestrix::test {

// Polls `done` every millisecond for up to 20 s; true once it holds.
inline bool WaitFor(const std::function<bool()>& done) {
  for (int i = 0; i < 20000; ++i) {
    if (done()) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return done();
}

class UdpClient {
 public:
  UdpClient() {
    fd_ = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd_ < 0) throw std::runtime_error("socket");
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::bind(fd_, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0)
      throw std::runtime_error("bind");
  }
  ~UdpClient() { ::close(fd_); }
  UdpClient(const UdpClient&) = delete;
  UdpClient& operator=(const UdpClient&) = delete;

  void Send(uint16_t port, const std::string& bytes) const {
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_port = htons(port);
    to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::sendto(fd_, bytes.data(), bytes.size(), 0, reinterpret_cast<sockaddr*>(&to), sizeof to) !=
        static_cast<ssize_t>(bytes.size()))
      throw std::runtime_error("sendto");
  }
  // The next datagram, or "<nothing>" after `timeoutMs` (0: only what has arrived).
  std::string Receive(int timeoutMs = 20000) const {
    pollfd p{fd_, POLLIN, 0};
    if (::poll(&p, 1, timeoutMs) != 1) return "<nothing>";
    char buf[1024];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    return n < 0 ? "<error>" : std::string(buf, static_cast<size_t>(n));
  }

 private:
  int fd_ = -1;
};

// Advances the fake clock like FakeClock, but while Hold() is in force every wait blocks
// (before its time passes) until Release().
class HeldWaiter final : public transmit::Waiter {
 public:
  explicit HeldWaiter(FakeClock& clock) : clock_(clock) {}
  void WaitMs(int32_t ms) override {
    Block();
    clock_.WaitMs(ms);
  }
  int64_t NowUs() override { return clock_.NowUs(); }
  void WaitUntilUs(int64_t deadlineUs) override {
    Block();
    clock_.WaitUntilUs(deadlineUs);
  }
  void Hold() {
    std::lock_guard<std::mutex> lock(mu_);
    held_ = true;
  }
  void Release() {
    std::lock_guard<std::mutex> lock(mu_);
    held_ = false;
    cv_.notify_all();
  }
  // True once a keyer thread is stuck in a held wait.
  bool Blocked() {
    std::lock_guard<std::mutex> lock(mu_);
    return blocked_ > 0;
  }

 private:
  void Block() {
    std::unique_lock<std::mutex> lock(mu_);
    ++blocked_;
    cv_.notify_all();
    cv_.wait(lock, [&] { return !held_; });
    --blocked_;
  }

  FakeClock& clock_;
  std::mutex mu_;
  std::condition_variable cv_;
  bool held_ = false;
  int blocked_ = 0;
};

}  // namespace kestrix::test
