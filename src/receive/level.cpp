#include "receive/level.h"

#include <algorithm>
#include <cmath>

namespace kestrix {

float CoarseTrackFactor(int position) {
  static constexpr std::array<float, 20> kFactors = {
      4e-13f, 2e-12f, 4e-12f, 2e-11f, 4e-11f, 2e-10f, 4e-10f, 2e-9f, 4e-9f, 2e-8f,
      4e-8f,  2e-7f,  4e-7f,  2e-6f,  4e-6f,  2e-5f,  4e-5f,  2e-4f, 4e-4f, 0.002f};
  const int p = std::clamp(position, 1, 20);
  return kFactors[static_cast<size_t>(p - 1)];
}

void ReceiveGain::SetSignalGainPosition(int position) {
  SignalGainPosition = std::clamp(position, 0, 20);
  GainBase = static_cast<float>(SignalGainPosition * SignalGainPosition * 10);
  SpectrumGain = GainBase * CoarseFactor;
}

void ReceiveGain::SetCoarseButton(CoarseGain button) {
  CoarseButton = static_cast<int32_t>(button);
  switch (button) {
    case CoarseGain::k10x:
      CoarseFactor = 4e-11f;
      break;
    case CoarseGain::k1x:
      CoarseFactor = 4e-12f;
      break;
    case CoarseGain::kX01:
      CoarseFactor = 4e-13f;
      break;
    case CoarseGain::kX001:
      CoarseFactor = 4e-14f;
      break;
  }
  SpectrumGain = GainBase * CoarseFactor;
}

void ReceiveGain::SetCoarseTrackPosition(int position) {
  CoarseTrackPosition = std::clamp(position, 1, 20);
  CoarseFactor = CoarseTrackFactor(CoarseTrackPosition);
  SpectrumGain = GainBase * CoarseFactor;
}

void Squelch::Measure(const PowerSpectrumArray& s, int p) {
  const float noise = std::sqrt(s[p - 5] + s[p - 4] + s[p + 4] + s[p + 5]) * 50.0f * 0.25f;
  NoiseAverage = 0.3f * noise + 0.7f * NoiseAverage;
  const float signal = std::sqrt(s[p]) * 50.0f;
  SignalAverage = 0.5f * signal + 0.5f * SignalAverage;
  if (NoiseAverage > 0.0f) {
    const float ratio = 10.0f * SignalAverage / NoiseAverage;
    SquelchRatio = static_cast<int32_t>(std::min(ratio, 2.0e9f));
  }
  SquelchCopy = SquelchRatio;
}

void ConvolveCentered(const float* input, float* output, const float* taps, int tapCount,
                      int count) {
  const int half = tapCount / 2;
  for (int j = 0; j < count; ++j) {
    // Taps k whose input index j + half - k lies in 0..count-1.
    const int kFirst = std::max(0, j + half - (count - 1));
    const int kLast = std::min(tapCount - 1, j + half);
    float sum = 0.0f;
    for (int k = kFirst; k <= kLast; ++k) sum += taps[k] * input[j + half - k];
    output[j] = sum;
  }
}

EnvelopeDetector::EnvelopeDetector() {
  input_.fill(0.0f);
  output_.fill(0.0f);
}

const std::array<float, kQuadratureTaps>& EnvelopeDetector::QuadratureTaps() {
  static const std::array<float, kQuadratureTaps> taps = [] {
    constexpr std::array<float, 9> kEven = {0.038135f, 0.024179f, 0.032403f, 0.043301f, 0.05842f,
                                            0.081119f, 0.120167f, 0.207859f, 0.635163f};
    std::array<float, kQuadratureTaps> t{};
    for (size_t i = 0; i < kEven.size(); ++i) {
      t[2 * i] = kEven[i];
      t[kQuadratureTaps - 1 - 2 * i] = -kEven[i];
    }
    return t;
  }();
  return taps;
}

void EnvelopeDetector::Process(const float* block, float* envelope) {
  std::copy(block, block + kToneBlockSize, input_.begin() + kQuadratureTail);
  ConvolveCentered(input_.data(), output_.data(), QuadratureTaps().data(), kQuadratureTaps,
                   kQuadratureOutput);
  for (int k = 0; k < kEnvelopeSize; ++k) {
    const size_t i = static_cast<size_t>(20 + 16 * k);
    envelope[k] = 32.0f * std::sqrt(input_[i] * input_[i] + output_[i] * output_[i]);
  }
  // The last 64 samples of this block open the next block's input.
  std::copy(block + kToneBlockSize - kQuadratureTail, block + kToneBlockSize, input_.begin());
}

}  // namespace kestrix
