// kestrix-send --cwdaemon: serves the network keying protocol headless until Ctrl-C (or
// until a logger sends ESC 5), keying the line or the sound card the command line chose.
//
//   kestrix-send --cwdaemon [--udp-port N] [--listen ADDR:PORT] --serial DEV|--parallel
//   DEV|--device N|NAME|--wav FILE [--tone HZ] [--square] [--silent]
//
// The caller opens the keying line (or names the sound card), installs the signal
// handler that sets `stop`, and passes both here.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <string_view>

#include "cli/send_tone.h"
#include "platform/playback_device.h"
#include "transmit/cwdaemon.h"
#include "transmit/element_timing.h"
#include "transmit/key_line.h"
#include "transmit/ptt_line.h"
#include "transmit/send_keyers.h"
#include "transmit/text_keyer.h"

namespace kestrix::cli {

struct CwdaemonOptions {
  uint16_t udpPort = transmit::kCwdaemonPort;               // --udp-port N; 0 = any free port
  std::string listenAddress = transmit::kCwdaemonLoopback;  // --listen ADDR:PORT
  int wpm = transmit::kStartTransmitWpm;                    // start speed, ESC 0 returns here
  transmit::TimingRatios ratios;
  int toneHz = 750;
  size_t queueCapacity = 64;
  // Where ESC 3 (Hz, 0 = silent) goes: the sound card's tone. Unset: only remembered.
  std::function<void(int hz)> setTone;
  // Called once the socket is bound, with the port (tests and tools that bind port 0).
  std::function<void(uint16_t port)> onListening;
  // The PTT output ESC a and ESC d drive (RTS of a port set to "DTR keys, RTS is PTT",
  // rigctld), with its name for the log; none: they are only remembered.
  transmit::PttLine* ptt = nullptr;
  std::string pttName;
  int pttDelayMs = 0;  // ESC d's start value (--ptt-delay)
  int pttTailMs = 0;   // sound card: PTT held this long after the last character (--ptt-tail)
  // Key through a keyer of its own (rigctld, WinKeyer) instead of the line: RunCwdaemon's
  // `line` then keys nothing.
  transmit::TextKeyer* text = nullptr;
  std::string textName;  // for the log
};

// "--udp-port N": 0..65535 (0 picks a free port). False with a message on bad input.
bool ParseUdpPort(std::string_view text, uint16_t& port, std::string& error);

// "--listen ADDR:PORT": "127.0.0.1:6789", "0.0.0.0:6789", "[::1]:6789". A bare address
// keeps the port already in `port`. Only the form is checked here; binding says whether
// the address exists on this machine.
bool ParseListenAddress(std::string_view text, std::string& address, uint16_t& port,
                        std::string& error);

// Runs the server on `line` with the monotonic wait. Returns 0 after `stop` was set or a
// logger asked to exit, 1 when the socket could not be opened. Speeds are network speeds
// (a dot of 1200 / W ms, transmit/cwdaemon_timing.h), `options.wpm` included.
int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, std::atomic<bool>& stop,
                std::ostream& err);

// The same with the wait given, and with `soundKeyers` set: key through the sound card
// (SoundKeyChar) instead of the line; `line` is still what tune keys.
int RunCwdaemon(const CwdaemonOptions& options, transmit::KeyLine& line, transmit::Waiter& waiter,
                transmit::SendKeyers* soundKeyers, std::atomic<bool>& stop, std::ostream& err);

// How the tone's device keeps time. A sound card plays in real time, and the keyer's waits
// (the `~` gap, tune) pass on the clock while it plays nothing. A WAV file takes samples
// as fast as they come: those waits become silence of the same length in the file, and
// messages follow each other without the idle time between requests.
enum class ToneClock { kRealTime, kFile };

// Serves network keying as tone: opens the device `tone` names (a WAV file for --wav,
// else the sound card --device chooses) once, keys every message through the sound-card
// keyer at `tone`'s pitch, waveform and side tone, and takes ESC 3 as the pitch of the
// characters that follow (0: silence of the same length; ESC 0 returns to the start tone).
// Returns 0 after `stop` or ESC 5; 1 when the device failed (at start or while keying: one
// line naming the failing call, the server ends and nothing more is echoed) or the socket
// could not be opened; 2 for a tone option out of range.
int RunCwdaemonTone(const CwdaemonOptions& options, const ToneSendOptions& tone,
                    std::atomic<bool>& stop, std::ostream& err);

// The same on a given device with its own index (tests pass a WAV in memory or a scripted
// device).
int RunCwdaemonToneOn(PlaybackDevice& device, int deviceIndex, ToneClock clock,
                      const CwdaemonOptions& options, const ToneSendOptions& tone,
                      std::atomic<bool>& stop, std::ostream& err);

}  // namespace kestrix::cli
