// Command line of kestrix-skim.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace kestrix::skim {

// One receiver: its input and where it is tuned. Tuning options on the command line apply
// to the input given last before them; given before any input, to every input.
struct SkimReceiver {
  // The input: exactly one of these.
  std::string iq;      // --iq FILE|-
  std::string soapy;   // --soapy ARGS
  std::string audio;   // --audio FILE
  std::string device;  // --device N|NAME

  std::optional<double> centreKhz;  // --center-khz
  double rate = 0.0;                // --rate HZ (raw I/Q, SDR, sound card)
  std::optional<double> gainDb;     // --gain DB (SDR; none: automatic)
  std::string streamArgs;           // --stream-args KEY=VALUE,... (SDR)
  std::optional<double> dialKhz;    // --dial-khz (audio)
  bool lsb = false;                 // --sideband lsb
  std::string rigctld;              // --rigctld HOST:PORT

  bool Audio() const { return !audio.empty() || !device.empty(); }
  bool Live() const { return !soapy.empty() || !device.empty(); }
  // What the user gave, for messages: "--iq band.wav".
  std::string Describe() const;
};

struct SkimOptions {
  // One or more, all of one kind (--iq, --soapy, --audio or --device).
  std::vector<SkimReceiver> receivers;
  bool listSdr = false;  // --list-sdr
  bool listDevices = false;

  std::string call = "N0CALL";  // --call
  bool callGiven = false;
  bool cqOnly = false;            // --cq-only
  std::string scp, cty;           // --scp, --cty
  std::optional<int> telnetPort;  // --telnet [PORT]
  std::string listen = "127.0.0.1";
  double telnetWaitS = 0.0;       // --telnet-wait S
  std::string decodes;            // --decodes FILE
  std::optional<double> seconds;  // --seconds S: stop after S seconds of input
  bool quiet = false;             // --quiet: no progress line
  bool help = false;

  bool Audio() const { return !receivers.empty() && receivers.front().Audio(); }
  bool Live() const { return !receivers.empty() && receivers.front().Live(); }
};

// Parses argv[1..]; false with one line in `error`.
bool ParseSkimOptions(const std::vector<std::string>& args, SkimOptions& out, std::string& error);

const char* SkimUsage();

}  // namespace kestrix::skim
