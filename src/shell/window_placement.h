// Where the windows open when the settings file leaves it to the program: a fresh default
// file (kestrix --write-default-settings) cannot know the desktop it will be loaded on, so
// it stores kAutomaticPosition in the Top and Left fields of the main window and of the
// timeline window, and the loader places them for the screen they open on: the main
// window centred, the timeline window clear of the main window's menu and display.
//
// No Qt: plain rectangles in desktop pixels, so the rules are tested without a display.
#pragma once

#include <cstdint>
#include <limits>

namespace kestrix {

// A stored Top or Left that means "place this window yourself". No window ever sits at
// this coordinate, so a saved position can never be mistaken for it.
inline constexpr int32_t kAutomaticPosition = std::numeric_limits<int32_t>::min();

// The timeline window's place when nothing else is known (the program's default).
inline constexpr int32_t kTimelineDefaultTop = 100;
inline constexpr int32_t kTimelineDefaultLeft = 200;

struct PlacementRect {
  int left = 0;
  int top = 0;
  int width = 0;
  int height = 0;

  int Right() const { return left + width; }   // one past the last column
  int Bottom() const { return top + height; }  // one past the last row
  bool Intersects(const PlacementRect& o) const {
    return left < o.Right() && o.left < Right() && top < o.Bottom() && o.top < Bottom();
  }
  bool Inside(const PlacementRect& o) const {
    return left >= o.left && top >= o.top && Right() <= o.Right() && Bottom() <= o.Bottom();
  }
};

struct PlacementPoint {
  int left = 0;
  int top = 0;
  bool operator==(const PlacementPoint&) const = default;
};

// Top-left corner that centres a window of width x height on `screen` (its available
// area). A window larger than the screen keeps its top-left corner on the screen.
PlacementPoint CentredOn(const PlacementRect& screen, int width, int height);

// Top-left corner for the timeline window (width x height, frame included) so that it does
// not cover `keepClear` (the main window's menu and display, in desktop pixels). Tried in
// this order, the first that lies wholly on `screen` and misses `keepClear` wins: the
// program's default place (200, 100); right of the main window; left of it; below
// `keepClear`, right-aligned with it. When none fits (a small screen), the window goes
// below `keepClear` at the screen's left edge, as far down as the screen allows.
PlacementPoint TimelineBeside(const PlacementRect& screen, const PlacementRect& mainFrame,
                              const PlacementRect& keepClear, int width, int height);

}  // namespace kestrix
