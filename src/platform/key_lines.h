// The two physical keying outputs: a serial device's DTR and RTS lines, and a parallel
// port's data bits 0 and 1 through the ppdev driver. Both move their pair of lines in one
// system call, so the two always switch at the same instant.
//
// A line knows nothing of polarity or key state: Write(true) asserts the lines (DTR and
// RTS high, data byte 3), Write(false) clears them. The keying port above decides which
// one key down is.
//
// Threads: not synchronised; the keying port serialises every call on one line.
#pragma once

#include <cerrno>
#include <cstdint>
#include <memory>
#include <string>

#include "platform/key_device.h"

namespace kestrix::platform {

class OutputLine {
 public:
  virtual ~OutputLine() = default;
  // One system call; 0 or the errno value of the failure.
  virtual int Write(bool asserted) = 0;
  // The device path, for messages.
  virtual const std::string& Device() const = 0;
  // Whether closing the device, by us or by the kernel after a crash, drops the lines
  // (the tty's hang-up on close). Only a serial device has the choice.
  virtual void SetDropOnClose(bool /*drop*/) {}
  // The PTT line, when the line has one (a serial device opened with RTS as PTT): one
  // system call; 0 or the errno value. Lines without one return ENOTSUP.
  virtual int WritePtt(bool /*asserted*/) { return ENOTSUP; }
};

// How a serial device's two lines are used.
enum class SerialLines {
  kBothKey,       // DTR and RTS key together (the documented default)
  kDtrKeyRtsPtt,  // DTR keys; RTS is the transmitter's PTT
};

// The outcome of opening a line.
struct LineOpen {
  std::unique_ptr<OutputLine> line;  // empty on failure
  std::string error;                 // names the device and the reason
};

// Opens a serial device for keying: both lines are cleared by the very first call after
// the open (the kernel raises them at every open), then the device is made exclusive and
// its configuration read. The tty's hang-up on close stays on, and drops the PTT too.
LineOpen OpenSerialLine(KeyDevice& device, const std::string& path,
                        SerialLines lines = SerialLines::kBothKey);

// Opens and claims a ppdev parallel port and writes 0 to its data register at once.
LineOpen OpenParallelLine(KeyDevice& device, const std::string& path);

// The ppdev device for a parallel-port address: 378 hex the first port, 3BC hex the
// second.
std::string ParallelDeviceForAddress(uint16_t address);

// "Input/output error (EIO)".
std::string ErrorText(int err);

}  // namespace kestrix::platform
