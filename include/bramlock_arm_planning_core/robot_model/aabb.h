#pragma once

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {

// Axis-aligned box; a new box is empty, so the first extension sets both corners.
class BRAMLOCK_EXPORT AABB : public Eigen::AlignedBox3d {
 public:
  using Eigen::AlignedBox3d::AlignedBox3d;

  // Grows the box to hold a box of the given size centred at the transform's
  // origin and turned by its rotation.
  void extendWithTransformedBox(const Eigen::Isometry3d& transform, const Eigen::Vector3d& box);
};

}  // namespace core
}  // namespace moveit
