// Real audio to the decoder's complex baseband: mixed down by the tone, low-passed by a
// windowed-sinc filter and decimated by a whole factor.
#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "soft/soft_decoder.h"

namespace kestrix::soft {
namespace {

SoftDecoderConfig AtRate(SoftDecoderConfig config, int factor, double audioRate) {
  config.sampleRate = audioRate / factor;
  return config;
}

int Factor(double audioRate, double target) {
  return std::max(1, static_cast<int>(std::lround(audioRate / std::max(target, 50.0))));
}

// Static crashes and clicks: a burst of a few milliseconds far over the audio's mean power
// is set to zero before it reaches the narrow filter, where it would ring into an element.
// A burst that lasts longer is a real change of level (a strong station keying after
// silence): the level takes it and nothing more is blanked.
class Blanker {
 public:
  explicit Blanker(double rate)
      : follow_(1.0 / (1.0 * rate)),
        hold_(static_cast<int>(std::lround(0.001 * rate))),
        longest_(static_cast<int>(std::lround(0.008 * rate))),
        warmUp_(static_cast<int>(std::lround(0.1 * rate))) {}

  double Next(double x) {
    const double p = x * x;
    if (warmUp_ > 0) {
      --warmUp_;
      level_ += (p - level_) / std::max(1, warmUp_);
      return x;
    }
    if (p > kOverLevel * level_) {
      if (run_ == 0) burstPower_ = 0.0;
      left_ = hold_;
    }
    if (left_ > 0) {
      --left_;
      burstPower_ += p;
      if (++run_ <= longest_) return 0.0;
      // Too long for a click: a new level.
      level_ = std::max(level_, burstPower_ / run_);
      left_ = 0;
    }
    run_ = 0;
    level_ += follow_ * (p - level_);
    return x;
  }

  void Reset() {
    level_ = 0.0;
    left_ = run_ = 0;
  }

 private:
  static constexpr double kOverLevel = 100.0;  // 20 dB over the mean power
  double follow_;
  int hold_;     // samples blanked after the last one over the level
  int longest_;  // a burst longer than this is no click
  int warmUp_;
  double level_ = 0.0;
  double burstPower_ = 0.0;
  int left_ = 0;
  int run_ = 0;
};

}  // namespace

struct AudioSoftDecoder::Impl {
  Impl(double audioRate, double toneHz, const SoftDecoderConfig& config)
      : factor(Factor(audioRate, config.sampleRate)),
        decoder(AtRate(config, factor, audioRate)),
        step(std::polar(1.0, -2.0 * std::numbers::pi * toneHz / audioRate)),
        blanker(audioRate) {
    // Four output periods of taps, cut off at 0.4 of the output rate, Blackman window.
    const int taps = 4 * factor + 1;
    const double cutoff = 0.4 / factor;  // of the audio rate
    taps_.resize(static_cast<size_t>(taps));
    double sum = 0.0;
    for (int k = 0; k < taps; ++k) {
      const double m = k - (taps - 1) / 2.0;
      const double sinc =
          m == 0 ? 2 * cutoff
                 : std::sin(2 * std::numbers::pi * cutoff * m) / (std::numbers::pi * m);
      const double w = 0.42 - 0.5 * std::cos(2 * std::numbers::pi * k / (taps - 1)) +
                       0.08 * std::cos(4 * std::numbers::pi * k / (taps - 1));
      taps_[static_cast<size_t>(k)] = sinc * w;
      sum += sinc * w;
    }
    for (double& t : taps_) t /= sum;
    history.assign(taps_.size(), {});
  }

  void Reset() {
    decoder.Reset();
    std::fill(history.begin(), history.end(), std::complex<double>{});
    pos = 0;
    blanker.Reset();
    phase = {1.0, 0.0};
    count = 0;
  }

  int factor;
  SoftDecoder decoder;
  std::complex<double> step;
  Blanker blanker;
  std::complex<double> phase{1.0, 0.0};
  std::vector<double> taps_;
  std::vector<std::complex<double>> history;  // mixed samples, ring
  size_t pos = 0;
  int count = 0;
  int64_t renorm = 0;
};

AudioSoftDecoder::AudioSoftDecoder(double audioRate, double toneHz, const SoftDecoderConfig& config)
    : impl_(std::make_unique<Impl>(audioRate, toneHz, config)) {}
AudioSoftDecoder::~AudioSoftDecoder() = default;

void AudioSoftDecoder::Process(const float* audio, size_t count) {
  Impl& d = *impl_;
  const size_t n = d.history.size();
  for (size_t i = 0; i < count; ++i) {
    d.history[d.pos] = d.blanker.Next(static_cast<double>(audio[i])) * d.phase;
    d.pos = d.pos + 1 == n ? 0 : d.pos + 1;
    d.phase *= d.step;
    if (++d.renorm == 4096) {
      d.phase /= std::abs(d.phase);
      d.renorm = 0;
    }
    if (++d.count == d.factor) {
      d.count = 0;
      std::complex<double> acc{};
      size_t j = d.pos;  // oldest
      for (size_t k = 0; k < n; ++k) {
        acc += d.taps_[k] * d.history[j];
        j = j + 1 == n ? 0 : j + 1;
      }
      const std::complex<float> out(static_cast<float>(acc.real()), static_cast<float>(acc.imag()));
      d.decoder.Process(&out, 1);
    }
  }
}

void AudioSoftDecoder::Flush() {
  impl_->decoder.Flush();
}
void AudioSoftDecoder::Reset() {
  impl_->Reset();
}
size_t AudioSoftDecoder::TakeText(std::string& out) {
  return impl_->decoder.TakeText(out);
}
SoftDecoder& AudioSoftDecoder::Decoder() {
  return impl_->decoder;
}

bool ToneStandsOut(const float* audio, size_t count, double audioRate, double toneHz) {
  constexpr int kReferences = 40;
  constexpr double kOverMedian = 10.0;  // 10 dB
  const size_t piece = static_cast<size_t>(0.05 * audioRate);
  const size_t needed = static_cast<size_t>(std::ceil(0.3 / 0.05));
  if (piece == 0 || toneHz <= 0.0) return false;
  std::array<double, kReferences + 1> hz{};
  hz[0] = toneHz;
  for (int k = 0, n = 1; n <= kReferences; ++k) {
    const double f = 300.0 + k * 2500.0 / (kReferences + 4);
    if (std::fabs(f - toneHz) > 100.0) hz[static_cast<size_t>(n++)] = f;
  }
  std::array<double, kReferences + 1> coeff{};
  for (size_t i = 0; i < hz.size(); ++i)
    coeff[i] = 2.0 * std::cos(2.0 * std::numbers::pi * hz[i] / audioRate);
  size_t standing = 0;
  std::array<double, kReferences + 1> power{};
  for (size_t at = 0; at + piece <= count && standing < needed; at += piece) {
    // Goertzel at every frequency over the piece.
    for (size_t i = 0; i < hz.size(); ++i) {
      double s1 = 0.0;
      double s2 = 0.0;
      for (size_t n = 0; n < piece; ++n) {
        const double s0 = audio[at + n] + coeff[i] * s1 - s2;
        s2 = s1;
        s1 = s0;
      }
      power[i] = s1 * s1 + s2 * s2 - coeff[i] * s1 * s2;
    }
    std::nth_element(power.begin() + 1, power.begin() + 1 + kReferences / 2, power.end());
    if (power[0] > kOverMedian * power[1 + kReferences / 2]) ++standing;
  }
  return standing >= needed;
}

}  // namespace kestrix::soft
