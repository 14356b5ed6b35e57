#include "transmit/keying_port.h"

#include <cerrno>

#include "platform/serial_ports.h"

namespace kestrix::transmit {

namespace {
constexpr auto kRelaxed = std::memory_order_relaxed;

bool IsDevicePath(const std::string& name) {
  return !name.empty() && name.front() == '/';
}
}  // namespace

KeyingPort::KeyingPort(TransmitState& tx, platform::KeyDevice& device, KeyingPortHost& host,
                       std::function<std::vector<std::string>()> listDevices)
    : tx_(tx), device_(device), host_(host), listDevices_(std::move(listDevices)) {
  if (!listDevices_) listDevices_ = [] { return platform::FindSerialDevices(); };
  inverted_ = tx_.KeyPolarity == 2;
}

KeyingPort::~KeyingPort() {
  CloseLine();
}

void KeyingPort::SetKeyLine(uint8_t state) {
  std::string device;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!line_) return;
    if (inverted_) {
      if (state == kKeyUp) {
        state = kKeyDown;
      } else if (state == kKeyDown) {
        state = kKeyUp;
      }
    }
    const int err = line_->Write(state == kKeyDown);
    if (err == 0) return;
    text = DropFailedLine(err, device);
  }
  host_.LineFailed(device, text);
}

std::string KeyingPort::DropFailedLine(int err, std::string& device) {
  // The device is gone or broken: let it go now, so no later call waits on it and the
  // keyers carry on with nothing keyed.
  device = line_->Device();
  line_.reset();
  return "The keying line " + device + " failed: " + platform::ErrorText(err) +
         ".\nNo port is selected now; keying continues for code practice. Select the port "
         "again when the device is back.";
}

bool KeyingPort::SetPtt(bool on) {
  std::string device;
  std::string text;
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!line_) return false;
    const int err = line_->WritePtt(on);
    if (err == 0) return true;
    if (err == ENOTSUP) return false;
    text = DropFailedLine(err, device);
  }
  host_.LineFailed(device, text);
  return false;
}

void KeyingPort::CloseLine() {
  std::unique_ptr<platform::OutputLine> old;
  bool inverted;
  {
    std::lock_guard<std::mutex> lock(mu_);
    old = std::move(line_);
    inverted = inverted_;
  }
  if (!old) return;
  old->Write(inverted);  // key up, after polarity, before the device goes
  old->WritePtt(false);  // and the PTT released, where RTS is one
}

void KeyingPort::ApplyDropOnClose(platform::OutputLine& line) const {
  // With normal keying a close (or the kernel's close after a crash) that drops the lines
  // leaves the key up; with inverted keying dropped lines are key down, so they are left
  // where they are instead.
  line.SetDropOnClose(tx_.KeyPolarity != 2);
}

void KeyingPort::Install(std::unique_ptr<platform::OutputLine> line) {
  ApplyDropOnClose(*line);
  std::lock_guard<std::mutex> lock(mu_);
  line_ = std::move(line);
}

std::string KeyingPort::OpenDevice() const {
  std::lock_guard<std::mutex> lock(mu_);
  return line_ ? line_->Device() : std::string();
}

void KeyingPort::OpenPort(const std::string& name) {
  if (tx_.PortKind == kSerialPort) {
    CloseLine();
    configured_ = false;
    if (name == "NONE") return;
    std::string path;
    lastError_.clear();
    if (!platform::ResolveSerialPort(name, listDevices_(), path, lastError_)) {
      host_.PortMessage(kPortErrorTitle, std::string(kOpenFailedText) + "\n" + lastError_);
      host_.RunNoneHandler();
      return;
    }
    platform::LineOpen opened = platform::OpenSerialLine(
        device_, path,
        rtsPtt_ ? platform::SerialLines::kDtrKeyRtsPtt : platform::SerialLines::kBothKey);
    if (!opened.line) {
      lastError_ = opened.error;
      host_.PortMessage(kPortErrorTitle, std::string(kOpenFailedText) + "\n" + lastError_);
      host_.RunNoneHandler();
      return;
    }
    configured_ = true;
    Install(std::move(opened.line));
    return;
  }
  if (tx_.PortKind == kParallelPort) {
    CloseLine();
    configured_ = false;
    const std::string path =
        IsDevicePath(name) ? name : platform::ParallelDeviceForAddress(tx_.ParallelAddress);
    platform::LineOpen opened = platform::OpenParallelLine(device_, path);
    if (!opened.line) {
      lastError_ = opened.error;
      host_.PortMessage(kPortErrorTitle, lastError_);
      SelectNoPort();
      return;
    }
    configured_ = true;
    Install(std::move(opened.line));
  }
}

void KeyingPort::SelectNoPort() {
  CloseLine();
  configured_ = false;
  tx_.PortKind = kNoPort;
  tx_.SetPortName("NONE");
}

void KeyingPort::SelectParallelPort(uint16_t address) {
  CloseLine();
  tx_.PortKind = kParallelPort;
  tx_.ParallelAddress = address;
  // Stored so that the next start opens the printer port again.
  tx_.SetPortName(address == kPrinter2Address ? "LPT2" : "LPT1");
  OpenPort(platform::ParallelDeviceForAddress(address));
  tx_.KeyState.store(kKeyUp, kRelaxed);
  SetKeyLine(kKeyUp);
}

void KeyingPort::SelectComPort(int number) {
  tx_.ComPortNumber = number;
  OpenNamedPort(platform::ComPortName(number));
}

void KeyingPort::OpenNamedPort(const std::string& name) {
  tx_.SetPortName(name);
  tx_.PortKind = kSerialPort;
  OpenPort(name);
  if (configured_) {
    tx_.KeyState.store(kKeyUp, kRelaxed);
    SetKeyLine(kKeyUp);
  }
}

void KeyingPort::LoadStoredPort(const std::string& name) {
  if (name == "LPT1" || name == "LPT2") {
    // Both stored names mean the first printer port.
    SelectParallelPort(kPrinter1Address);
  } else if (name == "NONE") {
    SelectNoPort();
  } else {
    OpenNamedPort(name);
  }
}

void KeyingPort::SetPolarity(int32_t polarity) {
  tx_.KeyPolarity = polarity;
  {
    std::lock_guard<std::mutex> lock(mu_);
    inverted_ = polarity == 2;
    if (line_) ApplyDropOnClose(*line_);
  }
  SetKeyLine(tx_.KeyState.load(kRelaxed));
}

void KeyingPort::ShutDown() {
  tx_.KeyState.store(kKeyUp, kRelaxed);
  CloseLine();
  configured_ = false;
}

void KeyingPort::ReleaseLine() {
  tx_.KeyState.store(kKeyUp, kRelaxed);
  SetKeyLine(kKeyUp);
}

}  // namespace kestrix::transmit
