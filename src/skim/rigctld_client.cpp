#include "skim/rigctld_client.h"

#include <fcntl.h>
#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kestrix::skim {

namespace {
constexpr int kTimeoutMs = 1500;

// Connects with a timeout; -1 with `error`.
int ConnectTo(const std::string& host, const std::string& port, std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* res = nullptr;
  const int rc = getaddrinfo(host.c_str(), port.c_str(), &hints, &res);
  if (rc != 0) {
    error = "rigctld at " + host + ":" + port + ": " + gai_strerror(rc);
    return -1;
  }
  int fd = -1;
  error = "rigctld at " + host + ":" + port + ": no address";
  for (addrinfo* ai = res; ai != nullptr; ai = ai->ai_next) {
    fd = socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    if (connect(fd, ai->ai_addr, ai->ai_addrlen) == 0) break;
    if (errno == EINPROGRESS) {
      pollfd p{fd, POLLOUT, 0};
      if (poll(&p, 1, kTimeoutMs) == 1) {
        int err = 0;
        socklen_t len = sizeof err;
        getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        if (err == 0) break;
        error = "rigctld at " + host + ":" + port + ": " + std::strerror(err);
      } else {
        error = "rigctld at " + host + ":" + port + ": no answer";
      }
    } else {
      error = "rigctld at " + host + ":" + port + ": " + std::strerror(errno);
    }
    close(fd);
    fd = -1;
  }
  freeaddrinfo(res);
  return fd;
}
}  // namespace

bool ParseRigctldFrequency(const std::string& reply, double& hz) {
  size_t at = 0;
  while (at < reply.size()) {
    size_t end = reply.find('\n', at);
    if (end == std::string::npos) end = reply.size();
    std::string line = reply.substr(at, end - at);
    while (!line.empty() && (line.back() == '\r' || line.back() == ' ')) line.pop_back();
    double v = 0.0;
    auto [ptr, ec] = std::from_chars(line.data(), line.data() + line.size(), v);
    if (!line.empty() && ec == std::errc() && ptr == line.data() + line.size() &&
        std::isfinite(v) && v > 0.0 && v < 1e12) {
      hz = v;
      return true;
    }
    if (line.rfind("RPRT", 0) == 0) return false;
    at = end + 1;
  }
  return false;
}

bool ParseRigctldMode(const std::string& reply, int& lower) {
  std::string mode = reply.substr(0, reply.find('\n'));
  while (!mode.empty() && (mode.back() == '\r' || mode.back() == ' ')) mode.pop_back();
  // Hamlib's names. CW is received on the upper side, CW-R ("CWR") on the lower; data and
  // RTTY modes follow the sideband they are named for (RTTY itself is lower, as rigs key it).
  static const char* const kUpper[] = {"USB", "CW", "PKTUSB", "RTTYR", "ECSSUSB", "SAH"};
  static const char* const kLower[] = {"LSB", "CWR", "PKTLSB", "RTTY", "ECSSLSB", "SAL"};
  for (const char* m : kUpper)
    if (mode == m) {
      lower = 0;
      return true;
    }
  for (const char* m : kLower)
    if (mode == m) {
      lower = 1;
      return true;
    }
  return false;
}

RigctldClient::RigctldClient(const std::string& address, std::ostream& log, double pollS,
                             double retryS)
    : log_(log), pollS_(pollS), retryS_(retryS), dial_(std::nan("")), lastTaken_(std::nan("")) {
  const size_t colon = address.rfind(':');
  host_ = address.substr(0, colon);
  port_ = colon == std::string::npos ? "4532" : address.substr(colon + 1);
  if (host_.size() > 2 && host_.front() == '[' && host_.back() == ']')
    host_ = host_.substr(1, host_.size() - 2);
}

RigctldClient::~RigctldClient() {
  Stop();
}

void RigctldClient::Close() {
  if (fd_ >= 0) close(fd_);
  fd_ = -1;
}

bool RigctldClient::Ask(const char* command, int lines, std::string& reply, std::string& error) {
  const std::string where = "rigctld at " + host_ + ":" + port_;
  const size_t len = std::strlen(command);
  if (send(fd_, command, len, MSG_NOSIGNAL) != static_cast<ssize_t>(len)) {
    error = where + ": " + std::strerror(errno);
    Close();
    return false;
  }
  reply.clear();
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kTimeoutMs);
  auto complete = [&] {
    if (reply.rfind("RPRT", 0) == 0 && reply.find('\n') != std::string::npos) return true;
    return std::count(reply.begin(), reply.end(), '\n') >= lines;
  };
  while (!complete() && reply.size() < 512) {
    const int left = static_cast<int>(std::chrono::duration_cast<std::chrono::milliseconds>(
                                          deadline - std::chrono::steady_clock::now())
                                          .count());
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || poll(&p, 1, left) != 1) {
      error = where + ": no reply to '" + std::string(command, len - 1) + "'";
      Close();
      return false;
    }
    char buf[256];
    const ssize_t n = recv(fd_, buf, sizeof buf, 0);
    if (n <= 0) {
      error = where + ": connection closed";
      Close();
      return false;
    }
    reply.append(buf, static_cast<size_t>(n));
  }
  return true;
}

bool RigctldClient::Poll(std::string& error) {
  if (fd_ < 0) {
    fd_ = ConnectTo(host_, port_, error);
    if (fd_ < 0) return false;
  }
  std::string reply;
  if (!Ask("f\n", 1, reply, error)) return false;
  double hz = 0.0;
  if (!ParseRigctldFrequency(reply, hz)) {
    error = "rigctld at " + host_ + ":" + port_ + ": no frequency in the reply";
    Close();
    return false;
  }
  // The mode: two lines (mode, passband), or RPRT from a rig that cannot tell; then the
  // sideband stays as it was.
  if (!Ask("m\n", 2, reply, error)) return false;
  int lower = -1;
  if (ParseRigctldMode(reply, lower)) sideband_.store(lower, std::memory_order_relaxed);
  dial_.store(hz, std::memory_order_relaxed);
  return true;
}

bool RigctldClient::Start(std::string& error) {
  const bool ok = Poll(error);
  stop_ = false;
  thread_ = std::thread([this, ok] { Run(!ok); });
  return ok;
}

void RigctldClient::Stop() {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    stop_ = true;
  }
  cv_.notify_all();
  if (thread_.joinable()) thread_.join();
  Close();
}

double RigctldClient::Moved() {
  const double now = dial_.load(std::memory_order_relaxed);
  if (std::isnan(now) || now == lastTaken_) return std::nan("");
  lastTaken_ = now;
  return now;
}

void RigctldClient::Run(bool lost) {
  std::unique_lock<std::mutex> lock(mutex_);
  // After a failed start the first try again waits like any other.
  double wait = lost ? retryS_ : pollS_;
  while (!cv_.wait_for(lock, std::chrono::duration<double>(wait), [this] { return stop_; })) {
    lock.unlock();
    std::string error;
    const bool ok = Poll(error);
    if (!ok && !lost)
      log_ << "kestrix-skim: " << error << "; the dial stays at the last frequency, trying again\n";
    if (ok && lost) log_ << "kestrix-skim: rigctld at " << host_ << ":" << port_ << " answers\n";
    lost = !ok;
    wait = ok ? pollS_ : retryS_;
    lock.lock();
  }
}

}  // namespace kestrix::skim
