// A state checked again, bit for bit, on the same road may be answered from
// the scene's memo; every change of the scene between the two checks must
// reach the answer.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "scene_arm.h"
#include "scene_arm_workcell.h"

namespace {

using namespace bramlock_test;

const Joints kZero(6, 0.0);
// Cuts the upper arm at the zero state, or its copy padded for the
// simplification road; beside the forearm 2 to 2.5 cm clear of it.
const octomap::point3d kOnUpperArm(0.05f, 0.01f, 0.37f);
const octomap::point3d kOnPaddedUpperArm(0.07f, 0.01f, 0.37f);
const octomap::point3d kBesideForearm(0.07f, 0.01f, 0.57f);
const octomap::point3d kFarAway(1.0f, 1.0f, 1.0f);

// Checks the same bits on the planning road (or the simplification road).
bool checkAgain(ManipulatorPlanScene& scene, Joints joints, bool simplify = false) {
  return simplify ? scene.isValidSimplify(joints.data()) : scene.isValid(joints.data());
}

// A point `reach` metres ahead of the gripper link's origin along its z axis at the state.
octomap::point3d aheadOfGripper(ManipulatorPlanScene& scene, const Joints& joints, double reach) {
  const Eigen::Matrix4d gripper = scene.getToolEndTransform(joints);
  const Eigen::Vector3d point = gripper.block<3, 1>(0, 3) + reach * gripper.block<3, 1>(0, 2);
  return octomap::point3d(static_cast<float>(point.x()), static_cast<float>(point.y()), static_cast<float>(point.z()));
}

TEST(SceneCheckMemo, ReplacedWorldsReachTheAnswerOnBothRoads) {
  auto scene = makeSceneArm();
  for (const bool simplify : {false, true}) {
    setOctree(*scene, {kFarAway});
    EXPECT_TRUE(checkAgain(*scene, kZero, simplify));
    setOctree(*scene, {simplify ? kOnPaddedUpperArm : kOnUpperArm});
    EXPECT_FALSE(checkAgain(*scene, kZero, simplify));
    EXPECT_FALSE(checkAgain(*scene, kZero, simplify));
    setOctree(*scene, {kFarAway});
    EXPECT_TRUE(checkAgain(*scene, kZero, simplify));
  }
}

TEST(SceneCheckMemo, ChangedPaddingsReachTheAnswer) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kBesideForearm});
  ASSERT_TRUE(checkAgain(*scene, kZero));
  ASSERT_EQ(quietly([&] { return scene->setRobotPadding(0.08); }), 0);
  EXPECT_FALSE(checkAgain(*scene, kZero));
  ASSERT_EQ(quietly([&] { return scene->recoverRobotPadding(); }), 0);
  EXPECT_TRUE(checkAgain(*scene, kZero));

  // Beside the gripper box along its narrow side (half width 0.03), 3 cm clear of it.
  const Eigen::Matrix4d gripper = scene->getToolEndTransform(kZero);
  const bool narrow_along_x = std::abs(gripper(0, 0)) > 0.5;
  setOctree(*scene, {narrow_along_x ? octomap::point3d(0.07f, 0.01f, 0.93f) : octomap::point3d(0.01f, 0.07f, 0.93f)});
  ASSERT_TRUE(checkAgain(*scene, kZero));
  ASSERT_EQ(quietly([&] { return scene->setGripperPadding(0.1); }), 0);
  EXPECT_FALSE(checkAgain(*scene, kZero));
  ASSERT_EQ(quietly([&] { return scene->setGripperPadding(0.0); }), 0);
  EXPECT_TRUE(checkAgain(*scene, kZero));
}

TEST(SceneCheckMemo, AttachedAndRemovedBodiesReachTheAnswer) {
  auto scene = makeSceneArm();
  setOctree(*scene, {aheadOfGripper(*scene, kZero, 0.23)});
  ASSERT_TRUE(checkAgain(*scene, kZero));
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose(2, 3) = 0.2;
  double size[3] = {0.1, 0.1, 0.1};
  ASSERT_EQ(quietly([&] {
              return scene->addAttachedCollisionObjectToLink("box", "gripper_link", {"gripper_link"}, pose, size, 1.0,
                                                             0.0);
            }),
            0);
  EXPECT_FALSE(checkAgain(*scene, kZero)) << "the attached box holds the voxel";
  quietly([&] { return scene->removeAttachedCollisionObjectFromLink("box"); });
  EXPECT_TRUE(checkAgain(*scene, kZero));
}

TEST(SceneCheckMemo, EachRoadKeepsItsOwnAnswer) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kOnPaddedUpperArm});
  for (int round = 0; round < 3; ++round) {
    EXPECT_TRUE(checkAgain(*scene, kZero, false)) << round;
    EXPECT_FALSE(checkAgain(*scene, kZero, true)) << round;
  }
}

// Repeated states, as the planner tests them, answer as a scene that checks
// each of them once, and print nothing either way.
TEST(SceneCheckMemo, RepeatedStatesAnswerAsSingleChecks) {
  auto repeating = scene_arm_workcell::makeWorkcellScene();
  // Along the straight motions of the detour pairs, which run into the workcell.
  std::vector<Joints> states;
  for (const auto& pair : scene_arm_workcell::detourPairs()) {
    for (int i = 0; i <= 20; ++i) {
      Joints state(pair.start.size());
      for (size_t j = 0; j < state.size(); ++j) state[j] = pair.start[j] + i / 20.0 * (pair.goal[j] - pair.start[j]);
      states.push_back(state);
    }
  }
  std::vector<bool> once;
  {
    OutputCapture quiet;
    auto fresh = scene_arm_workcell::makeWorkcellScene();
    for (const Joints& state : states) once.push_back(checkAgain(*fresh, state));
  }
  OutputCapture output;
  for (size_t i = 0; i < states.size(); ++i) {
    for (int repeat = 0; repeat < 3; ++repeat) EXPECT_EQ(checkAgain(*repeating, states[i]), once[i]) << i;
    if (i > 0) {
      EXPECT_EQ(checkAgain(*repeating, states[i - 1]), once[i - 1]) << i;
    }
  }
  EXPECT_EQ(output.out(), "");
  EXPECT_NE(std::count(once.begin(), once.end(), true), 0);
  EXPECT_NE(std::count(once.begin(), once.end(), false), 0);
}

}  // namespace
