#include "skim/call_extractor.h"

#include <algorithm>

namespace kestrix::skim {

namespace {

// A call this long or longer is voted against words read twice two edits away too, and a
// shorter call against such a long one: a weak signal's decoder splits, merges or drops a
// letter ("DL7SF" read "DL7EEF", "ES3UV" read "ES3UEA", "K5ADW" read "K5AT") in the same
// place more than once.
constexpr size_t kTwoEditLength = 5;

// Levenshtein distance of two short strings, computed only as far as 3.
int EditsUpToThree(std::string_view a, std::string_view b) {
  if (a.size() > b.size()) std::swap(a, b);
  if (b.size() - a.size() > 2 || b.size() > 31) return 3;
  int row[32];
  for (size_t j = 0; j <= b.size(); ++j) row[j] = static_cast<int>(j);
  for (size_t i = 1; i <= a.size(); ++i) {
    int diagonal = row[0];
    row[0] = static_cast<int>(i);
    int best = row[0];
    for (size_t j = 1; j <= b.size(); ++j) {
      const int up = row[j];
      row[j] = std::min({up + 1, row[j - 1] + 1, diagonal + (a[i - 1] == b[j - 1] ? 0 : 1)});
      diagonal = up;
      best = std::min(best, row[j]);
    }
    if (best >= 3) return 3;
  }
  return std::min(row[b.size()], 3);
}

// Whether `a` may be a misread of `b` (or the other way round).
bool Variants(std::string_view a, std::string_view b) {
  if (a == b) return false;
  if (OneEditApart(a, b)) return true;
  return std::max(a.size(), b.size()) >= kTwoEditLength && EditsUpToThree(a, b) <= 2;
}

// Words kept for context: enough for "VVV VVV DE <call> <call>" and "CQ CQ DE <call>".
constexpr size_t kKeepWords = 8;
// How far in front of a DE we look for CQ or VVV, words.
constexpr size_t kDeLookBack = 4;

bool IsCq(std::string_view w) {
  return w == "CQ" || w == "CQCQ";
}

// A word after CQ that says what the CQ is for. A fixed list: any short word would let a
// garbled runner's call ("CQ KAB") turn the caller after it into a CQ.
bool IsCqQualifier(std::string_view w) {
  static constexpr std::string_view kQualifiers[] = {
      "TEST", "DX",   "NA",   "EU", "AS", "AF", "OC",  "SA",   "JA",  "VK",  "US",  "POTA",
      "SOTA", "WWFF", "IOTA", "FD", "SS", "WW", "QRP", "SKCC", "FOC", "CWT", "SST", "QRS"};
  return std::find(std::begin(kQualifiers), std::end(kQualifiers), w) != std::end(kQualifiers);
}

bool IsTest(std::string_view w) {
  return w == "TEST" || w == "CQTEST";
}

// TEST with one letter misread ("TESI", "TEIT", "EEST"): a weak signal's decoder drops a
// dah or a dit in it more often than it gets the call itself wrong.
bool IsTestLike(std::string_view w) {
  if (w.size() != 4) return false;
  int diff = 0;
  for (size_t i = 0; i < 4; ++i) diff += w[i] != "TEST"[i];
  return diff <= 1;
}

// CQ with one letter misread ("NQ", "CG").
bool IsCqLike(std::string_view w) {
  return w.size() == 2 && ((w[0] == 'C') != (w[1] == 'Q'));
}

// A stray E or T: a click or a noise burst the decoder read as the shortest element. It
// stands between the words of a context rather than breaking it.
bool IsStray(std::string_view w) {
  return w == "E" || w == "T";
}

// A signal report as sent after the call of the station worked: 5NN, 599, 579, 5NN9...
bool IsReport(std::string_view w) {
  if (w.size() < 3 || w.size() > 4 || w[0] != '5') return false;
  for (char c : w.substr(1))
    if (!(c == 'N' || (c >= '1' && c <= '9'))) return false;
  return true;
}

bool EndsBeacon(std::string_view call) {
  return call.size() > 2 && call.substr(call.size() - 2) == "/B";
}

// Same length, exactly one character different.
bool OneLetterApart(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  int diff = 0;
  for (size_t i = 0; i < a.size() && diff < 2; ++i) diff += a[i] != b[i];
  return diff == 1;
}

int Rank(SpotKind kind) {
  switch (kind) {
    case SpotKind::Beacon:
      return 2;
    case SpotKind::Cq:
      return 1;
    case SpotKind::Dx:
      break;
  }
  return 0;
}

}  // namespace

CallExtractor::CallExtractor(const CallBook& book, const CallExtractorConfig& config)
    : book_(book), config_(config) {}

void CallExtractor::Feed(std::string_view text, double timeS) {
  for (char raw : text) {
    char c = raw;
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c == ' ' || c == '\n' || c == '\r' || c == '\t') {
      EndWord(timeS);
      continue;
    }
    const bool callChar = (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '/';
    if (!callChar) partialBroken_ = true;
    if (partial_.size() < config_.maxWordLength) {
      partial_.push_back(callChar ? c : '?');
    } else {
      partialBroken_ = true;
    }
    partialTimeS_ = timeS;
  }
}

void CallExtractor::Flush(double timeS) {
  EndWord(timeS);
  while (judged_ < words_.size()) Judge(judged_++);
}

void CallExtractor::Reset() {
  partial_.clear();
  partialBroken_ = false;
  words_.clear();
  judged_ = 0;
  reads_.clear();
  ready_.clear();
  reports_.clear();
  current_.clear();
}

size_t CallExtractor::TakeReports(std::vector<CallReport>& out) {
  const size_t n = reports_.size();
  for (CallReport& r : reports_) out.push_back(std::move(r));
  reports_.clear();
  return n;
}

std::string CallExtractor::CurrentCall() const {
  return current_;
}

void CallExtractor::EndWord(double timeS) {
  (void)timeS;
  if (partial_.empty()) return;
  PushWord(partial_, partialTimeS_, partialBroken_);
  partial_.clear();
  partialBroken_ = false;
  // A word is judged once the word after it is known (past a stray E or T or two).
  while (judged_ < words_.size() && NextWord(judged_) < words_.size()) Judge(judged_++);
  while (words_.size() > kKeepWords && judged_ > 0) {
    words_.pop_front();
    --judged_;
  }
}

void CallExtractor::PushWord(const std::string& text, double timeS, bool broken) {
  // A word gap the decoder missed glues a call to the context word before or after it:
  // "TESTK1ABC", "CQK1ABC", "K1ABCTEST". Split only when the whole is no call and the rest
  // is one.
  if (!broken && !book_.IsValid(text)) {
    for (std::string_view head : {"CQTEST", "TEST", "CQ"}) {
      if (text.size() > head.size() + 2 && text.starts_with(head)) {
        const std::string rest = text.substr(head.size());
        if (!book_.IsValid(rest) && !(rest.size() > 4 && rest.ends_with("TEST"))) continue;
        PushWord(std::string(head), timeS, false);
        PushWord(rest, timeS, false);
        return;
      }
    }
    if (text.size() > 6 && text.ends_with("TEST")) {
      const std::string call = text.substr(0, text.size() - 4);
      if (book_.IsValid(call)) {
        words_.push_back(Word{call, timeS, false});
        words_.push_back(Word{"TEST", timeS, false});
        return;
      }
    }
  }
  words_.push_back(Word{text, timeS, broken});
}

size_t CallExtractor::NextWord(size_t i) const {
  int skipped = 0;
  for (size_t k = i + 1; k < words_.size(); ++k) {
    // Past too many strays the last one stands as the next word.
    if (words_[k].broken || !IsStray(words_[k].text) || ++skipped > kMaxStrays) return k;
  }
  return words_.size();  // not come yet
}

size_t CallExtractor::PrevWord(size_t i) const {
  int skipped = 0;
  for (size_t k = i; k > 0; --k) {
    if (words_[k - 1].broken || !IsStray(words_[k - 1].text) || ++skipped > kMaxStrays)
      return k - 1;
  }
  return kNone;
}

void CallExtractor::Judge(size_t i) {
  const Word& w = words_[i];
  if (w.broken || !book_.IsValid(w.text)) return;
  auto word = [&](size_t k) -> std::string_view {
    return k < words_.size() && !words_[k].broken ? std::string_view(words_[k].text)
                                                  : std::string_view();
  };
  const size_t iPrev = PrevWord(i);
  const size_t iPrev2 = iPrev == kNone ? kNone : PrevWord(iPrev);
  const size_t iNext = NextWord(i);
  const std::string_view prev = iPrev == kNone ? std::string_view() : word(iPrev);
  const std::string_view prev2 = iPrev2 == kNone ? std::string_view() : word(iPrev2);
  const std::string_view next = word(iNext);
  // A call followed by a report or DE was sent to that station, not by it: "W9XYZ 5NN 05",
  // "K1ABC DE W1AW". It doesn't double the word before it either, which is how a runner's
  // "W9XYZ 5NN" after a zero-beat caller's "W9XYZ" must read.
  auto addressed = [&](size_t k) {
    const std::string_view after = word(NextWord(k));
    return after == "DE" || IsReport(after);
  };

  bool read = false;
  bool strong = true;  // a CQ, TEST, DE or TU context; a doubled call alone is weak
  SpotKind kind = SpotKind::Dx;
  if (prev == "DE") {
    read = true;
    // What stands in front of DE: CQ makes it a CQ, VVV a beacon, a call (W1AW DE K1ABC)
    // or nothing a contact.
    for (size_t back = 2; back <= kDeLookBack + 1 && back <= i; ++back) {
      const std::string_view before = word(i - back);
      if (before.empty()) break;
      if (before == "VVV") {
        kind = SpotKind::Beacon;
        break;
      }
      if (IsCq(before)) {
        kind = SpotKind::Cq;
        break;
      }
      if (book_.IsValid(before)) break;
    }
  } else if (IsCq(prev) || prev == "CQTEST" || (IsCqQualifier(prev) && IsCq(prev2)) ||
             (prev == "TEST" && IsCqLike(prev2)) || (IsTestLike(prev) && IsCq(prev2))) {
    // CQ K1ABC, CQ TEST K1ABC, CQ DX K1ABC; one of CQ and TEST may be misread.
    read = true;
    kind = SpotKind::Cq;
  } else if (IsTest(next) || (IsTestLike(next) && !book_.IsValid(next))) {
    // K1ABC TEST: a runner between contacts (a caller never sends TEST).
    read = true;
    kind = SpotKind::Cq;
  } else if (prev == "TU" && !addressed(i)) {
    // TU K1ABC: a runner closing a contact. Its type comes from its other reads.
    read = true;
  } else if (!addressed(i) &&
             (((prev == w.text || OneLetterApart(prev, w.text)) && !addressed(iPrev)) ||
              ((next == w.text || OneLetterApart(next, w.text)) && !addressed(iNext)))) {
    // Doubled: a caller giving its call, or a CQ repeating it (typed by the other reads).
    read = true;
    strong = false;
  } else if (EndsBeacon(w.text) && !addressed(i)) {
    // A /B call is sent by the beacon alone, whatever stands around it.
    read = true;
    strong = false;
  }
  // "TEST K1ABC" alone is not a read: the word after a runner's closing TEST is as often a
  // caller answering it. It and any call sent to no one are loose reads.
  const bool loose = !read && !addressed(i);
  if (!read && !loose) return;
  if (loose) strong = false;
  if (EndsBeacon(w.text)) kind = SpotKind::Beacon;
  AddRead(w.text, kind, strong, loose, w.timeS);
}

void CallExtractor::AddRead(const std::string& call, SpotKind kind, bool strong, bool loose,
                            double timeS) {
  ForgetBefore(timeS - config_.memoryS);
  reads_.push_back(Read{call, kind, timeS, strong, loose});

  const int inContext = ExactReads(call, false);
  if (inContext == 0) return;
  const int all = ExactReads(call, true);
  // A rare shape needs three reads, one of them where the station plainly names itself:
  // a decoder locked on a signal at the wrong speed repeats the same wrong word, and
  // repetition alone would look like a doubled call.
  const bool rare = book_.ReadsNeeded(call) > 2;
  bool anyStrong = false;
  for (const Read& r : reads_) anyStrong = anyStrong || (r.strong && r.call == call);
  // A beacon's call read three times over is the beacon's, with or without DE in front.
  const bool beaconRead = EndsBeacon(call) && inContext >= config_.minReadsRare;
  if (rare && !anyStrong && !beaconRead) return;
  // A beacon's suffix makes its call rare by shape, but a wrong-speed decoder never makes
  // up "/B": two reads do, one of them after DE.
  const int needed = rare && !EndsBeacon(call) ? config_.minReadsRare : config_.minReads;
  // A call one letter away from another that was read too (two for long calls) must lead
  // it by two reads: a decoder that misreads a letter once tends to misread it again in
  // the same fist. Loose reads are weighed against loose reads of the variants alike.
  auto ready = [&](int reads, int least, bool withLoose) {
    if (reads < least) return false;
    int strongest = 0;
    VariantReads(call, withLoose, &strongest);
    return strongest == 0 || reads >= strongest + 2;
  };
  int exact = inContext;
  if (!ready(inContext, needed, false)) {
    if (!ready(all, std::max(needed, config_.minReadsLoose), true)) return;
    exact = all;
  }

  CallReport report;
  report.call = call;
  report.kind = KindOf(call);
  report.reads = exact;
  report.timeS = timeS;
  report.firstReport = std::find(ready_.begin(), ready_.end(), call) == ready_.end();
  if (report.firstReport) ready_.push_back(call);
  current_ = call;
  reports_.push_back(std::move(report));
}

void CallExtractor::ForgetBefore(double timeS) {
  while (!reads_.empty() && reads_.front().timeS < timeS) reads_.pop_front();
  // A call with no reads left must earn its spot-ready state again.
  ready_.erase(std::remove_if(ready_.begin(), ready_.end(),
                              [&](const std::string& c) { return ExactReads(c, false) == 0; }),
               ready_.end());
  if (!current_.empty() && ExactReads(current_, false) == 0) current_.clear();
}

int CallExtractor::ExactReads(std::string_view call, bool withLoose) const {
  int n = 0;
  for (const Read& r : reads_) n += r.call == call && (withLoose || !r.loose);
  return n;
}

int CallExtractor::VariantReads(std::string_view call, bool withLoose,
                                int* strongestVariant) const {
  int total = 0;
  int strongest = 0;
  std::vector<std::string_view> seen;
  for (const Read& r : reads_) {
    if ((r.loose && !withLoose) || !Variants(r.call, call)) continue;
    ++total;
    if (std::find(seen.begin(), seen.end(), r.call) != seen.end()) continue;
    seen.push_back(r.call);
    const int reads = ExactReads(r.call, withLoose);
    // Two edits away, a word read once is as likely noise as a misread of this call.
    if (reads < 2 && !OneEditApart(r.call, call)) continue;
    strongest = std::max(strongest, reads);
  }
  if (strongestVariant) *strongestVariant = strongest;
  return total;
}

SpotKind CallExtractor::KindOf(std::string_view call) const {
  SpotKind kind = EndsBeacon(call) ? SpotKind::Beacon : SpotKind::Dx;
  for (const Read& r : reads_) {
    if (r.call == call && Rank(r.kind) > Rank(kind)) kind = r.kind;
  }
  return kind;
}

}  // namespace kestrix::skim
