// kestrix-send's command line. Every option is one row of a table (send_options.cpp), so a
// further output (tone, network keying) adds its rows and a mode without touching the
// parser.
#pragma once

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
};

enum class SendLine { kNone, kSerial, kParallel };

struct SendOptions {
  SendMode mode = SendMode::kKeyText;
  SendLine line = SendLine::kNone;
  std::string device;  // serial: a path or a COM name; parallel: a ppdev path
  int wpm = transmit::kStartTransmitWpm;
  transmit::TimingRatios ratios;
  bool invert = false;
  double tuneSeconds = 0.0;
  bool verbose = false;
  // The words to send, joined by single spaces; empty (or "-") reads standard input.
  std::vector<std::string> text;
  bool readStdin = false;
};

// Fills `options` from the arguments (argv[0] excluded). Returns false with `error` set on
// a bad command line.
bool ParseSendOptions(const std::vector<std::string>& args, SendOptions& options,
                      std::string& error);

std::string SendUsage();

}  // namespace kestrix::cli
