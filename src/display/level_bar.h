// SignalBar, the "Input Level" bar: a small horizontal bar that shows the decoder's noise
// floor as 9.5 ln(NoiseFloor), yellow when the input is too low (below 30), aqua when it
// suits the decoder, red when it is too high (above 100).
//
// GUI thread only. It repaints only when the shown digit changes, so the per-block update
// costs nothing while the level is steady.
#pragma once

#include <QColor>
#include <QWidget>

namespace kestrix {

inline constexpr int kLevelBarWidth = 70;  // pixels
inline constexpr int kLevelBarHeight = 18;
inline constexpr int kLevelLowDigit = 30;    // below: yellow
inline constexpr int kLevelHighDigit = 100;  // above: red

class LevelBar : public QWidget {
  Q_OBJECT

 public:
  explicit LevelBar(QWidget* parent = nullptr);

  // Once per detector block in Text mode: inputLevel = 9.5 ln(NoiseFloor). The digit is
  // the truncated value, kept as computed (also outside 0..100) so that overload shows.
  void SetInputLevel(float inputLevel);

  int Digit() const { return digit_; }
  QColor BarColour() const { return colour_; }
  // Paint events handled so far (lets tests check that a steady level costs no repaint).
  int RepaintCount() const { return repaintCount_; }

  QSize sizeHint() const override { return {kLevelBarWidth, kLevelBarHeight}; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  int digit_ = 50;
  QColor colour_{0x00, 0xFF, 0xFF};  // aqua
  int repaintCount_ = 0;
};

}  // namespace kestrix
