#include "transmit/partner_client.h"

#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace kestrix::transmit {

PartnerClient::~PartnerClient() {
  Close();
}

PartnerConnectResult PartnerClient::Connect(const std::string& path, std::string& error) {
  Close();
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    error = "the partner socket path " + path + " is too long";
    return PartnerConnectResult::kFailed;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = std::string("cannot create a socket: ") + std::strerror(errno);
    return PartnerConnectResult::kFailed;
  }
  if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int err = errno;
    ::close(fd);
    error = "cannot connect to " + path + ": " + std::strerror(err);
    return err == ENOENT || err == ECONNREFUSED ? PartnerConnectResult::kNoServer
                                                : PartnerConnectResult::kFailed;
  }
  fd_ = fd;
  parser_ = PartnerRecordParser();
  return PartnerConnectResult::kConnected;
}

void PartnerClient::Close() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
}

bool PartnerClient::Send(uint32_t message, int64_t first, int64_t second, std::string& error) {
  const PartnerRecordBytes bytes = EncodePartnerRecord(message, first, second);
  return SendBytes(bytes.data(), bytes.size(), error);
}

bool PartnerClient::SendBytes(const uint8_t* data, size_t size, std::string& error) {
  while (size > 0) {
    const ssize_t sent = ::send(fd_, data, size, MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      error = std::string("cannot send to Kestrix: ") + std::strerror(errno);
      return false;
    }
    data += sent;
    size -= static_cast<size_t>(sent);
  }
  return true;
}

PartnerClient::ReceiveResult PartnerClient::Receive(std::vector<PartnerRecord>& out, int timeoutMs,
                                                    std::string& error) {
  pollfd p = {fd_, POLLIN, 0};
  const int ready = ::poll(&p, 1, timeoutMs);
  if (ready < 0) {
    if (errno == EINTR) return ReceiveResult::kTimeout;
    error = std::string("cannot wait for Kestrix: ") + std::strerror(errno);
    return ReceiveResult::kFailed;
  }
  if (ready == 0) return ReceiveResult::kTimeout;
  uint8_t chunk[4096];
  const ssize_t got = ::recv(fd_, chunk, sizeof(chunk), MSG_DONTWAIT);
  if (got == 0) return ReceiveResult::kClosed;
  if (got < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return ReceiveResult::kTimeout;
    if (errno == ECONNRESET) return ReceiveResult::kClosed;
    error = std::string("cannot read from Kestrix: ") + std::strerror(errno);
    return ReceiveResult::kFailed;
  }
  parser_.Push(chunk, static_cast<size_t>(got));
  PartnerRecord r;
  while (parser_.Next(r)) out.push_back(r);
  return ReceiveResult::kData;
}

}  // namespace kestrix::transmit
