#include "soft/soft_decoder_impl.h"

namespace kestrix::soft {

namespace {

// Log-normal duration prior over 1..kMaxDuration observations.
void LogNormalDurations(double mean, double sigma,
                        std::array<float, SegmentViterbi::kMaxDuration + 1>& out,
                        double reach = 3.5) {
  out.fill(static_cast<float>(SegmentViterbi::kNever));
  static const std::array<double, SegmentViterbi::kMaxDuration + 1> logOf = [] {
    std::array<double, SegmentViterbi::kMaxDuration + 1> t{};
    for (int d = 1; d <= SegmentViterbi::kMaxDuration; ++d) t[d] = std::log(d);
    return t;
  }();
  const double mu = std::log(std::max(mean, 0.5));
  const double norm = -std::log(sigma * std::sqrt(2.0 * std::numbers::pi));
  for (int d = 1; d <= SegmentViterbi::kMaxDuration; ++d) {
    const double z = (logOf[d] - mu) / sigma;
    if (std::fabs(z) > reach) continue;
    out[d] = static_cast<float>(norm - 0.5 * z * z - logOf[d]);
  }
}

}  // namespace

void SoftDecoder::Impl::SetUnit(double samples, bool force) {
  const double lo = 1.2 / config.maxWpm * fs;
  const double hi = 1.2 / config.minWpm * fs;
  unit = std::clamp(samples, lo, hi);
  if (!force && std::fabs(unit / tableUnit - 1.0) < 0.03) return;
  tableUnit = unit;
  hop = std::max(1.0, unit / config.observationsPerDot);
  const int newWindow =
      std::clamp(static_cast<int>(std::lround(unit * kWindowDots)), 1, kMaxWindow);
  if (newWindow != window) {
    window = newWindow;
    sum = {};
    for (int i = 0; i < window; ++i) sum += ring[(ringPos - 1 - i) & (kMaxWindow - 1)];
  }
  weight = std::min(1.0, hop / window);
  SetDurations();
}

void SoftDecoder::Impl::SetDurations(double offset) {
  const double dot = unit / hop;  // observations per dot
  std::array<float, SegmentViterbi::kMaxDuration + 1> table{};
  auto set = [&](SegmentKind kind, double mean, double sigma) {
    LogNormalDurations(mean, sigma, table, IsMark(kind) ? kMarkReach : 3.5);
    if (offset != 0.0) {
      for (float& v : table) {
        if (v > SegmentViterbi::kNever / 2) v += static_cast<float>(offset);
      }
    }
    viterbi.SetDurations(kind, table);
  };
  tableSpread = spread;
  set(kDot, dot, 0.16 * spread);
  set(kDash, dot * dashRatio, 0.14 * spread);
  set(kElementGap, dot * gapRatio[0], 0.19 * spread);
  // A Farnsworth sender's gaps may outlast the search's longest segment: a word gap
  // longer than that goes on as idle.
  set(kCharGap, std::min(dot * gapRatio[1], kLongestCharGap), 0.16 * spread);
  set(kWordGap, std::min(dot * gapRatio[2], kLongestWordGap), 0.19 * spread);
}

void SoftDecoder::Impl::CheckSpeedJump(double samples, double evidence) {
  if (evidence < 2.0) return;
  recentMarks[recentMarkCount++ % kRecentMarks] = samples;
  if (recentMarkCount < kRecentMarks) return;
  std::array<double, kRecentMarks> sorted = recentMarks;
  std::sort(sorted.begin(), sorted.end());
  std::array<double, kRecentMarks> logs{};
  for (int i = 0; i < kRecentMarks; ++i) logs[i] = std::log(sorted[i]);
  // The split with the least spread (in log length) on either side.
  double bestCost = 1e300;
  int bestSplit = 0;
  for (int k = 1; k < kRecentMarks; ++k) {
    double cost = 0.0;
    for (auto [a, b] : {std::pair{0, k}, std::pair{k, kRecentMarks}}) {
      double mean = 0.0;
      for (int i = a; i < b; ++i) mean += logs[i];
      mean /= b - a;
      for (int i = a; i < b; ++i) cost += (logs[i] - mean) * (logs[i] - mean);
    }
    if (cost < bestCost) {
      bestCost = cost;
      bestSplit = k;
    }
  }
  double shortMean = 0.0;
  double longMean = 0.0;
  for (int i = 0; i < bestSplit; ++i) shortMean += sorted[i] / bestSplit;
  for (int i = bestSplit; i < kRecentMarks; ++i) longMean += sorted[i] / (kRecentMarks - bestSplit);
  const double ratio = longMean / shortMean;
  // Clear dots and dashes, each side tight (within about +-25 %).
  if (ratio < 2.2 || ratio > 4.5 || bestCost > kRecentMarks * 0.05) return;
  const double estimate =
      (shortMean * bestSplit + longMean / ratio * (kRecentMarks - bestSplit)) / kRecentMarks;
  if (std::fabs(estimate / unit - 1.0) > kSpeedJump) SetUnit(estimate);
}

void SoftDecoder::Impl::LearnSpread(SegmentKind kind, double samples, double evidence) {
  const double expected = kind == kDot ? unit : unit * dashRatio;
  const double observations = samples / hop;
  if (observations < 1.0 || evidence < kClearPerObservation * observations) return;
  const double r = std::log(samples / expected);
  timingVariance += 0.05 * (std::min(r * r, 0.25) - timingVariance);
  spread = std::clamp(std::sqrt(timingVariance) / kKeyerSpread, 1.0, kSpreadMax);
  if (std::fabs(spread / tableSpread - 1.0) > 0.05) SetDurations();
}

void SoftDecoder::Impl::NoteGap(double dots, double markEvidence) {
  if (markEvidence < kClearMark || dots < 2.0 || dots > 80.0) return;
  if (!senderGaps.Add(dots)) return;
  // The letter gap moves; the word gap keeps Farnsworth's ratio to it (a hand sender's
  // longer gaps are pauses as often as words), and Learn() follows from there.
  const double letter = std::clamp(senderGaps.Letter(), 2.2, kMaxCharGapRatio);
  if (std::fabs(std::log(letter / gapRatio[1])) < std::log1p(kSpacingJump)) return;
  gapRatio[1] = letter;
  gapRatio[2] = std::clamp(letter * 7.0 / 3.0, letter * 1.8, kMaxWordGapRatio);
  SetDurations();
}

void SoftDecoder::Impl::Learn(SegmentKind kind, double samples, double evidence) {
  // Marks far from what the speed predicts pull harder, so a new sender's speed is
  // picked up within a few characters.
  auto rate = [](double ratio) { return ratio < 0.65 || ratio > 1.5 ? 0.35 : 0.12; };
  if (kind == kDot || kind == kDash) {
    CheckSpeedJump(samples, evidence);
    LearnSpread(kind, samples, evidence);
  }
  switch (kind) {
    case kDot:
      if (evidence > 1.0) SetUnit(unit + rate(samples / unit) * (samples - unit));
      break;
    case kDash:
      if (evidence > 2.0) {
        const double u = samples / dashRatio;
        SetUnit(unit + rate(u / unit) * (u - unit));
        dashRatio = std::clamp(dashRatio + 0.05 * (samples / unit - dashRatio), 2.3, 4.5);
      }
      break;
    case kElementGap:
      gapRatio[0] = std::clamp(gapRatio[0] + 0.05 * (samples / unit - gapRatio[0]), 0.6, 2.0);
      break;
    case kCharGap:
      gapRatio[1] =
          std::clamp(gapRatio[1] + 0.08 * (samples / unit - gapRatio[1]), 2.2, kMaxCharGapRatio);
      gapRatio[2] = std::max(gapRatio[2], gapRatio[1] * 1.8);
      break;
    case kWordGap:
      gapRatio[2] = std::clamp(gapRatio[2] + 0.08 * (samples / unit - gapRatio[2]),
                               gapRatio[1] * 1.8, kMaxWordGapRatio);
      break;
    default:
      break;
  }
}

}  // namespace kestrix::soft
