#pragma once

// Numbers a host can plausibly pass by mistake: readings that are not numbers,
// unset limits (infinities) and values far beyond any arm's scale.

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <Eigen/Dense>

namespace robustness {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

inline const std::vector<double>& nonFiniteNumbers() {
  static const std::vector<double> values = {kNaN, kInf, -kInf};
  return values;
}

inline const std::vector<double>& badNumbers() {
  static const std::vector<double> values = {kNaN, kInf, -kInf, 1e300, -1e300};
  return values;
}

inline bool allFinite(const std::vector<double>& values) {
  for (double value : values) {
    if (!std::isfinite(value)) return false;
  }
  return true;
}

inline bool allFinite(const std::vector<std::vector<double>>& lists) {
  for (const auto& values : lists) {
    if (!allFinite(values)) return false;
  }
  return true;
}

// values with entry `index` replaced by `bad`.
inline std::vector<double> withEntry(std::vector<double> values, size_t index, double bad) {
  values[index] = bad;
  return values;
}

// What a failing case reports: which entry held which value.
inline std::string caseName(const std::string& what, size_t index, double bad) {
  return what + " entry " + std::to_string(index) + " = " + std::to_string(bad);
}

}  // namespace robustness
