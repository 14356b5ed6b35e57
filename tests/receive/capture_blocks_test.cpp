#include "receive/capture_blocks.h"

#include <gtest/gtest.h>

#include <vector>

namespace kestrix {
namespace {

int16_t SampleAt(const CaptureBlock& b, size_t i) {
  return static_cast<int16_t>(static_cast<uint16_t>(b[2 * i] | (b[2 * i + 1] << 8)));
}

TEST(CaptureBlockPacker, MonoCaptureHearsTheMeanOfAStereoSourceAndStereoKeepsBoth) {
  const std::vector<int16_t> stereo = {1000, -3001, -32768, -32768, 7, 8};
  std::vector<CaptureBlock> mono, both;
  CaptureBlockPacker m(1), s(2);
  m.Feed(stereo.data(), 3, 2, [&](const CaptureBlock& b) { mono.push_back(b); });
  m.Finish(0, [&](const CaptureBlock& b) { mono.push_back(b); });
  s.Feed(stereo.data(), 3, 2, [&](const CaptureBlock& b) { both.push_back(b); });
  s.Finish(0, [&](const CaptureBlock& b) { both.push_back(b); });
  ASSERT_EQ(mono.size(), 1u);
  ASSERT_EQ(mono[0].size(), size_t{kBlockFrames} * 2);
  EXPECT_EQ(SampleAt(mono[0], 0), -1000);  // (1000 - 3001) / 2, towards zero
  EXPECT_EQ(SampleAt(mono[0], 1), -32768);
  EXPECT_EQ(SampleAt(mono[0], 2), 7);
  EXPECT_EQ(SampleAt(mono[0], 3), 0) << "the partial block is completed with silence";
  ASSERT_EQ(both.size(), 1u);
  ASSERT_EQ(both[0].size(), size_t{kBlockFrames} * 4);
  EXPECT_EQ(SampleAt(both[0], 1), -3001);
  EXPECT_EQ(SampleAt(both[0], 5), 8);

  // A mono source on a stereo capture goes to both channels.
  const int16_t one = 123;
  CaptureBlockPacker t(2);
  std::vector<CaptureBlock> dup;
  t.Feed(&one, 1, 1, [](const CaptureBlock&) {});
  t.Finish(0, [&](const CaptureBlock& b) { dup.push_back(b); });
  ASSERT_EQ(dup.size(), 1u);
  EXPECT_EQ(SampleAt(dup[0], 0), 123);
  EXPECT_EQ(SampleAt(dup[0], 1), 123);
}

TEST(CaptureBlockPacker, FlushSilenceCountsTheCompletionOfThePartialBlock) {
  const struct {
    size_t frames;
    int flush;
    size_t blocks;
  } cases[] = {
      {0, 0, 0},                     // nothing in, nothing out
      {size_t{kBlockFrames}, 0, 1},  // a whole block and no flush
      {10, 0, 1},                    // the partial block alone
      {10, kBlockFrames - 10, 1},    // the flush fits in the partial block
      {10, kBlockFrames - 9, 2},     // one frame more takes another block
      {0, 1, 1},                     // flush alone: at least one block
      {0, 3 * kBlockFrames, 3},
  };
  for (const auto& c : cases) {
    const std::vector<int16_t> in(c.frames, 1);
    CaptureBlockPacker p(1);
    size_t blocks = 0;
    p.Feed(in.data(), in.size(), 1, [&](const CaptureBlock&) { ++blocks; });
    p.Finish(c.flush, [&](const CaptureBlock&) { ++blocks; });
    EXPECT_EQ(blocks, c.blocks) << c.frames << " frames, flush " << c.flush;
  }
}

}  // namespace
}  // namespace kestrix
