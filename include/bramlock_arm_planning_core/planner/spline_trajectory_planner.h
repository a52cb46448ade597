#pragma once

#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/arm_dynamics_data.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"
#include "bramlock_arm_planning_core/planner/trajectory_planner_interface.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

// What the cubic and quintic spline planners share. Flavour holds what differs
// between them (messages, spline type, evaluators); it is defined where the
// planner is instantiated.
template <class Flavour>
class SplineTrajectoryPlanner : public ITrajectoryPlanner {
 public:
  // Limits that hold over one segment (segment s joins waypoints s and s + 1).
  struct SegmentConstraints {
    std::vector<double> vmax;
    std::vector<double> amax;
    std::vector<double> torque_max;  // 0: that joint is not torque-limited
    CartesianConstraints cartesian;
  };

  SplineTrajectoryPlanner() = default;
  // The dynamics work data is per planner: copies would share it.
  SplineTrajectoryPlanner(const SplineTrajectoryPlanner&) = delete;
  SplineTrajectoryPlanner& operator=(const SplineTrajectoryPlanner&) = delete;

  void setMdhParams(std::vector<ArmMDHParams> params) override;
  // Builds the arm's dynamics model with the tool frame "end_effector" 0.45 m along z of the
  // joint frame that carries "link6", and picks the Cartesian-limited frame by name. On failure
  // the previous model stays in force and false is returned.
  bool setRobotModel(const std::string& urdf_path, const std::string& ee_frame_name) override;
  void enableTorqueConstraints(bool on) override;
  using ITrajectoryPlanner::generateTimeOptimalTrajectory;
  TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                 const std::vector<double>& vmax, const std::vector<double>& amax,
                                                 double tolerance, int maxIterations, bool saveCsv,
                                                 const CartesianConstraints& cartesian) override;

 protected:
  // Validates and stores the waypoints (joint-major) and their limits; logs the first failure.
  bool initialize(const std::vector<std::vector<double>>& points, const std::vector<WaypointConstraints>& constraints);
  // Fills segment_constraints_ from constraints_ (needs a successful initialize).
  void computeSegmentConstraints();

  double tolerance_ = 0.001;
  int max_iterations_ = 500;
  double step_factor_ = 0.3;
  double min_segment_time_ = 0.001;
  double max_segment_time_ = 10.0;
  bool converged_ = false;
  int num_points_ = 0;
  int num_joints_ = 0;
  int ee_frame_id_ = -1;
  std::vector<std::vector<double>> positions_;  // [joint][waypoint]
  std::vector<WaypointConstraints> constraints_;
  std::vector<SegmentConstraints> segment_constraints_;
  std::shared_ptr<bramlock::dynamics::Model> model_;
  std::shared_ptr<bramlock::dynamics::Data> data_;  // always made for model_
  std::vector<ArmMDHParams> mdh_params_;
  std::vector<double> torque_limits_;
  bool torque_constraints_enabled_ = false;

 private:
  // ee_frame_id_ when it names the same frame in a newly loaded model, else -1.
  int frameIdCarriedOver(const bramlock::dynamics::Model& new_model) const;
  void logTorqueLimits() const;
};
