#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

// Visible, because a hidden template argument would hide the planner
// instantiated with it.
struct BRAMLOCK_EXPORT CubicSplineFlavour;

// Spline planner with a clamped cubic spline per joint.
class BRAMLOCK_EXPORT CubicSplineTrajectory : public SplineTrajectoryPlanner<CubicSplineFlavour> {};
