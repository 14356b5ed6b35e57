// A fake of the operating-system calls behind the key lines: it records every call in
// order, keeps the modem lines and the parallel data latch of each device the way the
// kernel would (an open raises DTR and RTS), and fails where a test says so.
#pragma once

#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "platform/key_device.h"

namespace kestrix::test {

struct DeviceCall {
  std::string op;  // "open", "close", "ioctl", "tcgetattr", "tcsetattr"
  std::string path;
  unsigned long request = 0;
  int arg = 0;  // the modem bits or the data byte the ioctl carried
};

class FakeKeyDevice final : public platform::KeyDevice {
 public:
  // Devices that exist; anything else fails to open with ENOENT.
  std::set<std::string> present;
  // Open failures by path (errno).
  std::map<std::string, int> openErrors;
  // ioctl failures by request (errno), for every device.
  std::map<unsigned long, int> ioctlErrors;
  // From the Nth line change on (TIOCMBIS/TIOCMBIC/PPWDATA, counted over all devices)
  // every line call fails with EIO: the adapter has been pulled out.
  int vanishAfter = 0;

  int Open(const std::string& path, int, int& fd) override {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({"open", path});
    if (auto it = openErrors.find(path); it != openErrors.end()) return it->second;
    if (!present.count(path)) return ENOENT;
    fd = nextFd_++;
    paths_[fd] = path;
    modem_[path] = TIOCM_DTR | TIOCM_RTS;  // what Linux does at every tty open
    return 0;
  }
  int Close(int fd) override {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({"close", paths_[fd]});
    paths_.erase(fd);
    return 0;
  }
  int Ioctl(int fd, unsigned long request, void* arg) override {
    std::lock_guard<std::mutex> lock(mu_);
    const std::string path = paths_[fd];
    DeviceCall call{"ioctl", path, request, 0};
    const bool lineChange = request == TIOCMBIS || request == TIOCMBIC || request == PPWDATA;
    if (request == TIOCMBIS || request == TIOCMBIC) call.arg = *static_cast<int*>(arg);
    if (request == PPWDATA) call.arg = *static_cast<unsigned char*>(arg);
    calls_.push_back(call);
    if (auto it = ioctlErrors.find(request); it != ioctlErrors.end()) return it->second;
    if (lineChange && vanishAfter > 0 && ++lineChanges_ >= vanishAfter) return EIO;
    if (request == TIOCMBIS) modem_[path] |= call.arg;
    if (request == TIOCMBIC) modem_[path] &= ~call.arg;
    if (request == PPWDATA) data_[path] = call.arg;
    return 0;
  }
  int GetAttributes(int fd, termios& t) override {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({"tcgetattr", paths_[fd]});
    t = termios{};
    t.c_cflag = cflag_[paths_[fd]];
    return 0;
  }
  int SetAttributes(int fd, const termios& t) override {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.push_back({"tcsetattr", paths_[fd]});
    cflag_[paths_[fd]] = t.c_cflag;
    return 0;
  }

  std::vector<DeviceCall> Calls() const {
    std::lock_guard<std::mutex> lock(mu_);
    return calls_;
  }
  void ClearCalls() {
    std::lock_guard<std::mutex> lock(mu_);
    calls_.clear();
  }
  int Modem(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return modem_[path];
  }
  int Data(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return data_[path];
  }
  bool HangUpOnClose(const std::string& path) {
    std::lock_guard<std::mutex> lock(mu_);
    return (cflag_[path] & HUPCL) != 0;
  }
  int OpenCount() const {
    std::lock_guard<std::mutex> lock(mu_);
    return static_cast<int>(paths_.size());
  }

 private:
  mutable std::mutex mu_;
  std::vector<DeviceCall> calls_;
  std::map<int, std::string> paths_;
  std::map<std::string, int> modem_;
  std::map<std::string, int> data_;
  std::map<std::string, tcflag_t> cflag_;
  int nextFd_ = 10;
  int lineChanges_ = 0;
};

}  // namespace kestrix::test
