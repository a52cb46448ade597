#include "demo_failure.h"

#include <cmath>
#include <cstdio>
#include <utility>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "demo_obstacle.h"
#include "demo_timing.h"

namespace plan_demo {
namespace {

using Bounds = std::vector<std::pair<double, double>>;

std::string sizeProblem(const std::vector<double>& start, const std::vector<double>& goal, std::size_t joints) {
  const bool start_fits = start.size() == joints;
  if (start_fits && goal.size() == joints) return "";
  const std::string name = start_fits ? "goal" : "start";
  return "the " + name + " holds " + std::to_string((start_fits ? goal : start).size()) + " values, the group has " +
         std::to_string(joints) + " joints";
}

std::string collisionProblem(ManipulatorPlanScene& scene, const std::string& name, const std::vector<double>& q) {
  if (scene.isValid(q)) return "";
  const std::string collides = "the " + name + " pose is in collision";
  if (!clearObstacle(scene)) return collides;
  return collides + (scene.isValid(q) ? " with the obstacle" : " even in an empty world (the arm with itself)");
}

std::string boundsProblem(ManipulatorPlanScene& scene, const std::string& name, const std::vector<double>& q) {
  Bounds bounds;
  std::vector<std::string> names;
  scene.getPlanSpaceBounds(bounds);
  scene.getPlanedJointNames(names);
  for (std::size_t j = 0; j < q.size() && j < bounds.size() && j < names.size(); ++j) {
    const auto [lower, upper] = bounds[j];
    if (std::isfinite(q[j]) && q[j] >= lower && q[j] <= upper) continue;
    char text[160];
    std::snprintf(text, sizeof text, "%s of the %s is %g rad, outside [%g, %g]", names[j].c_str(), name.c_str(), q[j],
                  lower, upper);
    return text;
  }
  return "";
}

std::string limitsProblem(ManipulatorPlanScene& scene) {
  if (sceneLimits(scene)) return "the planner ran out of time";
  return "the scene has no finite acceleration limit for every joint (--acceleration-limits)";
}

}  // namespace

std::string pipelineMeaning(int code) {
  switch (code) {
    case 0:
      return "success";
    case -1:
      return "start or goal of the wrong size, or the start in collision";
    case -2:
      return "goal in collision";
    case -3:
      return "start outside the joint bounds";
    case -4:
      return "goal outside the joint bounds";
    case -5:
      return "no connection found within the planner's iterations";
    case -6:
      return "planner time-out, or no velocity and acceleration limit for every joint";
    case -7:
      return "the trajectory generator could not time the path";
    default:
      return "unknown code";
  }
}

std::string planningFailureCause(ManipulatorPlanScene& scene, const std::vector<double>& start,
                                 const std::vector<double>& goal, int code) {
  std::vector<std::string> names;
  const auto joints = static_cast<std::size_t>(scene.getPlanedJointNames(names));
  switch (code) {
    case -1: {
      const std::string size = sizeProblem(start, goal, joints);
      return size.empty() ? collisionProblem(scene, "start", start) : size;
    }
    case -2:
      return collisionProblem(scene, "goal", goal);
    case -3:
      return boundsProblem(scene, "start", start);
    case -4:
      return boundsProblem(scene, "goal", goal);
    case -6:
      return limitsProblem(scene);
    case -7:
      return "the library output says why the path could not be timed";
    default:
      return "";
  }
}

}  // namespace plan_demo
