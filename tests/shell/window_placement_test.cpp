// Where the windows open when a fresh settings file leaves it to the program.
#include "shell/window_placement.h"

#include <gtest/gtest.h>

namespace kestrix {
namespace {

TEST(WindowPlacement, CentredOnTheScreenItOpensOn) {
  struct Case {
    const char* name;
    PlacementRect screen;
    int width, height;
    PlacementPoint expected;
  };
  const Case cases[] = {
      {"full hd", {0, 0, 1920, 1080}, 556, 500, {682, 290}},
      {"odd sizes truncate", {0, 0, 1025, 769}, 556, 500, {234, 134}},
      // A second monitor to the right, with a panel along its top.
      {"offset screen", {1920, 32, 1280, 992}, 556, 500, {2282, 278}},
      {"larger than the screen", {0, 0, 500, 400}, 556, 500, {0, 0}},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(CentredOn(c.screen, c.width, c.height), c.expected) << c.name;
  }
}

TEST(WindowPlacement, TimelineKeepsClearOfTheMenuAndDisplay) {
  struct Case {
    const char* name;
    PlacementRect screen;
    PlacementRect main;  // frame; the menu and display are its top 200 pixels
    PlacementPoint expected;
  };
  // The timeline at its minimum size with a frame: 320 x 350.
  const int w = 320, h = 350;
  const Case cases[] = {
      // Main window centred far enough right: the program's own default place is clear.
      {"default place is clear", {0, 0, 1920, 1080}, {682, 290, 556, 500}, {200, 100}},
      // 1280 x 1024 (Xvfb's default): the default place would cover the menu; right of it.
      {"right of the main window", {0, 0, 1280, 1024}, {362, 262, 556, 500}, {926, 262}},
      // Room only on the left.
      {"left of the main window", {0, 0, 1280, 1024}, {450, 262, 556, 500}, {122, 262}},
      // 1024 x 768: no room beside it; below the display, right-aligned with the main window.
      {"below the display", {0, 0, 1024, 768}, {234, 134, 556, 500}, {470, 342}},
      // 800 x 600: nothing fits whole; below the display, lifted to stay on the screen.
      {"small screen", {0, 0, 800, 600}, {122, 50, 556, 500}, {0, 250}},
  };
  for (const Case& c : cases) {
    const PlacementRect keepClear{c.main.left, c.main.top, c.main.width, 200};
    const PlacementPoint p = TimelineBeside(c.screen, c.main, keepClear, w, h);
    EXPECT_EQ(p, c.expected) << c.name;
    const PlacementRect placed{p.left, p.top, w, h};
    if (c.screen.height >= 768) {
      EXPECT_FALSE(placed.Intersects(keepClear)) << c.name;
      EXPECT_TRUE(placed.Inside(c.screen)) << c.name;
    }
  }
}

}  // namespace
}  // namespace kestrix
