#include "skim/carrier_canceller.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <numbers>
#include <random>
#include <string>

namespace kestrix::skim {
namespace {

constexpr double kRate = 125.0;

struct Scene {
  double carrierHz, carrierAmp;  // the steady carrier (0 amplitude: none)
  double stationHz, stationAmp;  // a keyed station: dahs and dits, keyed a third of the time
};

std::complex<double> Station(const Scene& s, double t) {
  const double cycle = std::fmod(t, 2.4);
  const bool keyed = std::fmod(t, 0.6) < (cycle < 1.2 ? 0.18 : 0.06);
  return keyed ? std::polar(s.stationAmp, 2.0 * std::numbers::pi * s.stationHz * t + 0.2)
               : std::complex<double>{};
}

struct Outcome {
  double activeShare;  // of the last 20 s
  double errorDb;      // output less the station alone, power over the noise's
};

// 30 s of the scene through the canceller; `rewindAt` > 0 replays the last 4 s once there,
// as a decoder's restart from the channel history does; `hopHz` moves the mixer in front
// by that much and back every second from 5 s on, as the finder's estimate of a station
// keyed over a birdie wanders.
Outcome RunScene(const Scene& s, double rewindAt = 0.0, double hopHz = 0.0) {
  CarrierCanceller c(kRate);
  std::mt19937 rng(3);
  const double sigma = 0.1;  // noise power 2 sigma^2
  std::normal_distribution<double> noise(0.0, sigma);
  double error = 0.0, counted = 0.0, active = 0.0;
  int64_t i = 0;
  const int64_t end = static_cast<int64_t>(30.0 * kRate);
  bool rewound = false;
  double mixHz = 0.0, mixPhase = 0.0;
  while (i < end) {
    const double t = static_cast<double>(i) / kRate;
    const double wantHz = t >= 5.0 && static_cast<int64_t>(t) % 2 == 1 ? hopHz : 0.0;
    if (wantHz != mixHz) {
      c.Retune(wantHz - mixHz);
      mixHz = wantHz;
    }
    if (rewindAt > 0.0 && !rewound && t >= rewindAt) {
      rewound = true;
      const int64_t back = static_cast<int64_t>(4.0 * kRate);
      c.Rewind(static_cast<double>(back));
      i -= back;
      continue;
    }
    // Everything as the canceller sees it, behind the mixer.
    const std::complex<double> mixer = std::polar(1.0, -mixPhase);
    mixPhase += 2.0 * std::numbers::pi * mixHz / kRate;
    const std::complex<double> station = Station(s, t) * mixer;
    const std::complex<double> x =
        std::polar(s.carrierAmp, 2.0 * std::numbers::pi * s.carrierHz * t + 0.7) * mixer + station +
        std::complex<double>(noise(rng), noise(rng)) * mixer;
    const std::complex<float> y =
        c.Process({static_cast<float>(x.real()), static_cast<float>(x.imag())});
    if (t > 10.0) {
      error += std::norm(std::complex<double>(y.real(), y.imag()) - station);
      counted += 1.0;
      active += c.Active() ? 1.0 : 0.0;
    }
    ++i;
  }
  return {active / counted, 10.0 * std::log10(error / counted / (2.0 * sigma * sigma))};
}

TEST(CarrierCanceller, TakesOutSteadyCarriersAndLeavesKeyedStations) {
  struct Case {
    std::string name;
    Scene scene;
    double rewindAt, hopHz;
    double minActive, maxActive;
    double maxErrorDb;  // over the noise alone
  };
  const Case cases[] = {
      {"strong keyed station alone", {0.0, 0.0, 0.0, 3.0}, 0.0, 0.0, 0.0, 0.0, 0.5},
      {"weak keyed station alone", {0.0, 0.0, 0.2, 0.3}, 0.0, 0.0, 0.0, 0.0, 0.5},
      {"carrier alone", {1.3, 1.0, 0.0, 0.0}, 0.0, 0.0, 0.95, 1.0, 2.0},
      {"carrier under a weaker station", {0.5, 1.0, 8.0, 0.3}, 0.0, 0.0, 0.95, 1.0, 2.0},
      {"carrier under a stronger station", {-1.0, 1.0, 3.0, 3.0}, 0.0, 0.0, 0.95, 1.0, 2.0},
      {"replayed from history", {2.0, 1.0, -6.0, 0.5}, 15.0, 0.0, 0.95, 1.0, 3.0},
      {"mixer moved to and fro", {-1.0, 1.0, 1.0, 1.5}, 0.0, 0.7, 0.95, 1.0, 3.0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const Outcome o = RunScene(c.scene, c.rewindAt, c.hopHz);
    EXPECT_GE(o.activeShare, c.minActive);
    EXPECT_LE(o.activeShare, c.maxActive);
    EXPECT_LE(o.errorDb, c.maxErrorDb);
  }
}

}  // namespace
}  // namespace kestrix::skim
