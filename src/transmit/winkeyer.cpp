#include "transmit/winkeyer.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>

namespace kestrix::transmit {

namespace {

int64_t SteadyMs() {
  return std::chrono::duration_cast<std::chrono::milliseconds>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

// Commands (K1EL's WK2/WK3 host interface).
constexpr uint8_t kAdmin = 0x00;
constexpr uint8_t kAdminHostOpen = 0x02;
constexpr uint8_t kAdminHostClose = 0x03;
constexpr uint8_t kSidetone = 0x01;
constexpr uint8_t kSpeed = 0x02;
constexpr uint8_t kWeighting = 0x03;
constexpr uint8_t kPttLeadTail = 0x04;
constexpr uint8_t kPinConfig = 0x09;
constexpr uint8_t kClearBuffer = 0x0A;
constexpr uint8_t kMode = 0x0E;
constexpr uint8_t kMerge = 0x1B;

// Mode register: paddle echo (bit 6) and serial echo (bit 2), iambic B.
constexpr uint8_t kModeEchoes = 0x44;
// Pin configuration: PTT enable (bit 0), side tone (bit 1), key output 1 (bit 2).
constexpr uint8_t kPinPtt = 0x01;
constexpr uint8_t kPinSidetone = 0x02;
constexpr uint8_t kPinKey1 = 0x04;

// Status bytes are 110xxxxx; speed pot bytes 10xxxxxx.
bool IsStatus(uint8_t b) {
  return (b & 0xE0) == 0xC0;
}
bool IsSpeedPot(uint8_t b) {
  return (b & 0xC0) == 0x80;
}

// The two letters a prosign character is merged from, or nullptr.
const char* MergedLetters(char c) {
  switch (c) {
    case '"':
      return "AF";
    case '$':
      return "SX";
    case '\'':
      return "WG";
    case '(':
      return "KN";
    case ')':
      return "KK";
    case '+':
    case '*':
      return "AR";
    case ':':
      return "OS";
    case ';':
      return "KR";
    case '=':
      return "BT";
    case '@':
      return "AC";
    case '_':
      return "IQ";
    case '<':
      return "SK";
    case '>':
      return "BK";
    case '!':
      return "SN";
    case '&':
      return "AS";
    case '-':
      return "DU";
    case '/':
      return "DN";
    default:
      return nullptr;
  }
}

}  // namespace

std::string WinKeyerBytes(std::string_view text, size_t* echoes) {
  std::string out;
  size_t n = 0;
  for (char raw : text) {
    const auto c = static_cast<char>(std::toupper(static_cast<unsigned char>(raw)));
    if ((c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == ' ' || c == '.' || c == ',' ||
        c == '?') {
      out += c;
      ++n;
    } else if (const char* letters = MergedLetters(c)) {
      // Not counted: whether a keyer echoes a merged pair is not relied on.
      out += static_cast<char>(kMerge);
      out += letters;
    }
  }
  if (echoes) *echoes = n;
  return out;
}

int WinKeyerSidetoneCode(int hz) {
  int best = 1;
  for (int n = 1; n <= 10; ++n)
    if (std::abs(4000 / n - hz) < std::abs(4000 / best - hz)) best = n;
  return best;
}

WinKeyer::WinKeyer(WinKeyerOptions options) : options_(std::move(options)) {}

WinKeyer::~WinKeyer() {
  Close();
}

void WinKeyer::Fail(const std::string& why) {
  if (gone_.exchange(true)) return;
  if (options_.report) options_.report(why);
  std::lock_guard<std::mutex> lock(mu_);
  cv_.notify_all();
}

bool WinKeyer::Open(const std::string& path, std::string& error) {
  path_ = path;
  do {
    fd_ = ::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC);
  } while (fd_ < 0 && errno == EINTR);
  if (fd_ < 0) {
    error = "cannot open " + path + ": " + std::strerror(errno);
    return false;
  }
  termios t{};
  if (::tcgetattr(fd_, &t) != 0) {
    error = path + " is not a serial port: " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  // Raw, 1200 baud, 8N2, no flow control of the port's own.
  ::cfmakeraw(&t);
  t.c_cflag &= ~static_cast<tcflag_t>(PARENB | CRTSCTS | CSIZE);
  t.c_cflag |= CS8 | CSTOPB | CLOCAL | CREAD;
  t.c_iflag &= ~static_cast<tcflag_t>(IXON | IXOFF | IXANY);
  t.c_cc[VMIN] = 0;
  t.c_cc[VTIME] = 0;
  ::cfsetispeed(&t, B1200);
  ::cfsetospeed(&t, B1200);
  if (::tcsetattr(fd_, TCSANOW, &t) != 0) {
    error = "cannot set up " + path + ": " + std::strerror(errno);
    ::close(fd_);
    fd_ = -1;
    return false;
  }
  ::tcflush(fd_, TCIOFLUSH);
  // Host open: the keyer answers its revision.
  if (!Write(std::string{static_cast<char>(kAdmin), static_cast<char>(kAdminHostOpen)})) {
    error = "no WinKeyer answering on " + path + " (the port takes nothing)";
    Close();
    return false;
  }
  const int64_t deadline = SteadyMs() + kWinKeyerAnswerMs;
  for (;;) {
    const int64_t left = deadline - SteadyMs();
    pollfd p{fd_, POLLIN, 0};
    if (left <= 0 || ::poll(&p, 1, static_cast<int>(left)) != 1 || (p.revents & POLLIN) == 0) {
      error = "no WinKeyer answering on " + path + " (no reply to host open)";
      gone_.store(true);
      Close();
      return false;
    }
    uint8_t b = 0;
    if (::read(fd_, &b, 1) == 1) {
      if (IsStatus(b) || IsSpeedPot(b)) continue;  // unsolicited; the revision follows
      revision_ = b;
      break;
    }
  }
  const uint8_t pins =
      kPinKey1 | kPinPtt | static_cast<uint8_t>(options_.sidetone ? kPinSidetone : 0);
  auto tenMs = [](int ms) { return static_cast<char>(std::clamp((ms + 5) / 10, 0, 250)); };
  const std::string setup = {static_cast<char>(kMode),
                             static_cast<char>(kModeEchoes),
                             static_cast<char>(kPinConfig),
                             static_cast<char>(pins),
                             static_cast<char>(kSidetone),
                             static_cast<char>(WinKeyerSidetoneCode(options_.sidetoneHz)),
                             static_cast<char>(kPttLeadTail),
                             tenMs(options_.pttLeadMs),
                             tenMs(options_.pttTailMs),
                             static_cast<char>(kWeighting),
                             static_cast<char>(std::clamp(options_.weighting, 10, 90)),
                             static_cast<char>(kSpeed),
                             static_cast<char>(std::clamp(options_.wpm, 5, 99))};
  speed_ = std::clamp(options_.wpm, 5, 99);
  if (!Write(setup)) {
    error = "the WinKeyer on " + path + " failed during setup";
    Close();
    return false;
  }
  lastHeardMs_ = SteadyMs();
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  reader_ = std::thread(&WinKeyer::Reader, this);
  return true;
}

void WinKeyer::Close() {
  if (fd_ >= 0 && !gone_.load()) {
    if (Write(std::string{static_cast<char>(kAdmin), static_cast<char>(kAdminHostClose)}))
      WaitSent();
  }
  if (reader_.joinable()) {
    const uint64_t one = 1;
    (void)!::write(wakeFd_, &one, sizeof one);
    reader_.join();
  }
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
  std::lock_guard<std::mutex> lock(writeMu_);
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool WinKeyer::Write(const std::string& bytes) {
  std::lock_guard<std::mutex> lock(writeMu_);
  if (fd_ < 0) return false;
  size_t done = 0;
  const int64_t deadline = SteadyMs() + kWinKeyerAnswerMs;
  while (done < bytes.size()) {
    const ssize_t n = ::write(fd_, bytes.data() + done, bytes.size() - done);
    if (n > 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) {
      const int64_t left = deadline - SteadyMs();
      pollfd p{fd_, POLLOUT, 0};
      if (left > 0 && ::poll(&p, 1, static_cast<int>(left)) == 1 && (p.revents & POLLOUT)) continue;
      Fail("the WinKeyer on " + path_ + " takes nothing more; nothing more is keyed");
      return false;
    }
    Fail("the WinKeyer on " + path_ + " went away (" + std::strerror(errno) +
         "); nothing more is keyed");
    return false;
  }
  return true;
}

void WinKeyer::Reader() {
  int64_t quietUntilMs = 0;  // echoes of a cleared buffer are not the paddles
  for (;;) {
    pollfd fds[2] = {{fd_, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, 100);
    if (ready < 0 && errno == EINTR) continue;
    if (fds[1].revents) return;
    if (ready <= 0) continue;
    if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL)) {
      Fail("the WinKeyer on " + path_ + " went away (the port hung up); nothing more is keyed");
      return;
    }
    uint8_t buf[64];
    const ssize_t n = ::read(fd_, buf, sizeof buf);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      Fail("the WinKeyer on " + path_ + " went away (" +
           (n == 0 ? std::string("end of file") : std::string(std::strerror(errno))) +
           "); nothing more is keyed");
      return;
    }
    std::string paddle;
    {
      std::lock_guard<std::mutex> lock(mu_);
      lastHeardMs_ = SteadyMs();
      if (stopAtMs_ != 0) {
        quietUntilMs = stopAtMs_ + 200;
        stopAtMs_ = 0;
      }
      for (ssize_t i = 0; i < n; ++i) {
        const uint8_t b = buf[i];
        if (IsStatus(b)) {
          xoff_ = (b & 0x01) != 0;
          breakin_ = (b & 0x02) != 0;
          busy_ = (b & 0x04) != 0;
        } else if (IsSpeedPot(b)) {
          // The operator's speed knob: the host's speed command rules while it is open.
        } else if (b >= 0x20 && b < 0x80) {
          if (!breakin_ && echoed_ < expected_) {
            ++echoed_;
          } else if (!breakin_ && mergeSlack_ > 0) {
            --mergeSlack_;  // a merged pair's letters, where the keyer echoes them
          } else if (lastHeardMs_ >= quietUntilMs) {
            paddle += static_cast<char>(b);
          }
        }
      }
      cv_.notify_all();
    }
    if (options_.onPaddle)
      for (char c : paddle) options_.onPaddle(c);
  }
}

bool WinKeyer::WaitFor(const StopWhen& stop, const std::function<bool()>& done) {
  std::unique_lock<std::mutex> lock(mu_);
  for (;;) {
    if (gone_.load()) return false;
    if (done()) return true;
    const bool pending = echoed_ < expected_ || busy_;
    // The longest character at this speed, twice, or the usual silence bound.
    const int64_t silence = std::max<int64_t>(kWinKeyerSilenceMs, 2 * 30 * 1200 / speed_);
    if (pending && SteadyMs() - lastHeardMs_ > silence) {
      lock.unlock();
      Fail("the WinKeyer on " + path_ + " stopped answering; nothing more is keyed");
      return false;
    }
    lock.unlock();
    if (stop && stop()) return false;
    lock.lock();
    cv_.wait_for(lock, std::chrono::milliseconds(10));
  }
}

bool WinKeyer::Send(std::string_view text, int wpm, const StopWhen& stop) {
  if (gone_.load() || fd_ < 0) return false;
  wpm = std::clamp(wpm, 5, 99);
  if (wpm != speed_) {
    // A new speed applies to what the keyer holds: let that go out first.
    if (!Drain(stop)) return false;
    if (!Write(std::string{static_cast<char>(kSpeed), static_cast<char>(wpm)})) return false;
    speed_ = wpm;
  }
  const std::string bytes = WinKeyerBytes(text);
  size_t at = 0;
  while (at < bytes.size()) {
    const size_t n = bytes[at] == static_cast<char>(kMerge) ? 3 : 1;
    // The keyer's flow control, and no more than kWinKeyerAhead characters ahead of it.
    const bool ready = WaitFor(stop, [&] { return !xoff_ && expected_ - echoed_ < kAhead; });
    if (!ready) {
      if (!gone_.load()) Stop();
      return false;
    }
    {
      std::lock_guard<std::mutex> lock(mu_);
      if (n == 3) {
        mergeSlack_ += 2;
      } else {
        ++expected_;
      }
      busy_ = true;
    }
    if (!Write(bytes.substr(at, n))) return false;
    // On the line before the next goes, so an XOFF it causes is seen in time (a serial
    // port's output queue would otherwise hold more than the keyer has room for).
    if (!WaitSent()) return false;
    at += n;
  }
  return true;
}

bool WinKeyer::WaitSent() {
  // A byte's time on the line at 1200 baud, 8N2 (11 bits): a pseudo-terminal has no line
  // to pace it and a USB adapter may report its queue empty early.
  std::this_thread::sleep_for(std::chrono::microseconds(11 * 1000000 / 1200));
  const int64_t deadline = SteadyMs() + kWinKeyerAnswerMs;
  for (;;) {
    int queued = 0;
    if (::ioctl(fd_, TIOCOUTQ, &queued) != 0 || queued <= 0) return true;
    if (gone_.load()) return false;
    if (SteadyMs() > deadline) {
      Fail("the WinKeyer on " + path_ + " takes nothing more; nothing more is keyed");
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
}

bool WinKeyer::Drain(const StopWhen& stop) {
  if (gone_.load() || fd_ < 0) return false;
  if (WaitFor(stop, [&] { return echoed_ >= expected_ && !busy_; })) return true;
  if (!gone_.load()) Stop();
  return false;
}

void WinKeyer::Stop() {
  if (gone_.load() || fd_ < 0) return;
  Write(std::string{static_cast<char>(kClearBuffer)});
  std::lock_guard<std::mutex> lock(mu_);
  expected_ = echoed_;
  mergeSlack_ = 0;
  busy_ = false;
  xoff_ = false;
  stopAtMs_ = SteadyMs();
  cv_.notify_all();
}

void WinKeyer::SetWeighting(int cwdaemonWeighting) {
  if (gone_.load() || fd_ < 0) return;
  const int w = std::clamp(50 + cwdaemonWeighting * 6 / 10, 10, 90);
  Write(std::string{static_cast<char>(kWeighting), static_cast<char>(w)});
}

}  // namespace kestrix::transmit
