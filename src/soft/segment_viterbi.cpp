#include "soft/segment_viterbi.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <numbers>
#include <vector>

namespace kestrix::soft {
namespace {

// The search evaluates log I0 for every candidate length of every mark, so it reads a
// table (linear between points 1/16 apart; the function is smooth and convex) up to
// kTableEnd and the asymptote past it.
constexpr double kTableStep = 1.0 / 16.0;
constexpr double kTableEnd = 256.0;

const std::vector<float>& LogI0Table() {
  static const std::vector<float> table = [] {
    std::vector<float> t(static_cast<size_t>(kTableEnd / kTableStep) + 2);
    for (size_t i = 0; i < t.size(); ++i) t[i] = static_cast<float>(LogI0(i * kTableStep));
    return t;
  }();
  return table;
}

// Natural log to about 1e-5 for x > 0: the exponent, and an atanh series for the mantissa.
inline double FastLog(double x) {
  uint64_t bits;
  std::memcpy(&bits, &x, sizeof bits);
  const int exponent = static_cast<int>((bits >> 52) & 0x7ff) - 1023;
  bits = (bits & 0x000fffffffffffffULL) | 0x3ff0000000000000ULL;
  double m;
  std::memcpy(&m, &bits, sizeof m);  // [1, 2)
  const double t = (m - 1.0) / (m + 1.0);
  const double t2 = t * t;
  return exponent * std::numbers::ln2 +
         2.0 * t * (1.0 + t2 * (1.0 / 3 + t2 * (1.0 / 5 + t2 * (1.0 / 7 + t2 / 9))));
}

inline double LogI0Fast(const float* table, double x) {
  if (!(x < kTableEnd)) {  // and NaN
    return x >= kTableEnd ? x - 0.5 * FastLog(2.0 * std::numbers::pi * x) : x;
  }
  const double f = x / kTableStep;
  const int i = static_cast<int>(f);
  const double frac = f - i;
  return table[i] + frac * (table[i + 1] - table[i]);
}

}  // namespace

// log I0(x), the series below 3.75 and the asymptotic polynomial above (both
// good to 1e-7 relative).
double LogI0(double x) {
  x = std::fabs(x);
  if (x < 3.75) {
    const double t = (x / 3.75) * (x / 3.75);
    return std::log(
        1.0 + t * (3.5156229 +
                   t * (3.0899424 +
                        t * (1.2067492 + t * (0.2659732 + t * (0.0360768 + t * 0.0045813))))));
  }
  const double t = 3.75 / x;
  const double p =
      0.39894228 +
      t * (0.01328592 +
           t * (0.00225319 +
                t * (-0.00157565 +
                     t * (0.00916281 +
                          t * (-0.02057706 +
                               t * (0.02635537 + t * (-0.01647633 + t * 0.00392377)))))));
  return x - 0.5 * std::log(x) + std::log(p);
}

SegmentViterbi::SegmentViterbi() {
  LogI0Table();  // built now, not in the first Push
  for (auto& row : duration_) row.fill(static_cast<float>(kNever));
  for (auto& row : transition_) row.fill(kNever);
  minDuration_.fill(1);
  maxDuration_.fill(0);
  // Idle is always one observation long.
  duration_[kIdle][1] = 0.0F;
  minDuration_[kIdle] = 1;
  maxDuration_[kIdle] = 1;
  Reset();
}

void SegmentViterbi::Reset() {
  time_ = 0;
  committed_ = 0;
  cumulative_[Slot(0)] = 0.0;
  weighted_[Slot(0)] = {};
  energy_[Slot(0)] = 0.0;
  // Any kind may start the stream.
  for (int s = 0; s < kSegmentKinds; ++s) {
    entering_[Slot(0)][s] = 0.0;
    ending_[Slot(0)][s] = kNever;
    back_[Slot(0)][s] = Back{0, static_cast<uint8_t>(kIdle)};
  }
}

void SegmentViterbi::SetDurations(SegmentKind kind,
                                  const std::array<float, kMaxDuration + 1>& logProb) {
  if (kind == kIdle) return;
  duration_[kind] = logProb;
  duration_[kind][0] = static_cast<float>(kNever);
  int lo = 0;
  int hi = 0;
  for (int d = 1; d <= kMaxDuration; ++d) {
    if (duration_[kind][d] > kNever / 2) {
      if (lo == 0) lo = d;
      hi = d;
    }
  }
  minDuration_[kind] = lo == 0 ? 1 : lo;
  maxDuration_[kind] = hi;
  // Survival: the log of the summed probabilities from d on.
  double tail = 0.0;
  for (int d = kMaxDuration; d >= 1; --d) {
    if (duration_[kind][d] > kNever / 2) tail += std::exp(static_cast<double>(duration_[kind][d]));
    lasting_[kind][d] =
        tail > 0.0 ? static_cast<float>(std::log(tail)) : static_cast<float>(kNever);
  }
  lasting_[kind][0] = lasting_[kind][1];
}

void SegmentViterbi::SetTransition(SegmentKind from, SegmentKind to, double logProb) {
  transition_[from][to] = logProb;
}

void SegmentViterbi::Push(float llr) {
  const int64_t now = time_ + 1;
  const int here = Slot(now);
  cumulative_[here] = cumulative_[Slot(time_)] + static_cast<double>(llr);
  weighted_[here] = {};
  energy_[here] = 0.0;
  Advance(false);
}

void SegmentViterbi::PushCoherent(float llr, std::complex<double> weighted, double energy) {
  const int64_t now = time_ + 1;
  const int here = Slot(now);
  const int before = Slot(time_);
  weighted_[here] = weighted_[before] + weighted;
  energy_[here] = energy_[before] + energy;
  cumulative_[here] = cumulative_[before] + static_cast<double>(llr);
  Advance(true);
}

double SegmentViterbi::CoherentScore(int64_t start, int64_t end) const {
  const std::complex<double> w = weighted_[Slot(end)] - weighted_[Slot(start)];
  return std::max(LogI0Fast(LogI0Table().data(), 2.0 * std::sqrt(std::norm(w))) -
                      (energy_[Slot(end)] - energy_[Slot(start)]),
                  cumulative_[Slot(end)] - cumulative_[Slot(start)]);
}

void SegmentViterbi::Advance(bool coherent) {
  coherent_ = coherent;
  const int64_t now = time_ + 1;
  const int here = Slot(now);
  const double total = cumulative_[here];
  const std::complex<double> wNow = weighted_[here];
  const double eNow = energy_[here];
  const float* table = LogI0Table().data();
  const int64_t available = std::min<int64_t>(now, kHistory - 1);

  auto& ending = ending_[here];
  auto& back = back_[here];
  for (int s = 0; s < kSegmentKinds; ++s) {
    double best = kNever;
    int bestD = 0;
    const int hi = static_cast<int>(std::min<int64_t>(maxDuration_[s], available));
    const auto& durations = duration_[s];
    // The three loops differ only in what a segment of length d scores on top of how it
    // was entered and its length's prior.
    auto search = [&](auto&& evidence) {
      for (int d = minDuration_[s]; d <= hi; ++d) {
        const int start = Slot(now - d);
        const double enter = entering_[start][s];
        if (enter <= kNever / 2) continue;
        const double score = enter + static_cast<double>(durations[d]) + evidence(start);
        if (score > best) {
          best = score;
          bestD = d;
        }
      }
    };
    if (!IsMark(s)) {
      search([](int) { return 0.0; });
    } else if (coherent) {
      search([&](int start) {
        const double x = 2.0 * std::sqrt(std::norm(wNow - weighted_[start]));
        return std::max(LogI0Fast(table, x) - (eNow - energy_[start]), total - cumulative_[start]);
      });
    } else {
      search([&](int start) { return total - cumulative_[start]; });
    }
    ending[s] = best;
    back[s] = Back{static_cast<uint16_t>(bestD), 0};
  }
  // Entering each kind now: the best way of ending the segment before it here.
  auto& entering = entering_[here];
  for (int to = 0; to < kSegmentKinds; ++to) {
    double best = kNever;
    for (int s = 0; s < kSegmentKinds; ++s) {
      const double score = ending[s] + transition_[s][to];
      if (score > best) best = score;
    }
    entering[to] = best;
  }
  // Remember where each kind's best segment came from (the kind before it).
  for (int s = 0; s < kSegmentKinds; ++s) {
    if (back[s].duration == 0) continue;
    const int start = Slot(now - back[s].duration);
    double best = kNever;
    uint8_t previous = kIdle;
    if (now - back[s].duration == 0) {
      previous = kSegmentKinds;  // the first segment of the stream
    } else {
      for (int p = 0; p < kSegmentKinds; ++p) {
        const double score = ending_[start][p] + transition_[p][s];
        if (score > best) {
          best = score;
          previous = static_cast<uint8_t>(p);
        }
      }
    }
    back[s].previous = previous;
  }
  time_ = now;
}

double SegmentViterbi::BestScore() const {
  const auto& ending = ending_[Slot(time_)];
  return *std::max_element(ending.begin(), ending.end());
}

int SegmentViterbi::Trace(int64_t before) {
  const int64_t oldest = std::max<int64_t>(0, time_ - (kHistory - kMaxDuration - 1));
  if (committed_ < oldest) committed_ = oldest;
  if (before <= committed_ || time_ == 0) return 0;
  // Walk back from the best kind now, newest segment first, into the tail of trace_; or
  // from the start of a gap still going on now, when that scores better.
  const auto& ending = ending_[Slot(time_)];
  int kind = static_cast<int>(std::max_element(ending.begin(), ending.end()) - ending.begin());
  int64_t t = time_;
  double best = ending[kind];
  const int64_t available = std::min<int64_t>(time_, kHistory - kMaxDuration - 1);
  for (int s : {kElementGap, kCharGap, kWordGap}) {
    const int hi = static_cast<int>(std::min<int64_t>(maxDuration_[s], available));
    for (int d = 1; d <= hi; ++d) {
      const double score = entering_[Slot(time_ - d)][s] + static_cast<double>(lasting_[s][d]);
      if (score > best) {
        best = score;
        t = time_ - d;
        kind = s;
      }
    }
  }
  if (t < time_) {
    // The open gap is not handed out; the path goes on from the segment that entered it.
    double enter = kNever;
    int previous = kSegmentKinds;
    for (int p = 0; p < kSegmentKinds; ++p) {
      const double score = ending_[Slot(t)][p] + transition_[p][kind];
      if (score > enter) {
        enter = score;
        previous = p;
      }
    }
    kind = previous;
  }
  int count = 0;
  while (t > committed_ && kind < kSegmentKinds && count < kHistory) {
    const Back b = back_[Slot(t)][kind];
    if (b.duration == 0) break;
    const int64_t start = t - b.duration;
    if (start < oldest) break;
    Segment seg{static_cast<SegmentKind>(kind), start, t, 0.0};
    if (IsMark(kind))
      seg.evidence =
          coherent_ ? CoherentScore(start, t) : cumulative_[Slot(t)] - cumulative_[Slot(start)];
    trace_[kHistory - 1 - count] = seg;
    ++count;
    t = start;
    kind = b.previous;
  }
  // Oldest first: keep what ends in time and starts where the committed part ended.
  int n = 0;
  for (int i = kHistory - count; i < kHistory; ++i) {
    Segment seg = trace_[i];
    if (seg.end > before) break;
    if (seg.start < committed_) {
      // The best path now disagrees with what was handed out: a gap that overlaps it
      // keeps its part after it (else two characters would run together), a mark that
      // overlaps it is skipped.
      if (IsMark(seg.kind) || seg.end <= committed_) {
        committed_ = std::max(committed_, seg.end);
        continue;
      }
      seg.start = committed_;
    }
    trace_[n++] = seg;
    committed_ = seg.end;
  }
  return n;
}

}  // namespace kestrix::soft
