// Where things sit on the fixed 556 x 459 client area: the image panel with the display
// and text panes at the top left, the button rows and scratch pad under it, the labelled
// column down the right edge, the status line along the bottom, and the area beyond the
// right and bottom edges that holds the controls driven only by menus and code.
#pragma once

#include <QRect>

namespace kestrix::shell {

inline constexpr int kClientWidth = 556;
inline constexpr int kClientHeight = 459;

// The white image panel (453 x 345) inside BasePanel, and its contents (panel coordinates).
inline constexpr QRect kBasePanel{0, 0, 455, 347};
inline constexpr QRect kImagePanel{1, 1, 453, 345};
inline constexpr int kSpectrumLeft = 16;  // the box starts right of ThresholdBar2
inline constexpr QRect kSpectrumBox{kSpectrumLeft, 0, 423, 98};
inline constexpr QRect kThresholdBar2{0, 0, 16, 98};
inline constexpr QRect kImage1{0, 0, 453, 142};
inline constexpr QRect kMkrLabel{0, 98, 58, 13};
inline constexpr QRect kFrequencyBar{58, 98, 395, 13};
inline constexpr QRect kMemo2{0, 111, 453, 125};
inline constexpr QRect kSplitPanel{0, 236, 453, 5};
inline constexpr QRect kMemo1{0, 241, 453, 104};

// Under the image panel.
inline constexpr int kMessageRowTop = 349;
inline constexpr int kStoreRowTop = 378;
inline constexpr int kRowHeight = 27;
inline constexpr QRect kScratchStrip{0, 408, 455, 30};

// Status line along the bottom.
inline constexpr QRect kStatusPanel{0, 441, 556, 18};

// Right-hand column: caption above, control below, one slot every 48 pixels; the level
// bar of slot 0 sits at (474, 27).
inline constexpr int kColumnLeft = 458;
inline constexpr int kColumnWidth = kClientWidth - kColumnLeft;
inline constexpr int kColumnControlLeft = 474;
inline constexpr int kColumnControlWidth = 70;
inline QRect ColumnCaption(int slot) {
  return {kColumnLeft, 8 + 48 * slot, kColumnWidth, 18};
}
inline QRect ColumnControl(int slot, int height = 25) {
  return {kColumnControlLeft, 27 + 48 * slot, kColumnControlWidth, height};
}

// Beyond the right edge: a grid of cells for controls that are never seen. Receive-side
// controls use rows 0..9, transmit-side controls rows 10 and up.
inline constexpr int kOffScreenLeft = kClientWidth + 40;
inline QRect OffScreen(int index, int width = 84, int height = 26) {
  return {kOffScreenLeft + (index % 6) * 96, 10 + (index / 6) * 46 + 18, width, height};
}
inline QRect OffScreenCaption(int index) {
  return {kOffScreenLeft + (index % 6) * 96, 10 + (index / 6) * 46, 90, 18};
}
// Beyond the bottom edge: the diagnostic read-outs, two per row of 160 pixels.
inline constexpr int kDiagnosticTop = kClientHeight + 40;

}  // namespace kestrix::shell
