#pragma once
// The median of a benchmark's runs.

#include <algorithm>
#include <vector>

namespace saalwacht::bench {

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace saalwacht::bench
