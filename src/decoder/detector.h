// The keying detector: from 64 envelope values per block to 64 key states.
//
// It converts the envelope to integer levels against the noise floor, tracks the floor,
// the key-down level and the noise, sets the decision threshold by the threshold mode,
// decides key down or up for each sample, removes short spikes and hands the decisions on
// delayed by 32 ticks. Two recovery rules watch for a lost signal and for runaway codes.
// Levels, ticks and contrast units as decoder/state.h defines them: a tick is one envelope
// value (2.90 ms at a 44100 Hz capture), a level a tenth of an envelope unit above three
// quarters of the noise floor. Receive-loop thread only; no allocation.
#pragma once

#include "decoder/options.h"
#include "decoder/state.h"

namespace kestrix {

class KeyingDetector {
 public:
  KeyingDetector(DetectorState& state, TimingState& timing, const ReceiveOptions& options)
      : d_(state), t_(timing), o_(options) {}

  // START: the values the detector starts a receive run with.
  void StartValues();

  // CLEAR in Text mode: floor cut back, peak and threshold from it, not idle.
  void LevelReset();

  // One block: envelope[0..63] (envelope units, one per tick) and the squelch figure (the
  // ratio Squelch::Measure gives, 20 for equal power in the tone and its neighbours).
  // Leaves the delayed key states in state.keys[2..65].
  void ProcessBlock(const float* envelope, int squelchRatio);

  // The integer shown on the AvgSignalCntr label: Contrast, or NoiseContrast while idle
  // (contrast units).
  int AvgSignalCount() const;

 private:
  void ConvertLevels(const float* envelope);
  void Decide(int k, int squelchRatio);
  void UpdateLevels(int k, int x);
  void SpikeFilter();

  DetectorState& d_;
  TimingState& t_;
  const ReceiveOptions& o_;
};

// Truncation toward zero into 32 bits, saturating instead of overflowing.
int32_t TruncToInt(double v);

}  // namespace kestrix
