// Network keying's element timing: words per minute as cwdaemon, libcw and every logger
// count them (PARIS, 50 units a word: a unit of 1200 / W ms), and cwdaemon's weighting.
// The window's own speeds (element_timing.h: a unit of ⌊12000 / (11 W)⌋ ms, its
// documented timing) are not touched; only network keying uses this.
//
//   unit        1 200 000 / W µs
//   weighting   w in -50..50 is cwdaemon's, libcw's 50 + 0.6 w (20..80 %): the share of a
//               dot and its space that is mark. Every mark gets d = 0.012 w units more and
//               the element space after it d less, so each element and its space keep
//               their length (dot 2 units, dash 4) and the speed is kept exactly.
//   dot         unit × DotRatio % + d      dash  3 units × DashRatio % + d
//   spaces      element space unit − d; a character ends 2 units × CharRatio % later
//               (3 units after its last mark at the standard ratios), and a space keys
//               4 units × WordRatio % more (7 units between words).
//
// Pure functions of their arguments: any thread.
#pragma once

#include <cstdint>

#include "transmit/element_timing.h"

namespace kestrix::transmit {

struct CwdaemonTiming {
  int64_t unitUs = 0;
  int64_t dotUs = 0;
  int64_t dashUs = 0;
  int64_t elementSpaceUs = 0;  // after every dot and dash
  int64_t charSpaceUs = 0;     // more silence at the end of a character ('*')
  int64_t wordSpaceUs = 0;     // the silence a space keys ('^')
  bool operator==(const CwdaemonTiming&) const = default;
};

// `wpm` is used as given (callers keep it in 5..100); `weighting` is cut to -50..50.
CwdaemonTiming ComputeCwdaemonTiming(int wpm, int weighting, const TimingRatios& ratios = {});

// The same durations for the sound-card keyer: milliseconds rounded, and samples at
// 44.1 a millisecond (the card's 44100 Hz) rounded from the microseconds.
ElementTimingValues CwdaemonToneValues(const CwdaemonTiming& t);

}  // namespace kestrix::transmit
