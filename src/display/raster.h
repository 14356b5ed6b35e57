// Plain pixel drawing into 32-bit off-screen bitmaps: filled rectangles and one-pixel
// lines. The displays draw a few hundred segments per block; doing it directly on the
// scan lines keeps that to microseconds, allocates nothing and gives the exact pixels the
// tests check.
#pragma once

#include <QImage>
#include <QRgb>

namespace kestrix::raster {

// Fills x in [x0, x1), y in [y0, y1), clipped to the image. The image must be RGB32.
void FillRect(QImage& image, int x0, int y0, int x1, int y1, QRgb colour);

// One-pixel line from (x0, y0) to (x1, y1), both end points drawn, clipped to the image.
// Coordinates far outside the image are pulled in first, so a wild value costs no time.
void DrawLine(QImage& image, int x0, int y0, int x1, int y1, QRgb colour);

// Truncates toward zero into an int, saturating at +-1e9 and mapping NaN to 0 (values
// from the spectrum can be huge or, from a bad input, not numbers at all).
int TruncSaturate(double v);

}  // namespace kestrix::raster
