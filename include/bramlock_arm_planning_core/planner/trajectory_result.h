#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/trajectory_data.h"

// A spline planner's answer; the trajectory is empty when success is false.
struct BRAMLOCK_EXPORT TrajectoryResult {
  bool success = false;
  std::vector<TrajectoryData> trajectory;
};
