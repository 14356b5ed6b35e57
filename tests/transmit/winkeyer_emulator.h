// A WinKeyer stand-in on a pseudo-terminal, written from K1EL's published WK2 host
// interface: host open answers a revision byte, the commands take their argument bytes,
// text goes into a buffer of `capacity` bytes that is keyed in real time at the speed set
// (PARIS timing), each character echoed as it starts and a status byte (110 WAIT KEYDOWN
// BUSY BREAKIN XOFF) sent whenever BUSY or XOFF changes; XOFF is set above two thirds of
// the buffer. Clear buffer (0A) drops the buffer and the character being keyed. What the
// host sent is recorded with its time; Unplug() closes the master side as a pulled USB
// adapter would.
#pragma once

#include <fcntl.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/monotonic_wait.h"
#include "transmit/rigctld_keying.h"

namespace kestrix::test {

class WinKeyerEmulator {
 public:
  struct Byte {
    int64_t atUs;
    uint8_t value;
  };

  explicit WinKeyerEmulator(size_t capacity = 128, bool answers = true)
      : capacity_(capacity), xoffAbove_(capacity * 2 / 3), answers_(answers) {
    master_ = ::posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    ::grantpt(master_);
    ::unlockpt(master_);
    path_ = ::ptsname(master_);
    thread_ = std::thread([this] { Run(); });
  }
  ~WinKeyerEmulator() {
    stop_.store(true);
    thread_.join();
    std::lock_guard<std::mutex> lock(mu_);
    if (master_ >= 0) ::close(master_);
  }
  WinKeyerEmulator(const WinKeyerEmulator&) = delete;
  WinKeyerEmulator& operator=(const WinKeyerEmulator&) = delete;

  const std::string& Path() const { return path_; }
  // Everything the host sent, in order.
  std::vector<Byte> Received() const {
    std::lock_guard<std::mutex> lock(mu_);
    return received_;
  }
  // The characters keyed (begun), in order.
  std::string Keyed() const {
    std::lock_guard<std::mutex> lock(mu_);
    return keyed_;
  }
  int Speed() const { return speed_.load(); }
  bool Open() const { return open_.load(); }
  bool Closed() const { return closed_.load(); }
  size_t Overflow() const { return overflow_.load(); }
  size_t MostHeld() const { return mostHeld_.load(); }
  int XoffsSent() const { return xoffs_.load(); }
  // The operator on the paddles: breaks in and sends `text`, echoed.
  void Paddle(const std::string& text) {
    std::lock_guard<std::mutex> lock(mu_);
    paddle_ += text;
  }
  void Unplug() {
    std::lock_guard<std::mutex> lock(mu_);
    if (master_ >= 0) ::close(master_);
    master_ = -1;
  }

 private:
  static int64_t Now() { return platform::MonotonicNowUs(); }

  // Arguments each command takes after its code.
  static int ArgumentBytes(uint8_t code, uint8_t admin) {
    static const int kArgs[32] = {1, 1, 1, 1, 2, 3, 1, 0, 0, 1, 0, 1, 1, 1, 1, 15,
                                  1, 1, 1, 0, 1, 0, 1, 1, 1, 1, 1, 2, 1, 1, 0, 0};
    if (code == 0x00) return admin == 0x04 ? 1 : 0;  // after the sub-command: echo has one
    return kArgs[code];
  }

  void Emit(uint8_t b) {
    if (master_ >= 0) (void)!::write(master_, &b, 1);
  }
  void Status() {
    const bool xoff = buffer_.size() > xoffAbove_;
    if (xoff) xoffs_.fetch_add(1);
    Emit(static_cast<uint8_t>(0xC0 | (breakin_ ? 0x02 : 0) | (busy_ ? 0x04 : 0) | (xoff ? 1 : 0)));
    lastXoff_ = xoff;
  }
  void MaybeStatus(bool wasBusy, bool wasXoff) {
    if (busy_ != wasBusy || (buffer_.size() > xoffAbove_) != wasXoff) Status();
  }

  void Take(uint8_t b) {
    received_.push_back({Now(), b});
    if (pendingArgs_ > 0) {
      command_.push_back(b);
      if (command_.size() == 2 && command_[0] == 0x00) pendingArgs_ += ArgumentBytes(0x00, b);
      if (--pendingArgs_ == 0) Execute();
      return;
    }
    if (b < 0x20) {
      command_.assign(1, b);
      pendingArgs_ = b == 0x00 ? 1 : ArgumentBytes(b, 0);  // admin: its sub-command first
      if (pendingArgs_ == 0) Execute();
      return;
    }
    if (buffer_.size() >= capacity_) {
      overflow_.fetch_add(1);
      return;
    }
    const bool wasBusy = busy_, wasXoff = lastXoff_;
    buffer_.push_back(static_cast<char>(b));
    mostHeld_.store(std::max(mostHeld_.load(), buffer_.size()));
    MaybeStatus(wasBusy, wasXoff);
  }

  void Execute() {
    const uint8_t code = command_[0];
    const bool wasBusy = busy_, wasXoff = lastXoff_;
    switch (code) {
      case 0x00:
        if (command_[1] == 0x02 && answers_) {
          open_.store(true);
          Emit(23);  // WK2 revision 2.3
        }
        if (command_[1] == 0x03) closed_.store(true);
        break;
      case 0x02:
        speed_.store(command_[1]);
        break;
      case 0x0A:
        buffer_.clear();
        charEndUs_ = 0;
        busy_ = false;
        break;
      case 0x15:
        Status();
        break;
      case 0x1B:  // merge: both letters, run together (as one buffer entry each)
        if (buffer_.size() + 2 <= capacity_) {
          buffer_.push_back(static_cast<char>(command_[1]));
          buffer_.push_back(static_cast<char>(command_[2]));
          mostHeld_.store(std::max(mostHeld_.load(), buffer_.size()));
        } else {
          overflow_.fetch_add(2);
        }
        break;
      default:
        break;
    }
    MaybeStatus(wasBusy, wasXoff);
  }

  // Keys the buffer in real time: one character's PARIS units each.
  void Key() {
    const int64_t now = Now();
    if (charEndUs_ != 0 && now < charEndUs_) return;
    const bool wasBusy = busy_, wasXoff = lastXoff_;
    charEndUs_ = 0;
    if (buffer_.empty()) {
      busy_ = false;
    } else {
      const char c = buffer_.front();
      buffer_.pop_front();
      keyed_ += c;
      Emit(static_cast<uint8_t>(c));  // echoed as it starts
      busy_ = true;
      const int64_t units = std::max<int64_t>(transmit::MorseUnits(std::string(1, c)), 4);
      charEndUs_ = now + units * 1200000 / std::max(5, speed_.load());
    }
    MaybeStatus(wasBusy, wasXoff);
  }

  void Run() {
    while (!stop_.load()) {
      {
        std::lock_guard<std::mutex> lock(mu_);
        if (master_ < 0) {
          // Unplugged: nothing more.
        } else {
          if (!paddle_.empty()) {
            breakin_ = true;
            Status();
            for (char c : paddle_) Emit(static_cast<uint8_t>(c));
            paddle_.clear();
            breakin_ = false;
            Status();
          }
          Key();
        }
      }
      int fd;
      {
        std::lock_guard<std::mutex> lock(mu_);
        fd = master_;
      }
      if (fd < 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
        continue;
      }
      pollfd p{fd, POLLIN, 0};
      const int ready = ::poll(&p, 1, 2);
      if (ready == 1 && (p.revents & POLLIN)) {
        uint8_t b = 0;
        const ssize_t n = ::read(fd, &b, 1);
        std::lock_guard<std::mutex> lock(mu_);
        if (n == 1) Take(b);
      } else if (ready == 1) {
        // No slave open yet, or closed again (POLLHUP): wait for the host.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
      }
    }
  }

  const size_t capacity_;
  const size_t xoffAbove_;
  const bool answers_;
  std::string path_;
  std::thread thread_;
  std::atomic<bool> stop_{false};
  std::atomic<int> speed_{5};
  std::atomic<bool> open_{false};
  std::atomic<bool> closed_{false};
  std::atomic<size_t> overflow_{0};
  std::atomic<size_t> mostHeld_{0};
  std::atomic<int> xoffs_{0};

  mutable std::mutex mu_;
  int master_ = -1;
  std::vector<Byte> received_;
  std::string keyed_;
  std::string paddle_;
  // Emulator thread (under mu_).
  std::deque<char> buffer_;
  std::vector<uint8_t> command_;
  int pendingArgs_ = 0;
  bool busy_ = false;
  bool breakin_ = false;
  bool lastXoff_ = false;
  int64_t charEndUs_ = 0;
};

}  // namespace kestrix::test
