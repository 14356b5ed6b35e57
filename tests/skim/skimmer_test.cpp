// The engine end to end: a generated band goes in, spots come out, checked against the
// scene's truth.
#include "skim/skimmer.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "iq_scene.h"
#include "signalgen/band_scene.h"
#include "skim/call_sign.h"
#include "skim/spot_feed.h"

namespace kestrix::skim {
namespace {

using kestrix::signalgen::BandScenePlan;
using kestrix::signalgen::BandSceneRenderer;
using kestrix::signalgen::SceneRecipe;
using kestrix::signalgen::StationRole;

struct Collected final : SpotOutput {
  void OnSpot(const std::string& line, const Spot& spot) override {
    lines.push_back(line);
    spots.push_back(spot);
  }
  std::vector<std::string> lines;
  std::vector<Spot> spots;
};

struct Result {
  std::vector<Spot> spots;
  uint64_t signals = 0;
};

// Runs `plan` through the engine: I/Q around `centreHz`, or audio with the dial there.
Result Skim(const BandScenePlan& plan, double rate, bool audio, double centreHz, bool lsb = false) {
  CallBook book;
  Collected out;
  SpotFeedConfig fc;
  fc.spotter = "W9XG";
  SpotFeed feed(book, fc, out, nullptr);
  SkimmerConfig sc;
  sc.inputRate = rate;
  sc.audio = audio;
  sc.centreHz = centreHz;
  sc.lowerSideband = lsb;
  sc.measure = false;
  Skimmer skimmer(sc, feed);
  BandSceneRenderer::Options ro;
  ro.sampleRate = rate;
  ro.audio = audio;
  BandSceneRenderer renderer(plan, ro);
  std::vector<std::complex<float>> iq(4096);
  std::vector<float> real(4096);
  while (true) {
    const size_t n = audio ? renderer.RenderAudio(real.data(), real.size())
                           : renderer.RenderIq(iq.data(), iq.size());
    if (n == 0) break;
    if (audio) {
      skimmer.ProcessReal(real.data(), n);
    } else {
      skimmer.Process(iq.data(), n);
    }
  }
  std::vector<LiveSignal> live;
  skimmer.LiveSignalsInto(live);
  EXPECT_EQ(live.size(), skimmer.LiveSignals());
  for (const LiveSignal& s : live) {
    EXPECT_NEAR(s.freqHz, audio && lsb ? centreHz - s.offsetHz : centreHz + s.offsetHz, 1e-6);
  }
  skimmer.Flush();
  EXPECT_EQ(skimmer.LiveSignals(), 0u);
  return {out.spots, skimmer.SignalsStarted()};
}

// Every spot is a station of the scene within 150 Hz; every CQ station strong enough and
// sending its call at least twice is spotted, as CQ; no caller is typed CQ.
void CheckAgainstTruth(const BandScenePlan& plan, const Result& r, double rfOf0Hz, int sign,
                       const char* what) {
  std::set<std::string> spotted;
  for (const Spot& s : r.spots) {
    bool real = false;
    for (const auto& st : plan.stations) {
      const double khz = (rfOf0Hz + sign * st.offsetHz) / 1000.0;
      if (st.call == s.call && std::abs(khz - s.freqKhz) <= 0.15) real = true;
      if (st.call == s.call && st.role == StationRole::Caller) {
        EXPECT_NE(s.kind, SpotKind::Cq) << what << ": caller " << s.call << " typed CQ";
      }
    }
    EXPECT_TRUE(real) << what << ": busted spot " << s.call << " at " << s.freqKhz;
    spotted.insert(s.call);
  }
  for (const auto& st : plan.stations) {
    if (st.role != StationRole::Cq || st.callCount < 2 || st.snrDb < 12.0) continue;
    EXPECT_TRUE(spotted.count(st.call))
        << what << ": missed " << st.call << " at " << st.snrDb << " dB, " << st.wpm << " WPM";
  }
}

TEST(SkimmerTest, IqBandOfRunnersAndCallersIsSpottedRight) {
  SceneRecipe recipe;
  recipe.durationS = 40;
  recipe.runners = 6;
  recipe.callersPerRunner = 1;
  recipe.ragchews = 1;
  recipe.beacons = 1;
  recipe.birdies = 1;
  recipe.clickers = 1;
  recipe.lowHz = -20000;
  recipe.highHz = 20000;
  recipe.minSnrDb = 12;
  // Deep fades are the decoder's own tests' business; here every station is steady.
  recipe.fadingShare = 0.0;
  recipe.seed = 11;
  const BandScenePlan plan = kestrix::signalgen::PlanScene(recipe);
  const Result r = Skim(plan, 48000, false, 14040000.0);
  EXPECT_GE(r.spots.size(), 6u);
  CheckAgainstTruth(plan, r, 14040000.0, +1, "I/Q");
}

// A receiver's audio: the RF frequency is the dial plus the tone (USB) or minus it (LSB).
TEST(SkimmerTest, AudioPassbandSpotsAtDialPlusOrMinusTheTone) {
  SceneRecipe recipe;
  recipe.durationS = 40;
  recipe.runners = 3;
  recipe.callersPerRunner = 1;
  recipe.ragchews = 0;
  recipe.beacons = 0;
  recipe.birdies = 0;
  recipe.clickers = 0;
  recipe.lowHz = 400;
  recipe.highHz = 2600;
  recipe.minSpacingHz = 400;
  recipe.minSnrDb = 14;
  recipe.seed = 4;
  const BandScenePlan plan = kestrix::signalgen::PlanScene(recipe);
  for (bool lsb : {false, true}) {
    const Result r = Skim(plan, 8000, true, 7030000.0, lsb);
    EXPECT_GE(r.spots.size(), 3u) << (lsb ? "LSB" : "USB");
    CheckAgainstTruth(plan, r, 7030000.0, lsb ? -1 : +1, lsb ? "LSB" : "USB");
  }
}

// Noise, birdies and a strong station's clicks without a call: nothing is spotted.
TEST(SkimmerTest, NoiseBirdiesAndClicksGiveNoSpot) {
  SceneRecipe recipe;
  recipe.durationS = 30;
  recipe.runners = 0;
  recipe.ragchews = 0;
  recipe.beacons = 0;
  recipe.birdies = 3;
  recipe.clickers = 0;
  recipe.lowHz = -20000;
  recipe.highHz = 20000;
  recipe.seed = 9;
  const BandScenePlan plan = kestrix::signalgen::PlanScene(recipe);
  const Result r = Skim(plan, 48000, false, 14040000.0);
  EXPECT_TRUE(r.spots.empty()) << r.spots.size() << " spots, first " << r.spots[0].call;
  EXPECT_LE(r.signals, 3u) << "only the birdies may be tracked";
}

// Text per signal, for checking what a decoder read.
struct TextLog final : SkimListener {
  void OnText(const SkimText& t) override { text[t.signal] += t.text; }
  std::map<uint64_t, std::string> text;
};

size_t Count(const std::string& text, const std::string& word) {
  size_t n = 0;
  for (size_t at = text.find(word); at != std::string::npos; at = text.find(word, at + 1)) ++n;
  return n;
}

// A strong caller a few hertz from a weak runner: the runner's decoder adapts to the
// caller and, once the caller has gone, must still go on reading the runner.
TEST(SkimmerTest, WeakRunnerIsReadAgainAfterAStrongCallerOnItsFrequency) {
  testing::Scene scene;
  scene.seconds = 60.0;
  testing::SceneStation runner;
  runner.offsetHz = 1000.0;
  runner.snrDb = 9.0;
  runner.wpm = 27.0;
  runner.text = "CQ TEST K1ABC K1ABC TEST ";
  runner.startS = 0.5;
  testing::SceneStation caller;
  caller.offsetHz = 1024.0;
  caller.snrDb = 26.0;
  caller.wpm = 16.0;
  caller.text = "W9XYZ W9XYZ TU 5NN 12";
  caller.startS = 6.0;
  caller.repeat = false;
  scene.stations = {runner, caller};
  const std::vector<std::complex<float>> x = testing::MakeScene(scene);
  TextLog log;
  SkimmerConfig sc;
  sc.inputRate = scene.rate;
  sc.measure = false;
  Skimmer skimmer(sc, log);
  const size_t half = x.size() / 2;
  skimmer.Process(x.data(), half);
  std::map<uint64_t, std::string> firstHalf = log.text;
  skimmer.Process(x.data() + half, x.size() - half);
  skimmer.Flush();
  // In the second half (the caller long gone) the runner's call comes through again.
  size_t late = 0;
  for (const auto& [id, text] : log.text) {
    late = std::max(late, Count(text, "K1ABC") - Count(firstHalf[id], "K1ABC"));
  }
  EXPECT_GE(late, 6u);
}

// A receiver's passband: a loud hard-keyed runner, a station 140 Hz from it, and two
// runners 25 Hz apart. The loud one's sidebands are taken out and the close pair kept
// apart, so every call is read again and again.
TEST(SkimmerTest, AudioBesideALoudKeyerAndACloseNeighbourIsRead) {
  testing::Scene scene;
  scene.rate = 8000.0;
  scene.seconds = 45.0;
  auto station = [](double hz, double snr, double wpm, const char* call, double riseMs) {
    testing::SceneStation s;
    s.offsetHz = hz;
    s.snrDb = snr;
    s.wpm = wpm;
    s.text = std::string("CQ TEST ") + call + " " + call + " TEST ";
    s.riseMs = riseMs;
    return s;
  };
  scene.stations = {
      station(1500.0, 45.0, 24.0, "K1LD", 0.0), station(1640.0, 14.0, 26.0, "W2AB", 4.0),
      station(2200.0, 18.0, 22.0, "DL1XY", 4.0), station(2225.0, 18.0, 30.0, "G4ABC", 4.0)};
  const std::vector<std::complex<float>> iq = testing::MakeScene(scene);
  std::vector<float> audio(iq.size());
  for (size_t i = 0; i < iq.size(); ++i) audio[i] = iq[i].real();
  TextLog log;
  SkimmerConfig sc;
  sc.inputRate = scene.rate;
  sc.audio = true;
  sc.measure = false;
  Skimmer skimmer(sc, log);
  skimmer.ProcessReal(audio.data(), audio.size());
  skimmer.Flush();
  EXPECT_GT(skimmer.EdgesCancelled(), 100u);
  for (const char* call : {"K1LD", "W2AB", "DL1XY", "G4ABC"}) {
    size_t reads = 0;
    for (const auto& [id, text] : log.text) reads += Count(text, call);
    EXPECT_GE(reads, 5u) << call;
  }
}

}  // namespace
}  // namespace kestrix::skim
