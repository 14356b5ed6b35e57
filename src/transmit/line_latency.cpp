#include "transmit/line_latency.h"

namespace kestrix::transmit {

int LatencyHistogram::Bin(int64_t us) {
  if (us < 0) return 0;
  if (us < 1000) return static_cast<int>(us);
  if (us < 10000) return 1000 + static_cast<int>((us - 1000) / 10);
  if (us < 100000) return 1900 + static_cast<int>((us - 10000) / 100);
  return kBins - 1;
}

int64_t LatencyHistogram::BinStartUs(int bin) {
  if (bin < 1000) return bin;
  if (bin < 1900) return 1000 + int64_t{bin - 1000} * 10;
  return 10000 + int64_t{bin - 1900} * 100;  // the last bin starts at 100 ms
}

void LatencyHistogram::Add(int64_t us) {
  ++bins_[static_cast<size_t>(Bin(us))];
  ++count_;
  if (us > worst_) worst_ = us;
}

int64_t LatencyHistogram::MedianUs() const {
  if (count_ == 0) return 0;
  // The lower median: the value with (count - 1) / 2 values below it.
  int64_t below = 0;
  for (int bin = 0; bin < kBins; ++bin) {
    below += bins_[static_cast<size_t>(bin)];
    if (below > (count_ - 1) / 2) return BinStartUs(bin);
  }
  return worst_;
}

void TimedKeyLine::SetKeyLine(uint8_t state) {
  const int64_t start = clock_.NowUs();
  line_.SetKeyLine(state);
  const int64_t took = clock_.NowUs() - start;
  std::lock_guard<std::mutex> lock(mu_);
  histogram_.Add(took);
}

TimedKeyLine::Summary TimedKeyLine::Latency() const {
  std::lock_guard<std::mutex> lock(mu_);
  return {histogram_.Count(), histogram_.MedianUs(), histogram_.WorstUs()};
}

}  // namespace kestrix::transmit
