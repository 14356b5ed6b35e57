// Call extraction for one signal: turns the decoded text of one station's channel into
// the calls heard identifying on it, each with how often it was read and whether the
// station is calling CQ, in a contact or a beacon.
//
// Only a call in a context where the sender names itself counts as a read:
//
//   CQ <call>          "CQ K1ABC", "CQ CQ DE K1ABC", "CQ TEST K1ABC", "CQ DX K1ABC" -> CQ
//   TEST <call>        "TEST K1ABC"                                                   -> CQ
//   <call> TEST        "K1ABC TEST" (a contest runner between contacts)               -> CQ
//   TU <call>          "TU K1ABC" (a runner closing a contact; typed by other reads)
//   DE <call>          "W1AW DE K1ABC" is K1ABC's read, not W1AW's                    -> DX
//                      "CQ ... DE K1ABC" -> CQ, "VVV DE K1ABC" -> BEACON
//   <call> <call>      the same call twice in a row (a caller, or a CQ repeating it)  -> DX
//
// A call anywhere else ("K1ABC 5NN 05", "K1ABC DE W1AW") was sent by someone else about
// that station and is not a read: the station named may be far from this frequency. A call
// ending in /B or heard after VVV is a beacon; a /B call is a read wherever it stands (only
// the beacon sends it) and, rare shape or not, two reads make it, one of them after DE, or
// three anywhere. A
// caller answering a CQ sends its own call doubled or once after the CQ; it is never typed
// CQ, since only a CQ/TEST word right in front of it (or TEST right behind) makes a CQ read.
//
// A word is only taken as a call when CallBook says it is valid. The decoded text may be
// wrong: '?' and other characters a call never holds break the context (the word after a
// broken one has no context), and a one-letter error is voted down: a call is spot-ready
// when it has at least two exact reads (ReadsNeeded: three for a rare shape, at least one
// of them in a CQ, TEST, DE or TU context rather than merely doubled) and, when a call one
// edit away from it (a letter changed, added or dropped) was read too, at least two exact
// reads more than that one.
// A station's own call with nothing around it ("... M2QF TEST TDM2QII GID M2QF"), its
// context words lost in the noise, is a loose read: it counts only for a call read in
// context at least once, and then only once it has minReadsLoose reads of both kinds.
// A variant is never promoted to the winner's spelling: only strings actually read are
// reported, so no call is ever invented.
//
// Reads older than `memoryS` are forgotten, so a new station on a frequency an old one
// left starts afresh.
//
// Not thread-safe; one instance per signal, fed by the thread that runs its decoder.
// Never blocks; allocates only while text arrives (a few small strings per word).
#pragma once

#include <cstddef>
#include <deque>
#include <string>
#include <string_view>
#include <vector>

#include "skim/call_sign.h"
#include "skim/spot.h"

namespace kestrix::skim {

struct CallExtractorConfig {
  double memoryS = 900.0;     // reads older than this (stream seconds) are dropped
  int minReads = 2;           // exact reads before a common call is spot-ready
  int minReadsRare = 3;       // exact reads for a rare one (one in a CQ/TEST/DE/TU context)
  int minReadsLoose = 4;      // reads in and out of context, with at least one in context
  size_t maxWordLength = 16;  // longer runs of characters are noise, never a call
};

// One report: `call` was read (again) and is spot-ready.
struct CallReport {
  std::string call;
  SpotKind kind = SpotKind::Dx;  // Beacon > Cq > Dx over every read of this call so far
  int reads = 0;                 // exact reads within the memory
  double timeS = 0;              // stream time of this read
  bool firstReport = false;      // the read that made the call spot-ready
};

class CallExtractor {
 public:
  // `book` must outlive the extractor.
  explicit CallExtractor(const CallBook& book, const CallExtractorConfig& config = {});

  // Appends decoded text (any bytes; lower case is folded, line ends and tabs count as
  // spaces). `timeS` is the stream time at which the last character of `text` was keyed,
  // in seconds. A word is judged once the word after it has begun (or on Flush()), so a
  // report lags the call by one word.
  void Feed(std::string_view text, double timeS);
  // End of the signal: judges the words still pending.
  void Flush(double timeS);
  // Forgets everything (a new station on this channel).
  void Reset();

  // Moves the reports produced since the last call into `out` (appended). Every read of a
  // spot-ready call yields one report; SpotPolicy decides which become spots.
  size_t TakeReports(std::vector<CallReport>& out);

  // The spot-ready call read most recently on this signal, empty when none (a band map's
  // label for the trace).
  std::string CurrentCall() const;

  const CallExtractorConfig& Config() const { return config_; }

 private:
  struct Word {
    std::string text;
    double timeS = 0;
    bool broken = false;  // held a character no call or context word has
  };
  struct Read {
    std::string call;
    SpotKind kind = SpotKind::Dx;
    double timeS = 0;
    bool strong = false;  // in a CQ, TEST, DE or TU context, not merely doubled
    bool loose = false;   // in no context at all
  };
  static constexpr size_t kNone = static_cast<size_t>(-1);
  static constexpr int kMaxStrays = 2;  // stray E/T words skipped between context words
  void EndWord(double timeS);
  void PushWord(const std::string& text, double timeS, bool broken);
  // The word after / before words_[i], past stray E and T words: words_.size() when it
  // has not come yet, kNone when there is none.
  size_t NextWord(size_t i) const;
  size_t PrevWord(size_t i) const;
  void Judge(size_t index);
  void AddRead(const std::string& call, SpotKind kind, bool strong, bool loose, double timeS);
  void ForgetBefore(double timeS);
  int ExactReads(std::string_view call, bool withLoose = true) const;
  int VariantReads(std::string_view call, bool withLoose, int* strongestVariant) const;
  SpotKind KindOf(std::string_view call) const;

  const CallBook& book_;
  CallExtractorConfig config_;
  std::string partial_;
  bool partialBroken_ = false;
  double partialTimeS_ = 0;
  std::deque<Word> words_;          // the last few words, newest at the back
  size_t judged_ = 0;               // words_[0..judged_) are judged
  std::deque<Read> reads_;          // oldest first
  std::vector<std::string> ready_;  // calls that reached spot-ready (for firstReport)
  std::vector<CallReport> reports_;
  std::string current_;
};

}  // namespace kestrix::skim
