#include "skim/click_blanker.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <complex>
#include <random>
#include <string>
#include <vector>

namespace kestrix::skim {
namespace {

// One channel's frames through the blanker (the other channels carry the same noise
// level); returns which frames of that channel came out cut.
std::vector<bool> CutFrames(const std::vector<std::complex<float>>& channel, uint32_t seed) {
  constexpr int kChannels = 4;
  ClickBlanker blanker(kChannels);
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<std::complex<float>> frame(kChannels);
  std::vector<bool> cut;
  auto push = [&](std::complex<float> x) {
    for (auto& v : frame) v = {noise(rng), noise(rng)};
    frame[0] = x;
    const std::complex<float>* out = blanker.Push(frame.data());
    if (out != nullptr) cut.push_back(out[0] == std::complex<float>{});
  };
  for (std::complex<float> x : channel) push(x);
  for (int i = 0; i < ClickBlanker::kDelay; ++i) push({});
  return cut;
}

// Noise of a weak channel, with `keyed` frames [on, off) at `level` and single-frame
// clicks at `clicks`.
std::vector<std::complex<float>> Channel(size_t frames,
                                         std::vector<std::pair<size_t, size_t>> keyed, float level,
                                         std::vector<size_t> clicks, uint32_t seed) {
  std::mt19937 rng(seed);
  std::normal_distribution<float> noise(0.0f, 0.1f);
  std::vector<std::complex<float>> x(frames);
  for (auto& v : x) v = {noise(rng), noise(rng)};
  for (auto [on, off] : keyed)
    for (size_t i = on; i < off && i < frames; ++i) x[i] += level;
  for (size_t c : clicks) x[c] += 3.0f;
  return x;
}

TEST(ClickBlanker, CutsClicksAndSparesKeying) {
  struct Case {
    std::string name;
    std::vector<std::pair<size_t, size_t>> keyed;  // frames at 250 per second
    float level;
    std::vector<size_t> clicks;
    size_t minCut, maxCut;  // frames cut among the keyed and click frames
    size_t silent = 0;      // frames of digital silence first (a sound card starting up)
  };
  const std::vector<Case> cases = {
      // A 60 WPM dit is 5 frames; a strong carrier's edges are steps, not impulses.
      {"fast dits", {{600, 605}, {610, 615}, {620, 625}}, 2.0f, {}, 0, 0},
      {"long key-down", {{600, 900}}, 3.0f, {}, 0, 0},
      {"clicks on noise", {}, 0.0f, {600, 650, 700, 750}, 4, 12},
      {"clicks on a weak key-down", {{580, 780}}, 0.25f, {600, 650, 700, 750}, 4, 12},
      {"clicks after digital silence", {}, 0.0f, {600, 650, 700, 750}, 4, 12, 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    auto channel = Channel(1200, c.keyed, c.level, c.clicks, 7);
    std::fill(channel.begin(), channel.begin() + static_cast<std::ptrdiff_t>(c.silent),
              std::complex<float>{});
    const auto cut = CutFrames(channel, 11);
    ASSERT_EQ(cut.size(), 1200u);
    size_t inSignal = 0, elsewhere = 0;
    for (size_t i = c.silent; i < cut.size(); ++i) {
      bool near = false;
      for (size_t k : c.clicks) near = near || (i + 1 >= k && i <= k + 1);
      for (auto [on, off] : c.keyed) near = near || (i >= on && i < off);
      (near ? inSignal : elsewhere) += cut[i];
    }
    EXPECT_GE(inSignal, c.minCut);
    EXPECT_LE(inSignal, c.maxCut);
    for (size_t k : c.clicks) EXPECT_TRUE(cut[k]) << "click at " << k;
    // Plain noise loses a few per cent of its frames at most.
    EXPECT_LE(elsewhere, 1200u / 25);
  }
}

}  // namespace
}  // namespace kestrix::skim
