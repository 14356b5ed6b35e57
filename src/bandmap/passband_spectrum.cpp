#include "bandmap/passband_spectrum.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "receive/fft.h"

namespace kestrix::bandmap {

PassbandSpectrum::PassbandSpectrum(double rate, const PassbandConfig& config)
    : rate_(rate), config_(config) {
  config_.columns = std::max(config_.columns, 1);
  config_.hiHz = std::min(config_.hiHz, 0.5 * rate);
  if (config_.hiHz <= config_.loHz) config_.loHz = 0.0;
  hop_ = static_cast<size_t>(std::max(1.0, std::round(config_.hopS * rate)));
  ring_.assign(kSize, 0.0f);
  work_.assign(kSize, 0.0f);
  window_.resize(kSize);
  for (int i = 0; i < kSize; ++i) {
    window_[static_cast<size_t>(i)] =
        static_cast<float>(0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * i / kSize));
  }
  const double binHz = rate / kSize;
  firstBin_.resize(static_cast<size_t>(config_.columns) + 1);
  for (int c = 0; c <= config_.columns; ++c) {
    const double hz = config_.loHz + (config_.hiHz - config_.loHz) * c / config_.columns;
    firstBin_[static_cast<size_t>(c)] =
        std::clamp(static_cast<int>(std::lround(hz / binHz)), 1, kSize / 2 - 1);
  }
  dB_.assign(static_cast<size_t>(config_.columns), -150.0f);
}

double PassbandSpectrum::ColumnHz(int c) const {
  return config_.loHz + (config_.hiHz - config_.loHz) * (c + 0.5) / config_.columns;
}

double PassbandSpectrum::Column(double hz) const {
  return (hz - config_.loHz) / (config_.hiHz - config_.loHz) * config_.columns - 0.5;
}

void PassbandSpectrum::MakeRow() {
  for (size_t i = 0; i < kSize; ++i) work_[i] = ring_[(head_ + i) % kSize] * window_[i];
  RealFft(work_.data(), kSize);
  // Power of a full-scale sine through the window, for 0 dB at full scale.
  constexpr float kFullScale = (kSize / 4.0f) * (kSize / 4.0f);
  for (int c = 0; c < config_.columns; ++c) {
    const int a = firstBin_[static_cast<size_t>(c)];
    const int b = std::max(a + 1, firstBin_[static_cast<size_t>(c) + 1]);
    float best = 0.0f;
    for (int k = a; k < b && k < kSize / 2; ++k) {
      const float re = work_[2 * static_cast<size_t>(k)];
      const float im = work_[2 * static_cast<size_t>(k) + 1];
      best = std::max(best, re * re + im * im);
    }
    dB_[static_cast<size_t>(c)] = 10.0f * std::log10(std::max(best / kFullScale, 1e-15f));
  }
}

}  // namespace kestrix::bandmap
