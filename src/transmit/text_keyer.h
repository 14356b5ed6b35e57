// A keying output that takes text and keys it with a keyer of its own: a transceiver's
// keyer through rigctld (send_morse), a WinKeyer. Network keying and kestrix-send hand it
// text a little at a time; it keeps only a short stretch of text ahead of the keying, so
// that a stop is obeyed within a fraction of a second.
//
// Threads: Send and Drain on one keying thread; Stop from any thread.
#pragma once

#include <functional>
#include <string_view>

namespace kestrix::transmit {

class TextKeyer {
 public:
  using StopWhen = std::function<bool()>;
  virtual ~TextKeyer() = default;

  // Hands `text` (printable ASCII) to the output at `wpm`, waiting while the output has
  // enough ahead of its keying. True once all of it is in the output's hands; false when
  // `stop` held first or the output failed (it has then been told to stop).
  virtual bool Send(std::string_view text, int wpm, const StopWhen& stop) = 0;
  // Waits until everything handed over has been keyed. False when `stop` held first (the
  // output has been told to stop) or the output failed.
  virtual bool Drain(const StopWhen& stop) = 0;
  // Stops the output's keying now: what it holds is dropped.
  virtual void Stop() = 0;
  // ESC 7's weighting, -50..50, where the output has one (any thread).
  virtual void SetWeighting(int /*weighting*/) {}
};

}  // namespace kestrix::transmit
