// Optional adaptive noise filter: a 21-tap normalised LMS one-step predictor run over the
// 1024 tone-rate samples of each block. The predictable part of the input (the tone) is
// kept, noise is not; each sample is replaced by 3 times the prediction.
#pragma once

#include <array>

namespace kestrix {

class AdaptiveNoiseFilter {
 public:
  static constexpr int kTaps = 21;

  // Step size at program start; Filter On uses half of it.
  static constexpr double kStartMu = 2e-7 / 21.0;
  static constexpr double kFilterOnMu = 1e-7 / 21.0;

  // What "Filter On" does: smaller step, fresh weights, history and power estimate.
  void Restart();

  void Process(float* block, int count);

  const std::array<double, kTaps>& Weights() const { return w_; }

 private:
  std::array<double, kTaps> w_{};
  std::array<double, kTaps - 1> h_{};  // h[0] is the sample before d
  double d_ = 0.0;                     // previous input sample
  double power_ = 2.0;
  double mu_ = kStartMu;
};

}  // namespace kestrix
