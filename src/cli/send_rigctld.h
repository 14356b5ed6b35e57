// kestrix-send --rigctld HOST:PORT TEXT: the text keyed by the transceiver's own keyer
// through Hamlib's rigctld (send_morse, a few characters at a time; the speed with
// L KEYSPD). Ctrl-C stops it within about 0.3 s (stop_morse where the rig has it).
#pragma once

#include <atomic>
#include <functional>
#include <ostream>
#include <string>

namespace kestrix::cli {

struct RigctldSendOptions {
  std::string host;
  std::string port;
  int wpm = 25;  // the rig keyer's words per minute (PARIS)
};

// Connects, sets the speed and keys every piece `next` gives (false: no more) until it
// ends or `stop` is set. Returns 0 when all was keyed, 1 when rigctld could not be reached
// or went away or the rig refused (one line on `err`), 130 when stopped.
int RunRigctldSend(const RigctldSendOptions& options, const std::function<bool(std::string&)>& next,
                   const std::atomic<bool>& stop, std::ostream& err);

}  // namespace kestrix::cli
