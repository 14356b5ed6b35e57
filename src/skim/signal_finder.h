// Finds the CW signals in a band: an averaged fine spectrum, the noise floor under it, and
// a list of tracked signals that are born, follow their drift and are retired as stations
// come and go.
//
// Every FrameSize() input samples make one Blackman-Harris windowed spectrum (bins about
// 6 Hz wide). Per block of 256 bins the frame's median is compared with the block's
// running median: a frame in which many blocks rise at once (a click, a static crash) is
// wideband, not a carrier, and is left out of the average there. The average follows the
// band with a time constant of a few seconds.
//
// A bin is a candidate when it is a local maximum of the average that stands `onDb` above
// its own background (the quieter of the two flanks 35..80 Hz to either side: a
// neighbour on one side does not hide it) and above the block's floor. Within the skirts of
// a much stronger peak a candidate with a mirror image about that peak, as strong and
// rising and falling with it over the last few seconds, is the strong station's keying
// sidebands or clicks, not a station of its own. A candidate seen on `confirmFrames` frames in a
// row away from every tracked signal becomes a new signal; a tracked signal follows the nearest
// peak within a few bins (its fine frequency from a parabola through the log spectrum) and is
// retired when its bins have not been keyed (a frame 10 dB over the floor) for `retireS` seconds.
//
// Memory is taken at construction; Push does not allocate once the signal table has
// reached its high-water mark. One thread at a time.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "skim/fftw_plan.h"

namespace kestrix::skim {

struct SignalFinderConfig {
  double inputRate = 192000.0;  // complex samples per second
  double binHz = 6.0;           // wanted bin width; the FFT size is the nearest power of 2
  double loHz = 0.0;            // search range, Hz from the band centre (lo < hi);
  double hiHz = 0.0;            // both 0: the whole band less 3 % at each edge
  double averageS = 3.0;        // time constant of the averaged spectrum
  double onDb = 6.5;            // birth threshold over the background
  double offDb = 2.5;           // a tracked signal is still there above this
  int confirmFrames = 3;        // frames in a row a new peak must be seen
  double retireS = 15.0;        // silence before a signal is retired
  double minSpacingHz = 30.0;   // two signals closer than this are one
  int maxSignals = 250;         // tracked at once
  bool measure = true;          // let FFTW time its plan
};

struct TrackedSignal {
  uint64_t id = 0;
  double freqHz = 0.0;     // from the band centre, fine estimate
  double levelDb = 0.0;    // averaged peak over the background
  double floorDb = 0.0;    // block floor (10 log10 of the mean noise per bin)
  double peakDb = 0.0;     // 10 log10 of the averaged bin power
  double keyDownDb = 0.0;  // 10 log10 of the bin's power on its loudest recent frames
  double bornS = 0.0;      // stream time of the birth
  double lastSeenS = 0.0;  // stream time it last stood above offDb
};

class SignalFinder {
 public:
  explicit SignalFinder(const SignalFinderConfig& config);
  ~SignalFinder();
  SignalFinder(const SignalFinder&) = delete;
  SignalFinder& operator=(const SignalFinder&) = delete;

  int FrameSize() const { return n_; }
  double BinHz() const { return rate_ / n_; }
  double InputRate() const { return rate_; }

  // What changed with the last frame.
  struct Events {
    std::vector<uint64_t> born;  // ids of new signals
    std::vector<TrackedSignal> retired;
  };

  // Feeds samples; returns true when at least one frame completed (Signals() and
  // LastEvents() are then up to date).
  bool Push(const std::complex<float>* in, size_t count);
  bool PushReal(const float* in, size_t count);

  // Signals tracked now, in order of birth.
  const std::vector<TrackedSignal>& Signals() const { return signals_; }
  // Born and retired signals of every frame completed in the last Push.
  const Events& LastEvents() const { return events_; }
  // How long ago, in seconds, the bins at `freqHz` were first keyed within the last few
  // seconds of frames (0 when not at all): where a new signal's transmission began.
  double KeyedSinceS(double freqHz) const;
  // Stream time in seconds of the samples seen so far.
  double TimeS() const { return static_cast<double>(samples_) / rate_; }
  // Retires every signal (end of input); they appear in LastEvents().retired.
  void RetireAll();
  void Reset();

  // The averaged spectrum in dB, bin i at (i - FrameSize()/2) * BinHz() from the centre,
  // for tests and displays.
  std::vector<float> AverageDb() const;
  // SNR of a tone whose peak bin reads `keyDownDb` over noise reading `floorDb` per bin,
  // as carrier power over the noise in 500 Hz.
  double SnrDb500(double keyDownDb, double floorDb) const;
  // The noise density (input units squared per Hz) of a bin reading `floorDb`.
  double NoisePerHz(double floorDb) const;

 private:
  struct Peak;
  void Frame();
  void Track();
  // Median of a floor block's bins (a sample of them); uses scratch_.
  float SampledMedian(const float* block);
  // Pearson correlation of the recent frame powers of bins `a` and `b` (b's best of +-1).
  double RecentCorrelation(int a, int b) const;
  // Whether a frame power within +-1 bin of `bin` is 10 dB over the floor.
  bool KeyedNow(int bin) const;
  // The same on any of the last two seconds' frames.
  bool KeyedLately(int bin) const;
  // Whether peak `p` rises and falls with a much stronger peak near it.
  bool InSkirt(const Peak& p) const;

  double rate_;
  int n_ = 0;
  SignalFinderConfig config_;
  std::unique_ptr<ComplexFft> fft_;
  std::vector<float> window_;
  double windowSum_ = 0.0, windowSumSq_ = 0.0;
  std::vector<std::complex<float>> frame_;
  size_t frameFill_ = 0;
  int64_t samples_ = 0;
  int64_t frameCount_ = 0;
  std::vector<float> power_;        // this frame's bin powers (bins in natural FFT order)
  std::vector<float> average_;      // averaged bin powers
  std::vector<float> blockMedian_;  // this frame's median per block
  std::vector<float> blockRef_;     // running median of each block's frame medians
  std::vector<int> blockGated_;
  std::vector<int> blockFrames_;  // frames averaged into each block
  int blocksInRange_ = 1;  // blocks the search range and its mirror cover  // frames in a row each
                           // block was left out
  std::vector<float> recent_;  // frame powers of the last kRecent frames, ring of n_ each
  size_t recentHead_ = 0;
  size_t recentFilled_ = 0;
  std::vector<float> scratch_;
  std::vector<float> background_;
  std::vector<float> blockFloor_;
  std::vector<Peak> peaks_;
  struct Candidate {
    int bin;
    int seen;
    int64_t lastFrame;
  };
  std::vector<Candidate> candidates_;
  std::vector<TrackedSignal> signals_;
  Events events_;
  uint64_t nextId_ = 1;
  int binLo_ = 0, binHi_ = 0;  // search range in unwrapped bins (may be negative)
};

}  // namespace kestrix::skim
