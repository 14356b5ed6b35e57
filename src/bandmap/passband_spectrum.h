// The band map's waterfall rows: power spectra of the receiver's audio over the passband
// (by default 200..3000 Hz), one row every `hopS` seconds, each a fixed number of columns
// in dB, ready to paint.
//
// A Hann window of kSize samples at the input rate (4096: 10.8 Hz per bin at 44100 Hz,
// fine enough to part two stations 50 Hz apart), the receive chain's own real FFT, and
// each column the strongest bin it covers, so a narrow trace never falls between columns.
//
// One thread; sized at construction (or at a rate change) and never allocating after.
#pragma once

#include <cstddef>
#include <vector>

namespace kestrix::bandmap {

struct PassbandConfig {
  double loHz = 200.0;
  double hiHz = 3000.0;
  int columns = 560;  // one per 5 Hz over 2800 Hz
  double hopS = 0.1;  // a row ten times a second
};

class PassbandSpectrum {
 public:
  static constexpr int kSize = 4096;

  PassbandSpectrum(double rate, const PassbandConfig& config = {});

  // Adds samples (full scale 1.0); calls `row(const float* dB, int columns)` for every row
  // completed.
  template <typename Row>
  void Push(const float* samples, size_t count, Row&& row) {
    for (size_t i = 0; i < count; ++i) {
      ring_[head_] = samples[i];
      head_ = (head_ + 1) % kSize;
      if (++sinceRow_ >= hop_) {
        sinceRow_ = 0;
        MakeRow();
        row(static_cast<const float*>(dB_.data()), config_.columns);
      }
    }
  }

  // Audio frequency at the centre of column `c`, and the column of `hz` (may be outside
  // 0..columns-1).
  double ColumnHz(int c) const;
  double Column(double hz) const;
  const PassbandConfig& Config() const { return config_; }
  double Rate() const { return rate_; }

 private:
  void MakeRow();

  double rate_;
  PassbandConfig config_;
  size_t hop_;
  std::vector<float> ring_;  // the last kSize samples
  size_t head_ = 0;
  size_t sinceRow_ = 0;
  std::vector<float> window_;
  std::vector<float> work_;
  std::vector<int> firstBin_;  // per column: bins [firstBin_[c], firstBin_[c + 1])
  std::vector<float> dB_;
};

}  // namespace kestrix::bandmap
