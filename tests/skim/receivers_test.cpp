// Several receivers in one process: one spot feed, each station spotted once, also the
// one both receivers hear where their bands overlap.
#include "skim/receivers.h"

#include <gtest/gtest.h>

#include <complex>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "iq_scene.h"
#include "skim/call_sign.h"
#include "skim/spot_feed.h"

namespace kestrix::skim {
namespace {

struct Collected final : SpotOutput {
  void OnSpot(const std::string&, const Spot& spot) override { spots.push_back(spot); }
  std::vector<Spot> spots;
};

testing::SceneStation Station(const char* call, double offsetHz, double startS) {
  testing::SceneStation s;
  s.offsetHz = offsetHz;
  s.snrDb = 20.0;
  s.wpm = 26.0;
  s.text = std::string("CQ CQ DE ") + call + " " + call + " K ";
  s.startS = startS;
  return s;
}

TEST(Receivers, TwoBandsOneFeedEveryStationOnce) {
  // Receiver A around 14040 kHz, B around 14060 kHz, each 48 kHz wide: 14036..14064 kHz
  // is in both, and OH2BH on 14050 kHz is in both scenes.
  const struct {
    double centreHz;
    std::vector<testing::SceneStation> stations;
    uint32_t seed;
  } bands[] = {
      {14040e3,
       {Station("K1ABC", 1000, 0.5), Station("W2XYZ", -5000, 1.0), Station("OH2BH", 10000, 0.7)},
       3},
      {14060e3, {Station("DL1ABC", 10000, 0.6), Station("OH2BH", -10000, 0.7)}, 5},
  };
  std::vector<std::vector<std::complex<float>>> samples;
  std::vector<std::unique_ptr<SampleSource>> sources;
  for (const auto& band : bands) {
    testing::Scene scene;
    scene.seconds = 20.0;
    scene.stations = band.stations;
    scene.seed = band.seed;
    samples.push_back(testing::MakeScene(scene));
    sources.push_back(MemorySource(reinterpret_cast<const float*>(samples.back().data()),
                                   samples.back().size(), scene.rate, true));
  }

  CallBook book;
  Collected out;
  SpotFeedConfig fc;
  fc.spotter = "W9XG";
  SpotFeed feed(book, fc, out, nullptr);
  ReceiverHub hub(feed);
  std::vector<std::unique_ptr<Skimmer>> skimmers;
  std::vector<ReceiverRun> runs(2);
  for (size_t i = 0; i < 2; ++i) {
    SkimmerConfig sc;
    sc.inputRate = 48000.0;
    sc.centreHz = bands[i].centreHz;
    sc.measure = false;
    skimmers.push_back(std::make_unique<Skimmer>(sc, hub.AddReceiver(0.0)));
    runs[i].source = sources[i].get();
    runs[i].skimmer = skimmers[i].get();
  }
  EXPECT_EQ(RunReceivers(runs), 0);

  std::map<std::string, std::vector<double>> heard;
  for (const Spot& s : out.spots) heard[s.call].push_back(s.freqKhz);
  const struct {
    const char* call;
    double khz;
  } want[] = {{"K1ABC", 14041.0}, {"W2XYZ", 14035.0}, {"OH2BH", 14050.0}, {"DL1ABC", 14070.0}};
  for (const auto& w : want) {
    ASSERT_EQ(heard[w.call].size(), 1u) << w.call;
    EXPECT_NEAR(heard[w.call][0], w.khz, 0.05) << w.call;
  }
  EXPECT_EQ(out.spots.size(), 4u);
}

// Signal ids of different receivers stay apart in the feed, and each receiver's stream
// time is moved onto the common clock.
TEST(Receivers, HubTagsSignalsAndMovesTime) {
  struct Log final : SkimListener {
    void OnSignalStarted(uint64_t signal, double timeS, double) override {
      started.push_back({signal, timeS});
    }
    void OnText(const SkimText& t) override { texts.push_back({t.signal, t.timeS}); }
    void OnSignalEnded(uint64_t signal, double timeS) override { ended.push_back({signal, timeS}); }
    std::vector<std::pair<uint64_t, double>> started, texts, ended;
  } log;
  ReceiverHub hub(log);
  SkimListener& a = hub.AddReceiver(0.0);
  SkimListener& b = hub.AddReceiver(30.0);
  a.OnSignalStarted(7, 1.0, 14e6);
  b.OnSignalStarted(7, 1.0, 7e6);
  b.OnText({7, 2.0, 7e6, 20.0, 10.0, "K1ABC"});
  b.OnSignalEnded(7, 3.0);
  ASSERT_EQ(log.started.size(), 2u);
  EXPECT_EQ(log.started[0], std::make_pair(uint64_t{7}, 1.0));
  const uint64_t bTag = (uint64_t{1} << kReceiverShift) | 7;
  EXPECT_EQ(log.started[1], std::make_pair(bTag, 31.0));
  EXPECT_EQ(log.texts.at(0), std::make_pair(bTag, 32.0));
  EXPECT_EQ(log.ended.at(0), std::make_pair(bTag, 33.0));
}

}  // namespace
}  // namespace kestrix::skim
