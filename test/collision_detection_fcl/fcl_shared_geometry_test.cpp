// Scaled and padded link geometry is built once per (shape, scale, padding,
// owner) and shared by every checker that asks for it; the shared trees give
// the same answers as trees built separately for each checker.
#include <map>
#include <memory>
#include <random>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <gtest/gtest.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "test_support.h"

namespace cd = collision_detection;
using bramlock_test::OutputCapture;

namespace {

std::shared_ptr<shapes::Mesh> unitBoxMesh() {
  return std::shared_ptr<shapes::Mesh>(shapes::createMeshFromShape(shapes::Box(1.0, 1.0, 1.0)));
}

TEST(SharedLinkGeometry, OneGeometryPerShapeScalePaddingAndOwner) {
  moveit::core::LinkModel link_a{"link_a", 0};
  moveit::core::LinkModel link_b{"link_b", 1};
  const auto mesh = unitBoxMesh();
  const auto padded = cd::createCollisionGeometry(mesh, 1.0, 0.05, &link_a, 0);
  ASSERT_NE(padded, nullptr);
  EXPECT_EQ(cd::createCollisionGeometry(mesh, 1.0, 0.05, &link_a, 0), padded);

  // Any other value, owner or shape object is other geometry.
  const std::vector<cd::FCLGeometryConstPtr> others = {
      cd::createCollisionGeometry(mesh, 1.0, 0.06, &link_a, 0),
      cd::createCollisionGeometry(mesh, 1.5, 0.05, &link_a, 0),
      cd::createCollisionGeometry(mesh, 1.0, 0.05, &link_b, 0),
      cd::createCollisionGeometry(mesh, 1.0, 0.05, &link_a, 1),
      cd::createCollisionGeometry(unitBoxMesh(), 1.0, 0.05, &link_a, 0)};
  for (const auto& other : others) {
    ASSERT_NE(other, nullptr);
    EXPECT_NE(other, padded);
  }
  EXPECT_EQ(others[2]->geometry_data->link(), &link_b);
  EXPECT_EQ(others[3]->geometry_data->shape_index, 1);
  EXPECT_EQ(padded->geometry_data->link(), &link_a);
  EXPECT_EQ(padded->geometry_data->shape_index, 0);

  // The shared tree is the padded one: the same box as a tree built on its own.
  cd::FCLGeometryConstPtr separate;
  std::thread([&] { separate = cd::createCollisionGeometry(mesh, 1.0, 0.05, &link_a, 0); }).join();
  ASSERT_NE(separate, nullptr);
  EXPECT_NE(separate, padded);
  EXPECT_EQ(separate->geometry->aabb_local.min_, padded->geometry->aabb_local.min_);
  EXPECT_EQ(separate->geometry->aabb_local.max_, padded->geometry->aabb_local.max_);
  EXPECT_GT(padded->geometry->aabb_local.max_.x(), 0.5);
}

TEST(SharedLinkGeometry, SharedGeometryStillCountsAsALinkCacheInsertion) {
  // Each call keys the cache by its own clone, as when every call built a
  // tree, so the cleaning messages come at the same insertion as before.
  std::vector<std::string> printed;  // by each call, in order
  std::thread([&] {
    moveit::core::LinkModel link{"link", 0};
    const auto mesh = unitBoxMesh();
    cd::FCLGeometryConstPtr first;
    for (int call = 0; call < 101; ++call) {
      OutputCapture capture;
      const auto geometry = cd::createCollisionGeometry(mesh, 1.0, 0.05, &link, 0);
      printed.push_back(capture.out());
      if (!first) first = geometry;
      EXPECT_EQ(geometry, first);
    }
  }).join();
  ASSERT_EQ(printed.size(), 101u);
  for (int call = 0; call < 100; ++call) EXPECT_EQ(printed[call], "") << "call " << call;
  std::string cleaning;
  for (int entry = 0; entry < 100; ++entry) cleaning += "FCLShapeCache() erase!\n";
  EXPECT_EQ(printed[100], cleaning);
}

// ---- the scene's four robot checkers on the mesh arm ----

std::shared_ptr<const moveit::core::RobotModel> loadSceneArm() {
  OutputCapture quiet;
  std::vector<std::vector<double>> mdh = {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
                                          {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
                                          {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
                                          {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
  return std::make_shared<const moveit::core::RobotModel>(bramlock_test::fixturePath("scene_arm/"), "scene_arm.urdf",
                                                          "scene_arm.srdf", mdh);
}

using Checkers = std::vector<std::shared_ptr<cd::CollisionRobotFCL>>;

// Padded for world checks, unpadded for self checks, once per check road;
// the padded ones leave the base unpadded. A fifth repeats the first road's
// padding, as a scene with a robot padding equal to the gripper's would.
const std::vector<double> kCheckerPaddings = {0.01, 0.0, 0.06, 0.0, 0.01};

std::shared_ptr<cd::CollisionRobotFCL> checkerLikeTheScene(const std::shared_ptr<const moveit::core::RobotModel>& model,
                                                           double padding) {
  auto checker = std::make_shared<cd::CollisionRobotFCL>(model, padding, 1.0);
  if (padding != 0.0) checker->setLinkPadding("base_link", 0.0);
  return checker;
}

Checkers checkersLikeTheScene(const std::shared_ptr<const moveit::core::RobotModel>& model) {
  Checkers checkers;
  for (const double padding : kCheckerPaddings) checkers.push_back(checkerLikeTheScene(model, padding));
  return checkers;
}

// Each built on a thread of its own, so each builds every tree itself.
Checkers checkersBuiltApart(const std::shared_ptr<const moveit::core::RobotModel>& model) {
  Checkers checkers(kCheckerPaddings.size());
  for (size_t c = 0; c < checkers.size(); ++c) {
    std::thread([&] { checkers[c] = checkerLikeTheScene(model, kCheckerPaddings[c]); }).join();
  }
  return checkers;
}

// The geometry of each collision object the checker places, in slot order.
std::vector<const fcl::CollisionGeometryd*> geometryOf(const cd::CollisionRobotFCL& checker,
                                                       const moveit::core::RobotState& state) {
  cd::FCLObject objects;
  checker.constructFCLObject(state, objects);
  std::vector<const fcl::CollisionGeometryd*> geometries;
  for (const auto& object : objects.objects) geometries.push_back(object->collisionGeometry().get());
  return geometries;
}

std::shared_ptr<cd::World> workcell() {
  auto world = std::make_shared<cd::World>();
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translation() = Eigen::Vector3d(0.35, 0.0, 0.3);
  world->addToObject("block", std::make_shared<shapes::Box>(0.1, 0.4, 0.1), pose);
  pose.translation() = Eigen::Vector3d(-0.2, 0.25, 0.45);
  world->addToObject("ball", std::make_shared<shapes::Sphere>(0.08), pose);
  auto tree = std::make_shared<octomap::OcTree>(0.05);
  for (int i = -4; i <= 4; ++i) tree->updateNode(octomap::point3d(0.1 * i, -0.3, 0.25), true);
  world->addToObject("shelf", std::make_shared<shapes::OcTree>(tree), Eigen::Isometry3d::Identity());
  return world;
}

struct Answers {
  bool world_collision;
  bool self_collision;
  double world_distance;
  double self_distance;
  bool operator==(const Answers& other) const {
    return world_collision == other.world_collision && self_collision == other.self_collision &&
           world_distance == other.world_distance && self_distance == other.self_distance;
  }
};

// World questions go to `world_robot`, self questions to `self_robot`, as the scene asks them.
Answers answersAt(const cd::CollisionWorldFCL& world, const cd::CollisionRobotFCL& world_robot,
                  const cd::CollisionRobotFCL& self_robot, const moveit::core::RobotState& state,
                  const cd::AllowedCollisionMatrix& acm) {
  cd::CollisionRequest req;
  cd::CollisionResult world_res, self_res;
  world.checkRobotCollision(req, world_res, world_robot, state, acm);
  self_robot.checkSelfCollision(req, self_res, state, acm);
  cd::DistanceRequest dreq;
  dreq.acm = &acm;
  cd::DistanceResult world_dist, self_dist;
  world.distanceRobot(dreq, world_dist, world_robot, state);
  self_robot.distanceSelf(dreq, self_dist, state);
  return {world_res.collision, self_res.collision, world_dist.minimum_distance.distance,
          self_dist.minimum_distance.distance};
}

class SharedCheckerGeometryTest : public ::testing::Test {
 protected:
  std::shared_ptr<const moveit::core::RobotModel> model = loadSceneArm();
  Checkers shared = checkersLikeTheScene(model);
  moveit::core::RobotState state{model};

  void SetUp() override {
    state.setToDefaultValues();
    state.update();
  }
};

TEST_F(SharedCheckerGeometryTest, CheckersShareOneGeometryPerMeshScaleAndPadding) {
  std::vector<std::vector<const fcl::CollisionGeometryd*>> slots;
  for (const auto& checker : shared) slots.push_back(geometryOf(*checker, state));
  const std::vector<std::string>& links = model->getLinkModelNamesWithCollisionGeometry();
  ASSERT_EQ(slots.front().size(), links.size());  // one mesh per link in this arm
  for (size_t slot = 0; slot < links.size(); ++slot) {
    std::map<std::pair<double, double>, const fcl::CollisionGeometryd*> by_variant;
    std::set<const fcl::CollisionGeometryd*> distinct;
    for (size_t c = 0; c < shared.size(); ++c) {
      ASSERT_EQ(slots[c].size(), links.size());
      const std::pair<double, double> variant(shared[c]->getLinkScale(links[slot]),
                                              shared[c]->getLinkPadding(links[slot]));
      const auto known = by_variant.emplace(variant, slots[c][slot]).first;
      EXPECT_EQ(known->second, slots[c][slot]) << links[slot] << " in checker " << c;
      distinct.insert(slots[c][slot]);
    }
    EXPECT_EQ(distinct.size(), by_variant.size()) << links[slot];
  }
}

TEST_F(SharedCheckerGeometryTest, SharedGeometryAnswersLikeGeometryBuiltPerChecker) {
  const Checkers separate = checkersBuiltApart(model);
  for (size_t c = 0; c < shared.size(); ++c) {
    const auto mine = geometryOf(*shared[c], state), theirs = geometryOf(*separate[c], state);
    for (size_t slot = 0; slot < mine.size(); ++slot) ASSERT_NE(mine[slot], theirs[slot]);
  }

  cd::AllowedCollisionMatrix acm(model->getLinkModelNamesWithCollisionGeometry(), false);
  for (const auto& pair : model->getSRDF()->getDisabledCollisionPairs()) acm.setEntry(pair.link1_, pair.link2_, true);
  const auto world = workcell();
  std::unique_ptr<cd::CollisionWorldFCL> world_checker;
  {
    OutputCapture quiet;
    world_checker = std::make_unique<cd::CollisionWorldFCL>(world);
  }
  const moveit::core::JointModelGroup* arm = model->getJointModelGroup("arm");
  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> joint(-2.2, 2.2);
  int world_hits = 0, self_hits = 0;
  for (int sample = 0; sample < 60; ++sample) {
    std::vector<double> joints(arm->getVariableCount());
    for (double& value : joints) value = joint(rng);
    state.setJointGroupPositions(arm, joints.data());
    state.update();
    // Both check roads: (padded, unpadded) pairs 0/1 and 2/3, and the fifth checker.
    for (const auto& [world_robot, self_robot] : {std::pair<size_t, size_t>{0, 1}, {2, 3}, {4, 1}}) {
      const Answers mine = answersAt(*world_checker, *shared[world_robot], *shared[self_robot], state, acm);
      const Answers theirs = answersAt(*world_checker, *separate[world_robot], *separate[self_robot], state, acm);
      EXPECT_TRUE(mine == theirs) << "sample " << sample << ", checkers " << world_robot << "/" << self_robot;
      world_hits += mine.world_collision;
      self_hits += mine.self_collision;
    }
  }
  // The samples reach both answers of both questions.
  EXPECT_GT(world_hits, 0);
  EXPECT_LT(world_hits, 180);
  EXPECT_GT(self_hits, 0);
  EXPECT_LT(self_hits, 180);
}

}  // namespace
