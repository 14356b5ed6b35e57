#include "skim/sideband_canceller.h"

#include <algorithm>
#include <cmath>
#include <numbers>

#include "skim/filter_design.h"

namespace kestrix::skim {

namespace {
constexpr double kPi = std::numbers::pi;
// Candidate rise times of a key edge, ms (raised cosine; 0 is a hard key).
constexpr std::array<double, SidebandCanceller::kShapes> kRiseMs = {0.0, 1.0, 2.0, 3.5,
                                                                    5.0, 7.0, 10.0};
// The envelope is looked at about this often (Hz), and low-passed to about this width.
constexpr double kDetectRate = 2000.0;
constexpr double kDetectHz = 120.0;
// The key-down level decays with this time constant when the carrier is quiet (s).
constexpr double kLevelS = 3.0;
// A key edge: the envelope through half the key-down level, with hysteresis either side.
constexpr double kUp = 0.55, kDown = 0.45;
// The low-passed envelope has settled this long after an edge (s).
constexpr double kSettleS = 0.012;
// ... of a carrier this many times its level when key-up.
constexpr double kOverFloor = 10.0;
// Each edge's share of a shape's score and gain; the best shape subtracts while its gain
// is this near 1.
constexpr double kScoreWeight = 0.2;
constexpr double kGainTolerance = 0.35;
// A named carrier this close to one followed is the same (Hz).
constexpr double kSameHz = 3.0;
constexpr size_t kEdgesMax = 32;

double RaisedCosine(double t, double rise) {
  if (rise <= 0.0) return t > 0.0 ? 1.0 : t < 0.0 ? 0.0 : 0.5;
  if (t <= -rise / 2) return 0.0;
  if (t >= rise / 2) return 1.0;
  return 0.5 * (1.0 + std::sin(kPi * t / rise));
}
}  // namespace

SidebandCanceller::SidebandCanceller(const SidebandCancellerConfig& config) : config_(config) {
  const double rate = config_.rate;
  decimation_ = std::max(1, static_cast<int>(std::lround(rate / kDetectRate)));
  const int detectLength = KaiserLength(kDetectHz, rate, 40.0);
  detectTaps_ = KaiserLowPass(detectLength, kDetectHz, rate, 40.0);
  detectHalf_ = (detectLength - 1) / 2.0;

  // The templates: an edge shape less the same shape through the low-pass that defines
  // what a loud carrier keeps, on a grid of 1/q_ sample.
  q_ = std::max(1, static_cast<int>(std::lround(64000.0 / rate)));
  const int lpHalf = (KaiserLength(config_.keepHz, rate, 40.0) - 1) / 2;
  const int riseHalf = static_cast<int>(std::ceil(kRiseMs.back() * 1e-3 * rate / 2));
  half_ = lpHalf + riseHalf;
  const std::vector<float> keep =
      KaiserLowPass(2 * lpHalf * q_ + 1, config_.keepHz, rate * q_, 40.0);
  const int points = 2 * half_ * q_ + 1;
  const int taps = 2 * lpHalf * q_ + 1;
  std::vector<double> below(static_cast<size_t>(taps) + 1, 0.0);  // sums of the first taps
  for (int i = 0; i < taps; ++i)
    below[static_cast<size_t>(i) + 1] =
        below[static_cast<size_t>(i)] + keep[static_cast<size_t>(i)];
  const int shift = (half_ - lpHalf) * q_;
  std::vector<double> shape;
  for (int k = 0; k < kShapes; ++k) {
    // The shape on the grid: 0 below -reach, 1 above +reach.
    const double rise = kRiseMs[static_cast<size_t>(k)] * 1e-3 * rate;
    const int reach = static_cast<int>(std::ceil(rise / 2 * q_));
    shape.resize(static_cast<size_t>(2 * reach + 1));
    for (int u = -reach; u <= reach; ++u)
      shape[static_cast<size_t>(u + reach)] = RaisedCosine(static_cast<double>(u) / q_, rise);
    std::vector<float>& g = templates_[static_cast<size_t>(k)];
    g.resize(static_cast<size_t>(points));
    for (int j = 0; j < points; ++j) {
      // Tap i sees the shape at u = j - shift - i: all of it 1 for u > reach.
      const int ones = std::clamp(j - shift - reach, 0, taps);
      double filtered = below[static_cast<size_t>(ones)];
      for (int u = -reach; u <= reach; ++u) {
        const int i = j - shift - u;
        if (i >= 0 && i < taps)
          filtered += keep[static_cast<size_t>(i)] * shape[static_cast<size_t>(u + reach)];
      }
      const double t = static_cast<double>(j) / q_ - half_;
      g[static_cast<size_t>(j)] = static_cast<float>(RaisedCosine(t, rise) - filtered);
    }
  }
  // The same low-pass at the input rate, to split the audio around an edge the same way.
  keepTaps_ = KaiserLowPass(2 * lpHalf + 1, config_.keepHz, rate, 40.0);
  keepHalf_ = lpHalf;
  split_.resize(static_cast<size_t>(2 * half_ + 1));
  basebandRe_.resize(static_cast<size_t>(2 * (half_ + lpHalf) + 3 * decimation_ + 2));
  kept_.resize(static_cast<size_t>(2 * half_ / decimation_ + 5));
  basebandIm_.resize(basebandRe_.size());

  // An edge is in hand detectHalf_ plus a few decimated samples after its middle, and its
  // template reaches half_ samples on: the output waits for both.
  const size_t reach = static_cast<size_t>(
      std::max(detectHalf_ + 10.0 * decimation_, half_ + keepHalf_ + 2.0 * decimation_ + 1.0));
  delay_ = reach + static_cast<size_t>(half_) + 4;
  size_t ring = 1;
  while (ring < delay_ + 2 * static_cast<size_t>(half_ + keepHalf_ + 2 * decimation_) + 64)
    ring *= 2;
  input_.assign(ring, 0.0f);
  corr_.assign(ring, 0.0f);
  mask_ = ring - 1;

  carriers_.resize(static_cast<size_t>(std::max(config_.maxCarriers, 0)));
  for (Carrier& c : carriers_) {
    c.line.assign(2 * detectTaps_.size(), {});
    c.edges.reserve(kEdgesMax);
  }
}

size_t SidebandCanceller::Carriers() const {
  return static_cast<size_t>(
      std::count_if(carriers_.begin(), carriers_.end(), [](const Carrier& c) { return c.on; }));
}

void SidebandCanceller::Reset() {
  std::fill(input_.begin(), input_.end(), 0.0f);
  std::fill(corr_.begin(), corr_.end(), 0.0f);
  for (Carrier& c : carriers_) c.on = false;
  n_ = 0;
  cancelled_ = 0;
}

void SidebandCanceller::Start(Carrier& c, double hz) {
  c.on = true;
  c.hz = hz;
  c.omega = 2.0 * kPi * hz / config_.rate;
  c.start = n_;
  c.mixer = {1.0, 0.0};
  c.step = std::polar(1.0, -c.omega);
  std::fill(c.line.begin(), c.line.end(), std::complex<float>{});
  c.head = 0;
  c.phase = 0;
  c.recentCount = 0;
  c.level = 0.0;
  c.floor = 0.0;
  c.keyDown = 0.0;
  c.sinceUp = 0;
  c.keyed = false;
  c.edges.clear();
  c.score.fill(0.0);
  c.gain.fill(0.0);
}

void SidebandCanceller::SetCarriers(const double* hz, size_t count) {
  count = std::min(count, carriers_.size());
  std::array<bool, 16> kept{};
  for (Carrier& c : carriers_) {
    if (!c.on) continue;
    bool named = false;
    for (size_t i = 0; i < count && i < kept.size(); ++i) {
      if (!kept[i] && std::abs(hz[i] - c.hz) < kSameHz) {
        kept[i] = named = true;
        break;
      }
    }
    if (!named) c.on = false;
  }
  for (size_t i = 0; i < count && i < kept.size(); ++i) {
    if (kept[i]) continue;
    for (Carrier& c : carriers_) {
      if (!c.on) {
        Start(c, hz[i]);
        break;
      }
    }
  }
}

void SidebandCanceller::Process(float* samples, size_t count) {
  for (size_t i = 0; i < count; ++i) {
    const float x = samples[i];
    const size_t slot = static_cast<size_t>(n_) & mask_;
    input_[slot] = x;
    corr_[slot] = 0.0f;
    for (Carrier& c : carriers_) {
      if (!c.on) continue;
      Detect(c, n_);
      // An edge's template is applied once the audio it spans is all in.
      while (!c.edges.empty() && c.edges.front().t + half_ + keepHalf_ + 2 * decimation_ + 1 <=
                                     static_cast<double>(n_)) {
        Cancel(c, c.edges.front());
        c.edges.erase(c.edges.begin());
      }
    }
    const int64_t out = n_ - static_cast<int64_t>(delay_);
    if (out >= 0) {
      const size_t o = static_cast<size_t>(out) & mask_;
      samples[i] = input_[o] - corr_[o];
    } else {
      samples[i] = 0.0f;
    }
    ++n_;
  }
}

void SidebandCanceller::Detect(Carrier& c, int64_t n) {
  const std::complex<double> b =
      static_cast<double>(input_[static_cast<size_t>(n) & mask_]) * c.mixer;
  c.mixer *= c.step;
  if (((n - c.start) & 1023) == 0) c.mixer /= std::abs(c.mixer);
  const size_t taps = detectTaps_.size();
  const std::complex<float> bf(static_cast<float>(b.real()), static_cast<float>(b.imag()));
  c.line[c.head] = bf;
  c.line[c.head + taps] = bf;
  c.head = c.head + 1 == taps ? 0 : c.head + 1;
  if (++c.phase < decimation_) return;
  c.phase = 0;
  const std::complex<float>* run = c.line.data() + c.head;
  float re = 0.0f, im = 0.0f;
  for (size_t k = 0; k < taps; ++k) {
    re += detectTaps_[k] * run[k].real();
    im += detectTaps_[k] * run[k].imag();
  }
  const std::complex<double> y(re, im);
  const double t = static_cast<double>(n) - detectHalf_;
  const size_t r = c.recent.size();
  for (size_t k = r - 1; k > 0; --k) {
    c.recent[k] = c.recent[k - 1];
    c.recentT[k] = c.recentT[k - 1];
  }
  c.recent[0] = y;
  c.recentT[0] = t;
  c.recentCount = std::min(c.recentCount + 1, static_cast<int>(r));
  const double mag = std::abs(y);
  c.level = std::max(mag, c.level * std::exp(-decimation_ / (kLevelS * config_.rate)));
  if (!c.keyed) c.floor = c.floor > 0.0 ? c.floor + 0.01 * (mag - c.floor) : mag;
  // Edges only of a carrier well over what is under it when it is up.
  if (c.level < kOverFloor * c.floor) return;
  const bool up = !c.keyed && mag >= kUp * c.level;
  const bool down = c.keyed && mag <= kDown * c.level;
  if (c.keyed && !down && ++c.sinceUp * decimation_ >= kSettleS * config_.rate &&
      mag > 0.8 * c.level)
    c.keyDown = c.keyDown > 0.0 ? c.keyDown + 0.1 * (mag - c.keyDown) : mag;
  if (!up && !down) return;
  c.keyed = up;
  c.sinceUp = 0;
  // The edge's middle: where the envelope last went through half the settled key-down
  // level (the peak holds the low-pass's overshoot at each edge).
  const double half = 0.5 * (c.keyDown > 0.0 ? c.keyDown : c.level);
  for (int k = 0; k + 1 < c.recentCount; ++k) {
    const double m1 = std::abs(c.recent[static_cast<size_t>(k)]);
    const double m0 = std::abs(c.recent[static_cast<size_t>(k + 1)]);
    if ((up && m0 < half && m1 >= half) || (down && m0 > half && m1 <= half)) {
      const double f = (half - m0) / (m1 - m0);
      Edge e;
      e.t = c.recentT[static_cast<size_t>(k + 1)] + f * decimation_;
      e.sign = up ? 1.0 : -1.0;
      // The low-passed baseband at the edge's middle is half the key-down carrier, in
      // the mixer's frame (phase 0 at `start`).
      e.amplitude =
          2.0 * (c.recent[static_cast<size_t>(k + 1)] +
                 f * (c.recent[static_cast<size_t>(k)] - c.recent[static_cast<size_t>(k + 1)]));
      if (c.edges.size() < kEdgesMax) c.edges.push_back(e);
      return;
    }
  }
}

void SidebandCanceller::Cancel(Carrier& c, const Edge& e) {
  // Samples the template spans that are not out yet.
  const int64_t first = std::max<int64_t>(static_cast<int64_t>(std::ceil(e.t - half_)),
                                          n_ - static_cast<int64_t>(delay_) + 1);
  const int64_t last = std::min<int64_t>(static_cast<int64_t>(std::floor(e.t + half_)), n_);
  if (first > last) return;
  // The mixer runs at exp(-j omega (n - start)); the carrier's sidebands turn the other way.
  const double phase0 = std::fmod(c.omega * static_cast<double>(first - c.start), 2.0 * kPi);
  const std::complex<double> turn = std::polar(1.0, c.omega);
  const std::complex<double> a = e.sign * e.amplitude;
  const int points = static_cast<int>(templates_[0].size());

  // The audio around the edge (less what earlier edges took) split like the templates:
  // what lies beyond the kept band of the carrier. The kept band is low-passed on every
  // decimation_-th sample only (it is a few hundred hertz wide at most) and interpolated.
  const int64_t d = decimation_;
  const int64_t from = first - d - keepHalf_;
  const int64_t to = std::min<int64_t>(last + 2 * d + keepHalf_, n_);
  std::complex<double> mix =
      std::polar(1.0, -std::fmod(c.omega * static_cast<double>(from - c.start), 2.0 * kPi));
  const std::complex<double> back = std::conj(turn);
  for (int64_t m = from; m <= last + 2 * d + keepHalf_; ++m) {
    const size_t s = static_cast<size_t>(m) & mask_;
    const double x = m <= to ? input_[s] - corr_[s] : 0.0;
    const std::complex<double> b = x * mix;
    basebandRe_[static_cast<size_t>(m - from)] = static_cast<float>(b.real());
    basebandIm_[static_cast<size_t>(m - from)] = static_cast<float>(b.imag());
    mix *= back;
  }
  // Kept band at first - d + p d, p = 0 .. knots - 1.
  const size_t taps = keepTaps_.size();
  const size_t knots = static_cast<size_t>((last - first) / d + 4);
  for (size_t p = 0; p < knots; ++p) {
    const size_t at = p * static_cast<size_t>(d);
    float re = 0.0f, im = 0.0f;
    for (size_t k = 0; k < taps; ++k) {
      re += keepTaps_[k] * basebandRe_[at + k];
      im += keepTaps_[k] * basebandIm_[at + k];
    }
    kept_[p] = {re, im};
  }
  std::complex<double> rot = std::polar(1.0, phase0);
  for (int64_t m = first; m <= last; ++m) {
    // Catmull-Rom between the knots either side.
    const int64_t offset = m - first + d;
    const size_t p = static_cast<size_t>(offset / d);
    const double f = static_cast<double>(offset % d) / static_cast<double>(d);
    const std::complex<double> p0 = kept_[p - 1], p1 = kept_[p], p2 = kept_[p + 1],
                               p3 = kept_[p + 2];
    const std::complex<double> lp =
        p1 +
        0.5 * f *
            (p2 - p0 + f * (2.0 * p0 - 5.0 * p1 + 4.0 * p2 - p3 + f * (3.0 * (p1 - p2) + p3 - p0)));
    const size_t s = static_cast<size_t>(m) & mask_;
    split_[static_cast<size_t>(m - first)] = input_[s] - corr_[s] - 2.0 * (lp * rot).real();
    rot *= turn;
  }
  // Each shape's fit: the energy it takes out of that, 2<x,p> - <p,p>.
  std::array<double, kShapes> xp{}, pp{};
  rot = std::polar(1.0, phase0);
  for (int64_t m = first; m <= last; ++m) {
    const double x = split_[static_cast<size_t>(m - first)];
    const int j = std::clamp(
        static_cast<int>(std::lround((static_cast<double>(m) - e.t + half_) * q_)), 0, points - 1);
    const std::complex<double> w = 2.0 * a * rot;
    for (size_t k = 0; k < kShapes; ++k) {
      const double p = w.real() * templates_[k][static_cast<size_t>(j)];
      xp[k] += x * p;
      pp[k] += p * p;
    }
    rot *= turn;
  }
  // A shape scores the energy it takes out, over what the hard edge's template holds (so
  // that a loud edge counts no more than a faint one), and its gain: the share of it the
  // audio holds, 1 when it fits. The other stations and the noise in the window add to
  // the audio's energy but not, on average, to either.
  size_t best = 0;
  for (size_t k = 0; k < kShapes; ++k) {
    if (pp[k] <= 0.0 || pp[0] <= 0.0) continue;
    const double fit = (2.0 * xp[k] - pp[k]) / pp[0];
    c.score[k] += kScoreWeight * (std::clamp(fit, -1.0, 1.0) - c.score[k]);
    c.gain[k] += kScoreWeight * (std::clamp(xp[k] / pp[k], -1.0, 3.0) - c.gain[k]);
    if (c.score[k] > c.score[best]) best = k;
  }
  rot = std::polar(1.0, phase0);
  const std::vector<float>& g = templates_[best];
  for (int64_t m = first; m <= last; ++m) {
    const int j = std::clamp(
        static_cast<int>(std::lround((static_cast<double>(m) - e.t + half_) * q_)), 0, points - 1);
    corr_[static_cast<size_t>(m) & mask_] +=
        static_cast<float>(2.0 * (a * rot).real() * g[static_cast<size_t>(j)]);
    rot *= turn;
  }
  ++cancelled_;
}

}  // namespace kestrix::skim
