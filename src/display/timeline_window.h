// The "Time Line Display" window: a chart scrolling from right to left that plots, for
// the most recent detector steps, the tone level, the decision threshold, the noise floor
// and the key decision, so the operator can see why a signal was or was not decoded.
//
// Each block of 64 detector steps scrolls the picture 64 pixels left and draws the new
// steps into the freed strip. The series are copied out of the receiver; nothing here
// writes to the decoder's state, so an open timeline never changes what is decoded.
//
// GUI thread only; AddBlock is called by the receive loop between blocks.
#pragma once

#include <QImage>
#include <QWidget>
#include <array>
#include <cstdint>

class QFrame;
class QPushButton;

namespace kestrix {

class Receiver;

inline constexpr int kTimelineStep = 64;           // new points per block = scroll, pixels
inline constexpr int kTimelineControlHeight = 31;  // the button bar, pixels
inline constexpr int kTimelineMinWidth = 240;      // pixels, client area
inline constexpr int kTimelineMinHeight = 320;
inline constexpr int kTimelineScaleNumerator = 36;  // m = height * 36 / reference - 10

// Window geometry as the settings file stores it (pixels).
struct TimelineGeometry {
  int32_t Top = 100;
  int32_t Left = 200;
  int32_t Height = 240;
  int32_t Width = 320;
};

class TimelineWindow : public QWidget {
  Q_OBJECT

 public:
  // Top-level window (parent only owns it). Applies the stored geometry at once.
  explicit TimelineWindow(QWidget* parent = nullptr);
  ~TimelineWindow() override;

  // One block of 64 detector steps from the receiver; drawn only while Running.
  void AddBlock(const Receiver& rx);

  // Display > Timeline > "Enable": show at the stored geometry, shown and running on.
  void Enable();
  // "START", "STOP", "CLOSE".
  void TimeStartBtnClick();
  void TimeStopBtnClick();
  void TimeCloseBtnClick();
  // Puts the stored geometry on the window (minimum size enforced).
  void ApplyGeometry();
  // Records the window's current position and size into Geometry.
  void CaptureGeometry();

  // State the settings code reads and writes.
  TimelineGeometry Geometry;
  bool Shown = false;    // the window is open (stored)
  bool Running = false;  // blocks are drawn

  // Pixels per decade of the logarithmic series.
  int Scale() const { return m_; }
  int PanelWidth() const { return wp_; }
  int PanelHeight() const { return hp_; }
  const QImage& TimelineBitmap() const { return timelineBitmap_; }
  // The timeline's own copy of the last block's tone levels (index 0 = previous block's
  // last step, 1..64 = this block), after raising values below 1 to 1.
  const std::array<int32_t, kTimelineStep + 1>& LevelCopy() const { return level_; }

  QWidget* PaintBox() const { return paintBox_; }

 protected:
  void showEvent(QShowEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void UpdateScale();
  // Lays out the panel and the button bar for the current window size; a new size
  // records Wp and Hp and starts blank bitmaps of the panel size.
  void SyncSize();
  void ResizeBitmaps();
  int LogY(double v) const;
  int LinearY(double v) const;

  QFrame* basePanel_ = nullptr;   // TimeBasePanel
  QWidget* paintBox_ = nullptr;   // SpectrumBox3
  QFrame* controlBar_ = nullptr;  // TimeControl
  QPushButton* stopButton_ = nullptr;
  QPushButton* startButton_ = nullptr;
  QPushButton* closeButton_ = nullptr;

  QImage timelineBitmap_;
  QImage stripBitmap_;
  int wp_ = 0;  // panel width, pixels
  int hp_ = 0;  // panel height, pixels
  int referenceHeight_ = 1;
  int m_ = 26;

  // Series carried from block to block: element 0 is the previous block's last value.
  std::array<int32_t, kTimelineStep + 1> level_{};
  std::array<double, kTimelineStep + 1> threshold_{};
  std::array<double, kTimelineStep + 1> floor_{};
  std::array<double, kTimelineStep + 1> key_{};
};

}  // namespace kestrix
