#include "cli/decode_options.h"

#include <map>

#include "cli/command_line.h"

namespace kestrix {
namespace {

using cli::ParseDouble;

bool ParseInt(const std::string& text, int lo, int hi, int& out) {
  int value = 0;
  if (!cli::ParseInt(text, value) || value < lo || value > hi) return false;
  out = value;
  return true;
}

template <typename T>
bool Choose(const std::string& text, const std::map<std::string, T>& choices, T& out) {
  const auto it = choices.find(text);
  if (it == choices.end()) return false;
  out = it->second;
  return true;
}

std::string ChoiceList(const auto& choices) {
  std::string list;
  for (const auto& [name, value] : choices) {
    (void)value;
    if (!list.empty()) list += "|";
    list += name;
  }
  return list;
}

}  // namespace

const char* DecodeUsage() {
  return R"(Usage: kestrix-decode [options] FILE|-
       kestrix-decode [options] --device N|NAME [--seconds S]
       kestrix-decode [options] --input-file FILE [--unpaced] [--seconds S]
       kestrix-decode --list-devices
Decodes the Morse code in a recording (WAV, FLAC, Ogg, ... any rate; - reads standard
input) with the receive chain of the Kestrix window and prints the text as it decodes.
With --device it listens to a sound card through the window's receive loop and prints
the text as it is decoded until Ctrl-C; --input-file runs the same loop on a recording
played in real time.

Options (defaults are the program's own):
  --engine classic|soft  classic (default): the window's own chain, byte for byte its text;
                        soft: the soft-decision decoder, for weak signals (with it only
                        --tone, --speed (hints), --case and --channel apply, on files,
                        standard input, --device and --input-file; with --partner the
                        partners get the soft decoder's characters)
  --tone HZ|auto        click on the spectrum at HZ before the first block; auto (default)
                        clicks where the peak finder sees the strongest tone in the
                        first seconds
  --bar N               tuning bar position 1..423 (one step = 5.383 Hz)
  --afc off|narrow|medium|wide
  --speed auto|10|20|30|50
  --threshold normal|noisy|quiet|auto|manual
  --manual-level N      manual threshold bar position 0..250
  --noise-filter on|off
  --space-time short|medium|long
  --spaces on|off
  --prosigns on|off
  --non-english on|off
  --case lower|upper
  --gain N              receive gain bar 0..20
  --disp-gain N         display gain bar 1..20
  --channel mic|left|right
  --trace FILE.csv      one row of decoder state per block (with --best: one row per
                        segment, naming the chain whose text was taken)
  --best                read the recording with several chains (threshold noisy,
                        normal, auto; AFC off, narrow), each after a look-ahead pass
                        that learns the tone and speed from the opening, and print the
                        most plausible text of each stretch; the soft engine reads the
                        whole recording too, and its text is printed instead where it
                        reads clearly more plausibly as a whole
  --flush-seconds S     silence appended after the recording so the last character
                        is finished (default 2, 0 for none); live, after the stop
  --device N|NAME       sound card by index or by (part of) its name
  --input-file FILE     a recording standing in for the sound card
  --unpaced             with --input-file: as fast as the loop takes buffers
  --seconds S           live: stop after S seconds of sound
  --list-devices        the sound cards' indexes and names
  --partner             live: serve partner programs (kestrix-partner) on the partner
                        socket, messaging on: each decoded character is posted to them
                        (exit status 1 when the socket cannot be served, e.g. another
                        Kestrix serves it already)
  --partner-socket PATH live: the same on PATH instead of the default socket
  --help

Exit status: 0 decoded, 1 the recording or the sound card could not be read (or a
sound device failed), 2 bad command line.
)";
}

bool ParseDecodeOptions(const std::vector<std::string>& args, DecodeOptions& out,
                        std::string& error) {
  static const std::map<std::string, bool> kOnOff = {{"on", true}, {"off", false}};
  static const std::map<std::string, AfcMode> kAfc = {{"off", AfcMode::kOff},
                                                      {"narrow", AfcMode::kNarrow},
                                                      {"medium", AfcMode::kMedium},
                                                      {"wide", AfcMode::kWide}};
  static const std::map<std::string, ReceiveSpeed> kSpeed = {{"auto", ReceiveSpeed::kAuto},
                                                             {"10", ReceiveSpeed::k10},
                                                             {"20", ReceiveSpeed::k20},
                                                             {"30", ReceiveSpeed::k30},
                                                             {"50", ReceiveSpeed::k50Plus}};
  static const std::map<std::string, ThresholdMode> kThreshold = {
      {"normal", ThresholdMode::kNormal},
      {"noisy", ThresholdMode::kNoisy},
      {"quiet", ThresholdMode::kQuiet},
      {"auto", ThresholdMode::kAuto},
      {"manual", ThresholdMode::kManual}};
  static const std::map<std::string, SpaceTime> kSpace = {
      {"short", SpaceTime::kShort}, {"medium", SpaceTime::kMedium}, {"long", SpaceTime::kLong}};
  static const std::map<std::string, LetterCase> kCase = {{"lower", LetterCase::kLower},
                                                          {"upper", LetterCase::kUpper}};
  static const std::map<std::string, ChannelMode> kChannel = {
      {"mic", ChannelMode::kMic}, {"left", ChannelMode::kLeft}, {"right", ChannelMode::kRight}};

  out = DecodeOptions{};
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--help" || arg == "-h") {
      out.help = true;
      return true;
    }
    if (arg == "--best") {
      out.best = true;
      continue;
    }
    if (arg == "--list-devices") {
      out.listDevices = true;
      continue;
    }
    if (arg == "--unpaced") {
      out.unpaced = true;
      continue;
    }
    if (arg == "--partner") {
      out.partner = true;
      continue;
    }
    if (arg == "-" || arg.rfind("--", 0) != 0) {
      if (!out.input.empty()) {
        error = "more than one input given ('" + out.input + "' and '" + arg + "')";
        return false;
      }
      out.input = arg;
      continue;
    }
    cli::OptionArg option = cli::SplitOption(arg);
    const std::string& name = option.name;
    const std::string& value = option.value;
    if (!cli::TakeValue(option, args, i)) {
      error = "option " + name + " needs a value";
      return false;
    }
    auto bad = [&](const std::string& expected) {
      error = "bad value '" + value + "' for " + name + " (expected " + expected + ")";
      return false;
    };
    int n = 0;
    if (name == "--engine") {
      if (value == "classic") {
        out.engine = DecodeEngine::kClassic;
      } else if (value == "soft") {
        out.engine = DecodeEngine::kSoft;
      } else {
        return bad("classic or soft");
      }
      continue;
    }
    if (name == "--tone") {
      if (value == "auto") {
        out.toneHz.reset();
      } else {
        double hz = 0;
        if (!ParseDouble(value, hz) || hz < 0.0 || hz > 2600.0) return bad("auto or 0..2600 Hz");
        out.toneHz = hz;
      }
    } else if (name == "--bar") {
      if (!ParseInt(value, 1, 423, n)) return bad("1..423");
      out.bar = n;
    } else if (name == "--afc") {
      AfcMode m;
      if (!Choose(value, kAfc, m)) return bad(ChoiceList(kAfc));
      out.afc = m;
    } else if (name == "--speed") {
      ReceiveSpeed s;
      if (!Choose(value, kSpeed, s)) return bad("auto|10|20|30|50");
      out.speed = s;
    } else if (name == "--threshold") {
      ThresholdMode m;
      if (!Choose(value, kThreshold, m)) return bad(ChoiceList(kThreshold));
      out.threshold = m;
    } else if (name == "--manual-level") {
      if (!ParseInt(value, 0, 250, n)) return bad("0..250");
      out.manualLevel = n;
    } else if (name == "--noise-filter" || name == "--spaces" || name == "--prosigns" ||
               name == "--non-english") {
      bool on = false;
      if (!Choose(value, kOnOff, on)) return bad("on|off");
      if (name == "--noise-filter") out.noiseFilter = on;
      if (name == "--spaces") out.spaces = on;
      if (name == "--prosigns") out.prosigns = on;
      if (name == "--non-english") out.nonEnglish = on;
    } else if (name == "--space-time") {
      SpaceTime s;
      if (!Choose(value, kSpace, s)) return bad(ChoiceList(kSpace));
      out.spaceTime = s;
    } else if (name == "--case") {
      LetterCase c;
      if (!Choose(value, kCase, c)) return bad(ChoiceList(kCase));
      out.letterCase = c;
    } else if (name == "--gain") {
      if (!ParseInt(value, 0, 20, n)) return bad("0..20");
      out.gain = n;
    } else if (name == "--disp-gain") {
      if (!ParseInt(value, 1, 20, n)) return bad("1..20");
      out.dispGain = n;
    } else if (name == "--channel") {
      ChannelMode c;
      if (!Choose(value, kChannel, c)) return bad(ChoiceList(kChannel));
      out.channel = c;
    } else if (name == "--trace") {
      if (value.empty()) return bad("a file name");
      out.tracePath = value;
    } else if (name == "--flush-seconds") {
      double s = 0;
      if (!ParseDouble(value, s) || s < 0.0 || s > 60.0) return bad("0..60 seconds");
      out.flushSeconds = s;
    } else if (name == "--device") {
      if (value.empty()) return bad("an index or a name");
      out.device = value;
    } else if (name == "--input-file") {
      if (value.empty()) return bad("a file name");
      out.inputFile = value;
    } else if (name == "--seconds") {
      double s = 0;
      if (!ParseDouble(value, s) || s <= 0.0 || s > 1e7) return bad("a number of seconds > 0");
      out.seconds = s;
    } else if (name == "--partner-socket") {
      if (value.empty()) return bad("a socket path");
      out.partner = true;
      out.partnerSocket = value;
    } else {
      error = "unknown option " + name + " (see --help)";
      return false;
    }
  }
  if (out.listDevices) return true;
  if (out.engine == DecodeEngine::kSoft) {
    // The soft engine has no threshold, AFC, gain or spectrum: those controls would do
    // nothing, so they are refused rather than ignored.
    const char* classicOnly = out.afc                  ? "--afc"
                              : out.threshold          ? "--threshold"
                              : out.manualLevel        ? "--manual-level"
                              : out.noiseFilter        ? "--noise-filter"
                              : out.spaceTime          ? "--space-time"
                              : out.gain               ? "--gain"
                              : out.dispGain           ? "--disp-gain"
                              : out.bar                ? "--bar"
                              : out.spaces             ? "--spaces"
                              : out.prosigns           ? "--prosigns"
                              : out.nonEnglish         ? "--non-english"
                              : !out.tracePath.empty() ? "--trace"
                                                       : nullptr;
    if (classicOnly != nullptr) {
      error = std::string(classicOnly) + " works with --engine classic only";
      return false;
    }
  }
  if (!out.device.empty() && !out.inputFile.empty()) {
    error = "--device and --input-file exclude each other";
    return false;
  }
  if (out.Live()) {
    if (!out.input.empty()) {
      error = "'" + out.input + "' given as well as " +
              (out.device.empty() ? "--input-file" : "--device");
      return false;
    }
    if (!out.tracePath.empty()) {
      error = "--trace works with recordings given as FILE only";
      return false;
    }
    if (out.best) {
      error = "--best works with recordings given as FILE only";
      return false;
    }
  } else if (out.seconds || out.unpaced) {
    error =
        std::string(out.seconds ? "--seconds" : "--unpaced") + " needs --device or --input-file";
    return false;
  }
  if (out.partner && !out.Live()) {
    // A recording given as FILE is decoded before any partner could connect.
    error = "--partner needs --device or --input-file";
    return false;
  }
  if (out.unpaced && out.inputFile.empty()) {
    error = "--unpaced needs --input-file";
    return false;
  }
  if (out.input.empty() && !out.Live()) {
    error = "no input file given (see --help)";
    return false;
  }
  return true;
}

}  // namespace kestrix
