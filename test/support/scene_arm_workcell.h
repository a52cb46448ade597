#pragma once

// A workcell around the six-axis scene arm of test/fixtures/scene_arm, shared
// by the scene tests and the planning benchmarks: an octomap of 5 cm voxels
// holding a wall with a 0.3 m gap, a shelf with two boards and a back, and a
// table carrying two blocks, with start/goal pairs whose direct motion runs
// into them. Only the library and octomap are needed here.

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"

namespace scene_arm_workcell {

constexpr double kVoxelSize = 0.05;

// The obstacles, every voxel shifted by `offset` metres along x.
std::shared_ptr<const octomap::OcTree> workcellOctree(double offset = 0.0);

// The scene arm's description directory and MDH table.
std::string sceneArmDirectory();
ManipulatorPlanScene::MdhTable sceneArmMdhTable();

// The scene arm planning for "arm" (robot padding 0.01, with acceleration
// limits) in the workcell, described in `directory` (a copy of the scene
// arm's); a derived scene class takes its own arguments first. Construction
// prints the model's report: callers that want a quiet console silence it.
template <typename Scene = ManipulatorPlanScene, typename... Leading>
std::unique_ptr<Scene> makeWorkcellSceneIn(const std::string& directory, Leading&&... leading) {
  ManipulatorPlanScene::MdhTable table = sceneArmMdhTable();
  auto scene =
      std::make_unique<Scene>(std::forward<Leading>(leading)..., directory, "scene_arm.urdf", "scene_arm.srdf", "arm",
                              0.01, 1.0, "gripper_link", table, std::vector<double>{10, 10, 10, 12, 12, 12});
  scene->updateWorldOctomap(workcellOctree());
  return scene;
}

// The same in the scene arm's own description directory.
template <typename Scene = ManipulatorPlanScene, typename... Leading>
std::unique_ptr<Scene> makeWorkcellScene(Leading&&... leading) {
  return makeWorkcellSceneIn<Scene>(sceneArmDirectory(), std::forward<Leading>(leading)...);
}

struct PlanPair {
  std::string name;
  std::vector<double> start;
  std::vector<double> goal;
};

// Pairs whose straight motion collides with the workcell.
std::vector<PlanPair> detourPairs();
// A pair whose straight motion is free.
PlanPair openSpacePair();

}  // namespace scene_arm_workcell
