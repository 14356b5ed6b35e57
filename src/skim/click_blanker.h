// Key clicks out of the channel bank's frames before the per-signal filters see them.
//
// A hard-keyed strong station throws a short wideband pulse at every key edge. Behind a
// channel's narrow filter a neighbour's decoder sees each pulse as a dit, and hundreds of
// hertz from the clicker the pulses outweigh a weak station: the decoder adapts to them and
// reads the clicker's keying at 60 WPM. In the bank's channels, before that narrowing, a
// click lasts a sample or two, shorter than any element of a keyed carrier, and there it
// is cut out with little loss to the station under it.
//
// Per channel: a sample whose power stands `impulseRatio` over both samples two frames
// before and after it (so not a keying edge, not an element: those last longer) and
// `levelRatio` over the channel's running median power is a click, and it and the samples
// beside it are set to zero. Frames come out kDelay frames after they went in.
//
// Memory is taken at construction; Push does not allocate. One thread at a time.
#pragma once

#include <complex>
#include <cstddef>
#include <cstdint>
#include <vector>

namespace kestrix::skim {

struct ClickBlankerConfig {
  float impulseRatio = 5.0f;  // over the samples +-2 frames away
  float levelRatio = 5.0f;    // over the channel's median power
};

class ClickBlanker {
 public:
  static constexpr int kDelay = 3;  // frames between Push and the frame it returns

  ClickBlanker(int channels, const ClickBlankerConfig& config = {});

  // Takes one frame of `Channels()` values; returns the frame kDelay frames older with its
  // clicks cut out, or nullptr while the first kDelay frames fill the delay.
  const std::complex<float>* Push(const std::complex<float>* frame);
  int Channels() const { return m_; }
  // Samples cut out so far, over all channels.
  uint64_t Blanked() const { return blanked_; }
  void Reset();

 private:
  static constexpr int kRing = 5;  // frames held: the one judged and two either side
  int m_;
  ClickBlankerConfig config_;
  std::vector<std::complex<float>> frames_;  // ring of kRing frames
  std::vector<float> power_;                 // their powers
  std::vector<uint8_t> cut_;                 // samples to cut, per frame of the ring
  std::vector<float> median_;                // running median power per channel
  int64_t pushed_ = 0;
  uint64_t blanked_ = 0;
};

}  // namespace kestrix::skim
