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

// Throws when the path's position, first or second derivative at a grid point
// is not finite: such values order with nothing, so they would pass every limit
// unseen, and a constraint that does not read them would time a path that is
// not there.
inline void requireFinitePath(const toppra::GeometricPath& path, const toppra::Vector& gridpoints) {
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i)
    for (int order = 0; order <= 2; ++order)
      if (!path.eval_single(gridpoints[i], order).allFinite())
        throw std::runtime_error("Path evaluation gave values that are not finite.");
}

}  // namespace internal
}  // namespace bramlock
