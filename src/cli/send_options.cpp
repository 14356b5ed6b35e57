#include "cli/send_options.h"

#include "cli/send_cwdaemon.h"
#include "cli/send_tone.h"

#include <functional>
#include <string_view>

#include "cli/command_line.h"
#include "transmit/cwdaemon_request.h"
#include "transmit/rigctld_keying.h"

namespace kestrix::cli {

namespace {

// "DOT,DASH,CHAR,WORD" in percent, whole numbers 50..200 as the dialog allows.
bool ParseRatios(const std::string& text, transmit::TimingRatios& r, std::string& error) {
  float* fields[] = {&r.DotRatio, &r.DashRatio, &r.CharRatio, &r.WordRatio};
  std::string_view rest = text;
  for (size_t i = 0; i < 4; ++i) {
    const size_t comma = rest.find(',');
    const std::string_view part = rest.substr(0, comma);
    int value = 0;
    if (!ParseInt(part, value) || value < 50 || value > 200) {
      error = "--ratios wants four whole percentages 50..200, as DOT,DASH,CHAR,WORD";
      return false;
    }
    *fields[i] = static_cast<float>(value);
    if (i < 3) {
      if (comma == std::string_view::npos) {
        error = "--ratios wants four values, as DOT,DASH,CHAR,WORD";
        return false;
      }
      rest.remove_prefix(comma + 1);
    } else if (comma != std::string_view::npos) {
      error = "--ratios wants four values, as DOT,DASH,CHAR,WORD";
      return false;
    }
  }
  return true;
}

struct OptionRow {
  std::string_view name;
  bool takesValue;
  std::function<bool(SendOptions&, const std::string& value, std::string& error)> apply;
};

bool ChooseLine(SendOptions& o, SendLine line, const std::string& device, std::string& error) {
  if (o.line != SendLine::kNone) {
    error = "give only one of --serial and --parallel";
    return false;
  }
  o.line = line;
  o.device = device;
  return true;
}

const std::vector<OptionRow>& Rows() {
  static const std::vector<OptionRow> rows = {
      {"--serial", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ChooseLine(o, SendLine::kSerial, v, e);
       }},
      {"--parallel", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ChooseLine(o, SendLine::kParallel, v, e);
       }},
      {"--wpm", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (!ParseInt(v, o.wpm) || o.wpm < transmit::kMinTransmitWpm ||
             o.wpm > transmit::kMaxTransmitWpm) {
           e = "--wpm wants a speed of 5..100 words per minute";
           return false;
         }
         return true;
       }},
      {"--ratios", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ParseRatios(v, o.ratios, e);
       }},
      {"--invert", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.invert = true;
         return true;
       }},
      {"--rts-ptt", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.rtsPtt = true;
         return true;
       }},
      {"--ptt-delay", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (!ParseInt(v, o.pttDelayMs) || o.pttDelayMs < 0 ||
             o.pttDelayMs > transmit::kMaxPttDelayMs) {
           e = "--ptt-delay wants 0..50 milliseconds";
           return false;
         }
         return true;
       }},
      {"--ptt-tail", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (!ParseInt(v, o.pttTailMs) || o.pttTailMs < 0 || o.pttTailMs > 1000) {
           e = "--ptt-tail wants 0..1000 milliseconds";
           return false;
         }
         return true;
       }},
      {"--rigctld", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return transmit::ParseRigctldAddress(v, o.rigctldHost, o.rigctldPort, e, "--rigctld");
       }},
      {"--winkeyer", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (v.empty()) {
           e = "--winkeyer wants the keyer's serial device";
           return false;
         }
         o.winkeyer = v;
         return true;
       }},
      {"--ptt-rigctld", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return transmit::ParseRigctldAddress(v, o.pttRigctldHost, o.pttRigctldPort, e,
                                              "--ptt-rigctld");
       }},
      {"--tune", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (!ParseDouble(v, o.tuneSeconds) || !(o.tuneSeconds > 0.0) || o.tuneSeconds > 3600.0) {
           e = "--tune wants a time of up to 3600 seconds";
           return false;
         }
         o.mode = SendMode::kTune;
         return true;
       }},
      {"--verbose", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.verbose = true;
         return true;
       }},
      {"--list-ports", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.mode = SendMode::kListPorts;
         return true;
       }},
      {"--wav", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (v.empty()) {
           e = "--wav wants a file name";
           return false;
         }
         o.wavPath = v;
         return true;
       }},
      {"--device", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         if (v.empty()) {
           e = "--device wants a sound card number or name (see --list-devices)";
           return false;
         }
         o.soundDevice = v;
         return true;
       }},
      {"--list-devices", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.mode = SendMode::kListDevices;
         return true;
       }},
      {"--tone", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ParseToneHz(v, o.toneHz, e);
       }},
      {"--square", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.square = true;
         return true;
       }},
      {"--silent", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.silent = true;
         return true;
       }},
      {"--cwdaemon", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.cwdaemon = true;
         return true;
       }},
      {"--udp-port", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ParseUdpPort(v, o.udpPort, e);
       }},
      {"--listen", true,
       [](SendOptions& o, const std::string& v, std::string& e) {
         return ParseListenAddress(v, o.listenAddress, o.udpPort, e);
       }},
      {"--help", false,
       [](SendOptions& o, const std::string&, std::string&) {
         o.mode = SendMode::kHelp;
         return true;
       }},
  };
  return rows;
}

}  // namespace

bool ParseSendOptions(const std::vector<std::string>& args, SendOptions& o, std::string& error) {
  bool onlyText = false;
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (onlyText || arg == "-" || arg.size() < 2 || arg[0] != '-') {
      if (arg == "-" && !onlyText) {
        o.readStdin = true;
      } else {
        o.text.push_back(arg);
      }
      continue;
    }
    if (arg == "--") {
      onlyText = true;
      continue;
    }
    OptionArg option = SplitOption(arg);
    const std::string& name = option.name;
    const OptionRow* row = nullptr;
    for (const OptionRow& r : Rows()) {
      if (r.name == name) row = &r;
    }
    if (row == nullptr) {
      error = "unknown option " + name;
      return false;
    }
    if (row->takesValue && !TakeValue(option, args, i)) {
      error = name + " needs a value";
      return false;
    } else if (!row->takesValue && option.inlineValue) {
      error = name + " takes no value";
      return false;
    }
    if (!row->apply(o, option.value, error)) return false;
  }
  if (o.readStdin && !o.text.empty()) {
    error = "give the text or -, not both";
    return false;
  }
  const bool tone = !o.wavPath.empty() || !o.soundDevice.empty();
  if (!o.wavPath.empty() && !o.soundDevice.empty()) {
    error = "give only one of --wav and --device";
    return false;
  }
  if (!o.winkeyer.empty()) {
    if (o.line != SendLine::kNone || !o.wavPath.empty() || !o.soundDevice.empty() ||
        !o.rigctldHost.empty() || !o.pttRigctldHost.empty() || o.rtsPtt) {
      error =
          "--winkeyer keys through the WinKeyer and its own PTT: give it without --serial, "
          "--parallel, --device, --wav, --rigctld, --ptt-rigctld or --rts-ptt";
      return false;
    }
    if (o.mode == SendMode::kTune) {
      error = "--tune holds a key line; give it without --winkeyer";
      return false;
    }
  }
  const bool rigKeys = !o.rigctldHost.empty();
  const bool rigPtt = !o.pttRigctldHost.empty();
  if (rigKeys && (o.line != SendLine::kNone || !o.wavPath.empty() || !o.soundDevice.empty())) {
    error =
        "--rigctld keys through the rig's keyer: give it without --serial, --parallel, "
        "--device or --wav";
    return false;
  }
  if (rigKeys && o.mode == SendMode::kTune) {
    error = "--tune holds a key line; the rig's keyer has no tune through rigctld";
    return false;
  }
  if (rigPtt && (rigKeys || o.rtsPtt)) {
    error =
        "--ptt-rigctld is the PTT for a line or the sound card: give it without --rigctld "
        "or --rts-ptt";
    return false;
  }
  if (rigPtt && !o.wavPath.empty()) {
    error = "--ptt-rigctld keys a transmitter; a WAV file needs none";
    return false;
  }
  if (o.rtsPtt && o.line != SendLine::kSerial) {
    error = "--rts-ptt uses RTS of the --serial device: give it with --serial";
    return false;
  }
  if (tone && o.line != SendLine::kNone) {
    error = "--wav and --device key a tone; give them without --serial or --parallel";
    return false;
  }
  if (o.cwdaemon) {
    if (o.mode == SendMode::kTune || !o.text.empty() || o.readStdin) {
      error = "--cwdaemon takes its text from the network: give no TEXT, - or --tune";
      return false;
    }
    if (o.mode == SendMode::kKeyText) o.mode = SendMode::kCwdaemon;
    return true;
  }
  if (tone && o.mode == SendMode::kTune) {
    error = "--tune keys the line only; give it without --wav or --device";
    return false;
  }
  // Tune only holds the key; text given with it would be dropped without a word.
  if (o.mode == SendMode::kTune && (!o.text.empty() || o.readStdin)) {
    error = "--tune holds the key down and sends no text; give it without TEXT or -";
    return false;
  }
  if (tone && o.mode == SendMode::kKeyText) o.mode = SendMode::kTone;
  if ((o.mode == SendMode::kKeyText || o.mode == SendMode::kTone) && o.text.empty()) {
    o.readStdin = true;
  }
  return true;
}

std::string SendUsage() {
  return "usage: kestrix-send [--serial DEV | --parallel DEV] [--wpm W] [--ratios "
         "DOT,DASH,CHAR,WORD]\n"
         "                    [--invert] [--tune SECONDS] [--verbose] [--list-ports] [TEXT... | "
         "-]\n"
         "       kestrix-send --wav FILE | --device N|NAME [--tone HZ] [--square] [--silent] "
         "[--wpm W] [TEXT... | -]\n"
         "       kestrix-send --rigctld HOST:PORT | --winkeyer DEV [--wpm W] [TEXT... | -]\n"
         "       kestrix-send --cwdaemon [--udp-port N] [--listen ADDR:PORT] [--serial DEV | "
         "--parallel DEV |\n"
         "                    --device N|NAME | --wav FILE | --rigctld HOST:PORT | --winkeyer "
         "DEV]\n"
         "                    [--tone HZ] "
         "[--square] [--silent] [--wpm W]\n"
         "  --serial DEV    key DTR and RTS of DEV (/dev/ttyUSB0, or COM n as numbered by "
         "--list-ports)\n"
         "  --parallel DEV  key data bits 0 and 1 of a ppdev port (/dev/parport0)\n"
         "  --wpm W         speed, 5..100 words per minute (default 25)\n"
         "  --ratios D,A,C,W  dot, dash, character and word space in percent, 50..200 (default 100 "
         "each)\n"
         "  --invert        key down clears the lines\n"
         "  --rts-ptt       with --serial: DTR keys, RTS is the PTT (raised around the keying)\n"
         "  --ptt-delay MS  PTT up this long before the first element, 0..50 (default 0)\n"
         "  --ptt-tail MS   sound card: PTT up this long after the last sample, 0..1000\n"
         "  --rigctld HOST:PORT  key through the rig's own keyer with Hamlib's rigctld\n"
         "                  (send_morse, speed with L KEYSPD); also with --cwdaemon\n"
         "  --winkeyer DEV  key through a K1EL WinKeyer (WK2/WK3) on DEV, with its PTT lead\n"
         "                  and tail (--ptt-delay, --ptt-tail) and side tone (--tone, --silent);\n"
         "                  also with --cwdaemon\n"
         "  --ptt-rigctld HOST:PORT  PTT through rigctld (T 1 / T 0) around the keying of a\n"
         "                  line or the sound card (--device)\n"
         "  --tune SECONDS  hold the key down, then release it\n"
         "  --verbose       timing, device and scheduling on standard error, and at the end\n"
         "                  the median and worst time a line change took\n"
         "  --list-ports    print the COM numbering and exit\n"
         "  --wav FILE      render the text as tone into a WAV file (16-bit mono 44100 Hz)\n"
         "  --device N|NAME play the text as tone on a sound card (see --list-devices)\n"
         "  --list-devices  print the sound cards that can play and exit\n"
         "  --tone HZ       tone frequency, 600, 750 (default) or 1000 as the menu offers, or any\n"
         "  --square        square wave instead of sine\n"
         "  --silent        side tone off: silence of the same length\n"
         "  --cwdaemon      serve network keying (UDP, default 127.0.0.1:6789) until Ctrl-C, on\n"
         "                  the line, the sound card (--device) or into a WAV file written at "
         "exit\n"
         "  --udp-port N    the UDP port for --cwdaemon\n"
         "  --listen ADDR:PORT  the address for --cwdaemon (other than loopback: a warning)\n"
         "Without TEXT, or with -, each line of standard input is sent as it arrives.\n"
         "Without --serial or --parallel the text is timed but nothing is keyed.\n"
         "Exit status: 0 sent, 1 device failure, 2 bad command line, 130 interrupted.\n";
}

}  // namespace kestrix::cli
