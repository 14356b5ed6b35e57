// Follows a receiver's dial through Hamlib's network daemon rigctld (TCP, text protocol):
// every `pollS` seconds it sends "f\n" and reads the frequency in Hz on the reply line, then
// "m\n" for the mode, whose sideband says which way an audio tone lies from the dial.
//
// A thread of its own does the talking, with short timeouts on connect, send and receive,
// so the skimmer never waits for the rig; the last frequency read is an atomic. A lost
// connection is reported once on the log and tried again every `retryS` seconds; its return
// is reported too. A rigctld that is not there at the start is tried the same way.
//
// Threads: construct, Start, Stop on one thread; DialHz/Moved from any.
#pragma once

#include <atomic>
#include <condition_variable>
#include <mutex>
#include <ostream>
#include <string>
#include <thread>

namespace kestrix::skim {

// The frequency in a reply to "f": the first line that is a number ("14025000" or
// "14025000.000000"); false for "RPRT -5" and anything else.
bool ParseRigctldFrequency(const std::string& reply, double& hz);

// The sideband of a reply to "m" (mode line, passband line): `lower` 0 for USB, CW and the
// upper data modes, 1 for LSB, CWR and the lower ones; false for AM, FM, "RPRT -11" and
// anything else (the sideband is then left as it was).
bool ParseRigctldMode(const std::string& reply, int& lower);

class RigctldClient {
 public:
  // `address` is HOST:PORT; `log` gets the lost/back lines (used from the client's thread:
  // give it a stream nothing else writes to at the same time, or std::cerr).
  RigctldClient(const std::string& address, std::ostream& log, double pollS = 1.0,
                double retryS = 5.0);
  ~RigctldClient();
  RigctldClient(const RigctldClient&) = delete;
  RigctldClient& operator=(const RigctldClient&) = delete;

  // Connects once and reads the dial and mode (up to ~3 s), then starts the poll thread.
  // False with `error` when rigctld cannot be reached or gives no frequency: the thread
  // then keeps trying, and DialHz() stays NaN until it answers.
  bool Start(std::string& error);
  void Stop();

  // The last dial read, Hz (NaN before the first).
  double DialHz() const { return dial_.load(std::memory_order_relaxed); }
  // The dial when it changed since the last call, NaN otherwise.
  double Moved();
  // The rig's sideband: 1 lower (LSB, CWR), 0 upper (USB, CW), -1 not known yet.
  int LowerSideband() const { return sideband_.load(std::memory_order_relaxed); }

 private:
  bool Poll(std::string& error);
  // Sends `command` and reads until `lines` reply lines (or an RPRT line) came.
  bool Ask(const char* command, int lines, std::string& reply, std::string& error);
  void Run(bool lost);
  void Close();

  std::string host_;
  std::string port_;
  std::ostream& log_;
  double pollS_;
  double retryS_;
  int fd_ = -1;
  std::atomic<double> dial_;
  std::atomic<int> sideband_{-1};
  double lastTaken_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
};

}  // namespace kestrix::skim
