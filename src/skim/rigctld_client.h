// Follows a receiver's dial through Hamlib's network daemon rigctld (TCP, text protocol):
// every `pollS` seconds it sends "f\n" and reads the frequency in Hz on the reply line.
//
// A thread of its own does the talking, with short timeouts on connect, send and receive,
// so the skimmer never waits for the rig; the last frequency read is an atomic. A lost
// connection is reported once on the log and tried again every few seconds; its return
// is reported too.
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

class RigctldClient {
 public:
  // `address` is HOST:PORT; `log` gets the lost/back lines (used from the client's thread:
  // give it a stream nothing else writes to at the same time, or std::cerr).
  RigctldClient(const std::string& address, std::ostream& log, double pollS = 1.0);
  ~RigctldClient();
  RigctldClient(const RigctldClient&) = delete;
  RigctldClient& operator=(const RigctldClient&) = delete;

  // Connects once and reads the dial (up to ~2 s); false with `error` when rigctld cannot
  // be reached or gives no frequency. Starts the poll thread either way only on success.
  bool Start(std::string& error);
  void Stop();

  // The last dial read, Hz (NaN before the first).
  double DialHz() const { return dial_.load(std::memory_order_relaxed); }
  // The dial when it changed since the last call, NaN otherwise.
  double Moved();

 private:
  bool Poll(std::string& error);
  void Run();
  void Close();

  std::string host_;
  std::string port_;
  std::ostream& log_;
  double pollS_;
  int fd_ = -1;
  std::atomic<double> dial_;
  double lastTaken_;
  std::thread thread_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool stop_ = false;
};

}  // namespace kestrix::skim
