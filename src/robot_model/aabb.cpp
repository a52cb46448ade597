#include "bramlock_arm_planning_core/robot_model/aabb.h"

#include "bramlock_arm_planning_core/robot_model/check_isometry.h"

namespace moveit {
namespace core {

void AABB::extendWithTransformedBox(const Eigen::Isometry3d& transform, const Eigen::Vector3d& box) {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  // Half extent along each world axis of the turned box.
  const Eigen::Vector3d half = 0.5 * (transform.linear().cwiseAbs() * box);
  extend(Eigen::Vector3d(transform.translation() + half));
  extend(Eigen::Vector3d(transform.translation() - half));
}

}  // namespace core
}  // namespace moveit
