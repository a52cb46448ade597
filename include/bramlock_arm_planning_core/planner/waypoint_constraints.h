#pragma once

#include <vector>

// Speed limits of one frame of the dynamics model.
struct CartesianConstraints {
  double max_linear_velocity = 20.0;
  double max_angular_velocity = 300.14;
  int frame_id = -1;  // negative: no frame is limited
  bool enabled = false;
};

// Limits at one waypoint, one entry per joint.
struct WaypointConstraints {
  std::vector<double> vmax;        // rad/s, each > 0
  std::vector<double> amax;        // rad/s^2, each > 0
  std::vector<double> torque_max;  // N*m; empty: no torque limit at this waypoint
  CartesianConstraints cartesian;
};
