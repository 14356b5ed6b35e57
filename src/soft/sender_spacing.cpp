#include "soft/sender_spacing.h"

#include <algorithm>
#include <cmath>

namespace kestrix::soft {
namespace {

// Median of sorted[a, b).
double Median(const double* sorted, int a, int b) {
  const int n = b - a;
  return n % 2 ? sorted[a + n / 2] : 0.5 * (sorted[a + n / 2 - 1] + sorted[a + n / 2]);
}

}  // namespace

void SenderSpacing::Reset() {
  count_ = 0;
  letter_ = 3.0;
  word_ = 7.0;
}

bool SenderSpacing::Add(double dots) {
  if (!(dots > 0.0)) return count_ >= kMinGaps;
  logs_[static_cast<size_t>(count_++ % kGaps)] = std::log(dots);
  const int n = static_cast<int>(std::min<int64_t>(count_, kGaps));
  if (n < kMinGaps) return false;
  std::array<double, kGaps> sorted = logs_;
  std::sort(sorted.begin(), sorted.begin() + n);
  // The split with the least spread on either side (absolute distances from each side's
  // median: one long pause does not pull a side), among those whose sides stand apart
  // (medians kSplit or more apart, at least two on the word side).
  const double minApart = std::log(kSplit);
  double bestCost = 1e300;
  int bestSplit = 0;
  for (int k = n / 3; k <= n - 2; ++k) {
    const double low = Median(sorted.data(), 0, k);
    const double high = Median(sorted.data(), k, n);
    if (high - low < minApart) continue;
    double cost = 0.0;
    for (int i = 0; i < n; ++i) cost += std::fabs(sorted[i] - (i < k ? low : high));
    if (cost < bestCost) {
      bestCost = cost;
      bestSplit = k;
    }
  }
  if (bestSplit > 0) {
    letter_ = std::exp(Median(sorted.data(), 0, bestSplit));
    word_ = std::exp(Median(sorted.data(), bestSplit, n));
  } else {
    letter_ = std::exp(Median(sorted.data(), 0, n));
    word_ = letter_ * 7.0 / 3.0;
  }
  return true;
}

}  // namespace kestrix::soft
