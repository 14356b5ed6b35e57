#include "decoder/detector.h"

#include <algorithm>
#include <cmath>
#include <limits>

namespace kestrix {

int32_t TruncToInt(double v) {
  if (!(v == v)) return 0;  // NaN
  constexpr double kMax = static_cast<double>(std::numeric_limits<int32_t>::max());
  constexpr double kMin = static_cast<double>(std::numeric_limits<int32_t>::min());
  if (v >= kMax) return std::numeric_limits<int32_t>::max();
  if (v <= kMin) return std::numeric_limits<int32_t>::min();
  return static_cast<int32_t>(v);
}

void KeyingDetector::StartValues() {
  d_.Threshold = o_.ManualThreshold();
  d_.Timeout = 0;
  d_.RunStart = 2;
  d_.RunCount = 0;
  d_.PeakInput = 1.0;
  d_.FloorInput = 1.0;
  d_.AuxFloorInput = 1.0;
}

void KeyingDetector::LevelReset() {
  d_.NoiseFloor *= 0.25;
  d_.PeakLevel = d_.NoiseFloor;
  d_.Threshold = 6.0 * d_.NoiseFloor;
  d_.IdleFlag = 0;
}

int KeyingDetector::AvgSignalCount() const {
  return TruncToInt(d_.IdleFlag ? d_.NoiseContrast : d_.Contrast);
}

void KeyingDetector::ConvertLevels(const float* m) {
  d_.env[0] = d_.env[64];
  d_.env[1] = d_.env[65];
  const double offset = 0.75 * d_.NoiseFloor;
  // Six values carried from the last block (its m[57..62]), then m[0..58] of this one.
  for (int i = 0; i < 6; ++i) {
    d_.env[static_cast<size_t>(2 + i)] =
        TruncToInt((d_.keptEnvelope[static_cast<size_t>(4 + i)] - offset) * 10.0);
  }
  for (int i = 0; i <= 58; ++i) {
    d_.env[static_cast<size_t>(8 + i)] = TruncToInt((m[i] - offset) * 10.0);
  }
  for (int i = kLevelSeriesSize; i < kLevelSeriesPadded; ++i) d_.env[static_cast<size_t>(i)] = 0;
  for (int i = 0; i < 10; ++i) d_.keptEnvelope[static_cast<size_t>(i)] = m[53 + i];
}

void KeyingDetector::ProcessBlock(const float* envelope, int squelchRatio) {
  ConvertLevels(envelope);
  for (int k = 2; k <= 65; ++k) Decide(k, squelchRatio);
  SpikeFilter();
  if (squelchRatio < 6) {
    for (int k = 2; k <= 65; ++k) d_.keys[static_cast<size_t>(k)] = 0;
  }
}

void KeyingDetector::Decide(int k, int squelchRatio) {
  auto& env = d_.env;
  auto at = [&](int i) { return env[static_cast<size_t>(i)]; };
  const size_t u = static_cast<size_t>(k);
  const int x = at(k);
  const int T = d_.T;

  if (T < x) {
    // Signal.
    d_.Timeout = 0;
    d_.SnrLossCount = 0;
    d_.RunawayCount = 0;
    d_.SnrResetCount = 0;
    d_.IdleFlag = 0;
    d_.PeakInput = x;
    d_.FloorInput = d_.NoiseFloor;
    d_.AuxFloorInput = d_.AuxFloor;
    d_.NoiseInput = d_.NoiseEstimate;
    d_.AuxLevelInput = d_.AuxLevel;
  } else {
    const int n = d_.Timeout;
    d_.Timeout = n + 1;
    if (d_.IdleFlag) {
      const bool anyBelow = at(k + 2) < T || at(k + 3) < T || at(k + 4) < T || at(k + 5) < T;
      if (t_.SpeedWpm < 51 && k > 2 && anyBelow) {
        env[u + 1] = (at(k - 1) + at(k) + at(k + 1)) / 3;
      }
      d_.PeakInput = d_.PeakLevel;
      d_.FloorInput = d_.AuxFloorInput = x * 0.15;
      d_.AuxLevelInput = x - d_.AuxFloor;
      d_.NoiseInput = at(k + 7) < T ? at(k + 7) - d_.NoiseFloor : d_.NoiseFloor;
      if (t_.SpeedWpm > 24) {
        d_.PeakLevel = d_.NoiseFloor * 42.0 + d_.NoiseEstimate * 15.0;
      } else {
        d_.PeakLevel = d_.NoiseFloor * 41.0 + d_.NoiseEstimate * 12.0;
      }
      if (squelchRatio > 60) {
        ++d_.SnrResetCount;
        if (d_.SnrResetCount > 64) {
          d_.SnrResetCount = 0;
          d_.NoiseFloor *= 0.25;
          d_.PeakLevel *= 0.03125;
          d_.Threshold = d_.PeakLevel;
          d_.IdleFlag = 0;
        }
      }
    } else {
      const bool allAtOrAbove =
          at(k + 2) >= T && at(k + 3) >= T && at(k + 4) >= T && at(k + 5) >= T;
      if (t_.SpeedWpm < 51 && t_.AvgDot / 4.0 < n + 1 && !allAtOrAbove && k < 65) {
        env[u + 1] = (at(k) + at(k + 1) + at(k + 2)) / 3;
      }
      d_.PeakInput = d_.PeakLevel;
      d_.FloorInput = d_.AuxFloorInput = x * 0.07;
      d_.NoiseInput = x - d_.NoiseFloor;
    }
    if (x < d_.NoiseFloor) env[u] = TruncToInt(d_.NoiseFloor);
  }

  UpdateLevels(k, x);

  // Signal-loss recovery: strong contrast but poor squelch figure at speed.
  if (d_.Contrast > 9.0 && squelchRatio < 25 && t_.SpeedWpm > 25 && !d_.IdleFlag) {
    if (d_.SnrLossCount > 4) {
      d_.SnrLossCount = 0;
      d_.PeakLevel = 42.0 * d_.NoiseFloor + 15.0 * d_.NoiseEstimate;
      t_.SpeedWpm = 29;
      t_.AvgDash = 130;
      t_.AvgDot = 43;
    } else {
      ++d_.SnrLossCount;
    }
  }

  // Runaway-code recovery: a code that keeps growing past seven elements.
  if (t_.ElementCode < 129) {
    d_.RunawayCount = 0;
  } else if (d_.RunawayCount > 3) {
    d_.RunawayCount = 0;
    t_.SpeedWpm = 32;
    t_.AvgDash = 130;
    t_.AvgDot = 43;
    d_.PeakLevel = d_.NoiseFloor * 42.0 + d_.NoiseEstimate * 15.0;
  } else {
    ++d_.RunawayCount;
  }

  // Idle limit in ticks.
  int limit = t_.SpeedWpm > 24 ? 250 : 700;
  if (t_.SpeedWpm > 50) limit = 100;
  if (d_.Timeout > limit) {
    d_.IdleFlag = 1;
    d_.Timeout = 0;
  }

  // Floor gate: a threshold too close to the floor cancels the previous decision.
  double gate = 0.0;
  switch (o_.Threshold) {
    case ThresholdMode::kNoisy:
      gate = 2.5;
      break;
    case ThresholdMode::kNormal:
      gate = 1.5;
      break;
    case ThresholdMode::kQuiet:
      gate = 1.25;
      break;
    case ThresholdMode::kAuto:
    case ThresholdMode::kManual:
      break;
  }
  if (gate > 0.0 && d_.level[u] < gate * d_.NoiseFloor) d_.key[u - 1] = 0.0;

  // Decision level.
  double up;
  double e;
  if (t_.SpeedWpm >= 28) {
    up = d_.PeakLevel * 5.0 / 22.0 + 20.0 * d_.NoiseFloor;
    e = 2.0;
  } else {
    up = 13.5 * d_.NoiseFloor + d_.PeakLevel / 12.0;
    e = 1.75;
  }
  d_.upper[u] = e * d_.NoiseFloor;
  if (d_.IdleFlag) up = d_.level[u];
  d_.level[u] = std::max(d_.level[u], up);

  d_.key[u] = TruncToInt(d_.level[u]) < x ? 1.0 : 0.0;

  d_.NoiseEstimate = std::max(d_.NoiseEstimate, d_.NoiseFloor);
  d_.AuxLevel = std::max(d_.AuxLevel, d_.AuxFloor);

  // Late start: catch the leading edge of an element the threshold missed.
  if (!d_.IdleFlag && d_.key[u] == 0.0 && d_.aux[u] < d_.upper[u] && d_.Timeout > t_.AvgDot / 3.0 &&
      at(k + 10) < d_.T && x > d_.floor10[u]) {
    d_.key[u] = 1.0;
    d_.AuxLevelInput = d_.AuxLevel;
    d_.floor10[u] = d_.floor10[u - 1];
  }
}

void KeyingDetector::UpdateLevels(int k, int x) {
  (void)x;
  const size_t u = static_cast<size_t>(k);
  const int s = t_.SpeedWpm;

  // Key-down level smoothing; the weight depends on speed and mode.
  double w = -1.0;
  if (s >= 5) {
    if (o_.Threshold == ThresholdMode::kNoisy) {
      w = s <= 20 ? 0.05 : s <= 30 ? 0.06 : 0.08;
    } else if (s >= 31 && o_.Speed == ReceiveSpeed::k50Plus) {
      w = 0.5;
    } else if (d_.IdleFlag) {
      w = s <= 30 ? 0.15 : 0.1;
    } else {
      w = s <= 20 ? 0.06 : s <= 30 ? 0.08 : 0.06;
    }
  }
  if (w >= 0.0) d_.PeakLevel = w * d_.PeakInput + (1.0 - w) * d_.PeakLevel;

  d_.peakShown[u] = d_.PeakLevel;
  d_.floor10[u] = 10.0 * d_.NoiseFloor;
  d_.PeakLevel = std::max(d_.PeakLevel, 1.0);
  d_.NoiseFloor = std::max(d_.NoiseFloor, 1.0);

  const double c = d_.IdleFlag ? 0.000001 : 0.0005;
  const double dd = d_.IdleFlag ? 0.99999 : 0.9995;
  d_.NoiseFloor = c * d_.FloorInput + dd * d_.NoiseFloor;
  d_.AuxFloor = c * d_.AuxFloorInput + dd * d_.AuxFloor;

  if (d_.NoiseFloor > 0.0 && d_.PeakLevel > 0.0) {
    const double g = 7.0 * std::log10(d_.PeakLevel / d_.NoiseFloor);
    if (d_.IdleFlag) {
      d_.Contrast = g * 0.01 + d_.Contrast * 0.99;
    } else {
      d_.Contrast = g * 0.06 + d_.Contrast * 0.94;
    }
  }

  if (d_.IdleFlag) {
    d_.NoiseEstimate = 0.01 * d_.NoiseInput + 0.99 * d_.NoiseEstimate;
    d_.AuxLevel = 0.01 * d_.AuxLevelInput + 0.99 * d_.AuxLevel;
  } else if (d_.key[u - 1] == 0.0) {
    d_.NoiseEstimate = 0.008 * d_.NoiseInput + 0.992 * d_.NoiseEstimate;
    d_.AuxLevel = 0.01 * d_.AuxLevelInput + 0.99 * d_.AuxLevel;
  }

  const int envK = d_.env[u];
  const double quarterDot = t_.AvgDot / 4.0;
  if (d_.T < envK || d_.Timeout < quarterDot) {
    // upper[k] still holds the previous block's value here; this sample's comes later.
    d_.AuxLevel = std::min(12.0 * d_.NoiseFloor - envK / 13.0, d_.upper[u]);
  } else if (d_.Timeout > quarterDot) {
    d_.AuxLevel = 1.25 * d_.NoiseEstimate - 1.65 * d_.NoiseFloor;
  }
  d_.AuxLevel = std::max(d_.AuxLevel, d_.NoiseFloor);
  d_.aux[u] = d_.AuxLevel;
  if (d_.NoiseFloor > 0.0 && d_.NoiseEstimate > 1.0) {
    d_.NoiseContrast = 7.0 * std::log10(d_.NoiseEstimate / d_.NoiseFloor);
  }
  d_.NoiseContrast = std::max(d_.NoiseContrast, 1.0);

  const double p = d_.PeakLevel;
  switch (o_.Threshold) {
    case ThresholdMode::kNormal:
      d_.Threshold = s < 15 ? 0.4 * p : s <= 27 ? 0.445 * p : 0.375 * p;
      break;
    case ThresholdMode::kNoisy:
      d_.Threshold = s <= 24 ? 0.46 * p : 0.47 * p;
      break;
    case ThresholdMode::kQuiet:
      d_.Threshold = s <= 24 ? 0.43 * p : 0.44 * p;
      break;
    case ThresholdMode::kAuto:
      if (s < 25) {
        d_.Threshold = 0.46 * p;
      } else if (s <= 34) {
        d_.Threshold = 0.45 * p;
      }
      break;
    case ThresholdMode::kManual:
      d_.Threshold = o_.ManualThreshold();
      break;
  }
  d_.level[u] = d_.Threshold;
  d_.T = TruncToInt(d_.Threshold);
  d_.thresholdShown[u] = d_.Threshold;
  d_.floorShown[u] = d_.NoiseFloor;
}

void KeyingDetector::SpikeFilter() {
  d_.SmoothedDot = (6 * d_.SmoothedDot + t_.AvgDot) / 7;

  std::array<uint8_t, kKeyWindow> w{};
  for (int i = 0; i < kTicksPerBlock; ++i) {
    w[static_cast<size_t>(i)] = d_.previousKeys[static_cast<size_t>(i)];
    const uint8_t down = d_.key[static_cast<size_t>(i + 2)] != 0.0 ? 1 : 0;
    w[static_cast<size_t>(kTicksPerBlock + i)] = down;
    d_.previousKeys[static_cast<size_t>(i)] = down;
  }

  if (t_.SpeedWpm < 45) {
    for (int i = 0; i < kKeyWindow; ++i) {
      const size_t ui = static_cast<size_t>(i);
      if (w[ui]) {
        ++d_.RunCount;
        if (i > 0 && !w[ui - 1]) d_.RunStart = i;
        if (i == 0) {
          d_.RunStart = 0;
          d_.RunCount = 0;
        }
      } else if (i > 0 && !t_.Learning && w[ui - 1]) {
        const int sd = d_.SmoothedDot;
        const int s = t_.SpeedWpm;
        const int limit = s < 15 ? 10 * sd / 46 : s <= 28 ? 5 * sd / 23 : s <= 41 ? sd / 6 : sd / 9;
        if (d_.RunCount > 0 && i - d_.RunStart <= limit) {
          for (int j = std::max(d_.RunStart, 0); j <= i; ++j) w[static_cast<size_t>(j)] = 0;
          d_.RunCount = 0;
          d_.RunStart = i + 1;
        }
      }
    }
  }

  for (int k = 2; k <= 65; ++k) d_.keys[static_cast<size_t>(k)] = w[static_cast<size_t>(k + 30)];
}

}  // namespace kestrix
