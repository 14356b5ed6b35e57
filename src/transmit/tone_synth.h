// The tone step of the sound-card keyer: a sine or square tone at the side-tone frequency,
// multiplied sample by sample by the key mask, as 16-bit little-endian samples.
//
// The arithmetic is single precision on purpose, so a rendered recording is the same on
// every machine: omega = f * 6.28318 / 44100.0 held as a float, t = sinf(n * omega) with n
// the run's sample counter (a float), the square wave +1 when t > 0 and -1 otherwise, and
// the sample (15000 * t) truncated toward zero, times the mask byte.
#pragma once

#include <cstdint>

namespace kestrix::transmit {

inline constexpr float kToneAmplitude = 15000.0f;
inline constexpr int32_t kToneBlockSamples = 4096;  // 92.9 ms at 44100 Hz
inline constexpr int32_t kToneSampleRate = 44100;

enum class ToneWaveform : int32_t { kSine = 0, kSquare = 1 };

// The phase step per sample, radians, for `hz`.
float ToneOmega(float hz);

// One sample's value before the mask: n is the run's sample counter.
int16_t ToneSample(float n, float omega, ToneWaveform waveform);

// Writes `count` samples to `out` (2 * count bytes, little-endian): sample i is
// ToneSample(phase + i) times mask[i]. `phase` counts on by `count`.
void SynthesizeTone(const uint8_t* mask, int32_t count, float omega, ToneWaveform waveform,
                    float& phase, uint8_t* out);

}  // namespace kestrix::transmit
