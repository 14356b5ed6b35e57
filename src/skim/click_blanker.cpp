#include "skim/click_blanker.h"

#include <algorithm>

namespace kestrix::skim {

namespace {
// The median tracker's step per frame: up when a sample is above it, down when below, so it
// settles where half the samples are either side; about 0.1 dB.
constexpr float kMedianUp = 1.023f;
constexpr float kMedianDown = 1.0f / kMedianUp;
}  // namespace

ClickBlanker::ClickBlanker(int channels, const ClickBlankerConfig& config)
    : m_(std::max(channels, 1)), config_(config) {
  const size_t m = static_cast<size_t>(m_);
  frames_.resize(kRing * m);
  power_.resize(kRing * m);
  cut_.resize(kRing * m);
  median_.resize(m);
  Reset();
}

void ClickBlanker::Reset() {
  std::fill(frames_.begin(), frames_.end(), std::complex<float>{});
  std::fill(power_.begin(), power_.end(), 0.0f);
  std::fill(cut_.begin(), cut_.end(), uint8_t{0});
  std::fill(median_.begin(), median_.end(), 0.0f);
  pushed_ = 0;
  blanked_ = 0;
}

const std::complex<float>* ClickBlanker::Push(const std::complex<float>* frame) {
  const size_t m = static_cast<size_t>(m_);
  auto slot = [&](int64_t n) { return static_cast<size_t>(n % kRing) * m; };
  const int64_t n = pushed_++;
  const size_t now = slot(n);
  std::copy(frame, frame + m, frames_.begin() + static_cast<std::ptrdiff_t>(now));
  std::fill(cut_.begin() + static_cast<std::ptrdiff_t>(now),
            cut_.begin() + static_cast<std::ptrdiff_t>(now + m), uint8_t{0});
  for (size_t k = 0; k < m; ++k) {
    const float p = std::norm(frame[k]);
    power_[now + k] = p;
    float& med = median_[k];
    // A median of zero (digital silence at the start) could never grow by steps: it starts
    // again from the first power above zero.
    med = med > 0.0f ? med * (p > med ? kMedianUp : kMedianDown) : p;
  }
  // Frame n-2 is judged against n-4 and n; it and its neighbours n-3 and n-1 may be cut.
  if (n >= kRing - 1) {
    const size_t c = slot(n - 2), before = slot(n - 4), prev = slot(n - 3), next = slot(n - 1);
    for (size_t k = 0; k < m; ++k) {
      const float p = power_[c + k];
      if (p <= config_.levelRatio * median_[k]) continue;
      if (p <= config_.impulseRatio * std::max(power_[before + k], power_[now + k])) continue;
      // A click between two frames spills into the one beside it.
      const float spill = config_.levelRatio * median_[k];
      cut_[c + k] = 1;
      if (power_[prev + k] > spill) cut_[prev + k] = 1;
      if (power_[next + k] > spill) cut_[next + k] = 1;
    }
  }
  if (n < kDelay) return nullptr;
  // Frame n-3: every judgement that can cut it is made.
  const size_t out = slot(n - kDelay);
  std::complex<float>* f = frames_.data() + out;
  for (size_t k = 0; k < m; ++k) {
    if (cut_[out + k] == 0) continue;
    f[k] = {};
    ++blanked_;
  }
  return f;
}

}  // namespace kestrix::skim
