#include <gtest/gtest.h>

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fake_line.h"
#include "line_reader.h"
#include "transmit/key_mask.h"
#include "transmit/line_latency.h"
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

// Edge-to-edge intervals of "TEST" at 40 wpm. Edges: T 0-1, E 2-3, S 4-9, T 10-11; so
// interval 3 is the gap before S and interval 4 its first dot.
std::vector<int64_t> Intervals(const std::vector<LineEdge>& edges) {
  std::vector<int64_t> out;
  for (size_t i = 1; i < edges.size(); ++i) out.push_back(edges[i].atMs - edges[i - 1].atMs);
  return out;
}

TEST(PortKeyer, LineCostsAndLateEdgesNeverShortenAnElement) {
  struct Case {
    const char* name;
    int64_t callMs;      // every line call's cost
    size_t stalledCall;  // this call costs stallMs more
    int64_t stallMs;
    int64_t oversleepMs;                              // the first wait in S wakes this late
    int64_t pauseMs;                                  // the sender pauses before S
    std::vector<std::pair<size_t, int64_t>> changed;  // interval, ms longer than ideal
  };
  const Case cases[] = {
      {"1 ms per call shifts every edge alike", 1, SIZE_MAX, 0, 0, 0, {}},
      {"3 ms per call, over the bound, too", 3, SIZE_MAX, 0, 0, 0, {}},
      {"a call stalled 10 ms moves the schedule", 1, 5, 10, 0, 0, {{4, 10}}},
      {"a wake-up 10 ms late moves it too", 1, SIZE_MAX, 0, 10, 0, {{4, 10}}},
      {"1 ms late is jitter, given back at once", 0, 5, 1, 0, 0, {{4, 1}, {5, -1}}},
      {"a pause between characters starts afresh", 1, SIZE_MAX, 0, 0, 500, {{3, 500}}},
  };
  PortRig ideal(40);
  ideal.Send("TEST");
  const std::vector<int64_t> idealIntervals = Intervals(ideal.line.Edges());
  ASSERT_EQ(idealIntervals.size(), 11u);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    PortRig rig(40);
    rig.line.SetCallCost(c.callMs, c.stalledCall, c.stallMs);
    rig.Send("TE");
    rig.clock.Advance(c.pauseMs);
    if (c.oversleepMs > 0) rig.clock.OversleepOnce(c.oversleepMs);
    rig.Send("ST");
    std::vector<int64_t> want = idealIntervals;
    for (const auto& [interval, ms] : c.changed) want[interval] += ms;
    EXPECT_EQ(Intervals(rig.line.Edges()), want) << rig.line.Describe();
    EXPECT_EQ(rig.line.Edges().back().state, kKeyUp);
  }
}

TEST(LineLatency, MedianAndWorstOfTheCalls) {
  struct Case {
    std::vector<int64_t> us;
    int64_t median, worst;
  };
  const Case cases[] = {
      {{}, 0, 0},
      {{30, 10, 20}, 20, 30},
      {{1004, 1007, 1013, 1001, 12345}, 1000, 12345},  // 10 µs steps above 1 ms
      {{250000, 250000, 40}, 100000, 250000},          // all beyond 100 ms in one bin
  };
  for (const Case& c : cases) {
    LatencyHistogram h;
    for (int64_t us : c.us) h.Add(us);
    EXPECT_EQ(h.Count(), static_cast<int64_t>(c.us.size()));
    EXPECT_EQ(h.MedianUs(), c.median);
    EXPECT_EQ(h.WorstUs(), c.worst);
  }
  // On a line whose calls take 1 ms, one of them 10 ms more.
  FakeClock clock;
  FakeKeyLine line(clock);
  line.SetCallCost(1, 2, 10);
  TimedKeyLine timed(line, clock);
  for (int i = 0; i < 6; ++i) timed.SetKeyLine(i % 2 == 0 ? kKeyDown : kKeyUp);
  const TimedKeyLine::Summary s = timed.Latency();
  EXPECT_EQ(s.calls, 6);
  EXPECT_EQ(s.medianUs, 1000);
  EXPECT_EQ(s.worstUs, 11000);
  EXPECT_EQ(line.Edges().back().state, kKeyUp);
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
