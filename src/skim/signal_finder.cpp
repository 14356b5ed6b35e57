#include "skim/signal_finder.h"

#include <algorithm>
#include <cmath>

#include "skim/filter_design.h"

namespace kestrix::skim {

namespace {

constexpr int kBlock = 256;             // bins per floor block
constexpr int kMedianStride = 4;        // bins a block median is taken from
constexpr float kGateFactor = 3.0f;     // a block's frame median this far over its reference
constexpr int kGateGiveUpFrames = 20;   // gated this long: the band itself changed
constexpr double kSkirtDb = 10.0;       // a peak this much stronger may own a neighbour
constexpr double kSkirtMaxHz = 6000.0;  // widest skirt looked at
constexpr double kSkirtCorrelation = 0.5;
constexpr size_t kRecent = 24;             // frames of power kept per bin (about 4 s)
constexpr float kKeyedFactor = 10.0f;      // a frame this far over the floor is keyed
constexpr size_t kKeyedLatelyFrames = 12;  // a new signal was keyed within these frames
constexpr double kTrackReachHz = 18.0;     // a tracked signal follows a peak this near

double Db(double p) {
  return 10.0 * std::log10(std::max(p, 1e-30));
}

}  // namespace

struct SignalFinder::Peak {
  int bin;
  double freqHz;
  double ratio;   // over the background, linear
  double peakDb;  // averaged power, dB
  bool used;
};

SignalFinder::SignalFinder(const SignalFinderConfig& config)
    : rate_(config.inputRate), config_(config) {
  const double want = std::max(16.0, rate_ / std::max(config.binHz, 0.5));
  n_ = 1 << static_cast<int>(std::lround(std::log2(want)));
  n_ = std::max(n_, 2 * kBlock);
  window_ = BlackmanHarris(n_);
  for (float w : window_) {
    windowSum_ += w;
    windowSumSq_ += static_cast<double>(w) * w;
  }
  // Measured once (a second or so for 32768 points), the plan comes from the wisdom cache
  // afterwards and runs about twice as fast as FFTW's estimate.
  fft_ = std::make_unique<ComplexFft>(n_, true, config.measure);
  frame_.resize(static_cast<size_t>(n_));
  power_.resize(static_cast<size_t>(n_));
  average_.resize(static_cast<size_t>(n_));
  scratch_.resize(static_cast<size_t>(n_));
  recent_.resize(kRecent * static_cast<size_t>(n_));
  background_.resize(static_cast<size_t>(n_));
  const int blocks = n_ / kBlock;
  blockRef_.resize(static_cast<size_t>(blocks));
  blockGated_.resize(static_cast<size_t>(blocks));
  blockMedian_.resize(static_cast<size_t>(blocks));
  blockFrames_.resize(static_cast<size_t>(blocks));
  blockFloor_.resize(static_cast<size_t>(blocks));
  peaks_.reserve(1024);
  candidates_.reserve(1024);
  signals_.reserve(static_cast<size_t>(config.maxSignals));
  double lo = config.loHz, hi = config.hiHz;
  if (lo == 0.0 && hi == 0.0) {
    lo = -0.47 * rate_;
    hi = 0.47 * rate_;
  }
  binLo_ = std::clamp(static_cast<int>(std::ceil(lo / BinHz())) + n_ / 2, 0, n_ - 1);
  binHi_ = std::clamp(static_cast<int>(std::floor(hi / BinHz())) + n_ / 2, 0, n_ - 1);
  blocksInRange_ = std::max(1, 2 * ((binHi_ - binLo_) / kBlock + 1));
  blocksInRange_ = std::min(blocksInRange_, blocks);
  Reset();
}

SignalFinder::~SignalFinder() = default;

void SignalFinder::Reset() {
  frameFill_ = 0;
  samples_ = 0;
  frameCount_ = 0;
  std::fill(average_.begin(), average_.end(), 0.0f);
  std::fill(blockRef_.begin(), blockRef_.end(), 0.0f);
  std::fill(blockGated_.begin(), blockGated_.end(), 0);
  std::fill(blockFrames_.begin(), blockFrames_.end(), 0);
  recentHead_ = 0;
  recentFilled_ = 0;
  candidates_.clear();
  signals_.clear();
  events_.born.clear();
  events_.retired.clear();
}

bool SignalFinder::Push(const std::complex<float>* in, size_t count) {
  events_.born.clear();
  events_.retired.clear();
  bool any = false;
  while (count > 0) {
    const size_t n = std::min(count, static_cast<size_t>(n_) - frameFill_);
    std::copy(in, in + n, frame_.begin() + static_cast<std::ptrdiff_t>(frameFill_));
    frameFill_ += n;
    samples_ += static_cast<int64_t>(n);
    in += n;
    count -= n;
    if (frameFill_ == static_cast<size_t>(n_)) {
      Frame();
      frameFill_ = 0;
      any = true;
    }
  }
  return any;
}

bool SignalFinder::PushReal(const float* in, size_t count) {
  events_.born.clear();
  events_.retired.clear();
  bool any = false;
  while (count > 0) {
    const size_t n = std::min(count, static_cast<size_t>(n_) - frameFill_);
    for (size_t i = 0; i < n; ++i) frame_[frameFill_ + i] = {in[i], 0.0f};
    frameFill_ += n;
    samples_ += static_cast<int64_t>(n);
    in += n;
    count -= n;
    if (frameFill_ == static_cast<size_t>(n_)) {
      Frame();
      frameFill_ = 0;
      any = true;
    }
  }
  return any;
}

void SignalFinder::Frame() {
  std::complex<float>* x = fft_->In();
  for (int i = 0; i < n_; ++i)
    x[i] = frame_[static_cast<size_t>(i)] * window_[static_cast<size_t>(i)];
  fft_->Execute();
  const std::complex<float>* y = fft_->Out();
  const int half = n_ / 2;
  // Shifted so that index i is (i - N/2) bins from the centre.
  for (int i = 0; i < half; ++i) {
    power_[static_cast<size_t>(i)] = std::norm(y[i + half]);
    power_[static_cast<size_t>(i + half)] = std::norm(y[i]);
  }
  std::copy(power_.begin(), power_.end(),
            recent_.begin() + static_cast<std::ptrdiff_t>(recentHead_ * n_));
  recentHead_ = (recentHead_ + 1) % kRecent;
  recentFilled_ = std::min(recentFilled_ + 1, kRecent);
  ++frameCount_;
  const double frameS = n_ / rate_;
  const float alpha = static_cast<float>(frameS / config_.averageS);
  const int blocks = n_ / kBlock;
  // Block medians against their running references: a frame that lifts many blocks at
  // once is an impulse (a click, a static crash), and the blocks it lifted keep their
  // average. A strong station lifting a few blocks around it is left to the skirt test.
  int lifted = 0;
  for (int b = 0; b < blocks; ++b) {
    const float median = SampledMedian(power_.data() + static_cast<size_t>(b) * kBlock);
    blockMedian_[static_cast<size_t>(b)] = median;
    if (frameCount_ > 3 && median > kGateFactor * blockRef_[static_cast<size_t>(b)]) ++lifted;
  }
  const bool impulse = lifted >= std::max(2, blocksInRange_ / 3);
  for (int b = 0; b < blocks; ++b) {
    const float median = blockMedian_[static_cast<size_t>(b)];
    float& ref = blockRef_[static_cast<size_t>(b)];
    int& gated = blockGated_[static_cast<size_t>(b)];
    if (impulse && frameCount_ > 3 && median > kGateFactor * ref && gated < kGateGiveUpFrames) {
      ++gated;
      continue;
    }
    gated = 0;
    const float alphaBlock =
        std::max(alpha, 1.0f / static_cast<float>(++blockFrames_[static_cast<size_t>(b)]));
    ref = frameCount_ <= 3 ? (ref * static_cast<float>(frameCount_ - 1) + median) /
                                 static_cast<float>(frameCount_)
                           : ref + 0.05f * (median - ref);
    const float* p = power_.data() + static_cast<size_t>(b) * kBlock;
    float* a = average_.data() + static_cast<size_t>(b) * kBlock;
    for (int i = 0; i < kBlock; ++i) a[i] += alphaBlock * (p[i] - a[i]);
  }
  Track();
}

double SignalFinder::SnrDb500(double keyDownDb, double floorDb) const {
  // A tone of amplitude A reads A^2 (sum w)^2 in its bin; noise of variance s^2 reads
  // s^2 (sum w^2), which is s^2 / rate per Hz.
  const double a2 = std::pow(10.0, keyDownDb / 10.0) / (windowSum_ * windowSum_);
  const double noisePerHz = NoisePerHz(floorDb);
  return Db(a2 / (noisePerHz * 500.0));
}

float SignalFinder::SampledMedian(const float* block) {
  // Every kMedianStride-th bin: a signal's few bins rarely fall in the sample, and the
  // median of 64 values is as good a floor as that of 256 for a quarter of the work.
  float* s = scratch_.data();
  size_t n = 0;
  for (int i = 0; i < kBlock; i += kMedianStride) s[n++] = block[i];
  std::nth_element(s, s + n / 2, s + n);
  return s[n / 2];
}

double SignalFinder::NoisePerHz(double floorDb) const {
  return std::pow(10.0, floorDb / 10.0) / windowSumSq_ / rate_;
}

void SignalFinder::Track() {
  const double now = TimeS();
  const int blocks = n_ / kBlock;
  // The floors move as slowly as the average: every few frames is enough.
  if (frameCount_ <= 8 || frameCount_ % 4 == 0) {
    for (int b = 0; b < blocks; ++b) {
      blockFloor_[static_cast<size_t>(b)] =
          SampledMedian(average_.data() + static_cast<size_t>(b) * kBlock);
    }
  }
  // The background beside each bin: the quieter flank, k1..k2 bins away on either side.
  const int k1 = std::max(2, static_cast<int>(std::lround(35.0 / BinHz())));
  const int k2 = std::max(k1 + 2, static_cast<int>(std::lround(80.0 / BinHz())));
  const int width = k2 - k1 + 1;
  const double onRatio = std::pow(10.0, config_.onDb / 10.0);
  const double offRatio = std::pow(10.0, config_.offDb / 10.0);
  const int lo = std::max(binLo_, k2 + 1);
  const int hi = std::min(binHi_, n_ - k2 - 2);
  peaks_.clear();
  const float* av = average_.data();
  for (int i = lo; i <= hi; ++i) {
    const float v = av[i];
    // A local maximum over +-3 bins (the window's main lobe is +-4).
    bool top = true;
    for (int j = 1; j <= 3 && top; ++j) top = v > av[i - j] && v >= av[i + j];
    if (!top) continue;
    const double floor = blockFloor_[static_cast<size_t>(i / kBlock)];
    if (v < offRatio * floor) continue;  // most of the noise's own maxima end here
    double left = 0.0, right = 0.0;
    for (int j = k1; j <= k2; ++j) {
      left += av[i - j];
      right += av[i + j];
    }
    const double background = std::min(left, right) / width;
    const double ratio = v / std::max(background, 1e-30);
    if (ratio < offRatio) continue;
    // Fine frequency: a parabola through the log powers of the peak and its neighbours.
    const double l = Db(av[i - 1]), c = Db(v), r = Db(av[i + 1]);
    const double den = l - 2.0 * c + r;
    const double delta = den < 0.0 ? std::clamp(0.5 * (l - r) / den, -0.5, 0.5) : 0.0;
    peaks_.push_back({i, (i - n_ / 2 + delta) * BinHz(), ratio, c, false});
    if (peaks_.size() >= peaks_.capacity()) break;
  }
  // Tracked signals follow the nearest peak.
  for (TrackedSignal& sig : signals_) {
    Peak* best = nullptr;
    double bestD = std::max(kTrackReachHz, 3.0 * BinHz());
    for (Peak& p : peaks_) {
      const double d = std::abs(p.freqHz - sig.freqHz);
      if (d < bestD && !p.used) {
        bestD = d;
        best = &p;
      }
    }
    const int bin =
        std::clamp(static_cast<int>(std::lround(sig.freqHz / BinHz())) + n_ / 2, 0, n_ - 1);
    const double framePowerDb = Db(power_[static_cast<size_t>(bin)]);
    // A decaying maximum: about the key-down level of a keyed carrier.
    sig.keyDownDb = std::max(framePowerDb, sig.keyDownDb - 0.3);
    sig.floorDb = Db(blockFloor_[static_cast<size_t>(bin / kBlock)]);
    if (KeyedNow(bin)) sig.lastSeenS = now;
    if (best == nullptr) continue;
    best->used = true;
    sig.freqHz += 0.3 * (best->freqHz - sig.freqHz);
    sig.levelDb = Db(best->ratio);
    sig.peakDb = best->peakDb;
  }
  // Peaks beside no tracked signal are candidates; a few frames in a row make a signal. The
  // average of the first frames is too rough to tell a carrier from noise.
  const int settled = static_cast<int>(0.5 * config_.averageS * rate_ / n_);
  for (Peak& p : peaks_) {
    if (p.used || p.ratio < onRatio) continue;
    if (blockFrames_[static_cast<size_t>(p.bin / kBlock)] < settled) continue;
    bool near = false;
    for (const TrackedSignal& sig : signals_) {
      if (std::abs(sig.freqHz - p.freqHz) < config_.minSpacingHz) {
        near = true;
        break;
      }
    }
    if (near) continue;
    Candidate* c = nullptr;
    for (Candidate& cand : candidates_) {
      if (std::abs(cand.bin - p.bin) <= 2 && cand.lastFrame == frameCount_ - 1) c = &cand;
    }
    if (c == nullptr) {
      if (candidates_.size() >= candidates_.capacity()) continue;
      candidates_.push_back({p.bin, 0, frameCount_});
      c = &candidates_.back();
    }
    c->bin = p.bin;
    c->lastFrame = frameCount_;
    if (++c->seen < config_.confirmFrames) continue;
    if (static_cast<int>(signals_.size()) >= config_.maxSignals) continue;
    if (InSkirt(p) || !KeyedLately(p.bin)) continue;
    TrackedSignal sig;
    sig.id = nextId_++;
    sig.freqHz = p.freqHz;
    sig.levelDb = Db(p.ratio);
    sig.peakDb = p.peakDb;
    sig.keyDownDb = Db(power_[static_cast<size_t>(p.bin)]);
    sig.floorDb = Db(blockFloor_[static_cast<size_t>(p.bin / kBlock)]);
    sig.bornS = now;
    sig.lastSeenS = now;
    signals_.push_back(sig);
    events_.born.push_back(sig.id);
    c->seen = -1000000;  // spent
  }
  std::erase_if(candidates_,
                [&](const Candidate& c) { return c.lastFrame != frameCount_ || c.seen < 0; });
  // Silent too long: retired.
  for (size_t i = 0; i < signals_.size();) {
    if (now - signals_[i].lastSeenS > config_.retireS) {
      events_.retired.push_back(signals_[i]);
      signals_.erase(signals_.begin() + static_cast<std::ptrdiff_t>(i));
    } else {
      ++i;
    }
  }
  // Two tracked signals that drifted onto one peak: the younger goes.
  for (size_t i = 0; i < signals_.size(); ++i) {
    for (size_t j = i + 1; j < signals_.size();) {
      if (std::abs(signals_[i].freqHz - signals_[j].freqHz) < config_.minSpacingHz / 2) {
        events_.retired.push_back(signals_[j]);
        signals_.erase(signals_.begin() + static_cast<std::ptrdiff_t>(j));
      } else {
        ++j;
      }
    }
  }
}

bool SignalFinder::InSkirt(const Peak& p) const {
  // Keying sidebands and clicks are amplitude modulation: they stand on both sides of
  // their carrier alike and rise and fall together. A peak whose mirror image about a
  // much stronger peak carries about as much power, in step with it, is such a sideband.
  for (const Peak& s : peaks_) {
    const double stronger = s.peakDb - p.peakDb;
    if (stronger < kSkirtDb) continue;
    const double reach = std::min(kSkirtMaxHz, 8.0 * std::pow(10.0, stronger / 20.0));
    if (std::abs(s.freqHz - p.freqHz) > reach) continue;
    const int mirror = 2 * s.bin - p.bin;
    if (mirror < 1 || mirror >= n_ - 1) continue;
    double mirrorPower = 0.0;
    for (int j = -1; j <= 1; ++j)
      mirrorPower = std::max(mirrorPower, double{average_[static_cast<size_t>(mirror + j)]});
    if (std::abs(Db(mirrorPower) - p.peakDb) > 8.0) continue;
    if (RecentCorrelation(p.bin, mirror) > kSkirtCorrelation) return true;
  }
  return false;
}

double SignalFinder::RecentCorrelation(int a, int b) const {
  const size_t frames = recentFilled_;
  if (frames < 6) return 1.0;  // too early to tell: assume the worst
  double best = -1.0;
  for (int db = -1; db <= 1; ++db) {
    const int bb = std::clamp(b + db, 0, n_ - 1);
    double sa = 0, sb = 0, saa = 0, sbb = 0, sab = 0;
    for (size_t f = 0; f < frames; ++f) {
      const float* row = recent_.data() + f * static_cast<size_t>(n_);
      const double x = row[a], y = row[bb];
      sa += x;
      sb += y;
      saa += x * x;
      sbb += y * y;
      sab += x * y;
    }
    const double n = static_cast<double>(frames);
    const double cov = sab - sa * sb / n;
    const double va = saa - sa * sa / n, vb = sbb - sb * sb / n;
    if (va <= 0.0 || vb <= 0.0) continue;
    best = std::max(best, cov / std::sqrt(va * vb));
  }
  return best;
}

bool SignalFinder::KeyedLately(int bin) const {
  const float floor = blockFloor_[static_cast<size_t>(bin / kBlock)];
  const size_t frames = std::min(recentFilled_, kKeyedLatelyFrames);
  for (size_t f = 0; f < frames; ++f) {
    const size_t row = (recentHead_ + kRecent - 1 - f) % kRecent;
    const float* p = recent_.data() + row * static_cast<size_t>(n_);
    for (int b = std::max(0, bin - 1); b <= std::min(n_ - 1, bin + 1); ++b) {
      if (p[b] > kKeyedFactor * floor) return true;
    }
  }
  return false;
}

double SignalFinder::KeyedSinceS(double freqHz) const {
  const int bin = std::clamp(static_cast<int>(std::lround(freqHz / BinHz())) + n_ / 2, 0, n_ - 1);
  const float floor = blockFloor_[static_cast<size_t>(bin / kBlock)];
  size_t oldest = 0;  // frames back, counting the newest as 1
  for (size_t f = 0; f < recentFilled_; ++f) {
    const size_t row = (recentHead_ + kRecent - 1 - f) % kRecent;
    const float* p = recent_.data() + row * static_cast<size_t>(n_);
    for (int b = std::max(0, bin - 1); b <= std::min(n_ - 1, bin + 1); ++b) {
      if (p[b] > kKeyedFactor * floor) {
        oldest = f + 1;
        break;
      }
    }
  }
  return static_cast<double>(oldest) * n_ / rate_;
}

bool SignalFinder::KeyedNow(int bin) const {
  const float floor = blockFloor_[static_cast<size_t>(bin / kBlock)];
  for (int b = std::max(0, bin - 1); b <= std::min(n_ - 1, bin + 1); ++b) {
    if (power_[static_cast<size_t>(b)] > kKeyedFactor * floor) return true;
  }
  return false;
}

void SignalFinder::RetireAll() {
  events_.born.clear();
  events_.retired.clear();
  for (const TrackedSignal& s : signals_) events_.retired.push_back(s);
  signals_.clear();
}

std::vector<float> SignalFinder::AverageDb() const {
  std::vector<float> out(average_.size());
  for (size_t i = 0; i < out.size(); ++i) out[i] = static_cast<float>(Db(average_[i]));
  return out;
}

}  // namespace kestrix::skim
