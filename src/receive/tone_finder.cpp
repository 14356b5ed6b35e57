#include "receive/tone_finder.h"

#include <cmath>

#include "receive/capture_format.h"
#include "receive/tone.h"

namespace kestrix {

int ToneClickPosition(double hz) {
  return static_cast<int>(std::lround(hz / kBinHz)) + 1;
}

ToneFinder::ToneFinder(int blocks) : half_(kBlockFrames), expected_(static_cast<float>(blocks)) {}

void ToneFinder::Add(const int32_t* samples) {
  for (int i = 0; i < kSpectrumSize; ++i) {
    half_[static_cast<size_t>(i)] = (samples[2 * i] + samples[2 * i + 1]) / 2;
  }
  analyzer_.WindowedPowerSpectrum(half_.data(), one_);
  ++blocks_;
  for (int j = 1; j <= kSpectrumBins; ++j) sum_[j] += one_[j] / expected_;
}

int ToneFinder::ClickPosition() const {
  if (blocks_ == 0) return 0;
  int64_t sum3 = 0;
  const double hz = CalcPeakFrequency(sum_, sum3, kSpectrumSize, 22050, 423);
  if (hz > 0.0 && sum3 > 100) return ToneClickPosition(hz);
  return 0;
}

}  // namespace kestrix
