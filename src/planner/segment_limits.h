#pragma once

// How the limits of two waypoints combine over what lies between them: never
// looser than either. The spline planner times its segments by these rules and
// the trajectory generator gives them to the waypoints it adds.

#include <algorithm>
#include <cstddef>
#include <vector>

#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

namespace bramlock {
namespace internal {

// The element-wise lower of two per-joint limits; an empty one (no torque limit) sets none.
inline std::vector<double> tighterJointLimits(const std::vector<double>& a, const std::vector<double>& b) {
  if (a.empty()) return b;
  if (b.empty()) return a;
  std::vector<double> limits(std::min(a.size(), b.size()));
  for (std::size_t j = 0; j < limits.size(); ++j) limits[j] = std::min(a[j], b[j]);
  return limits;
}

// With both enabled, the lower of each speed on the given frame; otherwise the enabled one, or b
// when neither is.
inline CartesianConstraints tighterCartesianLimits(const CartesianConstraints& a, const CartesianConstraints& b,
                                                   int frame_id) {
  if (!a.enabled) return b;
  if (!b.enabled) return a;
  CartesianConstraints both = a;
  both.frame_id = frame_id;
  both.max_linear_velocity = std::min(a.max_linear_velocity, b.max_linear_velocity);
  both.max_angular_velocity = std::min(a.max_angular_velocity, b.max_angular_velocity);
  return both;
}

}  // namespace internal
}  // namespace bramlock
