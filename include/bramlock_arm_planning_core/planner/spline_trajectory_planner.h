#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_data.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"
#include "bramlock_arm_planning_core/planner/trajectory_data.h"
#include "bramlock_arm_planning_core/planner/trajectory_planner_interface.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

// What the cubic and quintic spline planners share. Flavour holds what differs
// between them (messages, spline type, evaluators); it is defined where the
// planner is instantiated.
template <class Flavour>
class BRAMLOCK_EXPORT SplineTrajectoryPlanner : public ITrajectoryPlanner {
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
  // Optimises the segment durations under the limits and samples the splines every millisecond.
  // On success every sample and waypoint record keeps every limit within 1 + tolerance;
  // unsuccessful (and logged) for invalid input or when neither of two optimisation runs of
  // maxIterations converges (the second only follows a first that did not).
  TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                 const std::vector<WaypointConstraints>& constraints, double tolerance,
                                                 int maxIterations, bool saveCsv) override;
  TrajectoryResult generateTimeOptimalTrajectory(const std::vector<std::vector<double>>& points,
                                                 const std::vector<double>& vmax, const std::vector<double>& amax,
                                                 double tolerance, int maxIterations, bool saveCsv,
                                                 const CartesianConstraints& cartesian) override;

 protected:
  // Validates and stores the waypoints (joint-major) and their limits; logs the first failure.
  bool initialize(const std::vector<std::vector<double>>& points, const std::vector<WaypointConstraints>& constraints);
  // Fills segment_constraints_ from constraints_ (needs a successful initialize).
  void computeSegmentConstraints();

  // Derivatives of the per-joint splines at the waypoints, joint-major; accelerations are
  // filled by the quintic planner only.
  struct KnotStates {
    std::vector<std::vector<double>> velocities;
    std::vector<std::vector<double>> accelerations;
  };

  // Rest-to-rest estimates at 80 % of the joint limits (and 60 % of the Cartesian ones).
  std::vector<double> computeInitialTimeIntervals() const;
  // Which segments the tightening pass may shorten.
  enum class Tightening {
    kEverySegment,    // every one that meets its limits
    kAwayFromExcess,  // only those that meet their limits and have no neighbour over its own
  };
  // Lengthens violating segments until the limits hold; sets converged_.
  std::vector<double> optimizeTimeIntervals(const std::vector<double>& initial,
                                            Tightening tightening = Tightening::kEverySegment);
  // Shortens by 1 % each segment that still meets every limit with the given knot states, but
  // not below its entry of shortest; excess holds each segment's excess over its limits.
  void optimizeTotalTime(std::vector<double>& durations, const KnotStates& knots, const std::vector<double>& shortest,
                         Tightening tightening, const std::vector<double>& excess) const;
  // One point per waypoint; the first carries the millisecond samples. With saveCsv the samples
  // also go to a file in the trajectory directory.
  std::vector<TrajectoryData> generateTrajectory(const std::vector<double>& durations, bool saveCsv) const;
  // Writes the millisecond samples with their derivatives (and torques while torque limits are
  // on) into a new file in directory. Returns its path, or an empty text after logging why the
  // file could not be written.
  std::string writeTrajectoryCsv(const std::string& directory, const std::vector<double>& durations) const;

  static constexpr const char* kTrajectoryDirectory = "/home/bramlock/trajectory/";

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
  // How far one segment is from its limits, as ratios value / limit.
  struct SegmentRatios {
    double joint_max = 0.0;           // largest joint velocity or acceleration ratio
    double joint_excess_share = 0.0;  // sum over joints of (ratio - 1) / joints where above 1
    bool cartesian_checked = false;
    double cartesian_max = 0.0;  // largest over the sample points
    bool torque_checked = false;
    double torque_max = 0.0;
  };

  KnotStates computeKnotStates(const std::vector<double>& durations) const;
  // One polynomial per joint for segment i lasting T: a std::vector of Flavour::Segment (the
  // flavour is complete only where the planner is instantiated).
  auto segmentPolynomials(const KnotStates& knots, std::size_t i, double T) const;
  SegmentRatios evaluateSegment(const KnotStates& knots, std::size_t segment, double duration) const;
  // The optimiser steers by a few check points per segment; before it reports success this checks
  // every instant the trajectory is handed back at. Each segment whose peak there exceeds
  // 1 + tolerance_ grows by that excess (a calm neighbour by 40 % of it) and may no longer be
  // tightened below its new duration; true when any grew.
  bool lengthenWhereSamplesExceed(std::vector<double>& durations, const KnotStates& knots,
                                  std::vector<double>& shortest) const;
  // Per segment, the largest ratio of any limit over its millisecond samples and both its ends.
  std::vector<double> sampledPeakRatios(const std::vector<double>& durations, const KnotStates& knots) const;
  // The largest ratio of any limit at time t of segment i lasting T, whose polynomials are given.
  template <class Segment>
  double instantRatio(const std::vector<Segment>& segments, std::size_t i, double t, double T) const;
  // Torque limits are on, this segment has one and the model can compute torques.
  bool torqueLimited(const SegmentConstraints& limits) const;
  // A model is loaded and has one coordinate per joint of the current path.
  bool dynamicsUsable() const;
  // ee_frame_id_ when it names the same frame in a newly loaded model, else -1.
  int frameIdCarriedOver(const bramlock::dynamics::Model& new_model) const;
  void logTorqueLimits() const;
};
