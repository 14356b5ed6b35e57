// One station read out of a receiver's audio through the narrow channel: neighbours kept
// out, a pick a few hertz off the carrier still read, and a new pick that is the same
// station or another one.
#include "soft/station_channel.h"

#include <gtest/gtest.h>

#include <cmath>
#include <numbers>
#include <string>
#include <vector>

#include "signalgen/band_scene.h"
#include "signalgen/morse_gen.h"
#include "text_metrics.h"

namespace kestrix::soft {
namespace {

constexpr int kRate = 8000;
constexpr const char* kSent = "CQ CQ DE K1ABC K1ABC PSE K";
constexpr const char* kOther = "TEST DE XX1XX TEST DE XX1XX TEST DE XX1XX TEST DE XX1XX";

// Lower case, single spaces, none at the ends.
std::string Normalised(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == ' ' && (out.empty() || out.back() == ' ')) continue;
    out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  while (!out.empty() && out.back() == ' ') out.pop_back();
  return out;
}

std::vector<float> Audio(const signalgen::MorseSignalParams& p, const char* text = kSent) {
  const auto samples = signalgen::GenerateMorse(text, p);
  std::vector<float> audio(samples.size());
  for (size_t i = 0; i < samples.size(); ++i) audio[i] = samples[i] / 32768.0F;
  return audio;
}

std::string Read(StationChannel& channel, const std::vector<float>& audio) {
  std::string text;
  for (size_t at = 0; at < audio.size(); at += 1000) {
    channel.Process(audio.data() + at, std::min<size_t>(1000, audio.size() - at));
    channel.TakeText(text);
  }
  channel.Flush();
  channel.TakeText(text);
  return text;
}

signalgen::MorseSignalParams Station(double toneHz, double snrDb, int seed) {
  signalgen::MorseSignalParams p;
  p.sampleRate = kRate;
  p.toneHz = toneHz;
  p.snrDb = snrDb;
  p.amplitude = 0.05;
  p.seed = seed;
  return p;
}

struct Case {
  const char* name;
  double toneHz;       // the station
  double pickHz;       // where the operator clicked
  double neighbourHz;  // 0: none
  double neighbourDb;  // over the station
  double maxCer;       // over three seeds
};

TEST(StationChannel, ReadsThePickedStationAndKeepsNeighboursOut) {
  const Case cases[] = {
      {"on the tone", 700, 700, 0, 0, 0.02},
      {"clicked 12 Hz low", 712, 700, 0, 0, 0.02},
      {"weaker neighbour 60 Hz up", 700, 700, 760, -6, 0.04},
      {"equal neighbour 50 Hz down", 700, 700, 650, 0, 0.06},
      {"neighbour 10 dB over, 100 Hz up", 700, 700, 800, 10, 0.06},
      {"neighbour 14 dB over, 100 Hz up", 700, 700, 800, 14, 0.10},
      {"neighbour 20 dB over, 300 Hz up", 700, 700, 1000, 20, 0.04},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    int errors = 0;
    size_t sent = 0;
    for (int seed = 1; seed <= 3; ++seed) {
      signalgen::MorseSignalParams p = Station(c.toneHz, 10, seed);
      if (c.neighbourHz > 0) {
        p.interfererHz = c.neighbourHz;
        p.interfererDb = c.neighbourDb;
        p.interfererWpm = 22;
        p.interfererText = kOther;
      }
      StationChannel channel(kRate, c.pickHz, {});
      const std::string text = Read(channel, Audio(p));
      errors += testing::InfixEditDistance(Normalised(kSent), Normalised(text));
      sent += std::string(kSent).size();
    }
    EXPECT_LE(static_cast<double>(errors) / sent, c.maxCer) << errors << " errors";
  }
}

TEST(StationChannel, FollowsTheCarrierWithinThePullAndNoFurther) {
  // A clean station 9 Hz over the pick: the centre moves onto it.
  StationChannel near(kRate, 700, {});
  Read(near, Audio(Station(709, 20, 1)));
  EXPECT_TRUE(near.Locked());
  EXPECT_NEAR(near.CarrierHz(), 709, 1.0);

  // 40 Hz over the pick: outside the search, the centre stays on the pick.
  StationChannel far(kRate, 700, {});
  Read(far, Audio(Station(740, 20, 1)));
  EXPECT_FALSE(far.Locked() && std::fabs(far.CarrierHz() - 740) < 5);
  EXPECT_NEAR(far.CarrierHz(), 700, 15.0);
}

TEST(StationChannel, ANewPickOnTheSameStationKeepsTheDecoderAnotherStationStartsAfresh) {
  const std::vector<float> audio = Audio(Station(700, 20, 2));
  const size_t half = audio.size() / 2;

  StationChannel same(kRate, 700, {});
  same.Process(audio.data(), half);
  ASSERT_TRUE(same.Locked());
  const int64_t seen = same.Decoder().SamplesSeen();
  same.Retune(705);  // the AFC or a second click on the same trace
  EXPECT_EQ(same.Decoder().SamplesSeen(), seen);
  EXPECT_NEAR(same.CarrierHz(), 700, 1.0);

  StationChannel other(kRate, 700, {});
  other.Process(audio.data(), half);
  other.Retune(1200);
  EXPECT_EQ(other.Decoder().SamplesSeen(), 0);
  EXPECT_DOUBLE_EQ(other.ToneHz(), 1200);
  EXPECT_FALSE(other.Locked());
}

}  // namespace
}  // namespace kestrix::soft

namespace kestrix::soft {
namespace {

// A busy receiver passband where the picked station (40 dB) starts keying a few seconds
// after its neighbours: the decoder set its speed at the edge of its range before the
// station came and heard the station under its noise. Once the search plainly hears the
// carrier, the decoders start again and read it.
TEST(StationChannel, ADecoderStuckAtTheEdgeOfItsSpeedRangeStartsAgain) {
  signalgen::SceneRecipe r;
  r.durationS = 60;
  r.runners = 8;
  r.callersPerRunner = 2;
  r.lowHz = 300;
  r.highHz = 2900;
  r.minSpacingHz = std::min(r.minSpacingHz, 120.0);
  r.seed = 7;
  const signalgen::BandScenePlan plan = signalgen::PlanScene(r);
  const signalgen::SceneStation* loud = nullptr;
  for (const auto& s : plan.stations)
    if (s.call == "PA0BM") loud = &s;
  ASSERT_NE(loud, nullptr);
  signalgen::BandSceneRenderer::Options o;
  o.sampleRate = 44100;
  o.audio = true;
  signalgen::BandSceneRenderer renderer(plan, o);
  std::vector<float> audio(renderer.TotalSamples());
  renderer.RenderAudio(audio.data(), audio.size());
  StationChannel channel(44100, loud->offsetHz, {});
  const std::string text = Normalised(Read(channel, audio));
  EXPECT_NE(text.find("pa0bm"), std::string::npos) << text;
  EXPECT_NEAR(channel.Decoder().State().wpm, loud->wpm, 3) << text;
}

}  // namespace
}  // namespace kestrix::soft
