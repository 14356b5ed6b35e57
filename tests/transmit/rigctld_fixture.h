// A real rigctld for the tests: Hamlib's dummy rig (-m 1, PTT answered with -P RIG),
// started on a free loopback port and ended by the fixture; and a recording proxy in
// front of it that keeps every command line a client sends, with its time on the
// monotonic clock. Tests skip (GTEST_SKIP) when rigctld is not installed.
#pragma once

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/monotonic_wait.h"

namespace kestrix::test {

// The rigctld on the PATH, or empty.
inline std::string FindRigctld() {
  const char* path = std::getenv("PATH");
  std::string dirs = path ? path : "/usr/bin:/bin";
  size_t at = 0;
  while (at <= dirs.size()) {
    const size_t end = std::min(dirs.find(':', at), dirs.size());
    const std::string candidate = dirs.substr(at, end - at) + "/rigctld";
    if (end > at && ::access(candidate.c_str(), X_OK) == 0) return candidate;
    at = end + 1;
  }
  return {};
}

// A loopback port nothing listens on just now.
inline uint16_t FreeLoopbackPort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
  socklen_t len = sizeof a;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
  ::close(fd);
  return ntohs(a.sin_port);
}

inline int ConnectLoopback(uint16_t port) {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in a{};
  a.sin_family = AF_INET;
  a.sin_port = htons(port);
  a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  if (::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a) != 0) {
    ::close(fd);
    return -1;
  }
  return fd;
}

class RigctldProcess {
 public:
  // Starts `rigctld -m 1 -P RIG` on a free loopback port; Running() says whether it answers.
  explicit RigctldProcess(const std::string& exe) : port_(FreeLoopbackPort()) {
    std::string port = std::to_string(port_);
    std::vector<std::string> args = {"rigctld", "-m",        "1",  "-P", "RIG",
                                     "-T",      "127.0.0.1", "-t", port};
    std::vector<char*> argv;
    for (std::string& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    // Its own process group, and its output dropped.
    posix_spawnattr_t attr;
    posix_spawnattr_init(&attr);
    posix_spawnattr_setflags(&attr, POSIX_SPAWN_SETPGROUP);
    posix_spawn_file_actions_t files;
    posix_spawn_file_actions_init(&files);
    posix_spawn_file_actions_addopen(&files, 1, "/dev/null", O_WRONLY, 0);
    posix_spawn_file_actions_addopen(&files, 2, "/dev/null", O_WRONLY, 0);
    if (::posix_spawn(&pid_, exe.c_str(), &files, &attr, argv.data(), environ) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&files);
    posix_spawnattr_destroy(&attr);
    for (int i = 0; i < 500 && pid_ > 0; ++i) {
      const int fd = ConnectLoopback(port_);
      if (fd >= 0) {
        // One command answered, then time for rigctld to finish with this connection:
        // Hamlib 4.5's rigctld can drop a connection opened while it is still closing
        // the previous one ("fdopen ... Bad file descriptor").
        char reply[256];
        running_ =
            ::send(fd, "+f\n", 3, MSG_NOSIGNAL) == 3 && ::recv(fd, reply, sizeof reply, 0) > 0;
        ::close(fd);
        std::this_thread::sleep_for(std::chrono::milliseconds(150));
        break;
      }
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
  }
  ~RigctldProcess() { Kill(); }
  RigctldProcess(const RigctldProcess&) = delete;
  RigctldProcess& operator=(const RigctldProcess&) = delete;

  bool Running() const { return running_; }
  uint16_t Port() const { return port_; }
  // Ends it now (the "rigctld went away" tests) and reaps it.
  void Kill() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    int status = 0;
    ::waitpid(pid_, &status, 0);
    pid_ = -1;
    running_ = false;
  }

 private:
  uint16_t port_;
  pid_t pid_ = -1;
  bool running_ = false;
};

// Forwards loopback connections to `target` and records each client line.
class RecordingProxy {
 public:
  struct Line {
    int64_t atUs;
    std::string text;
  };

  explicit RecordingProxy(uint16_t target) : target_(target) {
    listen_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::bind(listen_, reinterpret_cast<sockaddr*>(&a), sizeof a);
    ::listen(listen_, 8);
    socklen_t len = sizeof a;
    ::getsockname(listen_, reinterpret_cast<sockaddr*>(&a), &len);
    port_ = ntohs(a.sin_port);
    wake_ = ::eventfd(0, EFD_CLOEXEC);
    thread_ = std::thread([this] { Run(); });
  }
  ~RecordingProxy() {
    const uint64_t one = 1;
    (void)!::write(wake_, &one, sizeof one);
    thread_.join();
    for (Pair& p : pairs_) {
      ::close(p.client);
      ::close(p.rig);
    }
    ::close(listen_);
    ::close(wake_);
  }
  RecordingProxy(const RecordingProxy&) = delete;
  RecordingProxy& operator=(const RecordingProxy&) = delete;

  uint16_t Port() const { return port_; }
  std::string Address() const { return "127.0.0.1:" + std::to_string(port_); }
  std::vector<Line> Lines() const {
    std::lock_guard<std::mutex> lock(mu_);
    return lines_;
  }
  // The lines that start with `prefix`.
  std::vector<Line> LinesStarting(const std::string& prefix) const {
    std::vector<Line> out;
    for (const Line& l : Lines())
      if (l.text.rfind(prefix, 0) == 0) out.push_back(l);
    return out;
  }

 private:
  struct Pair {
    int client;
    int rig;
    std::string partial;
    bool open = true;
  };

  void Run() {
    for (;;) {
      std::vector<pollfd> fds = {{wake_, POLLIN, 0}, {listen_, POLLIN, 0}};
      for (Pair& p : pairs_) {
        fds.push_back({p.open ? p.client : -1, POLLIN, 0});
        fds.push_back({p.open ? p.rig : -1, POLLIN, 0});
      }
      if (::poll(fds.data(), fds.size(), -1) < 0) continue;
      if (fds[0].revents) return;
      if (fds[1].revents & POLLIN) {
        const int c = ::accept4(listen_, nullptr, nullptr, SOCK_CLOEXEC);
        const int r = c >= 0 ? ConnectLoopback(target_) : -1;
        if (c >= 0 && r < 0) ::close(c);  // rigctld is gone: refuse as it would
        if (c >= 0 && r >= 0) pairs_.push_back({c, r, {}});
        continue;
      }
      for (size_t i = 0; i < pairs_.size(); ++i) {
        Pair& p = pairs_[i];
        const short fromClient = fds[2 + 2 * i].revents, fromRig = fds[3 + 2 * i].revents;
        if (fromClient) Forward(p, p.client, p.rig, true);
        if (fromRig && p.open) Forward(p, p.rig, p.client, false);
      }
    }
  }

  void Forward(Pair& p, int from, int to, bool record) {
    char buf[4096];
    const ssize_t n = ::recv(from, buf, sizeof buf, 0);
    if (n <= 0) {
      // One side has gone: so goes the other, as a dead rigctld's socket would.
      ::shutdown(p.client, SHUT_RDWR);
      ::shutdown(p.rig, SHUT_RDWR);
      p.open = false;
      return;
    }
    if (record) {
      const int64_t now = platform::MonotonicNowUs();
      p.partial.append(buf, static_cast<size_t>(n));
      size_t end;
      std::lock_guard<std::mutex> lock(mu_);
      while ((end = p.partial.find('\n')) != std::string::npos) {
        lines_.push_back({now, p.partial.substr(0, end)});
        p.partial.erase(0, end + 1);
      }
    }
    (void)!::send(to, buf, static_cast<size_t>(n), MSG_NOSIGNAL);
  }

  uint16_t target_;
  int listen_ = -1;
  int wake_ = -1;
  uint16_t port_ = 0;
  std::vector<Pair> pairs_;  // proxy thread only
  mutable std::mutex mu_;
  std::vector<Line> lines_;
  std::thread thread_;
};

}  // namespace kestrix::test
