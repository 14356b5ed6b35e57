// Element timing and speed tracking: key states in, dot/dash/character-end flags out.
//
// Interval lengths are counted in thirds of a tick (TickStep = 3 per tick; a tick is
// 2.90 ms at a 44100 Hz capture, see decoder/state.h). The first dot
// and dash are learnt from a pair of key-down intervals with a ratio above 2; afterwards
// each interval is classified against the running averages of the last two dots and
// dashes. The speed in wpm follows from the dash average. Receive-loop thread only.
#pragma once

#include "decoder/options.h"
#include "decoder/state.h"

namespace kestrix {

class ElementTiming {
 public:
  ElementTiming(TimingState& state, const ReceiveOptions& options) : t_(state), o_(options) {}

  // While learning: measure key-down intervals until a dot/dash pair is found.
  void LearnStep(bool down);
  // After learning: classify intervals, raise DotFlag / DashFlag / CharEndFlag.
  void Classify(bool down);
  // Long pause: finishes the pending character, later yields a word space.
  void WordSpaceStep();

  // After the 64 ticks of a block. `blockCount` advances here.
  void PerBlockChecks();
  // `avgDash` in thirds of a tick; sets RawWpm and SpeedWpm (wpm).
  void SpeedUpdate(int avgDash);

  void SaveCounters();
  void RestoreCounters();
  void RestartLearning();
  // CLEAR in Text mode (the detector's part is KeyingDetector::LevelReset).
  void DecoderReset();

  // Lock WPM: switching on keeps the current speed.
  void SetLockWpm(bool on, ReceiveOptions& options);

 private:
  TimingState& t_;
  const ReceiveOptions& o_;
};

}  // namespace kestrix
