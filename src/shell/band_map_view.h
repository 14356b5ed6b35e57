// The band map's picture: a strip of call labels over a waterfall of the receiver's audio
// passband. Each station's call sits over its trace (calling CQ in amber, others in sky
// blue), fading out as the station stays quiet; a click on a label asks to tune there.
//
// Paints what the window hands it (AddRows, SetStations); no engine access. GUI thread.
#pragma once

#include <QImage>
#include <QWidget>
#include <vector>

#include "bandmap/station_list.h"

namespace kestrix::shell {

inline constexpr int kBandMapLabelRows = 3;
inline constexpr int kBandMapLabelRowHeight = 18;
inline constexpr int kBandMapScaleHeight = 16;  // kHz / Hz ticks under the labels

class BandMapView : public QWidget {
  Q_OBJECT

 public:
  explicit BandMapView(QWidget* parent = nullptr);

  // New waterfall rows (dB per column, oldest first) over [loHz, hiHz].
  void AddRows(const std::vector<std::vector<float>>& rows, int columns, double loHz, double hiHz);
  // The stations to label; `now` is the UTC the fading is measured from.
  void SetStations(const std::vector<bandmap::StationRow>& stations, double now, double dialHz,
                   bool lowerSideband);

  // A label as painted, for clicks and tests: widget coordinates.
  struct Label {
    QString call;
    QRect rect;
    double audioHz = 0;
    bool cq = false;
    double opacity = 1;
  };
  const std::vector<Label>& Labels() const { return labels_; }
  // The x of `hz` in the widget, and the top of the waterfall.
  double XOf(double hz) const;
  int WaterfallTop() const {
    return kBandMapLabelRows * kBandMapLabelRowHeight + kBandMapScaleHeight;
  }

  static QColor CqColour() { return QColor(255, 176, 0); }
  static QColor OtherColour() { return QColor(110, 200, 255); }

 signals:
  // A label was clicked: tune the receiver to `audioHz`.
  void tuneRequested(double audioHz);

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  QSize sizeHint() const override { return {800, 360}; }

 private:
  void Layout();

  QImage waterfall_;  // columns x history, newest row at the top
  double loHz_ = 200.0, hiHz_ = 3000.0;
  float floorDb_ = -100.0f;  // running noise floor for the colour scale
  bool haveFloor_ = false;
  std::vector<bandmap::StationRow> stations_;
  double now_ = 0.0;
  double dialHz_ = 0.0;
  bool lowerSideband_ = false;
  std::vector<Label> labels_;
};

}  // namespace kestrix::shell
