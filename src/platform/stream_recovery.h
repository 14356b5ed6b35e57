// The bookkeeping of a sound stream that was lost (the sound server restarted, the
// device was taken away) and is being opened afresh: how long to keep trying, and the
// two lines the operator sees on the error stream, one when it stops and one when it is
// back. Capture and playback share it.
#pragma once

#include <time.h>

#include <ostream>
#include <string>

namespace kestrix {

inline double MonotonicSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

class StreamRecovery {
 public:
  using Clock = double (*)();

  // `what` names the stream in the lines: "input" or "output"; `back` is what it does
  // again once it is back ("recording", "playing").
  StreamRecovery(double graceSeconds, const char* what, const char* back, std::ostream& log,
                 Clock clock = &MonotonicSeconds)
      : grace_(graceSeconds), what_(what), back_(back), log_(log), clock_(clock) {}

  // A fresh stream could not be opened for `reason`. True while the first such failure
  // is less than the grace time ago (keep the device open and try again later); false
  // once it is over, which also forgets the loss.
  bool KeepTrying(const std::string& reason) {
    const double now = clock_();
    if (since_ < 0.0) since_ = now;
    if (now - since_ < grace_) {
      if (!reported_) {
        reported_ = true;
        log_ << "kestrix: the sound " << what_ << " stopped (" << reason
             << "); trying to reopen it\n";
      }
      return true;
    }
    Forget();
    return false;
  }

  // A fresh stream is open: the loss, if one was reported, is over.
  void Recovered() {
    if (reported_) log_ << "kestrix: the sound " << what_ << " is " << back_ << " again\n";
    Forget();
  }

  // A new device was opened or the old one closed: no loss is pending.
  void Forget() {
    since_ = -1.0;
    reported_ = false;
  }

  bool Recovering() const { return since_ >= 0.0; }

 private:
  double grace_;
  const char* what_;
  const char* back_;
  std::ostream& log_;
  Clock clock_;
  double since_ = -1.0;  // clock seconds of the first failed open of this loss
  bool reported_ = false;
};

}  // namespace kestrix
