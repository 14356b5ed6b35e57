#include "platform/key_device.h"

#include <fcntl.h>
#include <sys/ioctl.h>
#include <unistd.h>

#include <cerrno>

namespace kestrix::platform {

int SystemKeyDevice::Open(const std::string& path, int flags, int& fd) {
  do {
    fd = ::open(path.c_str(), flags);
  } while (fd < 0 && errno == EINTR);
  return fd < 0 ? errno : 0;
}

int SystemKeyDevice::Close(int fd) {
  // Never retried: on Linux the descriptor is gone even when close reports EINTR.
  return ::close(fd) < 0 ? errno : 0;
}

int SystemKeyDevice::Ioctl(int fd, unsigned long request, void* arg) {
  int r;
  do {
    r = ::ioctl(fd, request, arg);
  } while (r < 0 && errno == EINTR);
  return r < 0 ? errno : 0;
}

int SystemKeyDevice::GetAttributes(int fd, termios& t) {
  return ::tcgetattr(fd, &t) < 0 ? errno : 0;
}

int SystemKeyDevice::SetAttributes(int fd, const termios& t) {
  return ::tcsetattr(fd, TCSANOW, &t) < 0 ? errno : 0;
}

SystemKeyDevice& SystemDevices() {
  static SystemKeyDevice devices;
  return devices;
}

}  // namespace kestrix::platform
