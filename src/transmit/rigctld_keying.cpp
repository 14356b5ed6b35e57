#include "transmit/rigctld_keying.h"

#include <netdb.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <charconv>
#include <chrono>
#include <cstring>

#include "transmit/morse_send_table.h"

namespace kestrix::transmit {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr int64_t kReconnectMs = 1000;
constexpr int64_t kSliceUs = 10000;

}  // namespace

bool ParseRigctldAddress(std::string_view text, std::string& host, std::string& port,
                         std::string& error, std::string_view option) {
  auto bad = [&](const char* why) {
    error = std::string(option) + ": \"" + std::string(text) + "\" " + why +
            " (expected HOST:PORT, e.g. 127.0.0.1:4532)";
    return false;
  };
  std::string_view h = text, p;
  if (!text.empty() && text.front() == '[') {
    const size_t close = text.find(']');
    if (close == std::string_view::npos) return bad("has no closing ']'");
    h = text.substr(1, close - 1);
    const std::string_view rest = text.substr(close + 1);
    if (!rest.empty()) {
      if (rest.front() != ':') return bad("has text after ']'");
      p = rest.substr(1);
    }
  } else if (const size_t colon = text.rfind(':'); colon != std::string_view::npos) {
    if (text.find(':') != colon) return bad("is an IPv6 address without brackets");
    h = text.substr(0, colon);
    p = text.substr(colon + 1);
  }
  if (h.empty()) return bad("has no host");
  if (p.empty() && text.find(':') != std::string_view::npos && text.back() == ':')
    return bad("has no port after ':'");
  if (!p.empty()) {
    unsigned v = 0;
    auto [end, ec] = std::from_chars(p.data(), p.data() + p.size(), v);
    if (ec != std::errc() || end != p.data() + p.size() || v == 0 || v > 65535)
      return bad("has a bad port");
  }
  host = std::string(h);
  port = p.empty() ? std::string(kRigctldDefaultPort) : std::string(p);
  return true;
}

// ---------------------------------------------------------------------------------------

RigctldConnection::RigctldConnection(std::string host, std::string port,
                                     std::function<void(const std::string&)> report)
    : host_(std::move(host)), port_(std::move(port)), report_(std::move(report)) {}

RigctldConnection::~RigctldConnection() {
  std::lock_guard<std::mutex> lock(mu_);
  CloseLocked();
}

std::string RigctldConnection::Name() const {
  const bool v6 = host_.find(':') != std::string::npos;
  return "rigctld at " + (v6 ? "[" + host_ + "]" : host_) + ":" + port_;
}

void RigctldConnection::CloseLocked() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  pending_.clear();
}

bool RigctldConnection::Connect(std::string& error) {
  std::lock_guard<std::mutex> lock(mu_);
  if (fd_ >= 0) return true;
  return ConnectLocked(error);
}

bool RigctldConnection::ConnectLocked(std::string& error) {
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* found = nullptr;
  const int rc = ::getaddrinfo(host_.c_str(), port_.c_str(), &hints, &found);
  if (rc != 0) {
    error = Name() + ": " + ::gai_strerror(rc);
    return false;
  }
  error = Name() + ": no address";
  for (addrinfo* ai = found; ai != nullptr; ai = ai->ai_next) {
    const int fd =
        ::socket(ai->ai_family, ai->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC, ai->ai_protocol);
    if (fd < 0) continue;
    int err = 0;
    if (::connect(fd, ai->ai_addr, ai->ai_addrlen) != 0) {
      err = errno;
      if (err == EINPROGRESS) {
        pollfd p{fd, POLLOUT, 0};
        if (::poll(&p, 1, kRigctldTimeoutMs) == 1) {
          socklen_t len = sizeof err;
          ::getsockopt(fd, SOL_SOCKET, SO_ERROR, &err, &len);
        } else {
          err = ETIMEDOUT;
        }
      }
    }
    if (err == 0) {
      fd_ = fd;
      ::freeaddrinfo(found);
      return true;
    }
    error = Name() + ": " + std::strerror(err);
    ::close(fd);
  }
  ::freeaddrinfo(found);
  return false;
}

int RigctldConnection::Exchange(const std::string& command, std::string* lines,
                                std::string& error) {
  const std::string line = "+" + command + "\n";
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::milliseconds(kRigctldTimeoutMs);
  auto left = [&] {
    return static_cast<int>(std::max<int64_t>(
        0, std::chrono::duration_cast<std::chrono::milliseconds>(deadline -
                                                                 std::chrono::steady_clock::now())
               .count()));
  };
  size_t done = 0;
  while (done < line.size()) {
    const ssize_t n = ::send(fd_, line.data() + done, line.size() - done, MSG_NOSIGNAL);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      pollfd p{fd_, POLLOUT, 0};
      if (::poll(&p, 1, left()) == 1) continue;
      error = Name() + ": not taking commands";
      return kRigctldLost;
    }
    error = Name() + ": " + std::strerror(errno);
    return kRigctldLost;
  }
  sent_.fetch_add(1);
  // The reply: lines up to "RPRT n".
  std::string reply;
  for (;;) {
    size_t end;
    while ((end = pending_.find('\n')) != std::string::npos) {
      std::string l = pending_.substr(0, end);
      pending_.erase(0, end + 1);
      while (!l.empty() && (l.back() == '\r' || l.back() == ' ')) l.pop_back();
      if (l.rfind("RPRT ", 0) == 0) {
        int v = -1;
        std::from_chars(l.data() + 5, l.data() + l.size(), v);
        if (lines) *lines = reply;
        return v > 0 ? -v : v;
      }
      reply += l + "\n";
    }
    if (pending_.size() > 65536) {
      error = Name() + ": a reply without an end";
      return kRigctldLost;
    }
    pollfd p{fd_, POLLIN, 0};
    const int ready = ::poll(&p, 1, left());
    if (ready < 0 && errno == EINTR) continue;
    if (ready != 1) {
      error = Name() + ": no reply to \"" + command.substr(0, 20) + "\"";
      return kRigctldLost;
    }
    char buf[1024];
    const ssize_t n = ::recv(fd_, buf, sizeof buf, 0);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      error = Name() + (n == 0 ? ": connection closed" : ": " + std::string(std::strerror(errno)));
      return kRigctldLost;
    }
    pending_.append(buf, static_cast<size_t>(n));
  }
}

int RigctldConnection::Command(const std::string& command, std::string* lines) {
  std::lock_guard<std::mutex> lock(mu_);
  std::string error;
  if (fd_ < 0) {
    if (SteadyMs() < nextAttemptMs_) return kRigctldLost;
    if (!ConnectLocked(error)) {
      nextAttemptMs_ = SteadyMs() + kReconnectMs;
      if (!lost_ && report_) report_(error + "; nothing is keyed through it until it is back");
      lost_ = true;
      return kRigctldLost;
    }
    if (lost_ && report_) report_(Name() + " is back");
    lost_ = false;
  }
  const int result = Exchange(command, lines, error);
  if (result == kRigctldLost) {
    CloseLocked();
    nextAttemptMs_ = SteadyMs() + kReconnectMs;
    if (!lost_ && report_) report_(error + "; nothing is keyed through it until it is back");
    lost_ = true;
  }
  return result;
}

// ---------------------------------------------------------------------------------------

bool RigctldPtt::SetPtt(bool on) {
  return rig_.Command(on ? "T 1" : "T 0") == 0;
}

int64_t MorseUnits(std::string_view text) {
  const MorseSendTable& table = NetworkSendTable();
  int64_t units = 0;
  for (char c : text) {
    for (char s : table.Pattern(static_cast<uint8_t>(c))) {
      if (s == '.') units += 2;
      if (s == '-') units += 4;
      if (s == '*') units += 2;
      if (s == '^') units += 4;
    }
  }
  return units;
}

std::string RigKeyerText(std::string_view text) {
  static constexpr std::string_view kKept = " \"'(),-./:;=?@+";
  std::string out;
  for (char c : text) {
    const auto u = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    if ((u >= 'A' && u <= 'Z') || (u >= '0' && u <= '9') || kKept.find(u) != std::string_view::npos)
      out += u;
  }
  return out;
}

RigctldKeyer::RigctldKeyer(RigctldConnection& rig, Waiter& waiter,
                           std::function<void(const std::string&)> report)
    : rig_(rig), waiter_(waiter), report_(std::move(report)) {}

bool RigctldKeyer::WaitUntil(int64_t us, const StopWhen& stop) {
  for (int64_t now = waiter_.NowUs(); now < us; now = waiter_.NowUs()) {
    if (stop && stop()) return false;
    waiter_.WaitUntilUs(std::min(us, now + kSliceUs));
  }
  return !(stop && stop());
}

bool RigctldKeyer::SetSpeed(int wpm) {
  if (wpm == speed_) return true;
  const int r = rig_.Command("L KEYSPD " + std::to_string(wpm));
  if (r == kRigctldLost) return false;
  if (r != 0 && !reportedSpeed_ && report_) {
    report_(rig_.Name() + ": the rig did not take the keyer speed (RPRT " + std::to_string(r) +
            "); it keys at its own");
    reportedSpeed_ = true;
  }
  speed_ = wpm;
  return true;
}

bool RigctldKeyer::Send(std::string_view text, int wpm, const StopWhen& stop) {
  if (wpm <= 0) return false;
  const std::string keyed = RigKeyerText(text);
  if (keyed.empty()) return true;
  if (wpm != speed_) {
    // A new speed applies to what the rig still holds: let that go out first.
    if (!Drain(stop)) return false;
    if (!SetSpeed(wpm)) return false;
  }
  const int64_t unitUs = 1200000 / wpm;
  size_t at = 0;
  while (at < keyed.size()) {
    // The chunk: one character at least, more while they fit kRigChunkUs, and the spaces
    // after it: the rig keys a word space only for a space it is given, so a chunk never
    // starts with one (except at the start of the text, where the rig is idle anyway).
    size_t n = 1;
    int64_t us = MorseUnits(keyed.substr(at, 1)) * unitUs;
    while (at + n < keyed.size() && keyed[at + n] != ' ') {
      const int64_t more = MorseUnits(keyed.substr(at + n, 1)) * unitUs;
      if (us + more > kRigChunkUs) break;
      us += more;
      ++n;
    }
    while (at + n < keyed.size() && keyed[at + n] == ' ') {
      us += MorseUnits(" ") * unitUs;
      ++n;
    }
    std::string chunk = keyed.substr(at, n);
    at += n;
    // Only spaces: nothing for the rig to key, just their time.
    const bool blank = chunk.find_first_not_of(' ') == std::string::npos;
    if (!WaitUntil(busyUntilUs_.load() - kRigLeadUs, stop)) {
      Stop();
      return false;
    }
    if (!blank) {
      const int r = rig_.Command("b " + chunk);
      if (r == kRigctldLost) return false;
      if (r != 0) {
        if (report_ && !reportedMorse_)
          report_(rig_.Name() + ": the rig refused send_morse (RPRT " + std::to_string(r) +
                  "); nothing keyed");
        reportedMorse_ = true;
        return false;
      }
    }
    busyUntilUs_.store(std::max(busyUntilUs_.load(), waiter_.NowUs()) + us);
  }
  return true;
}

bool RigctldKeyer::Drain(const StopWhen& stop) {
  if (!WaitUntil(busyUntilUs_.load(), stop)) {
    Stop();
    return false;
  }
  return true;
}

void RigctldKeyer::Stop() {
  busyUntilUs_.store(waiter_.NowUs());
  if (!stopMorse_.load()) return;
  const int r = rig_.Command("\\stop_morse");
  // Not implemented (-11) or not available (-4) for this rig: never asked again; the
  // short stretch ahead of the keying bounds the stop instead.
  if (r == -11 || r == -4) stopMorse_.store(false);
}

}  // namespace kestrix::transmit
