// Real audio to the decoder's complex baseband: mixed down by the tone, low-passed by a
// windowed-sinc filter and decimated by a whole factor.
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

}  // namespace

struct AudioSoftDecoder::Impl {
  Impl(double audioRate, double toneHz, const SoftDecoderConfig& config)
      : factor(Factor(audioRate, config.sampleRate)),
        decoder(AtRate(config, factor, audioRate)),
        step(std::polar(1.0, -2.0 * std::numbers::pi * toneHz / audioRate)) {
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
    phase = {1.0, 0.0};
    count = 0;
  }

  int factor;
  SoftDecoder decoder;
  std::complex<double> step;
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
    d.history[d.pos] = static_cast<double>(audio[i]) * d.phase;
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

}  // namespace kestrix::soft
