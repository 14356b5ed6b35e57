#include "skim/skimmer.h"

#include <algorithm>
#include <cmath>
#include <functional>
#include <numbers>

#include "skim/carrier_canceller.h"
#include "skim/filter_design.h"

namespace kestrix::skim {

namespace {
// Samples a chain collects before it hands them to its decoder: one call per 1/8 s keeps
// the per-call cost of the decoder small against its per-sample cost.
constexpr size_t kChainBlock = 32;
// The engine works through its input in pieces this long, so the finder's births reach
// the channel bank's history in step.
constexpr size_t kPiece = 4096;
// History a new signal's decoder gets before the first keyed frame the finder saw.
constexpr double kHistoryLeadS = 0.3;
// A signal unkeyed this long sleeps: its decoder is not fed until it is keyed again, and
// then gets the channel from a little before the new keying (seconds).
constexpr double kSleepAfterS = 3.0;
constexpr double kWakeLeadS = 0.5;
// A decoder that has read nothing while its station kept keying for this long (seconds of
// keyed finder frames) has locked on something else: a strong caller's level or speed
// it adapted to and kept after the caller left. It starts afresh from the history. One
// that reads nothing after that either (a birdie, a steady carrier) is given twice as long
// each time, up to a limit.
constexpr double kStuckS = 4.0;
constexpr double kStuckMaxS = 64.0;
// A birdie's canceller that stopped subtracting for less than this (seconds) and starts
// again is the same carrier: the decoder goes on.
constexpr double kRelearnGapS = 3.0;
// A station this far over the noise in 500 Hz (dB) has its keying sidebands taken out of
// the audio, at most kLoudMax of them at once. The finder's figure reads a keyed station
// 10-18 dB under its key-down level (its long frames average the keying), so this is a
// station of 30 dB or more; the canceller itself leaves one alone whose sidebands it cannot
// model.
constexpr double kLoudDb = 20.0;
constexpr size_t kLoudMax = 4;
// The signal finder's bin width for audio input (Hz).
constexpr double kAudioBinHz = 3.0;
// Most memory the channel history may take.
constexpr double kHistoryBytesMax = 64.0 * 1024 * 1024;

double Db(double p) {
  return 10.0 * std::log10(std::max(p, 1e-30));
}
}  // namespace

struct Skimmer::Chain {
  uint64_t id = 0;
  int channel = 0;
  double offsetHz = 0.0;                  // signal's frequency from 0 Hz of the input
  std::complex<double> phasor{1.0, 0.0};  // the mixer: turned by `step` each sample
  std::complex<double> step{1.0, 0.0};
  unsigned turns = 0;                     // samples since the phasor was set to length 1
  std::vector<std::complex<float>> line;  // filter delay line, doubled for a straight dot
  size_t lineHead = 0;
  std::vector<std::complex<float>> block;  // filtered samples waiting for the decoder
  std::unique_ptr<soft::SoftDecoder> decoder;
  double keyDownDb = 0.0;
  double floorDb = 0.0;
  bool asleep = false;  // not fed while the station is quiet
  double lastKeyedS = 0.0;
  double sleptAtS = 0.0;         // stream time it fell asleep
  double keyedSinceTextS = 0.0;  // time keyed since the decoder last read a character
  double checkedS = 0.0;         // stream time of the finder frames last looked at
  double stuckS = kStuckS;       // keyed time without text before a restart
  int phase = 0;                 // bank samples since the last one kept for the decoder
  std::unique_ptr<CarrierCanceller> canceller;  // audio: a birdie under the station
  bool cancelling = false;                      // the canceller subtracts a carrier now
  bool relearn = false;      // it began to: the decoder starts afresh from the history
  double cancelledS = -1e9;  // stream time it last subtracted
  bool narrow = false;       // a neighbour close by: the narrow low-pass
};

class Skimmer::FrameRouter final : public Channelizer::FrameSink {
 public:
  explicit FrameRouter(Skimmer& owner) : owner_(owner) {}
  void OnFrame(const std::complex<float>* channels) override { owner_.OnBankFrame(channels); }

 private:
  Skimmer& owner_;
};

Skimmer::Skimmer(const SkimmerConfig& config, SkimListener& listener)
    : config_(config), listener_(listener) {
  ChannelizerConfig bank;
  bank.inputRate = config.inputRate;
  bank.outputRate = config.decoderRate;
  bank.passHz = 0.0;
  bank.measure = config.measure;
  bank_ = std::make_unique<Channelizer>(bank);
  decimation_ = std::max(
      1, static_cast<int>(std::lround(bank_->OutputRate() / std::max(config.chainRate, 1.0))));
  config_.decoder.sampleRate = bank_->OutputRate() / decimation_;
  config_.decoder.upperCase = true;
  config_.decoder.observationsPerDot = 4.0;  // a hundred decoders at once
  // Call signs are not words: the text model would make a doubtful one a likelier text
  // and so a busted call (on generated bands it gained no station and cost two calls).
  config_.decoder.languageModel = false;
  // Each station has a decoder of its own: a pause is not another station's over, and
  // acquiring afresh after every pause doubled the skimmer's cost for no station more.
  config_.decoder.reacquireAfterPause = false;

  SignalFinderConfig finder;
  finder.inputRate = config.inputRate;
  finder.loHz = config.loHz;
  finder.hiHz = config.hiHz;
  if (config.audio && finder.loHz == 0.0 && finder.hiHz == 0.0) {
    finder.loHz = 200.0;
    finder.hiHz = std::min(3000.0, 0.45 * config.inputRate);
  }
  // A receiver's passband crowds a runner's callers within a few tens of hertz of it; the
  // few kilohertz of audio afford a spectrum twice as fine as a wide band's.
  if (config.audio) finder.binHz = kAudioBinHz;
  if (config.audio) finder.minSpacingHz = config.audioMinSpacingHz;
  finder.onDb = config.onDb;
  finder.offDb = config.offDb;
  finder.retireS = config.retireS;
  finder.maxSignals = config.maxSignals;
  finder.measure = config.measure;
  finder_ = std::make_unique<SignalFinder>(finder);
  router_ = std::make_unique<FrameRouter>(*this);
  if (config.audio && config.blankClicks)
    blanker_ = std::make_unique<ClickBlanker>(bank_->Channels());
  if (config.audio && config.cancelSidebands) {
    SidebandCancellerConfig sidebands;
    sidebands.rate = config.inputRate;
    sidebands.maxCarriers = static_cast<int>(kLoudMax);
    sidebands_ = std::make_unique<SidebandCanceller>(sidebands);
    audio_.reserve(kPiece);
    loud_.reserve(static_cast<size_t>(config.maxSignals));
    loudHz_.reserve(kLoudMax);
  }

  const double rate = bank_->OutputRate();
  const double chainRate = rate / decimation_;
  const double pass =
      std::min(config.audio ? config.audioPassHz : config.signalPassHz, 0.4 * chainRate);
  const double stop = std::min(
      std::max(config.audio ? config.audioStopHz : config.signalStopHz, pass + 5.0), 0.5 * rate);
  signalTaps_ =
      KaiserLowPass(KaiserLength(stop - pass, rate, 40.0), (pass + stop) / 2.0, rate, 40.0);
  if (config.audio && config.audioNarrowWithinHz > 0.0) {
    const double narrowPass = std::min(config.audioNarrowPassHz, pass);
    const double narrowStop = std::min(std::max(config.audioNarrowStopHz, narrowPass + 5.0), stop);
    narrowTaps_ = KaiserLowPass(KaiserLength(narrowStop - narrowPass, rate, 40.0),
                                (narrowPass + narrowStop) / 2.0, rate, 40.0);
  }
  lineTaps_ = std::max(signalTaps_.size(), narrowTaps_.size());

  const size_t m = static_cast<size_t>(bank_->Channels());
  historyFrames_ = static_cast<size_t>(std::max(0.0, config.historyS) * rate);
  historyFrames_ = std::min(
      historyFrames_, static_cast<size_t>(kHistoryBytesMax / (m * sizeof(std::complex<float>))));
  history_.assign(historyFrames_ * m, {});
  chains_.reserve(static_cast<size_t>(config.maxSignals));
  textScratch_.reserve(256);
}

Skimmer::~Skimmer() = default;

double Skimmer::RfHz(double offsetHz) const {
  return config_.audio && config_.lowerSideband ? config_.centreHz - offsetHz
                                                : config_.centreHz + offsetHz;
}

void Skimmer::Process(const std::complex<float>* samples, size_t count) {
  Run(samples, count);
}

void Skimmer::ProcessReal(const float* samples, size_t count) {
  Run(samples, count);
}

template <typename T>
void Skimmer::Run(const T* samples, size_t count) {
  while (count > 0) {
    const size_t n = std::min(count, kPiece);
    const T* in = samples;
    if constexpr (std::is_same_v<T, float>) {
      if (sidebands_) {
        // Finder and bank both see the audio without the loud stations' sidebands.
        audio_.assign(samples, samples + n);
        sidebands_->Process(audio_.data(), n);
        in = audio_.data();
      }
    }
    bool frame;
    if constexpr (std::is_same_v<T, float>) {
      frame = finder_->PushReal(in, n);
    } else {
      frame = finder_->Push(in, n);
    }
    if (frame) OnFinderFrame();
    if constexpr (std::is_same_v<T, float>) {
      bank_->PushReal(in, n, *router_);
    } else {
      bank_->Push(in, n, *router_);
    }
    samples_ += static_cast<int64_t>(n);
    samples += n;
    count -= n;
  }
}

void Skimmer::OnFinderFrame() {
  if (sidebands_) {
    loud_.clear();
    for (const TrackedSignal& signal : finder_->Signals()) {
      const double snr = finder_->SnrDb500(signal.keyDownDb, signal.floorDb);
      if (snr >= kLoudDb) loud_.push_back({snr, signal.freqHz});
    }
    std::sort(loud_.begin(), loud_.end(), std::greater<>());
    loudHz_.clear();
    for (size_t i = 0; i < loud_.size() && i < kLoudMax; ++i) loudHz_.push_back(loud_[i].second);
    sidebands_->SetCarriers(loudHz_.data(), loudHz_.size());
  }
  const SignalFinder::Events& events = finder_->LastEvents();
  for (const TrackedSignal& gone : events.retired) {
    for (size_t i = 0; i < chains_.size(); ++i) {
      if (chains_[i]->id == gone.id) {
        EndChain(i);
        break;
      }
    }
  }
  for (const TrackedSignal& signal : finder_->Signals()) {
    Chain* chain = nullptr;
    for (auto& c : chains_) {
      if (c->id == signal.id) chain = c.get();
    }
    if (chain == nullptr) {
      StartChain(signal);
      continue;
    }
    if (std::abs(chain->offsetHz - signal.freqHz) > 0.05) Tune(*chain, signal.freqHz);
    if (!narrowTaps_.empty()) {
      // A neighbour this close gets through the usual low-pass: the narrow one keeps it out
      // at some cost to the station's own keying.
      double nearest = config_.audioNarrowWithinHz;
      for (const TrackedSignal& other : finder_->Signals()) {
        if (other.id != signal.id)
          nearest = std::min(nearest, std::abs(other.freqHz - signal.freqHz));
      }
      chain->narrow = nearest < config_.audioNarrowWithinHz;
    }
    chain->keyDownDb = signal.keyDownDb;
    chain->floorDb = signal.floorDb;
    chain->lastKeyedS = signal.lastSeenS;
    const double now = TimeS();
    if (!chain->asleep && signal.lastSeenS > chain->checkedS) {
      chain->keyedSinceTextS += now - chain->checkedS;
      if (chain->keyedSinceTextS >= chain->stuckS) Restart(*chain);
    }
    chain->checkedS = now;
    if (chain->relearn) {
      // A carrier under the station is gone from its baseband now: what the decoder learnt
      // of levels and speed with it there is wrong.
      chain->relearn = false;
      Drain(*chain, false);
      chain->decoder->Reset();
      chain->keyedSinceTextS = 0.0;
      Replay(*chain, historyFilled_);
    }
    if (!chain->asleep && now - signal.lastSeenS > kSleepAfterS) {
      // Quiet for seconds: all its text is out (the decoder's lag is shorter); decoding
      // noise until the station keys again would only cost time.
      Drain(*chain, false);
      chain->asleep = true;
      chain->sleptAtS = now;
    } else if (chain->asleep && now - signal.lastSeenS <= kSleepAfterS) {
      // Keyed again: the decoder goes on from a moment before, with all it has learnt.
      chain->asleep = false;
      const double back = std::min(now - chain->sleptAtS, now - signal.lastSeenS + kWakeLeadS);
      Replay(*chain, std::min(historyFilled_, static_cast<size_t>(back * bank_->OutputRate())));
    }
  }
}

void Skimmer::Restart(Chain& chain) {
  Drain(chain, false);
  chain.decoder->Reset();
  chain.keyedSinceTextS = 0.0;
  chain.stuckS = std::min(2.0 * chain.stuckS, kStuckMaxS);
  Replay(chain, historyFilled_);
}

void Skimmer::Replay(Chain& chain, size_t frames) {
  if (chain.canceller) {
    // The mixer runs on through a replay while the channel goes back: the carrier's phase
    // in the baseband jumps by the mixer's turn over the frames.
    chain.canceller->Rewind(static_cast<double>(frames) / decimation_,
                            std::arg(chain.step) * static_cast<double>(frames));
  }
  const size_t m = static_cast<size_t>(bank_->Channels());
  const size_t oldest =
      (historyHead_ + historyFrames_ - frames) % std::max<size_t>(historyFrames_, 1);
  for (size_t i = 0; i < frames; ++i) Feed(chain, &history_[((oldest + i) % historyFrames_) * m]);
}

void Skimmer::Tune(Chain& chain, double offsetHz) {
  // The finder's estimate of a station wanders with its keying (more so beside a birdie it
  // cannot tell apart); the decoder follows its tone anyway. Only the carrier canceller is
  // told, so that the birdie it follows stays put in its eyes.
  if (chain.canceller) chain.canceller->Retune(offsetHz - chain.offsetHz);
  chain.offsetHz = offsetHz;
  chain.channel = bank_->ChannelFor(offsetHz);
  const double residual = offsetHz - bank_->CentreHz(chain.channel);
  chain.step = std::polar(1.0, -2.0 * std::numbers::pi * residual / bank_->OutputRate());
}

void Skimmer::StartChain(const TrackedSignal& signal) {
  std::unique_ptr<Chain> chain;
  if (!pool_.empty()) {
    chain = std::move(pool_.back());
    pool_.pop_back();
    chain->decoder->Reset();
  } else {
    chain = std::make_unique<Chain>();
    chain->decoder = std::make_unique<soft::SoftDecoder>(config_.decoder);
    chain->line.resize(2 * lineTaps_);
    chain->block.reserve(kChainBlock);
    if (config_.audio && config_.cancelCarriers)
      chain->canceller = std::make_unique<CarrierCanceller>(config_.decoder.sampleRate);
  }
  if (chain->canceller) chain->canceller->Reset();
  chain->cancelling = chain->relearn = false;
  chain->cancelledS = -1e9;
  chain->id = signal.id;
  chain->asleep = false;
  chain->lastKeyedS = signal.lastSeenS;
  chain->phasor = {1.0, 0.0};
  std::fill(chain->line.begin(), chain->line.end(), std::complex<float>{});
  chain->lineHead = 0;
  chain->phase = 0;
  chain->block.clear();
  chain->keyDownDb = signal.keyDownDb;
  chain->floorDb = signal.floorDb;
  chain->keyedSinceTextS = 0.0;
  chain->stuckS = kStuckS;
  chain->checkedS = TimeS();
  chain->offsetHz = signal.freqHz;
  Tune(*chain, signal.freqHz);
  ++started_;
  listener_.OnSignalStarted(signal.id, TimeS(), RfHz(signal.freqHz));
  // Its channel from a little before the station began keying: the decoder learns speed
  // and tone from its first seconds, which should hold the signal rather than noise.
  const double since = finder_->KeyedSinceS(signal.freqHz) + kHistoryLeadS;
  Replay(*chain, std::min(historyFilled_, static_cast<size_t>(since * bank_->OutputRate())));
  chains_.push_back(std::move(chain));
}

void Skimmer::EndChain(size_t index) {
  Chain& chain = *chains_[index];
  Drain(chain, true);
  listener_.OnSignalEnded(chain.id, TimeS());
  pool_.push_back(std::move(chains_[index]));
  chains_.erase(chains_.begin() + static_cast<std::ptrdiff_t>(index));
}

void Skimmer::OnBankFrame(const std::complex<float>* channels) {
  if (blanker_) {
    channels = blanker_->Push(channels);
    if (channels == nullptr) return;
  }
  if (historyFrames_ > 0) {
    const size_t m = static_cast<size_t>(bank_->Channels());
    std::copy(channels, channels + m,
              history_.begin() + static_cast<std::ptrdiff_t>(historyHead_ * m));
    historyHead_ = (historyHead_ + 1) % historyFrames_;
    historyFilled_ = std::min(historyFilled_ + 1, historyFrames_);
  }
  for (auto& chain : chains_) {
    if (!chain->asleep) Feed(*chain, channels);
  }
}

void Skimmer::Feed(Chain& chain, const std::complex<float>* channels) {
  const std::complex<float> mix(static_cast<float>(chain.phasor.real()),
                                static_cast<float>(chain.phasor.imag()));
  chain.phasor *= chain.step;
  if (++chain.turns >= 1024) {
    // Rounding would otherwise let its length drift away from 1.
    chain.phasor /= std::abs(chain.phasor);
    chain.turns = 0;
  }
  const std::complex<float> x = channels[chain.channel] * mix;
  // The delay line is stored twice over so the newest taps read as one straight run.
  chain.line[chain.lineHead] = x;
  chain.line[chain.lineHead + lineTaps_] = x;
  chain.lineHead = chain.lineHead + 1 == lineTaps_ ? 0 : chain.lineHead + 1;
  // The decoder takes every decimation_-th output of the low-pass; the others are never
  // computed.
  if (++chain.phase < decimation_) return;
  chain.phase = 0;
  // A shorter low-pass reads the newest end of the line.
  const std::vector<float>& h = chain.narrow ? narrowTaps_ : signalTaps_;
  const size_t taps = h.size();
  const std::complex<float>* run = chain.line.data() + chain.lineHead + (lineTaps_ - taps);
  float re = 0.0f, im = 0.0f;
  for (size_t i = 0; i < taps; ++i) {
    re += h[i] * run[i].real();
    im += h[i] * run[i].imag();
  }
  const std::complex<float> y(re, im);
  if (chain.canceller) {
    chain.block.push_back(chain.canceller->Process(y));
    // A canceller that drops out for a moment (the station keyed over the carrier for a
    // while) and comes back leaves the decoder as it was; one that starts afresh does not.
    if (chain.canceller->Active() && !chain.cancelling && TimeS() - chain.cancelledS > kRelearnGapS)
      chain.relearn = true;
    chain.cancelling = chain.canceller->Active();
    if (chain.cancelling) chain.cancelledS = TimeS();
  } else {
    chain.block.push_back(y);
  }
  if (chain.block.size() >= kChainBlock) Drain(chain, false);
}

void Skimmer::Drain(Chain& chain, bool flush) {
  if (!chain.block.empty()) {
    chain.decoder->Process(chain.block.data(), chain.block.size());
    chain.block.clear();
  }
  if (flush) chain.decoder->Flush();
  textScratch_.clear();
  if (chain.decoder->TakeText(textScratch_) == 0) return;
  if (textScratch_.find_first_not_of(' ') != std::string::npos) {
    chain.keyedSinceTextS = 0.0;
    chain.stuckS = kStuckS;
  }
  const soft::SoftSignalState state = chain.decoder->State();
  SkimText text;
  text.signal = chain.id;
  text.timeS = TimeS();
  text.freqHz = RfHz(chain.offsetHz);
  text.wpm = state.wpm;
  if (state.signalPower > 0.0) {
    // The decoder's key-down power (unity gain through bank and filter) over the band's
    // own noise density, which the decoder cannot see behind the narrow filter.
    text.snrDb = Db(state.signalPower) - Db(finder_->NoisePerHz(chain.floorDb) * 500.0);
  } else {
    text.snrDb = finder_->SnrDb500(chain.keyDownDb, chain.floorDb);
  }
  text.text = textScratch_;
  listener_.OnText(text);
}

size_t Skimmer::AwakeSignals() const {
  size_t n = 0;
  for (const auto& c : chains_) n += c->asleep ? 0 : 1;
  return n;
}

void Skimmer::LiveSignalsInto(std::vector<LiveSignal>& out) const {
  out.clear();
  for (const auto& c : chains_) {
    LiveSignal s;
    s.signal = c->id;
    s.offsetHz = c->offsetHz;
    s.freqHz = RfHz(c->offsetHz);
    s.wpm = c->decoder->State().wpm;
    s.lastKeyedS = c->lastKeyedS;
    s.asleep = c->asleep;
    out.push_back(s);
  }
}

void Skimmer::Flush() {
  finder_->RetireAll();
  while (!chains_.empty()) EndChain(chains_.size() - 1);
}

}  // namespace kestrix::skim
