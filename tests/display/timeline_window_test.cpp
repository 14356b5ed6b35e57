// The timeline window: its scale, the four series on the chart, the scroll, the flags and
// geometry the settings keep, and that drawing never changes what the decoder decodes.
#include "display/timeline_window.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QPushButton>
#include <cmath>

#include "display_test_support.h"
#include "receive/receiver.h"
#include "signalgen/morse_gen.h"

namespace kestrix::testing {

using signalgen::GenerateMorse;
using signalgen::MorseSignalParams;

namespace {

// Detector output of one block with every step at the same values.
void FillBlock(Receiver& rx, int level, double threshold, double floor, double key) {
  for (int k = 2; k <= 65; ++k) {
    const size_t u = static_cast<size_t>(k);
    rx.Detector.env[u] = level;
    rx.Detector.thresholdShown[u] = threshold;
    rx.Detector.floorShown[u] = floor;
    rx.Detector.key[u] = key;
  }
}

class TimelineTest : public ::testing::Test {
 protected:
  int LogRow(double v) const {
    return static_cast<int>(win.PanelHeight() - win.Scale() * std::log10(v + 1.0));
  }

  TextRecorder text;
  Receiver rx{text};
  TimelineWindow win;
};

TEST_F(TimelineTest, OpensAtTheStoredPlaceAndNeverBelowTheMinimumHeight) {
  EXPECT_EQ(win.windowTitle(), "Time Line Display");
  EXPECT_EQ(win.pos(), QPoint(200, 100));
  EXPECT_EQ(win.size(), QSize(320, 320));  // stored height 240
  EXPECT_EQ(win.PanelHeight(), 320 - kTimelineControlHeight);
  EXPECT_EQ(win.TimelineBitmap().size(), QSize(320, 289));
  EXPECT_FALSE(win.Shown);
  EXPECT_FALSE(win.Running);
  EXPECT_FALSE(win.isVisible());
  auto* start = win.findChild<QPushButton*>("TimeStartBtn");
  ASSERT_NE(start, nullptr);
  EXPECT_EQ(start->text(), "START");
  EXPECT_EQ(start->palette().color(QPalette::ButtonText), QColor(Qt::blue));
  EXPECT_EQ(win.findChild<QPushButton*>("TimeStopBtn")->text(), "STOP");
  EXPECT_EQ(win.findChild<QPushButton*>("TimeCloseBtn")->text(), "CLOSE");
}

TEST_F(TimelineTest, ScaleFollowsTheWindowHeight) {
  EXPECT_EQ(win.Scale(), 26);
  win.Running = true;
  win.resize(win.width(), 2 * 320);
  win.AddBlock(rx);
  EXPECT_EQ(win.Scale(), 62);
  EXPECT_EQ(win.PanelHeight(), 640 - kTimelineControlHeight);
  EXPECT_EQ(win.TimelineBitmap().height(), 640 - kTimelineControlHeight);
}

TEST_F(TimelineTest, DrawsTheFourSeriesInTheirColoursAndPlaces) {
  win.Running = true;
  FillBlock(rx, 999, 1e6, 1e3, 1.0);
  win.AddBlock(rx);
  const QImage& img = win.TimelineBitmap();
  const int x = win.PanelWidth() - 10;
  EXPECT_EQ(At(img, x, LogRow(999)), kBlack);
  EXPECT_EQ(At(img, x, LogRow(1e6)), kBlue);
  EXPECT_EQ(At(img, x, LogRow(1e3)), kMaroon);
  EXPECT_EQ(At(img, x, 5), kRed);  // key down along the top

  FillBlock(rx, 999, 1e6, 1e3, 0.0);
  win.AddBlock(rx);
  EXPECT_EQ(At(win.TimelineBitmap(), x, 26 + 5), kRed);  // key up, m pixels lower
}

TEST_F(TimelineTest, LevelsBelowOneAreDrawnAsOneWithoutTouchingTheDecoder) {
  win.Running = true;
  FillBlock(rx, 0, 1e6, 1e3, 0.0);
  rx.Detector.env[40] = -500;
  win.AddBlock(rx);
  for (int32_t v : win.LevelCopy()) EXPECT_EQ(v, 1);
  EXPECT_EQ(rx.Detector.env[40], -500);
  EXPECT_EQ(rx.Detector.env[2], 0);
  const int row = win.PanelHeight() - 8;  // m log10 2 = 7.8 above the bottom of the panel
  for (int x = win.PanelWidth() - 64; x < win.PanelWidth(); ++x) {
    EXPECT_EQ(At(win.TimelineBitmap(), x, row), kBlack) << x;
  }
}

TEST_F(TimelineTest, EachBlockScrollsThePicture64PixelsAndStopFreezesIt) {
  win.Running = true;
  const int x = win.PanelWidth() - 10;
  // Threshold and floor lie above the level lines here, so they can't hide them.
  FillBlock(rx, 99, 1e6, 1e7, 0.0);
  win.AddBlock(rx);
  FillBlock(rx, 9999, 1e6, 1e7, 0.0);
  win.AddBlock(rx);
  EXPECT_EQ(At(win.TimelineBitmap(), x - 64, LogRow(99)), kBlack);
  EXPECT_EQ(At(win.TimelineBitmap(), x, LogRow(9999)), kBlack);
  // The join between the blocks is one continuous line in the first new column.
  const int join = win.PanelWidth() - 65;
  for (int y = LogRow(9999); y <= LogRow(99); ++y) {
    EXPECT_TRUE(At(win.TimelineBitmap(), join, y) == kBlack ||
                At(win.TimelineBitmap(), join + 1, y) == kBlack)
        << y;
  }

  win.TimeStopBtnClick();
  const QImage frozen = win.TimelineBitmap().copy();
  FillBlock(rx, 5, 1e6, 1e7, 1.0);
  win.AddBlock(rx);
  EXPECT_EQ(win.TimelineBitmap(), frozen);

  win.TimeStartBtnClick();
  win.AddBlock(rx);
  EXPECT_EQ(At(win.TimelineBitmap(), x - 64, LogRow(9999)), kBlack);
  EXPECT_EQ(At(win.TimelineBitmap(), x, LogRow(5)), kBlack);
}

TEST_F(TimelineTest, FlagsAndGeometryThroughEnableCloseAndTheCloseBox) {
  win.Geometry = {150, 300, 400, 500};  // Top, Left, Height, Width
  win.Enable();
  EXPECT_TRUE(win.isVisible());
  EXPECT_TRUE(win.Shown);
  EXPECT_TRUE(win.Running);
  EXPECT_EQ(win.size(), QSize(500, 400));
  EXPECT_EQ(win.pos(), QPoint(300, 150));

  // The close box hides the window but the chart keeps running.
  win.resize(600, 450);
  win.close();
  EXPECT_FALSE(win.isVisible());
  EXPECT_FALSE(win.Shown);
  EXPECT_TRUE(win.Running);
  EXPECT_EQ(win.Geometry.Height, 450);
  EXPECT_EQ(win.Geometry.Width, 600);

  win.Enable();
  EXPECT_EQ(win.size(), QSize(600, 450));
  win.findChild<QPushButton*>("TimeCloseBtn")->click();
  EXPECT_FALSE(win.isVisible());
  EXPECT_FALSE(win.Shown);
  EXPECT_FALSE(win.Running);

  // A stored height below the minimum is never kept.
  win.Geometry.Height = 100;
  win.Enable();
  EXPECT_EQ(win.height(), kTimelineMinHeight);
  win.CaptureGeometry();
  EXPECT_EQ(win.Geometry.Height, kTimelineMinHeight);
  win.hide();
}

// The decoded text of a noisy generated signal, with or without a timeline fed every block.
std::string DecodeWithTimeline(bool withTimeline) {
  MorseSignalParams p;
  p.wpm = 20;
  p.toneHz = 700;
  p.snrDb = 12;
  p.seed = 7;
  const auto samples = GenerateMorse("VVV VVV CQ CQ DE K1ABC K1ABC PSE K", p);

  TimelineWindow win;
  struct Sink : ReceiverSink {
    TimelineWindow* win = nullptr;
    void TimelineBlock(const Receiver& rx) override { win->AddBlock(rx); }
  } sink;
  sink.win = &win;
  TextRecorder text;
  Receiver rx(text, &sink);
  StartLikeTheWindow(rx, p.toneHz);
  rx.TimelineEnabled = withTimeline;
  if (withTimeline) win.Enable();
  for (const auto& block : CaptureBlocks(samples)) rx.ProcessTextBlock(block.data());
  const std::vector<uint8_t> silence(2 * kBlockFrames, 0);
  for (int i = 0; i < 10; ++i) rx.ProcessTextBlock(silence.data());
  return text.text;
}

TEST(TimelineDecoding, AnOpenTimelineNeverChangesTheDecodedText) {
  const std::string without = DecodeWithTimeline(false);
  const std::string with = DecodeWithTimeline(true);
  EXPECT_NE(without.find("k1abc"), std::string::npos) << without;
  EXPECT_EQ(with, without);
}

}  // namespace
}  // namespace kestrix::testing
