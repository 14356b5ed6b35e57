#include "display/raster.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>

namespace kestrix::raster {

namespace {

inline void Plot(QImage& image, int x, int y, QRgb colour) {
  if (x < 0 || y < 0 || x >= image.width() || y >= image.height()) return;
  reinterpret_cast<QRgb*>(image.scanLine(y))[x] = colour;
}

}  // namespace

void FillRect(QImage& image, int x0, int y0, int x1, int y1, QRgb colour) {
  x0 = std::max(x0, 0);
  y0 = std::max(y0, 0);
  x1 = std::min(x1, image.width());
  y1 = std::min(y1, image.height());
  if (x0 >= x1 || y0 >= y1) return;
  for (int y = y0; y < y1; ++y) {
    QRgb* row = reinterpret_cast<QRgb*>(image.scanLine(y));
    std::fill(row + x0, row + x1, colour);
  }
}

void DrawLine(QImage& image, int x0, int y0, int x1, int y1, QRgb colour) {
  // A margin of one image size either side keeps the slope of any line that can touch
  // the picture close enough and bounds the loop below.
  const int w = image.width();
  const int h = image.height();
  x0 = std::clamp(x0, -w, 2 * w);
  x1 = std::clamp(x1, -w, 2 * w);
  y0 = std::clamp(y0, -h, 2 * h);
  y1 = std::clamp(y1, -h, 2 * h);

  const int dx = std::abs(x1 - x0);
  const int dy = -std::abs(y1 - y0);
  const int sx = x0 < x1 ? 1 : -1;
  const int sy = y0 < y1 ? 1 : -1;
  int err = dx + dy;
  for (;;) {
    Plot(image, x0, y0, colour);
    if (x0 == x1 && y0 == y1) break;
    const int e2 = 2 * err;
    if (e2 >= dy) {
      err += dy;
      x0 += sx;
    }
    if (e2 <= dx) {
      err += dx;
      y0 += sy;
    }
  }
}

int TruncSaturate(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 1e9) return 1000000000;
  if (v <= -1e9) return -1000000000;
  return static_cast<int>(v);
}

}  // namespace kestrix::raster
