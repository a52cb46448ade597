#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"

// One timed trajectory point. On the spline road the first point's children hold
// the millisecond samples (positions only).
struct BRAMLOCK_EXPORT TrajectoryData {
  std::vector<TrajectoryData> children;
  std::vector<double> positions;
  std::vector<double> velocities;
  std::vector<double> accelerations;
  double time = 0.0;  // seconds from the start
};
