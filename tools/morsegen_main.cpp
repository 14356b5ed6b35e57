// kestrix-morsegen: writes a Morse test signal to a WAV file.

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "signalgen/morse_gen.h"

namespace {

using kestrix::signalgen::MorseSignalParams;

constexpr int kExitOk = 0;
constexpr int kExitIo = 1;
constexpr int kExitUsage = 2;

const char kUsage[] =
    "Usage: kestrix-morsegen [options] TEXT OUT.wav\n"
    "\n"
    "Writes TEXT as a keyed tone to a mono 16-bit WAV file. Characters between angle\n"
    "brackets are sent without letter gaps, e.g. <AR> or <SK>. A '|' starts a new over:\n"
    "the overs alternate between the station the options describe and a second one\n"
    "(--other-*), as a QSO recorded at one end sounds.\n"
    "\n"
    "Options (defaults in brackets):\n"
    "  --wpm N              speed in words per minute, PARIS timing [20]\n"
    "  --tone HZ            tone frequency [700]\n"
    "  --amplitude A        peak tone amplitude, full scale 1.0 [0.5]\n"
    "  --rise-ms MS         raised-cosine edge time, 0 to 100 % [5]\n"
    "  --snr DB             tone over noise power in 2500 Hz; 200 or more = no noise [200]\n"
    "  --jitter F           timing spread as a fraction of each element and gap [0]\n"
    "  --dash-ratio R       dash length in dots [3]\n"
    "  --farnsworth N       Farnsworth spacing: letters at --wpm, gaps stretched for an\n"
    "                       overall speed of N wpm [0 = none]\n"
    "  --fade-db DB         slow fading, peak-to-trough depth (of the first station's\n"
    "                       overs only, with overs) [0 = none]\n"
    "  --fade-period S      period of the fading [4]\n"
    "  --drift HZ           the tone slides by HZ per minute [0]\n"
    "  --filter-hz HZ       pass everything through a CW filter HZ wide around the tone\n"
    "                       [0 = none, white noise]\n"
    "  --interferer-hz HZ   a second keyed signal at this frequency [0 = none]\n"
    "  --interferer-db DB   its amplitude relative to the wanted signal [-6]\n"
    "  --interferer-wpm N   its speed [25]\n"
    "  --interferer-text T  its text [TEST DE XX1XX]\n"
    "  --other-db DB        the second station's level relative to the first [0]\n"
    "  --other-wpm N        its speed [0 = the first station's]\n"
    "  --other-offset HZ    its pitch relative to --tone [0]\n"
    "  --other-silent       no noise during its overs (a sidetone, receiver muted)\n"
    "  --over-gap S         pause between overs; 0 = a word gap [1]\n"
    "  --lead-in S          silence (or noise) before the first element [1]\n"
    "  --tail S             silence (or noise) after the last element [1]\n"
    "  --rate HZ            sample rate [44100]\n"
    "  --seed N             random seed for noise and jitter [1]\n"
    "  --help               show this help\n"
    "\n"
    "At low SNR the noise can exceed full scale; lower --amplitude to avoid clipping.\n"
    "Exit status: 0 written, 1 cannot write, 2 bad usage.\n";

struct UsageError {
  std::string message;
};

double ParseNumber(const std::string& option, const std::string& text, double lo, double hi) {
  double v = 0.0;
  if (!kestrix::cli::ParseDouble(text, v)) {
    throw UsageError{"invalid number for " + option + ": '" + text + "'"};
  }
  if (v < lo || v > hi) {
    char range[96];
    std::snprintf(range, sizeof range, "%g to %g", lo, hi);
    throw UsageError{option + " must be " + range + ", got " + text};
  }
  return v;
}

uint32_t ParseSeed(const std::string& text) {
  errno = 0;
  char* end = nullptr;
  const unsigned long long v = std::strtoull(text.c_str(), &end, 10);
  if (text.empty() || text[0] == '-' || end != text.c_str() + text.size() || errno == ERANGE ||
      v > 0xffffffffULL) {
    throw UsageError{"invalid value for --seed: '" + text + "' (0 to 4294967295)"};
  }
  return static_cast<uint32_t>(v);
}

struct Command {
  MorseSignalParams params;
  std::string text;
  std::string out;
  bool help = false;
};

Command ParseArgs(int argc, char** argv) {
  Command cmd;
  MorseSignalParams& p = cmd.params;
  std::vector<std::string> positional;
  bool optionsEnded = false;

  const std::vector<std::string> args(argv + 1, argv + argc);
  for (size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    if (arg == "--") {
      optionsEnded = true;
      continue;
    }
    if (arg == "--help" || arg == "-h") {
      cmd.help = true;
      return cmd;
    }

    kestrix::cli::OptionArg option = kestrix::cli::SplitOption(arg);
    const std::string& name = option.name;
    const std::string& value = option.value;
    auto next = [&]() -> const std::string& {
      if (!kestrix::cli::TakeValue(option, args, i)) {
        throw UsageError{"option " + name + " needs a value"};
      }
      option.inlineValue = true;  // taken once
      return value;
    };

    if (name == "--wpm") {
      p.wpm = ParseNumber(name, next(), 1, 100);
    } else if (name == "--tone") {
      p.toneHz = ParseNumber(name, next(), 1, 100000);
    } else if (name == "--amplitude") {
      p.amplitude = ParseNumber(name, next(), 0, 1);
    } else if (name == "--rise-ms") {
      p.riseMs = ParseNumber(name, next(), 0, 100);
    } else if (name == "--snr") {
      p.snrDb = ParseNumber(name, next(), -60, 1000);
    } else if (name == "--jitter") {
      p.jitter = ParseNumber(name, next(), 0, 1);
    } else if (name == "--dash-ratio") {
      p.dashRatio = ParseNumber(name, next(), 1, 10);
    } else if (name == "--farnsworth") {
      p.farnsworthWpm = ParseNumber(name, next(), 0, 100);
    } else if (name == "--other-db") {
      p.other.levelDb = ParseNumber(name, next(), -120, 60);
    } else if (name == "--other-wpm") {
      p.other.wpm = ParseNumber(name, next(), 0, 100);
    } else if (name == "--other-offset") {
      p.other.toneOffsetHz = ParseNumber(name, next(), -10000, 10000);
    } else if (name == "--other-silent") {
      p.other.noiseFree = true;
    } else if (name == "--over-gap") {
      p.other.gapS = ParseNumber(name, next(), 0, 3600);
    } else if (name == "--fade-db") {
      p.fadeDepthDb = ParseNumber(name, next(), 0, 80);
    } else if (name == "--fade-period") {
      p.fadePeriodS = ParseNumber(name, next(), 0.01, 3600);
    } else if (name == "--drift") {
      p.driftHzPerMin = ParseNumber(name, next(), -10000, 10000);
    } else if (name == "--filter-hz") {
      p.filterHz = ParseNumber(name, next(), 0, 20000);
    } else if (name == "--interferer-hz") {
      p.interfererHz = ParseNumber(name, next(), 0, 100000);
    } else if (name == "--interferer-db") {
      p.interfererDb = ParseNumber(name, next(), -120, 40);
    } else if (name == "--interferer-wpm") {
      p.interfererWpm = ParseNumber(name, next(), 1, 100);
    } else if (name == "--interferer-text") {
      p.interfererText = next();
    } else if (name == "--lead-in") {
      p.leadInS = ParseNumber(name, next(), 0, 3600);
    } else if (name == "--tail") {
      p.tailS = ParseNumber(name, next(), 0, 3600);
    } else if (name == "--rate") {
      p.sampleRate = static_cast<int>(ParseNumber(name, next(), 1000, 768000));
      if (p.sampleRate != std::stod(value)) {
        throw UsageError{"--rate must be a whole number of Hz, got " + value};
      }
    } else if (name == "--seed") {
      p.seed = ParseSeed(next());
    } else {
      throw UsageError{"unknown option " + name};
    }
  }

  if (positional.size() != 2) {
    throw UsageError{positional.size() < 2 ? "expected TEXT and OUT.wav"
                                           : "too many arguments; quote TEXT if it has spaces"};
  }
  cmd.text = positional[0];
  cmd.out = positional[1];

  const double nyquist = p.sampleRate / 2.0;
  if (p.toneHz >= nyquist) throw UsageError{"--tone must be below half the sample rate"};
  if (p.toneHz + p.other.toneOffsetHz >= nyquist || p.toneHz + p.other.toneOffsetHz <= 0) {
    throw UsageError{"--tone plus --other-offset must be between 0 and half the sample rate"};
  }
  if (p.interfererHz >= nyquist) {
    throw UsageError{"--interferer-hz must be below half the sample rate"};
  }
  for (char c : cmd.text) {
    if (c != '<' && c != '>' && c != ' ' && c != '|' &&
        kestrix::signalgen::MorsePattern(c).empty()) {
      throw UsageError{std::string("no Morse code for character '") + c + "' in TEXT"};
    }
  }
  return cmd;
}

}  // namespace

int main(int argc, char** argv) {
  Command cmd;
  try {
    cmd = ParseArgs(argc, argv);
  } catch (const UsageError& e) {
    std::fprintf(stderr, "kestrix-morsegen: %s (try --help)\n", e.message.c_str());
    return kExitUsage;
  }
  if (cmd.help) {
    std::fputs(kUsage, stdout);
    return kExitOk;
  }

  const std::vector<int16_t> samples = kestrix::signalgen::GenerateMorse(cmd.text, cmd.params);
  if (!kestrix::signalgen::WriteWav16(cmd.out, samples, cmd.params.sampleRate)) {
    std::fprintf(stderr, "kestrix-morsegen: cannot write '%s'\n", cmd.out.c_str());
    return kExitIo;
  }

  size_t clipped = 0;
  for (int16_t s : samples) clipped += (s == 32767 || s == -32768) ? 1 : 0;
  std::printf("wrote %s: %.2f s at %d Hz\n", cmd.out.c_str(),
              static_cast<double>(samples.size()) / cmd.params.sampleRate, cmd.params.sampleRate);
  if (clipped > 0) {
    std::fprintf(stderr, "kestrix-morsegen: warning: %zu samples clipped; lower --amplitude\n",
                 clipped);
  }
  return kExitOk;
}
