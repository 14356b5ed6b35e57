#include "skim/filter_design.h"

#include <algorithm>
#include <cmath>
#include <numbers>

namespace kestrix::skim {

namespace {

// Modified Bessel function of the first kind, order 0 (power series; converges fast for
// the arguments a Kaiser window uses, below 20).
double BesselI0(double x) {
  double sum = 1.0;
  double term = 1.0;
  const double q = x * x / 4.0;
  for (int k = 1; k < 200; ++k) {
    term *= q / (static_cast<double>(k) * static_cast<double>(k));
    sum += term;
    if (term < sum * 1e-17) break;
  }
  return sum;
}

}  // namespace

double KaiserBeta(double stopDb) {
  if (stopDb > 50.0) return 0.1102 * (stopDb - 8.7);
  if (stopDb >= 21.0) return 0.5842 * std::pow(stopDb - 21.0, 0.4) + 0.07886 * (stopDb - 21.0);
  return 0.0;
}

int KaiserLength(double transitionHz, double rate, double stopDb) {
  const double dw = 2.0 * std::numbers::pi * transitionHz / rate;
  int n = static_cast<int>(std::ceil((stopDb - 8.0) / (2.285 * dw))) + 1;
  n = std::max(n, 3);
  return n | 1;
}

std::vector<float> KaiserLowPass(int taps, double cutoffHz, double rate, double stopDb) {
  std::vector<float> h(static_cast<size_t>(std::max(taps, 1)));
  const double beta = KaiserBeta(stopDb);
  const double i0b = BesselI0(beta);
  const double fc = cutoffHz / rate;  // cycles per sample
  const double mid = (static_cast<double>(h.size()) - 1.0) / 2.0;
  double sum = 0.0;
  std::vector<double> tmp(h.size());
  for (size_t i = 0; i < h.size(); ++i) {
    const double t = static_cast<double>(i) - mid;
    const double sinc =
        t == 0.0 ? 2.0 * fc : std::sin(2.0 * std::numbers::pi * fc * t) / (std::numbers::pi * t);
    const double r = mid > 0.0 ? t / mid : 0.0;
    const double w = BesselI0(beta * std::sqrt(std::max(0.0, 1.0 - r * r))) / i0b;
    tmp[i] = sinc * w;
    sum += tmp[i];
  }
  for (size_t i = 0; i < h.size(); ++i) h[i] = static_cast<float>(tmp[i] / sum);
  return h;
}

std::vector<float> BlackmanHarris(int n) {
  std::vector<float> w(static_cast<size_t>(std::max(n, 1)));
  constexpr double a0 = 0.35875, a1 = 0.48829, a2 = 0.14128, a3 = 0.01168;
  for (int i = 0; i < n; ++i) {
    const double x = 2.0 * std::numbers::pi * i / n;
    w[static_cast<size_t>(i)] =
        static_cast<float>(a0 - a1 * std::cos(x) + a2 * std::cos(2 * x) - a3 * std::cos(3 * x));
  }
  return w;
}

}  // namespace kestrix::skim
