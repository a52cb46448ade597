// Geometry the world checker could not see is never taken in silently: the
// world refuses shapes whose sizes, vertices or cells are not finite or lie
// beyond its limit, sizes below 0 and meshes whose triangles name vertices
// they do not have; an attached body refuses such shapes too, and an attached
// closed mesh is a solid against the world whether or not its checker's
// attached-body geometry was updated.
#include <gtest/gtest.h>

#include <algorithm>
#include <iterator>
#include <limits>
#include <memory>
#include <set>
#include <stdexcept>
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

// A tetrahedron of two triangles whose second names a vertex it does not have.
std::shared_ptr<shapes::Mesh> meshWithCornerBeyondItsVertices() {
  auto mesh = std::make_shared<shapes::Mesh>(4, 2);
  const double vertices[] = {0, 0, 0, 0.1, 0, 0, 0, 0.1, 0, 0, 0, 0.1};
  const unsigned int triangles[] = {0, 1, 2, 0, 1, 1000000};
  std::copy(std::begin(vertices), std::end(vertices), mesh->vertices);
  std::copy(std::begin(triangles), std::end(triangles), mesh->triangles);
  return mesh;
}

std::shared_ptr<shapes::Mesh> cubeWithLastCorner(unsigned int corner) {
  auto mesh = cube(1.0);
  mesh->triangles[3 * mesh->triangle_count - 1] = corner;
  return mesh;
}

std::shared_ptr<shapes::Box> boxWithSide(int axis, double size) {
  auto box = std::make_shared<shapes::Box>(0.1, 0.1, 0.1);
  box->size[axis] = size;
  return box;
}

// A cylinder or cone of radius 0.05 m and length 0.1 m with the one or the other below 0.
template <typename Round>
std::shared_ptr<Round> round(double radius_sign, double length_sign) {
  auto shape = std::make_shared<Round>(0.05, 0.1);
  shape->radius *= radius_sign;
  shape->length *= length_sign;
  return shape;
}

// Shapes the checkers can build no geometry for: sizes below 0 (which the
// shapes' constructors refuse, but any caller can set), meshes whose
// triangles name vertices they do not have.
std::vector<shapes::ShapeConstPtr> unbuildableShapes() {
  auto sphere = std::make_shared<shapes::Sphere>(0.05);
  sphere->radius = -0.05;
  return {
      boxWithSide(0, -0.1),
      boxWithSide(2, -1e6),
      sphere,
      round<shapes::Cylinder>(-1.0, 1.0),
      round<shapes::Cylinder>(1.0, -1.0),
      round<shapes::Cone>(-1.0, 1.0),
      round<shapes::Cone>(1.0, -1.0),
      meshWithCornerBeyondItsVertices(),
      cubeWithLastCorner(8),  // the vertex count: one past the last vertex
      cubeWithLastCorner(4294967295u),
  };
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
  std::vector<shapes::ShapeConstPtr> refused = {
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
  const std::vector<shapes::ShapeConstPtr> unbuildable = unbuildableShapes();
  refused.insert(refused.end(), unbuildable.begin(), unbuildable.end());
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
  for (const auto& shape : {refused[0], unbuildable.front(), unbuildable.back()}) {
    EXPECT_EQ(world->updateToObject("pair", shape, at(0.9, 0.0, 0.0), 0), -1);
    EXPECT_FALSE(world->addToObject("pair", shape, at(0.9, 0.0, 0.0)));
    EXPECT_EQ(world->getObject("pair")->shapes.size(), 1u);
    EXPECT_TRUE(collides());
  }

  // Whatever road brings them to the FCL geometry, they get none.
  for (const auto& shape : unbuildable) {
    EXPECT_EQ(cd::createCollisionGeometry(shape, world->getObject("pair").get()), nullptr) << shape->type;
  }
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

// A body refuses shapes the checkers cannot see. A mesh that goes bad after a
// body took it gets no geometry when the checkers come to build it: the checks
// go on with the arm alone.
TEST_F(WorldGeometryAgainstThePlanarArm, AttachedShapesThatCannotBeCheckedAreRefusedOrGetNoGeometry) {
  const auto tool = [&](const shapes::ShapeConstPtr& shape) {
    return std::make_unique<moveit::core::AttachedBody>(
        model->getLinkModel("hand_link"), "tool", moveit::core::AttachedBody::ShapeList{shape},
        moveit::core::vector_Isometry3d{at(0.45, 0.0, 0.0)}, std::set<std::string>{"hand_link"});
  };
  for (const auto& shape : unbuildableShapes()) {
    EXPECT_THROW(tool(shape), std::invalid_argument) << shape->type;
  }

  auto mesh = cube(0.1);
  auto body = tool(mesh);
  mesh->triangles[0] = 4294967295u;
  {
    OutputCapture quiet;
    state->attachBody(std::move(body));
    state->update();
    robot.updatedAttachBodyGeometry(*state);
  }
  cd::CollisionResult self;
  robot.checkSelfCollision(cd::CollisionRequest(), self, *state, acm);
  EXPECT_FALSE(self.collision);
  ASSERT_TRUE(setWorld(voxelAt({0.9, 0.0, 0.0}, 0.01), Eigen::Isometry3d::Identity()));
  EXPECT_TRUE(collides());
  ASSERT_TRUE(setWorld(voxelAt({1.2, 0.0, 0.0}, 0.01), Eigen::Isometry3d::Identity()));
  EXPECT_FALSE(collides());
}

}  // namespace
