#include "cli/skim_options.h"

#include <cctype>
#include <charconv>
#include <cmath>

namespace kestrix::skim {

namespace {

// A number in C-locale syntax (a decimal point, never a comma).
bool ToDouble(const std::string& text, double& out) {
  const char* first = text.data();
  const char* last = text.data() + text.size();
  auto [ptr, ec] = std::from_chars(first, last, out);
  return ec == std::errc() && ptr == last && std::isfinite(out);
}

bool ToInt(const std::string& text, int& out) {
  auto [ptr, ec] = std::from_chars(text.data(), text.data() + text.size(), out);
  return ec == std::errc() && ptr == text.data() + text.size();
}

}  // namespace

std::string SkimReceiver::Describe() const {
  if (!iq.empty()) return "--iq " + iq;
  if (!soapy.empty()) return "--soapy " + soapy;
  if (!audio.empty()) return "--audio " + audio;
  return "--device " + device;
}

namespace {

// The checks one receiver must pass; false with `error`.
bool CheckReceiver(const SkimReceiver& r, bool several, std::string& error) {
  const std::string who = several ? r.Describe() + ": " : "";
  if (r.Audio()) {
    if (r.centreKhz) {
      error = who + "--center-khz is for I/Q; a receiver's audio takes --dial-khz";
      return false;
    }
    return true;
  }
  if (r.dialKhz || !r.rigctld.empty()) {
    error = who + "--dial-khz and --rigctld are for a receiver's audio (--audio, --device)";
    return false;
  }
  if (!r.soapy.empty() && !r.centreKhz) {
    error = who + "--soapy needs --center-khz (the frequency to tune to)";
    return false;
  }
  return true;
}

}  // namespace

bool ParseSkimOptions(const std::vector<std::string>& args, SkimOptions& o, std::string& error) {
  SkimReceiver defaults;  // tuning given before the first input
  auto tuned = [&]() -> SkimReceiver& {
    return o.receivers.empty() ? defaults : o.receivers.back();
  };
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& a = args[i];
    auto value = [&](std::string& v) {
      if (i + 1 >= args.size()) {
        error = a + " needs a value";
        return false;
      }
      v = args[++i];
      return true;
    };
    auto number = [&](double& v, double lo, double hi) -> bool {
      std::string text;
      if (!value(text)) return false;
      if (!ToDouble(text, v) || v < lo || v > hi) {
        error = a + ": '" + text + "' is not a number in range";
        return false;
      }
      return true;
    };
    auto input = [&](std::string SkimReceiver::*field) {
      SkimReceiver r = defaults;
      if (!value(r.*field)) return false;
      o.receivers.push_back(std::move(r));
      return true;
    };
    double d = 0.0;
    if (a == "-h" || a == "--help") {
      o.help = true;
    } else if (a == "--iq") {
      if (!input(&SkimReceiver::iq)) return false;
    } else if (a == "--soapy") {
      if (!input(&SkimReceiver::soapy)) return false;
    } else if (a == "--audio") {
      if (!input(&SkimReceiver::audio)) return false;
    } else if (a == "--device") {
      if (!input(&SkimReceiver::device)) return false;
    } else if (a == "--list-sdr") {
      o.listSdr = true;
    } else if (a == "--list-devices") {
      o.listDevices = true;
    } else if (a == "--center-khz" || a == "--centre-khz") {
      if (!number(d, 0.0, 1e8)) return false;
      tuned().centreKhz = d;
    } else if (a == "--rate") {
      if (!number(tuned().rate, 4000.0, 1e8)) return false;
    } else if (a == "--gain") {
      if (!number(d, -20.0, 100.0)) return false;
      tuned().gainDb = d;
    } else if (a == "--stream-args") {
      if (!value(tuned().streamArgs)) return false;
    } else if (a == "--dial-khz") {
      if (!number(d, 0.0, 1e8)) return false;
      tuned().dialKhz = d;
    } else if (a == "--sideband") {
      std::string s;
      if (!value(s)) return false;
      for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
      if (s != "usb" && s != "lsb") {
        error = "--sideband: '" + s + "' is neither usb nor lsb";
        return false;
      }
      tuned().lsb = s == "lsb";
    } else if (a == "--rigctld") {
      std::string& rig = tuned().rigctld;
      if (!value(rig)) return false;
      if (rig.find(':') == std::string::npos) rig += ":4532";
    } else if (a == "--call") {
      if (!value(o.call)) return false;
      for (char& c : o.call) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
      if (o.call.empty() || o.call.size() > 12 ||
          o.call.find_first_not_of("ABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789/-") != std::string::npos) {
        error = "--call: '" + o.call + "' is not a call sign";
        return false;
      }
      o.callGiven = true;
    } else if (a == "--cq-only") {
      o.cqOnly = true;
    } else if (a == "--scp") {
      if (!value(o.scp)) return false;
    } else if (a == "--cty") {
      if (!value(o.cty)) return false;
    } else if (a == "--telnet") {
      int port = 7300;
      if (i + 1 < args.size() && !args[i + 1].empty() && args[i + 1][0] != '-') {
        if (!ToInt(args[i + 1], port) || port < 1 || port > 65535) {
          error = "--telnet: '" + args[i + 1] + "' is not a port (1..65535)";
          return false;
        }
        ++i;
      }
      o.telnetPort = port;
    } else if (a == "--listen") {
      if (!value(o.listen)) return false;
    } else if (a == "--telnet-wait") {
      if (!number(o.telnetWaitS, 0.0, 86400.0)) return false;
    } else if (a == "--decodes") {
      if (!value(o.decodes)) return false;
    } else if (a == "--seconds") {
      if (!number(d, 0.0, 1e9)) return false;
      o.seconds = d;
    } else if (a == "--quiet" || a == "-q") {
      o.quiet = true;
    } else {
      error = "unknown option '" + a + "' (see --help)";
      return false;
    }
  }
  if (o.help || o.listSdr || o.listDevices) return true;
  if (o.receivers.empty()) {
    error = "no input: give --iq FILE, --soapy ARGS, --audio FILE or --device N (see --help)";
    return false;
  }
  auto kind = [](const SkimReceiver& r) {
    return !r.iq.empty() ? 0 : !r.soapy.empty() ? 1 : !r.audio.empty() ? 2 : 3;
  };
  int stdinInputs = 0;
  for (const SkimReceiver& r : o.receivers) {
    if (kind(r) != kind(o.receivers.front())) {
      error = "give only one of --iq, --soapy, --audio and --device (each as often as needed)";
      return false;
    }
    stdinInputs += r.iq == "-";
    if (!CheckReceiver(r, o.receivers.size() > 1, error)) return false;
  }
  if (stdinInputs > 1) {
    error = "--iq - (standard input) can be given only once";
    return false;
  }
  if (o.telnetWaitS > 0.0 && !o.telnetPort) {
    error = "--telnet-wait needs --telnet";
    return false;
  }
  return true;
}

const char* SkimUsage() {
  return R"(Usage: kestrix-skim INPUT [options]
Decodes every CW signal in a band segment and writes DX-cluster spots.

Input (one kind; give it more than once for several receivers, one spot feed):
  --iq FILE|-          I/Q recording: 2-channel WAV (I left, Q right), SigMF
                       (.sigmf-meta with its .sigmf-data), raw float32 I/Q (.cf32, .raw)
                       or raw float32 I/Q on standard input ("-", needs --rate)
  --soapy ARGS         a live SDR through SoapySDR, e.g. "driver=rtlsdr"
  --audio FILE         a receiver's audio recording (mono)
  --device N|NAME      a sound card carrying a receiver's audio
  --list-sdr           list the SDRs SoapySDR finds
  --list-devices       list the sound cards

Tuning (applies to the input given last before it; before any input, to all):
  --center-khz KHZ     RF frequency at the centre of the I/Q band (SigMF files give it)
  --rate HZ            sample rate: raw I/Q, the SDR (default 192000), the sound card
  --gain DB            SDR gain (default: the SDR's automatic gain)
  --stream-args ARGS   SDR stream settings, e.g. "chan=stereo_iq" (SoapySDR audio module)
  --dial-khz KHZ       the receiver's dial frequency (audio input)
  --sideband usb|lsb   RF = dial + audio frequency (usb, default) or dial - audio (lsb)
  --rigctld HOST:PORT  follow the dial through Hamlib's rigctld (audio input)

Spots:
  --call CALL          your call, as the spotter (default N0CALL)
  --cq-only            spot only stations calling CQ (and beacons)
  --scp FILE           MASTER.SCP: calls known to be active (one a line)
  --cty FILE           cty.dat country file
  --telnet [PORT]      serve spots to loggers over telnet (port 7300 by default)
  --listen ADDR        address the telnet server listens on (default 127.0.0.1)
  --telnet-wait S      with a recording: wait up to S seconds for the first login
  --decodes FILE       log everything decoded, per signal (time, kHz, WPM, dB, text)

Other:
  --seconds S          stop after S seconds of input
  --quiet              no progress line on standard error
  -h, --help           this text

Spots go to standard output, one DX-cluster line each. Exit status: 0 done,
1 unreadable or truncated input or a device failure, 2 bad options.
)";
}

}  // namespace kestrix::skim
