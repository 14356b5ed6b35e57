// The decoder's state, under the names the rest of the program and the window's labels
// use. The keying detector owns DetectorState; the element timing and the character
// finisher share TimingState, which also carries the speed estimate the detector reads.
//
// Units used below:
//   tick    one envelope value: 16 samples at the tone rate, 1/64 of a capture block of
//           8192 frames; 2.90 ms at a capture rate of 44100 Hz (5.80 ms at 22050 Hz).
//   third   a third of a tick (0.97 ms at 44100 Hz). Element and gap lengths are counted
//           in thirds: TickStep (3) is added per tick. A 20 wpm dot of 60 ms is about 62.
//   level   the scale of the level series: env = 10 * (envelope - 0.75 * NoiseFloor),
//           envelope = 32 |x + i H(x)| of the bandpass-filtered tone-rate samples x (16-bit
//           sample units), so one envelope unit is 10 levels. NoiseFloor is a level but is
//           also subtracted from the raw envelope as it stands.
//   contrast  7 log10 of a level ratio: one unit is a ratio of 10^(1/7), 2.86 dB.
//   block   one capture block: 64 ticks, 185.8 ms at 44100 Hz.
//   wpm     words per minute (PARIS: a dot is 1200 / wpm ms).
// Per-tick arrays are indexed by the tick k of the block being decided (2..65 in use).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace kestrix {

inline constexpr int kTicksPerBlock = 64;
inline constexpr int kLevelSeriesSize = 67;  // env[0..66], ticks
// Look-ahead reads reach env[k + 10] for k up to 65; those past env[66] read 0.
inline constexpr int kLevelSeriesPadded = 80;
inline constexpr int kKeyWindow = 128;  // ticks: the last block's decisions, then this one's

struct DetectorState {
  // LevelSeries, levels per tick: [0..1] the last two of the previous block, [2..7] its
  // last envelope values, [8..66] this block's first 59; 67..79 always 0.
  std::array<int32_t, kLevelSeriesPadded> env{};
  double NoiseFloor = 0.0;  // levels: the floor between elements
  double PeakLevel = 0.0;   // levels: the key-down level
  // The values the averages move towards this tick (levels).
  double FloorInput = 1.0;
  double PeakInput = 1.0;
  double AuxFloor = 0.0;  // levels: a second floor, tracked like NoiseFloor
  double AuxFloorInput = 1.0;
  double NoiseEstimate = 0.0;  // levels: the noise peaks between elements
  double NoiseInput = 1.0;
  double AuxLevel = 0.0;  // levels: the late-start reference
  double AuxLevelInput = 0.0;
  double Contrast = 0.0;       // contrast units: PeakLevel over NoiseFloor, smoothed
  double NoiseContrast = 0.0;  // contrast units: NoiseEstimate over NoiseFloor, at least 1
  double Threshold = 0.0;      // levels: the decision threshold
  int32_t T = 0;               // levels: integer part of Threshold as last taken

  // Per-tick copies for the current block (index = tick k).
  std::array<double, 66> level{};           // levels: the decision level
  std::array<double, 66> upper{};           // levels: 1.75 or 2 times NoiseFloor
  std::array<double, 66> aux{};             // levels: AuxLevel
  std::array<double, 66> floor10{};         // levels: 10 times NoiseFloor
  std::array<double, 66> key{};             // 1.0 key down, 0.0 key up
  std::array<double, 66> peakShown{};       // levels: PeakLevel as stored for the displays
  std::array<double, 66> thresholdShown{};  // levels: Threshold after each step (timeline)
  std::array<double, 66> floorShown{};      // levels: NoiseFloor after each step (timeline)

  // Envelope values (envelope units, not levels) carried into the next block: m[53..62]
  // of the last block.
  std::array<float, 10> keptEnvelope{};

  uint8_t IdleFlag = 1;       // 1 after no key down for the idle limit (100..700 ticks)
  int32_t Timeout = 0;        // ticks since the level was last above T
  int32_t SnrLossCount = 0;   // ticks of strong contrast with a poor squelch figure
  int32_t RunawayCount = 0;   // ticks with a code grown past seven elements
  int32_t SnrResetCount = 0;  // idle ticks with a squelch figure above 60

  // Spike filter.
  int32_t RunStart = 2;     // ticks: where the current key-down run began in the key window
  int32_t RunCount = 0;     // ticks of key down in the current run
  int32_t SmoothedDot = 0;  // thirds: AvgDot smoothed once per block (weight 1/7)
  std::array<uint8_t, kTicksPerBlock> previousKeys{};  // raw decisions of the last block

  // Key states (1 down, 0 up) handed to the element timing: keys[k] for k = 2..65,
  // 32 ticks behind the decisions.
  std::array<uint8_t, 66> keys{};
};

// The counters SaveCounters snapshots.
// Lengths are in thirds of a tick.
struct TimingCheckpoint {
  int32_t TickStep = 3;     // thirds added per tick
  int32_t Counterdot = 0;   // history slot (0, 1) the next dot replaces; 1 = learnt pair
  int32_t Counterdash = 0;  // the same for dashes
  std::array<int32_t, 2> DotHistory{};   // thirds: the last two dots
  std::array<int32_t, 2> DashHistory{};  // thirds: the last two dashes
  int32_t Sumdots = 0;                   // thirds: the sum of DotHistory
  int32_t SumDashes = 0;                 // thirds: the sum of DashHistory
  int32_t AvgDot = 0;                    // thirds: Sumdots / 2
  int32_t AvgDash = 0;                   // thirds: SumDashes / 2
  // Events for the character finisher, 1 until it takes them.
  int32_t DotFlag = 0;
  int32_t DashFlag = 0;
  int32_t CharEndFlag = 0;
  int32_t OnCounter = 0;      // thirds: the key-down run so far
  int32_t OffCounter = 0;     // thirds: the key-up run so far
  int32_t LearnFirst = 0;     // thirds: the key-down run learning compares the next one with
  int32_t ElementCode = 0;    // the character so far: 2^j for every dot at element j
  int32_t ElementWeight = 1;  // 2^(elements so far), at most 2^30
};

struct TimingState : TimingCheckpoint {
  int32_t DotDash = 0;         // dashes minus dots since it was last cleared (every 4 blocks)
  bool Learning = true;        // measuring key-down runs for a first dot/dash pair
  int32_t SpaceState = 0;      // 0 in a character, 1 word gap seen, 2 its space given
  int32_t RawWpm = 0;          // wpm: 3960 / (AvgDash + 1), once per block
  int32_t SpeedWpm = 0;        // wpm: RawWpm as the decoder uses it (smoothed, held, capped)
  int32_t LockedWpm = 15;      // wpm kept by Lock WPM
  bool DirectSpeed = true;     // SpeedWpm follows RawWpm without smoothing
  int32_t DirectCount = 0;     // blocks of direct following so far (16 at most)
  int32_t OverSpeedCount = 0;  // blocks in a row above 50 wpm
  int32_t LastGoodSpeed = 0;   // wpm: the last speed of 50 or less
  int32_t RatioCount = 0;      // blocks since the dash/dot ratio was last checked
  int32_t BlockCounter = 0;    // blocks since the start
  int32_t ShownWpm = 0;        // wpm last written to the "Rec WPM" label

  // Character finisher.
  uint8_t DecodedChar = 0;   // Windows-1252 byte of the last character, 0 for none
  int32_t LastWasSpace = 0;  // 1 when the last code was a word space
  int32_t CodeLetter = -1;   // last finished code shown on the CODE label (-1: none yet)

  // Starts out holding the start-up values, so a restore before the first finished
  // character brings back a working decoder rather than a zero tick step.
  TimingCheckpoint Saved{};
};

}  // namespace kestrix
