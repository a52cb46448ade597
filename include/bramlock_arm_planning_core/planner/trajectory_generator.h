#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"
#include "bramlock_arm_planning_core/planner/trajectory_data.h"
#include "bramlock_arm_planning_core/planner/trajectory_planner_interface.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

// Turns a joint-space path into timed trajectory points, one per waypoint.
//
// Two roads: the simple one gives every segment a duration under per-joint
// velocity limits and an estimate of the joint accelerations at the
// waypoints; the spline road hands the path to the selected spline planner,
// which also attaches the trajectory sampled every millisecond to the first
// point.
//
// Failures are reported as -1 with a log line (or a console line where noted),
// never by exceptions, unless said otherwise. Limit arrays hold one value per
// joint of the scene's planned group (rad/s, rad/s^2), each positive and finite.
class BRAMLOCK_EXPORT TrajectoryGenerator {
 public:
  using Path = std::vector<std::vector<double>>;

  // The scene is not owned and must outlive the generator; the joint count is
  // read from its plan-space bounds once, here. Throws std::invalid_argument
  // for a null scene. The cubic spline planner is selected, without a dynamics
  // model.
  explicit TrajectoryGenerator(PlanSceneInterface* scene);
  // Copies would share one spline planner.
  TrajectoryGenerator(const TrajectoryGenerator&) = delete;
  TrajectoryGenerator& operator=(const TrajectoryGenerator&) = delete;

  // "quintic_spline" or "cubic_spline" (any other text: cubic, with a warning
  // line). The new planner gets the MDH parameters and the dynamics model when
  // MDH parameters were given before.
  void setTrajectoryType(const std::string& type);
  // Hands the parameters to the planner and loads its dynamics model from the
  // arm description package; without that package the planner goes on without
  // a model.
  void setMdhParams(std::vector<ArmMDHParams> params);

  // The simple road: one point per waypoint with position, velocity,
  // acceleration and time. 0, or -1 with out untouched. On 0 every point's
  // acceleration magnitude is within its joint's limit plus 0.01 rad/s^2:
  // segments the bounded sweeps of applyAccelerationConstraints leave too
  // short are lengthened further, and -1 is returned when that does not
  // settle. The flag has no effect.
  int generateTrajectoryDataSimple(Path path, const double* vmax, const double* amax, std::vector<TrajectoryData>& out,
                                   bool flag);
  // The spline road. Its samples may exceed the velocity and acceleration limits (and tool-speed
  // and torque limits) by the planners' tolerance, 1 %. On 0 every waypoint record and millisecond
  // sample lies inside the scene's joint bounds, and the samples pass the scene's
  // checkSampledMotion. The splines leave the straight segments between the waypoints (which the
  // path planner checked): where a sample leaves the bounds or fails the scene's check, waypoints
  // are added on the straight segment around it (and near a turn on the neighbouring one), with
  // the element-wise tighter limits of the segment's two ends, and the path is timed again, for
  // at most 5 rounds. Then -1, with a log line naming the time and the check (the joint and the
  // excess for the bounds); at once for a waypoint outside the bounds or samples without one
  // value per joint of the scene's group. A trajectory that passes at once is returned as the
  // planner gave it. The output keeps one record per caller waypoint, in order, as callers pair
  // records with their waypoints; those of added waypoints are left out, while the first
  // record's samples run through them. With saveCsv the planner writes the file of the returned
  // trajectory only (it is timed once more for that).
  // With per-waypoint limits. 0, or -1 with out empty.
  int generateTrajectoryData(Path path, const std::vector<WaypointConstraints>& constraints,
                             std::vector<TrajectoryData>& out, bool saveCsv);
  // With the same limits at every waypoint. 0, or -1 with out empty.
  int generateTrajectoryData(Path path, const double* vmax, const double* amax, std::vector<TrajectoryData>& out,
                             bool saveCsv, const CartesianConstraints& cartesian);

  // Steps of the simple road. durations holds one entry per segment (seconds)
  // and is only ever raised; input the simple road would reject changes nothing.
  void applyVelocityConstraints(Path& path, std::vector<double>& durations, const double* vmax);
  void applyAccelerationConstraints(Path& path, std::vector<double>& durations, const double* amax);
  // The first duration (t1, resp. t2) grown by steps of 1 % until the
  // acceleration estimate of the waypoint between the two segments (joint
  // differences d1, d2) is within amax, one step beyond. Unchanged when it
  // already is, or when amax or the duration is not a positive number.
  double findT1(double d1, double d2, double t1, double t2, double amax) const;
  double findT2(double d1, double d2, double t1, double t2, double amax) const;
  // Writes one point per waypoint for the given durations. 0, or -1 with out untouched; a segment
  // between two distinct waypoints needs a positive duration (0 and -0.0 are refused), one between
  // equal waypoints may last 0.
  int updateTrajectory(Path path, std::vector<double> durations, std::vector<TrajectoryData>& out);

  // Densifies a path of two or three waypoints to five. 0, or -1 (path unchanged)
  // for fewer than two waypoints, waypoints of unequal size or non-finite values.
  int guaranteePathNum(Path& path);
  // True when two waypoints of the path (any pair, not only neighbours) differ
  // by more than the threshold in one of the first six joints they both have.
  // A difference that is not a number counts as excessive. Throws
  // std::invalid_argument for a negative or not-a-number threshold.
  bool hasExcessiveJointAngleDifference(const Path& path, double threshold);

 private:
  // The steps of the simple road on checked input.
  void raiseForVelocity(const Path& path, std::vector<double>& durations, const double* vmax) const;
  void raiseForAcceleration(const Path& path, std::vector<double>& durations, const double* amax) const;
  // Goes on from raiseForAcceleration until every waypoint keeps its limits;
  // false when a bounded number of further sweeps does not get there.
  bool settleAcceleration(const Path& path, std::vector<double>& durations, const double* amax) const;
  int accelerationSweep(const Path& path, std::vector<double>& durations, const double* amax, double max_growth) const;
  // Writes one point per waypoint of a path that passed pathUsable; -1 for
  // durations that do not fit it.
  int writeTrajectory(const Path& path, const std::vector<double>& durations, std::vector<TrajectoryData>& out) const;
  bool hasJoints() const;
  // At least two waypoints, each with a finite value per joint.
  bool pathUsable(const Path& path) const;
  bool waypointsUsable(const Path& path) const;
  bool limitsUsable(const double* limits, const char* name) const;
  bool durationsUsable(const Path& path, const std::vector<double>& durations) const;
  // Every segment between two distinct waypoints lasts a positive time.
  bool movesTakeTime(const Path& path, const std::vector<double>& durations) const;
  bool timingInputUsable(const Path& path, const std::vector<double>& durations, const double* limits,
                         const char* name) const;
  struct Faults;
  struct WorkingPath;
  int runSplinePlanner(Path path, const std::vector<WaypointConstraints>& constraints, std::vector<TrajectoryData>& out,
                       bool saveCsv);
  TrajectoryResult planSpline(const WorkingPath& working, bool saveCsv);
  // Plans, adding waypoints while the samples fail the checks; false (with a log line) when the
  // planner fails or the rounds run out.
  bool planUntilSamplesPass(WorkingPath& working, TrajectoryResult& result);
  // What the trajectory fails: bounds first, then the scene's check of its samples.
  Faults faultsOf(const std::vector<TrajectoryData>& trajectory);
  bool samplesFitScene(const std::vector<TrajectoryData>& samples, Faults& faults) const;
  void findBoundFaults(const std::vector<TrajectoryData>& trajectory, Faults& faults) const;
  void findCollisionFaults(const std::vector<TrajectoryData>& trajectory, Faults& faults);
  static std::size_t firstSampleAfterSegment(const std::vector<TrajectoryData>& trajectory, std::size_t segment,
                                             std::size_t from);
  int addWaypoints(WorkingPath& working, const Faults& faults) const;
  bool addWaypoint(WorkingPath& working, std::size_t segment, double fraction) const;
  static std::vector<TrajectoryData> callerRecords(std::vector<TrajectoryData> trajectory,
                                                   const std::vector<bool>& added);
  void loadDynamicsModel();

  PlanSceneInterface* scene_;
  int dof_ = 0;
  std::vector<std::pair<double, double>> bounds_;
  std::shared_ptr<ITrajectoryPlanner> planner_;
  std::vector<ArmMDHParams> mdh_params_;
};
