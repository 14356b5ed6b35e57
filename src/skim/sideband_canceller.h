// Loud stations' keying sidebands taken out of a receiver's audio before the channel bank.
//
// A carrier keyed on and off spreads its keying across the passband: a hard-keyed one
// clicks across all of it, and even a 5 ms rise leaves sidebands 150 Hz out that are a
// clear copy of the keying. Beside a station 40 dB over the noise that copy outweighs a
// neighbour of 20 dB, and the neighbour's decoder reads the loud station's text.
//
// The canceller models each loud carrier as its complex amplitude times a keying envelope
// and subtracts what of that model lies more than about `keepHz` from the carrier: the
// carrier and its keying close in stay for its own decoder. Per carrier, the audio mixed
// to 0 Hz and low-passed gives the envelope; each crossing of half the key-down level is a
// key edge, its time interpolated between samples and the carrier's complex amplitude
// twice the low-passed value there. An edge's sidebands are a template (the edge shape
// less its low-passed self) scaled by that amplitude. The shape is a raised-cosine rise
// picked from a few candidates (a hard key to 10 ms) by how much of the audio around the
// recent edges each explains; while none explains enough, nothing is subtracted.
//
// The output lags the input by Delay() samples. Memory is taken at construction; Process
// and SetCarriers do not allocate. One thread at a time.
#pragma once

#include <array>
#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix::skim {

struct SidebandCancellerConfig {
  double rate = 8000.0;  // audio samples per second
  double keepHz = 80.0;  // a loud carrier keeps its spectrum within about this either side
  int maxCarriers = 4;   // loud carriers followed at once
};

class SidebandCanceller {
 public:
  static constexpr int kShapes = 7;  // candidate rise times, see the .cpp

  explicit SidebandCanceller(const SidebandCancellerConfig& config = {});

  // The loud carriers now (audio Hz, loudest first); at most maxCarriers are taken. One
  // within a few hertz of a carrier already followed keeps what was learnt of it; the
  // carriers not named any more are dropped.
  void SetCarriers(const double* hz, size_t count);
  // Filters `count` samples in place; the output lags the input by Delay() samples.
  void Process(float* samples, size_t count);
  size_t Delay() const { return delay_; }
  // Key edges whose sidebands were subtracted so far.
  uint64_t EdgesCancelled() const { return cancelled_; }
  size_t Carriers() const;
  void Reset();

 private:
  struct Edge {
    double t = 0.0;  // input sample index of the edge's middle
    double sign = 1.0;
    std::complex<double> amplitude;  // the carrier's complex amplitude at the edge
  };
  struct Carrier {
    bool on = false;
    double hz = 0.0;
    double omega = 0.0;  // radians per sample
    int64_t start = 0;   // input index where the mixer's phase is 0
    std::complex<double> mixer{1.0, 0.0};
    std::complex<double> step{1.0, 0.0};
    std::vector<std::complex<float>> line;  // detection low-pass delay line, doubled
    size_t head = 0;
    int phase = 0;
    std::array<std::complex<double>, 8> recent{};  // last low-passed values
    std::array<double, 8> recentT{};               // and their times
    int recentCount = 0;
    double level = 0.0;    // key-down magnitude of the low-passed baseband
    double floor = 0.0;    // its mean magnitude while key-up
    double keyDown = 0.0;  // and while key-down, settled
    int sinceUp = 0;       // low-passed values since the last edge
    bool keyed = false;
    std::vector<Edge> edges;  // waiting until the audio around them is in
    std::array<double, kShapes> score{};
    std::array<double, kShapes> gain{};
  };

  void Detect(Carrier& c, int64_t n);
  void Cancel(Carrier& c, const Edge& e);
  void Start(Carrier& c, double hz);

  SidebandCancellerConfig config_;
  int decimation_ = 1;
  std::vector<float> detectTaps_;
  double detectHalf_ = 0.0;  // the detection low-pass's delay, samples
  int q_ = 1;                // template points per sample
  int half_ = 0;             // a template reaches this many samples either side
  std::array<std::vector<float>, kShapes> templates_;
  std::vector<float> keepTaps_;  // the kept band's low-pass at the input rate
  int keepHalf_ = 0;
  std::vector<double> split_;      // the audio beyond the kept band, per edge
  std::vector<float> basebandRe_;  // and the audio at 0 Hz it came from
  std::vector<float> basebandIm_;
  std::vector<std::complex<double>> kept_;  // its kept band, every decimation_-th sample
  size_t delay_ = 0;
  std::vector<float> input_;  // ring of the last inputs
  std::vector<float> corr_;   // ring of what is to be subtracted from them
  size_t mask_ = 0;
  int64_t n_ = 0;  // inputs taken so far
  std::vector<Carrier> carriers_;
  uint64_t cancelled_ = 0;
};

}  // namespace kestrix::skim
