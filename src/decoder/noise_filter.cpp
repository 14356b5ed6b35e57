#include "decoder/noise_filter.h"

#include <algorithm>

namespace kestrix {

void AdaptiveNoiseFilter::Restart() {
  mu_ = kFilterOnMu;
  power_ = 2.0;
  d_ = 0.0;
  h_.fill(0.0);
  w_.fill(0.0);
}

void AdaptiveNoiseFilter::Process(float* block, int count) {
  constexpr double kAveraging = 0.000003;
  for (int n = 0; n < count; ++n) {
    const double x = block[n];
    double y = w_[0] * d_;
    for (int i = 1; i < kTaps; ++i)
      y += w_[static_cast<size_t>(i)] * h_[static_cast<size_t>(i - 1)];
    power_ = kAveraging * d_ * d_ + (1.0 - kAveraging) * power_;
    const double step = mu_ * (x - y) / power_;
    w_[0] += step * d_;
    for (int i = 1; i < kTaps; ++i) {
      w_[static_cast<size_t>(i)] += step * h_[static_cast<size_t>(i - 1)];
    }
    std::copy_backward(h_.begin(), h_.end() - 1, h_.end());
    h_[0] = d_;
    d_ = x;
    block[n] = static_cast<float>(3.0 * y);
  }
}

}  // namespace kestrix
