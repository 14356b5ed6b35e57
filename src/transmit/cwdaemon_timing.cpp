#include "transmit/cwdaemon_timing.h"

#include <algorithm>
#include <cmath>

#include "transmit/cwdaemon_request.h"

namespace kestrix::transmit {

namespace {

// `us` × `ratio` %, rounded; a ratio that is not a finite positive number counts as 100.
int64_t Scaled(int64_t us, float ratio) {
  if (!std::isfinite(ratio) || ratio <= 0.0f || ratio > 1000.0f) return us;
  return std::llround(static_cast<double>(us) * static_cast<double>(ratio) / 100.0);
}

int32_t Ms(int64_t us) {
  return static_cast<int32_t>((us + 500) / 1000);
}

int32_t Samples(int64_t us) {
  return static_cast<int32_t>((us * 441 + 5000) / 10000);
}

}  // namespace

CwdaemonTiming ComputeCwdaemonTiming(int wpm, int weighting, const TimingRatios& ratios) {
  CwdaemonTiming t;
  if (wpm <= 0) return t;
  const int w = std::clamp(weighting, kMinWeighting, kMaxWeighting);
  t.unitUs = 1200000 / wpm;
  // 2 × (0.6 w) % of a unit, rounded to the microsecond.
  const int64_t d = (t.unitUs * 12 * w + (w >= 0 ? 500 : -500)) / 1000;
  t.dotUs = Scaled(t.unitUs, ratios.DotRatio) + d;
  t.dashUs = Scaled(3 * t.unitUs, ratios.DashRatio) + d;
  t.elementSpaceUs = t.unitUs - d;
  t.charSpaceUs = Scaled(2 * t.unitUs, ratios.CharRatio);
  t.wordSpaceUs = Scaled(4 * t.unitUs, ratios.WordRatio);
  return t;
}

ElementTimingValues CwdaemonToneValues(const CwdaemonTiming& t) {
  ElementTimingValues v;
  v.UnitMs = Ms(t.unitUs);
  v.DotMs = Ms(t.dotUs);
  v.DashMs = Ms(t.dashUs);
  v.ElementSpaceMs = Ms(t.elementSpaceUs);
  v.CharSpaceMs = Ms(t.charSpaceUs);
  v.WordSpaceMs = Ms(t.wordSpaceUs);
  v.DotSamples = Samples(t.dotUs);
  v.DashSamples = Samples(t.dashUs);
  v.ElementSpaceSamples = Samples(t.elementSpaceUs);
  v.CharSpaceSamples = Samples(t.charSpaceUs);
  v.WordSpaceSamples = Samples(t.wordSpaceUs);
  return v;
}

}  // namespace kestrix::transmit
