// Tuning to a tone without a click: the spectrum position of a frequency, and the strongest
// tone of the first blocks of a recording. Used by kestrix-decode (file, --best and live)
// and by the window when it plays a recording.
#pragma once

#include <cstdint>
#include <vector>

#include "receive/capture_blocks.h"
#include "receive/spectrum.h"

namespace kestrix {

// Blocks looked at before processing starts, to find the tone by itself (5.9 s).
inline constexpr int kAutoTuneBlocks = 32;

// Spectrum-click x position for a tone frequency: the bin whose centre is nearest.
int ToneClickPosition(double hz);

// Finding the tone by itself (kestrix-decode --tone auto, the window with a recording): the
// peak of the spectra of the first blocks summed, where a keyed tone adds up and noise
// averages out.
class ToneFinder {
 public:
  // `blocks`: how many blocks will be added (each adds its share of the mean).
  explicit ToneFinder(int blocks);
  // One block of kBlockFrames samples of the chosen channel (as SampleBlock holds them).
  void Add(const int32_t* samples);
  int Blocks() const { return blocks_; }
  // The click position for the strongest tone, 0 when nothing stands out.
  int ClickPosition() const;

 private:
  SpectrumAnalyzer analyzer_;
  PowerSpectrumArray one_;
  PowerSpectrumArray sum_;
  std::vector<int32_t> half_;
  float expected_;
  int blocks_ = 0;
};

// The click position for the strongest tone of the first kAutoTuneBlocks capture blocks
// (all of them when there are fewer), each read as the receiver reads `channel`; 0 when
// nothing stands out.
int FindTone(const std::vector<CaptureBlock>& blocks, ChannelMode channel);
// The same for the opening `count` frames of a recording (`channels` 1 or 2), heard as a
// mono capture hears them.
int FindTone(const int16_t* frames, size_t count, int channels);

}  // namespace kestrix
