// kestrix-send's command line. Every option is one row of a table (send_options.cpp), so a
// further output (tone, network keying) adds its rows and a mode without touching the
// parser.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "transmit/element_timing.h"

namespace kestrix::cli {

enum class SendMode {
  kKeyText,    // key TEXT (or standard input) on the chosen line
  kTune,       // hold the key down for --tune seconds
  kListPorts,  // print the COM numbering
  kHelp,
  kTone,         // key TEXT as tone: into a WAV file (--wav) or on a sound card (--device)
  kListDevices,  // print the sound cards that can play
  kCwdaemon,     // serve network keying until Ctrl-C
};

enum class SendLine { kNone, kSerial, kParallel };

struct SendOptions {
  SendMode mode = SendMode::kKeyText;
  SendLine line = SendLine::kNone;
  std::string device;  // serial: a path or a COM name; parallel: a ppdev path
  int wpm = transmit::kStartTransmitWpm;
  transmit::TimingRatios ratios;
  bool invert = false;
  bool rtsPtt = false;  // --rts-ptt: DTR keys, RTS is the PTT
  int pttDelayMs = 0;   // --ptt-delay: PTT up this long before the first element
  int pttTailMs = 0;    // --ptt-tail: sound card: PTT up this long after the last sample

  // Hamlib rigctld: --rigctld keys through the rig's keyer, --ptt-rigctld is the PTT.
  std::string rigctldHost, rigctldPort;
  std::string pttRigctldHost, pttRigctldPort;
  // --winkeyer DEV: keys through a K1EL WinKeyer.
  std::string winkeyer;
  double tuneSeconds = 0.0;
  bool verbose = false;
  // The words to send, joined by single spaces; empty (or "-") reads standard input.
  std::vector<std::string> text;
  bool readStdin = false;

  // Tone output.
  std::string wavPath;      // --wav FILE
  std::string soundDevice;  // --device N|NAME
  float toneHz = 750.0f;    // --tone
  bool square = false;      // --square
  bool silent = false;      // --silent

  // Network keying.
  bool cwdaemon = false;
  uint16_t udpPort = 6789;                  // --udp-port N
  std::string listenAddress = "127.0.0.1";  // --listen ADDR[:PORT]
};

// Fills `options` from the arguments (argv[0] excluded). Returns false with `error` set on
// a bad command line.
bool ParseSendOptions(const std::vector<std::string>& args, SendOptions& options,
                      std::string& error);

std::string SendUsage();

}  // namespace kestrix::cli
