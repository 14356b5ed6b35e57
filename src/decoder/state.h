// The decoder's state, under the names the rest of the program and the window's labels
// use. The keying detector owns DetectorState; the element timing and the character
// finisher share TimingState, which also carries the speed estimate the detector reads.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrix {

inline constexpr int kTicksPerBlock = 64;
inline constexpr int kLevelSeriesSize = 67;  // env[0..66]
// Look-ahead reads reach env[k + 10] for k up to 65; those past env[66] read 0.
inline constexpr int kLevelSeriesPadded = 80;
inline constexpr int kKeyWindow = 128;

struct DetectorState {
  std::array<int32_t, kLevelSeriesPadded> env{};  // LevelSeries; 67..79 always 0
  double NoiseFloor = 0.0;
  double PeakLevel = 0.0;
  double FloorInput = 1.0;
  double PeakInput = 1.0;
  double AuxFloor = 0.0;
  double AuxFloorInput = 1.0;
  double NoiseEstimate = 0.0;
  double NoiseInput = 1.0;
  double AuxLevel = 0.0;
  double AuxLevelInput = 0.0;
  double Contrast = 0.0;
  double NoiseContrast = 0.0;
  double Threshold = 0.0;
  int32_t T = 0;  // integer part of Threshold as last taken

  // Per-sample copies for the current block (index = sample k).
  std::array<double, 66> level{};
  std::array<double, 66> upper{};
  std::array<double, 66> aux{};
  std::array<double, 66> floor10{};
  std::array<double, 66> key{};
  std::array<double, 66> peakShown{};       // PeakLevel as stored for the displays
  std::array<double, 66> thresholdShown{};  // Threshold after each step (timeline)
  std::array<double, 66> floorShown{};      // NoiseFloor after each step (timeline)

  // Envelope values carried into the next block: m[53..62] of the last block.
  std::array<float, 10> keptEnvelope{};

  uint8_t IdleFlag = 1;
  int32_t Timeout = 0;
  int32_t SnrLossCount = 0;
  int32_t RunawayCount = 0;
  int32_t SnrResetCount = 0;

  // Spike filter.
  int32_t RunStart = 2;
  int32_t RunCount = 0;
  int32_t SmoothedDot = 0;
  std::array<uint8_t, kTicksPerBlock> previousKeys{};  // raw decisions of the last block

  // Key states handed to the element timing: keys[k] for k = 2..65 (delayed 32 ticks).
  std::array<uint8_t, 66> keys{};
};

// The counters SaveCounters snapshots.
struct TimingCheckpoint {
  int32_t TickStep = 3;
  int32_t Counterdot = 0;
  int32_t Counterdash = 0;
  std::array<int32_t, 2> DotHistory{};
  std::array<int32_t, 2> DashHistory{};
  int32_t Sumdots = 0;
  int32_t SumDashes = 0;
  int32_t AvgDot = 0;
  int32_t AvgDash = 0;
  int32_t DotFlag = 0;
  int32_t DashFlag = 0;
  int32_t CharEndFlag = 0;
  int32_t OnCounter = 0;
  int32_t OffCounter = 0;
  int32_t LearnFirst = 0;
  int32_t ElementCode = 0;
  int32_t ElementWeight = 1;
};

struct TimingState : TimingCheckpoint {
  int32_t DotDash = 0;
  bool Learning = true;
  int32_t SpaceState = 0;
  int32_t RawWpm = 0;
  int32_t SpeedWpm = 0;
  int32_t LockedWpm = 15;
  bool DirectSpeed = true;
  int32_t DirectCount = 0;
  int32_t OverSpeedCount = 0;
  int32_t LastGoodSpeed = 0;
  int32_t RatioCount = 0;
  int32_t BlockCounter = 0;
  int32_t ShownWpm = 0;  // the speed last written to the "Rec WPM" label

  // Character finisher.
  uint8_t DecodedChar = 0;
  int32_t LastWasSpace = 0;
  int32_t CodeLetter = -1;  // last finished code shown on the CODE label (-1: none yet)

  // Starts out holding the start-up values, so a restore before the first finished
  // character brings back a working decoder rather than a zero tick step.
  TimingCheckpoint Saved{};
};

}  // namespace kestrix
