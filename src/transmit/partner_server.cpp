#include "transmit/partner_server.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/epoll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace kestrix::transmit {

struct PartnerServer::Connection {
  uint64_t Id = 0;
  int Fd = -1;
  PartnerRecordParser Parser;
  std::vector<uint8_t> Out;  // queued bytes; OutStart of them are already sent
  size_t OutStart = 0;
  bool WatchingOutput = false;

  size_t Queued() const { return Out.size() - OutStart; }
};

namespace {

constexpr uint64_t kListenId = 0;
constexpr size_t kReadChunk = 4096;
// Reads per connection and Service() call: a partner flooding the socket cannot keep the
// owner's thread busy; the rest waits for the next call.
constexpr int kReadsPerService = 16;
constexpr int kEventsPerService = 32;

std::string ErrnoText(const std::string& what, int err) {
  return what + ": " + std::strerror(err);
}

std::string UserName() {
  if (const passwd* pw = ::getpwuid(::getuid()); pw != nullptr && pw->pw_name != nullptr) {
    return pw->pw_name;
  }
  return std::to_string(::getuid());
}

std::string Parent(const std::string& path) {
  const size_t slash = path.find_last_of('/');
  if (slash == std::string::npos) return ".";
  if (slash == 0) return "/";
  return path.substr(0, slash);
}

}  // namespace

std::string DefaultPartnerSocketPath() {
  const char* runtime = std::getenv("XDG_RUNTIME_DIR");
  if (runtime != nullptr && runtime[0] == '/') return std::string(runtime) + "/kestrix/partner";
  return "/tmp/kestrix-" + UserName() + "/partner";
}

bool PreparePrivateFolder(const std::string& dir, std::string& error) {
  if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
    error = ErrnoText("cannot create the folder " + dir, errno);
    return false;
  }
  struct stat st = {};
  if (::lstat(dir.c_str(), &st) != 0) {
    error = ErrnoText("cannot look at the folder " + dir, errno);
    return false;
  }
  // In a shared place like /tmp someone else may have made the name first.
  if (!S_ISDIR(st.st_mode)) {
    error = dir + " is not a folder";
    return false;
  }
  if (st.st_uid != ::getuid()) {
    error = dir + " belongs to another user";
    return false;
  }
  if ((st.st_mode & 0077) != 0 && ::chmod(dir.c_str(), 0700) != 0) {
    error = ErrnoText("cannot make the folder " + dir + " private", errno);
    return false;
  }
  return true;
}

PartnerServer::PartnerServer(PartnerHost& host, const uint8_t& messagingOn,
                             std::atomic<uint8_t>& partnerConnected, size_t queueRecords)
    : host_(host),
      messagingOn_(messagingOn),
      partnerConnected_(partnerConnected),
      queueBytes_((queueRecords == 0 ? 1 : queueRecords) * kPartnerRecordBytes) {}

PartnerServer::~PartnerServer() {
  Close();
}

PartnerOpenResult PartnerServer::Open(const std::string& requested, std::string& error) {
  Close();
  const std::string path = requested.empty() ? DefaultPartnerSocketPath() : requested;
  if (requested.empty() && !PreparePrivateFolder(Parent(path), error)) {
    return PartnerOpenResult::kFailed;
  }
  sockaddr_un address = {};
  address.sun_family = AF_UNIX;
  if (path.size() >= sizeof(address.sun_path)) {
    error = "the partner socket path " + path + " is too long";
    return PartnerOpenResult::kFailed;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  // The lock says who serves: it dies with its holder, so a socket file without a lock
  // holder is a leftover and may go, and two servers never take each other's socket.
  const std::string lockPath = path + ".lock";
  const int lockFd = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lockFd < 0) {
    error = ErrnoText("cannot open " + lockPath, errno);
    return PartnerOpenResult::kFailed;
  }
  if (::flock(lockFd, LOCK_EX | LOCK_NB) != 0) {
    const int err = errno;
    ::close(lockFd);
    if (err == EWOULDBLOCK) {
      error = "Another Kestrix is already serving partner programs at " + path;
      return PartnerOpenResult::kAlreadyServing;
    }
    error = ErrnoText("cannot lock " + lockPath, err);
    return PartnerOpenResult::kFailed;
  }
  auto fail = [&](const std::string& text) {
    error = text;
    ::close(lockFd);
    return PartnerOpenResult::kFailed;
  };

  struct stat st = {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) return fail(path + " exists and is not a socket");
    if (::unlink(path.c_str()) != 0) return fail(ErrnoText("cannot remove the old " + path, errno));
  }

  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return fail(ErrnoText("cannot create the partner socket", errno));
  if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0) {
    const int err = errno;
    ::close(fd);
    return fail(ErrnoText("cannot bind the partner socket " + path, err));
  }
  // Only this user may connect; the folder is private as well.
  if (::chmod(path.c_str(), 0600) != 0 || ::listen(fd, 8) != 0) {
    const int err = errno;
    ::close(fd);
    ::unlink(path.c_str());
    return fail(ErrnoText("cannot set up the partner socket " + path, err));
  }
  const int epollFd = ::epoll_create1(EPOLL_CLOEXEC);
  epoll_event ev = {};
  ev.events = EPOLLIN;
  ev.data.u64 = kListenId;
  if (epollFd < 0 || ::epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &ev) != 0) {
    const int err = errno;
    if (epollFd >= 0) ::close(epollFd);
    ::close(fd);
    ::unlink(path.c_str());
    return fail(ErrnoText("cannot watch the partner socket", err));
  }
  path_ = path;
  listenFd_ = fd;
  lockFd_ = lockFd;
  epollFd_ = epollFd;
  return PartnerOpenResult::kServing;
}

void PartnerServer::Close() {
  while (!connections_.empty()) Drop(connections_.size() - 1);
  if (listenFd_ >= 0) {
    ::close(listenFd_);
    ::unlink(path_.c_str());
    listenFd_ = -1;
  }
  if (epollFd_ >= 0) ::close(epollFd_);
  epollFd_ = -1;
  // The lock file stays: removing it while held would let a newcomer lock a fresh file.
  if (lockFd_ >= 0) ::close(lockFd_);
  lockFd_ = -1;
}

void PartnerServer::Service() {
  if (epollFd_ < 0) return;
  epoll_event events[kEventsPerService];
  const int n = ::epoll_wait(epollFd_, events, kEventsPerService, 0);
  for (int i = 0; i < n; ++i) {
    const uint64_t id = events[i].data.u64;
    if (id == kListenId) {
      Accept();
      continue;
    }
    // An earlier event of this round may have closed it.
    Connection* c = Find(id);
    if (c == nullptr) continue;
    bool alive = true;
    if ((events[i].events & EPOLLOUT) != 0) alive = Flush(*c);
    if (alive && (events[i].events & (EPOLLIN | EPOLLHUP | EPOLLERR)) != 0) alive = Read(*c);
    if (!alive) {
      for (size_t k = 0; k < connections_.size(); ++k) {
        if (connections_[k]->Id == id) Drop(k);
      }
    }
  }
}

void PartnerServer::Accept() {
  for (;;) {
    const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;  // EAGAIN: none left; anything else: try again next time
    ucred cred = {};
    socklen_t length = sizeof(cred);
    const bool sameUser =
        ::getsockopt(fd, SOL_SOCKET, SO_PEERCRED, &cred, &length) == 0 && cred.uid == ::getuid();
    if (!sameUser || connections_.size() >= kPartnerMaxConnections) {
      ::close(fd);
      continue;
    }
    auto c = std::make_unique<Connection>();
    c->Id = nextId_++;
    c->Fd = fd;
    epoll_event ev = {};
    ev.events = EPOLLIN;
    ev.data.u64 = c->Id;
    if (::epoll_ctl(epollFd_, EPOLL_CTL_ADD, fd, &ev) != 0) {
      ::close(fd);
      continue;
    }
    connections_.push_back(std::move(c));
  }
}

bool PartnerServer::Read(Connection& c) {
  uint8_t chunk[kReadChunk];
  for (int i = 0; i < kReadsPerService; ++i) {
    const ssize_t got = ::recv(c.Fd, chunk, sizeof(chunk), MSG_DONTWAIT);
    if (got == 0) return false;
    if (got < 0) return errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR;
    c.Parser.Push(chunk, static_cast<size_t>(got));
    PartnerRecord r;
    while (c.Parser.Next(r)) Handle(c, r);
    // Handling may have written to this connection and found it gone; the next read says.
  }
  return true;
}

void PartnerServer::Handle(Connection& c, const PartnerRecord& r) {
  switch (r.Message) {
    case kPartnerAnnounce:
      if (r.Second == 0) {
        host_.ShowMessage(kBadHandleTitle, kBadHandleText);
        return;
      }
      partnerId_ = c.Id;
      partnerHandle_ = r.Second;
      Queue(c, kPartnerAcknowledge, 0, 0);
      partnerConnected_.store(1, std::memory_order_relaxed);
      return;
    case kPartnerGoodbye:
      partnerConnected_.store(0, std::memory_order_relaxed);
      return;
    default:  // 1026 from a partner, 1025, and numbers this version does not know
      ++ignored_;
      return;
  }
}

void PartnerServer::PostDecodedChar(std::string_view text) {
  if (messagingOn_ != 1 || partnerConnected_.load(std::memory_order_relaxed) != 1) return;
  Connection* c = Find(partnerId_);
  if (c == nullptr) return;  // the partner went away: nothing to say about it
  for (char ch : text) Queue(*c, kPartnerCharacter, 0, CharacterParameter(ch));
}

void PartnerServer::Queue(Connection& c, uint32_t message, int64_t first, int64_t second) {
  if (c.Queued() + kPartnerRecordBytes > queueBytes_) {
    ++dropped_;
    return;
  }
  if (c.OutStart > 0 && c.OutStart == c.Out.size()) {
    c.Out.clear();
    c.OutStart = 0;
  }
  const PartnerRecordBytes bytes = EncodePartnerRecord(message, first, second);
  c.Out.insert(c.Out.end(), bytes.begin(), bytes.end());
  // A failed write means the partner is gone; its connection is closed when the read
  // side sees the end, and posting to it until then is silently lost.
  Flush(c);
}

bool PartnerServer::Flush(Connection& c) {
  while (c.Queued() > 0) {
    const ssize_t sent =
        ::send(c.Fd, c.Out.data() + c.OutStart, c.Queued(), MSG_DONTWAIT | MSG_NOSIGNAL);
    if (sent < 0) {
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) break;
      c.Out.clear();
      c.OutStart = 0;
      WatchOutput(c, false);
      return false;
    }
    c.OutStart += static_cast<size_t>(sent);
  }
  if (c.Queued() == 0) {
    c.Out.clear();
    c.OutStart = 0;
  } else if (c.OutStart >= queueBytes_) {
    c.Out.erase(c.Out.begin(), c.Out.begin() + static_cast<ptrdiff_t>(c.OutStart));
    c.OutStart = 0;
  }
  WatchOutput(c, c.Queued() > 0);
  return true;
}

void PartnerServer::WatchOutput(Connection& c, bool on) {
  if (c.WatchingOutput == on) return;
  epoll_event ev = {};
  ev.events = EPOLLIN | (on ? EPOLLOUT : 0u);
  ev.data.u64 = c.Id;
  if (::epoll_ctl(epollFd_, EPOLL_CTL_MOD, c.Fd, &ev) == 0) c.WatchingOutput = on;
}

void PartnerServer::Drop(size_t index) {
  Connection& c = *connections_[index];
  ::epoll_ctl(epollFd_, EPOLL_CTL_DEL, c.Fd, nullptr);
  ::close(c.Fd);
  connections_.erase(connections_.begin() + static_cast<ptrdiff_t>(index));
}

PartnerServer::Connection* PartnerServer::Find(uint64_t id) {
  if (id == 0) return nullptr;
  for (auto& c : connections_) {
    if (c->Id == id) return c.get();
  }
  return nullptr;
}

size_t PartnerServer::PartnerQueuedBytes() const {
  for (const auto& c : connections_) {
    if (c->Id == partnerId_) return c->Queued();
  }
  return 0;
}

}  // namespace kestrix::transmit
