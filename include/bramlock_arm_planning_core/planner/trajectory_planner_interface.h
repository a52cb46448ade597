#pragma once

#include <string>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"
#include "bramlock_arm_planning_core/planner/trajectory_result.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

// A planner that times a joint-space path under per-waypoint limits.
class BRAMLOCK_EXPORT ITrajectoryPlanner {
 public:
  virtual ~ITrajectoryPlanner() = default;

  virtual void setMdhParams(std::vector<ArmMDHParams> params) = 0;
  // Loads the dynamics model; false when it cannot be built.
  virtual bool setRobotModel(const std::string& urdf_path, const std::string& ee_frame_name) = 0;
  virtual void enableTorqueConstraints(bool on) = 0;
  virtual TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                         const std::vector<WaypointConstraints>& constraints,
                                                         double tolerance, int maxIterations, bool saveCsv) = 0;
  // The same limits at every waypoint.
  virtual TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                         const std::vector<double>& vmax,
                                                         const std::vector<double>& amax, double tolerance,
                                                         int maxIterations, bool saveCsv,
                                                         const CartesianConstraints& cartesian) = 0;
};
