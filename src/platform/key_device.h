// The few operating-system calls a keying line makes on its device, behind one small
// interface: the real one goes to open/ioctl/tcgetattr, the tests give a fake that records
// every call. Each call returns 0 on success or the errno value of the failure, so a
// caller never has to read errno across another call.
#pragma once

#include <termios.h>

#include <string>

namespace kestrix::platform {

class KeyDevice {
 public:
  virtual ~KeyDevice() = default;
  // Opens `path` with `flags`; on success `fd` holds the descriptor.
  virtual int Open(const std::string& path, int flags, int& fd) = 0;
  virtual int Close(int fd) = 0;
  // ioctl with a pointer argument (TIOCMBIS, PPWDATA, ...) or none (TIOCEXCL, PPCLAIM).
  virtual int Ioctl(int fd, unsigned long request, void* arg) = 0;
  virtual int GetAttributes(int fd, termios& t) = 0;
  virtual int SetAttributes(int fd, const termios& t) = 0;
};

// The real devices.
class SystemKeyDevice final : public KeyDevice {
 public:
  int Open(const std::string& path, int flags, int& fd) override;
  int Close(int fd) override;
  int Ioctl(int fd, unsigned long request, void* arg) override;
  int GetAttributes(int fd, termios& t) override;
  int SetAttributes(int fd, const termios& t) override;
};

// The process's one instance of the real devices.
SystemKeyDevice& SystemDevices();

}  // namespace kestrix::platform
