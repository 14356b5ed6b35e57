// The partner server: the local socket partner programs connect to, their registration,
// and the hand-over of decoded characters to the registered partner.
//
// One partner at a time, as with a partner window: the latest valid announcement names the
// partner (its connection and handle), an acknowledgement goes back to it and
// PartnerConnected becomes 1; a goodbye sets PartnerConnected to 0. Decoded characters go
// to the partner while MessagingOn and PartnerConnected are both 1. A partner that went
// away gets nothing and nothing is reported; PartnerConnected stays 1 until a goodbye.
//
// Nothing here waits. Every socket is non-blocking, and everything the server watches is
// registered with one epoll descriptor: the owner watches Fd() for reading (a
// QSocketNotifier in the window, poll() in the headless tools) and calls Service() when it
// is readable, or simply now and then. Output to each connection is queued up to
// `queueRecords` records; when a partner stops reading and its queue is full, further
// characters for it are dropped (the newest, so what it gets stays in order) and counted.
//
// Threads: one thread owns the server (the GUI thread in the window); no locks.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "transmit/partner_protocol.h"

namespace kestrix::transmit {

inline constexpr const char* kBadHandleTitle = "Kestrix Message";
inline constexpr const char* kBadHandleText = "Bad Message Handle!";

// Records queued per connection by default (32 bytes each: 32 KiB, several minutes of
// fast Morse on top of what the socket itself buffers).
inline constexpr size_t kPartnerQueueRecords = 1024;
// Connections held at once; more are accepted and closed at once.
inline constexpr size_t kPartnerMaxConnections = 16;

// What the server reports to its owner.
class PartnerHost {
 public:
  virtual ~PartnerHost() = default;
  // A modal message (the window) or a line on the log (headless).
  virtual void ShowMessage(const std::string& title, const std::string& text) = 0;
};

// $XDG_RUNTIME_DIR/kestrix/partner, or /tmp/kestrix-USER/partner without a usable
// $XDG_RUNTIME_DIR (unset, empty or not an absolute path).
std::string DefaultPartnerSocketPath();

// Creates `dir` with mode 0700 if it is missing (one level), else checks that it is a real
// folder (not a link) owned by this user and takes group and other permissions away.
bool PreparePrivateFolder(const std::string& dir, std::string& error);

enum class PartnerOpenResult { kServing, kAlreadyServing, kFailed };

class PartnerServer {
 public:
  // `messagingOn` and `partnerConnected` are the window's (or the tool's) flags; the
  // server reads the first and writes the second.
  PartnerServer(PartnerHost& host, const uint8_t& messagingOn,
                std::atomic<uint8_t>& partnerConnected, size_t queueRecords = kPartnerQueueRecords);
  ~PartnerServer();
  PartnerServer(const PartnerServer&) = delete;
  PartnerServer& operator=(const PartnerServer&) = delete;

  // Starts serving at `path` (empty: DefaultPartnerSocketPath(), whose folder is made
  // private first). A socket left by a run that ended without cleaning up is replaced;
  // when another server holds the path, returns kAlreadyServing. `error` explains either
  // failure in one line.
  PartnerOpenResult Open(const std::string& path, std::string& error);
  // Closes every connection and removes the socket.
  void Close();
  bool Serving() const { return listenFd_ >= 0; }
  const std::string& Path() const { return path_; }

  // The descriptor to watch for reading; -1 while not serving.
  int Fd() const { return epollFd_; }
  // Accepts, reads and writes whatever is ready without waiting.
  void Service();

  // Posts each character of `text` (Windows-1252) as message 1026 to the partner, when
  // MessagingOn and PartnerConnected are both 1.
  void PostDecodedChar(std::string_view text);

  // Handle of the latest valid announcement (0: none yet).
  int64_t PartnerWindow() const { return partnerHandle_; }
  size_t Connections() const { return connections_.size(); }
  // Bytes waiting in the partner's queue (0 when there is no live partner connection).
  size_t PartnerQueuedBytes() const;
  // Records dropped because a queue was full, and records ignored (unknown or 1026).
  uint64_t DroppedRecords() const { return dropped_; }
  uint64_t IgnoredRecords() const { return ignored_; }

 private:
  struct Connection;

  void Accept();
  // Reads what is there; false when the connection ended.
  bool Read(Connection& c);
  // Writes what is queued; false when the connection ended.
  bool Flush(Connection& c);
  void Handle(Connection& c, const PartnerRecord& r);
  void Queue(Connection& c, uint32_t message, int64_t first, int64_t second);
  void WatchOutput(Connection& c, bool on);
  void Drop(size_t index);
  Connection* Find(uint64_t id);

  PartnerHost& host_;
  const uint8_t& messagingOn_;
  std::atomic<uint8_t>& partnerConnected_;
  const size_t queueBytes_;
  std::string path_;
  int listenFd_ = -1;
  int lockFd_ = -1;
  int epollFd_ = -1;
  std::vector<std::unique_ptr<Connection>> connections_;
  uint64_t nextId_ = 1;
  uint64_t partnerId_ = 0;  // connection of the latest valid announcement
  int64_t partnerHandle_ = 0;
  uint64_t dropped_ = 0;
  uint64_t ignored_ = 0;
};

}  // namespace kestrix::transmit
