#include "shell/window_placement.h"

#include <algorithm>

namespace kestrix {

namespace {

// Gap between the two windows, pixels: enough that their frames do not touch.
constexpr int kGap = 8;

}  // namespace

PlacementPoint CentredOn(const PlacementRect& screen, int width, int height) {
  const int left = screen.left + (screen.width - width) / 2;
  const int top = screen.top + (screen.height - height) / 2;
  return {std::max(left, screen.left), std::max(top, screen.top)};
}

PlacementPoint TimelineBeside(const PlacementRect& screen, const PlacementRect& mainFrame,
                              const PlacementRect& keepClear, int width, int height) {
  const PlacementPoint candidates[] = {
      {kTimelineDefaultLeft, kTimelineDefaultTop},
      {mainFrame.Right() + kGap, mainFrame.top},
      {mainFrame.left - kGap - width, mainFrame.top},
      {keepClear.Right() - width, keepClear.Bottom() + kGap},
  };
  for (const PlacementPoint& p : candidates) {
    const PlacementRect r{p.left, p.top, width, height};
    if (r.Inside(screen) && !r.Intersects(keepClear)) return p;
  }
  // Nothing fits whole: below the menu and display at the screen's left edge, lifted only
  // as far as needed to keep the window's bottom on the screen.
  int top = keepClear.Bottom() + kGap;
  if (top + height > screen.Bottom()) top = std::max(screen.top, screen.Bottom() - height);
  return {screen.left, top};
}

}  // namespace kestrix
