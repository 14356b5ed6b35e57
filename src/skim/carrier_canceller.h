// A steady carrier (a birdie, a receiver's own spur) taken out of one signal's baseband.
//
// A birdie within a few hertz of a station is as loud all the time as the station is when
// keyed: the decoder sees a key that never lifts and locks at its slowest speed, and the
// finder, which sees one peak for both, starts no second decoder. The canceller follows
// the carrier's phasor (amplitude, phase and a frequency offset within +-15 Hz of the
// chain's centre) from the samples in which nothing else is keyed, and subtracts it. The
// frequency comes first from the mean turn between quiet samples (the carrier is most of
// them), then from a phase loop on the phasor.
//
// It learns only from quiet samples (within a few times the noise of the residual's lower
// quantile), and it subtracts only once the phasor it learnt stands well over that noise:
// a keyed station alone leaves its key-up samples to learn from, whose mean is nothing,
// and is passed unchanged.
//
// No allocation, one thread. Per sample: a handful of complex multiply-adds.
#pragma once

#include <complex>

namespace kestrix::skim {

class CarrierCanceller {
 public:
  // `rate`: samples per second of the baseband.
  explicit CarrierCanceller(double rate);

  std::complex<float> Process(std::complex<float> x);
  void Reset();
  // The baseband is about to be fed again from `samples` samples back (a decoder's restart
  // from the channel history): the carrier's phase is turned back to match, and on by
  // `extraTurn` radians (a mixer before it that is not turned back).
  void Rewind(double samples, double extraTurn = 0.0);
  // The mixer in front of it moved by `hz`: a carrier it follows moves the other way in the
  // baseband, and is followed there without being learnt again.
  void Retune(double hz);
  // Whether a carrier is being subtracted now.
  bool Active() const { return active_; }
  // Its offset from 0 Hz, Hz.
  double OffsetHz() const;

 private:
  double rate_;
  double alpha_;  // phasor update per quiet sample
  double beta_;   // frequency update per quiet sample, locked
  double gamma_;  // the same while acquiring
  double maxStep_;
  std::complex<double> phasor_{};    // the carrier, at the last sample
  double step_ = 0.0;                // its rotation per sample, radians
  std::complex<double> previous_{};  // the last sample, and whether it was quiet
  bool previousQuiet_ = false;
  double low_ = 0.0;   // lower quantile of the residual's power
  double left_ = 0.0;  // mean residual power of the quiet samples
  bool active_ = false;
  bool primed_ = false;
};

}  // namespace kestrix::skim
