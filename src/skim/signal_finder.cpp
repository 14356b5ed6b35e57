#include "skim/signal_finder.h"

#include <algorithm>
#include <cmath>

#include "skim/filter_design.h"

namespace kestrix::skim {

namespace {

constexpr int kBlock = 256;             // bins per floor block
constexpr float kGateFactor = 3.0f;     // a block's frame median this far over its reference
constexpr int kGateGiveUpFrames = 20;   // gated this long: the band itself changed
constexpr double kMaskReachHz = 200.0;  // skirt of a strong peak
constexpr double kMaskDb = 30.0;        // how far under a strong peak a neighbour may be
constexpr double kTrackReachHz = 18.0;  // a tracked signal follows a peak this near

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
  bool masked;
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
  fft_ = std::make_unique<ComplexFft>(n_, true, config.measure);
  frame_.resize(static_cast<size_t>(n_));
  power_.resize(static_cast<size_t>(n_));
  average_.resize(static_cast<size_t>(n_));
  scratch_.resize(static_cast<size_t>(n_));
  background_.resize(static_cast<size_t>(n_));
  const int blocks = n_ / kBlock;
  blockRef_.resize(static_cast<size_t>(blocks));
  blockGated_.resize(static_cast<size_t>(blocks));
  blockFloor_.resize(static_cast<size_t>(blocks));
  peaks_.reserve(1024);
  candidates_.reserve(1024);
  signals_.reserve(static_cast<size_t>(config.maxSignals));
  double lo = config.loHz, hi = config.hiHz;
  if (lo == 0.0 && hi == 0.0) {
    lo = -0.46 * rate_;
    hi = 0.46 * rate_;
  }
  binLo_ = std::clamp(static_cast<int>(std::ceil(lo / BinHz())) + n_ / 2, 0, n_ - 1);
  binHi_ = std::clamp(static_cast<int>(std::floor(hi / BinHz())) + n_ / 2, 0, n_ - 1);
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
  for (int i = 0; i < n_; ++i) {
    // Shifted so that index i is (i - N/2) bins from the centre.
    power_[static_cast<size_t>(i)] = std::norm(y[(i + half) % n_]);
  }
  ++frameCount_;
  const double frameS = n_ / rate_;
  const float alpha = static_cast<float>(
      std::max(1.0 / static_cast<double>(frameCount_), frameS / config_.averageS));
  const int blocks = n_ / kBlock;
  for (int b = 0; b < blocks; ++b) {
    float* p = power_.data() + static_cast<size_t>(b) * kBlock;
    float* s = scratch_.data();
    std::copy(p, p + kBlock, s);
    std::nth_element(s, s + kBlock / 2, s + kBlock);
    const float median = s[kBlock / 2];
    float& ref = blockRef_[static_cast<size_t>(b)];
    int& gated = blockGated_[static_cast<size_t>(b)];
    const bool wide = frameCount_ > 3 && median > kGateFactor * ref && gated < kGateGiveUpFrames;
    if (wide) {
      ++gated;
      continue;
    }
    gated = 0;
    ref = frameCount_ <= 3 ? (ref * static_cast<float>(frameCount_ - 1) + median) /
                                 static_cast<float>(frameCount_)
                           : ref + 0.05f * (median - ref);
    float* a = average_.data() + static_cast<size_t>(b) * kBlock;
    for (int i = 0; i < kBlock; ++i) a[i] += alpha * (p[i] - a[i]);
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

double SignalFinder::NoisePerHz(double floorDb) const {
  return std::pow(10.0, floorDb / 10.0) / windowSumSq_ / rate_;
}

void SignalFinder::Track() {
  const double now = TimeS();
  const int blocks = n_ / kBlock;
  for (int b = 0; b < blocks; ++b) {
    float* s = scratch_.data();
    const float* a = average_.data() + static_cast<size_t>(b) * kBlock;
    std::copy(a, a + kBlock, s);
    std::nth_element(s, s + kBlock / 2, s + kBlock);
    blockFloor_[static_cast<size_t>(b)] = s[kBlock / 2];
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
    double left = 0.0, right = 0.0;
    for (int j = k1; j <= k2; ++j) {
      left += av[i - j];
      right += av[i + j];
    }
    const double background = std::min(left, right) / width;
    const double floor = blockFloor_[static_cast<size_t>(i / kBlock)];
    const double ratio = v / std::max(background, 1e-30);
    if (ratio < offRatio || v < offRatio * floor) continue;
    // Fine frequency: a parabola through the log powers of the peak and its neighbours.
    const double l = Db(av[i - 1]), c = Db(v), r = Db(av[i + 1]);
    const double den = l - 2.0 * c + r;
    const double delta = den < 0.0 ? std::clamp(0.5 * (l - r) / den, -0.5, 0.5) : 0.0;
    peaks_.push_back({i, (i - n_ / 2 + delta) * BinHz(), ratio, c, false, false});
    if (peaks_.size() >= peaks_.capacity()) break;
  }
  // Skirts of strong peaks: a much weaker peak close beside one is its leakage or splatter.
  const int reach = static_cast<int>(kMaskReachHz / BinHz());
  for (size_t q = 0; q < peaks_.size(); ++q) {
    for (size_t s = q; s-- > 0;) {
      if (peaks_[q].bin - peaks_[s].bin > reach) break;
      if (peaks_[s].peakDb - peaks_[q].peakDb > kMaskDb) peaks_[q].masked = true;
    }
    for (size_t s = q + 1; s < peaks_.size() && peaks_[s].bin - peaks_[q].bin <= reach; ++s) {
      if (peaks_[s].peakDb - peaks_[q].peakDb > kMaskDb) peaks_[q].masked = true;
    }
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
    if (best == nullptr) continue;
    best->used = true;
    sig.freqHz += 0.3 * (best->freqHz - sig.freqHz);
    sig.levelDb = Db(best->ratio);
    sig.peakDb = best->peakDb;
    sig.lastSeenS = now;
  }
  // Peaks beside no tracked signal are candidates; a few frames in a row make a signal.
  for (Peak& p : peaks_) {
    if (p.used || p.masked || p.ratio < onRatio) continue;
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
