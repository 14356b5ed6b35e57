#include "cli/best_decode.h"

#include <algorithm>
#include <atomic>
#include <climits>
#include <cmath>
#include <fstream>
#include <memory>
#include <thread>

#include "cli/decode_session.h"
#include "cli/soft_decode.h"
#include "decoder/cp1252.h"
#include "language/plausibility.h"
#include "platform/audio_file.h"
#include "receive/receiver.h"

namespace kestrix {
namespace {

constexpr double kBlockSeconds = 8192.0 / 44100.0;

// Weights of the receivers' own evidence against the text model's log-likelihood ratio
// (all in nats). A chain whose dash/dot ratio strays far from 3 is misreading elements;
// chains that read the same text back each other up; the chain that won the previous
// segment keeps it unless another is clearly better, so that the text does not change
// hands on noise-level differences.
constexpr double kRatioTolerance = 0.35;  // |ln(ratio / 3)| below this costs nothing
constexpr double kRatioWeight = 1.5;      // per character and unit of ln ratio beyond it
constexpr double kAgreementWeight = 1.0;  // per character, times the share of chains agreeing
constexpr double kStayBonus = 1.0;
// What a letter is worth before the text model judges it: a tuned chain prints letters
// because it hears keying, and the model's vocabulary is small, so a word it has never
// seen should not lose to silence.
constexpr double kLetterPrior = 0.5;
// Where a segment starts in the middle of a word (a long run without word gaps), changing
// chains there loses or repeats a letter or two: it takes a clearly better reading.
constexpr double kMidWordStayBonus = 8.0;
// A chain whose squelch figure (the tone over its surroundings, at the chain's own tuning)
// is far below the best chain's in a segment is not listening to the signal: its letters
// cost kSquelchWeight each per unit of ln(best / own) beyond kSquelchTolerance.
constexpr double kSquelchTolerance = 0.7;  // ln 2
constexpr double kSquelchWeight = 1.5;
// A chain whose AFC has carried it more than kWanderBins further from the tone the user (or
// the tone finder) clicked on than another chain that hears at least half as well has
// most likely followed another signal: each of its letters costs kWanderWeight.
constexpr double kWanderBins = 3.0;
constexpr double kWanderWeight = 3.0;

class ChainRun : private TextSink, private ReceiverSink {
 public:
  ChainRun() { Restart(); }

  Receiver& Rx() { return *rx_; }
  // A fresh receiver (nothing learnt).
  void Restart() {
    rx_ =
        std::make_unique<Receiver>(*static_cast<TextSink*>(this), static_cast<ReceiverSink*>(this));
  }
  void Record(ChainReading* reading) { reading_ = reading; }
  void Process(const std::vector<uint8_t>& block, int index) {
    block_ = index;
    rx_->ProcessTextBlock(block.data());
  }

 private:
  void InsertText(const char* bytes, size_t length) override {
    if (reading_ == nullptr) return;
    reading_->text.append(bytes, length);
    reading_->textBlock.insert(reading_->textBlock.end(), length, block_);
  }
  void BlockFinished(const Receiver& rx) override {
    if (reading_ == nullptr) return;
    const TimingState& t = rx.Timing;
    reading_->dashDot.push_back(!t.Learning && t.AvgDot > 0
                                    ? static_cast<float>(t.AvgDash) / static_cast<float>(t.AvgDot)
                                    : 0.0f);
    reading_->bar.push_back(static_cast<int16_t>(rx.FrequencyBar));
    reading_->squelch.push_back(
        static_cast<int16_t>(std::clamp(rx.Sq.SquelchRatio, -32768, 32767)));
  }

  std::unique_ptr<Receiver> rx_;
  ChainReading* reading_ = nullptr;
  int block_ = 0;
};

DecodeOptions ChainOptions(const DecodeOptions& options, const ChainSettings& s) {
  DecodeOptions o = options;
  o.threshold = s.threshold;
  o.afc = s.afc;
  return o;
}

void StartChain(Receiver& rx, const DecodeOptions& o, int clickPosition) {
  ApplyStartOptions(rx, o);
  rx.StartValues();
  if (clickPosition > 0) rx.SpectrumClick(clickPosition);
}

// The look-ahead pass ends in the middle of the recording; what it had of an element or a
// character, and the key decisions still waiting in the detector's delay, are not part of
// the first block's signal.
void ForgetPartialCharacter(DetectorState& d, TimingState& t) {
  d.previousKeys.fill(0);
  d.keptEnvelope.fill(0.0f);
  d.RunCount = 0;
  d.RunStart = 2;
  t.OnCounter = 0;
  t.OffCounter = 0;
  t.ElementCode = 0;
  t.ElementWeight = 1;
  t.DotFlag = 0;
  t.DashFlag = 0;
  t.CharEndFlag = 0;
  t.SpaceState = 2;  // as after a word space: no blank before the first character
  t.LastWasSpace = 1;
}

int ClickPosition(const CaptureBlocks& blocks, const DecodeOptions& options) {
  if (options.toneHz) return *options.toneHz > 0.0 ? ToneClickPosition(*options.toneHz) : 0;
  CaptureSettings capture;
  if (options.channel) capture.SetChannel(*options.channel);
  return FindTone(blocks, capture.Channel);
}

bool IsBlank(char c) {
  return c == ' ' || c == '\t' || c == '\r' || c == '\n';
}

// For every byte of a chain's text, the block it came out in; blanks go with the character
// before them (leading blanks with block 0). Non-decreasing along the text. Segments are
// cut where no chain is in the middle of a word wherever that is possible; where it is
// not (a long run without word gaps), the words are split at the same moment in every
// chain, so that switching chains there neither loses nor repeats a word.
std::vector<int32_t> WordBlocks(const ChainReading& r) {
  std::vector<int32_t> key(r.text.size(), 0);
  int32_t current = 0;
  for (size_t i = 0; i < r.text.size(); ++i) {
    if (!IsBlank(r.text[i])) current = r.textBlock[i];
    key[i] = current;
  }
  return key;
}

double MeanDistance(const ChainReading& r, int first, int end, int clickPosition) {
  double sum = 0.0;
  int n = 0;
  for (int b = first; b < end && b < static_cast<int>(r.bar.size()); ++b, ++n) {
    sum += std::abs(r.bar[static_cast<size_t>(b)] - clickPosition);
  }
  return n > 0 ? sum / n : 0.0;
}

double MeanSquelch(const ChainReading& r, int first, int end) {
  double sum = 0.0;
  int n = 0;
  for (int b = first; b < end && b < static_cast<int>(r.squelch.size()); ++b, ++n) {
    sum += r.squelch[static_cast<size_t>(b)];
  }
  return n > 0 ? std::max(sum / n, 1.0) : 1.0;
}

// The chain's own evidence on its text of one segment (nats, 0 or less): a dash/dot ratio
// far from 3, a squelch figure far below the best chain's (`bestSquelch`).
double Evidence(const ChainReading& r, const std::string& text, int first, int end,
                double bestSquelch) {
  int characters = 0;
  for (char c : text) characters += IsBlank(c) ? 0 : 1;
  if (characters == 0) return 0.0;
  const double deaf =
      std::max(0.0, std::log(bestSquelch / MeanSquelch(r, first, end)) - kSquelchTolerance);
  double stray = 0.0;
  int counted = 0;
  for (int b = first; b < end && b < static_cast<int>(r.dashDot.size()); ++b) {
    const float ratio = r.dashDot[static_cast<size_t>(b)];
    if (ratio <= 0.0f) continue;
    stray += std::max(0.0, std::abs(std::log(ratio / 3.0)) - kRatioTolerance);
    ++counted;
  }
  const double ratio = counted > 0 ? kRatioWeight * stray / counted : 0.0;
  return -characters * (ratio + kSquelchWeight * deaf);
}

}  // namespace

std::string ChainSettings::Name() const {
  std::string t;
  switch (threshold) {
    case ThresholdMode::kNormal:
      t = "normal";
      break;
    case ThresholdMode::kNoisy:
      t = "noisy";
      break;
    case ThresholdMode::kManual:
      t = "manual";
      break;
    case ThresholdMode::kAuto:
      t = "auto";
      break;
    case ThresholdMode::kQuiet:
      t = "quiet";
      break;
  }
  static const char* const kAfcNames[] = {"off", "narrow", "medium", "wide"};
  return t + "/afc-" + kAfcNames[static_cast<int>(afc) & 3];
}

std::vector<ChainSettings> BestChains(const DecodeOptions& options) {
  std::vector<AfcMode> afcs = {AfcMode::kOff, AfcMode::kNarrow};
  std::vector<ThresholdMode> thresholds = {ThresholdMode::kNoisy, ThresholdMode::kNormal,
                                           ThresholdMode::kAuto};
  if (options.afc) afcs = {*options.afc};
  if (options.threshold) thresholds = {*options.threshold};
  std::vector<ChainSettings> chains;
  for (AfcMode afc : afcs) {
    for (ThresholdMode threshold : thresholds) chains.push_back({threshold, afc});
  }
  return chains;
}

CaptureBlocks CutCaptureBlocks(const std::vector<int16_t>& frames, int channels,
                               const DecodeOptions& options) {
  CaptureSettings capture;
  if (options.channel) capture.SetChannel(*options.channel);
  CaptureBlockPacker packer(capture.Format.Channels);
  CaptureBlocks blocks;
  auto keep = [&blocks](const CaptureBlock& block) { blocks.push_back(block); };
  const size_t count = channels > 0 ? frames.size() / static_cast<size_t>(channels) : 0;
  packer.Feed(frames.data(), count, channels, keep);
  // The flush silence, as kestrix-decode's file mode appends it.
  packer.Finish(static_cast<int>(options.flushSeconds * 44100.0), keep);
  return blocks;
}

ChainReading ReadChain(const CaptureBlocks& blocks, const DecodeOptions& options,
                       const ChainSettings& settings, int clickPosition, bool lookAhead) {
  ChainReading reading;
  reading.settings = settings;
  const DecodeOptions o = ChainOptions(options, settings);
  ChainRun run;
  StartChain(run.Rx(), o, clickPosition);

  // The AFC is held on the clicked tone until shortly before the keying starts: in the
  // noise before it, it would walk off to noise peaks and, past its range, never find the
  // tone again. It runs all the same (its peak average follows the spectrum), but the bar
  // is put back after each block. The look-ahead pass is held throughout and says where
  // the keying starts.
  int afcFrom = 0;
  auto hold = [&] {
    if (clickPosition > 0 && run.Rx().FrequencyBar != clickPosition) {
      run.Rx().SetFrequencyBar(clickPosition);
    }
  };
  if (lookAhead) {
    const int limit = std::min<int>(kLookAheadMaxBlocks, static_cast<int>(blocks.size()));
    int settled = 0;
    bool learnt = false;
    int i = 0;
    while (i < limit) {
      run.Process(blocks[static_cast<size_t>(i)], i);
      hold();
      ++i;
      if (run.Rx().Timing.Learning) continue;
      if (settled == 0) afcFrom = std::max(0, i - kAfcLeadBlocks);
      // Stop at a word gap once settled, or a little later in any case.
      ++settled;
      // Quiet: a word gap behind, and no key-down decided in this block either (the
      // decisions reach the timing half a block late, the filters carry the last block).
      const DetectorState& d = run.Rx().Detector;
      const bool quiet = run.Rx().Timing.SpaceState == 2 &&
                         std::all_of(d.previousKeys.begin(), d.previousKeys.end(),
                                     [](uint8_t k) { return k == 0; });
      if ((settled >= kLookAheadSettleBlocks && quiet) || settled >= 3 * kLookAheadSettleBlocks) {
        learnt = true;
        break;
      }
    }
    if (learnt) {
      reading.lookAheadBlocks = i;
      ForgetPartialCharacter(run.Rx().Detector, run.Rx().Timing);
    } else {
      // Nothing learnt: start the way the plain decoder does.
      run.Restart();
      StartChain(run.Rx(), o, clickPosition);
      afcFrom = 0;
    }
  }

  reading.dashDot.reserve(blocks.size());
  reading.squelch.reserve(blocks.size());
  reading.bar.reserve(blocks.size());
  run.Record(&reading);
  for (size_t i = 0; i < blocks.size(); ++i) {
    run.Process(blocks[i], static_cast<int>(i));
    if (static_cast<int>(i) + 1 < afcFrom) hold();
  }
  return reading;
}

std::vector<std::pair<int, int>> CutSegments(const std::vector<ChainReading>& chains,
                                             int blockCount) {
  // straddle[t]: how many chains have a word running across the boundary before block t.
  std::vector<int> straddle(static_cast<size_t>(blockCount) + 2, 0);
  for (const ChainReading& r : chains) {
    std::vector<int> diff(static_cast<size_t>(blockCount) + 2, 0);
    size_t i = 0;
    while (i < r.text.size()) {
      if (IsBlank(r.text[i])) {
        ++i;
        continue;
      }
      const int first = r.textBlock[i];
      int last = first;
      while (i < r.text.size() && !IsBlank(r.text[i])) last = r.textBlock[i++];
      if (last > first) {
        diff[static_cast<size_t>(first) + 1] += 1;
        diff[static_cast<size_t>(last) + 1] -= 1;
      }
    }
    int run = 0;
    for (int t = 0; t <= blockCount; ++t) {
      run += diff[static_cast<size_t>(t)];
      straddle[static_cast<size_t>(t)] += run;
    }
  }
  // The cuts that cross the fewest words in all, and among those the most segments (the
  // finer the choice, the better): a shortest path over the block boundaries.
  constexpr int64_t kCrossingCost = 1000;
  const int64_t kUnreached = INT64_MAX / 2;
  std::vector<int64_t> cost(static_cast<size_t>(blockCount) + 1, kUnreached);
  std::vector<int> from(static_cast<size_t>(blockCount) + 1, 0);
  cost[0] = 0;
  for (int t = 1; t <= blockCount; ++t) {
    const int64_t here = t == blockCount ? 0 : kCrossingCost * straddle[static_cast<size_t>(t)];
    const int shortest = t == blockCount ? 1 : kMinSegmentBlocks;
    for (int len = shortest; len <= kMaxSegmentBlocks && len <= t; ++len) {
      const int64_t c = cost[static_cast<size_t>(t - len)] + here - 1;
      if (cost[static_cast<size_t>(t - len)] < kUnreached && c < cost[static_cast<size_t>(t)]) {
        cost[static_cast<size_t>(t)] = c;
        from[static_cast<size_t>(t)] = t - len;
      }
    }
  }
  std::vector<std::pair<int, int>> segments;
  for (int t = blockCount; t > 0; t = from[static_cast<size_t>(t)]) {
    segments.emplace_back(from[static_cast<size_t>(t)], t);
  }
  std::reverse(segments.begin(), segments.end());
  return segments;
}

BestReading DecodeBest(const CaptureBlocks& blocks, const DecodeOptions& options, int threads) {
  BestReading best;
  best.clickPosition = ClickPosition(blocks, options);
  const std::vector<ChainSettings> settings = BestChains(options);
  best.chains.resize(settings.size());

  std::atomic<size_t> next{0};
  auto work = [&] {
    for (size_t i = next.fetch_add(1); i < settings.size(); i = next.fetch_add(1)) {
      best.chains[i] = ReadChain(blocks, options, settings[i], best.clickPosition);
    }
  };
  const int helpers = std::clamp(threads, 1, static_cast<int>(settings.size())) - 1;
  std::vector<std::thread> pool;
  for (int i = 0; i < helpers; ++i) pool.emplace_back(work);
  work();
  for (std::thread& t : pool) t.join();

  const int blockCount = static_cast<int>(blocks.size());
  std::vector<std::vector<int32_t>> keys;
  for (const ChainReading& r : best.chains) keys.push_back(WordBlocks(r));
  std::vector<size_t> cursor(best.chains.size(), 0);
  const Plausibility& model = Plausibility::Model();

  int previous = 0;
  for (const auto& [first, end] : CutSegments(best.chains, blockCount)) {
    const size_t n = best.chains.size();
    std::vector<std::string> texts(n);
    bool midWord = false;
    for (size_t r = 0; r < n; ++r) {
      const std::string& text = best.chains[r].text;
      size_t& at = cursor[r];
      const size_t from = at;
      midWord = midWord || (from > 0 && from < text.size() && !IsBlank(text[from - 1]) &&
                            !IsBlank(text[from]));
      while (at < text.size() && keys[r][at] < end) ++at;
      texts[r] = text.substr(from, at - from);
    }
    std::vector<std::string> normalised(n);
    for (size_t r = 0; r < n; ++r) normalised[r] = Plausibility::Normalise(texts[r]);

    BestSegment segment;
    segment.firstBlock = first;
    segment.endBlock = end;
    segment.scores.resize(n);
    const std::string before =
        best.text.size() > 8 ? best.text.substr(best.text.size() - 8) : " " + best.text;
    double bestSquelch = 1.0;
    for (const ChainReading& r : best.chains) {
      bestSquelch = std::max(bestSquelch, MeanSquelch(r, first, end));
    }
    std::vector<double> squelch(n);
    std::vector<double> distance(n);
    for (size_t r = 0; r < n; ++r) {
      squelch[r] = MeanSquelch(best.chains[r], first, end);
      distance[r] = best.clickPosition > 0
                        ? MeanDistance(best.chains[r], first, end, best.clickPosition)
                        : 0.0;
    }
    for (size_t r = 0; r < n; ++r) {
      double score = model.Score(texts[r], before) +
                     Evidence(best.chains[r], texts[r], first, end, bestSquelch);
      bool wandered = false;
      for (size_t q = 0; q < n; ++q) {
        wandered =
            wandered || (distance[q] + kWanderBins < distance[r] && 2.0 * squelch[q] >= squelch[r]);
      }
      int characters = 0;
      for (char c : normalised[r]) characters += c == ' ' ? 0 : 1;
      if (wandered) score -= kWanderWeight * characters;
      score += kLetterPrior * characters;
      if (characters > 0 && n > 1) {
        int agreeing = 0;
        for (size_t q = 0; q < n; ++q) agreeing += q != r && normalised[q] == normalised[r];
        score += kAgreementWeight * characters * agreeing / static_cast<double>(n - 1);
      }
      if (static_cast<int>(r) == previous) score += midWord ? kMidWordStayBonus : kStayBonus;
      segment.scores[r] = score;
    }
    // The first of equal scores wins, so the window's defaults break ties.
    segment.winner = static_cast<int>(
        std::max_element(segment.scores.begin(), segment.scores.end()) - segment.scores.begin());
    previous = segment.winner;
    segment.text = texts[static_cast<size_t>(segment.winner)];
    best.text += segment.text;
    best.segments.push_back(std::move(segment));
  }
  return best;
}

WholeTextScore ScoreWholeText(const std::string& text) {
  WholeTextScore whole;
  whole.score = Plausibility::Model().Score(text);
  for (char c : Plausibility::Normalise(text)) whole.characters += c == ' ' ? 0 : 1;
  return whole;
}

bool SoftReadsBetter(const std::string& assembled, const std::string& soft) {
  const WholeTextScore a = ScoreWholeText(assembled);
  const WholeTextScore s = ScoreWholeText(soft);
  if (s.characters == 0) return false;
  if (a.characters == 0) return true;
  const double margin = std::max(kSoftMarginNats, kSoftMarginShare * std::abs(a.score));
  return s.score >= a.score + margin && s.PerChar() >= a.PerChar();
}

BestReading ReadBest(const std::vector<int16_t>& frames, int channels, const DecodeOptions& options,
                     int threads) {
  BestReading best = DecodeBest(CutCaptureBlocks(frames, channels, options), options, threads);
  // The soft engine tunes itself as --engine soft does: the chains' tone is the window's
  // pick of the first seconds, which a recording opening with noise leads astray.
  best.softText =
      SoftReadFrames(frames, channels, options.toneHz.value_or(0.0), options, &best.softSnrDb);
  const bool weak = best.softSnrDb > -99.0 && best.softSnrDb < kSoftAlwaysBelowDb &&
                    ScoreWholeText(best.softText).characters > 0;
  if (weak || SoftReadsBetter(best.text, best.softText)) {
    best.softTaken = true;
    best.assembled = std::move(best.text);
    best.text = best.softText;
  }
  return best;
}

int RunBestDecode(const DecodeOptions& options, std::ostream& out, std::string& error) {
  RecordingReader reader;
  if (!reader.Open(options.input, 44100, error)) return kExitInputError;
  std::ofstream trace;
  if (!options.tracePath.empty()) {
    trace.open(options.tracePath, std::ios::out | std::ios::trunc);
    if (!trace) {
      error = "cannot write trace file '" + options.tracePath + "'";
      return kExitInputError;
    }
  }
  const int channels = reader.Channels();
  std::vector<int16_t> all;
  std::vector<int16_t> frames(static_cast<size_t>(4096 * channels));
  for (;;) {
    const int got = reader.Read(frames.data(), 4096);
    if (got <= 0) break;
    all.insert(all.end(), frames.begin(), frames.begin() + got * channels);
  }
  const unsigned cores = std::thread::hardware_concurrency();
  const BestReading best =
      ReadBest(all, channels, options, cores == 0 ? 1 : static_cast<int>(cores));
  out << Cp1252ToUtf8(best.text) << '\n';
  out.flush();
  if (trace.is_open()) {
    trace << "segment,first_block,end_block,start_s,end_s,winner";
    for (const ChainReading& r : best.chains) trace << ',' << r.settings.Name();
    trace << ",text\n";
    auto quote = [](const std::string& text) {
      std::string quoted = "\"";
      for (char c : Cp1252ToUtf8(text)) {
        if (c == '"') quoted += '"';
        quoted += c;
      }
      return quoted + "\"";
    };
    for (size_t s = 0; s < best.segments.size(); ++s) {
      const BestSegment& seg = best.segments[s];
      trace << s << ',' << seg.firstBlock << ',' << seg.endBlock << ','
            << seg.firstBlock * kBlockSeconds << ',' << seg.endBlock * kBlockSeconds << ','
            << best.chains[static_cast<size_t>(seg.winner)].settings.Name();
      for (double score : seg.scores) trace << ',' << std::round(score * 100.0) / 100.0;
      trace << ',' << quote(seg.text) << '\n';
    }
    // The whole-text choice: the soft reading against the assembled one; in the chain
    // columns the assembled text's score and score per character, then the soft text's.
    const WholeTextScore assembled = ScoreWholeText(best.softTaken ? best.assembled : best.text);
    const WholeTextScore soft = ScoreWholeText(best.softText);
    const double figures[] = {assembled.score, assembled.PerChar(), soft.score, soft.PerChar()};
    const int endBlock = best.segments.empty() ? 0 : best.segments.back().endBlock;
    trace << "whole,0," << endBlock << ",0," << endBlock * kBlockSeconds << ','
          << (best.softTaken ? "soft" : "chains");
    for (size_t r = 0; r < best.chains.size(); ++r) {
      trace << ',';
      if (r < 4) trace << std::round(figures[r] * 100.0) / 100.0;
    }
    trace << ',' << quote(best.softText) << '\n';
    if (!trace) {
      error = "cannot write trace file '" + options.tracePath + "'";
      return kExitInputError;
    }
  }
  return kExitOk;
}

}  // namespace kestrix
