#pragma once

// What the constraints require of the path they are evaluated on: their
// joint count, and values that are numbers.

#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"

namespace bramlock {
namespace internal {

// Thrown by a constraint evaluated on a path of another joint count; the
// algorithm reports it as a failed run, other callers see the
// std::invalid_argument.
class PathDimensionMismatch : public std::invalid_argument {
 public:
  using std::invalid_argument::invalid_argument;
};

inline void requirePathJoints(const toppra::GeometricPath& path, Eigen::Index joints, const char* constraint) {
  if (path.dof() == joints) return;
  throw PathDimensionMismatch(std::string(constraint) + " has limits for " + std::to_string(joints) +
                              " joints, the path has " + std::to_string(path.dof()) + ".");
}

// The path's value at s of the given order. Values that are not finite order
// with nothing, so they would pass every limit unseen: they throw.
inline toppra::Vector finitePathValue(const toppra::GeometricPath& path, toppra::value_type s, int order) {
  toppra::Vector value = path.eval_single(s, order);
  if (!value.allFinite()) throw std::runtime_error("Path evaluation gave values that are not finite.");
  return value;
}

// The same for the position, first and second derivative at every grid point,
// whichever of them the constraints read: a constraint that does not read a
// value would otherwise time a path that is not there.
inline void requireFinitePath(const toppra::GeometricPath& path, const toppra::Vector& gridpoints) {
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i) {
    for (int order = 0; order <= 2; ++order) finitePathValue(path, gridpoints[i], order);
  }
}

}  // namespace internal
}  // namespace bramlock
