#include "transmit/tone_synth.h"

#include <cmath>

namespace kestrix::transmit {

float ToneOmega(float hz) {
  // The product in double as written (f * 6.28318 / 44100.0), then held as a float.
  return static_cast<float>(static_cast<double>(hz) * 6.28318 / 44100.0);
}

int16_t ToneSample(float n, float omega, ToneWaveform waveform) {
  const float angle = n * omega;
  float t = std::sin(angle);
  if (waveform == ToneWaveform::kSquare) t = t > 0.0f ? 1.0f : -1.0f;
  // Conversion truncates toward zero; |15000 t| fits 16 bits.
  return static_cast<int16_t>(kToneAmplitude * t);
}

void SynthesizeTone(const uint8_t* mask, int32_t count, float omega, ToneWaveform waveform,
                    float& phase, uint8_t* out) {
  for (int32_t i = 0; i < count; ++i) {
    const int32_t value = static_cast<int32_t>(ToneSample(phase, omega, waveform)) * mask[i];
    const auto bits = static_cast<uint16_t>(static_cast<int16_t>(value));
    out[2 * i] = static_cast<uint8_t>(bits & 0xFF);
    out[2 * i + 1] = static_cast<uint8_t>(bits >> 8);
    phase += 1.0f;
  }
}

}  // namespace kestrix::transmit
