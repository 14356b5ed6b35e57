#include "soft/station_channel.h"

#include <algorithm>
#include <cmath>
#include <numbers>
#include <vector>

namespace kestrix::soft {
namespace {

constexpr double kTwoPi = 2.0 * std::numbers::pi;
constexpr double kIntermediateHz = 1000.0;  // about: the rate the carrier is looked for at
constexpr double kSearchWindowS = 1.0;      // each look's length; one every half of it
constexpr double kSearchAverageS = 4.0;     // the looks' average forgets at this time constant
constexpr int kSearchMargin = 2;
constexpr int kLooksToLock = 4;  // two seconds of looks before the centre moves            // steps
                                 // looked at past the pull, to tell a peak
constexpr double kFarRetuneHz = 200.0;    // a pick this far from the first mixer moves it
constexpr double kNeighbourStepHz = 2.0;  // the neighbours' look
constexpr double kNeighbourGapHz = 10.0;  // past the pull, where neighbours begin
constexpr double kSidebandHz = 40.0;
constexpr double kClearCarrier = 31.6;        // 15 dB over the search's median step
constexpr double kEdgeWpm = 1.1;              // within 10 % of either end of the speed range
constexpr int kStuckLooks = 8;                // four seconds
constexpr int kRestartLooks = 20;             // ten seconds between restarts at the least
constexpr double kNeighbourOverNoise = 20.0;  // 13 dB: a neighbour that is a station      // past
                                              // the pull, a louder station's sidebands reach in

int Factor(double rate, double target) {
  return std::max(1, static_cast<int>(std::lround(rate / std::max(target, 1.0))));
}

// A Blackman-windowed sinc low-pass of `taps` taps, -6 dB at `cutoff` (of the rate), unity
// gain at 0 Hz.
std::vector<double> LowPass(int taps, double cutoff) {
  std::vector<double> h(static_cast<size_t>(taps));
  double sum = 0.0;
  for (int k = 0; k < taps; ++k) {
    const double m = k - (taps - 1) / 2.0;
    const double sinc =
        m == 0 ? 2 * cutoff : std::sin(kTwoPi * cutoff * m) / (std::numbers::pi * m);
    const double w = 0.42 - 0.5 * std::cos(kTwoPi * k / (taps - 1)) +
                     0.08 * std::cos(2 * kTwoPi * k / (taps - 1));
    h[static_cast<size_t>(k)] = sinc * w;
    sum += sinc * w;
  }
  for (double& t : h) t /= sum;
  return h;
}

// A ring of the last taps.size() inputs and its filter, read at the decimated rate.
class Fir {
 public:
  explicit Fir(std::vector<double> taps) : taps_(std::move(taps)), ring_(taps_.size()) {}
  // The same ring read through other taps of the same length.
  void Use(const std::vector<double>& taps) { taps_ = taps; }
  void Push(std::complex<double> x) {
    ring_[pos_] = x;
    pos_ = pos_ + 1 == ring_.size() ? 0 : pos_ + 1;
  }
  std::complex<double> Output() const {
    std::complex<double> acc{};
    size_t j = pos_;  // oldest
    for (double t : taps_) {
      acc += t * ring_[j];
      j = j + 1 == ring_.size() ? 0 : j + 1;
    }
    return acc;
  }
  void Clear() {
    std::fill(ring_.begin(), ring_.end(), std::complex<double>{});
    pos_ = 0;
  }

 private:
  std::vector<double> taps_;
  std::vector<std::complex<double>> ring_;
  size_t pos_ = 0;
};

// An oscillator e^{-j 2 pi f t} that keeps its phase when its frequency changes.
class Mixer {
 public:
  void Set(double hz, double rate) { step_ = std::polar(1.0, -kTwoPi * hz / rate); }
  std::complex<double> Next() {
    const std::complex<double> now = phase_;
    phase_ *= step_;
    if (++count_ == 4096) {
      phase_ /= std::abs(phase_);
      count_ = 0;
    }
    return now;
  }
  void Restart() {
    phase_ = {1.0, 0.0};
    count_ = 0;
  }

 private:
  std::complex<double> step_{1.0, 0.0};
  std::complex<double> phase_{1.0, 0.0};
  int count_ = 0;
};

SoftDecoderConfig AtRate(SoftDecoderConfig config, double rate) {
  config.sampleRate = rate;
  return config;
}

}  // namespace

struct StationChannel::Impl {
  Impl(double rate, double tone, const SoftDecoderConfig& decoderConfig,
       const StationChannelConfig& c)
      : audioRate(rate),
        config(c),
        factor1(Factor(rate, kIntermediateHz)),
        rate1(rate / factor1),
        factor2(Factor(rate1, c.decoderRate)),
        decoder(AtRate(decoderConfig, rate1 / factor2)),
        // Eight intermediate periods of taps, -6 dB at a quarter of the intermediate rate.
        first(LowPass(8 * factor1 + 1, 0.25 / factor1)),
        // Long enough for the closer transition at the Blackman window's 74 dB (about
        // 5.5 / transition periods); both low-passes have that length, so that a switch
        // between them keeps the delay.
        narrowTaps(
            static_cast<int>(std::ceil(
                5.5 * rate1 /
                std::max(1.0, std::min(c.stopHz - c.passHz, c.closeStopHz - c.closePassHz)))) |
            1),
        wideLowPass(LowPass(narrowTaps, 0.5 * (c.passHz + c.stopHz) / rate1)),
        closeLowPass(LowPass(narrowTaps, 0.5 * (c.closePassHz + c.closeStopHz) / rate1)),
        narrow(wideLowPass),
        pull(std::max(1, static_cast<int>(std::lround(c.pullHz)))),
        window(static_cast<size_t>(std::lround(kSearchWindowS * rate1))),
        looked(window),
        average(static_cast<size_t>(2 * (pull + kSearchMargin) + 1)),
        power(average.size()),
        forget(std::exp(-0.5 * kSearchWindowS / kSearchAverageS)) {
    for (double f = c.pullHz + kNeighbourGapHz; f <= c.neighbourHz; f += kNeighbourStepHz) {
      neighbourHz.push_back(-f);
      neighbourHz.push_back(f);
    }
    neighbourAverage.assign(neighbourHz.size(), 0.0);
    hann.resize(window);
    for (size_t n = 0; n < window; ++n)
      hann[n] = 0.5 - 0.5 * std::cos(kTwoPi * static_cast<double>(n) / static_cast<double>(window));
    SetCoarse(tone);
    Pick(tone);
    wide = std::make_unique<AudioSoftDecoder>(rate, tone, decoderConfig);
    wideConfig = decoderConfig;
  }

  void SetCoarse(double hz) {
    coarseHz = hz;
    coarse.Set(hz, audioRate);
    coarse.Restart();
    first.Clear();
    narrow.Clear();
    filled = 0;
    sinceLook = 0;
    count1 = count2 = 0;
  }

  // A new pick: the search starts again around it.
  void Pick(double hz) {
    toneHz = hz;
    std::fill(average.begin(), average.end(), 0.0);
    std::fill(neighbourAverage.begin(), neighbourAverage.end(), 0.0);
    looks = 0;
    otherRun = 0;
    locked = false;
    SetClose(false);
    Centre(hz);
  }

  void SetClose(bool on) {
    if (on == close) return;
    close = on;
    narrow.Use(on ? closeLowPass : wideLowPass);
  }

  // Power of the Hann-windowed last second at `offsetHz` from the first mixer.
  double PowerAt(double offsetHz) const {
    const std::complex<double> step = std::polar(1.0, -kTwoPi * offsetHz / rate1);
    std::complex<double> rot{1.0, 0.0};
    std::complex<double> acc{};
    size_t j = head;  // oldest
    for (size_t n = 0; n < window; ++n) {
      acc += hann[n] * looked[j] * rot;
      rot *= step;
      j = j + 1 == window ? 0 : j + 1;
    }
    return std::norm(acc);
  }

  void Centre(double hz) {
    carrierHz = hz;
    fine.Set(hz - coarseHz, rate1);
  }

  void Intermediate(std::complex<double> x) {
    looked[head] = x;
    head = head + 1 == window ? 0 : head + 1;
    filled = std::min(filled + 1, window);
    if (++sinceLook >= window / 2 && filled == window) {
      sinceLook = 0;
      Look();
    }
    narrow.Push(x * fine.Next());
    if (++count2 == factor2) {
      count2 = 0;
      const std::complex<double> y = narrow.Output();
      const std::complex<float> out(static_cast<float>(y.real()), static_cast<float>(y.imag()));
      decoder.Process(&out, 1);
    }
  }

  // A decoder that set its speed at the edge of its range (a busy passband before the
  // station keyed, say) and hears the station under its noise keeps that speed for good.
  // While the search plainly hears a carrier and the decoder has stayed like that for a few
  // seconds, both decoders start again.
  void Watch(bool clearCarrier) {
    ++sinceRestart;
    const SoftSignalState s = (narrowText ? decoder : wide->Decoder()).State();
    const bool atEdge =
        s.wpm <= kEdgeWpm * wideConfig.minWpm || s.wpm >= wideConfig.maxWpm / kEdgeWpm;
    stuckLooks = clearCarrier && atEdge && s.snrDb < 0.0 ? stuckLooks + 1 : 0;
    if (stuckLooks < kStuckLooks || sinceRestart < kRestartLooks) return;
    decoder.Reset();
    wide->Reset();
    stuckLooks = 0;
    sinceRestart = 0;
    ++restarts;
  }

  // One look at the last second: power at each step of the search, into the average; the
  // centre moves to the strongest peak once it stands out.
  void Look() {
    const int half = pull + kSearchMargin;
    const double base = toneHz - coarseHz;
    for (int k = -half; k <= half; ++k) power[static_cast<size_t>(k + half)] = PowerAt(base + k);
    ++looks;
    const double keep = looks == 1 ? 0.0 : forget;
    for (size_t i = 0; i < average.size(); ++i)
      average[i] = keep * average[i] + (1.0 - keep) * power[i];
    double loudest = 0.0;
    double loudestNear = 0.0;  // within kSidebandHz past the pull
    for (size_t i = 0; i < neighbourHz.size(); ++i) {
      const double p = PowerAt(carrierHz - coarseHz + neighbourHz[i]);
      neighbourAverage[i] = keep * neighbourAverage[i] + (1.0 - keep) * p;
      loudest = std::max(loudest, neighbourAverage[i]);
      if (std::fabs(neighbourHz[i]) <= config.pullHz + kSidebandHz)
        loudestNear = std::max(loudestNear, neighbourAverage[i]);
    }

    // The strongest step within the pull, against the median of the steps.
    // When the strongest step lies past the pull, that is a station outside the search whose
    // skirt reaches in: the centre does not move towards it.
    size_t best =
        static_cast<size_t>(std::max_element(average.begin(), average.end()) - average.begin());
    if (best < kSearchMargin || best + kSearchMargin >= average.size()) best = 0;
    std::copy(average.begin(), average.end(), power.begin());
    const auto middle = power.begin() + static_cast<std::ptrdiff_t>(power.size() / 2);
    std::nth_element(power.begin(), middle, power.end());
    const double floor = *middle;
    const double margin = std::pow(10.0, config.lockDb / 10.0);
    // The station's level: the strongest step within the pull, locked on or not.
    const double own =
        *std::max_element(average.begin() + kSearchMargin, average.end() - kSearchMargin);
    Watch(own > kClearCarrier * floor);
    const double level = std::max(own, floor);
    SetClose(loudest > std::pow(10.0, config.neighbourDb / 10.0) * level &&
             loudest > margin * floor);
    // The narrow text once a neighbour has stood out for two looks in a row, the wide text
    // again once none has for two (the largest of many steps of noise alone comes near the
    // margin in a single look, so none counts before kLooksToLock).
    const bool other = looks >= kLooksToLock &&
                       loudest > std::pow(10.0, config.otherDb / 10.0) * level &&
                       loudest > kNeighbourOverNoise * floor;
    otherRun = other == narrowText ? 0 : otherRun + 1;
    if (otherRun >= 2) {
      narrowText = other;
      otherRun = 0;
    }
    if (looks < kLooksToLock || best == 0 || !(average[best] > margin * floor)) return;
    // A peak beside a louder station close by may be one of its keying sidebands.
    if (loudestNear > average[best]) return;
    // Parabolic interpolation on the log powers around the peak.
    const double a = std::log(average[best - 1] + 1e-30);  // best is never at either end
    const double b = std::log(average[best] + 1e-30);
    const double c = std::log(average[best + 1] + 1e-30);
    const double denom = a - 2 * b + c;
    const double frac = denom < 0 ? std::clamp(0.5 * (a - c) / denom, -0.5, 0.5) : 0.0;
    locked = true;
    Centre(toneHz + (static_cast<int>(best) - half) + frac);
  }

  double audioRate;
  StationChannelConfig config;
  int factor1;
  double rate1;
  int factor2;
  SoftDecoder decoder;
  Fir first;
  int narrowTaps;
  std::vector<double> wideLowPass;
  std::vector<double> closeLowPass;
  Fir narrow;
  Mixer coarse;
  Mixer fine;
  int pull;
  size_t window;
  std::vector<double> hann;
  std::vector<std::complex<double>> looked;  // ring of the last `window` intermediate samples
  size_t head = 0;
  size_t filled = 0;
  size_t sinceLook = 0;
  std::vector<double> average;
  std::vector<double> power;
  std::vector<double> neighbourHz;  // where neighbours are looked for, from the carrier
  std::vector<double> neighbourAverage;
  bool close = false;
  bool narrowText = false;  // the text is the narrow decoder's
  int stuckLooks = 0;       // looks in a row with the decoder stuck at the edge
  int sinceRestart = 0;     // looks since the decoders last started again
  int restarts = 0;
  int otherRun = 0;  // looks in a row that disagree with narrowText
  std::unique_ptr<AudioSoftDecoder> wide;
  SoftDecoderConfig wideConfig;
  std::string scratch;
  double forget;
  int looks = 0;
  bool locked = false;
  double coarseHz = 0.0;
  double toneHz = 0.0;
  double carrierHz = 0.0;
  int count1 = 0;
  int count2 = 0;
};

StationChannel::StationChannel(double audioRate, double toneHz, const SoftDecoderConfig& decoder,
                               const StationChannelConfig& config)
    : impl_(std::make_unique<Impl>(audioRate, toneHz, decoder, config)) {}
StationChannel::~StationChannel() = default;

void StationChannel::Process(const float* audio, size_t count) {
  Impl& d = *impl_;
  d.wide->Process(audio, count);
  for (size_t i = 0; i < count; ++i) {
    d.first.Push(static_cast<double>(audio[i]) * d.coarse.Next());
    if (++d.count1 == d.factor1) {
      d.count1 = 0;
      d.Intermediate(d.first.Output());
    }
  }
}

void StationChannel::Flush() {
  impl_->decoder.Flush();
  impl_->wide->Flush();
}

void StationChannel::Retune(double toneHz) {
  Impl& d = *impl_;
  if (std::fabs(toneHz - d.toneHz) < 0.5) return;
  const bool sameStation = d.locked && std::fabs(toneHz - d.carrierHz) <= d.config.pullHz;
  const double carrier = d.carrierHz;
  if (std::fabs(toneHz - d.coarseHz) > kFarRetuneHz) d.SetCoarse(toneHz);
  d.Pick(toneHz);
  if (sameStation) {
    d.Centre(carrier);
  } else {
    d.decoder.Reset();
    d.wide = std::make_unique<AudioSoftDecoder>(d.audioRate, toneHz, d.wideConfig);
  }
}

void StationChannel::Reset() {
  Impl& d = *impl_;
  d.decoder.Reset();
  d.wide->Reset();
  const double tone = d.toneHz;
  d.SetCoarse(tone);
  d.Pick(tone);
}

size_t StationChannel::TakeText(std::string& out) {
  Impl& d = *impl_;
  // Both decoders' text is taken; the one not read now is dropped.
  d.scratch.clear();
  if (d.narrowText) {
    d.wide->TakeText(d.scratch);
    return d.decoder.TakeText(out);
  }
  d.decoder.TakeText(d.scratch);
  return d.wide->TakeText(out);
}
double StationChannel::ToneHz() const {
  return impl_->toneHz;
}
double StationChannel::CarrierHz() const {
  return impl_->carrierHz;
}
bool StationChannel::Locked() const {
  return impl_->locked;
}
bool StationChannel::Close() const {
  return impl_->close;
}
bool StationChannel::Narrow() const {
  return impl_->narrowText;
}
SoftDecoder& StationChannel::Decoder() {
  return impl_->narrowText ? impl_->decoder : impl_->wide->Decoder();
}
const SoftDecoder& StationChannel::Decoder() const {
  return impl_->narrowText ? impl_->decoder : impl_->wide->Decoder();
}

}  // namespace kestrix::soft
