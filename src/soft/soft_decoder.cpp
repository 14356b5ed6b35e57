#include "soft/soft_decoder_impl.h"

#include "language/plausibility.h"

namespace kestrix::soft {

void SoftDecoder::Impl::SetTransitions() {
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

void SoftDecoder::Impl::ResetState() {
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
  holdingSpaces = true;
  heldCount = 0;
  spaceAwaitingGap = false;
  lastMarkSample = -1;
  ResetTracking();
}

void SoftDecoder::Impl::ResetTracking() {
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

void SoftDecoder::Impl::ResetSearch() {
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
  noiseReturned = false;
  openGap = 0.0;
}

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
  d.ReleaseSpaces();
}

void SoftDecoder::Reset() {
  impl_->ResetState();
}

size_t SoftDecoder::TakeText(std::string& out) {
  Impl& d = *impl_;
  // Held spaces hold back the text from the first of them on.
  const size_t n = d.heldCount > 0 ? d.held[0].at : d.text.size();
  out.append(d.text, 0, n);
  d.text.erase(0, n);
  for (int k = 0; k < d.heldCount; ++k) d.held[k].at -= n;
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
