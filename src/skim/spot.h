// Spots: the line a DX cluster writes for a station heard on the air, and the rule that
// decides when a station is spotted (again).
//
// The line, byte for byte (C printf, never the user's locale: a decimal comma breaks every
// logger that reads it):
//
//   "DX de " spotter+frequency "  %-13s  %-4s%4d dB%4d WPM  %-8s%02d%02dZ"
//
//   spotter   our call with "-#:" appended ("W9XG" -> "W9XG-#:"), left-aligned
//   frequency kHz with one decimal ("14057.6"), its last digit in column 24
//   call      the station heard, from column 27, padded to 13
//   mode      "CW", padded to 4
//   SNR       key-down signal over the noise in 500 Hz, dB, in 4
//   speed     WPM, in 4
//   type      "CQ", "DX" or "BEACON", padded to 8
//   time      UTC HHMM and 'Z' (columns 71-74 when the call fits in 13)
//
//   DX de W9XG-#:    14057.6  K7GT           CW     7 dB  21 WPM  CQ      2259Z
//
// Loggers read it by fixed columns (frequency up to column 24, call from column 27) or by
// splitting on spaces and ':'. So the spotter and the frequency share columns 7..24: the
// spotter's call is cut (as cluster nodes cut it) to leave at least one space before the
// frequency: "KX1TST/P" is written "KX1TST-#:", and above 1 GHz, where the frequency takes
// 9 characters or more, shorter still. The "-#:" mark always stays.
// No line end: the telnet server adds CR LF, standard output adds LF.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>

namespace kestrix::skim {

enum class SpotKind {
  Cq,      // the station calls CQ (or runs a contest: "TEST", "TU <call>")
  Dx,      // heard identifying in a contact ("W1AW DE K1ABC"), or answering a CQ
  Beacon,  // "VVV DE <call>", or a call with /B
};

// "CQ", "DX" or "BEACON".
const char* SpotKindName(SpotKind kind);

struct Spot {
  std::string spotter;  // the skimmer's call, without "-#:"
  double freqKhz = 0;   // RF frequency of the station, kHz (rounded to 0.1 kHz when written)
  std::string call;     // the station heard
  int snrDb = 0;        // clamped to -99..999 when written
  int wpm = 0;          // clamped to 0..999 when written
  SpotKind kind = SpotKind::Cq;
  int64_t utcSeconds = 0;  // seconds since 1970-01-01 UTC; only HH and MM are written
};

// Column (1-based) of the frequency's last digit; the call starts 3 columns later.
inline constexpr size_t kSpotFreqEndColumn = 24;
inline constexpr size_t kSpotCallColumn = 27;
// The widest spotter field ("KX1TST-#:").
inline constexpr size_t kSpotterWidth = 9;

// "DX de " is followed by this: `call` cut to fit, "-#:", and the spaces that put the end
// of a frequency `freqChars` long in column kSpotFreqEndColumn.
std::string SpotterField(std::string_view call, size_t freqChars);

// The cluster line for `spot`, without a line end. Locale-independent.
std::string FormatSpotLine(const Spot& spot);

struct SpotPolicyConfig {
  double respotAfterS = 600.0;  // a station heard again is spotted again after this long
  double moveHz = 100.0;        // ... or at once when it moved more than this
  bool cqOnly = false;          // --cq-only: only CQ and BEACON spots go out
  double bustNearHz = 300.0;    // a call one letter from one spotted this close is a bust
};

// Decides which heard calls become spots. The call extractor reports a call every time it
// is read once it is spot-ready; Offer() says yes to the first report of a call, then to a
// report at least `respotAfterS` after the last spot of that call, or one more than
// `moveHz` away from where it was last spotted. A DX spot of a call already spotted as CQ
// within the re-spot time is not repeated merely because its type changed. A "move" back to
// the frequency of the spot before (one call heard on two neighbouring channels, each
// taking turns) is not a move.
//
// Busts across signals: a strong station is sometimes decoded a second time on a detection
// beside it (a key click, a second trace), where a misread letter can come up twice. A new
// call one edit (OneEditApart) from a call spotted within `bustNearHz` in the re-spot time
// is held back unless it was read more often than that call (`reads`, from CallReport; 0
// when unknown, which holds it back).
//
// Time is the caller's clock in seconds (stream time for a recording, wall time live); it
// only needs to be monotonic per call. One thread.
class SpotPolicy {
 public:
  explicit SpotPolicy(const SpotPolicyConfig& config = {}) : config_(config) {}

  // True when a spot of `call` at `freqHz` of type `kind` heard at `timeS` should go out
  // now; the policy then remembers it as spotted.
  bool Offer(std::string_view call, double freqHz, SpotKind kind, double timeS, int reads = 0);

  // Forgets calls last spotted before `timeS - respotAfterS` (memory stays bounded on a
  // long run; forgetting them changes no decision).
  void Prune(double timeS);

  void Reset() { spotted_.clear(); }
  size_t Remembered() const { return spotted_.size(); }
  const SpotPolicyConfig& Config() const { return config_; }

 private:
  struct Last {
    double freqHz = 0;
    double timeS = 0;
    double previousFreqHz = 0;  // the spot before, for telling a move from flip-flopping
    bool hasPrevious = false;
    int reads = 0;  // the most reads any offer of this call reported
  };
  SpotPolicyConfig config_;
  std::unordered_map<std::string, Last> spotted_;
};

}  // namespace kestrix::skim
