#include "signalgen/band_scene.h"

#include <gtest/gtest.h>

#include <cmath>
#include <complex>
#include <map>
#include <set>
#include <sstream>

#include "skim/call_sign.h"

namespace kestrix::signalgen {
namespace {

constexpr double kPi = 3.14159265358979323846;

TEST(BandScene, RandomSceneHasEveryRoleWithValidUniqueCallsAndTruth) {
  SceneRecipe recipe;
  recipe.durationS = 120;
  recipe.runners = 10;
  recipe.ragchews = 2;
  recipe.beacons = 2;
  recipe.seed = 5;
  const BandScenePlan plan = PlanScene(recipe);
  std::map<StationRole, int> roles;
  std::set<std::string> calls;
  for (const SceneStation& s : plan.stations) {
    ++roles[s.role];
    EXPECT_TRUE(calls.insert(s.call).second) << s.call;
    EXPECT_NE(skim::ShapeRarity(s.call), skim::CallRarity::Invalid) << s.call;
    EXPECT_GE(s.offsetHz, recipe.lowHz - recipe.callerSpreadHz);
    EXPECT_LE(s.offsetHz, recipe.highHz + recipe.callerSpreadHz);
    ASSERT_FALSE(s.sends.empty()) << s.call;
    for (const SceneTransmission& tx : s.sends) EXPECT_LT(tx.startS, plan.durationS);
    if (s.role == StationRole::Cq) {
      EXPECT_NE(s.sends[0].text.find("CQ TEST " + s.call + " " + s.call), std::string::npos);
      EXPECT_GE(s.callCount, 2);
    }
    if (s.role == StationRole::Caller) {
      // Callers never send CQ and sit near a runner.
      for (const SceneTransmission& tx : s.sends) EXPECT_EQ(tx.text.find("CQ"), std::string::npos);
      bool near = false;
      for (const SceneStation& r : plan.stations)
        near = near || (r.role == StationRole::Cq &&
                        std::fabs(r.offsetHz - s.offsetHz) <= recipe.callerSpreadHz);
      EXPECT_TRUE(near) << s.call;
    }
  }
  EXPECT_EQ(roles[StationRole::Cq], recipe.runners + recipe.clickers);
  EXPECT_GT(roles[StationRole::Caller], 0);
  EXPECT_EQ(roles[StationRole::Ragchew], 2 * recipe.ragchews);
  EXPECT_EQ(roles[StationRole::Beacon], recipe.beacons);
  EXPECT_EQ(plan.birdies.size(), static_cast<size_t>(recipe.birdies));

  const std::string csv = TruthCsv(plan, 14000.0);
  std::istringstream lines(csv);
  std::string header;
  std::getline(lines, header);
  EXPECT_EQ(header, "call,role,offset_hz,freq_khz,wpm,snr_db,call_count");
  EXPECT_EQ(static_cast<size_t>(std::count(csv.begin(), csv.end(), '\n')),
            plan.stations.size() + 1);
}

// A station's carrier and the noise come out at the level the plan asks for: SNR in 500 Hz
// as A^2 (I/Q) or A^2 / 2 (audio) over the noise density times 500 Hz.
TEST(BandScene, LevelsFollowTheSnrIn500Hz) {
  for (const bool audio : {false, true}) {
    SCOPED_TRACE(audio ? "audio" : "iq");
    BandScenePlan plan;
    plan.durationS = 4;
    plan.birdies.push_back({1000.0, 20.0});
    BandSceneRenderer::Options options;
    options.sampleRate = 8000;
    options.audio = audio;
    BandSceneRenderer renderer(plan, options);
    std::vector<std::complex<float>> iq(renderer.TotalSamples());
    std::vector<float> real(renderer.TotalSamples());
    const size_t n = audio ? renderer.RenderAudio(real.data(), real.size())
                           : renderer.RenderIq(iq.data(), iq.size());
    ASSERT_EQ(n, renderer.TotalSamples());
    // The tone's amplitude by correlation; what is left is noise.
    std::complex<double> acc = 0;
    for (size_t i = 0; i < n; ++i) {
      const std::complex<double> x =
          audio ? std::complex<double>(real[i], 0) : std::complex<double>(iq[i]);
      acc += x * std::polar(1.0, -2 * kPi * 1000.0 * static_cast<double>(i) / 8000.0);
    }
    const double a = std::abs(acc) / static_cast<double>(n) * (audio ? 2.0 : 1.0);
    const double carrier = audio ? a * a / 2 : a * a;
    double residual = 0;
    for (size_t i = 0; i < n; ++i) {
      const double t = static_cast<double>(i) / 8000.0;
      if (audio) {
        const double tone = a * std::cos(2 * kPi * 1000.0 * t + std::arg(acc));
        residual += std::pow(real[i] - tone, 2);
      } else {
        residual += std::norm(std::complex<double>(iq[i]) -
                              a * std::polar(1.0, 2 * kPi * 1000.0 * t + std::arg(acc)));
      }
    }
    residual /= static_cast<double>(n);
    // White I/Q noise spreads over 8 kHz; audio noise over the 200-3000 Hz passband
    // (about 2800 Hz, the filter's skirts add a little).
    const double density = residual / (audio ? 2800.0 : 8000.0);
    const double snr = 10 * std::log10(carrier / (density * 500.0));
    EXPECT_NEAR(snr, 20.0, 0.8);
  }
}

TEST(BandScene, KeyingFollowsTheTextAndBlockSizesDontMatter) {
  BandScenePlan plan;
  plan.durationS = 6;
  SceneStation s;
  s.call = "K1ABC";
  s.offsetHz = 600;
  s.wpm = 20;
  s.snrDb = 60;  // the noise is 60 dB down
  s.sends.push_back({0.5, "K1ABC"});
  plan.stations.push_back(s);
  Finish(plan);
  EXPECT_EQ(plan.stations[0].callCount, 1);
  BandSceneRenderer::Options options;
  options.sampleRate = 8000;
  BandSceneRenderer whole(plan, options);
  BandSceneRenderer pieces(plan, options);
  std::vector<std::complex<float>> a(whole.TotalSamples()), b(whole.TotalSamples());
  whole.RenderIq(a.data(), a.size());
  size_t at = 0;
  for (size_t step = 1; at < b.size(); step = step * 3 + 7)
    at += pieces.RenderIq(b.data() + at, std::min(step, b.size() - at));
  EXPECT_EQ(pieces.RenderIq(b.data(), 10), 0u);  // the end
  int elements = 0;
  bool on = false;
  double maxDiff = 0;
  for (size_t i = 0; i < a.size(); ++i) {
    maxDiff = std::max(maxDiff, static_cast<double>(std::abs(a[i] - b[i])));
    const bool now = std::abs(a[i]) > 0.5 * std::sqrt(1e6 * options.noiseIn500Hz);
    elements += now && !on;
    on = now;
  }
  EXPECT_LT(maxDiff, 1e-5);
  EXPECT_EQ(elements, 3 + 5 + 2 + 4 + 4);  // K 1 A B C
}

}  // namespace
}  // namespace kestrix::signalgen
