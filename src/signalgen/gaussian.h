// Deterministic normal deviates for the generators: mt19937 is fully specified by the
// standard, while std::normal_distribution's algorithm is not, and generated signals must
// be the same everywhere.
#pragma once

#include <cmath>
#include <cstdint>
#include <random>

namespace kestrix::signalgen {

class Gaussian {
 public:
  explicit Gaussian(uint32_t seed) : engine_(seed) {}

  double Next() {
    constexpr double kPi = 3.14159265358979323846;
    if (haveSpare_) {
      haveSpare_ = false;
      return spare_;
    }
    // Uniform in the open interval (0, 1), so the logarithm stays finite.
    const double u1 = (static_cast<double>(engine_()) + 0.5) / 4294967296.0;
    const double u2 = (static_cast<double>(engine_()) + 0.5) / 4294967296.0;
    const double r = std::sqrt(-2.0 * std::log(u1));
    spare_ = r * std::sin(2.0 * kPi * u2);
    haveSpare_ = true;
    return r * std::cos(2.0 * kPi * u2);
  }

 private:
  std::mt19937 engine_;
  double spare_ = 0.0;
  bool haveSpare_ = false;
};

}  // namespace kestrix::signalgen
