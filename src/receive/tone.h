// Tone frequency: the peak finder shown as "Peak Freq", the automatic frequency control
// that keeps the tuned bin on the strongest nearby peak, and the normalised tone frequency
// the bandpass is designed around. Receive-loop thread only.
#pragma once

#include <cstdint>

#include "receive/spectrum.h"

namespace kestrix {

inline constexpr int kFrequencyBarMin = 1;
inline constexpr int kFrequencyBarMax = 423;
inline constexpr int kFrequencyBarDefault = 256;
inline constexpr double kBinHz = 5.38330078125;  // 22050 Hz / 4096

// Frequency in Hz of the strongest bin among 1..limit-1, refined by the three-bin
// interpolation delta = 1.018602 (c - a) / (a + b + c). `sum3` receives trunc(a + b + c),
// held in 64 bits because a loud tone easily passes 2^31. Returns 0 below 25 Hz.
double CalcPeakFrequency(const PowerSpectrumArray& spectrum, int64_t& sum3, int n, int halfRate,
                         int limit);

enum class AfcMode : int32_t { kOff = 0, kNarrow = 1, kMedium = 2, kWide = 3 };

struct AfcInputs {
  int squelchRatio;  // the squelch copy the detector reads
  bool idle;         // the detector's IdleFlag
};

struct ToneTracker {
  int32_t ToneBin = kFrequencyBarDefault;
  int32_t AfcOn = 0;
  AfcMode Mode = AfcMode::kOff;
  int32_t AfcHalfWidth = 20;
  int32_t PeakBin = 0;
  float PeakAverage = 0.0f;
  float ToneNorm = 0.0f;
  float ToneNormSmoothed = 0.0f;
  int32_t MarkerHz = 0;
  int32_t AfcStartFrequency = 600;

  // Applies one of the Afc menu choices.
  void SetAfcMode(AfcMode mode);

  // One AFC step. `bar` is the FrequencyBar position on entry; returns the position the
  // bar must take (unchanged when the AFC holds). `resetPeak` is set when the move is
  // larger than 2 bins, in which case the detector's PeakLevel drops to its floor.
  int AfcStep(const PowerSpectrumArray& spectrum, int bar, const AfcInputs& in, bool& resetPeak);

  // ToneNorm and its smoothed value from the bar position after the AFC.
  void Normalise(int bar);
};

}  // namespace kestrix
