#include <gtest/gtest.h>

#include <string>

#include "fake_line.h"
#include "line_reader.h"
#include "transmit/key_mask.h"
#include "transmit/port_keyer.h"

namespace kestrix::transmit {
namespace {

using test::FakeClock;
using test::FakeKeyLine;
using test::LineEdge;

struct PortRig {
  explicit PortRig(int wpm, TimingRatios ratios = {}) { ComputeElementTiming(timing, wpm, ratios); }
  void Send(std::string_view text) {
    for (char c : text) keyer.SendCharToPort(static_cast<uint8_t>(c));
  }
  ElementTiming timing;
  FakeClock clock;
  FakeKeyLine line{clock};
  std::atomic<uint8_t> keyState{0};
  PortKeyer keyer{SendTable(), timing, line, clock, keyState};
};

TEST(PortKeyer, LetterEAtTwentyWpm) {
  PortRig rig(20);
  rig.keyer.SendCharToPort('E');
  const std::vector<LineEdge> want = {{0, kKeyDown}, {54, kKeyUp}};
  EXPECT_EQ(rig.line.Edges(), want);
  EXPECT_EQ(rig.clock.NowMs(), 54 + 54 + 108) << "element space, then the character space";
  EXPECT_EQ(rig.keyState.load(), kKeyUp);
}

TEST(PortKeyer, DashesSpacesAndRatios) {
  PortRig rig(25, {100, 150, 100, 100});
  rig.keyer.SendCharToPort('t');
  EXPECT_EQ(rig.line.Edges(), (std::vector<LineEdge>{{0, kKeyDown}, {193, kKeyUp}}));
  const int64_t afterT = rig.clock.NowMs();
  EXPECT_EQ(afterT, 193 + 43 + 86);
  rig.keyer.SendCharToPort(' ');
  EXPECT_EQ(rig.clock.NowMs() - afterT, 258) << "a space adds the word space only";
  EXPECT_EQ(rig.line.Edges().size(), 2u);
}

TEST(PortKeyer, EmptyEntriesSendNothingAndTakeNoTime) {
  PortRig rig(20);
  for (int code : {1, 9, 17, 35, 128, 255}) rig.keyer.SendCharToPort(static_cast<uint8_t>(code));
  EXPECT_TRUE(rig.line.Edges().empty());
  EXPECT_EQ(rig.clock.NowMs(), 0);
}

TEST(PortKeyer, HighCodesIndexAsUnsigned) {
  PortRig rig(20);
  rig.keyer.SendCharToPort(static_cast<uint8_t>(237));  // eight dots
  EXPECT_EQ(rig.line.Edges().size(), 16u);
  EXPECT_EQ(rig.clock.NowMs(), 8 * 108 + 108);
}

TEST(PortKeyer, TextReadsBackAndCaseDoesNotMatter) {
  PortRig rig(30);
  rig.Send("cq TEST de K1ABC?");
  EXPECT_EQ(test::ReadLine(rig.line.Edges(), 36), "CQ TEST DE K1ABC?");
}

TEST(PortKeyer, SpeedChangeTakesEffectAtTheNextSymbol) {
  // A keyer thread reads the record per symbol; changing it between two characters is
  // the simplest observable case.
  PortRig rig(20);
  rig.keyer.SendCharToPort('E');
  ComputeElementTiming(rig.timing, 40, TimingRatios{});
  rig.keyer.SendCharToPort('E');
  const auto e = rig.line.Edges();
  ASSERT_EQ(e.size(), 4u);
  EXPECT_EQ(e[3].atMs - e[2].atMs, 27);
}

TEST(PortKeyer, NegativeDurationsFromAHostileSettingsFileDoNotBlock) {
  PortRig rig(20, {-100, -100, -100, -100});
  rig.Send("HELLO");
  EXPECT_EQ(rig.clock.NowMs(), 54 * 16) << "only the element spaces take time";
}

TEST(KeyMask, LetterEAtTwentyWpmWithAndWithoutSideTone) {
  const ElementTimingValues t = ComputeElementTimingValues(20, TimingRatios{});
  for (bool tone : {true, false}) {
    KeyMask mask;
    BuildKeyMask('E', SendTable(), t, tone, mask);
    ASSERT_EQ(mask.Count(), 2376 + 7128);
    int ones = 0, firstZero = -1;
    for (int i = 0; i < mask.Count(); ++i) {
      ones += mask.Data()[i];
      if (mask.Data()[i] == 0 && firstZero < 0) firstZero = i;
    }
    EXPECT_EQ(ones, tone ? 2376 : 0);
    EXPECT_EQ(firstZero, tone ? 2376 : 0);
  }
}

TEST(KeyMask, SizingPassMatchesWhatIsBuilt) {
  const ElementTimingValues t = ComputeElementTimingValues(33, {120, 170, 90, 60});
  for (int code = 0; code < 256; ++code) {
    KeyMask mask;
    BuildKeyMask(static_cast<uint8_t>(code), SendTable(), t, true, mask);
    ASSERT_EQ(KeyMaskSamples(static_cast<uint8_t>(code), SendTable(), t), mask.Count()) << code;
  }
}

TEST(KeyMask, AppendsCharactersInOrderAndNeverOverruns) {
  const ElementTimingValues t = ComputeElementTimingValues(5, TimingRatios{});
  KeyMask mask;
  BuildKeyMask('T', SendTable(), t, true, mask);
  BuildKeyMask('E', SendTable(), t, true, mask);
  const int32_t tLen = 3 * 218 * 44 + 3 * 218 * 44;
  EXPECT_EQ(mask.Count(), tLen + 4 * 218 * 44);
  EXPECT_EQ(mask.Data()[tLen], 1) << "E starts right after T's silence";
  EXPECT_EQ(mask.Data()[tLen - 1], 0);
  // Far more than fits: the mask stops at its size.
  for (int i = 0; i < 200; ++i) BuildKeyMask('0', SendTable(), t, true, mask);
  EXPECT_EQ(mask.Count(), kKeyMaskSamples);
}

}  // namespace
}  // namespace kestrix::transmit
