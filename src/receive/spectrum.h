// Spectrum analysis and the receive bandpass.
//
// SpectrumAnalyzer turns 4096 half-rate samples (22050 Hz) into the power of bins 1..2048,
// bin j lying at (j - 1) * 5.38330078125 Hz. ToneFilter designs the narrow bandpass around
// the tone for every block and filters the 1024 tone-rate samples (5512.5 Hz) with it by
// overlap-add, carrying the overlap from block to block.
//
// Both are sized at construction and never allocate afterwards. Called from the receive
// loop's thread only.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrix {

inline constexpr int kSpectrumSize = 4096;  // transform length of the spectrum
inline constexpr int kSpectrumBins = 2048;  // bins 1..2048 are meaningful
// Extra zero bins on both sides so that neighbour reads near the ends (the squelch reads
// five bins either side of the tuned bin) never leave the array.
inline constexpr int kSpectrumGuard = 16;
inline constexpr int kToneBlockSize = 1024;
inline constexpr int kFilterTaps = 1025;
inline constexpr int kFilterDesignSize = 2048;
inline constexpr int kFilterResponseSize = 1023;

// Power of bins 1..2048, with zero guard bins around them. Index it with bin numbers.
class PowerSpectrumArray {
 public:
  PowerSpectrumArray() { values_.fill(0.0f); }
  float& operator[](int bin) { return values_[static_cast<size_t>(bin + kSpectrumGuard)]; }
  float operator[](int bin) const { return values_[static_cast<size_t>(bin + kSpectrumGuard)]; }
  // Pointer such that Bins()[j] is bin j (valid for j in -kSpectrumGuard .. 2048 + guard).
  float* Bins() { return values_.data() + kSpectrumGuard; }
  const float* Bins() const { return values_.data() + kSpectrumGuard; }

 private:
  std::array<float, kSpectrumBins + 1 + 2 * kSpectrumGuard> values_;
};

class SpectrumAnalyzer {
 public:
  SpectrumAnalyzer();

  // w(i) = 0.35875 - 0.48829 cos(2 pi i/4096) + 0.14128 cos(4 pi i/4096)
  //        - 0.01168 cos(6 pi i/4096), i = 0..4096 (4-term Blackman-Harris).
  const std::array<float, kSpectrumSize + 1>& SpectrumWindow() const { return window_; }

  // samples: 4096 values (the pairwise-averaged block). Writes bins 1..2048 of `power`:
  // bin 1 = (X(0)/2)^2 + (X(N/2)/2)^2, bin k+1 = |X(k)|^2. No log, no normalisation.
  void WindowedPowerSpectrum(const int32_t* samples, PowerSpectrumArray& power);

 private:
  std::array<float, kSpectrumSize + 1> window_;
  std::array<float, kSpectrumSize> work_;
};

class ToneFilter {
 public:
  ToneFilter();

  // Designs the bandpass passing low..high (cycles per sample of the 2048-point design
  // grid, i.e. normalised to the tone rate) and keeps its complex response.
  // Taps: windowed sincs h_high - h_low, each normalised to unity gain at 0 Hz.
  void DesignBandpass(float low, float high);

  // Filters `block` (1024 tone-rate samples) in place by overlap-add with the current
  // response. The tail of the second half is kept for the next block.
  void Convolve(float* block);

  // Complex response: FilterResponse()[2k], [2k+1] = re, im of value k (k = 0..1022).
  const float* FilterResponse() const { return response_.data(); }
  const std::array<float, kFilterTaps>& Taps() const { return taps_; }

 private:
  // Windowed sinc low-pass with cutoff c (cycles per sample), normalised by its sum.
  void DesignLowpass(float cutoff, std::array<float, kFilterTaps>& out);
  // 512 input samples followed by 512 zeros, transformed, multiplied by the response and
  // transformed back into `output`.
  void FilterSegment(const float* input, std::array<float, kToneBlockSize>& output);

  std::array<float, kFilterTaps> designWindow_;  // v(i), i = 0..1024
  std::array<float, kFilterTaps> lowpassLow_;
  std::array<float, kFilterTaps> lowpassHigh_;
  std::array<float, kFilterTaps> taps_;
  std::array<float, kFilterDesignSize> designWork_;
  std::array<float, 2 * kFilterResponseSize> response_;
  std::array<float, kToneBlockSize> outputA_;
  std::array<float, kToneBlockSize> outputB_;  // second half carried to the next block
};

}  // namespace kestrix
