// Stand-in until the decoder proper lands: the interface links and decodes nothing.
#include "soft/soft_decoder.h"

namespace kestrix::soft {

struct SoftDecoder::Impl {
  SoftDecoderConfig config;
  int64_t seen = 0;
  std::string text;
};

SoftDecoder::SoftDecoder(const SoftDecoderConfig& config) : impl_(std::make_unique<Impl>()) {
  impl_->config = config;
}
SoftDecoder::~SoftDecoder() = default;
void SoftDecoder::Process(const std::complex<float>*, size_t count) {
  impl_->seen += static_cast<int64_t>(count);
}
void SoftDecoder::Flush() {}
void SoftDecoder::Reset() {
  impl_->seen = 0;
  impl_->text.clear();
}
size_t SoftDecoder::TakeText(std::string& out) {
  size_t n = impl_->text.size();
  out += impl_->text;
  impl_->text.clear();
  return n;
}
SoftSignalState SoftDecoder::State() const {
  return {};
}
const SoftDecoderConfig& SoftDecoder::Config() const {
  return impl_->config;
}
int64_t SoftDecoder::SamplesSeen() const {
  return impl_->seen;
}

struct AudioSoftDecoder::Impl {
  explicit Impl(const SoftDecoderConfig& c) : decoder(c) {}
  SoftDecoder decoder;
};
AudioSoftDecoder::AudioSoftDecoder(double, double, const SoftDecoderConfig& config)
    : impl_(std::make_unique<Impl>(config)) {}
AudioSoftDecoder::~AudioSoftDecoder() = default;
void AudioSoftDecoder::Process(const float*, size_t) {}
void AudioSoftDecoder::Flush() {}
void AudioSoftDecoder::Reset() {
  impl_->decoder.Reset();
}
size_t AudioSoftDecoder::TakeText(std::string& out) {
  return impl_->decoder.TakeText(out);
}
SoftDecoder& AudioSoftDecoder::Decoder() {
  return impl_->decoder;
}

}  // namespace kestrix::soft
