#pragma once

// A constraint's joint count against the path it is evaluated on.

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

}  // namespace internal
}  // namespace bramlock
