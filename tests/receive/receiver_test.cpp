// The TEXT pass as a whole: the order of its steps and the arithmetic between them.
#include "receive/receiver.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace kestrix {
namespace {

class NullText : public TextSink {
 public:
  void InsertText(const char*, size_t) override {}
};

class Probe : public ReceiverSink {
 public:
  void SpectrumFrame(const Receiver& rx) override {
    ++frames;
    bin422 = rx.PowerSpectrum[422];
    bin423 = rx.PowerSpectrum[423];
  }
  void SquelchMeasured(int) override { ++squelch; }
  void PeakFrequencyShown(int hz) override { shown = hz; }
  int frames = 0;
  int squelch = 0;
  int shown = -1;
  float bin422 = 0;
  float bin423 = 0;
};

std::vector<uint8_t> MonoBuffer(const std::vector<int16_t>& s) {
  std::vector<uint8_t> b(s.size() * 2);
  for (size_t i = 0; i < s.size(); ++i) {
    b[2 * i] = static_cast<uint8_t>(static_cast<uint16_t>(s[i]) & 0xFF);
    b[2 * i + 1] = static_cast<uint8_t>(static_cast<uint16_t>(s[i]) >> 8);
  }
  return b;
}

std::vector<int16_t> Tone(double hz, double amplitude) {
  std::vector<int16_t> s(kBlockFrames);
  for (int i = 0; i < kBlockFrames; ++i) {
    s[static_cast<size_t>(i)] = static_cast<int16_t>(
        std::lround(amplitude * std::sin(2.0 * 3.141592653589793 * hz * i / 44100.0)));
  }
  return s;
}

TEST(ConvertSamples, PicksTheChannel) {
  const std::vector<int16_t> interleaved = {1, -2, 3, -4, 5, -6};
  const auto bytes = MonoBuffer(interleaved);
  int32_t out[6] = {};
  ConvertSamples(bytes.data(), ChannelMode::kMic, 6, out);
  EXPECT_EQ(out[1], -2);
  ConvertSamples(bytes.data(), ChannelMode::kLeft, 3, out);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[2], 5);
  ConvertSamples(bytes.data(), ChannelMode::kRight, 3, out);
  EXPECT_EQ(out[0], -2);
  EXPECT_EQ(out[2], -6);

  CaptureSettings c;
  c.SetChannel(ChannelMode::kLeft);
  EXPECT_EQ(c.BufferBytes, 32768);
  EXPECT_EQ(c.Format.Channels, 2);
  EXPECT_EQ(c.Format.AverageBytesPerSecond, 176400u);
  c.SetChannel(ChannelMode::kMic);
  EXPECT_EQ(c.BufferBytes, 16384);
  EXPECT_EQ(c.HalfBufferBytes, 8192);
}

TEST(Receiver, DecimationAndToneRateAveragesTruncateTowardZero) {
  NullText text;
  Receiver rx(text);
  std::vector<int16_t> s(kBlockFrames, 0);
  s[0] = -3;  // pair (-3, 0) averages to -1, not -2
  s[8] = -7;  // the 8:1 sum -7 gives 0, not -1
  const auto buffer = MonoBuffer(s);
  rx.ProcessTextBlock(buffer.data());
  EXPECT_EQ(rx.SampleBlock[0], -1);
  EXPECT_EQ(rx.RawBlock[0], -3);
}

TEST(Receiver, SilenceGivesZeroSpectrumAndEnvelope) {
  NullText text;
  Probe probe;
  Receiver rx(text, &probe);
  const std::vector<uint8_t> zeros(kBlockFrames * 2, 0);
  rx.ProcessTextBlock(zeros.data());
  rx.ProcessTextBlock(zeros.data());
  for (int j = 1; j <= kSpectrumBins; ++j) ASSERT_EQ(rx.PowerSpectrum[j], 0.0f);
  for (float e : rx.Envelope) ASSERT_EQ(e, 0.0f);
  EXPECT_EQ(probe.shown, -1) << "no peak frequency is shown for silence";
  EXPECT_EQ(probe.frames, 2);
}

TEST(Receiver, DisplayGainScalesTheLineOrWaterfallBins) {
  NullText text;
  Probe probe;
  Receiver rx(text, &probe);
  rx.Gain.SetSignalGainPosition(0);  // gain 0: scaled bins become 0
  const auto noise = [] {
    std::vector<int16_t> s(kBlockFrames);
    uint32_t x = 1;
    for (auto& v : s) {
      x = x * 1664525u + 1013904223u;
      v = static_cast<int16_t>(x >> 20);
    }
    return MonoBuffer(s);
  }();
  rx.ProcessTextBlock(noise.data());
  EXPECT_EQ(probe.bin422, 0.0f);
  EXPECT_GT(probe.bin423, 0.0f) << "the line graph scales bins 1..422 only";
  rx.SetDisplayType(DisplayType::kWaterfall);
  rx.ProcessTextBlock(noise.data());
  EXPECT_EQ(probe.bin423, 0.0f) << "the waterfall scales bins 1..423";
}

TEST(Receiver, SquelchIsMeasuredOnlyAboveBin25) {
  NullText text;
  Probe probe;
  Receiver rx(text, &probe);
  const auto tone = MonoBuffer(Tone(700.0, 8000.0));
  rx.SetFrequencyBar(25);
  rx.ProcessTextBlock(tone.data());
  EXPECT_EQ(probe.squelch, 0);
  rx.SetFrequencyBar(131);
  rx.ProcessTextBlock(tone.data());
  EXPECT_EQ(probe.squelch, 1);
}

TEST(Receiver, ShowsTheTonePeakAndDecodesNothingFromASteadyCarrier) {
  NullText text;
  Probe probe;
  Receiver rx(text, &probe);
  rx.TextModeSetup();
  rx.RestartLearning();
  rx.StartValues();
  rx.SpectrumClick(131);
  const auto tone = MonoBuffer(Tone(700.0, 8000.0));
  for (int i = 0; i < 4; ++i) rx.ProcessTextBlock(tone.data());
  EXPECT_NEAR(probe.shown, 700, 3);
  EXPECT_GT(rx.Envelope[32], 0.0f);
  EXPECT_TRUE(rx.Timing.Learning);
}

TEST(Receiver, ModeAndOptionHandlersRunClearInTextMode) {
  struct Clearing : TextSink {
    void InsertText(const char*, size_t) override {}
    void ClearPanes() override { ++clears; }
    int clears = 0;
  } text;
  Receiver rx(text);
  rx.SetThresholdMode(ThresholdMode::kManual);
  EXPECT_EQ(text.clears, 1);
  EXPECT_EQ(rx.Detector.T, 250000 - 60 * 1000) << "the bar handler replaces the quarter value";
  rx.SetNoiseFilter(true);
  rx.SetReceiveSpeed(ReceiveSpeed::k20, /*receptionStopped=*/true);
  EXPECT_EQ(text.clears, 2) << "no CLEAR after STOP";
  EXPECT_EQ(rx.Timing.AvgDash, 93);
  EXPECT_EQ(rx.Timing.SpeedWpm, 50);
  rx.Mode = ReceiveMode::kScan;
  rx.Clear();
  EXPECT_EQ(text.clears, 2);
}

TEST(FilterHalfWidth, PresetsAndAutoTable) {
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::k10, 10, false, 30, 90), 0.0012f);
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::k10, 12, false, 30, 90), 0.0012f + 0.00045f);
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::k10, 40, false, 30, 90), 0.002f);
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::k50Plus, 60, false, 30, 90), 0.0072f);
  // Auto: base(20) 0.00088 x 0.85, ratio 3 adds nothing.
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::kAuto, 20, false, 30, 90), 0.00088f * 0.85f);
  // Idle narrows, a dash/dot ratio of 5 doubles.
  EXPECT_FLOAT_EQ(FilterHalfWidth(ReceiveSpeed::kAuto, 20, true, 10, 50),
                  0.00088f * 0.85f * 0.65f * 2.0f);
  EXPECT_FLOAT_EQ(FilterBaseWidth(4), 0.003f);
  EXPECT_FLOAT_EQ(FilterBaseWidth(91), 0.023f);
  EXPECT_FLOAT_EQ(FilterBaseWidth(110), 0.033f);
}

}  // namespace
}  // namespace kestrix
