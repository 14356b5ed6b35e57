// Character error rate of decoded text against what was sent.
#pragma once

#include <algorithm>
#include <string>
#include <vector>

namespace kestrix::testing {

// Edit distance between `expected` and the best-matching stretch of `decoded`: characters
// of `decoded` before and after that stretch cost nothing, so the learn phase at the start
// and noise after the end are not counted.
inline int InfixEditDistance(const std::string& expected, const std::string& decoded) {
  const size_t n = expected.size();
  const size_t m = decoded.size();
  std::vector<int> prev(m + 1, 0);  // a free start anywhere in `decoded`
  std::vector<int> cur(m + 1, 0);
  for (size_t i = 1; i <= n; ++i) {
    cur[0] = static_cast<int>(i);
    for (size_t j = 1; j <= m; ++j) {
      const int subst = prev[j - 1] + (expected[i - 1] == decoded[j - 1] ? 0 : 1);
      cur[j] = std::min({subst, prev[j] + 1, cur[j - 1] + 1});
    }
    std::swap(prev, cur);
  }
  return *std::min_element(prev.begin(), prev.end());  // a free end as well
}

inline double CharacterErrorRate(const std::string& expected, const std::string& decoded) {
  if (expected.empty()) return 0.0;
  return static_cast<double>(InfixEditDistance(expected, decoded)) /
         static_cast<double>(expected.size());
}

}  // namespace kestrix::testing
