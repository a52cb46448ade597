#pragma once

#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

struct CubicSplineFlavour;

// Spline planner with a clamped cubic spline per joint.
class CubicSplineTrajectory : public SplineTrajectoryPlanner<CubicSplineFlavour> {};
