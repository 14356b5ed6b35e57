// The gaps a sender leaves between letters and between words, learnt from the gaps he
// actually keys rather than taken as 3 and 7 dots. Farnsworth senders key letters at one
// speed and stretch the gaps between them to an overall speed far slower; a hand sender
// may run his letters together or leave long pauses. Read with the usual ratios, every
// stretched letter gap would be a word gap.
//
// The last kGaps gaps longer than an element gap (in dots of the learnt speed) fall into
// two clusters in log length when the sender's word gaps stand out from his letter gaps,
// or one when the stretch had no word gap worth the name; the shorter cluster is his
// letter gap, the longer (or 7/3 of the letter gap) his word gap. No allocation; any
// thread, one instance per signal.
#pragma once

#include <array>
#include <cstdint>

namespace kestrix::soft {

class SenderSpacing {
 public:
  static constexpr int kGaps = 16;       // gaps remembered
  static constexpr int kMinGaps = 3;     // before any estimate
  static constexpr double kSplit = 1.7;  // clusters this far apart are letters and words

  void Reset();
  // A gap between letters or words (or a pause), in dots. Returns true when there is an
  // estimate.
  bool Add(double dots);
  bool Ready() const { return count_ >= kMinGaps; }
  double Letter() const { return letter_; }  // dots
  double Word() const { return word_; }      // dots

 private:
  std::array<double, kGaps> logs_{};  // log dots, a ring
  int64_t count_ = 0;
  double letter_ = 3.0;
  double word_ = 7.0;
};

}  // namespace kestrix::soft
