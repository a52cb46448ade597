// Geometry the world checker could not see is never taken in silently: the
// world refuses shapes whose sizes, vertices or cells are not finite or lie
// beyond its limit, and an attached closed mesh is a solid against the world
// whether or not its checker's attached-body geometry was updated.
#include <gtest/gtest.h>

#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "planar_arm.h"
#include "solid_mesh_makers.h"

namespace {

namespace cd = collision_detection;
using namespace bramlock_test;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kBeyond = 2.0 * cd::World::kMaxShapeExtent;

// A closed cube of the half side about the origin, wound counter-clockwise seen from outside.
std::shared_ptr<shapes::Mesh> cube(double half) {
  return meshShape(boxMesh(Eigen::Vector3d::Constant(-half), Eigen::Vector3d::Constant(half)));
}

std::shared_ptr<shapes::Mesh> cubeWithFirstX(double x) {
  auto mesh = cube(1.0);
  mesh->vertices[0] = x;
  return mesh;
}

std::shared_ptr<const shapes::OcTree> voxelAt(const Eigen::Vector3d& centre, double size) {
  auto tree = std::make_shared<octomap::OcTree>(size);
  tree->updateNode(octomap::point3d(centre.x(), centre.y(), centre.z()), true);
  return std::make_shared<const shapes::OcTree>(tree);
}

class WorldGeometryAgainstThePlanarArm : public PlanarArmAgainstTheWorld {
 protected:
  cd::CollisionRobotFCL robot{model};

  // The world holds only this object afterwards, if it took it; the console says why not.
  bool setWorld(const shapes::ShapeConstPtr& shape, const Eigen::Isometry3d& pose, std::string* out = nullptr) {
    OutputCapture capture;
    world->clearObjects();
    const bool added = world->addToObject("obstacle", shape, pose);
    if (out) *out = capture.out();
    return added;
  }

  bool collides(const cd::CollisionRequest& req = {}) {
    cd::CollisionResult res;
    world_checker.checkRobotCollision(req, res, robot, *state, acm);
    return res.collision;
  }
};

TEST_F(WorldGeometryAgainstThePlanarArm, ShapesOfGeometryThatCannotBeCheckedAreRefusedAndIntactOnesCollide) {
  // The arm lies inside a closed cube of half side 1 m, and meets each of these.
  const std::vector<shapes::ShapeConstPtr> intact = {
      cube(1.0),
      std::make_shared<shapes::Box>(0.1, 0.1, 0.1),
      std::make_shared<shapes::Sphere>(0.05),
      std::make_shared<shapes::Cylinder>(0.05, 0.1),
      std::make_shared<shapes::Cone>(0.05, 0.1),
      std::make_shared<shapes::Plane>(0.0, 0.0, 1.0, 0.0),
  };
  for (const auto& shape : intact) {
    SCOPED_TRACE(shape->type);
    ASSERT_TRUE(setWorld(shape, at(0.9, 0.0, 0.0)));
    EXPECT_TRUE(collides());
  }
  ASSERT_TRUE(setWorld(voxelAt({0.9, 0.0, 0.0}, 0.01), Eigen::Isometry3d::Identity()));
  EXPECT_TRUE(collides());

  auto coarse_tree = std::make_shared<octomap::OcTree>(100.0);
  coarse_tree->updateNode(octomap::point3d(0.0f, 0.0f, 0.0f), true);
  coarse_tree->updateNode(octomap::point3d(static_cast<float>(kBeyond), 0.0f, 0.0f), true);
  const std::vector<shapes::ShapeConstPtr> refused = {
      cubeWithFirstX(kNaN),
      cubeWithFirstX(kInf),
      cubeWithFirstX(1e30),
      cubeWithFirstX(kBeyond),
      std::make_shared<shapes::Box>(kNaN, 0.1, 0.1),
      std::make_shared<shapes::Box>(0.1, kInf, 0.1),
      std::make_shared<shapes::Box>(0.1, 0.1, kBeyond),
      std::make_shared<shapes::Sphere>(kNaN),
      std::make_shared<shapes::Sphere>(kBeyond),
      std::make_shared<shapes::Cylinder>(0.05, kInf),
      std::make_shared<shapes::Cone>(kNaN, 0.1),
      std::make_shared<shapes::Plane>(0.0, 0.0, 0.0, 0.0),
      std::make_shared<shapes::Plane>(0.0, 0.0, kNaN, 0.0),
      std::make_shared<shapes::Plane>(0.0, 0.0, 1.0, kBeyond),
      voxelAt({0.9, 0.0, 0.0}, kBeyond),
      std::make_shared<const shapes::OcTree>(coarse_tree),
      std::make_shared<shapes::OcTree>(nullptr),
      nullptr,
  };
  for (size_t i = 0; i < refused.size(); ++i) {
    SCOPED_TRACE(i);
    std::string out;
    EXPECT_FALSE(setWorld(refused[i], at(0.9, 0.0, 0.0), &out));
    EXPECT_FALSE(world->hasObject("obstacle"));
    EXPECT_NE(out.find("World object 'obstacle': shape 0 cannot be checked"), std::string::npos) << out;
    EXPECT_FALSE(collides());
  }

  // One such shape refuses the whole object, and cannot replace an intact shape.
  OutputCapture quiet;
  EXPECT_FALSE(world->addToObject("pair", {std::make_shared<shapes::Sphere>(0.05), refused[0]},
                                  {at(0.9, 0.0, 0.0), at(0.9, 0.0, 0.0)}));
  EXPECT_FALSE(world->hasObject("pair"));
  ASSERT_TRUE(world->addToObject("pair", std::make_shared<shapes::Sphere>(0.05), at(0.9, 0.0, 0.0)));
  EXPECT_EQ(world->updateToObject("pair", std::make_shared<shapes::Sphere>(kNaN), at(0.9, 0.0, 0.0), 0), -1);
  EXPECT_TRUE(collides());
}

// The hand frame lies at (0.75, 0, 0) in the straight pose; the cube, attached
// 0.45 m beyond it, is centred at (1.2, 0, 0) with a half side of 0.1 m.
TEST_F(WorldGeometryAgainstThePlanarArm, AnAttachedClosedMeshIsASolidWithoutAnUpdateOfItsGeometry) {
  for (const double padding : {0.0, 0.05}) {
    auto body = std::make_unique<moveit::core::AttachedBody>(
        model->getLinkModel("hand_link"), "cube", moveit::core::AttachedBody::ShapeList{cube(0.1)},
        moveit::core::vector_Isometry3d{at(0.45, 0.0, 0.0)}, std::set<std::string>{"hand_link"});
    {
      OutputCapture quiet;
      body->setPadding(padding);
      state->attachBody(std::move(body));
    }
    state->update();
    for (const bool cost : {false, true}) {
      SCOPED_TRACE(testing::Message() << "padding " << padding << ", cost " << cost);
      cd::CollisionRequest req;
      req.compute_cost = cost;
      ASSERT_TRUE(setWorld(voxelAt({1.2, 0.0, 0.0}, 0.01), Eigen::Isometry3d::Identity()));
      EXPECT_TRUE(collides(req));
      ASSERT_TRUE(setWorld(std::make_shared<shapes::Box>(0.02, 0.02, 0.02), at(1.2, 0.0, 0.0)));
      EXPECT_TRUE(collides(req));
      // Beyond the padded surface.
      ASSERT_TRUE(setWorld(voxelAt({1.2, 0.0, 0.17}, 0.01), Eigen::Isometry3d::Identity()));
      EXPECT_FALSE(collides(req));
    }
  }
}

}  // namespace
