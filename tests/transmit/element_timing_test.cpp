#include "transmit/element_timing.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "transmit/morse_send_table.h"

namespace kestrix::transmit {
namespace {

TEST(ElementTiming, UnitIsTwelveThousandOverElevenWpmAtEverySpeed) {
  for (int wpm = kMinTransmitWpm; wpm <= kMaxTransmitWpm; ++wpm) {
    const ElementTimingValues t = ComputeElementTimingValues(wpm, TimingRatios{});
    ASSERT_EQ(t.UnitMs, 12000 / (11 * wpm)) << wpm << " wpm";
    EXPECT_EQ(t.ElementSpaceMs, t.UnitMs);
    EXPECT_EQ(t.DotMs, t.UnitMs);
    EXPECT_EQ(t.DashMs, 3 * t.UnitMs);
    EXPECT_EQ(t.CharSpaceMs, 2 * t.UnitMs);
    EXPECT_EQ(t.WordSpaceMs, 6 * t.UnitMs);
    EXPECT_EQ(t.DashSamples, 44 * t.DashMs);
    EXPECT_EQ(t.WordSpaceSamples, 44 * t.WordSpaceMs);
  }
}

TEST(ElementTiming, WholeNumberRatiosGiveTheFloorOfTheScaledLength) {
  // Every speed and every ratio the dialog can set.
  for (int wpm = kMinTransmitWpm; wpm <= kMaxTransmitWpm; ++wpm) {
    for (int r = 50; r <= 200; ++r) {
      const float f = static_cast<float>(r);
      const ElementTimingValues t = ComputeElementTimingValues(wpm, {f, f, f, f});
      const int u = 12000 / (11 * wpm);
      ASSERT_EQ(t.DotMs, u * r / 100) << wpm << " " << r;
      ASSERT_EQ(t.DashMs, 3 * u * r / 100) << wpm << " " << r;
      ASSERT_EQ(t.CharSpaceMs, 2 * u * r / 100) << wpm << " " << r;
      ASSERT_EQ(t.WordSpaceMs, 6 * u * r / 100) << wpm << " " << r;
      ASSERT_EQ(t.ElementSpaceMs, u) << "no ratio applies to the element space";
    }
  }
}

TEST(ElementTiming, KnownValues) {
  const ElementTimingValues t20 = ComputeElementTimingValues(20, TimingRatios{});
  EXPECT_EQ(t20.DotMs, 54);
  EXPECT_EQ(t20.DashMs, 162);
  EXPECT_EQ(t20.CharSpaceMs, 108);
  EXPECT_EQ(t20.WordSpaceMs, 324);
  EXPECT_EQ(t20.DotSamples, 2376);
  // 25 wpm with the dash at 150 %: 129 × 1.5 = 193.5, truncated.
  EXPECT_EQ(ComputeElementTimingValues(25, {100, 150, 100, 100}).DashMs, 193);
  // A fractional ratio from a settings file is used as it is.
  EXPECT_EQ(ComputeElementTimingValues(20, {100.5f, 100, 100, 100}).DotMs, 54);
  EXPECT_EQ(ComputeElementTimingValues(20, {150.9f, 100, 100, 100}).DotMs, 81);
  // 100 wpm at the lowest ratio keeps every key-down at 5 ms or more.
  EXPECT_EQ(ComputeElementTimingValues(100, {50, 50, 50, 50}).DotMs, 5);
}

TEST(ElementTiming, HostileRatiosSaturateInsteadOfOverflowing) {
  const float inf = std::numeric_limits<float>::infinity();
  const ElementTimingValues t = ComputeElementTimingValues(20, {std::nanf(""), inf, -1e30f, 1e30f});
  EXPECT_EQ(t.DotMs, 0);
  EXPECT_EQ(t.DashMs, 0);
  EXPECT_LT(t.CharSpaceMs, 0);
  EXPECT_EQ(t.WordSpaceMs, 2147483647);
  EXPECT_EQ(t.WordSpaceSamples, 2147483647);
}

TEST(ElementTiming, SharedRecordStartsAtTwentyFiveWpmAndStoresWhole) {
  ElementTiming timing;
  EXPECT_EQ(timing.Load(), ComputeElementTimingValues(25, TimingRatios{}));
  ComputeElementTiming(timing, 40, {100, 150, 100, 100});
  EXPECT_EQ(timing.Load(), ComputeElementTimingValues(40, {100, 150, 100, 100}));
  EXPECT_EQ(timing.UnitMs.load(), 27);
}

TEST(MorseSendTable, PatternsOfLettersDigitsAndListedCodes) {
  const MorseSendTable& t = SendTable();
  EXPECT_EQ(t.Pattern('A'), ".-*");
  EXPECT_EQ(t.Pattern('q'), "--.-*");
  EXPECT_EQ(t.Pattern('0'), "-----*");
  EXPECT_EQ(t.Pattern('9'), "----.*");
  for (int c = 'A'; c <= 'Z'; ++c) EXPECT_EQ(t.Pattern(c), t.Pattern(c + 32)) << char(c);
  // Word spaces, punctuation and their virtual-key twins.
  for (int c : {0, 32, 186, 219, 220, 221, 222}) EXPECT_EQ(t.Pattern(c), "^") << c;
  const std::pair<int, int> twins[] = {{44, 188}, {45, 189}, {46, 190},
                                       {47, 191}, {61, 187}, {63, 192}};
  for (auto [a, b] : twins) EXPECT_EQ(t.Pattern(a), t.Pattern(b)) << a << "/" << b;
  EXPECT_EQ(t.Pattern(64), ".--.-.*");
  EXPECT_EQ(t.Pattern(237), "........*");
  EXPECT_EQ(t.Pattern(239), "-.-.--.-*");
  // Unlisted codes are empty: all twelve bytes newline.
  for (int c : {1, 35, 127, 128, 200, 255}) {
    EXPECT_EQ(t.Pattern(c), "") << c;
    for (uint8_t b : t.Entry(c)) EXPECT_EQ(b, kEntryEnd);
  }
  // Every listed entry keeps its newline within the twelve bytes.
  for (int c = 0; c < 256; ++c) EXPECT_LT(t.Pattern(c).size(), size_t{kSendEntryBytes}) << c;
}

}  // namespace
}  // namespace kestrix::transmit
