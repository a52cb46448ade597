#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"

// An arm's signature: the robot model binds a joint-model group to the
// kinematics class whose robot type equals the group's
// (KinematicsInterface::checkRobotTypeEqual).
struct BRAMLOCK_EXPORT RobotType {
  int axis_num = 0;                    // number of joints
  std::vector<double> alpha_sequence;  // MDH twist alpha per joint, radians, base to flange
};
