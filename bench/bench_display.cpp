// Drawing cost per receive block (one block is 185.8 ms of audio): the line graph, the
// waterfall row, the Manual line graph, the timeline strip, and the copy onto the screen.
#include <benchmark/benchmark.h>

#include <QApplication>
#include <memory>
#include <vector>

#include "cli/decode_session.h"
#include "display/level_bar.h"
#include "display/spectrum_display.h"
#include "display/timeline_window.h"
#include "receive/receiver.h"
#include "signalgen/morse_gen.h"

namespace {

using namespace kestrix;

struct NullText : TextSink {
  void InsertText(const char*, size_t) override {}
};

// A receiver that has decoded a few seconds of a noisy signal, so the arrays hold a real
// spectrum and real detector series.
struct Fixture {
  Fixture() : rx(text) {
    signalgen::MorseSignalParams p;
    p.wpm = 20;
    p.snrDb = 10;
    p.seed = 5;
    const auto samples = signalgen::GenerateMorse("VVV VVV CQ CQ DE K1ABC K", p);
    rx.TextModeSetup();
    rx.RestartLearning();
    rx.StartValues();
    rx.SpectrumClick(ToneClickPosition(p.toneHz));
    std::vector<uint8_t> block(2 * static_cast<size_t>(kBlockFrames));
    for (size_t s = 0; s + kBlockFrames <= samples.size(); s += kBlockFrames) {
      for (size_t i = 0; i < static_cast<size_t>(kBlockFrames); ++i) {
        const auto v = static_cast<uint16_t>(samples[s + i]);
        block[2 * i] = static_cast<uint8_t>(v & 0xFF);
        block[2 * i + 1] = static_cast<uint8_t>(v >> 8);
      }
      rx.ProcessTextBlock(block.data());
    }
  }
  NullText text;
  Receiver rx;
};

Fixture& Rx() {
  static Fixture f;
  return f;
}

void BM_LineGraph(benchmark::State& state) {
  Receiver& rx = Rx().rx;
  rx.Display = DisplayType::kLine;
  rx.Options.Threshold = ThresholdMode::kManual;
  SpectrumDisplay box;
  for (auto _ : state) {
    box.ClearTextFrame(kDisplayHeightMenu);
    box.DrawTextFrame(rx, kDisplayHeightMenu);
  }
}
BENCHMARK(BM_LineGraph)->Unit(benchmark::kMicrosecond);

void BM_WaterfallRow(benchmark::State& state) {
  Receiver& rx = Rx().rx;
  rx.Display = DisplayType::kWaterfall;
  SpectrumDisplay box;
  for (auto _ : state) {
    box.ClearTextFrame(kDisplayHeightMenu);
    box.DrawTextFrame(rx, kDisplayHeightMenu);
  }
  rx.Display = DisplayType::kLine;
}
BENCHMARK(BM_WaterfallRow)->Unit(benchmark::kMicrosecond);

void BM_ManualLineGraph(benchmark::State& state) {
  Receiver& rx = Rx().rx;
  SpectrumDisplay box;
  for (auto _ : state) box.DrawManualFrame(rx, kDisplayHeightButton);
}
BENCHMARK(BM_ManualLineGraph)->Unit(benchmark::kMicrosecond);

// Drawing plus the synchronous copy of the bitmap onto the visible box.
void BM_LineGraphOnScreen(benchmark::State& state) {
  Receiver& rx = Rx().rx;
  rx.Display = DisplayType::kLine;
  SpectrumDisplay box;
  box.resize(521, 98);
  box.show();
  QApplication::processEvents();
  for (auto _ : state) {
    box.DrawTextFrame(rx, kDisplayHeightMenu);
    box.repaint();
  }
}
BENCHMARK(BM_LineGraphOnScreen)->Unit(benchmark::kMicrosecond);

// One timeline update at the design size and at a large window.
void BM_TimelineBlock(benchmark::State& state) {
  Receiver& rx = Rx().rx;
  TimelineWindow win;
  win.Geometry.Width = static_cast<int32_t>(state.range(0));
  win.Geometry.Height = static_cast<int32_t>(state.range(1));
  win.Enable();
  QApplication::processEvents();
  for (auto _ : state) {
    win.AddBlock(rx);
    win.PaintBox()->repaint();
  }
}
BENCHMARK(BM_TimelineBlock)->Args({516, 346})->Args({1600, 1200})->Unit(benchmark::kMicrosecond);

void BM_LevelBarSteady(benchmark::State& state) {
  LevelBar bar;
  bar.show();
  QApplication::processEvents();
  float level = 45.2f;
  for (auto _ : state) {
    bar.SetInputLevel(level);
    level = level == 45.2f ? 45.7f : 45.2f;  // same digit: nothing to draw
  }
}
BENCHMARK(BM_LevelBarSteady);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
