// kestrix-decode --best: a recording read by several receive chains at once, each under
// other settings, each after a look-ahead pass that learns the tone and the speed from the
// opening; the text is cut into segments aligned in time across the chains, and each
// segment takes the text of the chain whose reading is the most plausible.
//
// The chains are independent Receivers that share only the (read-only) capture blocks,
// so they may run on threads.
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "cli/decode_options.h"
#include "decoder/options.h"
#include "receive/tone.h"

namespace kestrix {

using CaptureBlocks = std::vector<std::vector<uint8_t>>;

// Settings one chain runs under.
struct ChainSettings {
  ThresholdMode threshold = ThresholdMode::kNoisy;
  AfcMode afc = AfcMode::kOff;
  std::string Name() const;  // e.g. "noisy/afc-off"
};

// The chains --best runs: threshold Noisy, Normal and Auto, each with the AFC off and
// Narrow, the window's defaults first. A --threshold or --afc given on the command line
// holds for every chain.
std::vector<ChainSettings> BestChains(const DecodeOptions& options);

// The recording cut into capture buffers exactly as DecodeSession cuts them, including the
// flush silence after the end.
CaptureBlocks CutCaptureBlocks(const std::vector<int16_t>& frames, int channels,
                               const DecodeOptions& options);

// Longest look-ahead pass (30 s) and how long it goes on after learning ended, so that the
// dot and dash averages have settled on a few more elements (1.1 s).
inline constexpr int kLookAheadMaxBlocks = 162;
inline constexpr int kLookAheadSettleBlocks = 6;
// The AFC starts this long before the look-ahead pass had learnt the speed (0.9 s).
inline constexpr int kAfcLeadBlocks = 5;

// One chain's reading of the whole recording.
struct ChainReading {
  ChainSettings settings;
  std::string text;                // Windows-1252, as the receive pane would show it
  std::vector<int32_t> textBlock;  // the block each byte of `text` came out in
  std::vector<float> dashDot;      // per block: AvgDash / AvgDot, 0 while learning
  std::vector<int16_t> squelch;    // per block: the squelch figure
  std::vector<int16_t> bar;        // per block: the tuning bar after the AFC
  int lookAheadBlocks = 0;         // blocks the look-ahead pass read (0: it learnt nothing)
};

// Runs one chain: start-up as the window does, the tone click, the look-ahead pass, then
// the whole recording from its first block. `clickPosition` 0 leaves the bar alone.
ChainReading ReadChain(const CaptureBlocks& blocks, const DecodeOptions& options,
                       const ChainSettings& settings, int clickPosition, bool lookAhead = true);

struct BestSegment {
  int firstBlock = 0;
  int endBlock = 0;  // one past the last
  int winner = 0;    // index into the chains
  std::vector<double> scores;
  std::string text;  // the winner's text of this segment
};

struct BestReading {
  std::string text;  // Windows-1252
  // The soft decoder's reading of the whole recording (ReadBest only), and whether it was
  // taken for `text` over the segments' assembled text (then `assembled` holds that).
  std::string softText;
  double softSnrDb = -99.0;  // the soft decoder's median SNR while it heard the signal
  bool softTaken = false;
  std::string assembled;
  std::vector<ChainReading> chains;
  std::vector<BestSegment> segments;
  int clickPosition = 0;
};

// The whole --best decode of `blocks` on up to `threads` threads (1: on the caller's).
BestReading DecodeBest(const CaptureBlocks& blocks, const DecodeOptions& options, int threads);

// The soft decoder reads the whole recording as one more candidate. Its text is not cut
// into the chains' segments (it keeps no block times); it is weighed against the assembled
// text as a whole, by the text model: taken when its whole score is higher by
// kSoftMarginNats or kSoftMarginShare of the assembled score (whichever is more) and it
// reads no worse per character. Where the chains already read well, the two texts score
// alike and the chains' text stays.
inline constexpr double kSoftMarginNats = 5.0;
inline constexpr double kSoftMarginShare = 0.15;
// Below this SNR (key-down over the noise in 500 Hz, the soft decoder's median over the
// seconds it heard the signal) the chains read a character in ten or worse and the soft
// reading is taken whenever it read anything: the text model cannot weigh a chain's noise
// against, say, random groups read right.
inline constexpr double kSoftAlwaysBelowDb = 8.0;
struct WholeTextScore {
  double score = 0.0;  // Plausibility::Score of the whole text
  int characters = 0;  // non-blank characters
  double PerChar() const { return characters > 0 ? score / characters : 0.0; }
};
WholeTextScore ScoreWholeText(const std::string& text);
bool SoftReadsBetter(const std::string& assembled, const std::string& soft);

// DecodeBest on a recording's interleaved frames (`channels` 1 or 2), then the soft
// decoder on the same frames, tuned where the chains were; `text` is what --best prints.
BestReading ReadBest(const std::vector<int16_t>& frames, int channels, const DecodeOptions& options,
                     int threads);

// Segments [first, end) cut at block boundaries where as few chains as possible are in
// the middle of a word, each between kMinSegmentBlocks and kMaxSegmentBlocks long (the
// last may be shorter).
inline constexpr int kMinSegmentBlocks = 4;   // 0.7 s
inline constexpr int kMaxSegmentBlocks = 40;  // 7.4 s
std::vector<std::pair<int, int>> CutSegments(const std::vector<ChainReading>& chains,
                                             int blockCount);

// Runs kestrix-decode --best on options.input; the same output and exit codes as RunDecode.
// --trace writes one row per segment naming the chain that won it.
int RunBestDecode(const DecodeOptions& options, std::ostream& out, std::string& error);

}  // namespace kestrix
