#include "display/spectrum_display.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>

#include "display/raster.h"
#include "receive/receiver.h"

namespace kestrix {

namespace {

constexpr QRgb kBlack = 0xFF000000;
constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kBlue = 0xFF0000FF;
constexpr QRgb kRed = 0xFFFF0000;

// The clears reach past the bitmap's width on purpose: the rectangles are those of the
// widest layout, the bitmap clips them.
constexpr int kClearWidth = 570;      // start, type switch, Manual frame
constexpr int kTextClearWidth = 557;  // Text frame
constexpr int kLineBins = 422;        // bins the line graph draws
constexpr int kWaterfallBins = 423;   // bins the waterfall draws
constexpr int kManualThresholdLineEnd = 512;

int64_t TruncToInt64Saturate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.0e18) return std::numeric_limits<int64_t>::max();
  if (v <= -9.0e18) return std::numeric_limits<int64_t>::min();
  return static_cast<int64_t>(v);
}

}  // namespace

QRgb WaterfallColour(int v) {
  struct Band {
    int below;  // first level of the next band
    QRgb colour;
  };
  static constexpr Band kBands[] = {
      {2, 0xFF000000},    // black
      {8, 0xFF808080},    // grey
      {16, 0xFFC0C0C0},   // silver
      {24, 0xFF800000},   // maroon
      {32, 0xFF000080},   // navy
      {40, 0xFF800080},   // purple
      {56, 0xFF0000FF},   // blue
      {64, 0xFF008080},   // teal
      {72, 0xFF808000},   // olive
      {80, 0xFF008000},   // green
      {88, 0xFF00FF00},   // lime
      {92, 0xFFFFFF00},   // yellow
      {110, 0xFFFF0000},  // red
      {120, 0xFFFF00FF},  // fuchsia
  };
  for (const Band& b : kBands) {
    if (v < b.below) return b.colour;
  }
  return 0xFFFFFFFF;  // white
}

SpectrumDisplay::SpectrumDisplay(QWidget* parent, int bitmapWidth)
    : QWidget(parent),
      spectrumBitmap_(bitmapWidth, kDisplayBitmapHeight, QImage::Format_RGB32),
      waterfallBitmap_(bitmapWidth, kDisplayBitmapHeight, QImage::Format_RGB32),
      shown_(&spectrumBitmap_) {
  setObjectName("SpectrumBox");
  setToolTip("Click on the signal to decode text");
  resize(kSpectrumBoxWidth, kSpectrumBoxHeight);
  spectrumBitmap_.fill(kWhite);
  waterfallBitmap_.fill(kBlack);
  // The bitmap covers the whole box on every paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
}

void SpectrumDisplay::ClearForStart(int displayHeight) {
  raster::FillRect(spectrumBitmap_, 0, 0, kClearWidth, displayHeight, kWhite);
  raster::FillRect(waterfallBitmap_, 0, 0, kClearWidth, displayHeight, kBlack);
}

void SpectrumDisplay::ClearLineBlack(int displayHeight) {
  raster::FillRect(spectrumBitmap_, 0, 0, kClearWidth, displayHeight, kBlack);
}

void SpectrumDisplay::ClearTextFrame(int displayHeight) {
  raster::FillRect(spectrumBitmap_, 0, 0, kTextClearWidth, displayHeight, kWhite);
}

void SpectrumDisplay::DrawTextFrame(const Receiver& rx, int displayHeight) {
  if (rx.Display == DisplayType::kWaterfall) {
    DrawTextWaterfall(rx, displayHeight);
  } else {
    DrawTextLine(rx, displayHeight);
  }
}

void SpectrumDisplay::DrawTextLine(const Receiver& rx, int h) {
  QImage& bmp = spectrumBitmap_;
  raster::FillRect(bmp, 0, 0, kTextClearWidth, h, kWhite);

  // The trace rises with the square root of the bin's excess over three times the noise
  // average, square-rooted again, so weak signals show and strong ones stay on the chart.
  // Bins at or below that line lie flat at y = 96 whatever the height.
  const int baseline = h - 20;
  const double noiseRoot = std::sqrt(3.0 * static_cast<double>(rx.Sq.NoiseAverage));
  int x = 0;
  int y = baseline;
  for (int j = 1; j <= kLineBins; ++j) {
    const double a = rx.SmoothedSpectrum[static_cast<size_t>(j)];
    const double d = std::sqrt(a) - noiseRoot;
    int rise;
    if (d > 0.0) {
      const double r = std::sqrt(d) + 3.0;
      rise = r > baseline ? baseline : raster::TruncSaturate(r);
    } else {
      rise = baseline - 96;
    }
    raster::DrawLine(bmp, x, y, j, baseline - rise, kBlack);
    x = j;
    y = baseline - rise;
  }

  const int p = rx.FrequencyBar;
  raster::DrawLine(bmp, p, h, p, 0, kBlue);

  // MkrLabel: rebuilt only when the frequency changes, but sent every frame, because a
  // click writes a bare number there that this frame replaces.
  if (rx.Tone.MarkerHz != lastMarkerHz_ || markerText_.isEmpty()) {
    lastMarkerHz_ = rx.Tone.MarkerHz;
    markerText_ = QString::number(rx.Tone.MarkerHz) + QStringLiteral(" Hz");
  }
  emit markerTextChanged(markerText_);

  if (rx.Options.Threshold == ThresholdMode::kManual) {
    const int ty = rx.Options.ThresholdBar2Position * 16 / 35;
    raster::DrawLine(bmp, 0, ty, width(), ty, kBlue);
  }
  Show(&spectrumBitmap_);
}

void SpectrumDisplay::DrawTextWaterfall(const Receiver& rx, int h) {
  QImage& bmp = waterfallBitmap_;
  QRgb* top = reinterpret_cast<QRgb*>(bmp.scanLine(0));
  const int bins = std::min(kWaterfallBins, bmp.width() - 1);
  for (int j = 1; j <= bins; ++j) {
    top[j] = WaterfallColour(raster::TruncSaturate(rx.SmoothedSpectrum[static_cast<size_t>(j)]));
  }
  // One row down: the newest row then sits in rows 0 and 1, and the next frame
  // overwrites row 0.
  const qsizetype stride = bmp.bytesPerLine();
  uchar* bits = bmp.bits();
  std::memmove(bits + stride, bits, static_cast<size_t>(stride * (bmp.height() - 1)));

  const int p = rx.FrequencyBar;
  raster::DrawLine(bmp, p, h, p, 0, kWhite);
  Show(&waterfallBitmap_);
}

void SpectrumDisplay::DrawManualFrame(const Receiver& rx, int h) {
  QImage& bmp = spectrumBitmap_;
  raster::FillRect(bmp, 0, 0, kClearWidth, h, kWhite);

  // Manual mode's own scale: the power divided by 2^19, offset by 6 pixels.
  int x = 0;
  int y = h;
  for (int i = 1; i <= kLineBins; ++i) {
    const int64_t t = TruncToInt64Saturate(rx.SmoothedSpectrum[static_cast<size_t>(i)]);
    int64_t rise = (t >> 19) + 6;
    if (rise > h) rise = h;
    // Only a negative power could push the point below the box; keep it in int range.
    const int ny = static_cast<int>(std::min<int64_t>(h - rise, 2 * int64_t{h} + 2));
    raster::DrawLine(bmp, x, y, i + 1, ny, kBlack);
    x = i + 1;
    y = ny;
  }

  const int p = rx.FrequencyBar;
  raster::DrawLine(bmp, p, h, p, 0, kRed);
  if (rx.Options.Threshold == ThresholdMode::kManual) {
    const int ty = rx.Options.ThresholdBar2Position;
    raster::DrawLine(bmp, 0, ty, kManualThresholdLineEnd, ty, kRed);
  }
  Show(&spectrumBitmap_);
}

void SpectrumDisplay::Show(const QImage* bitmap) {
  shown_ = bitmap;
  update();
}

void SpectrumDisplay::paintEvent(QPaintEvent* /*event*/) {
  QPainter painter(this);
  painter.drawImage(0, 0, *shown_);
  // Beyond the bitmap (a box wider than the image panel) stays white.
  if (width() > shown_->width()) {
    painter.fillRect(shown_->width(), 0, width() - shown_->width(), height(), Qt::white);
  }
  if (height() > shown_->height()) {
    painter.fillRect(0, shown_->height(), width(), height() - shown_->height(), Qt::white);
  }
}

void SpectrumDisplay::mousePressEvent(QMouseEvent* event) {
  emit mouseDown(static_cast<int>(event->position().x()));
  event->accept();
}

}  // namespace kestrix
