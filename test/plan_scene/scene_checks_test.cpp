#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <deque>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include <pcl/PolygonMesh.h>
#include <pcl/conversions.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "collision_detection_fcl/link_tree_batch.h"
#include "expect_throw_message.h"
#include "plan_scene/padded_clearance.h"
#include "realman_copy.h"
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

std::unique_ptr<RecordingScene> makeRecordingScene(double robot_padding = bramlock_test::kSceneArmRobotPadding,
                                                   const std::string& urdf = "scene_arm.urdf") {
  OutputCapture quiet;
  auto table = bramlock_test::sceneArmMdhTable();
  return std::make_unique<RecordingScene>(bramlock_test::sceneArmDirectory(), urdf, "scene_arm.srdf", "arm",
                                          robot_padding, 1.0, "gripper_link", table,
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

// Trees without a usable voxel size, or whose voxels lie beyond the world's
// 1e6 m, are refused before the world is cleared.
TEST(SceneChecks, OctreesTheWorldCannotHoldLeaveItAlone) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  setOctree(*scene, {kOnUpperArm});
  ASSERT_FALSE(scene->isValid(zero.data()));
  std::vector<std::shared_ptr<octomap::OcTree>> trees;
  for (double resolution : {kNaN, kInf, 0.0, -0.02, 1e7})
    trees.push_back(std::make_shared<octomap::OcTree>(resolution));
  trees.push_back(std::make_shared<octomap::OcTree>(100.0));
  trees.back()->updateNode(octomap::point3d(2e6f, 0.0f, 0.0f), true);
  for (const auto& tree : trees) {
    const double resolution = tree->getResolution();
    EXPECT_EQ(quietly([&] { return scene->updateWorldOctomap(tree); }), -1) << resolution;
    EXPECT_FALSE(scene->isValid(zero.data())) << "the voxel on the arm stays, " << resolution;
  }
}

TEST(SceneChecks, MotionCheckVisitsTheEndStateThenBisects) {
  auto scene = makeRecordingScene();
  Joints from(6, 0.0);
  Joints to(6, 0.0);
  while (scene->validSegmentCount(from.data(), to.data()) < 8) to[0] += 1e-4;
  ASSERT_EQ(scene->validSegmentCount(from.data(), to.data()), 8u);
  EXPECT_TRUE(scene->checkMotion(from.data(), to.data()));
  ASSERT_EQ(scene->visited.size(), 8u);
  expectNear(scene->visitedAt(0), to);
  const std::vector<unsigned int> order = {4, 2, 6, 1, 3, 5, 7};
  for (size_t i = 0; i < order.size(); ++i) expectNear(scene->visitedAt(i + 1), lerp(from, to, order[i] / 8.0));

  scene->visited.clear();
  Joints two(6, 0.0);
  two[0] = to[0] / 4.0;
  ASSERT_EQ(scene->validSegmentCount(from.data(), two.data()), 2u);
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

  // Far outside the bounds: no endless bisection, and no count either.
  Joints huge = {1e300, 0.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_EQ(scene->validSegmentCount(zero.data(), huge.data()), 0u);
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

namespace {

// A box fixed to a link of the planned group, as attached to the scene.
struct Tool {
  std::string link;
  Eigen::Matrix4d pose;  // in the link's frame
  std::array<double, 3> size;
};

void attach(ManipulatorPlanScene& scene, const std::string& id, const Tool& tool,
            const std::set<std::string>& touch_links) {
  std::array<double, 3> size = tool.size;
  ASSERT_EQ(scene.addAttachedCollisionObjectToLink(id, tool.link, touch_links, tool.pose, size.data(), 1.0, 0.0), 0);
}

// A bar of 0.2 m along x, 1 cm thick, from 2 cm off the link's origin outwards.
Tool barOn(const std::string& link) {
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose(0, 3) = 0.12;
  return {link, pose, {0.2, 0.01, 0.01}};
}

// The pose of a link of the planned group at the joints, by the scene's own forward kinematics.
Eigen::Matrix4d linkPose(ManipulatorPlanScene& scene, Joints joints, const std::string& name) {
  for (const LinkTransform& record : scene.getLinkTransforms(joints.data())) {
    if (record.link_name == name) return record.transform;
  }
  ADD_FAILURE() << "no link " << name;
  return Eigen::Matrix4d::Identity();
}

// Every vertex of the arm's link meshes and every corner of the tools, placed at the joints.
std::vector<Eigen::Vector3d> armVertices(ManipulatorPlanScene& scene, const Joints& joints,
                                         const std::vector<Tool>& tools) {
  std::vector<pcl::PolygonMesh> meshes;
  EXPECT_EQ(scene.getLinkPolygonMeshs(joints, meshes), 0);
  std::vector<Eigen::Vector3d> vertices;
  for (const pcl::PolygonMesh& mesh : meshes) {
    pcl::PointCloud<pcl::PointXYZ> cloud;
    pcl::fromPCLPointCloud2(mesh.cloud, cloud);
    for (const pcl::PointXYZ& point : cloud.points) vertices.emplace_back(point.x, point.y, point.z);
  }
  for (const Tool& tool : tools) {
    const Eigen::Matrix4d placed = linkPose(scene, joints, tool.link) * tool.pose;
    for (int corner = 0; corner < 8; ++corner) {
      const Eigen::Vector4d local(((corner & 1) ? 0.5 : -0.5) * tool.size[0],
                                  ((corner & 2) ? 0.5 : -0.5) * tool.size[1],
                                  ((corner & 4) ? 0.5 : -0.5) * tool.size[2], 1.0);
      vertices.push_back((placed * local).head<3>());
    }
  }
  return vertices;
}

// How far the furthest-moving of the same vertices moves from one placing to the other.
double largestMove(const std::vector<Eigen::Vector3d>& first, const std::vector<Eigen::Vector3d>& second) {
  double largest = 0.0;
  for (size_t i = 0; i < first.size(); ++i) largest = std::max(largest, (second[i] - first[i]).norm());
  return largest;
}

// How far the furthest-moving vertex of the bare arm moves from one state to the other.
double largestVertexMove(ManipulatorPlanScene& scene, const Joints& a, const Joints& b) {
  return largestMove(armVertices(scene, a, {}), armVertices(scene, b, {}));
}

double motionParameter(const Joints& from, const Joints& to, const Joints& state) {
  size_t j = 0;
  for (size_t i = 1; i < from.size(); ++i) j = std::abs(to[i] - from[i]) > std::abs(to[j] - from[j]) ? i : j;
  return (state[j] - from[j]) / (to[j] - from[j]);
}

// A voxel that the arm touches at `touching` but not at any of `clear`,
// searched around a point of `frame` (a pose at `touching`).
std::optional<octomap::point3d> voxelTouchedOnlyAt(ManipulatorPlanScene& scene, const Joints& touching,
                                                   const std::vector<Joints>& clear, const Eigen::Matrix4d& frame,
                                                   const Eigen::Vector3d& around, double resolution) {
  for (double dz = -0.06; dz <= 0.06; dz += 0.01) {
    for (double dx = -0.06; dx <= 0.06; dx += 0.01) {
      const Eigen::Vector4d at = frame * Eigen::Vector4d(around.x() + dx, around.y(), around.z() + dz, 1.0);
      const octomap::point3d voxel(at.x(), at.y(), at.z());
      quietly([&] { return scene.updateWorldOctomap(octreeWith({voxel}, resolution)); });
      bool others_clear = true;
      for (const Joints& state : clear) others_clear = others_clear && scene.isValid(state);
      if (!scene.isValid(touching) && others_clear) return voxel;
    }
  }
  return std::nullopt;
}

// The same around the tool, in 2 cm voxels.
std::optional<octomap::point3d> voxelTouchedOnlyAt(ManipulatorPlanScene& scene, const Joints& touching,
                                                   const std::vector<Joints>& clear) {
  return voxelTouchedOnlyAt(scene, touching, clear, scene.getToolEndTransform(touching), Eigen::Vector3d::Zero(), 0.02);
}

}  // namespace

// Between two states a motion check tests, no vertex of the arm (nor corner of
// a tool) moves further than the step the scene states, and the count never
// falls below the extent rule: on the scene arm, bare and with a box on its
// finger, and on the published RM65, bare and with a bar on its last link;
// the wrist turns alone in every other motion.
TEST(SceneMotionSpacing, TestedStatesLieWithinTheStatedStep) {
  struct Case {
    std::string name;
    std::unique_ptr<RecordingScene> scene;
    std::vector<Tool> tools;
  };
  std::vector<Case> cases;
  cases.push_back({"scene arm", makeRecordingScene(), {}});
  cases.push_back({"rm65", makeRm65<RecordingScene>(0.0), {}});
  cases.push_back({"rm65 with a bar", makeRm65<RecordingScene>(0.0), {barOn("Link6")}});
  attach(*cases.back().scene, "bar", cases.back().tools.front(), {"Link6", "Link5"});
  // A box on the finger, which the group moves without listing it: the oracle
  // places it through the gripper link, the finger resting at 0.
  Eigen::Matrix4d box_pose = Eigen::Matrix4d::Identity();
  box_pose(2, 3) = 0.08;
  const Tool box_on_finger{"finger_link", box_pose, {0.06, 0.06, 0.1}};
  const Eigen::Matrix4d finger_origin =
      loadSceneArmModel()->getLinkModel("finger_link")->getJointOriginTransform().matrix();
  cases.push_back({"scene arm with a box on the finger",
                   makeRecordingScene(0.05),
                   {{"gripper_link", finger_origin * box_pose, box_on_finger.size}}});
  attach(*cases.back().scene, "box", box_on_finger, {"gripper_link", "finger_link", "finger_mimic_link", "link6"});
  for (Case& arm : cases) {
    RecordingScene& scene = *arm.scene;
    const double step = scene.getMotionCheckStep();
    EXPECT_GE(step, ManipulatorPlanScene::kMinimumMotionCheckStep) << arm.name;
    EXPECT_GE(scene.getMotionCheckClearance(), 0.0) << arm.name;
    EXPECT_LE(2.0 * scene.getMotionCheckClearance(), step + 1e-12) << arm.name;
    const double extent_step = scene.getMaximumExtent() * 0.005;
    std::vector<std::pair<double, double>> bounds;
    ASSERT_EQ(scene.getPlanSpaceBounds(bounds), 6) << arm.name;
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    int checked = 0;
    for (int trial = 0; trial < 16; ++trial) {
      Joints from(6), to(6);
      for (size_t j = 0; j < 6; ++j) {
        from[j] = 0.3 * bounds[j].second * unit(rng);
        const bool moves = trial % 2 == 0 || j >= 4;
        to[j] = moves ? std::clamp(from[j] + 0.6 * unit(rng), bounds[j].first, bounds[j].second) : from[j];
      }
      double distance = 0.0;
      for (size_t j = 0; j < 6; ++j) distance += std::abs(to[j] - from[j]);
      EXPECT_GE(scene.validSegmentCount(from.data(), to.data()), std::ceil(distance / extent_step)) << arm.name;
      scene.visited.clear();
      if (!scene.checkMotion(from.data(), to.data())) continue;
      ++checked;
      std::vector<Joints> tested = scene.visited;
      tested.push_back(from);
      std::sort(tested.begin(), tested.end(), [&](const Joints& a, const Joints& b) {
        return motionParameter(from, to, a) < motionParameter(from, to, b);
      });
      std::vector<Eigen::Vector3d> before = armVertices(scene, tested.front(), arm.tools);
      for (size_t i = 1; i < tested.size(); ++i) {
        std::vector<Eigen::Vector3d> after = armVertices(scene, tested[i], arm.tools);
        EXPECT_LE(largestMove(before, after), step + 1e-9) << arm.name << ", trial " << trial;
        before.swap(after);
      }
    }
    EXPECT_GE(checked, 8) << arm.name;
  }
}

// A wrist turn alone carries a bar on the last link past a voxel between the
// states that the extent rule spaces out: the bar is swept with the link it is on.
TEST(SceneMotionSpacing, ABarOnTheLastLinkIsSweptAsTheWristTurns) {
  auto scene = makeRm65<RecordingScene>(0.0);
  attach(*scene, "bar", barOn("Link6"), {"Link6", "Link5"});
  Joints from = {0.0, 0.3, 0.9, 0.0, 0.6, -0.65};
  Joints to = from;
  to[5] = 0.65;
  const auto extent_segments = static_cast<unsigned int>(std::ceil(1.3 / (scene->getMaximumExtent() * 0.005)));
  std::vector<Joints> extent_states;
  for (unsigned int k = 0; k <= extent_segments; ++k)
    extent_states.push_back(lerp(from, to, double(k) / extent_segments));
  const Joints between = lerp(from, to, (extent_segments / 2 + 0.5) / extent_segments);
  const auto voxel = voxelTouchedOnlyAt(*scene, between, extent_states, linkPose(*scene, between, "Link6"),
                                        Eigen::Vector3d(0.2, 0.0, 0.0), 0.01);
  ASSERT_TRUE(voxel.has_value());
  EXPECT_GT(scene->validSegmentCount(from.data(), to.data()), extent_segments);
  EXPECT_FALSE(scene->checkMotion(from.data(), to.data()));
  EXPECT_FALSE(scene->checkMotionSimplify(from.data(), to.data()));
}

// An unpadded body keeps no clearance, so the step falls to its floor,
// wherever the group moves it: on a link the group lists or not (a finger).
// A body on a link the group does not move leaves the step as it was.
TEST(SceneMotionSpacing, UnpaddedBodiesOnEveryLinkTheGroupMovesTakeTheClearance) {
  auto scene = makeRecordingScene(0.05);
  const double padded_step = scene->getMotionCheckStep();
  ASSERT_GT(padded_step, ManipulatorPlanScene::kMinimumMotionCheckStep);
  const Tool box{"base_link", Eigen::Matrix4d::Identity(), {0.04, 0.04, 0.04}};
  attach(*scene, "on base", box, {"base_link"});
  EXPECT_EQ(scene->getMotionCheckStep(), padded_step);
  for (const std::string link : {"finger_link", "link6"}) {
    attach(*scene, "tool", {link, Eigen::Matrix4d::Identity(), {0.02, 0.02, 0.02}},
           {"gripper_link", "finger_link", "finger_mimic_link", "link6"});
    EXPECT_EQ(scene->getMotionCheckClearance(), 0.0) << link;
    EXPECT_EQ(scene->getMotionCheckStep(), ManipulatorPlanScene::kMinimumMotionCheckStep) << link;
    EXPECT_EQ(scene->getMotionCheckClearance(true), 0.0) << link;
    scene->removeAttachedCollisionObjectFromLink("tool");
    EXPECT_EQ(scene->getMotionCheckStep(), padded_step) << link;
  }
}

// A voxel the arm meets only a quarter of the way along a short motion: at the
// old spacing of 0.005 x the extent the motion had two segments and its check
// tested only the middle and the end.
TEST(SceneMotionSpacing, AThinObstacleBetweenTheOldSpacingsStatesStopsTheMotion) {
  auto scene = makeRecordingScene(0.0);
  Joints from = {-0.2, 0.4, 0.6, 0.0, 0.5, 0.0};
  Joints to = from;
  to[0] += 1.5 * scene->getMaximumExtent() * 0.005;
  const auto voxel = voxelTouchedOnlyAt(*scene, lerp(from, to, 0.25), {from, lerp(from, to, 0.5), to});
  ASSERT_TRUE(voxel.has_value());
  setOctree(*scene, {*voxel});
  EXPECT_FALSE(scene->checkMotion(from.data(), to.data()));
  EXPECT_FALSE(scene->checkMotionSimplify(from.data(), to.data()));
}

// A wrist that turns without end moves through the values between, as the
// planner's waypoints and every timing move it, and is checked that way: a bar
// on the flange meets a voxel halfway from 3.0 to -3.0, where it points at 0.
TEST(SceneMotionSpacing, AContinuousWristIsCheckedThroughTheValuesBetween) {
  for (const std::string urdf : {"scene_arm_continuous_wrist.urdf", "scene_arm.urdf"}) {
    auto scene = makeRecordingScene(0.0, urdf);
    Eigen::Matrix4d bar_pose = Eigen::Matrix4d::Identity();
    bar_pose(0, 3) = 0.12;
    double bar[] = {0.2, 0.02, 0.02};
    ASSERT_EQ(scene->addAttachedCollisionObjectToLink("bar", "gripper_link", {"gripper_link", "link6"}, bar_pose, bar,
                                                      1.0, 0.0),
              0);
    Joints start = {0.0, 0.3, 0.9, 0.0, 0.6, 3.0};
    Joints goal = start;
    goal[5] = -3.0;
    Joints middle = start;
    middle[5] = 0.0;
    const Eigen::Vector4d tip = scene->getToolEndTransform(middle) * Eigen::Vector4d(0.2, 0.0, 0.0, 1.0);
    setOctree(*scene, {octomap::point3d(tip.x(), tip.y(), tip.z())});
    ASSERT_TRUE(scene->isValid(start)) << urdf;
    ASSERT_TRUE(scene->isValid(goal)) << urdf;
    ASSERT_FALSE(scene->isValid(middle)) << urdf;
    scene->visited.clear();
    EXPECT_FALSE(scene->checkMotion(start.data(), goal.data())) << urdf;
    for (const Joints& state : scene->visited) EXPECT_LE(std::abs(state[5]), 3.0 + 1e-12) << urdf;
    EXPECT_GE(scene->validSegmentCount(start.data(), goal.data()), std::ceil(6.0 / (scene->getMaximumExtent() * 0.005)))
        << urdf;
  }
}

// Samples of a curve: tested where the geometry has moved a step since the
// last tested one, every sample within half a step of a tested one.
TEST(SceneMotionSpacing, SampledMotionsAreTestedWithinHalfAStep) {
  auto scene = makeRecordingScene(0.0);
  const Joints from = {-0.6, 0.2, 0.5, 0.0, 0.4, 0.0};
  const Joints to = {0.6, 0.5, 0.9, 0.3, 0.8, 0.5};
  std::vector<Joints> samples;
  for (int i = 0; i <= 2000; ++i) {
    const double t = i / 2000.0;
    samples.push_back(lerp(from, to, 0.5 - 0.5 * std::cos(M_PI * t)));
  }
  scene->visited.clear();
  std::size_t failing = 99;
  ASSERT_TRUE(scene->checkSampledMotion(samples, &failing));
  EXPECT_EQ(failing, 99u) << "untouched on success";
  const std::vector<Joints> tested = scene->visited;
  EXPECT_LT(tested.size(), samples.size() / 2);
  const double step = scene->getMotionCheckStep();
  for (size_t i = 0; i < samples.size(); i += 37) {
    double nearest = std::numeric_limits<double>::infinity();
    for (const Joints& state : tested) nearest = std::min(nearest, largestVertexMove(*scene, samples[i], state));
    EXPECT_LE(nearest, 0.5 * step + 1e-9) << "sample " << i;
  }

  // A voxel in the way halfway along.
  const auto voxel = voxelTouchedOnlyAt(*scene, samples[1000], {samples.front(), samples.back()});
  ASSERT_TRUE(voxel.has_value());
  setOctree(*scene, {*voxel});
  EXPECT_FALSE(scene->checkSampledMotion(samples, &failing));
  EXPECT_FALSE(scene->isValid(samples.at(failing)));

  // Unusable samples fail at their index.
  setOctree(*scene, {octomap::point3d(5.0f, 5.0f, 5.0f)});
  for (const Joints& bad : {Joints{0.0, 0.0, kNaN, 0.0, 0.0, 0.0}, Joints{0.0, -kInf, 0.0, 0.0, 0.0, 0.0},
                            Joints{1e300, 0.0, 0.0, 0.0, 0.0, 0.0}, Joints(5, 0.0), Joints(7, 0.0)}) {
    std::vector<Joints> with_bad = samples;
    with_bad[100] = bad;
    EXPECT_FALSE(scene->checkSampledMotion(with_bad, &failing));
    EXPECT_EQ(failing, 100u);
  }
  EXPECT_FALSE(scene->checkSampledMotion({}, nullptr));
}

namespace {

// paddedClearance on a thread whose checkers hold no trees, so that it builds
// its own for the query.
double clearanceOnFreshTrees(const shapes::ShapeConstPtr& mesh, double scale, double padding) {
  double clearance = -1.0;
  std::thread([&] {
    EXPECT_FALSE(bramlock::internal::heldPlainLinkTree(mesh));
    clearance = bramlock::internal::paddedClearance(mesh, scale, padding);
  }).join();
  return clearance;
}

}  // namespace

// The step derives from each link mesh's padded clearance, which is measured
// on the trees the checkers hold: it is the same, bit for bit, as on trees
// built for the query, whether the padded copy crosses the mesh (the
// published RM65's concave meshes) or keeps clear of it (the scene arm's boxes).
TEST(SceneMotionSpacing, PaddedClearancesOnTheCheckersTreesAreThoseOfFreshTrees) {
  std::vector<std::shared_ptr<moveit::core::RobotModel>> models = {loadSceneArmModel()};
  {
    OutputCapture quiet;
    models.push_back(std::make_shared<moveit::core::RobotModel>(
        fixturePath("realman/"), "rm_description/urdf/rm_65.urdf", "rm_65.srdf", sceneArmMdhTable()));
  }
  int crossing = 0, clear = 0;
  for (const auto& model : models) {
    const collision_detection::CollisionRobotFCL plain(model, 0.0, 1.0);
    for (const double scale : {1.0, 1.03}) {
      // Both paddings held at once, as a scene's two roads hold them.
      const std::vector<double> paddings = {0.01, 0.06};
      const collision_detection::CollisionRobotFCL planning(model, paddings[0], scale);
      const collision_detection::CollisionRobotFCL simplify(model, paddings[1], scale);
      for (const double padding : paddings) {
        for (const moveit::core::LinkModel* link : model->getLinkModelsWithCollisionGeometry()) {
          for (const shapes::ShapeConstPtr& shape : link->getShapes()) {
            const std::string where =
                link->getName() + " at scale " + std::to_string(scale) + ", padding " + std::to_string(padding);
            ASSERT_TRUE(bramlock::internal::heldPlainLinkTree(shape)) << where;
            ASSERT_TRUE(bramlock::internal::heldScaledLinkTree(shape, scale, padding)) << where;
            const double clearance = bramlock::internal::paddedClearance(shape, scale, padding);
            EXPECT_EQ(clearance, clearanceOnFreshTrees(shape, scale, padding)) << where;
            ++(clearance > 0.0 ? clear : crossing);
          }
        }
      }
    }
  }
  EXPECT_GT(crossing, 0);
  EXPECT_GT(clear, 0);
}

// The published RM65 with its first joint limited to +-1e10 rad: a motion of
// 1e9 rad within those bounds would sweep the arm for billions of states.
TEST(SceneChecks, MotionsNeedingMoreStatesThanTheCapAreRefused) {
  TempDir dir;
  auto scene =
      makeRm65Copy(dir, withElementOf(rm65UrdfWithAbsoluteMeshes(), "name=\"joint1\"", "<limit", "/>",
                                      "<limit lower=\"-1e10\" upper=\"1e10\" effort=\"60\" velocity=\"3.14\"/>"));
  Joints from = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  Joints near = from;
  near[0] = 0.5;
  Joints far = from;
  far[0] = 1e9;
  ASSERT_TRUE(scene->isValid(far)) << "the end state itself is free";
  const unsigned int states = scene->validSegmentCount(from.data(), near.data());
  EXPECT_GT(states, 1u);
  EXPECT_LE(states, ManipulatorPlanScene::kMaxMotionCheckStates);
  EXPECT_TRUE(scene->checkMotion(from.data(), near.data())) << "motions of a real arm are still checked";

  std::string out;
  {
    OutputCapture capture;
    EXPECT_FALSE(scene->checkMotion(from.data(), far.data()));
    EXPECT_FALSE(scene->checkMotionSimplify(from.data(), far.data()));
    EXPECT_EQ(scene->validSegmentCount(from.data(), far.data()), 0u);
    EXPECT_TRUE(scene->interpolate(from.data(), far.data()).empty());
    EXPECT_FALSE(scene->checkSampledMotion({from, far}, nullptr));
    out = capture.out();
  }
  EXPECT_TRUE(contains(out, "[WARN] motion refused: checking it needs ")) << out;
  EXPECT_TRUE(contains(out, "more than the 100000 a motion check may test")) << out;

  // Plans among such bounds end: the near goal is reached, the far one (no
  // search can step 1e9 rad) is given up.
  for (const Joints& goal : {near, far}) {
    RRTConnect planner(scene.get());
    planner.setStepSizeAndSampleRate(0.04, 15);
    planner.setStartAndGoal(from, goal);
    RRTConnect::Path path;
    EXPECT_EQ(quietly([&] { return planner.planning(path); }) == 0, goal[0] == near[0]) << goal[0];
  }
}
