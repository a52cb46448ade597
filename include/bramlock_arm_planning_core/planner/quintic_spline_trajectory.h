#pragma once

#include "bramlock_arm_planning_core/planner/spline_trajectory_planner.h"

struct QuinticSplineFlavour;

// Spline planner with a quintic spline per joint (jerk continuous at the waypoints).
class QuinticSplineTrajectory : public SplineTrajectoryPlanner<QuinticSplineFlavour> {};
