// Small complex test scenes for the skimmer's own tests: keyed carriers at given offsets
// and levels over white complex noise, with optional wideband clicks. Levels are given as
// the SNR the skimmer reports: carrier power A^2 over the noise in 500 Hz.
#pragma once

#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <random>
#include <string>
#include <vector>

#include "signalgen/morse_gen.h"

namespace kestrix::skim::testing {

struct SceneStation {
  double offsetHz = 0.0;
  double snrDb = 20.0;
  double wpm = 25.0;
  std::string text = "CQ TEST K1ABC K1ABC";
  double startS = 0.5;
  double riseMs = 4.0;  // 0: hard keying (clicks)
  bool repeat = true;   // the text again and again until the scene ends
};

struct Scene {
  double rate = 48000.0;
  double seconds = 10.0;
  double noise = 0.01;  // standard deviation of each of I and Q; 0 = none
  std::vector<SceneStation> stations;
  double clickEveryS = 0.0;  // wideband impulses this often (0 = none)
  double clickAmplitude = 5.0;
  uint32_t seed = 7;
};

// Key-down envelope 0..1 of `text` at `wpm` sampled at `rate`, from 0 s on.
inline std::vector<float> KeyEnvelope(const std::string& text, double wpm, double rate,
                                      double riseMs) {
  std::vector<float> env;
  const double dot = 1.2 / wpm * rate;
  auto put = [&](double units, float level) {
    const size_t n = static_cast<size_t>(units * dot);
    env.insert(env.end(), n, level);
  };
  for (char c : text) {
    if (c == ' ') {
      put(4, 0.0f);  // with the letter gap before it, 7
      continue;
    }
    const std::string pattern = kestrix::signalgen::MorsePattern(c);
    for (char e : pattern) {
      put(e == '.' ? 1 : 3, 1.0f);
      put(1, 0.0f);
    }
    put(2, 0.0f);
  }
  put(7, 0.0f);
  const size_t rise = static_cast<size_t>(riseMs * 1e-3 * rate);
  if (rise > 1) {
    // A raised-cosine edge: a moving average through a cosine window.
    std::vector<float> smooth(env.size());
    std::vector<double> w(rise);
    double sum = 0.0;
    for (size_t i = 0; i < rise; ++i) {
      w[i] = 0.5 - 0.5 * std::cos(2.0 * std::numbers::pi * (i + 0.5) / rise);
      sum += w[i];
    }
    for (size_t i = 0; i < env.size(); ++i) {
      double acc = 0.0;
      for (size_t k = 0; k < rise && k <= i; ++k) acc += w[k] * env[i - k];
      smooth[i] = static_cast<float>(acc / sum);
    }
    env.swap(smooth);
  }
  return env;
}

inline std::vector<std::complex<float>> MakeScene(const Scene& scene) {
  const size_t total = static_cast<size_t>(scene.seconds * scene.rate);
  std::vector<std::complex<float>> x(total);
  std::mt19937 rng(scene.seed);
  std::normal_distribution<float> gauss(0.0f, 1.0f);
  if (scene.noise > 0.0) {
    for (auto& v : x)
      v = {static_cast<float>(scene.noise) * gauss(rng),
           static_cast<float>(scene.noise) * gauss(rng)};
  }
  // Noise density per Hz: 2 sigma^2 / rate.
  const double density = 2.0 * scene.noise * scene.noise / scene.rate;
  for (const SceneStation& s : scene.stations) {
    const double amp = std::sqrt(std::pow(10.0, s.snrDb / 10.0) * density * 500.0);
    const std::vector<float> env = KeyEnvelope(s.text, s.wpm, scene.rate, s.riseMs);
    const size_t start = static_cast<size_t>(s.startS * scene.rate);
    const double w = 2.0 * std::numbers::pi * s.offsetHz / scene.rate;
    for (size_t i = start; i < total; ++i) {
      const size_t k = i - start;
      if (!s.repeat && k >= env.size()) break;
      const float e = env[k % env.size()];
      if (e == 0.0f) continue;
      const double ph = w * static_cast<double>(i);
      x[i] += std::complex<float>(static_cast<float>(amp * e * std::cos(ph)),
                                  static_cast<float>(amp * e * std::sin(ph)));
    }
  }
  if (scene.clickEveryS > 0.0) {
    for (double t = 0.3; t < scene.seconds; t += scene.clickEveryS) {
      const size_t i = static_cast<size_t>(t * scene.rate);
      if (i < total) x[i] += std::complex<float>(static_cast<float>(scene.clickAmplitude), 0.0f);
    }
  }
  return x;
}

}  // namespace kestrix::skim::testing
