// Drives a Receiver block by block the way the window does, with a sink the test fills, and
// reads pixels back from the pictures it draws.
#pragma once

#include <QImage>
#include <cstdint>
#include <string>
#include <vector>

#include "cli/decode_session.h"
#include "receive/receiver.h"

namespace kestrix::testing {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kRed = 0xFFFF0000;
constexpr QRgb kMaroon = 0xFF800000;

// The opaque colour of a pixel.
inline QRgb At(const QImage& img, int x, int y) {
  return img.pixel(x, y) | 0xFF000000;
}

class TextRecorder : public TextSink {
 public:
  void InsertText(const char* bytes, size_t length) override { text.append(bytes, length); }
  std::string text;
};

// The start-up sequence of the window: Text-mode setup, learning restart, START, and a
// click on the tone (0: leave the bar where it is).
inline void StartLikeTheWindow(Receiver& rx, double toneHz) {
  rx.TextModeSetup();
  rx.RestartLearning();
  rx.StartValues();
  if (toneHz > 0.0) rx.SpectrumClick(ToneClickPosition(toneHz));
}

// 16-bit little-endian mono capture buffers of 8192 frames; the tail is padded with
// silence.
inline std::vector<std::vector<uint8_t>> CaptureBlocks(const std::vector<int16_t>& samples) {
  std::vector<std::vector<uint8_t>> blocks;
  for (size_t start = 0; start < samples.size(); start += kBlockFrames) {
    std::vector<uint8_t> b(2 * static_cast<size_t>(kBlockFrames), 0);
    for (size_t i = 0; i < static_cast<size_t>(kBlockFrames) && start + i < samples.size(); ++i) {
      const auto v = static_cast<uint16_t>(samples[start + i]);
      b[2 * i] = static_cast<uint8_t>(v & 0xFF);
      b[2 * i + 1] = static_cast<uint8_t>(v >> 8);
    }
    blocks.push_back(std::move(b));
  }
  return blocks;
}

}  // namespace kestrix::testing
