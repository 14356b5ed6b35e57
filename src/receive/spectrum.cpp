#include "receive/spectrum.h"

#include <cmath>

#include "receive/fft.h"

namespace kestrix {
namespace {
constexpr double kPi = 3.141592653589793;
constexpr int kCentre = 512;  // centre tap of the 1025-tap design
}  // namespace

SpectrumAnalyzer::SpectrumAnalyzer() {
  for (int i = 0; i <= kSpectrumSize; ++i) {
    const double a = 2.0 * kPi * i / kSpectrumSize;
    window_[static_cast<size_t>(i)] =
        static_cast<float>(0.35875 - 0.48829 * std::cos(a) + 0.14128 * std::cos(2.0 * a) -
                           0.01168 * std::cos(3.0 * a));
  }
  work_.fill(0.0f);
}

void SpectrumAnalyzer::WindowedPowerSpectrum(const int32_t* samples, PowerSpectrumArray& power) {
  for (int i = 0; i < kSpectrumSize; ++i) {
    work_[static_cast<size_t>(i)] =
        static_cast<float>(samples[i]) * window_[static_cast<size_t>(i)];
  }
  RealFft(work_.data(), kSpectrumSize);
  power[1] = work_[0] * work_[0] + work_[1] * work_[1];
  for (int k = 1; k < kSpectrumBins; ++k) {
    const float re = work_[static_cast<size_t>(2 * k)];
    const float im = work_[static_cast<size_t>(2 * k + 1)];
    power[k + 1] = re * re + im * im;
  }
}

ToneFilter::ToneFilter() {
  for (int i = 0; i < kFilterTaps; ++i) {
    const double a = 2.0 * kPi * i / 1024.0;
    designWindow_[static_cast<size_t>(i)] =
        static_cast<float>(0.40243 - 0.49804 * std::cos(a) + 0.09831 * std::cos(2.0 * a) -
                           0.00122 * std::cos(3.0 * a));
  }
  lowpassLow_.fill(0.0f);
  lowpassHigh_.fill(0.0f);
  taps_.fill(0.0f);
  designWork_.fill(0.0f);
  response_.fill(0.0f);
  outputA_.fill(0.0f);
  outputB_.fill(0.0f);
}

void ToneFilter::DesignLowpass(float cutoff, std::array<float, kFilterTaps>& out) {
  // The sinc arguments reach 2 pi x 0.25 x 512 radians; they are formed in double so the
  // taps carry no rounding from the phase, then stored as floats like everything else.
  const double twoPiC = 2.0 * kPi * static_cast<double>(cutoff);
  std::array<double, kFilterTaps> taps{};
  double sum = 0.0;
  for (int i = 0; i < kFilterTaps; ++i) {
    const int offset = i - kCentre;
    const double sinc = offset == 0 ? twoPiC : std::sin(twoPiC * offset) / offset;
    taps[static_cast<size_t>(i)] = sinc * designWindow_[static_cast<size_t>(i)];
    sum += taps[static_cast<size_t>(i)];
  }
  if (sum == 0.0) {
    // A cutoff of exactly 0 makes every sinc value 0. The limit of the normalised design
    // as the cutoff shrinks is the window itself scaled to unit sum (sin(x)/x -> 1), so
    // use that: the filter stays continuous in its cutoff and nothing divides by zero.
    for (int i = 0; i < kFilterTaps; ++i) {
      taps[static_cast<size_t>(i)] = designWindow_[static_cast<size_t>(i)];
      sum += taps[static_cast<size_t>(i)];
    }
  }
  for (int i = 0; i < kFilterTaps; ++i) {
    out[static_cast<size_t>(i)] = static_cast<float>(taps[static_cast<size_t>(i)] / sum);
  }
}

void ToneFilter::DesignBandpass(float low, float high) {
  DesignLowpass(low, lowpassLow_);
  DesignLowpass(high, lowpassHigh_);
  // High-pass at the upper edge (delta - h_high), plus h_low gives the band-reject; its
  // negation plus delta is the bandpass h_high - h_low. Written out in those steps so the
  // rounding matches the construction.
  for (int i = 0; i < kFilterTaps; ++i) {
    const size_t u = static_cast<size_t>(i);
    const float delta = i == kCentre ? 1.0f : 0.0f;
    const float highpass = delta - lowpassHigh_[u];
    const float bandReject = highpass + lowpassLow_[u];
    taps_[u] = -bandReject + delta;
  }
  for (int i = 0; i < kFilterDesignSize; ++i) {
    designWork_[static_cast<size_t>(i)] = i < kFilterTaps ? taps_[static_cast<size_t>(i)] : 0.0f;
  }
  RealFft(designWork_.data(), kFilterDesignSize);
  for (int i = 0; i < 2 * kFilterResponseSize; ++i) {
    response_[static_cast<size_t>(i)] = designWork_[static_cast<size_t>(i)];
  }
}

void ToneFilter::FilterSegment(const float* input, std::array<float, kToneBlockSize>& output) {
  constexpr int kHalf = kToneBlockSize / 2;
  for (int i = 0; i < kHalf; ++i) output[static_cast<size_t>(i)] = input[i];
  for (int i = kHalf; i < kToneBlockSize; ++i) output[static_cast<size_t>(i)] = 0.0f;
  RealFft(output.data(), kToneBlockSize);
  // 512 complex products. Slot 0 holds the two real values (0 Hz and half rate) packed
  // together, and is multiplied as one complex number like every other slot.
  for (int k = 0; k < kHalf; ++k) {
    const size_t re = static_cast<size_t>(2 * k);
    const size_t im = re + 1;
    const float xre = output[re];
    const float xim = output[im];
    const float hre = response_[re];
    const float him = response_[im];
    output[re] = xre * hre - xim * him;
    output[im] = xim * hre + xre * him;
  }
  InverseRealFft(output.data(), kToneBlockSize);
}

void ToneFilter::Convolve(float* block) {
  constexpr int kHalf = kToneBlockSize / 2;
  FilterSegment(block, outputA_);
  for (int k = 0; k < kHalf; ++k) {
    block[k] = outputA_[static_cast<size_t>(k)] + outputB_[static_cast<size_t>(k + kHalf)];
  }
  // The second segment is the still unfiltered second half of the block.
  FilterSegment(block + kHalf, outputB_);
  for (int k = 0; k < kHalf; ++k) {
    block[kHalf + k] = outputB_[static_cast<size_t>(k)] + outputA_[static_cast<size_t>(k + kHalf)];
  }
}

}  // namespace kestrix
