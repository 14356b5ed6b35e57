#include "transmit/cwdaemon.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/eventfd.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <exception>

#include "transmit/morse_send_table.h"

namespace kestrix::transmit {

namespace {

constexpr const char* kLogPrefix = "network keying: ";

int ClampWpm(int wpm) {
  return std::clamp(wpm, kMinTransmitWpm, kMaxTransmitWpm);
}

std::string ErrnoText(const char* what) {
  return std::string(what) + ": " + std::strerror(errno);
}

}  // namespace

void LineLog::Line(std::string_view text) {
  std::lock_guard<std::mutex> lock(mu_);
  out_ << kLogPrefix << text << '\n';
  out_.flush();
}

// ---------------------------------------------------------------------------------------
// The keyer.

CwdaemonKeyer::CwdaemonKeyer(KeyLine& line, Waiter& waiter, std::atomic<uint8_t>& keyState,
                             LineLog& log, CwdaemonKeyerOptions options)
    : line_(line),
      waiter_(waiter),
      keyState_(keyState),
      log_(log),
      options_(std::move(options)),
      lineKeyer_(line, waiter, keyState,
                 int64_t{std::max<int32_t>(1, options_.keyUpSliceMs)} * 1000),
      speedWpm_(ClampWpm(options_.startWpm)),
      toneHz_(options_.startToneHz),
      pttDelayMs_(std::clamp(options_.startPttDelayMs, 0, kMaxPttDelayMs)) {}

CwdaemonKeyer::~CwdaemonKeyer() {
  Stop();
}

const CwdaemonTiming& CwdaemonKeyer::TimingFor(int wpm) {
  const int w = weighting_.load();
  if (wpm != appliedWpm_ || w != appliedWeighting_) {
    timing_ = ComputeCwdaemonTiming(wpm, w, options_.ratios);
    if (options_.toneTiming) options_.toneTiming->Store(CwdaemonToneValues(timing_));
    appliedWpm_ = wpm;
    appliedWeighting_ = w;
  }
  return timing_;
}

void CwdaemonKeyer::Start() {
  std::lock_guard<std::mutex> lock(mu_);
  if (thread_.joinable() || stopping_) return;
  TimingFor(speedWpm_.load());
  thread_ = std::thread(&CwdaemonKeyer::Run, this);
}

void CwdaemonKeyer::Stop() {
  std::deque<Job> left;
  {
    std::lock_guard<std::mutex> lock(mu_);
    stopping_ = true;
    stopRequested_.store(true);
    abortCount_.fetch_add(1);
    left.swap(queue_);
  }
  wake_.notify_all();
  if (options_.sound) options_.sound->AbortTone();
  for (Job& job : left) Finish(job, false);
  if (thread_.joinable()) thread_.join();
  KeyUp();
  pttManual_.store(false);
  pttKeying_.store(false);
  ApplyPtt();
}

void CwdaemonKeyer::KeyUp() {
  keyState_.store(kKeyUp);
  line_.SetKeyLine(kKeyUp);
}

void CwdaemonKeyer::ApplyPtt() {
  if (options_.ptt == nullptr) return;
  std::lock_guard<std::mutex> lock(pttMu_);
  // Read under the lock: whoever comes last applies the state that holds now.
  const bool wanted = pttManual_.load() || pttKeying_.load();
  if (wanted == pttOn_ && !pttFailed_) return;
  // A failure is reported by the output itself; up again is tried at the next message.
  pttFailed_ = !options_.ptt->SetPtt(wanted);
  pttOn_ = wanted && !pttFailed_;
  if (pttOn_) pttSinceUs_ = waiter_.NowUs();
}

bool CwdaemonKeyer::RaisePtt() {
  if (options_.ptt == nullptr) return true;
  pttKeying_.store(true);
  ApplyPtt();
  int64_t since;
  {
    std::lock_guard<std::mutex> lock(pttMu_);
    if (!pttOn_) return false;
    since = pttSinceUs_;
  }
  const int64_t firstElement = since + int64_t{pttDelayMs_.load()} * 1000;
  if (options_.sound) {
    if (waiter_.NowUs() < firstElement) waiter_.WaitUntilUs(firstElement);
  } else {
    lineKeyer_.NotBefore(firstElement);
  }
  return true;
}

void CwdaemonKeyer::LowerPttAfter(const Job& job, bool keyed) {
  if (options_.ptt == nullptr || !pttKeying_.load()) return;
  auto more = [this] {
    std::lock_guard<std::mutex> lock(mu_);
    return !queue_.empty() || stopping_;
  };
  // The tail: the last character's space, unless the next message comes first. A tune or
  // an aborted message has none.
  if (keyed && job.kind == Job::Kind::Text && !options_.sound && !more()) {
    lineKeyer_.WaitSpaces([&] { return Aborted(job) || more(); });
  }
  // The sound card's tail: the card still plays what it was given last.
  if (keyed && options_.sound && options_.pttTailMs > 0 && !more()) {
    const int64_t end = waiter_.NowUs() + int64_t{options_.pttTailMs} * 1000;
    for (int64_t now = waiter_.NowUs(); now < end && !more(); now = waiter_.NowUs())
      waiter_.WaitUntilUs(std::min(end, now + int64_t{options_.keyUpSliceMs} * 1000));
  }
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!queue_.empty() && !stopping_) return;  // the next message keeps it up
  }
  pttKeying_.store(false);
  ApplyPtt();
}

void CwdaemonKeyer::Finish(Job& job, bool keyed) {
  if (!job.message.done) return;
  CwdaemonDone done = std::move(job.message.done);
  job.message.done = nullptr;
  done(keyed);
}

std::string CwdaemonKeyer::Refusal() const {
  return stopRequested_.load()
             ? std::string("keyer stopped")
             : "queue full (" + std::to_string(options_.queueCapacity) + " waiting)";
}

bool CwdaemonKeyer::Key(CwdaemonMessage message) {
  Job job;
  job.kind = Job::Kind::Text;
  job.message = std::move(message);
  {
    std::lock_guard<std::mutex> lock(mu_);
    if (!stopping_ && queue_.size() < options_.queueCapacity) {
      job.generation = abortCount_.load();
      queue_.push_back(std::move(job));
      wake_.notify_one();
      return true;
    }
  }
  dropped_.fetch_add(1);
  log_.Line(Refusal() + ": message \"" + KeyedText(job.message.items) + "\" dropped");
  Finish(job, false);
  return false;
}

void CwdaemonKeyer::Tune(int seconds) {
  if (seconds <= 0) {
    tuneEnds_.fetch_add(1);
    return;
  }
  Job job;
  job.kind = Job::Kind::Tune;
  job.tuneSeconds = std::min(seconds, kMaxTuneSeconds);
  std::lock_guard<std::mutex> lock(mu_);
  if (stopping_ || queue_.size() >= options_.queueCapacity) {
    dropped_.fetch_add(1);
    log_.Line(Refusal() + ": tune dropped");
    return;
  }
  job.generation = abortCount_.load();
  queue_.push_back(std::move(job));
  wake_.notify_one();
}

void CwdaemonKeyer::Abort() {
  std::deque<Job> left;
  {
    std::lock_guard<std::mutex> lock(mu_);
    abortCount_.fetch_add(1);
    left.swap(queue_);
  }
  if (options_.abortOutput) options_.abortOutput();
  for (Job& job : left) Finish(job, false);
}

void CwdaemonKeyer::SetSpeed(int wpm) {
  speedWpm_.store(ClampWpm(wpm));
}
void CwdaemonKeyer::SetWeighting(int weighting) {
  weighting_.store(std::clamp(weighting, kMinWeighting, kMaxWeighting));
  if (options_.text) options_.text->SetWeighting(weighting_.load());
}
void CwdaemonKeyer::SetTone(int hz) {
  toneHz_.store(hz);
  if (options_.setTone) options_.setTone(hz);
}
void CwdaemonKeyer::SetWordMode(bool on) {
  wordMode_.store(on);
}

void CwdaemonKeyer::SetPtt(bool on) {
  // Off while a message is keyed leaves it up until LowerPttAfter.
  pttManual_.store(on);
  ApplyPtt();
}

void CwdaemonKeyer::SetPttDelay(int ms) {
  pttDelayMs_.store(std::clamp(ms, 0, kMaxPttDelayMs));
}

void CwdaemonKeyer::Reset() {
  speedWpm_.store(ClampWpm(options_.startWpm));
  weighting_.store(0);
  if (options_.text) options_.text->SetWeighting(0);
  wordMode_.store(false);
  pttDelayMs_.store(std::clamp(options_.startPttDelayMs, 0, kMaxPttDelayMs));
  SetTone(options_.startToneHz);
}

void CwdaemonKeyer::SelectDevice(const std::string& name) {
  // The keying device is opened once, from the command line (or the window's port menu);
  // a logger switching it under a running transmitter is not followed.
  log_.Line("ESC 8: keying device \"" + name + "\" not switched; the device chosen at start stays");
}

void CwdaemonKeyer::Exit() {
  exitRequested_.store(true);
}

size_t CwdaemonKeyer::Queued() const {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.size();
}

bool CwdaemonKeyer::Idle() const {
  std::lock_guard<std::mutex> lock(mu_);
  return queue_.empty() && !busy_;
}

void CwdaemonKeyer::Run() {
  for (;;) {
    Job job;
    {
      std::unique_lock<std::mutex> lock(mu_);
      wake_.wait(lock, [&] { return stopping_ || !queue_.empty(); });
      if (stopping_) return;  // Stop() has taken the queue
      job = std::move(queue_.front());
      queue_.pop_front();
      busy_ = true;
    }
    RunJob(job);
    std::lock_guard<std::mutex> lock(mu_);
    busy_ = false;
  }
}

void CwdaemonKeyer::RunJob(Job& job) {
  bool keyed = false;
  bool keyUp = true;
  try {
    if (job.kind == Job::Kind::Tune) {
      keyed = RunTune(job);
    } else {
      keyed = RunText(job);
      // A message keyed to its end leaves the line up by itself; an early end is keyed
      // up explicitly whatever the keyer did.
      keyUp = !keyed || keyState_.load() != kKeyUp;
    }
  } catch (const std::exception& e) {
    log_.Line(std::string("keying stopped by an error: ") + e.what());
    keyed = false;
  } catch (...) {
    log_.Line("keying stopped by an unknown error");
    keyed = false;
  }
  if (keyUp) {
    try {
      KeyUp();
    } catch (...) {
      log_.Line("key up failed");
    }
  }
  // Done at the last key-up: the echo and the reply go before the PTT tail.
  try {
    Finish(job, keyed);
  } catch (...) {
    log_.Line("a completion failed");
  }
  try {
    LowerPttAfter(job, keyed);
  } catch (...) {
    log_.Line("PTT release failed");
  }
}

bool CwdaemonKeyer::RunTextOnKeyer(Job& job) {
  TextKeyer& out = *options_.text;
  const TextKeyer::StopWhen stop = [&] {
    return stopRequested_.load() || (Aborted(job) && !wordMode_.load());
  };
  int offset = 0;
  int pendingGaps = 0;
  bool inWord = false;
  std::string run;  // characters at one speed, handed over at each space
  int runWpm = 0;
  auto flush = [&] {
    if (run.empty()) return true;
    const bool sent = out.Send(run, runWpm, stop);
    run.clear();
    return sent;
  };
  for (const TextItem& item : job.message.items) {
    if (stopRequested_.load()) return false;
    // In word mode an abort lets the word the output holds finish: nothing more is sent.
    const bool aborted = Aborted(job);
    if (aborted && !(wordMode_.load() && inWord)) return false;
    switch (item.kind) {
      case TextItem::Kind::Faster:
      case TextItem::Kind::Slower: {
        if (!flush()) return false;
        const int step = item.kind == TextItem::Kind::Faster ? kSpeedStepWpm : -kSpeedStepWpm;
        const int base = speedWpm_.load();
        offset = ClampWpm(base + offset + step) - base;
        break;
      }
      case TextItem::Kind::Gap:
        if (!flush()) return false;
        ++pendingGaps;
        break;
      case TextItem::Kind::Char: {
        if (aborted && item.code == ' ') return false;  // word mode: the word is done
        const int wpm = ClampWpm(speedWpm_.load() + offset);
        if (pendingGaps > 0) {
          if (!out.Drain(stop)) return false;
          const int64_t end = waiter_.NowUs() + pendingGaps * 2 * TimingFor(wpm).dotUs;
          for (int64_t now = waiter_.NowUs(); now < end; now = waiter_.NowUs()) {
            if (stop()) return false;
            waiter_.WaitUntilUs(std::min(end, now + int64_t{options_.keyUpSliceMs} * 1000));
          }
          pendingGaps = 0;
        }
        if (!run.empty() && wpm != runWpm && !flush()) return false;
        runWpm = wpm;
        run += static_cast<char>(item.code);
        if (item.code == ' ' && !flush()) return false;
        inWord = item.code != ' ';
        break;
      }
    }
  }
  if (!flush()) return false;
  return out.Drain(stop);
}

bool CwdaemonKeyer::RunText(Job& job) {
  if (options_.text) return RunTextOnKeyer(job);
  const MorseSendTable& table = NetworkSendTable();
  int offset = 0;       // wpm the message's '+' and '-' added, for this message only
  int pendingGaps = 0;  // '~' seen since the last character
  bool inWord = false;  // the last character keyed was not a space
  bool raised = false;  // the PTT has been raised for this message
  // Inside a character: an abort waits for the word in word mode, else it is obeyed after
  // the element being keyed.
  const CwdaemonLineKeyer::StopWhen stop = [&] {
    return stopRequested_.load() || (Aborted(job) && !wordMode_.load());
  };
  for (const TextItem& item : job.message.items) {
    if (stopRequested_.load()) return false;
    // Between characters an abort ends the message; in word mode only once the word
    // being keyed is complete.
    const bool aborted = Aborted(job);
    if (aborted && !(wordMode_.load() && inWord)) return false;
    switch (item.kind) {
      case TextItem::Kind::Faster:
      case TextItem::Kind::Slower: {
        const int step = item.kind == TextItem::Kind::Faster ? kSpeedStepWpm : -kSpeedStepWpm;
        const int base = speedWpm_.load();
        offset = ClampWpm(base + offset + step) - base;
        break;
      }
      case TextItem::Kind::Gap:
        ++pendingGaps;
        break;
      case TextItem::Kind::Char: {
        if (aborted && item.code == ' ') return false;  // word mode: the word is done
        const CwdaemonTiming& t = TimingFor(ClampWpm(speedWpm_.load() + offset));
        const std::string_view symbols = table.Pattern(item.code);
        if (!raised && symbols.find_first_of(".-") != std::string_view::npos) {
          if (!RaisePtt()) return false;  // no PTT: nothing keyed
          raised = true;
        }
        if (options_.sound) {
          if (pendingGaps > 0) {
            waiter_.WaitMs(static_cast<int32_t>((pendingGaps * 2 * t.dotUs + 500) / 1000));
          }
          // Each call is a complete run: the previous one waited for its last buffer.
          options_.sound->SoundKeyChar(item.code, 1);
        } else {
          if (pendingGaps > 0) lineKeyer_.Pause(pendingGaps * 2 * t.dotUs);
          if (!lineKeyer_.Key(symbols, t, stop)) return false;
        }
        pendingGaps = 0;
        inWord = item.code != ' ';
        break;
      }
    }
  }
  return true;
}

bool CwdaemonKeyer::RunTune(const Job& job) {
  if (options_.text) {
    log_.Line("ESC c: no tune through this keying output; nothing keyed");
    return false;
  }
  const uint64_t ends = tuneEnds_.load();
  const int64_t sliceUs = int64_t{std::max<int32_t>(1, options_.tuneSliceMs)} * 1000;
  auto ended = [&] { return Aborted(job) || stopRequested_.load() || tuneEnds_.load() != ends; };
  if (!RaisePtt()) return false;
  // The PTT delay, key up; for the line the keyer's schedule holds it.
  if (!options_.sound) {
    if (!lineKeyer_.WaitSpaces(ended)) return false;
  }
  // The release is due the tune's time after the key went down, whatever the line calls
  // cost; the slices only bound how long an abort waits.
  const int64_t endUs = waiter_.NowUs() + int64_t{job.tuneSeconds} * 1000000;
  keyState_.store(kKeyDown);
  line_.SetKeyLine(kKeyDown);
  for (int64_t now = waiter_.NowUs(); now < endUs; now = waiter_.NowUs()) {
    if (ended()) return false;
    waiter_.WaitUntilUs(std::min(endUs, now + sliceUs));
  }
  return true;  // RunJob keys up
}

// ---------------------------------------------------------------------------------------
// The server.

struct CwdaemonServer::Peer {
  sockaddr_storage address{};
  socklen_t length = 0;
};

// The socket's sending side, shared with the completions that may outlive the server:
// once closed, a late caret echo is dropped instead of going to a reused descriptor.
class CwdaemonServer::Replies {
 public:
  Replies(int fd, LineLog& log) : fd_(fd), log_(log) {}
  ~Replies() { Close(); }
  int Fd() const { return fd_; }
  void Send(const Peer& to, const std::string& bytes) {
    std::lock_guard<std::mutex> lock(mu_);
    if (fd_ < 0) return;
    const ssize_t n = ::sendto(fd_, bytes.data(), bytes.size(), MSG_DONTWAIT | MSG_NOSIGNAL,
                               reinterpret_cast<const sockaddr*>(&to.address), to.length);
    if (n < 0) log_.Line(ErrnoText("reply not sent"));
  }
  void Close() {
    std::lock_guard<std::mutex> lock(mu_);
    if (fd_ >= 0) ::close(fd_);
    fd_ = -1;
  }

 private:
  std::mutex mu_;
  int fd_;
  LineLog& log_;
};

CwdaemonServer::CwdaemonServer(CwdaemonSink& sink, LineLog& log) : sink_(sink), log_(log) {}

CwdaemonServer::~CwdaemonServer() {
  Stop();
}

namespace {

bool IsLoopback(const sockaddr* a) {
  if (a->sa_family == AF_INET) {
    const auto* in = reinterpret_cast<const sockaddr_in*>(a);
    return (ntohl(in->sin_addr.s_addr) >> 24) == 127;
  }
  if (a->sa_family == AF_INET6) {
    const auto* in6 = reinterpret_cast<const sockaddr_in6*>(a);
    return IN6_IS_ADDR_LOOPBACK(&in6->sin6_addr);
  }
  return false;
}

}  // namespace

bool CwdaemonServer::Start(const CwdaemonServerOptions& options, std::string& error) {
  if (thread_.joinable()) {
    error = "already running";
    return false;
  }
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_DGRAM;
  hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV | AI_PASSIVE;
  addrinfo* found = nullptr;
  const std::string service = std::to_string(options.port);
  const int rc = ::getaddrinfo(options.listenAddress.c_str(), service.c_str(), &hints, &found);
  if (rc != 0 || found == nullptr) {
    error = "listen address \"" + options.listenAddress +
            "\" is not a numeric IPv4 or IPv6 address: " + ::gai_strerror(rc);
    return false;
  }
  const int fd = ::socket(found->ai_family, SOCK_DGRAM | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    error = ErrnoText("cannot create the UDP socket");
    ::freeaddrinfo(found);
    return false;
  }
  const bool loopback = IsLoopback(found->ai_addr);
  if (::bind(fd, found->ai_addr, found->ai_addrlen) != 0) {
    error = ErrnoText(("cannot bind " + options.listenAddress + " port " + service).c_str());
    ::close(fd);
    ::freeaddrinfo(found);
    return false;
  }
  ::freeaddrinfo(found);

  sockaddr_storage bound{};
  socklen_t boundLength = sizeof bound;
  if (::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &boundLength) != 0) {
    error = ErrnoText("cannot read the bound port");
    ::close(fd);
    return false;
  }
  port_ = bound.ss_family == AF_INET6
              ? ntohs(reinterpret_cast<const sockaddr_in6*>(&bound)->sin6_port)
              : ntohs(reinterpret_cast<const sockaddr_in*>(&bound)->sin_port);

  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    error = ErrnoText("cannot create the stop event");
    ::close(fd);
    return false;
  }
  if (!loopback)
    log_.Line("warning: listening on " + options.listenAddress +
              ", not the loopback: anyone who can reach UDP port " + std::to_string(port_) +
              " can key the transmitter");
  replies_ = std::make_shared<Replies>(fd, log_);
  thread_ = std::thread(&CwdaemonServer::Receive, this);
  return true;
}

void CwdaemonServer::Stop() {
  if (thread_.joinable()) {
    const uint64_t one = 1;
    if (::write(wakeFd_, &one, sizeof one) != static_cast<ssize_t>(sizeof one))
      log_.Line(ErrnoText("cannot wake the receive thread"));
    thread_.join();
  }
  if (replies_) replies_->Close();
  replies_.reset();
  if (wakeFd_ >= 0) ::close(wakeFd_);
  wakeFd_ = -1;
}

void CwdaemonServer::Receive() {
  // Sized for the largest UDP payload so an oversized request is seen whole and refused
  // rather than keyed cut.
  std::vector<char> buffer(65536);
  const int fd = replies_->Fd();
  for (;;) {
    pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFd_, POLLIN, 0}};
    const int ready = ::poll(fds, 2, -1);
    if (ready < 0) {
      if (errno == EINTR) continue;
      log_.Line(ErrnoText("receive stopped: poll"));
      return;
    }
    if (fds[1].revents != 0) return;
    if ((fds[0].revents & POLLNVAL) != 0) {
      log_.Line("receive stopped: the socket was closed");
      return;
    }
    if ((fds[0].revents & POLLIN) == 0) {
      // A pending socket error without data: read it so poll does not report it forever.
      int pending = 0;
      socklen_t size = sizeof pending;
      if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &pending, &size) != 0) {
        log_.Line(ErrnoText("receive stopped: socket error unreadable"));
        return;
      }
      if (pending != 0) {
        log_.Line(std::string("socket error: ") + std::strerror(pending));
      } else if ((fds[0].revents & POLLHUP) != 0) {
        log_.Line("receive stopped: the socket hung up");
        return;
      }
      continue;
    }
    Peer from;
    from.length = sizeof from.address;
    const ssize_t n = ::recvfrom(fd, buffer.data(), buffer.size(), MSG_DONTWAIT,
                                 reinterpret_cast<sockaddr*>(&from.address), &from.length);
    if (n < 0) {
      if (errno == EINTR || errno == EAGAIN || errno == EWOULDBLOCK) continue;
      log_.Line(ErrnoText("receive failed"));
      continue;
    }
    try {
      Handle(std::string_view(buffer.data(), static_cast<size_t>(n)), from);
    } catch (const std::exception& e) {
      log_.Line(std::string("request dropped: ") + e.what());
    }
    datagrams_.fetch_add(1);
  }
}

void CwdaemonServer::Handle(std::string_view datagram, const Peer& from) {
  CwdaemonRequest request = ParseCwdaemonRequest(datagram);
  for (const std::string& w : request.warnings) log_.Line(w);
  for (CwdaemonAction& a : request.actions) {
    switch (a.op) {
      case CwdaemonOp::Key: {
        CwdaemonMessage message;
        message.items = std::move(a.items);
        std::string echo;
        if (a.echo) echo = a.text + "\r\n";
        std::string reply;
        std::shared_ptr<Peer> replyTo;
        if (replyPending_) {
          reply = "h" + replyText_ + "\r\n";
          replyTo = replyTo_;
          replyPending_ = false;
        }
        if (!echo.empty() || replyTo) {
          std::weak_ptr<Replies> channel = replies_;
          auto peer = std::make_shared<Peer>(from);
          message.done = [channel, peer, echo, reply, replyTo](bool keyed) {
            if (!keyed) return;
            const std::shared_ptr<Replies> r = channel.lock();
            if (!r) return;
            if (!echo.empty()) r->Send(*peer, echo);
            if (replyTo) r->Send(*replyTo, reply);
          };
        }
        sink_.Key(std::move(message));
        break;
      }
      case CwdaemonOp::Reset:
        replyPending_ = false;
        sink_.Reset();
        break;
      case CwdaemonOp::Speed:
        sink_.SetSpeed(a.value);
        break;
      case CwdaemonOp::Tone:
        sink_.SetTone(a.value);
        break;
      case CwdaemonOp::Abort:
        sink_.Abort();
        break;
      case CwdaemonOp::Exit:
        sink_.Exit();
        break;
      case CwdaemonOp::WordMode:
        sink_.SetWordMode(true);
        break;
      case CwdaemonOp::Weighting:
        sink_.SetWeighting(a.value);
        break;
      case CwdaemonOp::Device:
        sink_.SelectDevice(a.text);
        break;
      case CwdaemonOp::Tune:
        sink_.Tune(a.value);
        break;
      case CwdaemonOp::Reply:
        replyPending_ = true;
        replyText_ = a.text;
        replyTo_ = std::make_shared<Peer>(from);
        break;
      case CwdaemonOp::Ptt:
        sink_.SetPtt(a.value != 0);
        break;
      case CwdaemonOp::PttDelay:
        sink_.SetPttDelay(a.value);
        break;
      case CwdaemonOp::NoEffect:
        break;  // no band outputs or sound-system choice here
    }
  }
}

}  // namespace kestrix::transmit
