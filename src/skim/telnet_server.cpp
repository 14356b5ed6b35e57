#include "skim/telnet_server.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstring>
#include <deque>
#include <memory>

#include "skim/telnet_input.h"

namespace kestrix::skim {

namespace {

using Clock = std::chrono::steady_clock;

// Poll wakes at least this often to close silent logins.
constexpr int kPollTimeoutMs = 500;
// Bytes read from a client in one go.
constexpr size_t kReadChunk = 2048;
// Spot lines waiting for the server thread; beyond this the oldest are dropped (the thread
// only lags this far if the machine stalls it).
constexpr size_t kMaxPendingLines = 4096;
// On Stop, what is queued still goes to clients that read within this long.
constexpr int kDrainMs = 1000;

std::string SystemError(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

struct TelnetServer::Client {
  int fd = -1;
  TelnetInput input;
  std::string out;       // bytes still to send
  size_t outOffset = 0;  // sent from the front of `out`
  bool loggedIn = false;
  ClusterClientSettings settings;
  bool closing = false;  // send what is queued, then close
  bool dead = false;     // close now
  Clock::time_point connectedAt;
  Clock::time_point windowStart;  // input flood accounting, one-second windows
  size_t windowBytes = 0;

  size_t Queued() const { return out.size() - outOffset; }
  void Queue(std::string_view bytes) {
    if (outOffset > 0 && outOffset * 2 >= out.size()) {
      out.erase(0, outOffset);
      outOffset = 0;
    }
    out.append(bytes);
  }
};

// Sends what the socket takes without waiting. False (and the client marked dead) when the
// connection is gone.
bool TelnetServer::Flush(Client& c) {
  while (c.Queued() > 0) {
    const ssize_t n =
        send(c.fd, c.out.data() + c.outOffset, c.Queued(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      c.outOffset += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    c.dead = true;
    return false;
  }
  if (c.outOffset == c.out.size()) {
    c.out.clear();
    c.outOffset = 0;
  }
  return true;
}

TelnetServer::TelnetServer(const TelnetServerConfig& config) : config_(config) {}

TelnetServer::~TelnetServer() {
  Stop();
}

bool TelnetServer::Start(std::string& error) {
  if (running_.load(std::memory_order_acquire)) return true;
  const std::string where = config_.listenAddress + " port " + std::to_string(config_.port);

  sockaddr_storage addr{};
  socklen_t addrLen = 0;
  int family = AF_INET;
  {
    auto* v4 = reinterpret_cast<sockaddr_in*>(&addr);
    auto* v6 = reinterpret_cast<sockaddr_in6*>(&addr);
    if (config_.port < 0 || config_.port > 65535) {
      error = "telnet: port " + std::to_string(config_.port) + " is not a TCP port (0..65535)";
      return false;
    }
    if (inet_pton(AF_INET, config_.listenAddress.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(static_cast<uint16_t>(config_.port));
      addrLen = sizeof(sockaddr_in);
    } else if (inet_pton(AF_INET6, config_.listenAddress.c_str(), &v6->sin6_addr) == 1) {
      family = AF_INET6;
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(static_cast<uint16_t>(config_.port));
      addrLen = sizeof(sockaddr_in6);
    } else {
      error =
          "telnet: listen address \"" + config_.listenAddress + "\" is not an IPv4 or IPv6 address";
      return false;
    }
  }

  listenFd_ = socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (listenFd_ < 0) {
    error = "telnet: " + SystemError("socket");
    return false;
  }
  const int one = 1;
  setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (bind(listenFd_, reinterpret_cast<sockaddr*>(&addr), addrLen) != 0 ||
      listen(listenFd_, SOMAXCONN) != 0) {
    error = "telnet: cannot listen on " + where + ": " + std::strerror(errno);
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  sockaddr_storage bound{};
  socklen_t boundLen = sizeof bound;
  if (getsockname(listenFd_, reinterpret_cast<sockaddr*>(&bound), &boundLen) == 0) {
    const int port = bound.ss_family == AF_INET6
                         ? ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port)
                         : ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    boundPort_.store(port, std::memory_order_release);
  }
  if (pipe2(wakeFd_, O_NONBLOCK | O_CLOEXEC) != 0) {
    error = "telnet: " + SystemError("pipe");
    close(listenFd_);
    listenFd_ = -1;
    return false;
  }
  stopRequested_.store(false, std::memory_order_release);
  running_.store(true, std::memory_order_release);
  thread_ = std::thread(&TelnetServer::Run, this);
  return true;
}

void TelnetServer::Stop() {
  if (thread_.joinable()) {
    stopRequested_.store(true, std::memory_order_release);
    Wake();
    thread_.join();
  }
  for (int& fd : wakeFd_) {
    if (fd >= 0) close(fd);
    fd = -1;
  }
  if (listenFd_ >= 0) close(listenFd_);
  listenFd_ = -1;
  running_.store(false, std::memory_order_release);
  boundPort_.store(0, std::memory_order_release);
  {
    // A waiter for the first login gives up with the server.
    std::lock_guard<std::mutex> lock(loginMutex_);
    loginCv_.notify_all();
  }
}

void TelnetServer::Wake() {
  if (wakeFd_[1] < 0) return;
  const char byte = 1;
  // A full pipe already holds a wake-up; nothing is lost when this write fails.
  [[maybe_unused]] const ssize_t n = write(wakeFd_[1], &byte, 1);
}

void TelnetServer::Publish(std::string_view line, SpotKind kind) {
  // Kept for sh/dx even while nobody is logged in.
  {
    std::lock_guard<std::mutex> lock(pendingMutex_);
    if (pending_.size() >= kMaxPendingLines) pending_.erase(pending_.begin());
    pending_.push_back({std::string(line), kind});
  }
  if (loggedIn_.load(std::memory_order_relaxed) > 0)
    published_.fetch_add(1, std::memory_order_relaxed);
  Wake();
}

bool TelnetServer::WaitForFirstLogin(double seconds) {
  std::unique_lock<std::mutex> lock(loginMutex_);
  const auto deadline =
      Clock::now() + std::chrono::duration_cast<Clock::duration>(
                         std::chrono::duration<double>(seconds > 0 ? seconds : 0.0));
  loginCv_.wait_until(lock, deadline,
                      [&] { return anyLogin_ || stopRequested_.load(std::memory_order_acquire); });
  return anyLogin_;
}

void TelnetServer::Run() {
  std::vector<std::unique_ptr<Client>> clients;
  std::vector<pollfd> fds;
  std::vector<PublishedSpot> lines;
  std::deque<PublishedSpot> history;  // the last kMaxShowDx, oldest first
  char buffer[kReadChunk];
  const std::string prompt = std::string(kTelnetPrompt) + " ";

  auto drop = [&](Client& c) {
    c.dead = true;
    dropped_.fetch_add(1, std::memory_order_relaxed);
  };
  // Hands the pending lines to every logged-in client that wants them, and to sh/dx.
  auto deliver = [&] {
    {
      std::lock_guard<std::mutex> lock(pendingMutex_);
      lines.swap(pending_);
    }
    if (lines.empty()) return;
    for (auto& c : clients) {
      if (!c->loggedIn || c->dead || c->closing) continue;
      for (const PublishedSpot& spot : lines) {
        if (!WantsSpot(c->settings, spot)) continue;
        c->Queue(spot.line);
        c->Queue("\r\n");
      }
      // What the socket takes now doesn't count against the client's queue.
      if (!Flush(*c)) continue;
      if (c->Queued() > config_.maxQueueBytes) drop(*c);  // it doesn't read: let it go
    }
    for (PublishedSpot& spot : lines) {
      if (history.size() >= static_cast<size_t>(kMaxShowDx)) history.pop_front();
      history.push_back(std::move(spot));
    }
    lines.clear();
  };

  while (!stopRequested_.load(std::memory_order_acquire)) {
    fds.clear();
    fds.push_back({wakeFd_[0], POLLIN, 0});
    fds.push_back({listenFd_, POLLIN, 0});
    for (const auto& c : clients) {
      short events = c->closing ? 0 : POLLIN;
      if (c->Queued() > 0) events |= POLLOUT;
      fds.push_back({c->fd, events, 0});
    }
    const int ready = poll(fds.data(), fds.size(), kPollTimeoutMs);
    if (ready < 0 && errno != EINTR) break;
    const auto now = Clock::now();

    // Wake-ups: drain the pipe, hand the pending lines to every logged-in client.
    if (fds[0].revents & POLLIN) {
      while (read(wakeFd_[0], buffer, sizeof buffer) > 0) {
      }
    }
    deliver();

    // Clients: what they send, and what we owe them.
    for (size_t i = 0; i < clients.size(); ++i) {
      Client& c = *clients[i];
      const short revents = fds[i + 2].revents;
      if (c.dead) continue;
      if (revents & POLLIN) {
        const ssize_t n = recv(c.fd, buffer, sizeof buffer, 0);
        if (n == 0 || (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR)) {
          c.dead = true;
          continue;
        }
        if (n > 0) {
          if (now - c.windowStart >= std::chrono::seconds(1)) {
            c.windowStart = now;
            c.windowBytes = 0;
          }
          c.windowBytes += static_cast<size_t>(n);
          if (c.windowBytes > config_.maxInputBytesPerSecond) {
            drop(c);  // a flood
            continue;
          }
          std::vector<TelnetEvent> events;
          c.input.Feed(std::string_view(buffer, static_cast<size_t>(n)), events);
          for (const TelnetEvent& e : events) {
            switch (e.kind) {
              case TelnetEvent::Kind::Login:
                if (!c.loggedIn) {
                  c.loggedIn = true;
                  loggedIn_.fetch_add(1, std::memory_order_relaxed);
                  c.Queue("Hello " + e.text + ", this is the Kestrix skimmer.\r\n");
                  std::lock_guard<std::mutex> lock(loginMutex_);
                  anyLogin_ = true;
                  loginCv_.notify_all();
                }
                break;
              case TelnetEvent::Kind::BadLogin:
                c.Queue("\r\n" + prompt);
                break;
              case TelnetEvent::Kind::Bye:
                c.Queue("73\r\n");
                c.closing = true;
                break;
              case TelnetEvent::Kind::Command:
                c.Queue(AnswerClusterCommand(e.text, c.settings, history));
                break;
              case TelnetEvent::Kind::Overlong:
                break;  // the cut line comes as a Command
            }
          }
          if (c.Queued() > config_.maxQueueBytes) {
            drop(c);  // asks for more than it reads
            continue;
          }
        }
      } else if (revents & (POLLHUP | POLLERR | POLLNVAL)) {
        c.dead = true;
        continue;
      }
      if (c.Queued() > 0 && (revents & POLLOUT) && !Flush(c)) continue;
      if (c.closing && c.Queued() == 0) c.dead = true;
      if (!c.loggedIn && !c.dead &&
          now - c.connectedAt > std::chrono::duration<double>(config_.loginTimeoutS))
        drop(c);
    }

    // New connections.
    if (fds[1].revents & POLLIN) {
      while (true) {
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
        if (fd < 0) break;
        if (clients.size() >= config_.maxClients) {
          static constexpr char kFull[] = "Sorry, no more connections.\r\n";
          [[maybe_unused]] const ssize_t n =
              send(fd, kFull, sizeof kFull - 1, MSG_NOSIGNAL | MSG_DONTWAIT);
          close(fd);
          continue;
        }
        auto c = std::make_unique<Client>();
        c->fd = fd;
        c->connectedAt = c->windowStart = now;
        if (!config_.greeting.empty()) {
          c->Queue(config_.greeting);
          c->Queue("\r\n");
        }
        c->Queue(prompt);
        clients.push_back(std::move(c));
        connected_.fetch_add(1, std::memory_order_relaxed);
      }
    }

    // Close the dead.
    for (size_t i = 0; i < clients.size();) {
      if (!clients[i]->dead) {
        ++i;
        continue;
      }
      close(clients[i]->fd);
      if (clients[i]->loggedIn) loggedIn_.fetch_sub(1, std::memory_order_relaxed);
      connected_.fetch_sub(1, std::memory_order_relaxed);
      clients.erase(clients.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }

  // Stopping: the spots published up to now still go out (the last ones of a recording
  // come just before the stop), to clients that read within kDrainMs.
  deliver();
  const auto drainUntil = Clock::now() + std::chrono::milliseconds(kDrainMs);
  while (Clock::now() < drainUntil) {
    fds.clear();
    for (const auto& c : clients)
      if (!c->dead && c->Queued() > 0) fds.push_back({c->fd, POLLOUT, 0});
    if (fds.empty()) break;
    if (poll(fds.data(), fds.size(), 50) < 0 && errno != EINTR) break;
    for (auto& c : clients)
      if (!c->dead && c->Queued() > 0) Flush(*c);
  }
  for (auto& c : clients) {
    close(c->fd);
    if (c->loggedIn) loggedIn_.fetch_sub(1, std::memory_order_relaxed);
    connected_.fetch_sub(1, std::memory_order_relaxed);
  }
}

}  // namespace kestrix::skim
