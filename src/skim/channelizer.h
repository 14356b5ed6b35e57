// The band split into narrow overlapping channels: a 2x oversampled polyphase filter bank
// through FFTW.
//
// M channels are spaced Fs/M apart and each comes out at Fs/(M/2) complex samples per
// second (twice the spacing), so a signal anywhere in the band lies within a quarter of the
// output rate of the nearest channel's centre and its keying sidebands pass unaliased.
// Channel k is centred on k * Spacing() Hz (k >= M/2 are the negative frequencies); its
// output is that part of the band mixed down to 0 Hz, with unity gain for a tone at the
// centre (a tone of amplitude A comes out with amplitude A).
//
// The prototype low-pass is flat to `passHz` and at least `stopDb` down from
// 2*Spacing() - passHz on, so nothing aliases into the +-passHz each channel's users read.
//
// Costs per input sample: P real-by-complex multiply-adds (P = taps per branch, about a
// dozen) and an M-point FFT every M/2 samples. Memory is taken at construction; Push never
// allocates. One thread at a time.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "skim/fftw_plan.h"

namespace kestrix::skim {

struct ChannelizerConfig {
  double inputRate = 192000.0;  // complex samples per second
  double outputRate = 250.0;    // wanted rate per channel; the bank picks the nearest it can
  double passHz = 0.0;          // flat band around each centre; 0 = spacing/2 + 40 Hz
  double stopDb = 70.0;         // stop-band attenuation of the prototype
  bool measure = true;          // let FFTW time its plans (slower to build)
};

class Channelizer {
 public:
  explicit Channelizer(const ChannelizerConfig& config);
  Channelizer(const Channelizer&) = delete;
  Channelizer& operator=(const Channelizer&) = delete;

  int Channels() const { return m_; }
  int Decimation() const { return d_; }
  int TapsPerBranch() const { return p_; }
  double InputRate() const { return inputRate_; }
  double Spacing() const { return inputRate_ / m_; }
  double OutputRate() const { return inputRate_ / d_; }
  // Centre of channel `k` in Hz from the band centre, in [-Fs/2, Fs/2).
  double CentreHz(int k) const;
  // The channel whose centre is nearest to `offsetHz` (Hz from the band centre).
  int ChannelFor(double offsetHz) const;
  // Input samples between an input sample and the output frame that centres on it.
  double DelaySamples() const { return (static_cast<double>(m_) * p_ - 1.0) / 2.0; }

  // Receives every output frame: Channels() values, channel k at [k].
  class FrameSink {
   public:
    virtual ~FrameSink() = default;
    virtual void OnFrame(const std::complex<float>* channels) = 0;
  };

  // Feeds `count` input samples; calls `sink` once per completed frame, in order.
  void Push(const std::complex<float>* in, size_t count, FrameSink& sink);
  // Real input (a receiver's audio) taken as complex with a zero imaginary part.
  void PushReal(const float* in, size_t count, FrameSink& sink);
  // Frames produced since construction or Reset.
  int64_t Frames() const { return frames_; }
  void Reset();

 private:
  void RunFrames(FrameSink& sink);

  double inputRate_;
  int m_ = 0;                             // channels (FFT size)
  int d_ = 0;                             // decimation, m_/2
  int p_ = 0;                             // taps per branch
  std::vector<float> taps2_;              // time-reversed prototype, each tap twice (re, im)
  std::vector<std::complex<float>> buf_;  // input history
  size_t pos_ = 0;                        // start of the next frame's window in buf_
  size_t fill_ = 0;                       // samples held in buf_
  int64_t frames_ = 0;
  std::unique_ptr<ComplexFft> fft_;
  std::vector<std::complex<float>> out_;
};

}  // namespace kestrix::skim
