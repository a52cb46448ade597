#pragma once

#include <memory>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "bramlock_arm_planning_core/planner/trajectory_data.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"

// Which padded geometry a caller has in mind; runPlanPipeline accepts it and
// plans the same either way.
enum class PaddingType { kRobot, kGripper };

// The one-call motion planner: a collision-free joint-space path from start to
// goal (RRT-Connect with simplification and clearance), timed by the simple
// road of the trajectory generator into one point per waypoint.
//
// OWNERSHIP: THE PIPELINE TAKES OVER THE SCENE. The constructor takes
// ownership of the scene it is given and the destructor deletes it (through
// its virtual destructor). Do not delete a scene handed to a pipeline, do not
// use it after the pipeline is gone, and never hand one scene to two pipelines.
// This is why a pipeline can be neither copied nor moved.
class BRAMLOCK_EXPORT PathPlanAndPostProcessing {
 public:
  // Takes ownership of the scene (also when this constructor throws).
  // Throws std::invalid_argument for a null scene, and passes on what the
  // scene throws when it cannot serve the planner: std::runtime_error from
  // getMaximumExtent for a ManipulatorPlanScene whose extent is not finite or
  // too small to scale a step.
  explicit PathPlanAndPostProcessing(PlanSceneInterface* scene);
  // Deletes the planner, then the scene, then the generator.
  ~PathPlanAndPostProcessing();
  PathPlanAndPostProcessing(const PathPlanAndPostProcessing&) = delete;
  PathPlanAndPostProcessing& operator=(const PathPlanAndPostProcessing&) = delete;
  PathPlanAndPostProcessing(PathPlanAndPostProcessing&&) = delete;
  PathPlanAndPostProcessing& operator=(PathPlanAndPostProcessing&&) = delete;

  // Plans and times one motion between two joint vectors of the planned group
  // (radians). out is cleared first. Returns 0, the planner's code -1 to -6
  // (-3 / -4 also for a start / goal holding a value that is not finite), -6
  // when the scene gives no limits for every joint, or -7 when timing fails.
  // The flag is passed on to the generator.
  int runPlanPipeline(std::vector<double> start, std::vector<double> goal, std::vector<TrajectoryData>& out, bool flag);
  // The same, and prints whether the scene passes each planned segment.
  int runPlanPipeline(std::vector<double> start, std::vector<double> goal, std::vector<TrajectoryData>& out,
                      PaddingType padding, bool flag);
  // Logs one line and returns 0; plans nothing and leaves out as it is.
  int runPlanPipelineSimulation(std::vector<double> start, std::vector<double> goal, std::vector<TrajectoryData>& out);

 private:
  int run(std::vector<double> start, std::vector<double> goal, std::vector<TrajectoryData>& out, bool flag,
          bool report_segments);
  void reportSegments(const RRTConnect::Path& path);

  std::unique_ptr<PlanSceneInterface> scene_;
  std::unique_ptr<RRTConnect> planner_;
  std::unique_ptr<TrajectoryGenerator> generator_;
};
