#include "soft/soft_decoder.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>
#include <vector>

#include "language/plausibility.h"
#include "soft/morse_patterns.h"
#include "soft/segment_viterbi.h"
#include "soft/sender_spacing.h"

namespace kestrix::soft {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kWindowDots = 0.5;  // coherent integration window, in dots
constexpr double kWarmUpS = 3.0;     // held before decoding starts (speed, tone)
constexpr int kMaxWindow = 512;      // samples of the coherent window ring
constexpr size_t kTextCapacity = 4096;
// How slowly the key-down reference follows (seconds of key-down time).
constexpr double kReferenceS = 1.0;
// Overlapping observations are worth less than independent ones (hop / window of them);
// measured on generated signals, scaling that up by this much reads best.
constexpr double kEvidenceScale = 1.5;

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
  const double norm = -std::log(sigma * std::sqrt(kTwoPi));
  for (int d = 1; d <= SegmentViterbi::kMaxDuration; ++d) {
    const double z = (logOf[d] - mu) / sigma;
    if (std::fabs(z) > reach) continue;
    out[d] = static_cast<float>(norm - 0.5 * z * z - logOf[d]);
  }
}

}  // namespace

struct SoftDecoder::Impl {
  explicit Impl(const SoftDecoderConfig& c) : config(c) {
    fs = std::clamp(config.sampleRate, 50.0, 4000.0);
    config.observationsPerDot = std::clamp(config.observationsPerDot, 2.0, 12.0);
    warm.resize(static_cast<size_t>(kWarmUpS * fs));
    scanFreqs = 2 * kScanSegment + 1;
    scan.resize(warm.size() / kScanSegment * scanFreqs);
    scanSorted.resize(scan.size());
    scanSum.resize(scanFreqs);
    rotScratch.resize(warm.size());
    hopScratch.resize(warm.size());
    speedScratch.reserve(warm.size() + 1);
    sortScratch.reserve(warm.size() + 1);
    text.reserve(kTextCapacity);
    SetTransitions();
    ResetState();
  }

  void SetTransitions() {
    auto set = [&](SegmentKind a, SegmentKind b, double p) {
      viterbi.SetTransition(a, b, std::log(p));
    };
    for (SegmentKind m : {kDot, kDash}) {
      set(m, kElementGap, 0.55);
      set(m, kCharGap, 0.30);
      set(m, kWordGap, 0.15);
    }
    for (SegmentKind g : {kElementGap, kCharGap}) {
      set(g, kDot, 0.55);
      set(g, kDash, 0.45);
    }
    set(kWordGap, kDot, 0.3);
    set(kWordGap, kDash, 0.25);
    set(kWordGap, kIdle, 0.45);
    set(kIdle, kIdle, 0.995);
    set(kIdle, kDot, 0.0025);
    set(kIdle, kDash, 0.0025);
  }

  void ResetState() {
    dropped = 0;
    seen = 0;
    phase = 0.0;
    omega = 0.0;
    ring.fill({});
    ringPos = 0;
    sum = {};
    history = {};
    historyLength = 0;
    lastWasSpace = true;
    text.clear();
    lastMarkSample = -1;
    ResetTracking();
  }

  // What is learnt of a station: back to a new one's (its first seconds are held).
  void ResetTracking() {
    const double wpm = config.initialWpm > 0 ? config.initialWpm : 20.0;
    timingVariance = kKeyerSpread * kKeyerSpread;
    spread = tableSpread = 1.0;
    dashRatio = 3.0;
    gapRatio = {1.0, 3.0, 7.0};
    SetUnit(1.2 / wpm * fs, true);
    senderGaps.Reset();
    lastMarkEvidence = 0.0;
    noise = 0.0;
    markPower = 0.0;
    recentMarkCount = 0;
    overWpm = 0.0;
    ResetSearch();
  }

  // The search and the observations behind it start again, held first.
  void ResetSearch() {
    warmFill = 0;
    started = false;
    startSample = seen;
    lastKeyDownSample = -1;
    hopSum = {};
    hopCount = 0;
    prevSum = {};
    sinceObs = 0.0;
    obsCount = 0;
    obsIn = 0;
    viterbi.Reset();
    itemCount = 0;
    pendingCharGaps = 0;
    lastStrongObs = -1;
    quartileSet = false;
    noiseDropped = false;
    openGap = 0.0;
  }

  double Wpm() const { return 1.2 * fs / unit; }

  // Sets the unit (dot length in samples) and with it the observation hop, the coherent
  // window and the duration priors.
  void SetUnit(double samples, bool force = false) {
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

  // Spreads (log-normal sigma) of the lengths about what the learnt speed and ratios say.
  // The learnt ratios take each sender's own habits; tighter priors read weak signals
  // better. These are a keyer's, widened by `spread` for a sender whose clear marks vary
  // more (hand keying).
  // `offset` is added to every log-probability (see EstimateSpeed()).
  void SetDurations(double offset = 0.0) {
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

  // ---- Start-up: tone offset, levels and speed from the held samples ----

  void Start() {
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

  // ---- Overs: a pause ends one, the next is acquired as at the start ----

  static constexpr double kPauseWordGaps = 2.0;
  static constexpr double kMinPauseS = 0.8;
  static constexpr double kNewSpeedMargin = 5.0;  // nats
  double overWpm = 0.0;                           // the speed when the last over ended

  bool OverEnded() const {
    // Not before the sender's spacing is known: a Farnsworth sender's word gaps are long.
    if (!config.reacquireAfterPause || lastKeyDownSample < startSample || !senderGaps.Ready())
      return false;
    const double pause = std::max(kMinPauseS * fs, kPauseWordGaps * gapRatio[2] * unit);
    return static_cast<double>(seen - lastKeyDownSample) > pause;
  }

  // Decides everything heard, and holds what follows as at the start: the tone, levels
  // and speed of the next over are learnt from it (until then, and if it has none, the
  // last over's stay). The sender's spacing and the text model's context stay too.
  void EndOver() {
    overWpm = Wpm();
    viterbi.Commit(viterbi.Time(), [&](const Segment& seg) { OnSegment(seg); });
    DecideCharacters(true);
    Space();
    ResetSearch();
  }

  // Whether a tone stands out in the held samples (see ReadyToStart()).
  bool ToneInHeld() {
    const int segments = Scan();
    if (segments == 0) return false;
    const size_t cells = static_cast<size_t>(segments) * scanFreqs;
    std::copy_n(scan.begin(), cells, scanSorted.begin());
    std::nth_element(scanSorted.begin(), scanSorted.begin() + cells / 2,
                     scanSorted.begin() + cells);
    const double threshold = scanSorted[cells / 2] * kStartOverMedian;
    int count = 0;
    for (int seg = 0; seg < segments; ++seg)
      if (scan[static_cast<size_t>(seg) * scanFreqs + scanBest] > threshold) ++count;
    return count >= kStartSegments;
  }

  // The held samples start the decoder only once a tone stands out in them: a recording
  // or a live input may open with seconds of noise, and a speed and levels learnt from
  // noise are wrong. Without a tone the older half is dropped and holding goes on; with a
  // tone that begins late, the noise before it (less a second, which the levels are
  // learnt from) is dropped.
  bool ReadyToStart() {
    const int segments = Scan();
    if (segments == 0) return true;
    // Segment power at the strongest frequency against the median of all segments and
    // frequencies (key-up noise: exponential, so 8 dB over the median is 4.4x its mean).
    const size_t cells = static_cast<size_t>(segments) * scanFreqs;
    std::copy_n(scan.begin(), cells, scanSorted.begin());
    std::nth_element(scanSorted.begin(), scanSorted.begin() + cells / 2,
                     scanSorted.begin() + cells);
    const double threshold = scanSorted[cells / 2] * kStartOverMedian;
    int first = -1;
    int count = 0;
    for (int seg = 0; seg < segments; ++seg) {
      if (scan[static_cast<size_t>(seg) * scanFreqs + scanBest] > threshold) {
        if (first < 0) first = seg;
        ++count;
      }
    }
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

  // Power of every 64-sample segment of the held samples at every frequency within a
  // quarter of the rate around 0 Hz, a quarter bin apart, into `scan`; the frequency whose
  // summed power is the strongest local peak into `scanBest`. Returns the segments.
  int Scan() {
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

  double ScanHz(int k) const { return -fs / 4.0 + k * fs / kScanSegment / 4.0; }

  void EstimateOffset() {
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

  // Observations of the held samples at a fixed fine hop, shared by every speed
  // hypothesis so that their path scores compare.
  void EstimateSpeed() {
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

  // Two-level fit of observations: noise (exponential) and key-down power.
  static void FitLevels(const std::vector<float>& ys, std::vector<float>& sorted, double& noiseOut,
                        double& markOut) {
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

  // Key down over key up for one observation: key down is a steady amplitude in complex
  // Gaussian noise, key up the noise alone.
  static double Llr(double y, double noisePower, double markPowerTotal) {
    const double a2 = std::max(markPowerTotal - noisePower, noisePower * 1e-3);
    const double a = std::sqrt(a2);
    return -a2 / noisePower + LogI0(2.0 * a * std::sqrt(std::max(y, 0.0)) / noisePower);
  }

  // ---- Streaming ----

  void Step(std::complex<float> x) {
    const std::complex<double> z = std::complex<double>(x) * std::polar(1.0, -phase);
    phase += omega;
    if (phase > kTwoPi) phase -= kTwoPi;
    if (phase < -kTwoPi) phase += kTwoPi;
    const int out = (ringPos - window) & (kMaxWindow - 1);
    sum += z - ring[out];
    ring[ringPos] = z;
    ringPos = (ringPos + 1) & (kMaxWindow - 1);
    hopSum += z;
    ++hopCount;
    ++seen;
    sinceObs += 1.0;
    if (sinceObs >= hop) {
      sinceObs -= hop;
      Observe();
    }
  }

  // Fading: key-down power is judged against the reference (the key-down level followed
  // over about a second), unless the key-down observations around it, two dots either side
  // (the decision waits for those that follow), say the signal has faded more than
  // kFadeThresholdDb below it; then against their level, down to kFloorDb. A faded element
  // is weak evidence, not none, and the reference never loses the signal in a fade; the
  // floor keeps noise in a long gap of a strong signal from looking like marks.
  static constexpr int kEnvelopeHalf = 12;  // observations either side (2 dots)
  static constexpr int kEnvelopeRing = 32;  // > 2 * kEnvelopeHalf + 1, a power of two
  static constexpr int kEnvelopeRank = 4;   // the level is the 4th strongest in the window
  static constexpr double kFadeThresholdDb = 2.5;
  static constexpr double kFloorDb = -20.0;
  // The local level counts only for a signal heard clearly (a key-down observation at the
  // reference level) within the last kFadeMemoryS, strong enough to fade (reference over
  // noise per observation), and standing out of the noise itself: noise after a station
  // has gone, or between its words, is not a fade.
  static constexpr double kFadeMemoryS = 3.0;
  static constexpr double kFadeMinReference = 10.0;
  static constexpr double kPresence = 2.5;
  // A key-down level this far over the noise is a station, heard before or not: another
  // station's over, or the same one after a step of level (no noise reaches this).
  static constexpr double kOtherLevel = 8.0;
  // Marks reach further from the learnt length than gaps (5.5 sigmas, over twice and
  // under half of it): a sender who doubles or halves his speed keys marks the search can
  // still place, at a cost, until the speed follows (see CheckSpeedJump()).
  static constexpr double kMarkReach = 5.5;
  // Noise floor drops: the quartile's step per observation (nats) and how far under the
  // noise it must be to count as one.
  static constexpr double kQuartileStep = 0.1;
  static constexpr double kNoiseStep = 10.0;
  static inline const double kFadeThreshold = std::pow(10.0, -kFadeThresholdDb / 10.0);
  static inline const double kFloor = std::pow(10.0, kFloorDb / 10.0);

  void Observe() {
    const std::complex<double> s = sum / static_cast<double>(window);
    const double y = std::norm(s);
    if (noise <= 0) {
      noise = y + 1e-20;
      markPower = noise * 4;
    }
    envS[obsIn & (kEnvelopeRing - 1)] = s;
    envY[obsIn & (kEnvelopeRing - 1)] = static_cast<float>(y);
    envSeen[obsIn & (kEnvelopeRing - 1)] = seen;
    envHop[obsIn & (kEnvelopeRing - 1)] = hopSum;
    envHopCount[obsIn & (kEnvelopeRing - 1)] = hopCount;
    hopSum = {};
    hopCount = 0;
    ++obsIn;
    if (obsIn > kEnvelopeHalf) Decide(obsIn - 1 - kEnvelopeHalf);
  }

  // Key-down level around observation `j`: a high rank of the window's powers.
  double LocalLevel(int64_t j) const {
    const int64_t first = std::max<int64_t>(0, j - kEnvelopeHalf);
    const int64_t last = std::min<int64_t>(obsIn - 1, j + kEnvelopeHalf);
    // The strongest kEnvelopeRank, kept in order by insertion (a selection algorithm costs
    // more than this on 25 values).
    std::array<float, kEnvelopeRank> top;
    top.fill(-1.0f);
    int n = 0;
    for (int64_t i = first; i <= last; ++i, ++n) {
      const float v = envY[i & (kEnvelopeRing - 1)];
      if (v <= top[kEnvelopeRank - 1]) continue;
      int k = kEnvelopeRank - 1;
      for (; k > 0 && top[k - 1] < v; --k) top[k] = top[k - 1];
      top[k] = v;
    }
    return top[std::min(n - 1, kEnvelopeRank - 1)];
  }

  void Decide(int64_t j) {
    const std::complex<double> s = envS[j & (kEnvelopeRing - 1)];
    const double y = envY[j & (kEnvelopeRing - 1)];
    const double reference = std::max(markPower - noise, noise * 1e-3);
    const double local = LocalLevel(j);
    double a2 = reference;
    const bool recent =
        lastStrongObs >= 0 && static_cast<double>(j - lastStrongObs) * hop < kFadeMemoryS * fs;
    if (local - noise < reference * kFadeThreshold) {
      if (local > kOtherLevel * noise)
        a2 = local - noise;  // a station at another level, however long since the last one
      else if (recent && reference > kFadeMinReference * noise && local > kPresence * noise)
        a2 = std::max(local - noise, reference * kFloor);
    }
    const double llr = Llr(y, noise, noise + a2);
    const double p = 1.0 / (1.0 + std::exp(-std::clamp(llr + std::log(0.45 / 0.55), -30.0, 30.0)));
    // Levels follow slowly: noise over about 3 s, the key-down reference over about 1 s
    // of key-down time.
    const double secondsPerObs = hop / fs;
    // Weighted by (1 - p)^2 so that faint key-down stretches do not lift the noise, and
    // clipped at 4x (an observation half over an element edge is no noise sample; the
    // clipped mean of key-up power is 1 - e^-4 of the mean). In a fade the key-down is
    // faint throughout and its p middling: (1 - p)^4 keeps it out of the noise there, which
    // would otherwise rise into the trough and bury the marks a second time.
    const double clipped = std::min(y, 4.0 * noise) / (1.0 - std::exp(-4.0));
    const double keyUp = a2 == reference ? (1 - p) * (1 - p) : std::pow(1 - p, 4);
    noise += std::min(1.0, secondsPerObs / 3.0) * keyUp * (clipped - noise);
    // A drop of the noise floor (a receiver muted for the own sidetone's over), and its
    // return: the lower quartile of all observations, followed in log power, says where it
    // went. Upward it counts only after a drop: a run of dashes lifts it as far.
    if (!quartileSet) lowQuartile = std::log(0.2877 * noise);
    quartileSet = true;
    lowQuartile +=
        kQuartileStep * (std::log(std::max(y, markPower * 1e-8)) > lowQuartile ? 0.25 : -0.75);
    const double floorNoise = std::exp(lowQuartile) / 0.2877;
    if (floorNoise * kNoiseStep < noise) {
      noise = floorNoise;
      noiseDropped = true;
    } else if (noiseDropped && floorNoise > kNoiseStep * noise) {
      noise = floorNoise;  // and back: the receiver's noise again
      noiseDropped = false;
    }
    markPower += std::min(1.0, secondsPerObs / kReferenceS) * p * (y - markPower);
    // A clean signal has no noise to speak of: keep the ratio finite (40 dB per observation).
    noise = std::max(noise, markPower * 1e-4);
    markPower = std::max(markPower, noise * 1.05);
    // The tone offset follows the phase advance between key-down observations.
    if (p > 0.9 && prevP > 0.9) {
      const double turn = std::arg(s * std::conj(prevSum)) / hop;
      omega += 0.02 * turn;
    }
    prevSum = s;
    prevP = p;
    if (p > 0.5) lastMarkSample = envSeen[j & (kEnvelopeRing - 1)];
    if (p > 0.5) lastKeyDownSample = envSeen[j & (kEnvelopeRing - 1)];
    // Heard clearly: at the reference level, or faded but still well out of the noise (a
    // fade longer than kFadeMemoryS is no reason to stop following it).
    if (p > 0.9 && (a2 == reference || local > kFadeMinReference * noise)) lastStrongObs = j;

    obsSample[obsCount & (SegmentViterbi::kHistory - 1)] = envSeen[j & (kEnvelopeRing - 1)];
    ++obsCount;
    {
      // Per input sample: noise power `noise * window` (an observation is a mean over the
      // window), key-down amplitude sqrt(a2).
      const double noiseSample = noise * window;
      const double amp = std::sqrt(a2);
      viterbi.PushCoherent(static_cast<float>(kEvidenceScale * weight * llr),
                           envHop[j & (kEnvelopeRing - 1)] * (amp / noiseSample),
                           a2 * envHopCount[j & (kEnvelopeRing - 1)] / noiseSample);
    }
    // Characters wait for the one after them (see DecideCharacters()).
    const double lagS = config.maxLagS - (config.languageModel ? kCharacterWaitS : 0.0);
    const int64_t lagObs = static_cast<int64_t>(lagS * fs / hop) - 2 - kEnvelopeHalf;
    if ((obsCount & 3) == 0) {
      viterbi.Commit(viterbi.Time() - std::max<int64_t>(lagObs, 8),
                     [&](const Segment& seg) { OnSegment(seg); });
    }
  }

  // End of input: decides the observations still waiting for the ones after them.
  void DrainEnvelope() {
    for (int64_t j = std::max<int64_t>(0, obsIn - kEnvelopeHalf); j < obsIn; ++j) Decide(j);
  }

  // Input sample at which decided observation `k` was made.
  int64_t ObsSample(int64_t k) const { return obsSample[k & (SegmentViterbi::kHistory - 1)]; }

  void OnSegment(const Segment& seg) {
    // In samples: the hop may have changed since these observations were made.
    const double samples =
        seg.start > 0 ? static_cast<double>(ObsSample(seg.end - 1) - ObsSample(seg.start - 1))
                      : static_cast<double>(seg.end - seg.start) * hop;
    const int duration = static_cast<int>(seg.end - seg.start);
    switch (seg.kind) {
      case kDot:
      case kDash:
        if (openGap > 0.0) NoteGap(openGap / unit, lastMarkEvidence);
        openGap = 0.0;
        lastMarkEvidence = seg.evidence;
        [[fallthrough]];
      case kElementGap:
        AddItem(seg.kind, duration, seg.evidence);
        Learn(seg.kind, samples, IsMark(seg.kind) ? seg.evidence : 0.0);
        break;
      case kCharGap:
        AddItem(seg.kind, duration, 0.0);
        NoteGap(samples / unit, lastMarkEvidence);
        Learn(seg.kind, samples, 0);
        if (++pendingCharGaps >= (config.languageModel ? 2 : 1)) DecideCharacters(false);
        break;
      case kWordGap:
        DecideCharacters(true);
        Learn(seg.kind, samples, 0);
        Space();
        openGap = samples;
        break;
      default:
        DecideCharacters(true);
        Space();
        if (openGap > 0.0) openGap += samples;
        break;
    }
  }

  // ---- Characters ----
  //
  // The search is least sure of two things: whether a mark was a dot or a dash, and
  // whether a gap was between elements or between characters. With the segmentation
  // fixed the evidence is the same either way, so the other label costs exactly the
  // difference of the priors of the segment's length. The marks and gaps since the last
  // character put out are held until the character after them has ended; then the most
  // doubtful of them are relabelled every way (a dot for a dash, one character split in
  // two or two run together) and the labelling whose characters are all real ones and
  // that scores best, priors plus the text model's odds of those characters after the
  // text before them, gives the first character.
  struct Item {
    SegmentKind kind;
    double evidence;
    double doubt;  // log-probability lost by the other label; large when there is none
  };
  static constexpr int kMaxItems = 64;
  static constexpr int kMaxFlips = 6;         // doubtful labels tried both ways
  static constexpr double kDoubtful = 6.0;    // nats: a label this close may be the other
  static constexpr double kTextWeight = 1.0;  // weight of the text model's log-odds
  static constexpr double kNoOther = 1e9;
  static constexpr double kCharacterWaitS = 0.5;  // taken off the search's lag

  static SegmentKind Other(SegmentKind kind) {
    switch (kind) {
      case kDot:
        return kDash;
      case kDash:
        return kDot;
      case kElementGap:
        return kCharGap;
      case kCharGap:
        return kElementGap;
      default:
        return kind;
    }
  }

  void AddItem(SegmentKind kind, int duration, double evidence) {
    if (itemCount == kMaxItems) DecideCharacters(true);
    double doubt = kNoOther;
    const SegmentKind other = Other(kind);
    const double there = viterbi.DurationLogProb(other, duration);
    if (config.languageModel && other != kind && there > SegmentViterbi::kNever / 2) {
      // Entering the segment: marks from gaps, gaps from marks.
      const SegmentKind before = IsMark(kind) ? kElementGap : kDot;
      const double here =
          viterbi.DurationLogProb(kind, duration) + viterbi.TransitionLogProb(before, kind);
      doubt = std::max(0.0, here - there - viterbi.TransitionLogProb(before, other));
    }
    items[itemCount++] = Item{kind, evidence, doubt};
  }

  // Characters of the held items under `flip` (bit k relabels doubtful item k) into `out`
  // (their text, mean evidence and the item that ends each). Strict, it fails on a pattern
  // that is no character; otherwise such a character comes out with no text. A pattern of
  // more than 16 marks always fails.
  struct Parsed {
    int count = 0;
    std::array<std::string_view, kMaxItems> text{};
    std::array<double, kMaxItems> evidence{};
    std::array<int, kMaxItems> end{};  // index of the item that ends the character
  };

  bool Parse(uint32_t flip, Parsed& out, bool strict = true) const {
    out.count = 0;
    char pat[16];
    int len = 0;
    double ev = 0.0;
    int marks = 0;
    int k = 0;
    auto finish = [&](int end) {
      if (len == 0) return true;
      const std::string_view t = PatternText(std::string_view(pat, static_cast<size_t>(len)));
      if (t.empty() && strict) return false;
      out.text[out.count] = t;
      out.evidence[out.count] = ev / marks;
      out.end[out.count] = end;
      ++out.count;
      len = 0;
      ev = 0.0;
      marks = 0;
      return true;
    };
    for (int i = 0; i < itemCount; ++i) {
      SegmentKind kind = items[i].kind;
      if (k < doubtCount && doubtIndex[k] == i) {
        if (flip & (1U << k)) kind = Other(kind);
        ++k;
      }
      if (IsMark(kind)) {
        if (len == static_cast<int>(sizeof pat)) return false;
        pat[len++] = kind == kDot ? '.' : '-';
        ev += items[i].evidence * (kind == kDot ? 1.0 : 1.0 / 3.0);
        ++marks;
      } else if (kind == kCharGap) {
        if (!finish(i)) return false;
      }
    }
    return finish(itemCount - 1);
  }

  double TextOdds(const Parsed& parsed, int upTo) const {
    const Plausibility& model = Plausibility::Model();
    std::array<int, 3> h = history;
    int length = historyLength;
    double score = 0.0;
    for (int c = 0; c < upTo; ++c) {
      for (char ch : parsed.text[c]) {
        const int sym = Plausibility::Symbol(ch);
        score +=
            model.LogProb(h.data() + (3 - length), length, sym) - Plausibility::NoiseLogProb(sym);
        h = {h[1], h[2], sym};
        length = std::min(3, length + 1);
      }
    }
    return score;
  }

  void DecideCharacters(bool all) {
    if (itemCount == 0) return;
    // The most doubtful labels (all but a held last character gap).
    doubtCount = 0;
    const int last = all ? itemCount : itemCount - 1;
    for (int i = 0; i < last; ++i) {
      if (items[i].doubt >= kDoubtful) continue;
      if (doubtCount < kMaxFlips) {
        doubtIndex[doubtCount++] = i;
      } else {
        int worst = 0;
        for (int k = 1; k < doubtCount; ++k)
          if (items[doubtIndex[k]].doubt > items[doubtIndex[worst]].doubt) worst = k;
        if (items[i].doubt < items[doubtIndex[worst]].doubt) doubtIndex[worst] = i;
      }
    }
    std::sort(doubtIndex.begin(), doubtIndex.begin() + doubtCount);
    double best = -1e300;
    uint32_t bestFlip = 0;
    bool found = false;
    for (uint32_t flip = 0; flip < (1U << doubtCount); ++flip) {
      if (!Parse(flip, parsed)) continue;
      double score = 0.0;
      for (int k = 0; k < doubtCount; ++k)
        if (flip & (1U << k)) score -= items[doubtIndex[k]].doubt;
      score += kTextWeight * TextOdds(parsed, parsed.count);
      if (!found || score > best) {
        best = score;
        bestFlip = flip;
        found = true;
      }
    }
    // No labelling gives real characters: what the search said, unreadable ones dropped.
    Parse(bestFlip, parsed, found);
    const int emit = all ? parsed.count : std::min(parsed.count, 1);
    for (int c = 0; c < emit; ++c) EmitChar(parsed.text[c], parsed.evidence[c]);
    if (all || parsed.count == 0) {
      itemCount = 0;
      pendingCharGaps = 0;
      return;
    }
    // Keep what follows the first character, with the search's own labels.
    const int drop = parsed.end[0] + 1;
    std::copy(items.begin() + drop, items.begin() + itemCount, items.begin());
    itemCount -= drop;
    pendingCharGaps = 0;
    for (int i = 0; i < itemCount; ++i)
      if (items[i].kind == kCharGap) ++pendingCharGaps;
  }

  void EmitChar(std::string_view t, double meanEvidence) {
    if (meanEvidence < kMinEvidence || t.empty()) return;
    for (char c : t) {
      Put(config.upperCase ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
      PushHistory(Plausibility::Symbol(c));
    }
    lastWasSpace = false;
  }

  void PushHistory(int symbol) {
    history = {history[1], history[2], symbol};
    historyLength = std::min(3, historyLength + 1);
  }

  // A new sender, or the same one changing speed, shows in the last few marks before the
  // search reads them right: split their lengths into short and long (dots and dashes),
  // and when that split is clear and says another speed, take that speed at once.
  static constexpr int kRecentMarks = 8;
  static constexpr double kSpeedJump = 0.25;  // relative change that moves the unit at once

  void CheckSpeedJump(double samples, double evidence) {
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
    for (int i = bestSplit; i < kRecentMarks; ++i)
      longMean += sorted[i] / (kRecentMarks - bestSplit);
    const double ratio = longMean / shortMean;
    // Clear dots and dashes, each side tight (within about +-25 %).
    if (ratio < 2.2 || ratio > 4.5 || bestCost > kRecentMarks * 0.05) return;
    const double estimate =
        (shortMean * bestSplit + longMean / ratio * (kRecentMarks - bestSplit)) / kRecentMarks;
    if (std::fabs(estimate / unit - 1.0) > kSpeedJump) SetUnit(estimate);
  }

  // How much the sender's timing varies, from marks clear enough that their length is
  // the sender's and not the noise's: the priors widen from a keyer's by up to kSpreadMax
  // as the spread of those marks' lengths grows past kKeyerSpread. A weak signal keeps
  // the keyer's priors.
  void LearnSpread(SegmentKind kind, double samples, double evidence) {
    const double expected = kind == kDot ? unit : unit * dashRatio;
    const double observations = samples / hop;
    if (observations < 1.0 || evidence < kClearPerObservation * observations) return;
    const double r = std::log(samples / expected);
    timingVariance += 0.05 * (std::min(r * r, 0.25) - timingVariance);
    spread = std::clamp(std::sqrt(timingVariance) / kKeyerSpread, 1.0, kSpreadMax);
    if (std::fabs(spread / tableSpread - 1.0) > 0.05) SetDurations();
  }

  // The sender's own letter gaps (see SenderSpacing), from gaps after a clear mark: when
  // they are far from the ratio the search uses, the ratios move there at once.
  static constexpr double kSpacingJump = 0.3;
  static constexpr double kClearMark = 10.0;        // evidence of the mark before a gap noted
  static constexpr double kLongestCharGap = 130.0;  // observations
  static constexpr double kLongestWordGap = 160.0;

  void NoteGap(double dots, double markEvidence) {
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

  void Learn(SegmentKind kind, double samples, double evidence) {
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

  void Space() {
    if (!lastWasSpace) {
      Put(' ');
      lastWasSpace = true;
      PushHistory(0);
    }
  }

  void Put(char c) {
    if (text.size() < kTextCapacity) text.push_back(c);
  }

  static constexpr double kMinEvidence = 2.0;

  SoftDecoderConfig config;
  double fs = 250.0;
  std::vector<std::complex<float>> warm;
  size_t warmFill = 0;
  int64_t dropped = 0;  // held samples dropped while no tone stood out
  static constexpr int kScanSegment = 64;
  static constexpr double kStartOverMedian = 6.3;  // 8 dB
  static constexpr int kStartSegments = 3;
  int scanFreqs = 0;
  int scanBest = 0;
  std::vector<float> scan;  // segments x scanFreqs
  std::vector<float> scanSorted;
  std::vector<double> scanSum;
  std::vector<std::complex<double>> rotScratch;
  std::vector<std::complex<double>> hopScratch;
  std::vector<float> speedScratch;
  std::vector<float> sortScratch;
  bool started = false;
  int64_t seen = 0;

  double phase = 0.0;
  double omega = 0.0;  // tone offset, radians per sample
  std::array<std::complex<double>, kMaxWindow> ring{};
  int ringPos = 0;
  std::complex<double> sum{};
  std::complex<double> prevSum{};
  double prevP = 0.0;
  int window = 0;
  double hop = 1.0;
  double weight = 1.0;
  double sinceObs = 0.0;
  int64_t obsCount = 0;
  std::array<std::complex<double>, kEnvelopeRing> envS{};  // observations awaiting a decision
  std::array<float, kEnvelopeRing> envY{};
  std::array<int64_t, kEnvelopeRing> envSeen{};
  std::array<std::complex<double>, kEnvelopeRing> envHop{};  // samples summed since the last
  std::array<int, kEnvelopeRing> envHopCount{};              // observation, and how many
  std::complex<double> hopSum{};
  int hopCount = 0;
  int64_t obsIn = 0;
  int64_t lastStrongObs = -1;
  std::array<int64_t, SegmentViterbi::kHistory> obsSample{};  // see ObsSample()
  std::array<double, kRecentMarks> recentMarks{};             // lengths of the last marks, samples
  int64_t recentMarkCount = 0;  // observations made (obsCount: decided)

  double unit = 15.0;  // dot length, samples
  double tableUnit = 15.0;
  double dashRatio = 3.0;
  // The sender's timing spread (see LearnSpread): mean square log length error of clear
  // marks, the priors' widening from it, and the widening the tables were made with.
  static constexpr double kClearPerObservation = 50.0;
  static constexpr double kKeyerSpread = 0.11;
  static constexpr double kSpreadMax = 1.7;
  double timingVariance = kKeyerSpread * kKeyerSpread;
  double spread = 1.0;
  double tableSpread = 1.0;
  std::array<double, 3> gapRatio{1.0, 3.0, 7.0};
  static constexpr double kMaxCharGapRatio = 40.0;
  static constexpr double kMaxWordGapRatio = 100.0;
  SenderSpacing senderGaps;
  double openGap = 0.0;           // samples of the word gap and idle since the last mark
  double lastMarkEvidence = 0.0;  // of the last mark committed
  double noise = 0.0;             // observation power with the key up
  double markPower = 0.0;         // observation power with the key down
  int64_t lastMarkSample = -1;
  int64_t lastKeyDownSample = -1;  // a clear key-down observation (p > 0.9) of this over
  int64_t startSample = 0;         // where this over's holding began
  double lowQuartile = 0.0;        // log power, see Decide()
  bool quartileSet = false;
  bool noiseDropped = false;  // the noise floor dropped a step and has not come back

  SegmentViterbi viterbi;
  std::array<Item, kMaxItems> items{};
  int itemCount = 0;
  int pendingCharGaps = 0;
  std::array<int, kMaxFlips> doubtIndex{};
  int doubtCount = 0;
  Parsed parsed;
  std::array<int, 3> history{};  // the text model's context: the last symbols put out
  int historyLength = 0;
  bool lastWasSpace = true;
  std::string text;
};

SoftDecoder::SoftDecoder(const SoftDecoderConfig& config) : impl_(std::make_unique<Impl>(config)) {
  if (config.languageModel) Plausibility::Model();  // built now, not while decoding
}
SoftDecoder::~SoftDecoder() = default;

void SoftDecoder::Process(const std::complex<float>* samples, size_t count) {
  Impl& d = *impl_;
  for (size_t i = 0; i < count; ++i) {
    if (d.started) {
      d.Step(samples[i]);
      if (d.OverEnded()) d.EndOver();
    } else {
      d.warm[d.warmFill++] = samples[i];
      if (d.warmFill == d.warm.size() && d.ReadyToStart()) d.Start();
    }
  }
}

void SoftDecoder::Flush() {
  Impl& d = *impl_;
  // After an over the held samples are decoded only if a station is in them.
  if (!d.started && (d.startSample == 0 || d.ToneInHeld())) d.Start();
  // Let the last segments end: a word gap of silence with no new evidence.
  d.DrainEnvelope();
  const int64_t end = d.viterbi.Time();
  const int64_t silence = static_cast<int64_t>(12.0 * d.unit / d.hop) + 8;
  for (int64_t i = 0; i < silence; ++i) {
    d.obsSample[d.obsCount & (SegmentViterbi::kHistory - 1)] = d.seen;
    ++d.obsCount;
    d.viterbi.PushCoherent(static_cast<float>(-d.weight * 2.0), {}, d.weight * 2.0);
  }
  d.viterbi.Commit(d.viterbi.Time(), [&](const Segment& seg) {
    if (seg.start < end) d.OnSegment(seg);
  });
  d.DecideCharacters(true);
}

void SoftDecoder::Reset() {
  impl_->ResetState();
}

size_t SoftDecoder::TakeText(std::string& out) {
  const size_t n = impl_->text.size();
  out += impl_->text;
  impl_->text.clear();
  return n;
}

SoftSignalState SoftDecoder::State() const {
  const Impl& d = *impl_;
  SoftSignalState s;
  s.wpm = d.Wpm();
  s.noisePower = d.noise * d.window;  // per input sample
  s.signalPower = std::max(0.0, d.markPower - d.noise);
  if (s.noisePower > 0 && s.signalPower > 0) {
    // Noise in 500 Hz: the input's noise density times 500 Hz.
    const double noise500 = s.noisePower / d.fs * 500.0;
    s.snrDb = 10.0 * std::log10(s.signalPower / noise500);
  }
  s.active = d.lastMarkSample >= 0 && d.seen - d.lastMarkSample < static_cast<int64_t>(5 * d.fs);
  return s;
}

const SoftDecoderConfig& SoftDecoder::Config() const {
  return impl_->config;
}
int64_t SoftDecoder::SamplesSeen() const {
  return impl_->seen + impl_->dropped + static_cast<int64_t>(impl_->warmFill);
}

}  // namespace kestrix::soft
