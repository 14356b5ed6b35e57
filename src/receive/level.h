// Receive gain, the squelch measurement and the tone envelope.
//
// The gain only scales the spectrum (for the display and the squelch measurement); the
// envelope is taken from the bandpass-filtered tone-rate samples with a 35-tap quadrature
// (Hilbert) filter, one value every 16 samples. Receive-loop thread only.
#pragma once

#include <array>
#include <cstdint>

#include "receive/spectrum.h"

namespace kestrix {

inline constexpr int kEnvelopeSize = 64;
inline constexpr int kQuadratureTaps = 35;
inline constexpr int kQuadratureTail = 64;
inline constexpr int kQuadratureInput = kQuadratureTail + kToneBlockSize;  // 1088
inline constexpr int kQuadratureOutput = 1086;

enum class CoarseGain : int32_t { kX01 = 1, k1x = 2, k10x = 3, kX001 = 4 };

struct ReceiveGain {
  float GainBase = 1000.0f;  // SignalGainBar position squared times 10
  float CoarseFactor = 1e-11f;
  float SpectrumGain = 1e-8f;       // GainBase * CoarseFactor
  int32_t SignalGainPosition = 10;  // 0..20
  int32_t CoarseButton = 1;         // last coarse radio button chosen
  int32_t CoarseTrackPosition = 5;  // 1..20, last CoarseGainTrackBar position

  void SetSignalGainPosition(int position);  // clamps to 0..20
  void SetCoarseButton(CoarseGain button);
  void SetCoarseTrackPosition(int position);  // clamps to 1..20
};

// Coarse factor of CoarseGainTrackBar position 1..20.
float CoarseTrackFactor(int position);

struct Squelch {
  float NoiseAverage = 0.0f;
  float SignalAverage = 0.0f;
  int32_t SquelchRatio = 0;
  int32_t SquelchCopy = 0;  // what the AFC and the detector read

  // One measurement around bar position p on the gain-scaled spectrum.
  void Measure(const PowerSpectrumArray& spectrum, int p);
  void Reset() { SquelchRatio = SquelchCopy = 1; }
};

// Centred FIR: output j = sum over k of taps[k] * input[j + half - k], using only the
// input indices 0..count-1 (partial sums at both ends). `tapCount` must be odd.
void ConvolveCentered(const float* input, float* output, const float* taps, int tapCount,
                      int count);

class EnvelopeDetector {
 public:
  EnvelopeDetector();

  // The 35 taps; odd indices are 0 and tap[34 - i] = -tap[i].
  static const std::array<float, kQuadratureTaps>& QuadratureTaps();

  // block: the 1024 filtered tone-rate samples. Fills envelope[0..63] with
  // 32 * sqrt(in^2 + quadrature^2) taken at samples 20 + 16k of the 1088-sample input
  // (64 kept from the previous block, then this block).
  void Process(const float* block, float* envelope);

 private:
  std::array<float, kQuadratureInput> input_;
  std::array<float, kQuadratureOutput> output_;
};

}  // namespace kestrix
