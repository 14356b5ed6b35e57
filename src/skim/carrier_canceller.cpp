#include "skim/carrier_canceller.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrix::skim {

namespace {
// The residual power's 20th percentile: steps up and down (0.02 dB up, four times that
// down) in the ratio that settles it where a fifth of the samples lie below.
constexpr double kLowUp = 1.004615;          // 10^(0.02 / 10)
constexpr double kLowDown = 1.0 / 1.018591;  // 10^(-0.08 / 10)
constexpr double kLowUpFast = 1.258925;      // 1 dB
constexpr double kFarBelow = 100.0;          // 20 dB
// A sample is quiet (carrier and noise only) when its residual is within this many times
// the lower quantile: most of the noise, a constant carrier's every sample, a station's
// key-down above it not.
constexpr double kQuietOverLow = 4.0;
// The carrier is subtracted while its power stands this far over what is left of the
// quiet samples once it is taken out (the noise, and the carrier's tracking error).
constexpr double kActiveOverLeft = 10.0;
constexpr double kInactiveOverLeft = 5.0;
// Seconds the mean of what is left spans.
constexpr double kLeftS = 1.0;
// Seconds the phasor's average spans; the frequency loop is critically damped with it.
constexpr double kAverageS = 0.3;
// Seconds the mean turn between quiet samples spans while the carrier is acquired.
constexpr double kAcquireS = 0.5;
constexpr double kMaxOffsetHz = 15.0;

}  // namespace

CarrierCanceller::CarrierCanceller(double rate) : rate_(rate) {
  alpha_ = 1.0 / std::max(1.0, kAverageS * rate);
  beta_ = alpha_ * alpha_ / 2.0;
  gamma_ = 1.0 / std::max(1.0, kAcquireS * rate);
  maxStep_ = 2.0 * std::numbers::pi * kMaxOffsetHz / rate;
  Reset();
}

void CarrierCanceller::Reset() {
  phasor_ = {};
  step_ = 0.0;
  previous_ = {};
  previousQuiet_ = false;
  left_ = 0.0;
  low_ = 0.0;
  active_ = false;
  primed_ = false;
}

void CarrierCanceller::Rewind(double samples, double extraTurn) {
  phasor_ *= std::polar(1.0, -step_ * samples + extraTurn);
}

void CarrierCanceller::Retune(double hz) {
  step_ = std::clamp(step_ - 2.0 * std::numbers::pi * hz / rate_, -maxStep_, maxStep_);
}

double CarrierCanceller::OffsetHz() const {
  return step_ * rate_ / (2.0 * std::numbers::pi);
}

std::complex<float> CarrierCanceller::Process(std::complex<float> in) {
  const std::complex<double> x(in.real(), in.imag());
  const std::complex<double> predicted = phasor_ * std::polar(1.0, step_);
  const std::complex<double> residual = x - predicted;
  const double r2 = std::norm(residual);
  if (!primed_ && r2 > 0.0) {
    low_ = r2;
    left_ = r2;
    primed_ = true;
  }
  // Far below the samples (a filter's silent start, a band that came up): catch up fast.
  if (r2 > low_) {
    low_ *= r2 > kFarBelow * low_ ? kLowUpFast : kLowUp;
  } else {
    low_ *= kLowDown;
  }
  const double low = low_;
  phasor_ = predicted;
  const bool quiet = r2 < kQuietOverLow * low;
  if (quiet) {
    phasor_ += alpha_ * residual;
    if (!active_) {
      // Acquiring: the mean turn between quiet samples, the carrier being most of them.
      if (previousQuiet_) {
        const double turn = std::arg(x * std::conj(previous_));
        step_ += (turn - step_) * gamma_;
      }
    } else {
      // Locked: a phase loop on the phasor's prediction error.
      const double err = std::imag(residual * std::conj(predicted)) / std::norm(predicted);
      step_ += beta_ * err;
    }
    step_ = std::clamp(step_, -maxStep_, maxStep_);
  }
  previous_ = x;
  previousQuiet_ = quiet;
  if (quiet) left_ += (r2 - left_) / std::max(1.0, kLeftS * rate_);
  const double c2 = std::norm(phasor_);
  if (!active_ && c2 > kActiveOverLeft * left_) active_ = true;
  if (active_ && c2 < kInactiveOverLeft * left_) active_ = false;
  if (!active_) return in;
  return {static_cast<float>(residual.real()), static_cast<float>(residual.imag())};
}

}  // namespace kestrix::skim
