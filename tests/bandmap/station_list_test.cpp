// The station list: rows per call sorted by frequency, updates, expiry, the labels' fading
// and the frequency column's text.
#include "bandmap/station_list.h"

#include <gtest/gtest.h>

namespace kestrix::bandmap {
namespace {

StationRow Row(const char* call, double hz, bool cq, double heard, uint64_t signal = 1) {
  StationRow r;
  r.signal = signal;
  r.call = call;
  r.audioHz = hz;
  r.cq = cq;
  r.lastHeard = heard;
  r.snrDb = 12;
  r.wpm = 25;
  return r;
}

TEST(StationList, OneRowPerCallSortedByFrequency) {
  StationList list;
  list.Heard(Row("K1ABC", 1200, true, 100));
  list.Heard(Row("DL2XYZ", 600, false, 101));
  list.Heard(Row("W9XG", 1800, true, 102));
  list.Heard(Row("K1ABC", 1210, true, 103));  // heard again, moved a little
  const auto rows = list.Rows();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0].call, "DL2XYZ");
  EXPECT_EQ(rows[1].call, "K1ABC");
  EXPECT_EQ(rows[1].audioHz, 1210);
  EXPECT_EQ(rows[1].lastHeard, 103);
  EXPECT_EQ(rows[2].call, "W9XG");
}

TEST(StationList, KeyingKeepsAStationFreshAndQuietOnesExpire) {
  StationList list(FadeRule{15, 105, 600});
  list.Heard(Row("K1ABC", 1200, true, 0, 1));
  list.Heard(Row("W9XG", 800, true, 0, 2));
  list.StillHeard("K1ABC", 1, 1195, 0, 500);   // wpm 0: unknown, kept
  list.StillHeard("NOBODY", 3, 900, 20, 500);  // no row: nothing made up
  list.StillHeard("W9XG", 2, 800, 30, -5);     // older than known: time kept
  list.StillHeard("W9XG", 4, 1500, 8, 550);    // another trace that read it: ignored
  EXPECT_EQ(list.Find("W9XG")->lastHeard, 0);
  EXPECT_EQ(list.Find("W9XG")->audioHz, 800);
  EXPECT_EQ(list.Find("W9XG")->wpm, 30);
  EXPECT_EQ(list.Find("K1ABC")->wpm, 25);
  list.Expire(601);
  ASSERT_EQ(list.Size(), 1u);
  EXPECT_EQ(list.Find("K1ABC")->audioHz, 1195);
  EXPECT_EQ(list.Find("NOBODY"), nullptr);
}

TEST(StationList, LabelsHoldThenFadeToNothing) {
  const FadeRule rule{10, 100, 600};
  const struct {
    double quietS, opacity;
  } cases[] = {{-1, 1}, {0, 1}, {10, 1}, {60, 0.5}, {110, 0}, {1000, 0}};
  for (const auto& c : cases) EXPECT_DOUBLE_EQ(LabelOpacity(c.quietS, rule), c.opacity) << c.quietS;
}

TEST(StationList, FrequencyIsKilohertzWithADialAndAudioHertzWithout) {
  const double none = std::nan("");
  EXPECT_EQ(FrequencyText(1191.1, 7030000, false), "7031.19");
  EXPECT_EQ(FrequencyText(1191.1, 7030000, true), "7028.81");
  EXPECT_EQ(FrequencyText(1191.4, none, false), "1191 Hz");
  EXPECT_TRUE(std::isnan(RfHz(500, none, false)));
  EXPECT_EQ(RfHz(500, 14000000, false), 14000500);
  EXPECT_EQ(UtcClockText(86400.0 * 20000 + 3600 * 22 + 60 * 59 + 7.9), "22:59:07");
}

}  // namespace
}  // namespace kestrix::bandmap
