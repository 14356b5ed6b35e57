// The spectrum box's bitmaps, pixel by pixel: the line graph's trace, marker and threshold
// line in Text and Manual mode, the waterfall's palette and scrolling, the clears, and
// what the box puts on screen.
#include "display/spectrum_display.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMouseEvent>
#include <cmath>
#include <limits>
#include <vector>

#include "display_test_support.h"
#include "receive/receiver.h"

namespace kestrix::testing {
namespace {

// Rows of column x holding `colour`.
std::vector<int> RowsWith(const QImage& img, int x, QRgb colour) {
  std::vector<int> rows;
  for (int y = 0; y < img.height(); ++y) {
    if (At(img, x, y) == colour) rows.push_back(y);
  }
  return rows;
}

constexpr int kHeights[] = {kDisplayHeightMenu, kDisplayHeightButton, kDisplayHeightScan};

class SpectrumDisplayTest : public ::testing::Test {
 protected:
  void SetSpectrum(float value) {
    for (float& a : rx.SmoothedSpectrum) a = value;
  }

  TextRecorder text;
  Receiver rx{text};
  SpectrumDisplay box;
};

TEST_F(SpectrumDisplayTest, SilentTraceLiesFlatAtRow96WhateverTheHeight) {
  rx.FrequencyBar = 300;
  rx.Sq.NoiseAverage = 50.0f;
  SetSpectrum(100.0f);  // below 3 x the noise average: no rise anywhere
  for (int h : kHeights) {
    SpectrumDisplay fresh;
    fresh.DrawTextFrame(rx, h);
    for (int x = 2; x <= 421; ++x) {
      if (x == 300) continue;
      EXPECT_EQ(RowsWith(fresh.SpectrumBitmap(), x, kBlack), std::vector<int>{96})
          << "x " << x << " H " << h;
    }
  }
}

TEST_F(SpectrumDisplayTest, TraceRisesByTheRootOfTheExcessPlusThree) {
  rx.FrequencyBar = 400;
  rx.Sq.NoiseAverage = 0.0f;
  SetSpectrum(0.0f);
  // sqrt(10000) - 0 = 100, sqrt(100) + 3 = 13 pixels above the baseline 110.
  rx.SmoothedSpectrum[150] = 10000.0f;
  box.DrawTextFrame(rx, 130);
  // The bin's own point is the lowest pixel of its column (the segments to it and from it
  // share the column).
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 150, kBlack).back(), 97);

  // Noise average 300: sqrt(3 x 300) = 30; sqrt(1600) - 30 = 10, trunc(sqrt(10) + 3) = 6.
  rx.Sq.NoiseAverage = 300.0f;
  rx.SmoothedSpectrum[150] = 1600.0f;
  box.DrawTextFrame(rx, 130);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 150, kBlack).back(), 104);
}

TEST_F(SpectrumDisplayTest, VeryStrongBinStopsAtTheTopRow) {
  rx.FrequencyBar = 10;
  rx.Sq.NoiseAverage = 1.0f;
  for (int h : kHeights) {
    for (float strong : {1e30f, std::numeric_limits<float>::infinity()}) {
      SetSpectrum(0.0f);
      rx.SmoothedSpectrum[200] = strong;
      box.DrawTextFrame(rx, h);
      const std::vector<int> rows = RowsWith(box.SpectrumBitmap(), 200, kBlack);
      ASSERT_FALSE(rows.empty());
      EXPECT_EQ(rows.front(), 0) << "H " << h;
      // The neighbours still lie on the flat line.
      EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 205, kBlack), std::vector<int>{96});
    }
  }
}

TEST_F(SpectrumDisplayTest, NotANumberDrawsNothingWorseThanTheFlatLine) {
  rx.FrequencyBar = 10;
  SetSpectrum(std::numeric_limits<float>::quiet_NaN());
  box.DrawTextFrame(rx, 130);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 200, kBlack), std::vector<int>{96});
  rx.Mode = ReceiveMode::kManual;
  box.DrawManualFrame(rx, 130);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 200, kBlack), std::vector<int>{124});
}

TEST_F(SpectrumDisplayTest, MarkerColumnInEachPictureAndColour) {
  SetSpectrum(0.0f);
  rx.FrequencyBar = 217;
  const int h = kDisplayHeightMenu;

  box.DrawTextFrame(rx, h);
  std::vector<int> expected;  // from (P, H) up to (P, 0)
  for (int y = 0; y <= h; ++y) expected.push_back(y);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 217, kBlue), expected);

  box.DrawManualFrame(rx, h);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 217, kRed), expected);

  rx.Display = DisplayType::kWaterfall;
  box.DrawTextFrame(rx, h);
  // The whole column down to H, and nothing beside it (a silent waterfall is black).
  for (int y = 0; y <= h; ++y) EXPECT_EQ(At(box.WaterfallBitmap(), 217, y), kWhite) << y;
  EXPECT_TRUE(RowsWith(box.WaterfallBitmap(), 216, kWhite).empty());
}

// The receiver computes the marker frequency; the box shows it with the unit.
TEST(MarkerLabel, ShowsTheTunedBinsFrequencyInHz) {
  const std::pair<int, const char*> cases[] = {{1, "0 Hz"}, {130, "694 Hz"}, {423, "2271 Hz"}};
  for (const auto& [bin, label] : cases) {
    TextRecorder text;
    struct Sink : ReceiverSink {
      SpectrumDisplay* box = nullptr;
      void SpectrumFrame(const Receiver& rx) override { box->DrawTextFrame(rx, 130); }
    } sink;
    SpectrumDisplay box;
    sink.box = &box;
    Receiver rx(text, &sink);
    StartLikeTheWindow(rx, 0.0);
    rx.SetFrequencyBar(bin);
    QStringList shown;
    QObject::connect(&box, &SpectrumDisplay::markerTextChanged,
                     [&shown](const QString& t) { shown << t; });

    const std::vector<uint8_t> silence(2 * kBlockFrames, 0);
    rx.ProcessTextBlock(silence.data());
    rx.ProcessTextBlock(silence.data());
    EXPECT_EQ(shown, QStringList({label, label})) << bin;

    // The waterfall leaves the label alone.
    rx.SetDisplayType(DisplayType::kWaterfall);
    rx.ProcessTextBlock(silence.data());
    EXPECT_EQ(shown.size(), 2) << bin;
  }
}

TEST(WaterfallColour, FifteenBandsFromBlackToWhite) {
  const struct {
    int v;
    QRgb colour;
  } cases[] = {
      {-1000, 0xFF000000}, {1, 0xFF000000},   {2, 0xFF808080},   {7, 0xFF808080},
      {8, 0xFFC0C0C0},     {15, 0xFFC0C0C0},  {16, 0xFF800000},  {23, 0xFF800000},
      {24, 0xFF000080},    {31, 0xFF000080},  {32, 0xFF800080},  {39, 0xFF800080},
      {40, 0xFF0000FF},    {55, 0xFF0000FF},  {56, 0xFF008080},  {63, 0xFF008080},
      {64, 0xFF808000},    {71, 0xFF808000},  {72, 0xFF008000},  {79, 0xFF008000},
      {80, 0xFF00FF00},    {87, 0xFF00FF00},  {88, 0xFFFFFF00},  {91, 0xFFFFFF00},
      {92, 0xFFFF0000},    {109, 0xFFFF0000}, {110, 0xFFFF00FF}, {119, 0xFFFF00FF},
      {120, 0xFFFFFFFF},   {500, 0xFFFFFFFF},
  };
  for (const auto& c : cases) EXPECT_EQ(WaterfallColour(c.v), c.colour) << "v " << c.v;
}

TEST_F(SpectrumDisplayTest, WaterfallScrollsOneRowAndKeepsItsRowsAcrossTypeSwitches) {
  rx.FrequencyBar = 400;
  rx.Display = DisplayType::kWaterfall;
  const QRgb red = WaterfallColour(100), teal = WaterfallColour(60), silver = WaterfallColour(10),
             navy = WaterfallColour(30);
  for (float level : {100.0f, 60.0f, 10.0f}) {
    SetSpectrum(level);
    box.DrawTextFrame(rx, 130);
  }
  auto column = [&](int rows) {
    std::vector<QRgb> c;
    for (int y = 0; y < rows; ++y) c.push_back(At(box.WaterfallBitmap(), 50, y));
    return c;
  };
  // The newest frame fills rows 0 and 1, each older one a row below.
  EXPECT_EQ(column(6), (std::vector<QRgb>{silver, silver, teal, red, kBlack, kBlack}));

  // To Line and back: the line frames don't touch the waterfall.
  box.ClearLineBlack(130);
  rx.Display = DisplayType::kLine;
  SetSpectrum(0.0f);
  box.DrawTextFrame(rx, 130);
  box.ClearLineBlack(130);
  rx.Display = DisplayType::kWaterfall;
  SetSpectrum(30.0f);
  box.DrawTextFrame(rx, 130);
  EXPECT_EQ(column(7), (std::vector<QRgb>{navy, navy, silver, teal, red, kBlack, kBlack}));
}

TEST_F(SpectrumDisplayTest, ThresholdLineSitsAtTheScaledBarPositionForTheManualTypeOnly) {
  // Manual mode: one pixel per step. Text mode: 16/35 pixel per step, truncated.
  const struct {
    bool manualMode;
    int position, row;
  } cases[] = {{true, 0, 0},    {true, 60, 60},  {true, 61, 61},  {true, 129, 129}, {false, 0, 0},
               {false, 34, 15}, {false, 35, 16}, {false, 60, 27}, {false, 250, 114}};
  rx.FrequencyBar = 5;
  SetSpectrum(0.0f);
  for (const auto& c : cases) {
    SpectrumDisplay fresh;
    const QRgb colour = c.manualMode ? kRed : kBlue;
    auto draw = [&](ThresholdMode type) -> const QImage& {
      rx.Options.Threshold = type;
      c.manualMode ? fresh.DrawManualFrame(rx, 130) : fresh.DrawTextFrame(rx, 130);
      return fresh.SpectrumBitmap();
    };
    rx.Options.ThresholdBar2Position = c.position;
    draw(ThresholdMode::kManual);
    for (int x : {0, 150, 300, 420}) {
      EXPECT_EQ(RowsWith(fresh.SpectrumBitmap(), x, colour), std::vector<int>{c.row})
          << "x " << x << " position " << c.position << " manual " << c.manualMode;
    }
    EXPECT_TRUE(RowsWith(draw(ThresholdMode::kNoisy), 300, colour).empty()) << c.position;
  }
}

TEST_F(SpectrumDisplayTest, ManualTraceUsesItsOwnShiftedScale) {
  rx.FrequencyBar = 5;
  SetSpectrum(0.0f);
  rx.SmoothedSpectrum[100] = 10.0f * 524288.0f;  // 10 after the shift by 19: 16 pixels up
  rx.SmoothedSpectrum[200] = 1e30f;              // capped at H
  box.DrawManualFrame(rx, 130);
  // Bin i is drawn at x = i + 1; silence lies 6 pixels above the bottom.
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 101, kBlack).front(), 130 - 16);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 201, kBlack).front(), 0);
  EXPECT_EQ(RowsWith(box.SpectrumBitmap(), 300, kBlack), std::vector<int>{124});
}

TEST_F(SpectrumDisplayTest, ClearsCoverTheDisplayHeightOnly) {
  box.ClearLineBlack(130);
  box.ClearForStart(kDisplayHeightMenu);
  EXPECT_EQ(At(box.SpectrumBitmap(), 452, 119), kWhite);
  EXPECT_EQ(At(box.SpectrumBitmap(), 0, 120), kBlack);  // below H: left as it was
  EXPECT_EQ(At(box.WaterfallBitmap(), 452, 119), kBlack);

  box.ClearLineBlack(kDisplayHeightMenu);
  EXPECT_EQ(At(box.SpectrumBitmap(), 200, 0), kBlack);
  box.ClearTextFrame(kDisplayHeightScan);  // taller than the bitmap: clipped
  EXPECT_EQ(At(box.SpectrumBitmap(), 200, 129), kWhite);
}

TEST_F(SpectrumDisplayTest, BoxShowsTheBitmapDrawnLast) {
  box.resize(kImagePanelWidth, kDisplayBitmapHeight);
  rx.FrequencyBar = 100;
  SetSpectrum(0.0f);
  rx.Display = DisplayType::kWaterfall;
  box.DrawTextFrame(rx, 130);
  EXPECT_EQ(box.ShownBitmap(), &box.WaterfallBitmap());
  QImage shot = box.grab().toImage();
  EXPECT_EQ(At(shot, 50, 50), kBlack);
  EXPECT_EQ(At(shot, 100, 50), kWhite);

  rx.Display = DisplayType::kLine;
  box.DrawTextFrame(rx, 130);
  EXPECT_EQ(box.ShownBitmap(), &box.SpectrumBitmap());
  shot = box.grab().toImage();
  EXPECT_EQ(At(shot, 50, 50), kWhite);
  EXPECT_EQ(At(shot, 50, 96), kBlack);
  EXPECT_EQ(At(shot, 100, 50), kBlue);
}

TEST_F(SpectrumDisplayTest, AnyMouseButtonReportsTheClickColumn) {
  std::vector<int> clicks;
  QObject::connect(&box, &SpectrumDisplay::mouseDown, [&clicks](int x) { clicks.push_back(x); });
  for (auto [button, x] : {std::pair{Qt::LeftButton, 150}, std::pair{Qt::RightButton, 600}}) {
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(x, 40), QPointF(x, 40), button, button,
                      Qt::NoModifier);
    QApplication::sendEvent(&box, &press);
  }
  EXPECT_EQ(clicks, (std::vector<int>{150, 600}));
}

}  // namespace
}  // namespace kestrix::testing
