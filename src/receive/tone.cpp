#include "receive/tone.h"

#include <algorithm>
#include <cmath>

namespace kestrix {

double CalcPeakFrequency(const PowerSpectrumArray& spectrum, int64_t& sum3, int n, int halfRate,
                         int limit) {
  int peak = 1;
  float maximum = 0.0f;
  for (int bin = 1; bin < limit; ++bin) {
    if (spectrum[bin] - maximum > 0.0f) {
      maximum = spectrum[bin];
      peak = bin;
    }
  }
  const float a = peak > 1 ? spectrum[peak - 1] : 0.0f;
  const float b = spectrum[peak];
  const float c = spectrum[peak + 1];
  const float total = a + b + c;
  // Clamp before converting: a float beyond the 64-bit range would be undefined.
  sum3 = static_cast<int64_t>(std::min(static_cast<double>(total), 9.0e18));
  const double delta = total != 0.0f ? 1.018602 * (c - a) / total : 0.0;
  const double f = (peak - 1 + delta) * halfRate / n;
  return f >= 25.0 ? f : 0.0;
}

void ToneTracker::SetAfcMode(AfcMode mode) {
  Mode = mode;
  switch (mode) {
    case AfcMode::kOff:
      AfcOn = 0;
      AfcHalfWidth = 10;
      break;
    case AfcMode::kNarrow:
      AfcOn = 1;
      AfcHalfWidth = 20;
      break;
    case AfcMode::kMedium:
      AfcOn = 1;
      AfcHalfWidth = 80;
      break;
    case AfcMode::kWide:
      AfcOn = 1;
      AfcHalfWidth = 400;
      break;
  }
}

int ToneTracker::AfcStep(const PowerSpectrumArray& spectrum, int bar, const AfcInputs& in,
                         bool& resetPeak) {
  resetPeak = false;
  const int c = bar;
  const int w = AfcHalfWidth;
  if (AfcOn == 0) {
    ToneBin = c;
    return bar;
  }
  const int first = std::max(c - w, 1);
  const int last = std::min(c + w - 1, kSpectrumBins);
  float maximum = 0.0f;
  for (int bin = first; bin <= last; ++bin) {
    if (spectrum[bin] > maximum) {
      maximum = spectrum[bin];
      PeakBin = bin;
    }
  }
  ToneBin = PeakBin;
  int newBar = bar;
  if (c - w < ToneBin && ToneBin < c + w) {
    float t = in.squelchRatio >= 35 ? 1.25f : 3.2f;
    if (in.idle) t = 7.0f;
    const float power = spectrum[ToneBin];
    if (power > t * PeakAverage) {
      if (ToneBin - c > 2 || c - ToneBin > 2) resetPeak = true;
      newBar = ToneBin;
    }
    PeakAverage = (2.0f * PeakAverage + power) / 3.0f;
  }
  return newBar;
}

void ToneTracker::Normalise(int bar) {
  ToneNorm = (static_cast<float>(bar) - 2.75f) / 2024.0f;
  ToneNormSmoothed = (4.0f * ToneNorm + ToneNormSmoothed) / 5.0f;
}

}  // namespace kestrix
