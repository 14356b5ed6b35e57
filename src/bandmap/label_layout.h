// Where the band map's call labels go: each label is centred over its station's trace and
// put in the first row of the label strip where it overlaps no label already placed, in
// order of strength (the list given is in that order), so callers sitting 50 Hz from their
// runner stack above one another instead of overprinting. A label with no free row is left
// out (it is still in the station list).
//
// Pure geometry in pixels; no Qt, so the rule is tested without a display.
#pragma once

#include <vector>

namespace kestrix::bandmap {

struct LabelBox {
  double centreX = 0;  // the trace's x
  double width = 0;    // the label's text width plus padding
};

// The row (0 = the one nearest the waterfall) of every box, -1 when it did not fit; boxes
// are kept apart by `gap` pixels and inside [0, stripWidth).
std::vector<int> PlaceLabels(const std::vector<LabelBox>& boxes, int rows, double stripWidth,
                             double gap = 4.0);

// The x of `hz` on a strip `width` pixels wide showing [loHz, hiHz], and back.
double HzToX(double hz, double loHz, double hiHz, double width);
double XToHz(double x, double loHz, double hiHz, double width);

}  // namespace kestrix::bandmap
