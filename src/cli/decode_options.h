// Command line of kestrix-decode. The options mirror the window's receive controls and
// start from the program's defaults.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "decoder/options.h"
#include "receive/capture_format.h"
#include "receive/tone.h"

namespace kestrix {

inline constexpr int kExitOk = 0;
inline constexpr int kExitInputError = 1;  // unreadable or unsupported recording, I/O failure
inline constexpr int kExitUsage = 2;       // bad option or value

enum class DecodeEngine { kClassic, kSoft };

struct DecodeOptions {
  DecodeEngine engine = DecodeEngine::kClassic;  // --engine classic|soft
  std::string input;                             // path or "-"
  std::optional<double> toneHz;                  // empty: auto
  std::optional<int> bar;                        // FrequencyBar position
  std::optional<AfcMode> afc;
  std::optional<ReceiveSpeed> speed;
  std::optional<ThresholdMode> threshold;
  std::optional<int> manualLevel;  // ThresholdBar2 position 0..250
  std::optional<bool> noiseFilter;
  std::optional<SpaceTime> spaceTime;
  std::optional<bool> spaces;
  std::optional<bool> prosigns;
  std::optional<bool> nonEnglish;
  std::optional<LetterCase> letterCase;
  std::optional<int> gain;      // SignalGainBar 0..20
  std::optional<int> dispGain;  // CoarseGainTrackBar 1..20
  std::optional<ChannelMode> channel;
  std::string tracePath;
  double flushSeconds = 2.0;
  bool help = false;
  bool best = false;  // --best: several chains and a look-ahead pass, the most plausible text
  // Live decoding through the receive loop (instead of `input`).
  std::string device;             // --device N|NAME: a sound card
  std::string inputFile;          // --input-file FILE: a recording played as a sound card
  bool unpaced = false;           // --unpaced: the recording as fast as it decodes
  bool listDevices = false;       // --list-devices
  std::optional<double> seconds;  // --seconds S: stop after S seconds
  // Serving partner programs from the live loop, with messaging on.
  bool partner = false;       // --partner
  std::string partnerSocket;  // --partner-socket PATH (implies --partner); empty: default

  bool Live() const { return !device.empty() || !inputFile.empty(); }
};

// Parses argv[1..]. On failure returns false with one line in `error`.
bool ParseDecodeOptions(const std::vector<std::string>& args, DecodeOptions& out,
                        std::string& error);

const char* DecodeUsage();

}  // namespace kestrix
