// The label strip: labels over their traces, close ones stacked, none overlapping, none
// outside the strip.
#include "bandmap/label_layout.h"

#include <gtest/gtest.h>

namespace kestrix::bandmap {
namespace {

TEST(LabelLayout, CloseLabelsStackAndFarOnesShareTheFirstRow) {
  // A runner, its caller 10 px away, a station far off, and a fourth one with no row left.
  const std::vector<LabelBox> boxes = {{100, 50}, {110, 50}, {400, 50}, {105, 50}};
  EXPECT_EQ(PlaceLabels(boxes, 2, 600), (std::vector<int>{0, 1, 0, -1}));
}

TEST(LabelLayout, LabelsAtTheEdgesStayInsideTheStrip) {
  const std::vector<LabelBox> boxes = {{2, 60}, {598, 60}};
  EXPECT_EQ(PlaceLabels(boxes, 1, 600), (std::vector<int>{0, 0}));
  // Both pushed inside still fit apart; a strip too narrow for two puts one up.
  EXPECT_EQ(PlaceLabels(boxes, 2, 100), (std::vector<int>{0, 1}));
}

TEST(LabelLayout, FrequencyAndPixelsMapBothWays) {
  EXPECT_DOUBLE_EQ(HzToX(200, 200, 3000, 560), 0);
  EXPECT_DOUBLE_EQ(HzToX(1600, 200, 3000, 560), 280);
  EXPECT_DOUBLE_EQ(XToHz(HzToX(1234, 200, 3000, 777), 200, 3000, 777), 1234);
}

}  // namespace
}  // namespace kestrix::bandmap
