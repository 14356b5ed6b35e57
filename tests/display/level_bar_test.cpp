// The input level bar: digit and colour bands from the noise floor, the fill, and no
// repaint while the digit stays the same.
#include "display/level_bar.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <cmath>

namespace kestrix::testing {
namespace {

const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kGrey40(0x66, 0x66, 0x66);

// The receiver's level: 9.5 ln(NoiseFloor).
float LevelOf(double noiseFloor) {
  return 9.5f * static_cast<float>(std::log(noiseFloor));
}

TEST(LevelBar, StartsAtFiftyInAqua) {
  LevelBar bar;
  EXPECT_EQ(bar.objectName(), "SignalBar");
  EXPECT_EQ(bar.size(), QSize(70, 18));
  EXPECT_EQ(bar.Digit(), 50);
  EXPECT_EQ(bar.BarColour(), kAqua);
}

TEST(LevelBar, NoiseFloorToDigitAndColourBand) {
  const struct {
    double floor;
    int digit;
    QColor colour;
  } cases[] = {
      {1.0, 0, kYellow},     {23.0, 29, kYellow},  {23.6, 30, kAqua}, {1000.0, 65, kAqua},
      {41000.0, 100, kAqua}, {41500.0, 101, kRed}, {1e6, 131, kRed},  {23.6, 30, kAqua},
  };
  LevelBar bar;
  for (const auto& c : cases) {
    bar.SetInputLevel(LevelOf(c.floor));
    EXPECT_EQ(bar.Digit(), c.digit) << "floor " << c.floor;
    EXPECT_EQ(bar.BarColour(), c.colour) << "floor " << c.floor;
  }
}

TEST(LevelBar, FillsInProportionToTheDigit) {
  LevelBar bar;
  // Bar area 64 x 12 inside 3 pixels of bevels.
  auto filledColumns = [&bar] {
    const QImage img = bar.grab().toImage();
    int n = 0;
    for (int x = 3; x < 67; ++x) n += QColor(img.pixel(x, 9)) != kGrey40 ? 1 : 0;
    return n;
  };
  EXPECT_EQ(filledColumns(), 32);
  bar.SetInputLevel(0.0f);
  EXPECT_EQ(filledColumns(), 0);
  bar.SetInputLevel(100.0f);
  EXPECT_EQ(filledColumns(), 64);
  bar.SetInputLevel(250.0f);
  EXPECT_EQ(filledColumns(), 64);
  EXPECT_EQ(QColor(bar.grab().toImage().pixel(10, 9)), kRed);
}

TEST(LevelBar, RepaintsOnlyWhenTheDigitChanges) {
  LevelBar bar;
  bar.show();
  QApplication::processEvents();
  const int base = bar.RepaintCount();

  bar.SetInputLevel(50.9f);  // still 50
  bar.SetInputLevel(50.1f);
  QApplication::processEvents();
  EXPECT_EQ(bar.RepaintCount(), base);

  bar.SetInputLevel(51.2f);
  QApplication::processEvents();
  EXPECT_EQ(bar.RepaintCount(), base + 1);
  bar.SetInputLevel(51.7f);
  QApplication::processEvents();
  EXPECT_EQ(bar.RepaintCount(), base + 1);
}

}  // namespace
}  // namespace kestrix::testing
