#pragma once

#include <cstddef>
#include <vector>

#include "bramlock_arm_planning_core/robot_model/joint_model.h"
#include "common/value_checks.h"

// Operations over the active joints of a value array, shared by the whole
// model and its groups: each active joint works on the slice that starts at
// its start index, with its entry of a bounds list. Mimic updates are the
// caller's.
namespace bramlock {
namespace internal {
namespace active_joints {

using moveit::core::JointModel;

using BoundsList = std::vector<const JointModel::Bounds*>;

struct Span {
  const std::vector<const JointModel*>& joints;
  const std::vector<int>& starts;
};

inline bool satisfiesPositionBounds(const Span& span, const double* state, const BoundsList& bounds, double margin) {
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    if (!span.joints[i]->satisfiesPositionBounds(state + span.starts[i], *bounds[i], margin)) return false;
  }
  return true;
}

// Every joint is brought into its bounds; true when any changed.
inline bool enforcePositionBounds(const Span& span, double* state, const BoundsList& bounds) {
  bool changed = false;
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    changed |= span.joints[i]->enforcePositionBounds(state + span.starts[i], *bounds[i]);
  }
  return changed;
}

inline double distance(const Span& span, const double* a, const double* b) {
  double total = 0.0;
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    const int start = span.starts[i];
    total += span.joints[i]->getDistanceFactor() * span.joints[i]->distance(a + start, b + start);
  }
  return total;
}

inline void interpolate(const Span& span, const double* from, const double* to, double t, double* state) {
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    const int start = span.starts[i];
    span.joints[i]->interpolate(from + start, to + start, t, state + start);
  }
}

inline double maximumExtent(const Span& span, const BoundsList& bounds) {
  double extent = 0.0;
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    extent += span.joints[i]->getDistanceFactor() * span.joints[i]->getMaximumExtent(*bounds[i]);
  }
  return extent;
}

// Defaults within each joint's own bounds.
inline void defaultPositions(const Span& span, double* values) {
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    span.joints[i]->getVariableDefaultPositions(values + span.starts[i], span.joints[i]->getVariableBounds());
  }
}

inline void randomPositions(const Span& span, random_numbers::RandomNumberGenerator& rng, double* values,
                            const BoundsList& bounds) {
  for (std::size_t i = 0; i < span.joints.size(); ++i) {
    span.joints[i]->getVariableRandomPositions(rng, values + span.starts[i], *bounds[i]);
  }
}

}  // namespace active_joints
}  // namespace internal
}  // namespace bramlock
