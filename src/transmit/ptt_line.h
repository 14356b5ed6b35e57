// A transmitter's PTT (push to talk) output, beside the key line: a serial port's RTS when
// the port is set to "DTR keys, RTS is PTT", or rigctld's `T 1` / `T 0`. Network keying
// raises it around its messages and tunes (ESC a, ESC d), kestrix-send around tone keying.
//
// Threads: SetPtt may be called from any thread; an implementation serialises its calls.
#pragma once

namespace kestrix::transmit {

class PttLine {
 public:
  virtual ~PttLine() = default;
  // Asserts (true) or releases the PTT. False when it could not be changed (the output
  // reports why on its own, once); the caller goes on.
  virtual bool SetPtt(bool on) = 0;
};

}  // namespace kestrix::transmit
