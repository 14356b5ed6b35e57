// The skimmer's spot server: the DX cluster telnet protocol loggers connect to.
//
// A client connects (TCP), gets "Please enter your callsign:", types its call and from
// then on receives every spot line published, each ended with CR LF as cluster servers
// send them. "bye" ends the session. The commands loggers send after login (sh/dx,
// set/nobeacon, ...) are answered as ClusterCommand describes; the server keeps the last
// kMaxShowDx spots for sh/dx. Many clients at once (200 by default).
//
// The skimmer never waits for a client: Publish() copies the line into a pending list
// under a short lock and wakes the server thread; the server thread owns all sockets
// (non-blocking, one poll loop) and gives each client a bounded output queue. A client
// that doesn't read while its queue overflows `maxQueueBytes` is disconnected, as is one
// that sends more than `maxInputBytesPerSecond` or stays unlogged for `loginTimeoutS`. Input
// goes through TelnetInput (IAC stripped, lines cut, non-printables ignored).
//
// Threads: Start()/Stop() from the owning thread; Publish(), WaitForFirstLogin() and the
// counters from any thread. The destructor stops and joins the server thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "skim/cluster_command.h"
#include "skim/spot.h"

namespace kestrix::skim {

inline constexpr int kDefaultTelnetPort = 7300;
inline constexpr const char* kTelnetPrompt = "Please enter your callsign:";

struct TelnetServerConfig {
  std::string listenAddress = "127.0.0.1";  // IPv4 or IPv6 literal; "0.0.0.0" / "::" = all
  int port = kDefaultTelnetPort;            // 0 = an ephemeral port (see Port())
  size_t maxClients = 200;                  // further connections are told so and closed
  size_t maxQueueBytes = 64 * 1024;         // per client: unsent spot bytes before a drop
  size_t maxInputBytesPerSecond = 4096;     // a flood beyond this drops the client
  double loginTimeoutS = 120.0;             // silent unlogged connections are closed
  std::string greeting;  // optional line(s) before the prompt (e.g. "Kestrix skimmer")
};

class TelnetServer {
 public:
  explicit TelnetServer(const TelnetServerConfig& config = {});
  ~TelnetServer();
  TelnetServer(const TelnetServer&) = delete;
  TelnetServer& operator=(const TelnetServer&) = delete;

  // Binds, listens and starts the server thread. False with a message (address, port and
  // the system's reason) when the port can't be had.
  bool Start(std::string& error);
  // Closes every client and the listening socket and joins the thread. Safe to call twice.
  void Stop();
  bool Running() const { return running_.load(std::memory_order_acquire); }

  // The port actually bound (the ephemeral one when the config asked for 0), 0 before Start.
  int Port() const { return boundPort_.load(std::memory_order_acquire); }

  // Queues one spot line (no line end; CR LF is added) for every logged-in client that
  // wants spots of `kind` (set/nobeacon), and for sh/dx. Never blocks on a client.
  void Publish(std::string_view line, SpotKind kind = SpotKind::Dx);

  // Blocks until a client has logged in or `seconds` have passed; true if one has (also
  // when one logged in before the call). For --telnet-wait with a recording.
  bool WaitForFirstLogin(double seconds);

  int LoggedInClients() const { return loggedIn_.load(std::memory_order_relaxed); }
  int ConnectedClients() const { return connected_.load(std::memory_order_relaxed); }
  // Clients dropped for not reading, flooding or a silent login, since Start.
  uint64_t DroppedClients() const { return dropped_.load(std::memory_order_relaxed); }
  // Spot lines published while someone was logged in.
  uint64_t PublishedLines() const { return published_.load(std::memory_order_relaxed); }

 private:
  struct Client;
  void Run();
  void Wake();
  bool Flush(Client& c);

  TelnetServerConfig config_;
  int listenFd_ = -1;
  int wakeFd_[2] = {-1, -1};  // pipe: Publish and Stop wake the poll loop
  std::thread thread_;
  std::atomic<bool> running_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<int> boundPort_{0};
  std::atomic<int> loggedIn_{0};
  std::atomic<int> connected_{0};
  std::atomic<uint64_t> dropped_{0};
  std::atomic<uint64_t> published_{0};

  std::mutex pendingMutex_;  // guards pending_ only; held for a vector push or swap
  std::vector<PublishedSpot> pending_;

  std::mutex loginMutex_;  // with loginCv_: WaitForFirstLogin
  std::condition_variable loginCv_;
  bool anyLogin_ = false;
};

}  // namespace kestrix::skim
