#pragma once

#include <cassert>

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {

// Precision every caller uses when a transform from outside must be a rigid motion.
constexpr double kIsometryPrecision = 1e-12;

// True when the transform is a rigid motion within the precision; with verbose,
// a failed test prints its reason on the standard error stream.
BRAMLOCK_EXPORT bool checkIsometry(const Eigen::Isometry3d& transform, double precision, bool verbose);

}  // namespace core
}  // namespace moveit

// A non-rigid transform handed in from outside is a programming error: report
// it and stop in the calling source file.
#define BRAMLOCK_ASSERT_ISOMETRY(transform)                                                    \
  do {                                                                                         \
    if (!::moveit::core::checkIsometry((transform), ::moveit::core::kIsometryPrecision, true)) \
      assert(!"Invalid isometry transform");                                                   \
  } while (false)
