#include "skim/cluster_command.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

namespace kestrix::skim {
namespace {

using Kind = ClusterCommand::Kind;

TEST(ClusterCommand, ParseTable) {
  const struct {
    const char* line;
    Kind kind;
    int count;
    const char* call;
    bool on;
  } cases[] = {
      {"sh/dx", Kind::ShowDx, kDefaultShowDx, "", true},
      {"SH/DX 5", Kind::ShowDx, 5, "", true},
      {"show/dx 20", Kind::ShowDx, 20, "", true},
      {"sho/dx/3", Kind::ShowDx, 3, "", true},
      {"sh/dx k7gt", Kind::ShowDx, kDefaultShowDx, "K7GT", true},
      {"sh/dx 2 dl", Kind::ShowDx, 2, "DL", true},
      {"sh/dx 0", Kind::ShowDx, 1, "", true},
      {"sh/dx 99999999999999", Kind::ShowDx, kMaxShowDx, "", true},
      {"  sh/dx\t7  ", Kind::ShowDx, 7, "", true},
      {"set/skimmer", Kind::SetSpots, kDefaultShowDx, "", true},
      {"unset/skimmer", Kind::SetSpots, kDefaultShowDx, "", false},
      {"set/noskimmer", Kind::SetSpots, kDefaultShowDx, "", false},
      {"SET/NOBEACON", Kind::SetBeacons, kDefaultShowDx, "", false},
      {"set/beacon", Kind::SetBeacons, kDefaultShowDx, "", true},
      {"unset/beacon", Kind::SetBeacons, kDefaultShowDx, "", false},
      {"unset/nobeacon", Kind::SetBeacons, kDefaultShowDx, "", true},
      {"set/raw", Kind::Raw, kDefaultShowDx, "", true},
      {"unset/raw", Kind::Raw, kDefaultShowDx, "", false},
      {"set/page 0", Kind::OtherSetting, kDefaultShowDx, "", true},
      {"unset/echo", Kind::OtherSetting, kDefaultShowDx, "", false},
      {"set/", Kind::Unknown, kDefaultShowDx, "", true},
      {"sh/wwv", Kind::Unknown, kDefaultShowDx, "", true},
      {"dx 14025 k1abc", Kind::Unknown, kDefaultShowDx, "", true},
      {"shdx", Kind::Unknown, kDefaultShowDx, "", true},
      {"", Kind::Unknown, kDefaultShowDx, "", true},
  };
  for (const auto& c : cases) {
    const ClusterCommand cmd = ParseClusterCommand(c.line);
    EXPECT_EQ(cmd.kind, c.kind) << c.line;
    EXPECT_EQ(cmd.count, c.count) << c.line;
    EXPECT_EQ(cmd.call, c.call) << c.line;
    EXPECT_EQ(cmd.on, c.on) << c.line;
  }
}

std::string Line(const char* call, SpotKind kind) {
  return FormatSpotLine({"W9XG", 14025.0, call, 10, 25, kind, 0});
}

// A session: each command changes the settings and is answered with whole lines; sh/dx
// picks the newest spots the client wants and writes them oldest first.
TEST(ClusterCommand, SessionAnswersAndFilters) {
  std::deque<PublishedSpot> history;
  const char* calls[] = {"K1ABC", "W1AW/B", "K7GT", "DL1XX", "K7ZZ", "OH2AB"};
  for (const char* call : calls) {
    const SpotKind kind = std::string(call).ends_with("/B") ? SpotKind::Beacon : SpotKind::Cq;
    history.push_back({Line(call, kind), kind});
  }
  const std::string all = history[0].line + "\r\n" + history[1].line + "\r\n" + history[2].line +
                          "\r\n" + history[3].line + "\r\n" + history[4].line + "\r\n" +
                          history[5].line + "\r\n";
  ClusterClientSettings settings;
  const struct {
    const char* command;
    std::string answer;
    bool spots;
    bool beacons;
  } steps[] = {
      {"sh/dx 2", history[4].line + "\r\n" + history[5].line + "\r\n", true, true},
      {"sh/dx", all, true, true},
      {"sh/dx k7", history[2].line + "\r\n" + history[4].line + "\r\n", true, true},
      {"sh/dx 1 k7", history[4].line + "\r\n", true, true},
      {"sh/dx JA", "No spots of JA.\r\n", true, true},
      {"set/nobeacon", "Beacon spots off.\r\n", true, false},
      {"sh/dx 5",
       history[0].line + "\r\n" + all.substr(history[0].line.size() + history[1].line.size() + 4),
       true, false},  // the five newest without the beacon
      {"unset/skimmer", "Skimmer spots off.\r\n", false, false},
      {"set/skimmer", "Skimmer spots on.\r\n", true, false},
      {"set/beacon", "Beacon spots on.\r\n", true, true},
      {"set/raw", "Spot lines are all this skimmer sends.\r\n", true, true},
      {"set/width 80", "set/width: nothing to set on a skimmer.\r\n", true, true},
      {"hello there", "Unknown command: hello there\r\n", true, true},
  };
  for (const auto& s : steps) {
    EXPECT_EQ(AnswerClusterCommand(s.command, settings, history), s.answer) << s.command;
    EXPECT_EQ(settings.spots, s.spots) << s.command;
    EXPECT_EQ(settings.beacons, s.beacons) << s.command;
  }
  EXPECT_EQ(AnswerClusterCommand("sh/dx", settings, {}), "No spots.\r\n");
}

}  // namespace
}  // namespace kestrix::skim
