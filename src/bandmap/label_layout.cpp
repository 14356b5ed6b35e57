#include "bandmap/label_layout.h"

#include <algorithm>
#include <utility>

namespace kestrix::bandmap {

std::vector<int> PlaceLabels(const std::vector<LabelBox>& boxes, int rows, double stripWidth,
                             double gap) {
  std::vector<int> row(boxes.size(), -1);
  std::vector<std::vector<std::pair<double, double>>> taken(static_cast<size_t>(std::max(rows, 0)));
  for (size_t i = 0; i < boxes.size(); ++i) {
    double left = boxes[i].centreX - boxes[i].width / 2.0;
    left = std::clamp(left, 0.0, std::max(0.0, stripWidth - boxes[i].width));
    const double right = left + boxes[i].width;
    for (int r = 0; r < rows; ++r) {
      auto& used = taken[static_cast<size_t>(r)];
      const bool free = std::none_of(used.begin(), used.end(), [&](const auto& span) {
        return left < span.second + gap && span.first < right + gap;
      });
      if (free) {
        used.emplace_back(left, right);
        row[i] = r;
        break;
      }
    }
  }
  return row;
}

double HzToX(double hz, double loHz, double hiHz, double width) {
  return (hz - loHz) / (hiHz - loHz) * width;
}

double XToHz(double x, double loHz, double hiHz, double width) {
  return loHz + x / width * (hiHz - loHz);
}

}  // namespace kestrix::bandmap
