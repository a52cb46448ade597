#pragma once

#include <optional>
#include <random>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "planner/rrt/joint_space.h"

namespace bramlock::internal {

// Post-processing of a found path: random shortcuts, vertex removal, collapse
// of close vertices, corner smoothing and clearance from obstacles. The first
// and last points never change; a step returns true when it changed the path.
// Each step that checks motions is told which checker of the scene to ask; the
// clearance step mixes both checkers in a fixed way and names them at each check.
//
// Each shortcut and vertex-removal attempt, and each clearance call, seeds
// its own engine with one value from the system random device. Opening the
// device costs far more than a draw, so it is opened on the first attempt and
// stays open for the simplifier's lifetime; a path that needs no random step
// never opens it.
class PathSimplifier {
 public:
  // The scene must outlive the simplifier; dof is the planned joint count and
  // the bounds those of the plan space (clearance moves stay inside them).
  PathSimplifier(PlanSceneInterface& scene, int dof, std::vector<std::pair<double, double>> bounds);
  PathSimplifier(const PathSimplifier&) = delete;
  PathSimplifier& operator=(const PathSimplifier&) = delete;

  // The direct motion when it is free, else shortcuts, vertex removal and
  // collapse of close vertices. False only for a path of at most two points.
  bool simplify(JointPath& path, MotionCheck check);
  // Shortcuts and vertex removal repeated while they change the path; an
  // invalid argument thrown by the scene ends the repetitions quietly.
  // False only for a path of at most two points.
  bool simplifyAfter(JointPath& path, MotionCheck check);
  // Random shortcuts between points (or interpolated states) at most
  // range_ratio of the path length apart; ends within snap_ratio of the
  // length from a point snap onto it.
  bool shortcut(JointPath& path, double range_ratio, double snap_ratio, MotionCheck check);
  // Random removal of the points between two points at most
  // range_ratio of the point count apart.
  bool reduceVertices(JointPath& path, double range_ratio, MotionCheck check);
  // Joins the closest non-neighbouring points first, trying each pair once.
  bool collapseCloseVertices(JointPath& path, MotionCheck check);
  // Subdivides and cuts corners, for up to the given number of passes.
  void smoothBSpline(JointPath& path, int passes, MotionCheck check);

  // Densifies the path and moves interior points that the simplify checker
  // rejects by at most 0.2 rad per joint. False for a path of at most two
  // points or when some point found no acceptable new position.
  bool awayFromObstacle(JointPath& path);

  // Inserts the midpoint of every segment.
  static void subdivide(JointPath& path);
  // Cuts every segment longer than a sixth of the path into equal pieces.
  static void ntimesdivide(JointPath& path);

 private:
  bool stateValid(const std::vector<double>& state, StateCheck check) {
    return stateAccepted(scene_, dof_, state, check);
  }
  bool motionValid(const std::vector<double>& from, const std::vector<double>& to, MotionCheck check) {
    return motionAccepted(scene_, dof_, from, to, check);
  }
  std::mt19937 attemptEngine();
  std::vector<double> randomStateNear(const std::vector<double>& centre, std::mt19937& engine) const;

  PlanSceneInterface& scene_;
  int dof_;
  std::vector<std::pair<double, double>> bounds_;
  std::optional<std::random_device> random_device_;
};

}  // namespace bramlock::internal
