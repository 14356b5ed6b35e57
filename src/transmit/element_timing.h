// Transmit element durations: one Morse unit at the transmit speed and the dot, dash and
// space lengths the four timing ratios make of it, in milliseconds (port keyer) and in
// samples at 44 per millisecond (sound-card keyer).
//
// Threads: written on the GUI thread (speed bar, ratio controls, settings load), read by
// the keyer threads once per symbol. Every field is a 32-bit atomic, so a change during a
// send takes effect at the next symbol; no lock orders the fields against each other.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrix::transmit {

inline constexpr int kMinTransmitWpm = 5;
inline constexpr int kMaxTransmitWpm = 100;
inline constexpr int kStartTransmitWpm = 25;  // used before the settings file is read
inline constexpr int32_t kMaskSamplesPerMs = 44;

// The four ratios, each a percentage (the dialog sets whole numbers 50..200).
struct TimingRatios {
  float DotRatio = 100.0f;
  float DashRatio = 100.0f;
  float CharRatio = 100.0f;
  float WordRatio = 100.0f;
};

// One complete set of durations, as plain values.
struct ElementTimingValues {
  int32_t UnitMs = 0;
  int32_t DotMs = 0;
  int32_t DashMs = 0;
  int32_t ElementSpaceMs = 0;  // after every dot and dash; always UnitMs
  int32_t CharSpaceMs = 0;     // extra silence at the end of a character
  int32_t WordSpaceMs = 0;     // extra silence for a word space
  int32_t DotSamples = 0;
  int32_t DashSamples = 0;
  int32_t ElementSpaceSamples = 0;
  int32_t CharSpaceSamples = 0;
  int32_t WordSpaceSamples = 0;

  bool operator==(const ElementTimingValues&) const = default;
};

// The durations for `wpm` and `ratios`. The speed is used as given (the controls keep it
// in 5..100); see the .cpp for the exact arithmetic.
ElementTimingValues ComputeElementTimingValues(int32_t wpm, const TimingRatios& ratios);

// The shared record the keyers read.
struct ElementTiming {
  std::atomic<int32_t> UnitMs{0};
  std::atomic<int32_t> DotMs{0};
  std::atomic<int32_t> DashMs{0};
  std::atomic<int32_t> ElementSpaceMs{0};
  std::atomic<int32_t> CharSpaceMs{0};
  std::atomic<int32_t> WordSpaceMs{0};
  std::atomic<int32_t> DotSamples{0};
  std::atomic<int32_t> DashSamples{0};
  std::atomic<int32_t> ElementSpaceSamples{0};
  std::atomic<int32_t> CharSpaceSamples{0};
  std::atomic<int32_t> WordSpaceSamples{0};

  ElementTiming() { Store(ComputeElementTimingValues(kStartTransmitWpm, TimingRatios{})); }
  ElementTiming(const ElementTiming&) = delete;
  ElementTiming& operator=(const ElementTiming&) = delete;

  void Store(const ElementTimingValues& v);
  ElementTimingValues Load() const;
};

// Recomputes every field of `timing` from the speed and the ratios.
void ComputeElementTiming(ElementTiming& timing, int32_t wpm, const TimingRatios& ratios);

}  // namespace kestrix::transmit
