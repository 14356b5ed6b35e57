// Streaming explicit-duration (semi-Markov) Viterbi search over the segments of Morse:
// dots and dashes (key down), the element, character and word gaps, and idle (key up for
// longer than a word gap, one observation at a time).
//
// Each observation is the log-likelihood ratio key down / key up of one short stretch of
// signal. A key-down segment scores the sum of its ratios, a key-up segment scores 0 (key
// up is the reference), and every segment adds the log-probability of its duration and of
// the transition from the segment before it. Durations are counted in observations.
//
// Observations pushed with PushCoherent() carry the signal itself instead: the stretch's
// samples summed after mixing to 0 Hz and weighting by the expected amplitude over the
// noise power, and the expected key-down energy over the noise. A key-down segment then
// scores the likelihood ratio of one steady tone of unknown phase over the whole segment,
// log I0(2|sum|) - energy: the element's own length is the integration time, instead of
// short stretches added without their phase. That is worth about 1.5 dB on weak signals
// but asks for the tone's frequency to a fraction of the inverse element length; a strong
// signal that drifts or chirps loses its phase within a dash. So a segment scores the
// better of the coherent ratio and the sum of the observations' own ratios.
//
// Scores and back-pointers are kept for the last kHistory observations, so a traceback
// can reach back that far; segments older than the caller's lag are committed (handed out
// once, oldest first) and never revised. The traceback starts from the best path now,
// which may be inside a gap that has not ended yet (scored by the probability that the
// gap lasts at least that long): a sender whose gaps outlast the lag still has the
// marks before them read as they were.
#pragma once

#include <array>
#include <complex>
#include <cstdint>
#include <limits>

namespace kestrix::soft {

enum SegmentKind : uint8_t { kDot, kDash, kElementGap, kCharGap, kWordGap, kIdle, kSegmentKinds };

// Natural log of the modified Bessel function I0 (good to about 1e-7 relative).
double LogI0(double x);

inline bool IsMark(int kind) {
  return kind == kDot || kind == kDash;
}

struct Segment {
  SegmentKind kind;
  int64_t start;    // first observation
  int64_t end;      // one past the last observation
  double evidence;  // summed log-likelihood ratio over the segment (key down over key up)
};

class SegmentViterbi {
 public:
  static constexpr int kMaxDuration = 192;  // observations
  static constexpr int kHistory = 1024;     // observations of scores and back-pointers
  static constexpr double kNever = -1e300;

  SegmentViterbi();

  // Forgets every observation; the next one is observation 0 and any segment kind may be
  // the first.
  void Reset();

  // Log-probability of each duration 1..kMaxDuration of `kind` (index 0 unused); entries
  // at or below kNever / 2 are impossible durations. Idle always lasts one observation.
  void SetDurations(SegmentKind kind, const std::array<float, kMaxDuration + 1>& logProb);
  // Log-probability of segment `to` following segment `from`.
  void SetTransition(SegmentKind from, SegmentKind to, double logProb);
  // What the priors say of a segment of `kind` lasting `duration` observations (kNever
  // for an impossible one), and of one kind following another.
  double DurationLogProb(SegmentKind kind, int duration) const {
    return duration >= 1 && duration <= kMaxDuration ? duration_[kind][duration] : kNever;
  }
  double TransitionLogProb(SegmentKind from, SegmentKind to) const { return transition_[from][to]; }

  // Adds one observation.
  void Push(float llr);
  // Adds one observation with its ratio and the signal (see above); a segment's
  // `evidence` is then its score. Not to be mixed with Push() between resets.
  void PushCoherent(float llr, std::complex<double> weighted, double energy);
  int64_t Time() const { return time_; }

  // Best path score ending now (for comparing hypotheses over the same observations).
  double BestScore() const;

  // Traces the best path back from now and hands every segment that ends at or before
  // `before` and has not been handed out yet to `out`, oldest first. Returns how many.
  template <typename F>
  int Commit(int64_t before, F&& out) {
    int n = Trace(before);
    for (int i = 0; i < n; ++i) out(trace_[i]);
    return n;
  }
  int64_t Committed() const { return committed_; }

 private:
  int Trace(int64_t before);
  void Advance(bool coherent);
  double CoherentScore(int64_t start, int64_t end) const;
  bool coherent_ = false;
  static int Slot(int64_t t) { return static_cast<int>(t & (kHistory - 1)); }

  struct Back {
    uint16_t duration = 0;
    uint8_t previous = 0;
  };

  std::array<std::array<float, kMaxDuration + 1>, kSegmentKinds> duration_{};
  // Log-probability of lasting at least d observations, for the key-up kinds.
  std::array<std::array<float, kMaxDuration + 1>, kSegmentKinds> lasting_{};
  std::array<int, kSegmentKinds> minDuration_{};
  std::array<int, kSegmentKinds> maxDuration_{};
  std::array<std::array<double, kSegmentKinds>, kSegmentKinds> transition_{};

  // Per observation time t (slot of t): the best score of a path whose last segment of
  // each kind ends at t, where it came from, and the best score of entering each kind at t.
  std::array<std::array<double, kSegmentKinds>, kHistory> ending_{};
  std::array<std::array<Back, kSegmentKinds>, kHistory> back_{};
  std::array<std::array<double, kSegmentKinds>, kHistory> entering_{};
  std::array<double, kHistory + 1> cumulative_{};          // sum of ratios before t (slot of t)
  std::array<std::complex<double>, kHistory> weighted_{};  // sum of weighted signal before t
  std::array<double, kHistory> energy_{};                  // sum of expected energy before t
  int64_t time_ = 0;
  int64_t committed_ = 0;
  std::array<Segment, kHistory> trace_{};
};

}  // namespace kestrix::soft
