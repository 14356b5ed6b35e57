#include "soft/soft_decoder_impl.h"

namespace kestrix::soft {

void SoftDecoder::Impl::Start() {
  EstimateOffset();
  EstimateSpeed();
  // The start-up found a station (its key-down level over the noise): it counts as heard
  // now, so that a fade in the first seconds is judged as a fade and not read as silence
  // against the level learnt at the held samples' loudest.
  if (markPower - noise > kFadeMinReference * noise) lastStrongObs = obsIn;
  // Decode the held samples from the start with what was learnt.
  started = true;
  for (size_t i = 0; i < warmFill; ++i) Step(warm[i]);
  warmFill = 0;
}

bool SoftDecoder::Impl::OverEnded() const {
  // Not before the sender's spacing is known: a Farnsworth sender's word gaps are long.
  if (!config.reacquireAfterPause || lastKeyDownSample < startSample || !senderGaps.Ready())
    return false;
  if (noiseReturned) return true;
  const double pause = std::max(kMinPauseS * fs, kPauseWordGaps * gapRatio[2] * unit);
  return static_cast<double>(seen - lastKeyDownSample) > pause;
}

void SoftDecoder::Impl::EndOver() {
  overWpm = Wpm();
  viterbi.Commit(viterbi.Time(), [&](const Segment& seg) { OnSegment(seg); });
  DecideCharacters(true);
  Space();
  ReleaseSpaces();
  ResetSearch();
}

int SoftDecoder::Impl::SegmentsStandingOut(int segments, int& first) {
  // Segment power at the strongest frequency against the median of all segments and
  // frequencies (key-up noise: exponential, so 8 dB over the median is 4.4x its mean).
  const size_t cells = static_cast<size_t>(segments) * scanFreqs;
  std::copy_n(scan.begin(), cells, scanSorted.begin());
  std::nth_element(scanSorted.begin(), scanSorted.begin() + cells / 2, scanSorted.begin() + cells);
  const double threshold = scanSorted[cells / 2] * kStartOverMedian;
  first = -1;
  int count = 0;
  for (int seg = 0; seg < segments; ++seg) {
    if (scan[static_cast<size_t>(seg) * scanFreqs + scanBest] > threshold) {
      if (first < 0) first = seg;
      ++count;
    }
  }
  return count;
}

bool SoftDecoder::Impl::ToneInHeld() {
  const int segments = Scan();
  int first = -1;
  return segments > 0 && SegmentsStandingOut(segments, first) >= kStartSegments;
}

bool SoftDecoder::Impl::ReadyToStart() {
  const int segments = Scan();
  if (segments == 0) return true;
  int first = -1;
  const int count = SegmentsStandingOut(segments, first);
  size_t drop = 0;
  if (count < kStartSegments) {
    drop = warmFill / 2;
  } else {
    const size_t lead = static_cast<size_t>(1.0 * fs);
    const size_t begin = static_cast<size_t>(first) * kScanSegment;
    if (begin > warmFill / 2) drop = begin - lead;
  }
  if (drop == 0) return true;
  std::copy(warm.begin() + static_cast<std::ptrdiff_t>(drop),
            warm.begin() + static_cast<std::ptrdiff_t>(warmFill), warm.begin());
  warmFill -= drop;
  dropped += static_cast<int64_t>(drop);
  return false;
}

int SoftDecoder::Impl::Scan() {
  const int segments = static_cast<int>(warmFill / kScanSegment);
  scanBest = scanFreqs / 2;
  if (segments == 0) return 0;
  double bestP = -1.0;
  double pPrev = 0.0;
  double pPrev2 = 0.0;
  for (int k = 0; k < scanFreqs; ++k) {
    const std::complex<double> rot = std::polar(1.0, -kTwoPi * ScanHz(k) / fs);
    double p = 0.0;
    for (int seg = 0; seg < segments; ++seg) {
      std::complex<double> acc{};
      std::complex<double> r{1.0, 0.0};
      for (int n = 0; n < kScanSegment; ++n) {
        acc += std::complex<double>(warm[static_cast<size_t>(seg * kScanSegment + n)]) * r;
        r *= rot;
      }
      scan[static_cast<size_t>(seg) * scanFreqs + k] = static_cast<float>(std::norm(acc));
      p += std::norm(acc);
    }
    scanSum[k] = p;
    if (k >= 2 && pPrev > bestP && pPrev >= p && pPrev >= pPrev2) {
      bestP = pPrev;
      scanBest = k - 1;
    }
    pPrev2 = pPrev;
    pPrev = p;
  }
  return segments;
}

void SoftDecoder::Impl::EstimateOffset() {
  if (Scan() == 0) return;
  double bestF = ScanHz(scanBest);
  // Parabolic refinement between the neighbours.
  if (scanBest > 0 && scanBest + 1 < scanFreqs) {
    const double l = scanSum[scanBest - 1];
    const double c = scanSum[scanBest];
    const double r = scanSum[scanBest + 1];
    const double den = l - 2 * c + r;
    if (den < 0) bestF += fs / kScanSegment / 4.0 * 0.5 * (l - r) / den;
  }
  omega = kTwoPi * bestF / fs;
}

void SoftDecoder::Impl::EstimateSpeed() {
  const int w = std::max(1, static_cast<int>(std::lround(0.012 * fs)));
  const int h = std::max(1, static_cast<int>(std::lround(0.008 * fs)));
  std::vector<float>& ys = speedScratch;
  ys.clear();
  {
    std::complex<double> acc{};
    double ph = 0.0;
    std::vector<std::complex<double>>& rot = rotScratch;
    for (size_t i = 0; i < warmFill; ++i) {
      rot[i] = std::complex<double>(warm[i]) * std::polar(1.0, -ph);
      ph += omega;
      acc += rot[i];
      if (i >= static_cast<size_t>(w)) acc -= rot[i - w];
      if (i + 1 >= static_cast<size_t>(w) && (i + 1) % h == 0) {
        ys.push_back(static_cast<float>(std::norm(acc / static_cast<double>(w))));
        std::complex<double> part{};
        for (size_t k = i + 1 - h; k <= i; ++k) part += rot[k];
        hopScratch[ys.size() - 1] = part;
      }
    }
  }
  if (ys.size() < 20) return;
  // A sidetone's over may have digital silence between its elements (a quarter of the
  // observations at nothing): 30 dB under the loudest is noise enough for the fit.
  const float loudest = *std::max_element(ys.begin(), ys.end());
  const auto silent =
      std::count_if(ys.begin(), ys.end(), [&](float y) { return y < loudest * 1e-6F; });
  if (static_cast<size_t>(silent) * 4 >= ys.size())
    for (float& y : ys) y = std::max(y, loudest * 1e-3F);
  double n0 = 0.0;
  double s0 = 0.0;
  FitLevels(ys, sortScratch, n0, s0);
  if (!(n0 > 0.0)) return;  // digital silence: nothing to learn from
  noise = n0;
  markPower = s0;
  if (config.initialWpm > 0) {
    SetUnit(1.2 / config.initialWpm * fs, true);
    return;
  }
  const double wgt = std::min(1.0, static_cast<double>(h) / w);
  // Marks scored as in the stream (see Decide()), with the levels just fitted.
  const double noiseSample = n0 * w;
  const double a2 = std::max(s0 - n0, n0 * 1e-3);
  const double amp = std::sqrt(a2) / noiseSample;
  // A slow speed is searched on groups of `group` observations, still observationsPerDot a
  // dot, which costs group^2 less. Its durations then count in groups, and a path of
  // coarse segments is one of group^(segments) fine ones: each segment's prior is charged
  // log(group) so that the scores of all speeds compare.
  auto score = [&](double wpm) {
    const double savedHop = hop;
    unit = 1.2 / wpm * fs;
    const int group = std::max(1, static_cast<int>(unit / (config.observationsPerDot * h)));
    hop = static_cast<double>(h) * group;
    SetDurations(-std::log(static_cast<double>(group)));
    viterbi.Reset();
    const double groupWeight = std::min(1.0, static_cast<double>(h) * group / w);
    for (size_t k = 0; k + group <= ys.size(); k += group) {
      std::complex<double> part{};
      for (int i = 0; i < group; ++i) part += hopScratch[k + i];
      const double llr =
          group == 1 ? wgt * Llr(ys[k], n0, s0) : groupWeight * Llr(ys[k + group - 1], n0, s0);
      viterbi.PushCoherent(static_cast<float>(llr), part * amp, a2 * hop / noiseSample);
    }
    hop = savedHop;
    return viterbi.BestScore();
  };
  // A coarse pass over the range (25 % steps), then the best's neighbours 12 % and 6 % away.
  double bestScore = SegmentViterbi::kNever;
  double bestWpm = Wpm();
  auto consider = [&](double wpm) {
    const double sc = score(wpm);
    if (sc > bestScore) {
      bestScore = sc;
      bestWpm = wpm;
    }
  };
  for (double wpm = config.minWpm; wpm <= config.maxWpm * 1.001; wpm *= 1.25) consider(wpm);
  for (double step : {1.12, 1.06}) {
    const double around = bestWpm;
    for (double wpm : {around / step, around * step}) {
      if (wpm >= config.minWpm && wpm <= config.maxWpm) consider(wpm);
    }
  }
  // After a pause the last over's speed stays unless another reads clearly better: a
  // few held seconds of a slow Farnsworth sender are one or two letters.
  if (startSample > 0 && overWpm > 0.0 && score(overWpm) + kNewSpeedMargin > bestScore)
    bestWpm = overWpm;
  const double bestUnit = 1.2 / bestWpm * fs;
  viterbi.Reset();
  noise = n0;
  markPower = s0;
  SetUnit(bestUnit, true);
}

void SoftDecoder::Impl::FitLevels(const std::vector<float>& ys, std::vector<float>& sorted,
                                  double& noiseOut, double& markOut) {
  sorted.assign(ys.begin(), ys.end());
  std::sort(sorted.begin(), sorted.end());
  double nz = sorted[sorted.size() / 4] / 0.2877 * 0.6;
  double mk = sorted[sorted.size() * 95 / 100];
  for (int iter = 0; iter < 12; ++iter) {
    double sn = 0, wn = 0, sm = 0, wm = 0;
    for (float y : sorted) {
      const double l = Llr(y, nz, mk) + std::log(0.45 / 0.55);
      const double p = 1.0 / (1.0 + std::exp(-std::clamp(l, -30.0, 30.0)));
      sn += (1 - p) * y;
      wn += 1 - p;
      sm += p * y;
      wm += p;
    }
    if (wn > 0) nz = std::max(1e-20, sn / wn);
    if (wm > 0) mk = std::max(nz * 1.01, sm / wm);
    nz = std::max(nz, mk * 1e-4);
  }
  // Key-up is at least a quarter of the time, so the lower quartile is noise alone (an
  // exponential's is 0.2877 of its mean). Faded key-down the fit counted as noise must not
  // lift the noise far over it: it would hide the signal's own fades.
  const double quartileNoise = sorted[sorted.size() / 4] / 0.2877;
  if (nz > 1.5 * quartileNoise && quartileNoise > 0.0) {
    nz = 1.5 * quartileNoise;
    mk = std::max(mk, nz * 1.01);
  }
  noiseOut = nz;
  markOut = mk;
}

}  // namespace kestrix::soft
