// The band map's stations: one row per call heard identifying (spot-ready, as the skimmer
// spots it), with where it is, how strong and fast, whether it calls CQ and when it was last
// heard keying; sorted by frequency for the list, faded by quiet time for the labels.
//
// Frequencies are kept as audio Hz (where the trace is on the waterfall and where a click
// tunes the receiver); the RF frequency follows from the dial when one is known. Times are
// the wall clock in seconds since 1970 UTC, given by the caller, so tests choose them.
//
// Threads: one owner at a time (the worker builds it; the window gets copies of Rows()).
#pragma once

#include <cmath>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "skim/spot_feed.h"

namespace kestrix::bandmap {

struct StationRow {
  std::string call;
  double audioHz = 0.0;    // the trace's audio frequency
  double snrDb = 0.0;      // key-down carrier over the noise in 500 Hz
  double wpm = 0.0;        // 0 when not yet known
  bool cq = false;         // calling CQ (or a contest's TEST) rather than answering one
  double lastHeard = 0.0;  // UTC seconds the station was last heard keying
  uint64_t signal = 0;     // the engine's signal it was last read on
};

// How labels fade: full for `holdS` after a station was last heard, then linearly to
// nothing over `fadeS`; rows stay in the list for `keepS`.
struct FadeRule {
  double holdS = 15.0;
  double fadeS = 105.0;
  double keepS = 600.0;
};

// Opacity of a label heard `quietS` seconds ago: 1 while held, falling to 0.
double LabelOpacity(double quietS, const FadeRule& rule = {});

// The frequency as the list shows it: kHz with two decimals when the dial is known (RF =
// dial + audio, or dial - audio on lower sideband), else audio Hz ("1191 Hz").
std::string FrequencyText(double audioHz, double dialHz, bool lowerSideband);
// The RF frequency in Hz, NaN without a dial.
double RfHz(double audioHz, double dialHz, bool lowerSideband);
using skim::UtcClockText;  // "HH:MM:SS" UTC

class StationList {
 public:
  explicit StationList(const FadeRule& rule = {}) : rule_(rule) {}

  // A spot-ready read of `call` on `signal` at `audioHz`.
  void Heard(const StationRow& row);
  // `signal`, on which `call` was last read, was keyed at `lastHeard` (only moves forward),
  // is now at `audioHz` and keys at `wpm` (0: unknown, kept). Another signal that last read
  // the same call (a caller heard on its runner's trace, a key click beside a strong
  // station) changes nothing: the row follows the trace its latest read came from.
  void StillHeard(const std::string& call, uint64_t signal, double audioHz, double wpm,
                  double lastHeard);
  // Drops rows quiet for longer than the rule's keepS at `now`.
  void Expire(double now);
  void Clear() { rows_.clear(); }

  // Every row, sorted by frequency (then call).
  std::vector<StationRow> Rows() const;
  size_t Size() const { return rows_.size(); }
  const StationRow* Find(const std::string& call) const;
  const FadeRule& Rule() const { return rule_; }

 private:
  FadeRule rule_;
  std::unordered_map<std::string, StationRow> rows_;
};

}  // namespace kestrix::bandmap
