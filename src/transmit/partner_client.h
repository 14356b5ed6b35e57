// The partner side of the partner socket: connect, announce, read what Kestrix sends,
// say goodbye. Used by kestrix-partner and by the tests.
//
// Threads: one thread owns a client. Connect and the sends block (a record is 32 bytes);
// Receive waits at most the time it is given.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transmit/partner_protocol.h"

namespace kestrix::transmit {

enum class PartnerConnectResult { kConnected, kNoServer, kFailed };

class PartnerClient {
 public:
  PartnerClient() = default;
  ~PartnerClient();
  PartnerClient(const PartnerClient&) = delete;
  PartnerClient& operator=(const PartnerClient&) = delete;

  // kNoServer when nothing serves at `path` (no socket, or a socket nobody listens on).
  PartnerConnectResult Connect(const std::string& path, std::string& error);
  void Close();
  int Fd() const { return fd_; }

  // Sends one record; false (with `error`) when the connection is gone.
  bool Send(uint32_t message, int64_t first, int64_t second, std::string& error);
  // Sends raw bytes (tests: garbage, split records).
  bool SendBytes(const uint8_t* data, size_t size, std::string& error);
  bool Announce(int64_t handle, std::string& error) {
    return Send(kPartnerAnnounce, 0, handle, error);
  }
  bool Goodbye(std::string& error) { return Send(kPartnerGoodbye, 0, 0, error); }

  enum class ReceiveResult { kData, kTimeout, kClosed, kFailed };
  // Waits up to `timeoutMs` (-1: no limit) for bytes, then appends every complete record
  // that arrived to `out`. kClosed when Kestrix ended the connection.
  ReceiveResult Receive(std::vector<PartnerRecord>& out, int timeoutMs, std::string& error);

 private:
  int fd_ = -1;
  PartnerRecordParser parser_;
};

}  // namespace kestrix::transmit
