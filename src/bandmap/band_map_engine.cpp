#include "bandmap/band_map_engine.h"

#include <time.h>

#include <algorithm>
#include <chrono>
#include <iostream>
#include <unordered_map>

#include "receive/capture_format.h"
#include "skim/call_extractor.h"
#include "skim/call_sign.h"
#include "skim/rigctld_client.h"
#include "skim/skimmer.h"

namespace kestrix::bandmap {

namespace {

double SystemUtc() {
  return std::chrono::duration<double>(std::chrono::system_clock::now().time_since_epoch()).count();
}

}  // namespace

// Cluster lines out only while the dial is known: without it the "frequency" would be an
// audio frequency, which a logger would take for kHz on the air. The spot's time is the
// wall clock of the block it was heard in: the feed counts stream time from its start,
// which falls behind the clock by every pause for transmitting.
class BandMapEngine::SpotGate final : public skim::SpotOutput {
 public:
  SpotGate(skim::SpotOutput* out, const bool& dialKnown, const double& now)
      : out_(out), dialKnown_(dialKnown), now_(now) {}
  void OnSpot(const std::string& /*line*/, const skim::Spot& spot) override {
    ++spots;
    if (out_ == nullptr || !dialKnown_) return;
    skim::Spot timed = spot;
    timed.utcSeconds = static_cast<int64_t>(std::floor(now_));
    out_->OnSpot(skim::FormatSpotLine(timed), timed);
  }
  uint64_t spots = 0;

 private:
  skim::SpotOutput* out_;
  const bool& dialKnown_;
  const double& now_;
};

// The skimmer's listener: the spot feed as kestrix-skim runs it, and beside it a call
// extractor per signal whose reports fill the station list.
class BandMapEngine::Listener final : public skim::SkimListener {
 public:
  // `followed` gets every piece of text with its signal's audio frequency.
  Listener(const skim::CallBook& book, skim::SpotFeed& feed,
           std::function<void(const skim::SkimText&, double)> followed,
           std::function<void(uint64_t)> ended)
      : book_(book), feed_(feed), followed_(std::move(followed)), ended_(std::move(ended)) {}

  void OnSignalStarted(uint64_t signal, double timeS, double freqHz) override {
    feed_.OnSignalStarted(signal, timeS, freqHz);
    signals_[signal].extractor = std::make_unique<skim::CallExtractor>(book_);
  }
  void OnText(const skim::SkimText& text) override {
    feed_.OnText(text);
    PerSignal& s = Get(text.signal);
    if (text.wpm > 0.0) s.wpm = text.wpm;
    s.snrDb = text.snrDb;
    s.extractor->Feed(text.text, text.timeS);
    Reports(text.signal, s, text.freqHz);
    followed_(text, s.audioHz);
  }
  void OnSignalEnded(uint64_t signal, double timeS) override {
    feed_.OnSignalEnded(signal, timeS);
    ended_(signal);
    auto it = signals_.find(signal);
    if (it == signals_.end()) return;
    it->second.extractor->Flush(timeS);
    Reports(signal, it->second, std::nan(""));
    signals_.erase(it);
  }
  // The spot-ready call most recently read on `signal`.
  std::string CurrentCall(uint64_t signal) const {
    auto it = signals_.find(signal);
    return it == signals_.end() ? std::string() : it->second.extractor->CurrentCall();
  }

  StationList stations;
  double now = 0.0;       // UTC of the block being skimmed
  double centreHz = 0.0;  // the dial while this block is skimmed (0: unknown)
  bool lowerSideband = false;

 private:
  struct PerSignal {
    std::unique_ptr<skim::CallExtractor> extractor;
    double wpm = 0.0;
    double snrDb = 0.0;
    double audioHz = 0.0;
  };
  PerSignal& Get(uint64_t signal) {
    PerSignal& s = signals_[signal];
    if (!s.extractor) s.extractor = std::make_unique<skim::CallExtractor>(book_);
    return s;
  }
  void Reports(uint64_t signal, PerSignal& s, double rfHz) {
    if (!std::isnan(rfHz)) s.audioHz = lowerSideband ? centreHz - rfHz : rfHz - centreHz;
    reports_.clear();
    s.extractor->TakeReports(reports_);
    for (const skim::CallReport& r : reports_) {
      StationRow row;
      row.call = r.call;
      row.audioHz = s.audioHz;
      row.snrDb = s.snrDb;
      row.wpm = s.wpm;
      row.cq = r.kind == skim::SpotKind::Cq;
      row.lastHeard = now;
      row.signal = signal;
      stations.Heard(row);
    }
  }

  const skim::CallBook& book_;
  skim::SpotFeed& feed_;
  std::function<void(const skim::SkimText&, double)> followed_;
  std::function<void(uint64_t)> ended_;
  std::unordered_map<uint64_t, PerSignal> signals_;
  std::vector<skim::CallReport> reports_;
};

struct BandMapEngine::Work {
  skim::CallBook book;
  bool dialKnown = false;
  double now = 0.0;  // UTC of the block being skimmed
  std::unique_ptr<SpotGate> gate;
  std::unique_ptr<skim::SpotFeed> feed;
  std::unique_ptr<Listener> listener;
  std::unique_ptr<skim::Skimmer> skimmer;
  std::unique_ptr<PassbandSpectrum> spectrum;
  std::unique_ptr<skim::RigctldClient> rig;
  bool rigTried = false;
  std::string status;
  double rate = 0.0;
  std::vector<float> samples;
  std::vector<std::vector<float>> rows;  // made since the last publish
  std::vector<skim::LiveSignal> live;
  double streamS = 0.0;
  uint64_t blocks = 0;
  uint64_t spotsBefore = 0;  // of feeds replaced at a rate change
};

BandMapEngine::BandMapEngine(const EngineConfig& config, skim::SpotOutput* spots)
    : BlockWorker(config.queueSlots),
      config_(config),
      spots_(spots),
      typedDialHz_(config.dialHz),
      work_(std::make_unique<Work>()) {
  work_->samples.reserve(kBlockFrames);
}

BandMapEngine::~BandMapEngine() {
  Stop();
}

void BandMapEngine::Stop() {
  BlockWorker::Stop();
  if (work_->rig) work_->rig->Stop();
}

double BandMapEngine::Now() const {
  return config_.clock ? config_.clock() : SystemUtc();
}

void BandMapEngine::Followed(const skim::SkimText& text, double audioHz) {
  const double want = followHz_.load(std::memory_order_relaxed);
  if (!(want == followingHz_)) {  // a new tuning (or none): look again
    followingHz_ = want;
    Unfollow(followed_);
  }
  if (std::isnan(want)) return;
  if (followed_ == 0 && std::fabs(audioHz - want) <= kFollowHz) {
    followed_ = text.signal;
    following_.store(true, std::memory_order_relaxed);
  }
  if (text.signal != followed_) return;
  std::lock_guard lock(followMutex_);
  followedText_ += text.text;
}

void BandMapEngine::Unfollow(uint64_t signal) {
  if (signal == 0 || signal != followed_) return;
  followed_ = 0;
  following_.store(false, std::memory_order_relaxed);
}

void BandMapEngine::TakeFollowedText(std::string& out) {
  std::lock_guard lock(followMutex_);
  out += followedText_;
  followedText_.clear();
}

void BandMapEngine::Rebuild(double rate) {
  Work& w = *work_;
  if (w.feed) w.spotsBefore += w.gate->spots;
  w.rate = rate;
  w.gate = std::make_unique<SpotGate>(spots_, w.dialKnown, w.now);
  skim::SpotFeedConfig fc;
  fc.spotter = config_.spotter;
  fc.utcAtStart = Now();
  w.feed = std::make_unique<skim::SpotFeed>(w.book, fc, *w.gate, nullptr);
  StationList kept = w.listener ? w.listener->stations : StationList(config_.fade);
  w.skimmer.reset();
  w.listener = std::make_unique<Listener>(
      w.book, *w.feed, [this](const skim::SkimText& t, double hz) { Followed(t, hz); },
      [this](uint64_t signal) { Unfollow(signal); });
  Unfollow(followed_);  // the new skimmer numbers its signals afresh
  w.listener->stations = kept;
  skim::SkimmerConfig sc;
  sc.inputRate = rate;
  sc.audio = true;
  sc.lowerSideband = config_.lowerSideband;
  sc.loHz = config_.passband.loHz;
  sc.hiHz = std::min(config_.passband.hiHz, 0.45 * rate);
  sc.measure = config_.measurePlans;
  w.skimmer = std::make_unique<skim::Skimmer>(sc, *w.listener);
  w.spectrum = std::make_unique<PassbandSpectrum>(rate, config_.passband);
}

double BandMapEngine::DialHz() {
  Work& w = *work_;
  if (!config_.rigctld.empty() && !w.rigTried) {
    // Once, on the worker: the first connection waits up to a few seconds.
    w.rigTried = true;
    w.rig = std::make_unique<skim::RigctldClient>(config_.rigctld, std::cerr);
    std::string error;
    if (!w.rig->Start(error)) {
      w.status = error;
      w.rig.reset();
    }
  }
  if (w.rig) {
    const double hz = w.rig->DialHz();
    if (!std::isnan(hz)) return hz;
  }
  return typedDialHz_.load(std::memory_order_relaxed);
}

void BandMapEngine::ProcessBlock(const BlockQueue::Taken& block) {
  Work& w = *work_;
  const double rate = static_cast<double>(block.format.rate);
  if (rate < 8000.0) return;  // no capture format this low: a corrupt hand-off
  if (!w.skimmer || rate != w.rate) Rebuild(rate);

  const size_t channels = static_cast<size_t>(block.format.channels);
  const size_t frames = block.bytes / (2 * channels);
  w.samples.resize(frames);
  const uint8_t* p = block.data + 2 * static_cast<size_t>(block.format.channel);
  for (size_t i = 0; i < frames; ++i, p += 2 * channels) {
    const int16_t v = static_cast<int16_t>(static_cast<uint16_t>(p[0] | (p[1] << 8)));
    w.samples[i] = static_cast<float>(v) * (1.0f / 32768.0f);
  }

  const double dial = DialHz();
  w.dialKnown = !std::isnan(dial);
  w.skimmer->SetCentreHz(w.dialKnown ? dial : 0.0);
  Listener& l = *w.listener;
  l.now = w.now = Now();
  l.centreHz = w.skimmer->CentreHz();
  l.lowerSideband = config_.lowerSideband;
  w.skimmer->ProcessReal(w.samples.data(), frames);
  w.spectrum->Push(w.samples.data(), frames, [&](const float* dB, int columns) {
    if (w.rows.size() >= config_.maxPendingRows) w.rows.erase(w.rows.begin());
    w.rows.emplace_back(dB, dB + columns);
  });

  // Stations still keying keep their labels bright and follow their traces.
  w.skimmer->LiveSignalsInto(w.live);
  const double streamNow = w.skimmer->TimeS();
  for (const skim::LiveSignal& s : w.live) {
    const std::string call = l.CurrentCall(s.signal);
    if (call.empty()) continue;
    l.stations.StillHeard(call, s.signal, s.offsetHz, s.wpm, l.now - (streamNow - s.lastKeyedS));
  }
  l.stations.Expire(l.now);
  w.streamS += static_cast<double>(frames) / rate;
  ++w.blocks;
  Publish(l.now);
}

void BandMapEngine::Publish(double now) {
  Work& w = *work_;
  Snapshot s;
  s.stations = w.listener->stations.Rows();
  s.columns = w.spectrum->Config().columns;
  s.loHz = w.spectrum->Config().loHz;
  s.hiHz = w.spectrum->Config().hiHz;
  s.dialHz = w.dialKnown ? w.skimmer->CentreHz() : std::nan("");
  s.lowerSideband = config_.lowerSideband;
  s.now = now;
  s.streamS = w.streamS;
  s.cpuS = WorkerCpuSeconds();
  s.blocks = w.blocks;
  s.dropped = Queue().Dropped();
  s.spots = w.spotsBefore + w.gate->spots;
  s.liveSignals = w.skimmer->LiveSignals();
  s.status = w.status;
  std::lock_guard<std::mutex> lock(snapshotMutex_);
  std::swap(shared_, s);
  for (auto& row : w.rows) {
    if (sharedRows_.size() >= config_.maxPendingRows) sharedRows_.erase(sharedRows_.begin());
    sharedRows_.push_back(std::move(row));
  }
  w.rows.clear();
}

void BandMapEngine::TakeSnapshot(Snapshot& out) {
  std::vector<std::vector<float>> rows;
  {
    std::lock_guard<std::mutex> lock(snapshotMutex_);
    out = shared_;
    rows.swap(sharedRows_);
  }
  out.rows = std::move(rows);
}

}  // namespace kestrix::bandmap
