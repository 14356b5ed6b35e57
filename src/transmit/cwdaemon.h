// Network keying: a UDP server speaking the cwdaemon keying protocol (see
// cwdaemon_request.h for the requests), and the headless consumer that keys its messages.
//
//   CwdaemonServer  owns the socket and a receive thread. Each datagram is parsed and
//                   handed to a CwdaemonSink; it never waits for keying, so a burst of
//                   datagrams cannot hold up the keyer or the window. Caret echoes and
//                   "h" replies go back to the requester when the sink reports a message
//                   done.
//   CwdaemonSink    what consumes the requests: CwdaemonKeyer below for kestrix-send; the
//                   window plugs its transmit controller in through the same interface.
//   CwdaemonKeyer   a bounded queue and a keyer thread of its own that keys each message
//                   on the key line element by element, or on the sound card character by
//                   character, at network speeds, and drives the PTT output.
//
// The keying line is left up, and the PTT released, after every message, abort, tune,
// stop, exception and on destruction.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <ostream>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

#include "transmit/cwdaemon_line_keyer.h"
#include "transmit/cwdaemon_request.h"
#include "transmit/cwdaemon_timing.h"
#include "transmit/element_timing.h"
#include "transmit/key_line.h"
#include "transmit/ptt_line.h"
#include "transmit/send_keyers.h"
#include "transmit/text_keyer.h"

namespace kestrix::transmit {

inline constexpr uint16_t kCwdaemonPort = 6789;
inline constexpr const char* kCwdaemonLoopback = "127.0.0.1";

// Whole lines to standard error (or a test's stream) from several threads.
class LineLog {
 public:
  explicit LineLog(std::ostream& out) : out_(out) {}
  void Line(std::string_view text);

 private:
  std::mutex mu_;
  std::ostream& out_;
};

// Called once per message when it has been keyed (`keyed` true) or dropped: aborted,
// refused by a full queue, or left over at stop (`keyed` false). May run on any thread.
using CwdaemonDone = std::function<void(bool keyed)>;

// A message to key: the items in order, and the completion the server hangs the caret
// echo and the "h" reply on.
struct CwdaemonMessage {
  std::vector<TextItem> items;
  CwdaemonDone done;  // may be empty
};

// The consumer of network keying requests. Every call comes from the server's receive
// thread and must return promptly (no keying, no waiting for the keyer).
class CwdaemonSink {
 public:
  virtual ~CwdaemonSink() = default;
  // Queues a message; returns false (after calling done(false)) when it was refused.
  virtual bool Key(CwdaemonMessage message) = 0;
  // ESC 2: the speed from the next character on (5..100).
  virtual void SetSpeed(int wpm) = 0;
  // ESC 7: -50..50, see CwdaemonKeyer for the mapping onto the ratios.
  virtual void SetWeighting(int weighting) = 0;
  // ESC 3: Hz, 0 = silent.
  virtual void SetTone(int hz) = 0;
  // ESC 6.
  virtual void SetWordMode(bool on) = 0;
  // ESC 4: stop the message being keyed at the next character and drop the queue.
  virtual void Abort() = 0;
  // ESC c: key down `seconds` (0..10), key up after; 0 ends a running tune.
  virtual void Tune(int seconds) = 0;
  // ESC 0: speed, weighting, tone and word mode back to the start values.
  virtual void Reset() = 0;
  // ESC 8.
  virtual void SelectDevice(const std::string& name) = 0;
  // ESC 5: the window ignores it; the headless keyer ends its run.
  virtual void Exit() = 0;
  // ESC a: PTT on (held until ESC a 0) or off. The window has no PTT output here.
  virtual void SetPtt(bool /*on*/) {}
  // ESC d: how long the PTT is up before the first element, 0..50 ms.
  virtual void SetPttDelay(int /*ms*/) {}
};

struct CwdaemonKeyerOptions {
  int startWpm = kStartTransmitWpm;  // ESC 0 returns here
  TimingRatios ratios;               // the operator's ratios (--ratios), 100 % each by default
  int startToneHz = 750;
  size_t queueCapacity = 64;  // messages waiting behind the one being keyed
  // Tune, the key-up waits and the PTT tail wait in slices of this length so an abort or a
  // stop is obeyed promptly.
  int32_t tuneSliceMs = 50;
  int32_t keyUpSliceMs = 10;
  // Where ESC 3 goes (the sound card's tone); without it the tone is only remembered.
  std::function<void(int hz)> setTone;

  // The sound card: every character goes to sound->SoundKeyChar with the timing written to
  // *toneTiming (both set, or neither).
  SendKeyers* sound = nullptr;
  ElementTiming* toneTiming = nullptr;
  // Or a keyer of its own (rigctld's send_morse, a WinKeyer) takes the text word by word.
  // Neither: the key line keys.
  TextKeyer* text = nullptr;
  // ESC 4 calls this at once (the tone's abort, the text keyer's stop).
  std::function<void()> abortOutput;

  // The PTT output (RTS, rigctld); none: ESC a and ESC d are only remembered.
  PttLine* ptt = nullptr;
  int startPttDelayMs = 0;  // ESC d's start value, 0..50; ESC 0 returns here
  int pttTailMs = 0;        // sound card: the PTT stays up this long after the last character
};

// The headless consumer. Speeds are network speeds (cwdaemon_timing.h: ESC 2 W keys a dot
// of 1200 / W ms; the window's own speeds are not these), keyed with network keying's
// character set (NetworkSendTable), element by element on the key line
// (CwdaemonLineKeyer), character by character on the sound card, or word by word on a
// text keyer (which keys ESC 4 as its stop, and has no tune).
//
//   ESC 4      the element being keyed completes, nothing more of the message is keyed;
//              in word mode the word being keyed completes first
//   ESC 7 w    weighting as cwdaemon's: marks longer (w > 0) or shorter by 0.012 w units
//              and the spaces after them as much shorter (longer): the speed stays
//   completion a message is done (caret echo, "h" reply) at its last key-up
//   PTT        with a PTT output, it rises before a message or a tune and the first
//              element waits until it has been up ESC d ms; it falls once the queue is
//              empty and the message's last character space has passed (at once after an
//              abort), unless ESC a 1 holds it; ESC a 0 releases it once nothing is keyed.
//              Stop releases it, whatever ESC a said.
//
// Threads: the sink calls come from the server's receive thread; the keyer thread is the
// only writer of the tone timing while it runs; the observers may be called from any thread.
class CwdaemonKeyer final : public CwdaemonSink {
 public:
  CwdaemonKeyer(KeyLine& line, Waiter& waiter, std::atomic<uint8_t>& keyState, LineLog& log,
                CwdaemonKeyerOptions options);
  ~CwdaemonKeyer() override;
  CwdaemonKeyer(const CwdaemonKeyer&) = delete;
  CwdaemonKeyer& operator=(const CwdaemonKeyer&) = delete;

  // Sets the start timing and starts the keyer thread.
  void Start();
  // Aborts, joins the keyer thread, keys up and releases the PTT. Safe to call twice.
  void Stop();

  bool Key(CwdaemonMessage message) override;
  void SetSpeed(int wpm) override;
  void SetWeighting(int weighting) override;
  void SetTone(int hz) override;
  void SetWordMode(bool on) override;
  void Abort() override;
  void Tune(int seconds) override;
  void Reset() override;
  void SelectDevice(const std::string& name) override;
  void Exit() override;
  void SetPtt(bool on) override;
  void SetPttDelay(int ms) override;

  // Observers.
  int SpeedWpm() const { return speedWpm_.load(); }
  int Weighting() const { return weighting_.load(); }
  int ToneHz() const { return toneHz_.load(); }
  bool WordMode() const { return wordMode_.load(); }
  int PttDelayMs() const { return pttDelayMs_.load(); }
  bool ExitRequested() const { return exitRequested_.load(); }
  bool Stopping() const { return stopRequested_.load(); }  // Stop() has begun
  uint64_t Dropped() const { return dropped_.load(); }
  size_t Queued() const;
  // True when nothing is queued and nothing is being keyed.
  bool Idle() const;

 private:
  struct Job {
    enum class Kind { Text, Tune } kind = Kind::Text;
    CwdaemonMessage message;
    int tuneSeconds = 0;
    uint64_t generation = 0;  // the abort count when queued
  };

  void Run();
  void RunJob(Job& job);
  bool RunText(Job& job);
  bool RunTextOnKeyer(Job& job);
  bool RunTune(const Job& job);
  bool Aborted(const Job& job) const { return abortCount_.load() != job.generation; }
  const CwdaemonTiming& TimingFor(int wpm);
  void KeyUp();
  // PTT: up for keying (keyer thread); then the first element waits for ESC d. False
  // when the PTT output failed: nothing is keyed.
  bool RaisePtt();
  // After a job: the tail, then down unless more is queued or ESC a 1 holds it.
  void LowerPttAfter(const Job& job, bool keyed);
  // Brings the output to manual || keying (any thread).
  void ApplyPtt();
  static void Finish(Job& job, bool keyed);
  std::string Refusal() const;  // why a message or tune was not queued

  KeyLine& line_;
  Waiter& waiter_;
  std::atomic<uint8_t>& keyState_;
  LineLog& log_;
  const CwdaemonKeyerOptions options_;
  CwdaemonLineKeyer lineKeyer_;

  std::atomic<int> speedWpm_;
  std::atomic<int> weighting_{0};
  std::atomic<int> toneHz_;
  std::atomic<bool> wordMode_{false};
  std::atomic<int> pttDelayMs_;
  std::atomic<bool> pttManual_{false};
  std::atomic<bool> pttKeying_{false};
  std::atomic<bool> exitRequested_{false};
  std::atomic<bool> stopRequested_{false};
  std::atomic<uint64_t> abortCount_{0};
  std::atomic<uint64_t> tuneEnds_{0};  // bumped by ESC c 0
  std::atomic<uint64_t> dropped_{0};

  mutable std::mutex mu_;
  std::condition_variable wake_;
  std::deque<Job> queue_;
  bool busy_ = false;
  bool stopping_ = false;
  std::thread thread_;

  std::mutex pttMu_;  // orders the PTT output's calls
  bool pttOn_ = false;
  bool pttFailed_ = false;  // the last change asked for did not take
  int64_t pttSinceUs_ = 0;

  // Keyer thread only: the timing last computed, and what from.
  CwdaemonTiming timing_;
  int appliedWpm_ = -1;
  int appliedWeighting_ = 0;
};

struct CwdaemonServerOptions {
  std::string listenAddress = kCwdaemonLoopback;  // numeric IPv4 or IPv6
  uint16_t port = kCwdaemonPort;                  // 0: any free port (tests)
};

// The UDP side. Threads: Start/Stop on the owner's thread; the receive thread calls the
// sink; completions may arrive on the sink's thread and send their replies from there.
class CwdaemonServer {
 public:
  CwdaemonServer(CwdaemonSink& sink, LineLog& log);
  ~CwdaemonServer();
  CwdaemonServer(const CwdaemonServer&) = delete;
  CwdaemonServer& operator=(const CwdaemonServer&) = delete;

  // Binds and starts receiving. On failure returns false with the reason in `error`.
  // An address other than the loopback gets a warning on the log: anyone who can reach
  // the port can then key the transmitter.
  bool Start(const CwdaemonServerOptions& options, std::string& error);
  void Stop();

  uint16_t Port() const { return port_; }                   // the bound port, once started
  uint64_t Datagrams() const { return datagrams_.load(); }  // handled so far

 private:
  struct Peer;
  class Replies;

  void Receive();
  void Handle(std::string_view datagram, const Peer& from);

  CwdaemonSink& sink_;
  LineLog& log_;
  std::shared_ptr<Replies> replies_;
  int wakeFd_ = -1;
  uint16_t port_ = 0;
  std::atomic<uint64_t> datagrams_{0};
  std::thread thread_;

  // Receive thread only: the pending "h" reply, attached to the next message.
  std::shared_ptr<Peer> replyTo_;
  std::string replyText_;
  bool replyPending_ = false;
};

}  // namespace kestrix::transmit
