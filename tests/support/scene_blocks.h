// A generated band scene as the receive loop hands it to the band map: mono 16-bit
// capture buffers of kBlockFrames frames.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <vector>

#include "receive/capture_format.h"
#include "signalgen/band_scene.h"

namespace kestrix::testing {

// The scene rendered at 44100 Hz, scaled so that its loudest sample is `peak` (a receiver's
// AGC holds the level about so), as little-endian 16-bit blocks; a last part shorter than
// a block is left out, as the sound card would not have filled it yet.
inline std::vector<std::vector<uint8_t>> SceneBlocks(const signalgen::BandScenePlan& plan,
                                                     float peak = 16000.0f) {
  signalgen::BandSceneRenderer::Options o;
  o.sampleRate = 44100;
  o.audio = true;
  signalgen::BandSceneRenderer renderer(plan, o);
  std::vector<float> audio(renderer.TotalSamples());
  renderer.RenderAudio(audio.data(), audio.size());
  float loudest = 1e-9f;
  for (float v : audio) loudest = std::max(loudest, std::fabs(v));
  const float gain = peak / loudest;
  const auto frames = static_cast<size_t>(kBlockFrames);
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t at = 0; at + frames <= audio.size(); at += frames) {
    std::vector<uint8_t> b(2 * frames);
    for (size_t i = 0; i < frames; ++i) {
      const auto v = static_cast<uint16_t>(static_cast<int16_t>(std::lround(audio[at + i] * gain)));
      b[2 * i] = static_cast<uint8_t>(v & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    blocks.push_back(std::move(b));
  }
  return blocks;
}

}  // namespace kestrix::testing
