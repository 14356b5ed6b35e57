// A complex single-precision FFT through FFTW3 (fftw3f), with the planner guarded.
//
// FFTW's planner is not thread-safe; every plan the skimmer makes or destroys goes through
// one lock here, so two skimmers (the band map's worker and a test) may be built on
// different threads. Executing a plan needs no lock. The buffers are FFTW's own aligned
// memory, taken once at construction.
#pragma once

#include <complex>
#include <cstddef>

namespace kestrix::skim {

class ComplexFft {
 public:
  // `size` points; `forward` picks the sign (forward: exp(-j...)). `measure` lets FFTW time
  // candidate algorithms (slower to build, faster to run) instead of estimating; what it
  // learns is kept in $XDG_CACHE_HOME/kestrix/fftwf-wisdom (else ~/.cache/...) for the
  // next run.
  ComplexFft(int size, bool forward, bool measure);
  ~ComplexFft();
  ComplexFft(const ComplexFft&) = delete;
  ComplexFft& operator=(const ComplexFft&) = delete;

  int Size() const { return size_; }
  std::complex<float>* In() { return in_; }
  const std::complex<float>* Out() const { return out_; }
  std::complex<float>* Out() { return out_; }
  // Out = DFT(In), unnormalised.
  void Execute();

 private:
  int size_;
  std::complex<float>* in_ = nullptr;
  std::complex<float>* out_ = nullptr;
  void* plan_ = nullptr;
};

}  // namespace kestrix::skim
