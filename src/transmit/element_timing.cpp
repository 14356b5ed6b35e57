#include "transmit/element_timing.h"

#include <cmath>

namespace kestrix::transmit {

namespace {

// base × ratio × 0.01, truncated toward zero. For every whole-number ratio 50..200 and
// every speed this is exactly ⌊base × ratio / 100⌋; a fractional ratio from a settings
// file is used as it is. Non-finite or huge values saturate instead of overflowing.
int32_t Scaled(int32_t base, float ratio) {
  const double v = static_cast<double>(base) * static_cast<double>(ratio) * 0.01;
  if (!std::isfinite(v)) return 0;
  if (v >= 2147483647.0) return 2147483647;
  if (v <= -2147483648.0) return -2147483647 - 1;
  return static_cast<int32_t>(std::trunc(v));
}

int32_t Samples(int32_t ms) {
  const int64_t s = static_cast<int64_t>(ms) * kMaskSamplesPerMs;
  if (s > 2147483647) return 2147483647;
  if (s < -2147483647) return -2147483647;
  return static_cast<int32_t>(s);
}

}  // namespace

ElementTimingValues ComputeElementTimingValues(int32_t wpm, const TimingRatios& ratios) {
  ElementTimingValues t;
  // Units per second at `wpm`, held as a 32-bit float; for 5..100 wpm the truncated unit
  // length equals ⌊12000 / (11 × wpm)⌋ ms.
  const float unitsPerSecond = static_cast<float>(wpm * 5 * 11) / 60.0f;
  const float unitMs = 1000.0f / unitsPerSecond;
  t.UnitMs = std::isfinite(unitMs) ? static_cast<int32_t>(std::trunc(unitMs)) : 0;
  t.ElementSpaceMs = t.UnitMs;
  t.DotMs = Scaled(t.UnitMs, ratios.DotRatio);
  t.DashMs = Scaled(3 * t.UnitMs, ratios.DashRatio);
  t.CharSpaceMs = Scaled(2 * t.UnitMs, ratios.CharRatio);
  t.WordSpaceMs = Scaled(6 * t.UnitMs, ratios.WordRatio);
  t.DotSamples = Samples(t.DotMs);
  t.DashSamples = Samples(t.DashMs);
  t.ElementSpaceSamples = Samples(t.ElementSpaceMs);
  t.CharSpaceSamples = Samples(t.CharSpaceMs);
  t.WordSpaceSamples = Samples(t.WordSpaceMs);
  return t;
}

void ElementTiming::Store(const ElementTimingValues& v) {
  constexpr auto r = std::memory_order_relaxed;
  UnitMs.store(v.UnitMs, r);
  DotMs.store(v.DotMs, r);
  DashMs.store(v.DashMs, r);
  ElementSpaceMs.store(v.ElementSpaceMs, r);
  CharSpaceMs.store(v.CharSpaceMs, r);
  WordSpaceMs.store(v.WordSpaceMs, r);
  DotSamples.store(v.DotSamples, r);
  DashSamples.store(v.DashSamples, r);
  ElementSpaceSamples.store(v.ElementSpaceSamples, r);
  CharSpaceSamples.store(v.CharSpaceSamples, r);
  WordSpaceSamples.store(v.WordSpaceSamples, r);
}

ElementTimingValues ElementTiming::Load() const {
  constexpr auto r = std::memory_order_relaxed;
  ElementTimingValues v;
  v.UnitMs = UnitMs.load(r);
  v.DotMs = DotMs.load(r);
  v.DashMs = DashMs.load(r);
  v.ElementSpaceMs = ElementSpaceMs.load(r);
  v.CharSpaceMs = CharSpaceMs.load(r);
  v.WordSpaceMs = WordSpaceMs.load(r);
  v.DotSamples = DotSamples.load(r);
  v.DashSamples = DashSamples.load(r);
  v.ElementSpaceSamples = ElementSpaceSamples.load(r);
  v.CharSpaceSamples = CharSpaceSamples.load(r);
  v.WordSpaceSamples = WordSpaceSamples.load(r);
  return v;
}

void ComputeElementTiming(ElementTiming& timing, int32_t wpm, const TimingRatios& ratios) {
  timing.Store(ComputeElementTimingValues(wpm, ratios));
}

}  // namespace kestrix::transmit
