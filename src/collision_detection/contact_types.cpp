#include "bramlock_arm_planning_core/collision_detection/contact_types.h"

#include <cmath>

namespace collision_detection {

namespace {

// -1, 0 or 1 as a sorts before, with or after b; NaN after every number.
int compareTotally(double a, double b) {
  const bool a_nan = std::isnan(a);
  const bool b_nan = std::isnan(b);
  if (a_nan || b_nan) return static_cast<int>(a_nan) - static_cast<int>(b_nan);
  return a < b ? -1 : (b < a ? 1 : 0);
}

}  // namespace

bool CostSource::operator<(const CostSource& other) const {
  // Higher cost first: compare the other way round, with NaN still last.
  if (std::isnan(cost) != std::isnan(other.cost)) return !std::isnan(cost);
  if (const int by_cost = compareTotally(other.cost, cost)) return by_cost < 0;
  for (size_t i = 0; i < 3; ++i) {
    if (const int by_min = compareTotally(aabb_min[i], other.aabb_min[i])) return by_min < 0;
  }
  for (size_t i = 0; i < 3; ++i) {
    if (const int by_max = compareTotally(aabb_max[i], other.aabb_max[i])) return by_max < 0;
  }
  return false;
}

}  // namespace collision_detection
