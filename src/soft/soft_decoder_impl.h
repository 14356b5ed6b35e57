// The soft decoder's state and steps, shared by the files that implement them:
// soft_decoder.cpp (the public class, construction and resets), soft_acquisition.cpp
// (the held start of each over: tone, levels, speed), soft_evidence.cpp (observations and
// their key-down / key-up evidence against tracked levels), soft_timing.cpp (duration
// priors, speed and spacing tracking) and soft_characters.cpp (segments to characters).
// Internal to src/soft; see soft_decoder.h for what the decoder does.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <complex>
#include <cstdint>
#include <numbers>
#include <string>
#include <string_view>
#include <vector>

#include "soft/segment_viterbi.h"
#include "soft/sender_spacing.h"
#include "soft/soft_decoder.h"

namespace kestrix::soft {

struct SoftDecoder::Impl {
  static constexpr double kTwoPi = 2.0 * std::numbers::pi;
  static constexpr double kWindowDots = 0.5;  // coherent integration window, in dots
  static constexpr double kWarmUpS = 3.0;     // held before decoding starts (speed, tone)
  static constexpr int kMaxWindow = 512;      // samples of the coherent window ring
  static constexpr size_t kTextCapacity = 4096;
  // How slowly the key-down reference follows (seconds of key-down time).
  static constexpr double kReferenceS = 1.0;
  // Overlapping observations are worth less than independent ones (hop / window of them);
  // measured on generated signals, scaling that up by this much reads best.
  static constexpr double kEvidenceScale = 1.5;

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

  void SetTransitions();

  void ResetState();

  // What is learnt of a station: back to a new one's (its first seconds are held).
  void ResetTracking();

  // The search and the observations behind it start again, held first.
  void ResetSearch();

  double Wpm() const { return 1.2 * fs / unit; }

  // Sets the unit (dot length in samples) and with it the observation hop, the coherent
  // window and the duration priors.
  void SetUnit(double samples, bool force = false);

  // Spreads (log-normal sigma) of the lengths about what the learnt speed and ratios say.
  // The learnt ratios take each sender's own habits; tighter priors read weak signals
  // better. These are a keyer's, widened by `spread` for a sender whose clear marks vary
  // more (hand keying).
  // `offset` is added to every log-probability (see EstimateSpeed()).
  void SetDurations(double offset = 0.0);

  // ---- Start-up: tone offset, levels and speed from the held samples ----

  void Start();

  // ---- Overs: a pause ends one, the next is acquired as at the start ----

  static constexpr double kPauseWordGaps = 2.0;
  static constexpr double kMinPauseS = 0.8;
  static constexpr double kNewSpeedMargin = 5.0;  // nats
  double overWpm = 0.0;                           // the speed when the last over ended

  bool OverEnded() const;

  // Decides everything heard, and holds what follows as at the start: the tone, levels
  // and speed of the next over are learnt from it (until then, and if it has none, the
  // last over's stay). The sender's spacing and the text model's context stay too.
  void EndOver();

  // Whether a tone stands out in the held samples (see ReadyToStart()).
  bool ToneInHeld();
  // How many of the scanned segments stand out at the strongest frequency, and the first.
  int SegmentsStandingOut(int segments, int& first);

  // The held samples start the decoder only once a tone stands out in them: a recording
  // or a live input may open with seconds of noise, and a speed and levels learnt from
  // noise are wrong. Without a tone the older half is dropped and holding goes on; with a
  // tone that begins late, the noise before it (less a second, which the levels are
  // learnt from) is dropped.
  bool ReadyToStart();

  // Power of every 64-sample segment of the held samples at every frequency within a
  // quarter of the rate around 0 Hz, a quarter bin apart, into `scan`; the frequency whose
  // summed power is the strongest local peak into `scanBest`. Returns the segments.
  int Scan();

  double ScanHz(int k) const { return -fs / 4.0 + k * fs / kScanSegment / 4.0; }

  void EstimateOffset();

  // Observations of the held samples at a fixed fine hop, shared by every speed
  // hypothesis so that their path scores compare.
  void EstimateSpeed();

  // Two-level fit of observations: noise (exponential) and key-down power.
  static void FitLevels(const std::vector<float>& ys, std::vector<float>& sorted, double& noiseOut,
                        double& markOut);

  // Key down over key up for one observation: key down is a steady amplitude in complex
  // Gaussian noise, key up the noise alone.
  static double Llr(double y, double noisePower, double markPowerTotal);

  // ---- Streaming ----

  void Step(std::complex<float> x);

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
  // A sender whose letter gaps are this many dots or more (Farnsworth's) is silent for
  // seconds between his words: past a letter gap and a fifth, no fade is looked for.
  static constexpr double kLongLetterGap = 4.5;
  double FadeMemory() const {
    const double memory = kFadeMemoryS * fs;
    return gapRatio[1] < kLongLetterGap ? memory : std::min(memory, 1.2 * gapRatio[1] * unit);
  }
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

  void Observe();

  // Key-down level around observation `j`: a high rank of the window's powers.
  double LocalLevel(int64_t j) const;

  void Decide(int64_t j);

  // End of input: decides the observations still waiting for the ones after them.
  void DrainEnvelope();

  // Input sample at which decided observation `k` was made.
  int64_t ObsSample(int64_t k) const { return obsSample[k & (SegmentViterbi::kHistory - 1)]; }

  void OnSegment(const Segment& seg);

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

  static SegmentKind Other(SegmentKind kind);

  void AddItem(SegmentKind kind, int duration, double evidence);

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

  bool Parse(uint32_t flip, Parsed& out, bool strict = true) const;

  double TextOdds(const Parsed& parsed, int upTo) const;

  void DecideCharacters(bool all);

  void EmitChar(std::string_view t, double meanEvidence);

  void PushHistory(int symbol);

  // A new sender, or the same one changing speed, shows in the last few marks before the
  // search reads them right: split their lengths into short and long (dots and dashes),
  // and when that split is clear and says another speed, take that speed at once.
  static constexpr int kRecentMarks = 8;
  static constexpr double kSpeedJump = 0.25;  // relative change that moves the unit at once

  void CheckSpeedJump(double samples, double evidence);

  // How much the sender's timing varies, from marks clear enough that their length is
  // the sender's and not the noise's: the priors widen from a keyer's by up to kSpreadMax
  // as the spread of those marks' lengths grows past kKeyerSpread. A weak signal keeps
  // the keyer's priors.
  void LearnSpread(SegmentKind kind, double samples, double evidence);

  // The sender's own letter gaps (see SenderSpacing), from gaps after a clear mark: when
  // they are far from the ratio the search uses, the ratios move there at once.
  static constexpr double kSpacingJump = 0.3;
  static constexpr double kClearMark = 10.0;        // evidence of the mark before a gap noted
  static constexpr double kLongestCharGap = 130.0;  // observations
  static constexpr double kLongestWordGap = 160.0;

  void NoteGap(double dots, double markEvidence);

  void Learn(SegmentKind kind, double samples, double evidence);

  void Space();

  void Put(char c);

  // Until the sender's spacing is known (three gaps), the word spaces put out wait: the
  // text from the first one on is held back, and when the spacing is known each becomes a
  // space only if its gap was longer than the sender's letter gap (a Farnsworth sender's
  // first letters are not words).
  static constexpr int kHeldSpaces = 6;
  struct HeldSpace {
    size_t at;    // position in `text`
    double dots;  // length of its gap (< 0: not known yet)
  };
  void ReleaseSpaces();

  // Mean evidence a character's marks need: noise in a long gap of a strong signal (a
  // Farnsworth sender's 1.6 s letter gaps) makes an E of 2 to 3.
  static constexpr double kMinEvidence = 3.0;

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
  int64_t lastKeyDownSample = -1;  // a likely key-down observation (p > 0.5) of this over
  int64_t startSample = 0;         // where this over's holding began
  double lowQuartile = 0.0;        // log power, see Decide()
  bool quartileSet = false;
  bool noiseDropped = false;   // the noise floor dropped a step and has not come back
  bool noiseReturned = false;  // and came back (an over ended)

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
  bool holdingSpaces = true;
  std::array<HeldSpace, kHeldSpaces> held{};
  int heldCount = 0;
  bool spaceAwaitingGap = false;  // the last held space's gap has not ended
};

}  // namespace kestrix::soft
