#pragma once

#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "scene_arm_workcell.h"
#include "test_support.h"

namespace bramlock_test {

using Joints = std::vector<double>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

inline bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// The six-axis scene arm of test/fixtures/scene_arm (written by its generate.py).
inline std::string sceneArmDirectory() { return fixturePath("scene_arm/"); }

// Its MDH table in the model's layout: rows zd, xa, qzero, alpha; one column per joint.
inline std::vector<std::vector<double>> sceneArmMdhTable() { return scene_arm_workcell::sceneArmMdhTable(); }

inline std::vector<double> sceneArmAccelerationLimits() { return {10.0, 10.0, 10.0, 12.0, 12.0, 12.0}; }

// Velocity limits and joint bounds as the URDF gives them.
inline std::vector<double> sceneArmVelocityLimits() { return {3.1, 3.1, 3.1, 3.9, 3.9, 3.9}; }
inline std::vector<std::pair<double, double>> sceneArmBounds() {
  return {{-3.1, 3.1}, {-2.27, 2.27}, {-2.9, 2.9}, {-3.1, 3.1}, {-2.2, 2.2}, {-3.1, 3.1}};
}

constexpr double kSceneArmRobotPadding = 0.01;

// A published arm of test/fixtures/realman as a scene (or a subclass of
// one), built quietly, with the scene arm's acceleration limits and its last
// link, which has no fixed child, standing in for a gripper.
template <typename Scene>
std::unique_ptr<Scene> makeRealmanArm(const std::string& urdf, const std::string& srdf, const std::string& last_link,
                                      std::vector<std::vector<double>> table, double robot_padding) {
  OutputCapture quiet;
  return std::make_unique<Scene>(fixturePath("realman/"), urdf, srdf, "arm", robot_padding, 1.0, last_link, table,
                                 sceneArmAccelerationLimits());
}

// The published RM65, with the scene arm's MDH table.
template <typename Scene = ManipulatorPlanScene>
std::unique_ptr<Scene> makeRm65(double robot_padding) {
  return makeRealmanArm<Scene>("rm_description/urdf/rm_65.urdf", "rm_65.srdf", "Link6", sceneArmMdhTable(),
                               robot_padding);
}

// The RML63-B's MDH values in the model's layout (rows zd, xa, qzero, alpha).
inline std::vector<std::vector<double>> rml63MdhTable() {
  return {{0.172, 0.0, 0.0, 0.40581, 0.0, 0.115289},
          {0.0, -0.085659, 0.381051, 0.071459, 0.0, 0.0},
          {0.0, -1.57413, 1.571861, 0.010472, 3.145607, M_PI},
          {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2}};
}

// The published RML63, with its own MDH table.
template <typename Scene = ManipulatorPlanScene>
std::unique_ptr<Scene> makeRml63(double robot_padding) {
  return makeRealmanArm<Scene>("rm_description/urdf/rml_63.urdf", "rml_63.srdf", "link6", rml63MdhTable(),
                               robot_padding);
}

// The scene arm's robot model on its own (an independent view of its poses), loaded quietly.
inline std::shared_ptr<moveit::core::RobotModel> loadSceneArmModel() {
  OutputCapture quiet;
  return std::make_shared<moveit::core::RobotModel>(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf",
                                                    sceneArmMdhTable());
}

// A scene in the full form on the two-group SRDF, planning for `group`; the
// start-up output is swallowed (or kept in `output` when given).
inline std::unique_ptr<ManipulatorPlanScene> makeSceneArm(
    const std::string& group = "arm", const std::string& srdf = "scene_arm.srdf",
    std::vector<double> acceleration_limits = sceneArmAccelerationLimits(), std::string* output = nullptr) {
  OutputCapture capture;
  auto table = sceneArmMdhTable();
  auto scene =
      std::make_unique<ManipulatorPlanScene>(sceneArmDirectory(), "scene_arm.urdf", srdf, group, kSceneArmRobotPadding,
                                             1.0, "gripper_link", table, std::move(acceleration_limits));
  if (output) *output = capture.out();
  return scene;
}

// An octree of the given resolution with one occupied voxel per point.
inline std::shared_ptr<const octomap::OcTree> octreeWith(const std::vector<octomap::point3d>& points,
                                                         double resolution = 0.02) {
  auto tree = std::make_shared<octomap::OcTree>(resolution);
  for (const auto& point : points) tree->updateNode(point, true);
  return tree;
}

// The call's result, its console output swallowed.
template <typename Call>
auto quietly(Call call) {
  OutputCapture quiet;
  return call();
}

// Replaces the scene's world by an octree of those voxels.
inline void setOctree(ManipulatorPlanScene& scene, const std::vector<octomap::point3d>& points) {
  OutputCapture quiet;
  scene.updateWorldOctomap(octreeWith(points));
}

}  // namespace bramlock_test
