#include "soft/soft_decoder_impl.h"

#include "language/plausibility.h"
#include "soft/morse_patterns.h"

namespace kestrix::soft {

void SoftDecoder::Impl::OnSegment(const Segment& seg) {
  // In samples: the hop may have changed since these observations were made.
  const double samples =
      seg.start > 0 ? static_cast<double>(ObsSample(seg.end - 1) - ObsSample(seg.start - 1))
                    : static_cast<double>(seg.end - seg.start) * hop;
  const int duration = static_cast<int>(seg.end - seg.start);
  switch (seg.kind) {
    case kDot:
    case kDash:
      if (openGap > 0.0) {
        NoteGap(openGap / unit, lastMarkEvidence);
        if (spaceAwaitingGap) held[heldCount - 1].dots = openGap / unit;
        spaceAwaitingGap = false;
        if (holdingSpaces && (senderGaps.Ready() || heldCount == kHeldSpaces)) ReleaseSpaces();
      }
      openGap = 0.0;
      lastMarkEvidence = seg.evidence;
      [[fallthrough]];
    case kElementGap:
      AddItem(seg.kind, duration, seg.evidence);
      Learn(seg.kind, samples, IsMark(seg.kind) ? seg.evidence : 0.0);
      break;
    case kCharGap:
      AddItem(seg.kind, duration, 0.0);
      NoteGap(samples / unit, lastMarkEvidence);
      Learn(seg.kind, samples, 0);
      if (++pendingCharGaps >= (config.languageModel ? 2 : 1)) DecideCharacters(false);
      break;
    case kWordGap:
      DecideCharacters(true);
      Learn(seg.kind, samples, 0);
      Space();
      openGap = samples;
      break;
    default:
      DecideCharacters(true);
      Space();
      if (openGap > 0.0) openGap += samples;
      break;
  }
}

SegmentKind SoftDecoder::Impl::Other(SegmentKind kind) {
  switch (kind) {
    case kDot:
      return kDash;
    case kDash:
      return kDot;
    case kElementGap:
      return kCharGap;
    case kCharGap:
      return kElementGap;
    default:
      return kind;
  }
}

void SoftDecoder::Impl::AddItem(SegmentKind kind, int duration, double evidence) {
  if (itemCount == kMaxItems) DecideCharacters(true);
  double doubt = kNoOther;
  const SegmentKind other = Other(kind);
  const double there = viterbi.DurationLogProb(other, duration);
  if (config.languageModel && other != kind && there > SegmentViterbi::kNever / 2) {
    // Entering the segment: marks from gaps, gaps from marks.
    const SegmentKind before = IsMark(kind) ? kElementGap : kDot;
    const double here =
        viterbi.DurationLogProb(kind, duration) + viterbi.TransitionLogProb(before, kind);
    doubt = std::max(0.0, here - there - viterbi.TransitionLogProb(before, other));
  }
  items[itemCount++] = Item{kind, evidence, doubt};
}

bool SoftDecoder::Impl::Parse(uint32_t flip, Parsed& out, bool strict) const {
  out.count = 0;
  char pat[16];
  int len = 0;
  double ev = 0.0;
  int marks = 0;
  int k = 0;
  auto finish = [&](int end) {
    if (len == 0) return true;
    const std::string_view t = PatternText(std::string_view(pat, static_cast<size_t>(len)));
    if (t.empty() && strict) return false;
    out.text[out.count] = t;
    out.evidence[out.count] = ev / marks;
    out.end[out.count] = end;
    ++out.count;
    len = 0;
    ev = 0.0;
    marks = 0;
    return true;
  };
  for (int i = 0; i < itemCount; ++i) {
    SegmentKind kind = items[i].kind;
    if (k < doubtCount && doubtIndex[k] == i) {
      if (flip & (1U << k)) kind = Other(kind);
      ++k;
    }
    if (IsMark(kind)) {
      if (len == static_cast<int>(sizeof pat)) return false;
      pat[len++] = kind == kDot ? '.' : '-';
      ev += items[i].evidence * (kind == kDot ? 1.0 : 1.0 / 3.0);
      ++marks;
    } else if (kind == kCharGap) {
      if (!finish(i)) return false;
    }
  }
  return finish(itemCount - 1);
}

double SoftDecoder::Impl::TextOdds(const Parsed& parsed, int upTo) const {
  const Plausibility& model = Plausibility::Model();
  std::array<int, 3> h = history;
  int length = historyLength;
  double score = 0.0;
  for (int c = 0; c < upTo; ++c) {
    for (char ch : parsed.text[c]) {
      const int sym = Plausibility::Symbol(ch);
      score +=
          model.LogProb(h.data() + (3 - length), length, sym) - Plausibility::NoiseLogProb(sym);
      h = {h[1], h[2], sym};
      length = std::min(3, length + 1);
    }
  }
  return score;
}

void SoftDecoder::Impl::DecideCharacters(bool all) {
  if (itemCount == 0) return;
  // The most doubtful labels (all but a held last character gap).
  doubtCount = 0;
  const int last = all ? itemCount : itemCount - 1;
  for (int i = 0; i < last; ++i) {
    if (items[i].doubt >= kDoubtful) continue;
    if (doubtCount < kMaxFlips) {
      doubtIndex[doubtCount++] = i;
    } else {
      int worst = 0;
      for (int k = 1; k < doubtCount; ++k)
        if (items[doubtIndex[k]].doubt > items[doubtIndex[worst]].doubt) worst = k;
      if (items[i].doubt < items[doubtIndex[worst]].doubt) doubtIndex[worst] = i;
    }
  }
  std::sort(doubtIndex.begin(), doubtIndex.begin() + doubtCount);
  double best = -1e300;
  uint32_t bestFlip = 0;
  bool found = false;
  for (uint32_t flip = 0; flip < (1U << doubtCount); ++flip) {
    if (!Parse(flip, parsed)) continue;
    double score = 0.0;
    for (int k = 0; k < doubtCount; ++k)
      if (flip & (1U << k)) score -= items[doubtIndex[k]].doubt;
    score += kTextWeight * TextOdds(parsed, parsed.count);
    if (!found || score > best) {
      best = score;
      bestFlip = flip;
      found = true;
    }
  }
  // No labelling gives real characters: what the search said, unreadable ones dropped.
  Parse(bestFlip, parsed, found);
  const int emit = all ? parsed.count : std::min(parsed.count, 1);
  for (int c = 0; c < emit; ++c) EmitChar(parsed.text[c], parsed.evidence[c]);
  if (all || parsed.count == 0) {
    itemCount = 0;
    pendingCharGaps = 0;
    return;
  }
  // Keep what follows the first character, with the search's own labels.
  const int drop = parsed.end[0] + 1;
  std::copy(items.begin() + drop, items.begin() + itemCount, items.begin());
  itemCount -= drop;
  pendingCharGaps = 0;
  for (int i = 0; i < itemCount; ++i)
    if (items[i].kind == kCharGap) ++pendingCharGaps;
}

void SoftDecoder::Impl::EmitChar(std::string_view t, double meanEvidence) {
  if (meanEvidence < kMinEvidence || t.empty()) return;
  for (char c : t) {
    Put(config.upperCase ? c : static_cast<char>(std::tolower(static_cast<unsigned char>(c))));
    PushHistory(Plausibility::Symbol(c));
  }
  lastWasSpace = false;
}

void SoftDecoder::Impl::PushHistory(int symbol) {
  history = {history[1], history[2], symbol};
  historyLength = std::min(3, historyLength + 1);
}

void SoftDecoder::Impl::Space() {
  if (lastWasSpace) return;
  if (holdingSpaces && heldCount < kHeldSpaces) {
    held[heldCount++] = {text.size(), -1.0};
    spaceAwaitingGap = true;
  } else {
    Put(' ');
  }
  lastWasSpace = true;
  PushHistory(0);
}

void SoftDecoder::Impl::ReleaseSpaces() {
  // Between the letter and the word gap, in log length.
  const double threshold = std::sqrt(gapRatio[1] * gapRatio[2]);
  for (int k = heldCount - 1; k >= 0; --k) {
    const bool word = held[k].dots < 0.0 || held[k].dots > threshold;
    if (word && text.size() < kTextCapacity) text.insert(held[k].at, 1, ' ');
  }
  heldCount = 0;
  spaceAwaitingGap = false;
  holdingSpaces = false;
}

void SoftDecoder::Impl::Put(char c) {
  if (text.size() < kTextCapacity) text.push_back(c);
}

}  // namespace kestrix::soft
