// The spectrum area of the main window: the paint box that shows the line graph or the
// waterfall of the receive input, and that a click retunes.
//
// Every picture is built off-screen in SpectrumBitmap (line graph) or WaterfallBitmap
// (waterfall), both as wide as the image panel and 130 pixels high, and the widget's paint
// handler only copies the bitmap drawn last onto the screen. The numeric display work
// (spectrum gain, line smoothing, the waterfall's 6 ln(S + 1), the marker frequency) is
// done by Receiver before it calls SpectrumFrame, so that the decoder sees the same scaled
// spectrum with or without a window; this class only draws from those arrays.
//
// GUI thread only (the receive loop runs there). Drawing allocates nothing except the
// marker label's string.
#pragma once

#include <QImage>
#include <QRgb>
#include <QString>
#include <QWidget>

#include "receive/display_heights.h"

namespace kestrix {

class Receiver;

inline constexpr int kImagePanelWidth = 453;      // pixels: width of both display bitmaps
inline constexpr int kDisplayBitmapHeight = 130;  // pixels: height of both display bitmaps
inline constexpr int kSpectrumBoxWidth = 423;     // pixels: the paint box at creation
inline constexpr int kSpectrumBoxHeight = 98;
// Waterfall palette: integer level (6 ln(power + 1), truncated) to colour, in 15 bands
// from black (below 2) to white (120 and above).
QRgb WaterfallColour(int v);

class SpectrumDisplay : public QWidget {
  Q_OBJECT

 public:
  // bitmapWidth: width of both bitmaps in pixels (the image panel's width).
  explicit SpectrumDisplay(QWidget* parent = nullptr, int bitmapWidth = kImagePanelWidth);

  // Text-mode frame step: the line graph (trace, blue marker, manual-threshold line,
  // marker label) or one waterfall row (white marker), by rx.Display. displayHeight is H.
  void DrawTextFrame(const Receiver& rx, int displayHeight);
  // Manual-mode frame step: always a line graph on its own scale, red marker and red
  // manual-threshold line.
  void DrawManualFrame(const Receiver& rx, int displayHeight);

  // Receive-loop start: SpectrumBitmap white, WaterfallBitmap black over (0,0)-(570,H).
  void ClearForStart(int displayHeight);
  // Display > Type "Line" / "Waterfall" (and the arrow keys): SpectrumBitmap black over
  // (0,0)-(570,H). The waterfall keeps its rows.
  void ClearLineBlack(int displayHeight);
  // First step of every TEXT pass: SpectrumBitmap white over (0,0)-(557,H).
  void ClearTextFrame(int displayHeight);

  const QImage& SpectrumBitmap() const { return spectrumBitmap_; }
  const QImage& WaterfallBitmap() const { return waterfallBitmap_; }
  // The bitmap the widget shows: the one drawn last (SpectrumBitmap before any frame).
  const QImage* ShownBitmap() const { return shown_; }
  // Text of the marker label after the last line-type Text frame ("<F> Hz").
  const QString& MarkerText() const { return markerText_; }

 signals:
  // Any mouse button pressed on the box, at x pixels: the window retunes with it.
  void mouseDown(int x);
  // New text for MkrLabel, "<F> Hz", after each line-type Text frame.
  void markerTextChanged(const QString& text);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  void DrawTextLine(const Receiver& rx, int h);
  void DrawTextWaterfall(const Receiver& rx, int h);
  void Show(const QImage* bitmap);

  QImage spectrumBitmap_;
  QImage waterfallBitmap_;
  const QImage* shown_;
  QString markerText_;
  int lastMarkerHz_ = -1;
};

}  // namespace kestrix
