// The call extractor and spot rule on whole band scenes, with the decoder replaced by the
// scene's own text: each channel "hears" the transmissions of every station within its
// width, in time order, optionally with characters garbled. This measures what the call
// stage alone can promise: no busted calls, no callers typed CQ, every runner found.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <random>
#include <string>
#include <vector>

#include "signalgen/band_scene.h"
#include "skim/call_extractor.h"
#include "skim/spot.h"

namespace kestrix::skim {
namespace {

using signalgen::BandScenePlan;
using signalgen::SceneStation;
using signalgen::StationRole;

struct Score {
  int spots = 0, right = 0, callersTypedCq = 0;
  int runners = 0, runnersFound = 0;
};

Score SkimScene(const BandScenePlan& plan, double channelHalfWidthHz, double errorRate,
                uint32_t seed) {
  CallBook book;
  SpotPolicy policy;
  std::mt19937 rng(seed);
  const std::string garble = "ETIANMSURWDKGO5H4V3F2L1PJ6B7X8C9YZQ0?";
  // One channel per station frequency (stations closer than 20 Hz share one).
  std::vector<double> channels;
  for (const SceneStation& s : plan.stations) {
    bool have = false;
    for (double c : channels) have = have || std::fabs(c - s.offsetHz) < 20;
    if (!have) channels.push_back(s.offsetHz);
  }
  std::map<std::string, std::pair<double, SpotKind>> spotted;  // call -> first spot
  for (double centre : channels) {
    struct Piece {
      double t;
      std::string text;
    };
    std::vector<Piece> heard;
    for (const SceneStation& s : plan.stations) {
      if (std::fabs(s.offsetHz - centre) > channelHalfWidthHz) continue;
      for (const auto& tx : s.sends) heard.push_back({tx.startS, tx.text});
    }
    std::sort(heard.begin(), heard.end(), [](const Piece& a, const Piece& b) { return a.t < b.t; });
    CallExtractor extractor(book);
    std::vector<CallReport> reports;
    for (Piece& p : heard) {
      for (char& c : p.text) {
        if (c != ' ' && std::uniform_real_distribution<double>(0, 1)(rng) < errorRate)
          c = garble[rng() % garble.size()];
      }
      extractor.Feed(p.text + " ", p.t);
    }
    extractor.Flush(plan.durationS);
    extractor.TakeReports(reports);
    for (const CallReport& r : reports) {
      if (policy.Offer(r.call, centre, r.kind, r.timeS, r.reads) && !spotted.count(r.call))
        spotted[r.call] = {centre, r.kind};
    }
  }
  Score score;
  for (const auto& [call, where] : spotted) {
    ++score.spots;
    for (const SceneStation& s : plan.stations) {
      if (s.call != call || std::fabs(s.offsetHz - where.first) > 150) continue;
      ++score.right;
      if (s.role != StationRole::Cq && s.role != StationRole::Beacon &&
          where.second == SpotKind::Cq)
        ++score.callersTypedCq;
    }
  }
  for (const SceneStation& s : plan.stations) {
    if ((s.role != StationRole::Cq && s.role != StationRole::Beacon) || s.callCount < 2) continue;
    ++score.runners;
    auto it = spotted.find(s.call);
    score.runnersFound += it != spotted.end() && std::fabs(it->second.first - s.offsetHz) <= 150;
  }
  return score;
}

TEST(SceneCalls, PrecisionAndRecallOnContestAndPlainScenes) {
  const struct {
    const char* name;
    bool contest;
    double errorRate;
    double minRecall;
  } cases[] = {
      {"contest, clean text", true, 0.0, 1.0},
      {"contest, 3% garbled characters", true, 0.03, 0.85},
      {"plain CQ, clean text", false, 0.0, 1.0},
      {"plain CQ, 3% garbled characters", false, 0.03, 0.85},
  };
  for (const auto& c : cases) {
    for (uint32_t seed : {1u, 2u, 3u}) {
      signalgen::SceneRecipe recipe;
      recipe.durationS = 300;
      recipe.runners = 30;
      recipe.ragchews = 4;
      recipe.beacons = 3;
      recipe.contest = c.contest;
      recipe.seed = seed;
      const BandScenePlan plan = signalgen::PlanScene(recipe);
      // Channels 60 Hz either side: callers within that of their runner are heard on its
      // channel too, the hard case for typing.
      const Score s = SkimScene(plan, 60, c.errorRate, seed);
      SCOPED_TRACE(std::string(c.name) + " seed " + std::to_string(seed));
      ASSERT_GT(s.spots, 0);
      EXPECT_GE(s.right * 100, s.spots * 99) << s.right << " of " << s.spots;
      EXPECT_EQ(s.callersTypedCq, 0);
      EXPECT_GE(s.runnersFound, c.minRecall * s.runners) << s.runnersFound << " of " << s.runners;
    }
  }
}

}  // namespace
}  // namespace kestrix::skim
