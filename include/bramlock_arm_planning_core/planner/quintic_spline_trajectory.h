#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

// Visible, because a hidden template argument would hide the planner
// instantiated with it.
struct BRAMLOCK_EXPORT QuinticSplineFlavour;

// Spline planner with a quintic spline per joint (jerk continuous at the waypoints).
class BRAMLOCK_EXPORT QuinticSplineTrajectory : public SplineTrajectoryPlanner<QuinticSplineFlavour> {};
