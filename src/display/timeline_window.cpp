#include "display/timeline_window.h"

#include <QCloseEvent>
#include <QFrame>
#include <QPainter>
#include <QPushButton>
#include <QShowEvent>
#include <algorithm>
#include <cmath>
#include <cstring>
#include <utility>

#include "display/raster.h"
#include "receive/receiver.h"

namespace kestrix {

namespace {

constexpr QRgb kWhite = 0xFFFFFFFF;
constexpr QRgb kLevelColour = 0xFF000000;      // black: tone level
constexpr QRgb kThresholdColour = 0xFF0000FF;  // blue: decision threshold
constexpr QRgb kFloorColour = 0xFF800000;      // maroon: noise floor
constexpr QRgb kKeyColour = 0xFFFF0000;        // red: key decision
const QColor kSkyBlue(0xA6, 0xCA, 0xF0);
constexpr int kPaintBoxMaxWidth = 1600;  // pixels
constexpr int kPaintBoxMaxHeight = 1200;

// Detector steps of a block sit at index 2..65 of the decoder's per-step arrays.
constexpr int kFirstStep = 2;

}  // namespace

TimelineWindow::TimelineWindow(QWidget* parent) : QWidget(parent, Qt::Window) {
  setObjectName("TTimeLineForm");
  setWindowTitle("Time Line Display");
  setMinimumSize(kTimelineMinWidth, kTimelineMinHeight);
  // Closing the main window ends the program even while the chart is open.
  setAttribute(Qt::WA_QuitOnClose, false);
  QPalette pal = palette();
  pal.setColor(QPalette::Window, Qt::white);
  setPalette(pal);
  setAutoFillBackground(true);

  basePanel_ = new QFrame(this);
  basePanel_->setObjectName("TimeBasePanel");
  paintBox_ = new QWidget(basePanel_);
  paintBox_->setObjectName("SpectrumBox3");
  paintBox_->setMaximumSize(kPaintBoxMaxWidth, kPaintBoxMaxHeight);
  paintBox_->setAttribute(Qt::WA_OpaquePaintEvent);
  paintBox_->installEventFilter(this);

  controlBar_ = new QFrame(this);
  controlBar_->setObjectName("TimeControl");
  QPalette barPal = controlBar_->palette();
  barPal.setColor(QPalette::Window, kSkyBlue);
  controlBar_->setPalette(barPal);
  controlBar_->setAutoFillBackground(true);

  auto makeButton = [this](const char* name, const char* caption, int x) {
    auto* b = new QPushButton(caption, controlBar_);
    b->setObjectName(name);
    b->setGeometry(x, 3, 75, kTimelineControlHeight - 6);
    return b;
  };
  stopButton_ = makeButton("TimeStopBtn", "STOP", 8);
  startButton_ = makeButton("TimeStartBtn", "START", 91);
  closeButton_ = makeButton("TimeCloseBtn", "CLOSE", 174);
  QPalette startPal = startButton_->palette();
  startPal.setColor(QPalette::ButtonText, Qt::blue);
  startButton_->setPalette(startPal);
  connect(stopButton_, &QPushButton::clicked, this, &TimelineWindow::TimeStopBtnClick);
  connect(startButton_, &QPushButton::clicked, this, &TimelineWindow::TimeStartBtnClick);
  connect(closeButton_, &QPushButton::clicked, this, &TimelineWindow::TimeCloseBtnClick);

  ApplyGeometry();
  SyncSize();
  referenceHeight_ = std::max(height(), 1);
  UpdateScale();
}

TimelineWindow::~TimelineWindow() {
  // The settings writer reads Geometry; whoever writes the file at program end should
  // call CaptureGeometry before destroying the window, this keeps the last word here.
  CaptureGeometry();
}

void TimelineWindow::ApplyGeometry() {
  move(Geometry.Left, Geometry.Top);
  // The minimum size applies: the default height 240 opens 320 pixels high.
  resize(Geometry.Width, Geometry.Height);
  SyncSize();
}

void TimelineWindow::CaptureGeometry() {
  Geometry.Top = y();
  Geometry.Left = x();
  Geometry.Height = height();
  Geometry.Width = width();
}

void TimelineWindow::Enable() {
  ApplyGeometry();
  Shown = true;
  Running = true;
  if (isVisible()) {
    raise();  // already open somewhere: bring it to the front
  } else {
    show();
  }
}

void TimelineWindow::TimeStartBtnClick() {
  Running = true;
}

void TimelineWindow::TimeStopBtnClick() {
  Running = false;
}

void TimelineWindow::TimeCloseBtnClick() {
  Running = false;
  Shown = false;
  // Keep where the user left the window, so "Enable" brings it back there.
  CaptureGeometry();
  hide();
}

void TimelineWindow::showEvent(QShowEvent* event) {
  QWidget::showEvent(event);
  if (event->spontaneous()) return;  // restored from minimised: leave it where it is
  ApplyGeometry();
  Running = true;
}

void TimelineWindow::closeEvent(QCloseEvent* event) {
  CaptureGeometry();
  Shown = false;  // the running flag stays: updates go on into the hidden window
  event->accept();
}

void TimelineWindow::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  SyncSize();
}

bool TimelineWindow::eventFilter(QObject* watched, QEvent* event) {
  if (watched == paintBox_ && event->type() == QEvent::Paint) {
    UpdateScale();
    QPainter painter(paintBox_);
    painter.drawImage(0, 0, timelineBitmap_);
    return true;
  }
  return QWidget::eventFilter(watched, event);
}

void TimelineWindow::SyncSize() {
  const int w = std::max(width(), 1);
  const int hp = std::max(height() - kTimelineControlHeight, 1);
  if (w != wp_ || hp != hp_ || timelineBitmap_.isNull()) {
    basePanel_->setGeometry(0, 0, w, hp);
    paintBox_->setGeometry(0, 0, std::min(w, kPaintBoxMaxWidth), std::min(hp, kPaintBoxMaxHeight));
    controlBar_->setGeometry(0, hp, w, kTimelineControlHeight);
    wp_ = w;
    hp_ = hp;
    ResizeBitmaps();
  }
  UpdateScale();
}

void TimelineWindow::ResizeBitmaps() {
  // A new size starts a blank chart.
  timelineBitmap_ = QImage(wp_, hp_, QImage::Format_RGB32);
  stripBitmap_ = QImage(wp_, hp_, QImage::Format_RGB32);
  timelineBitmap_.fill(kWhite);
  stripBitmap_.fill(kWhite);
}

void TimelineWindow::UpdateScale() {
  m_ = height() * kTimelineScaleNumerator / referenceHeight_ - 10;
}

int TimelineWindow::LogY(double v) const {
  // A level of -1 or less has no logarithm; it sits on the bottom edge.
  if (!(v > -1.0)) return hp_;
  return raster::TruncSaturate(hp_ - m_ * std::log10(v + 1.0));
}

int TimelineWindow::LinearY(double v) const {
  return raster::TruncSaturate((m_ + 5) - m_ * v);
}

void TimelineWindow::AddBlock(const Receiver& rx) {
  if (!Running) return;
  SyncSize();

  // Our own copies: the decoder keeps its values, whatever is drawn.
  const DetectorState& d = rx.Detector;
  for (int k = 1; k <= kTimelineStep; ++k) {
    const size_t u = static_cast<size_t>(k + kFirstStep - 1);
    level_[static_cast<size_t>(k)] = d.env[u];
    threshold_[static_cast<size_t>(k)] = d.thresholdShown[u];
    floor_[static_cast<size_t>(k)] = d.floorShown[u];
    key_[static_cast<size_t>(k)] = d.key[u];
  }
  // A tone level of 0 or less is drawn as 1, one m log10 2 above the bottom.
  for (int32_t& v : level_) v = std::max(v, 1);

  // Scroll the old picture 64 pixels left into the work bitmap and clear the strip on
  // the right for the new steps.
  const int w = stripBitmap_.width();
  raster::FillRect(stripBitmap_, w - kTimelineStep, 0, w, hp_ + 1, kWhite);
  if (w > kTimelineStep) {
    const int rows = std::min(stripBitmap_.height(), timelineBitmap_.height());
    const size_t bytes = static_cast<size_t>(w - kTimelineStep) * sizeof(QRgb);
    for (int y = 0; y < rows; ++y) {
      const QRgb* from = reinterpret_cast<const QRgb*>(timelineBitmap_.constScanLine(y));
      std::memcpy(stripBitmap_.scanLine(y), from + kTimelineStep, bytes);
    }
  }

  auto plot = [this](const auto& series, QRgb colour, auto mapY) {
    for (int k = 1; k <= kTimelineStep; ++k) {
      raster::DrawLine(stripBitmap_, wp_ - 66 + k, mapY(series[static_cast<size_t>(k - 1)]),
                       wp_ - 65 + k, mapY(series[static_cast<size_t>(k)]), colour);
    }
  };
  auto logY = [this](double v) { return LogY(v); };
  auto linearY = [this](double v) { return LinearY(v); };
  plot(level_, kLevelColour, logY);
  plot(threshold_, kThresholdColour, logY);
  plot(floor_, kFloorColour, logY);
  plot(key_, kKeyColour, linearY);

  // The next block's lines start where these end.
  level_[0] = level_[kTimelineStep];
  threshold_[0] = threshold_[kTimelineStep];
  floor_[0] = floor_[kTimelineStep];
  key_[0] = key_[kTimelineStep];

  // Every pixel of the work bitmap was written above, so it becomes the picture as is.
  std::swap(timelineBitmap_, stripBitmap_);
  paintBox_->update();
}

}  // namespace kestrix
