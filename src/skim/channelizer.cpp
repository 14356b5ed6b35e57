#include "skim/channelizer.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "skim/filter_design.h"

namespace kestrix::skim {

namespace {
// Frames computed per slide of the history buffer.
constexpr size_t kSlackFrames = 64;
}  // namespace

Channelizer::Channelizer(const ChannelizerConfig& config) : inputRate_(config.inputRate) {
  // An even channel count whose output rate (2 * spacing) is nearest the wanted rate.
  const double wantSpacing = std::max(config.outputRate, 20.0) / 2.0;
  m_ = std::max(4, 2 * static_cast<int>(std::lround(inputRate_ / wantSpacing / 2.0)));
  d_ = m_ / 2;
  const double spacing = Spacing();
  double pass = config.passHz > 0.0 ? config.passHz : spacing / 2.0 + 0.32 * spacing;
  pass = std::min(pass, 0.95 * spacing);
  const double stop = 2.0 * spacing - pass;
  const int length = KaiserLength(stop - pass, inputRate_, config.stopDb);
  p_ = std::max(2, (length + m_ - 1) / m_);
  const int taps = p_ * m_;
  // The odd-length design centred in an even-length bank: one zero tap at the end.
  std::vector<float> h = KaiserLowPass(taps - 1, (pass + stop) / 2.0, inputRate_, config.stopDb);
  h.push_back(0.0f);
  taps2_.resize(static_cast<size_t>(taps) * 2);
  for (int i = 0; i < taps; ++i) {
    const float g = h[static_cast<size_t>(taps - 1 - i)];
    taps2_[2 * static_cast<size_t>(i)] = g;
    taps2_[2 * static_cast<size_t>(i) + 1] = g;
  }
  buf_.assign(static_cast<size_t>(taps) + kSlackFrames * static_cast<size_t>(d_), {});
  fft_ = std::make_unique<ComplexFft>(m_, true, config.measure);
  out_.resize(static_cast<size_t>(m_));
  Reset();
}

double Channelizer::CentreHz(int k) const {
  const int kk = k >= m_ / 2 ? k - m_ : k;
  return kk * Spacing();
}

int Channelizer::ChannelFor(double offsetHz) const {
  long k = std::lround(offsetHz / Spacing());
  k %= m_;
  if (k < 0) k += m_;
  return static_cast<int>(k);
}

void Channelizer::Reset() {
  std::fill(buf_.begin(), buf_.end(), std::complex<float>{});
  // The first window ends on the first input sample.
  pos_ = 0;
  fill_ = static_cast<size_t>(p_) * m_ - 1;
  frames_ = 0;
}

void Channelizer::Push(const std::complex<float>* in, size_t count, FrameSink& sink) {
  while (count > 0) {
    const size_t room = buf_.size() - fill_;
    const size_t n = std::min(room, count);
    std::copy(in, in + n, buf_.begin() + static_cast<std::ptrdiff_t>(fill_));
    fill_ += n;
    in += n;
    count -= n;
    RunFrames(sink);
  }
}

void Channelizer::PushReal(const float* in, size_t count, FrameSink& sink) {
  while (count > 0) {
    const size_t room = buf_.size() - fill_;
    const size_t n = std::min(room, count);
    for (size_t i = 0; i < n; ++i) buf_[fill_ + i] = {in[i], 0.0f};
    fill_ += n;
    in += n;
    count -= n;
    RunFrames(sink);
  }
}

void Channelizer::RunFrames(FrameSink& sink) {
  const size_t length = static_cast<size_t>(p_) * m_;
  const size_t m2 = 2 * static_cast<size_t>(m_);
  while (fill_ - pos_ >= length) {
    // v[r] = sum_p g[r + pM] x[r + pM]: P passes over 2M floats each, which the compiler
    // turns into straight vector multiply-adds.
    float* v = reinterpret_cast<float*>(fft_->In());
    const float* x = reinterpret_cast<const float*>(buf_.data() + pos_);
    const float* g = taps2_.data();
    for (size_t i = 0; i < m2; ++i) v[i] = g[i] * x[i];
    for (int p = 1; p < p_; ++p) {
      const float* gp = g + static_cast<size_t>(p) * m2;
      const float* xp = x + static_cast<size_t>(p) * m2;
      for (size_t i = 0; i < m2; ++i) v[i] += gp[i] * xp[i];
    }
    fft_->Execute();
    // Channel k's mixer has turned by pi*k per frame (the hop is half the FFT size): odd
    // channels of odd frames change sign.
    const std::complex<float>* y = fft_->Out();
    if ((frames_ & 1) == 0) {
      std::copy(y, y + m_, out_.begin());
    } else {
      for (int k = 0; k < m_; k += 2) {
        out_[static_cast<size_t>(k)] = y[k];
        out_[static_cast<size_t>(k) + 1] = -y[k + 1];
      }
    }
    ++frames_;
    pos_ += static_cast<size_t>(d_);
    sink.OnFrame(out_.data());
  }
  if (buf_.size() - fill_ < static_cast<size_t>(d_)) {
    // Slide what the next windows need to the front.
    const size_t keep = fill_ - pos_;
    std::memmove(static_cast<void*>(buf_.data()), buf_.data() + pos_,
                 keep * sizeof(std::complex<float>));
    pos_ = 0;
    fill_ = keep;
  }
}

}  // namespace kestrix::skim
