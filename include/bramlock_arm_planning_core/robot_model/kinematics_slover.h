#pragma once

#include <memory>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"
#include "bramlock_arm_planning_core/kinematics/robot_type.h"

namespace moveit {
namespace core {

// One available arm solver: the robot type it serves and the shared solver object.
struct BRAMLOCK_EXPORT KinematicsSlover {
  RobotType robot_type;
  std::shared_ptr<KinematicsInterface> kinematics;
};

}  // namespace core
}  // namespace moveit
