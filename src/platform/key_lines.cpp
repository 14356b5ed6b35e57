#include "platform/key_lines.h"

#include <fcntl.h>
#include <linux/ppdev.h>
#include <sys/ioctl.h>

#include <cerrno>
#include <cstring>
#include <system_error>

namespace kestrix::platform {

namespace {

constexpr int kBothModemLines = TIOCM_DTR | TIOCM_RTS;

// The reason part of an open failure, with what the user can do about it.
std::string SerialReason(int err) {
  std::string text = ErrorText(err);
  switch (err) {
    case EACCES:
    case EPERM:
      return text +
             "; add your user to the dialout group (sudo usermod -aG dialout $USER) and log in "
             "again";
    case ENOENT:
    case ENODEV:
    case ENXIO:
      return text + "; is the adapter plugged in?";
    case EBUSY:
      return text + "; another program has the port open";
    case ENOTTY:
      return text + "; the device is not a serial port";
    default:
      return text;
  }
}

std::string ParallelReason(int err) {
  std::string text = ErrorText(err);
  switch (err) {
    case EACCES:
    case EPERM:
      return text + "; add your user to the lp group (sudo usermod -aG lp $USER) and log in again";
    case ENOENT:
      return text + "; load the parallel-port driver (sudo modprobe ppdev)";
    case ENODEV:
    case ENXIO:
      return text + "; no parallel port at this device (is the parport_pc module loaded?)";
    case EBUSY:
      return text + "; the port is busy: another program or the printer driver (lp) has claimed it";
    case ENOTTY:
    case EINVAL:
      return text + "; the device is not a ppdev parallel port";
    default:
      return text;
  }
}

class SerialLine final : public OutputLine {
 public:
  SerialLine(KeyDevice& device, std::string path, int fd, termios attributes, SerialLines lines)
      : device_(device),
        path_(std::move(path)),
        fd_(fd),
        attributes_(attributes),
        keyBits_(lines == SerialLines::kBothKey ? kBothModemLines : TIOCM_DTR),
        pttBits_(lines == SerialLines::kBothKey ? 0 : TIOCM_RTS) {}
  ~SerialLine() override { device_.Close(fd_); }

  int Write(bool asserted) override {
    int bits = keyBits_;
    return device_.Ioctl(fd_, asserted ? TIOCMBIS : TIOCMBIC, &bits);
  }
  int WritePtt(bool asserted) override {
    if (pttBits_ == 0) return ENOTSUP;
    int bits = pttBits_;
    return device_.Ioctl(fd_, asserted ? TIOCMBIS : TIOCMBIC, &bits);
  }
  const std::string& Device() const override { return path_; }

  void SetDropOnClose(bool drop) override {
    const bool now = (attributes_.c_cflag & HUPCL) != 0;
    if (now == drop) return;
    termios t = attributes_;
    if (drop) {
      t.c_cflag |= HUPCL;
    } else {
      t.c_cflag &= ~static_cast<tcflag_t>(HUPCL);
    }
    if (device_.SetAttributes(fd_, t) == 0) attributes_ = t;
  }

 private:
  KeyDevice& device_;
  std::string path_;
  int fd_;
  termios attributes_;
  const int keyBits_;
  const int pttBits_;
};

class ParallelLine final : public OutputLine {
 public:
  ParallelLine(KeyDevice& device, std::string path, int fd)
      : device_(device), path_(std::move(path)), fd_(fd) {}
  ~ParallelLine() override {
    // The data latch keeps its last value after the release; the keying port has written
    // key up before it lets a line go.
    device_.Ioctl(fd_, PPRELEASE, nullptr);
    device_.Close(fd_);
  }

  int Write(bool asserted) override {
    unsigned char data = asserted ? 3 : 0;
    return device_.Ioctl(fd_, PPWDATA, &data);
  }
  const std::string& Device() const override { return path_; }

 private:
  KeyDevice& device_;
  std::string path_;
  int fd_;
};

}  // namespace

std::string ErrorText(int err) {
  std::string text = std::system_category().message(err);
  if (const char* name = ::strerrorname_np(err)) text += std::string(" (") + name + ")";
  return text;
}

LineOpen OpenSerialLine(KeyDevice& device, const std::string& path, SerialLines lines) {
  LineOpen result;
  int fd = -1;
  // Non-blocking so a port whose carrier is down does not hang the open; no controlling
  // terminal, so a hang-up on the line never signals this program.
  if (int err = device.Open(path, O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC, fd)) {
    result.error = "Cannot open " + path + ": " + SerialReason(err);
    return result;
  }
  auto fail = [&](const char* step, int err) {
    int bits = kBothModemLines;
    device.Ioctl(fd, TIOCMBIC, &bits);
    device.Close(fd);
    result.error = "Cannot use " + path + " (" + step + "): " + SerialReason(err);
    return std::move(result);
  };
  // The kernel has just raised DTR and RTS: drop both before anything else, whatever the
  // polarity, so the transmitter is keyed for no longer than the open itself.
  int bits = kBothModemLines;
  if (int err = device.Ioctl(fd, TIOCMBIC, &bits)) return fail("clearing DTR and RTS", err);
  if (int err = device.Ioctl(fd, TIOCEXCL, nullptr)) return fail("exclusive use", err);
  termios attributes{};
  if (int err = device.GetAttributes(fd, attributes)) return fail("reading its configuration", err);
  // Hang-up on close: if this program dies, the kernel's close drops both lines.
  if ((attributes.c_cflag & HUPCL) == 0) {
    termios t = attributes;
    t.c_cflag |= HUPCL;
    if (device.SetAttributes(fd, t) == 0) attributes = t;
  }
  result.line = std::make_unique<SerialLine>(device, path, fd, attributes, lines);
  return result;
}

LineOpen OpenParallelLine(KeyDevice& device, const std::string& path) {
  LineOpen result;
  int fd = -1;
  if (int err = device.Open(path, O_RDWR | O_CLOEXEC, fd)) {
    result.error = "Cannot open " + path + ": " + ParallelReason(err);
    return result;
  }
  // Exclusive access is asked for before the claim (ppdev only takes it then); a driver
  // that refuses it still lets us claim the port.
  device.Ioctl(fd, PPEXCL, nullptr);
  if (int err = device.Ioctl(fd, PPCLAIM, nullptr)) {
    device.Close(fd);
    result.error = "Cannot claim " + path + ": " + ParallelReason(err);
    return result;
  }
  unsigned char data = 0;
  if (int err = device.Ioctl(fd, PPWDATA, &data)) {
    device.Ioctl(fd, PPRELEASE, nullptr);
    device.Close(fd);
    result.error = "Cannot write to " + path + ": " + ParallelReason(err);
    return result;
  }
  result.line = std::make_unique<ParallelLine>(device, path, fd);
  return result;
}

std::string ParallelDeviceForAddress(uint16_t address) {
  return address == 0x3BC ? "/dev/parport1" : "/dev/parport0";
}

}  // namespace kestrix::platform
