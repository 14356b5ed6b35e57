#include "receive/tone_finder.h"

#include <algorithm>
#include <cmath>

#include "receive/capture_format.h"
#include "receive/tone.h"

namespace kestrix {

int ToneClickPosition(double hz) {
  return static_cast<int>(std::lround(hz / kBinHz)) + 1;
}

ToneFinder::ToneFinder(int blocks) : half_(kBlockFrames), expected_(static_cast<float>(blocks)) {}

void ToneFinder::Add(const int32_t* samples) {
  for (int i = 0; i < kSpectrumSize; ++i) {
    half_[static_cast<size_t>(i)] = (samples[2 * i] + samples[2 * i + 1]) / 2;
  }
  analyzer_.WindowedPowerSpectrum(half_.data(), one_);
  ++blocks_;
  for (int j = 1; j <= kSpectrumBins; ++j) sum_[j] += one_[j] / expected_;
}

int ToneFinder::ClickPosition() const {
  if (blocks_ == 0) return 0;
  int64_t sum3 = 0;
  const double hz = CalcPeakFrequency(sum_, sum3, kSpectrumSize, 22050, 423);
  if (hz > 0.0 && sum3 > 100) return ToneClickPosition(hz);
  return 0;
}

int FindTone(const std::vector<CaptureBlock>& blocks, ChannelMode channel) {
  const int n = std::min<int>(kAutoTuneBlocks, static_cast<int>(blocks.size()));
  ToneFinder finder(n);
  std::vector<int32_t> samples(kBlockFrames);
  for (int i = 0; i < n; ++i) {
    ConvertSamples(blocks[static_cast<size_t>(i)].data(), channel, kBlockFrames, samples.data());
    finder.Add(samples.data());
  }
  return finder.ClickPosition();
}

int FindTone(const int16_t* frames, size_t count, int channels) {
  CaptureBlockPacker packer(1);
  std::vector<CaptureBlock> blocks;
  auto keep = [&blocks](const CaptureBlock& block) {
    if (blocks.size() < static_cast<size_t>(kAutoTuneBlocks)) blocks.push_back(block);
  };
  packer.Feed(frames, count, channels, keep);
  packer.Finish(0, keep);
  return FindTone(blocks, ChannelMode::kMic);
}

}  // namespace kestrix
