#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "expect_throw_message.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

// Joint 3 folded back: the wrist lands on the shoulder.
const Joints kFolded = {0.0, 0.0, 2.9, 0.0, 0.0, 0.0};
// At the zero state the upper arm stands on the z axis with a radius of 0.045 m.
// Collision meshes are surfaces, so an obstacle must cut the surface: a 2 cm
// voxel at x 0.04..0.06 does; one at x 0.06..0.08 keeps clear of the link by
// 1.5 to 1.8 cm.
const octomap::point3d kOnUpperArm(0.05f, 0.01f, 0.37f);
const octomap::point3d kBesideUpperArm(0.07f, 0.01f, 0.37f);

// Remembers every state that the checks test through the planner's interface.
class RecordingScene : public ManipulatorPlanScene {
 public:
  using ManipulatorPlanScene::isValid;
  using ManipulatorPlanScene::ManipulatorPlanScene;

  bool isValid(double* joints) override {
    visited.emplace_back(joints, joints + 6);
    return ManipulatorPlanScene::isValid(joints);
  }

  Joints visitedAt(size_t i) const { return visited.at(i); }
  std::vector<Joints> visited;
};

std::unique_ptr<RecordingScene> makeRecordingScene() {
  OutputCapture quiet;
  auto table = bramlock_test::sceneArmMdhTable();
  return std::make_unique<RecordingScene>(bramlock_test::sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm",
                                          bramlock_test::kSceneArmRobotPadding, 1.0, "gripper_link", table,
                                          bramlock_test::sceneArmAccelerationLimits());
}

// The order in which a breadth-first bisection visits the indices 1..n-1.
std::vector<unsigned int> bisectionOrder(unsigned int n) {
  std::vector<unsigned int> order;
  if (n <= 1) return order;
  std::deque<std::pair<unsigned int, unsigned int>> ranges{{1, n - 1}};
  while (!ranges.empty()) {
    const auto [low, high] = ranges.front();
    ranges.pop_front();
    const unsigned int middle = (low + high) / 2;
    order.push_back(middle);
    if (middle > low) ranges.emplace_back(low, middle - 1);
    if (middle < high) ranges.emplace_back(middle + 1, high);
  }
  return order;
}

Joints lerp(const Joints& from, const Joints& to, double t) {
  Joints out(from.size());
  for (size_t i = 0; i < from.size(); ++i) out[i] = from[i] + t * (to[i] - from[i]);
  return out;
}

void expectNear(const Joints& actual, const Joints& expected) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) EXPECT_NEAR(actual[i], expected[i], 1e-12) << "joint " << i;
}

}  // namespace

TEST(SceneChecks, ObstaclesAndSelfCollisionInvalidateStates) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  EXPECT_TRUE(scene->isValid(zero.data()));
  EXPECT_TRUE(scene->isValidSimplify(zero.data()));
  EXPECT_TRUE(scene->isValid(zero));

  Joints folded = kFolded;
  EXPECT_FALSE(scene->isValid(folded.data())) << "the folded arm collides with itself";
  EXPECT_FALSE(scene->isValidSimplify(folded.data()));

  setOctree(*scene, {kOnUpperArm});
  EXPECT_FALSE(scene->isValid(zero.data()));
  Joints turned = {0.0, 1.2, 0.0, 0.0, 0.0, 0.0};
  EXPECT_TRUE(scene->isValid(turned.data())) << "the arm swung away from the voxel";
}

TEST(SceneChecks, PaddingSplitsThePlanningAndSimplificationRoads) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kBesideUpperArm});
  Joints zero(6, 0.0);
  EXPECT_TRUE(scene->isValid(zero.data())) << "beyond the robot padding";
  EXPECT_FALSE(scene->isValidSimplify(zero.data())) << "within the gripper padding";
  EXPECT_FALSE(scene->checkMotionSimplify(zero.data(), zero.data()));
  EXPECT_TRUE(scene->checkMotion(zero.data(), zero.data()));
}

TEST(SceneChecks, OctomapReplacesTheWholeWorld) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  OutputCapture first;
  EXPECT_EQ(scene->updateWorldOctomap(octreeWith({kOnUpperArm})), 0);
  EXPECT_EQ(first.out().substr(0, 4), "n:0\n");
  OutputCapture second;
  EXPECT_EQ(scene->updateWorldOctomap(octreeWith({octomap::point3d(1.0f, 1.0f, 1.0f)})), 0);
  EXPECT_EQ(second.out().substr(0, 4), "n:1\n");
  EXPECT_TRUE(scene->isValid(zero.data())) << "the first tree is gone";
  EXPECT_EQ(scene->updateWorldOctomap(nullptr), -1);
  EXPECT_TRUE(scene->isValid(zero.data()));
}

TEST(SceneChecks, OctreesWithoutAVoxelSizeLeaveTheWorldAlone) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  setOctree(*scene, {kOnUpperArm});
  ASSERT_FALSE(scene->isValid(zero.data()));
  for (double resolution : {kNaN, kInf, 0.0, -0.02}) {
    auto tree = std::make_shared<octomap::OcTree>(resolution);
    EXPECT_EQ(scene->updateWorldOctomap(tree), -1) << resolution;
    EXPECT_FALSE(scene->isValid(zero.data())) << "the voxel on the arm stays, " << resolution;
  }
}

TEST(SceneChecks, MotionCheckVisitsTheEndStateThenBisects) {
  auto scene = makeRecordingScene();
  const double step = scene->getMaximumExtent() * 0.005;
  Joints from(6, 0.0);
  Joints to = {7.5 * step, 0.0, 0.0, 0.0, 0.0, 0.0};
  ASSERT_EQ(scene->validSegmentCount(from.data(), to.data()), 8u);
  EXPECT_TRUE(scene->checkMotion(from.data(), to.data()));
  ASSERT_EQ(scene->visited.size(), 8u);
  expectNear(scene->visitedAt(0), to);
  const std::vector<unsigned int> order = {4, 2, 6, 1, 3, 5, 7};
  for (size_t i = 0; i < order.size(); ++i) expectNear(scene->visitedAt(i + 1), lerp(from, to, order[i] / 8.0));

  scene->visited.clear();
  Joints two = {1.5 * step, 0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_TRUE(scene->checkMotion(from.data(), two.data()));
  ASSERT_EQ(scene->visited.size(), 2u) << "n = 2 tests the end and the middle";
  expectNear(scene->visitedAt(1), lerp(from, two, 0.5));

  scene->visited.clear();
  EXPECT_TRUE(scene->checkMotion(from.data(), from.data()));
  EXPECT_EQ(scene->visited.size(), 1u) << "no distance: only the end state";

  scene->visited.clear();
  Joints folded = kFolded;
  EXPECT_FALSE(scene->checkMotion(from.data(), folded.data()));
  EXPECT_EQ(scene->visited.size(), 1u) << "a colliding end state stops at once";
}

TEST(SceneChecks, MotionCheckAgreesWithAScanOfItsStates) {
  auto scene = makeRecordingScene();
  setOctree(*scene, {octomap::point3d(0.25f, 0.0f, 0.5f), octomap::point3d(0.0f, 0.25f, 0.6f),
                     octomap::point3d(-0.2f, -0.2f, 0.4f)});
  std::mt19937 rng(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  const auto bounds = bramlock_test::sceneArmBounds();
  int valid = 0, invalid = 0;
  for (int trial = 0; trial < 150; ++trial) {
    Joints from(6), to(6);
    for (size_t j = 0; j < 6; ++j) {
      from[j] = 0.6 * bounds[j].second * unit(rng);
      to[j] = std::clamp(from[j] + 0.8 * unit(rng), bounds[j].first, bounds[j].second);
    }
    const unsigned int n = scene->validSegmentCount(from.data(), to.data());
    bool expected = scene->isValid(to);
    for (unsigned int k = 1; expected && k < n; ++k) expected = scene->isValid(lerp(from, to, double(k) / n));
    scene->visited.clear();
    const bool actual = scene->checkMotion(from.data(), to.data());
    ASSERT_EQ(actual, expected) << "trial " << trial;
    // The visits follow the bisection order up to the first invalid state.
    const std::vector<unsigned int> order = bisectionOrder(n);
    for (size_t i = 1; i < scene->visited.size(); ++i)
      expectNear(scene->visitedAt(i), lerp(from, to, double(order[i - 1]) / n));
    (actual ? valid : invalid)++;
  }
  EXPECT_GT(valid, 20);
  EXPECT_GT(invalid, 20);
}

TEST(SceneChecks, BadJointValuesAreInvalid) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  for (double bad : {kNaN, kInf, -kInf}) {
    Joints joints = zero;
    joints[3] = bad;
    EXPECT_FALSE(scene->isValid(joints.data()));
    EXPECT_FALSE(scene->isValidSimplify(joints.data()));
    EXPECT_FALSE(scene->checkMotion(zero.data(), joints.data()));
    EXPECT_FALSE(scene->checkMotion(joints.data(), zero.data()));
    EXPECT_FALSE(scene->checkMotionSimplify(joints.data(), zero.data()));
    EXPECT_EQ(scene->validSegmentCount(zero.data(), joints.data()), 0u);
  }
  EXPECT_FALSE(scene->isValid(static_cast<double*>(nullptr)));
  EXPECT_FALSE(scene->isValidSimplify(nullptr));
  EXPECT_FALSE(scene->checkMotion(nullptr, zero.data()));
  EXPECT_FALSE(scene->checkMotionSimplify(zero.data(), nullptr));
  EXPECT_EQ(scene->validSegmentCount(nullptr, zero.data()), 0u);
  EXPECT_FALSE(scene->isValid(Joints(5, 0.0)));
  EXPECT_FALSE(scene->isValid(Joints(7, 0.0)));

  // Far outside the bounds: no endless bisection, and the count saturates.
  Joints huge = {1e300, 0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(scene->validSegmentCount(zero.data(), huge.data()), std::numeric_limits<std::uint32_t>::max());
  EXPECT_FALSE(scene->checkMotion(zero.data(), huge.data()));
  Joints far = {40.0, 0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_FALSE(scene->checkMotionSimplify(zero.data(), far.data()));
}

TEST(SceneChecks, MimicGroupsTakeTheActiveJointsOnly) {
  auto scene = makeSceneArm("hand");
  std::vector<std::pair<double, double>> bounds;
  ASSERT_EQ(scene->getPlanSpaceBounds(bounds), 1);

  // A voxel where the mimic finger goes when the hand opens, placed with a robot state of its own.
  const auto model = loadSceneArmModel();
  moveit::core::RobotState state(model);
  state.setToDefaultValues();
  const double open_values[] = {0.03, 0.03};
  state.setJointGroupPositions(model->getJointModelGroup("hand"), open_values);
  state.update(true);
  const Eigen::Vector3d finger =
      state.getGlobalLinkTransform(model->getLinkModel("finger_mimic_link")) * Eigen::Vector3d(0.0, -0.005, 0.02);
  setOctree(*scene, {octomap::point3d(finger.x(), finger.y(), finger.z())});

  double closed[] = {0.0};
  double opened[] = {0.03};
  EXPECT_TRUE(scene->isValid(closed));
  EXPECT_FALSE(scene->isValid(opened)) << "the mimic finger follows its source";
  EXPECT_FALSE(scene->checkMotion(closed, opened));
  EXPECT_TRUE(scene->isValid(std::vector<double>{0.0}));
  EXPECT_FALSE(scene->isValid(std::vector<double>{0.0, 0.0}));
}

TEST(SceneChecks, UnboundedExtentsAreRefused) {
  // Limits of +-1e308 make an extent that overflows to infinity.
  bramlock_test::TempDir dir;
  bramlock_test::writeFile(dir.path() / "slide.urdf", R"(<robot name="slide">
  <link name="base_link"/>
  <joint name="slide_joint" type="prismatic">
    <parent link="base_link"/><child link="carriage"/><axis xyz="1 0 0"/>
    <limit lower="-1e308" upper="1e308" effort="1" velocity="1"/>
  </joint>
  <link name="carriage"/>
</robot>)");
  bramlock_test::writeFile(dir.path() / "slide.srdf", R"(<robot name="slide">
  <group name="slide"><joint name="slide_joint"/></group>
</robot>)");
  const std::string directory = dir.path().string() + "/";
  const char* const kSegmentNotFinite = "^longest_valid_segment is not finite!\n$";
  OutputCapture quiet;
  EXPECT_THROW_MESSAGE(ManipulatorPlanScene(directory, "slide.urdf", "slide.srdf", "slide", 0.0, 1.0),
                       std::runtime_error, kSegmentNotFinite);
  ManipulatorPlanScene scene(directory, "slide.urdf", "slide.srdf", 0.0, 1.0);
  EXPECT_THROW_MESSAGE(scene.setPlannedJointGroup("slide"), std::runtime_error, kSegmentNotFinite);
  EXPECT_THROW_MESSAGE(scene.getMaximumExtent(), std::runtime_error,
                       "^the robot model's maximum extent is not finite or too small to scale a step$");
  double zero[] = {0.0};
  EXPECT_FALSE(scene.isValid(zero)) << "no group was selected";
}
