#include "shell/band_map_view.h"

#include <QMouseEvent>
#include <QPainter>
#include <algorithm>
#include <cmath>
#include <cstring>

#include "bandmap/label_layout.h"

namespace kestrix::shell {

namespace {
constexpr int kHistoryRows = 400;  // 40 s at ten rows a second
constexpr float kRangeDb = 36.0f;  // floor .. floor + this spans the colour scale
const QColor kStripColour(24, 26, 32);

// Black through blue and cyan to yellow and white.
QRgb Colour(float level) {
  level = std::clamp(level, 0.0f, 1.0f);
  struct Stop {
    float at;
    int r, g, b;
  };
  static const Stop stops[] = {{0.0f, 0, 0, 16},
                               {0.3f, 0, 40, 140},
                               {0.55f, 0, 170, 200},
                               {0.8f, 250, 230, 40},
                               {1.0f, 255, 255, 255}};
  for (size_t i = 1; i < std::size(stops); ++i) {
    if (level <= stops[i].at) {
      const Stop& a = stops[i - 1];
      const Stop& b = stops[i];
      const float t = (level - a.at) / (b.at - a.at);
      return qRgb(static_cast<int>(a.r + t * (b.r - a.r)), static_cast<int>(a.g + t * (b.g - a.g)),
                  static_cast<int>(a.b + t * (b.b - a.b)));
    }
  }
  return qRgb(255, 255, 255);
}
}  // namespace

BandMapView::BandMapView(QWidget* parent) : QWidget(parent) {
  setObjectName("BandMapView");
  setMinimumSize(320, WaterfallTop() + 60);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

double BandMapView::XOf(double hz) const {
  return bandmap::HzToX(hz, loHz_, hiHz_, width());
}

void BandMapView::AddRows(const std::vector<std::vector<float>>& rows, int columns, double loHz,
                          double hiHz) {
  if (columns <= 0) return;
  if (waterfall_.width() != columns || loHz != loHz_ || hiHz != hiHz_) {
    waterfall_ = QImage(columns, kHistoryRows, QImage::Format_RGB32);
    waterfall_.fill(Colour(0));
    loHz_ = loHz;
    hiHz_ = hiHz;
    Layout();
  }
  for (const auto& row : rows) {
    if (static_cast<int>(row.size()) != columns) continue;
    // The floor follows a low percentile of each row: the noise between the traces.
    std::vector<float> sorted(row);
    std::nth_element(sorted.begin(), sorted.begin() + columns / 5, sorted.end());
    const float rowFloor = sorted[static_cast<size_t>(columns / 5)];
    floorDb_ = haveFloor_ ? floorDb_ + 0.05f * (rowFloor - floorDb_) : rowFloor;
    haveFloor_ = true;
    // Scroll down one row; the new one goes on top.
    const qsizetype line = waterfall_.bytesPerLine();
    std::memmove(waterfall_.bits() + line, waterfall_.bits(),
                 static_cast<size_t>(line) * (kHistoryRows - 1));
    auto* top = reinterpret_cast<QRgb*>(waterfall_.scanLine(0));
    for (int c = 0; c < columns; ++c) {
      top[c] = Colour((row[static_cast<size_t>(c)] - floorDb_ + 3.0f) / kRangeDb);
    }
  }
  if (!rows.empty()) update();
}

void BandMapView::SetStations(const std::vector<bandmap::StationRow>& stations, double now,
                              double dialHz, bool lowerSideband) {
  stations_ = stations;
  now_ = now;
  dialHz_ = dialHz;
  lowerSideband_ = lowerSideband;
  Layout();
  update();
}

void BandMapView::Layout() {
  labels_.clear();
  // Strongest first: they get the row nearest the waterfall.
  std::vector<const bandmap::StationRow*> order;
  for (const auto& s : stations_) {
    if (s.audioHz < loHz_ || s.audioHz > hiHz_) continue;
    if (bandmap::LabelOpacity(now_ - s.lastHeard) <= 0.0) continue;
    order.push_back(&s);
  }
  std::stable_sort(order.begin(), order.end(),
                   [](const auto* a, const auto* b) { return a->snrDb > b->snrDb; });
  QFont bold = font();
  bold.setBold(true);
  const QFontMetrics metrics(bold);
  std::vector<bandmap::LabelBox> boxes;
  for (const auto* s : order) {
    boxes.push_back(
        {XOf(s->audioHz),
         static_cast<double>(metrics.horizontalAdvance(QString::fromStdString(s->call))) + 8});
  }
  const std::vector<int> rows = bandmap::PlaceLabels(boxes, kBandMapLabelRows, width());
  for (size_t i = 0; i < order.size(); ++i) {
    if (rows[i] < 0) continue;
    const double left = std::clamp(boxes[i].centreX - boxes[i].width / 2, 0.0,
                                   std::max(0.0, width() - boxes[i].width));
    const int top = (kBandMapLabelRows - 1 - rows[i]) * kBandMapLabelRowHeight;
    Label l;
    l.call = QString::fromStdString(order[i]->call);
    l.rect = QRect(static_cast<int>(std::lround(left)), top, static_cast<int>(boxes[i].width),
                   kBandMapLabelRowHeight - 2);
    l.audioHz = order[i]->audioHz;
    l.cq = order[i]->cq;
    l.opacity = bandmap::LabelOpacity(now_ - order[i]->lastHeard);
    labels_.push_back(l);
  }
}

void BandMapView::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  Layout();
}

void BandMapView::paintEvent(QPaintEvent* /*event*/) {
  QPainter p(this);
  const int top = WaterfallTop();
  p.fillRect(0, 0, width(), top, kStripColour);

  // The scale: a tick every 100 Hz, a figure every 500 Hz (kHz on the air with a dial).
  p.setPen(QColor(150, 150, 160));
  QFont small = font();
  small.setPointSizeF(std::max(6.0, small.pointSizeF() * 0.8));
  p.setFont(small);
  const int scaleTop = kBandMapLabelRows * kBandMapLabelRowHeight;
  for (int hz = static_cast<int>(std::ceil(loHz_ / 100.0)) * 100; hz <= hiHz_; hz += 100) {
    const int x = static_cast<int>(std::lround(XOf(hz)));
    const bool major = hz % 500 == 0;
    p.drawLine(x, top - (major ? 6 : 3), x, top - 1);
    if (major) {
      const QString text =
          QString::fromStdString(bandmap::FrequencyText(hz, dialHz_, lowerSideband_));
      p.drawText(QRect(x - 40, scaleTop, 80, kBandMapScaleHeight - 5), Qt::AlignCenter, text);
    }
  }

  if (!waterfall_.isNull()) {
    p.drawImage(QRect(0, top, width(), height() - top), waterfall_,
                QRect(0, 0, waterfall_.width(),
                      std::min(waterfall_.height(), std::max(1, height() - top))));
  } else {
    p.fillRect(0, top, width(), height() - top, QColor(Colour(0)));
  }

  QFont bold = font();
  bold.setBold(true);
  p.setFont(bold);
  for (const Label& l : labels_) {
    QColor c = l.cq ? CqColour() : OtherColour();
    c.setAlphaF(static_cast<float>(0.25 + 0.75 * l.opacity));
    const int x = static_cast<int>(std::lround(XOf(l.audioHz)));
    p.setPen(c);
    p.drawLine(x, l.rect.bottom() + 1, x, top + 4);
    QColor box = kStripColour;
    box.setAlphaF(0.85f);
    p.fillRect(l.rect, box);
    p.drawRect(l.rect.adjusted(0, 0, -1, -1));
    p.drawText(l.rect, Qt::AlignCenter, l.call);
  }
}

void BandMapView::mousePressEvent(QMouseEvent* event) {
  const QPoint at = event->position().toPoint();
  for (const Label& l : labels_) {
    if (l.rect.contains(at)) {
      emit tuneRequested(l.audioHz);
      event->accept();
      return;
    }
  }
  QWidget::mousePressEvent(event);
}

}  // namespace kestrix::shell
