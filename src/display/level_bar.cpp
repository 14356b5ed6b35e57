#include "display/level_bar.h"

#include <QPainter>
#include <algorithm>
#include <cmath>

#include "display/raster.h"

namespace kestrix {

namespace {

const QColor kYellow(0xFF, 0xFF, 0x00);
const QColor kAqua(0x00, 0xFF, 0xFF);
const QColor kRed(0xFF, 0x00, 0x00);
const QColor kBackground(0x66, 0x66, 0x66);  // grey at 40 % brightness
const QColor kBevelLight(0xFF, 0xFF, 0xFF);
const QColor kBevelDark(0x80, 0x80, 0x80);

// Outer bevel 1 pixel, 1 pixel spacing, inner bevel 1 pixel: the bar starts 3 pixels in.
constexpr int kBarInset = 3;

// Top and left edges in `topLeft`, bottom and right edges in `bottomRight`.
void Bevel(QPainter& p, const QRect& r, const QColor& topLeft, const QColor& bottomRight) {
  p.setPen(topLeft);
  p.drawLine(r.left(), r.top(), r.right(), r.top());
  p.drawLine(r.left(), r.top(), r.left(), r.bottom());
  p.setPen(bottomRight);
  p.drawLine(r.left(), r.bottom(), r.right(), r.bottom());
  p.drawLine(r.right(), r.top(), r.right(), r.bottom());
}

}  // namespace

LevelBar::LevelBar(QWidget* parent) : QWidget(parent) {
  setObjectName("SignalBar");
  // Room for both bevels around the smallest bar area of 25 x 12 pixels.
  setMinimumSize(25 + 2 * kBarInset, 12 + 2 * kBarInset);
  resize(kLevelBarWidth, kLevelBarHeight);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void LevelBar::SetInputLevel(float inputLevel) {
  const int digit = raster::TruncSaturate(inputLevel);
  if (digit == digit_) return;
  digit_ = digit;
  if (digit > kLevelHighDigit) {
    colour_ = kRed;
  } else if (digit < kLevelLowDigit) {
    colour_ = kYellow;
  } else {
    colour_ = kAqua;
  }
  update();
}

void LevelBar::paintEvent(QPaintEvent* /*event*/) {
  ++repaintCount_;
  QPainter p(this);
  const QRect all = rect();
  p.fillRect(all, kBackground);
  Bevel(p, all, kBevelLight, kBevelDark);
  const QRect inner = all.adjusted(kBarInset - 1, kBarInset - 1, 1 - kBarInset, 1 - kBarInset);
  Bevel(p, inner, kBevelDark, kBevelLight);

  // 0..100 fills 0..100 % of the bar area; an overload shows as a full bar.
  const QRect area = all.adjusted(kBarInset, kBarInset, -kBarInset, -kBarInset);
  const int filled = area.width() * std::clamp(digit_, 0, 100) / 100;
  if (filled > 0) p.fillRect(area.left(), area.top(), filled, area.height(), colour_);
}

}  // namespace kestrix
