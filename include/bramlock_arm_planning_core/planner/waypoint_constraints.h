#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"

// Speed limits of one frame of the dynamics model.
struct BRAMLOCK_EXPORT CartesianConstraints {
  double max_linear_velocity = 20.0;
  double max_angular_velocity = 300.14;
  int frame_id = -1;  // negative: no frame is limited
  bool enabled = false;
};

// Limits at one waypoint, one entry per joint.
struct BRAMLOCK_EXPORT WaypointConstraints {
  std::vector<double> vmax;        // rad/s, each > 0
  std::vector<double> amax;        // rad/s^2, each > 0
  std::vector<double> torque_max;  // N*m; empty: no torque limit at this waypoint
  CartesianConstraints cartesian;
};
