// The checks of the robot against the world count a mesh's inside, where the
// self check and world-against-world checks keep FCL's surfaces.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/solid/mesh_solid.h"
#include "collision_detection_fcl/solid_mesh_model.h"
#include "planar_arm.h"
#include "solid_mesh_makers.h"
#include "solid_mesh_oracle.h"

namespace cd = collision_detection;
using bramlock::internal::MeshSolid;
using namespace bramlock_test;

namespace {

class SolidMeshesAgainstTheWorld : public PlanarArmAgainstTheWorld {
 protected:
  // The hand frame lies at (0.75, 0, 0) in the straight pose, its sphere at (0.9, 0, 0); the ball is
  // attached beyond it, centred at (1.2, 0, 0) with a radius of 0.1 m.
  void attachBall(double padding) { attachMesh("ball", icosphere(Eigen::Vector3d::Zero(), 0.1, 3), padding); }

  // The mesh attached 0.45 m beyond the hand frame, touching the hand.
  void attachMesh(const std::string& id, const TriangleMesh& mesh, double padding = 0.0) {
    auto body = std::make_unique<moveit::core::AttachedBody>(
        model->getLinkModel("hand_link"), id, moveit::core::AttachedBody::ShapeList{meshShape(mesh)},
        moveit::core::vector_Isometry3d{at(0.45, 0.0, 0.0)}, std::set<std::string>{"hand_link"});
    OutputCapture quiet;
    body->setPadding(padding);
    state->attachBody(std::move(body));
    state->update();
  }

  void setWorld(const std::string& id, const shapes::ShapeConstPtr& shape, const Eigen::Isometry3d& pose) {
    OutputCapture quiet;
    world->clearObjects();
    world->addToObject(id, shape, pose);
  }

  void setVoxel(const Eigen::Vector3d& centre, double size) {
    auto tree = std::make_shared<octomap::OcTree>(size);
    tree->updateNode(octomap::point3d(centre.x(), centre.y(), centre.z()), true);
    setWorld("octomap", std::make_shared<const shapes::OcTree>(tree), Eigen::Isometry3d::Identity());
  }

  bool collides(double robot_padding = 0.0, bool compute_cost = false) {
    cd::CollisionRobotFCL robot(model, robot_padding);
    robot.updatedAttachBodyGeometry(*state);
    cd::CollisionRequest req;
    req.compute_cost = compute_cost;
    cd::CollisionResult res;
    world_checker.checkRobotCollision(req, res, robot, *state, acm);
    return res.collision;
  }
};

TEST_F(SolidMeshesAgainstTheWorld, AVoxelInsideAnAttachedMeshIsAContactOnEveryRoadOfTheCheck) {
  attachBall(0.0);
  for (const bool cost : {false, true}) {
    SCOPED_TRACE(cost);
    setVoxel({1.2, 0.0, 0.0}, 0.01);  // deep inside
    EXPECT_TRUE(collides(0.0, cost));
    setVoxel({1.2, 0.0, 0.15}, 0.01);  // above it
    EXPECT_FALSE(collides(0.0, cost));
  }
}

// Tools as exporters write them: a box of 8 cm with T-junctions and a
// gridded top, and a cylinder as a float soup, each around (1.2, 0, 0).
TEST_F(SolidMeshesAgainstTheWorld, AVoxelInsideAnExportedToolIsAContactOnEveryRoadOfTheCheck) {
  std::mt19937_64 engine(79);
  TriangleMesh junctions = boxWithTJunctions(4);
  for (Eigen::Vector3d& p : junctions.points) p = 0.08 * (p - Eigen::Vector3d::Constant(0.5));
  const std::vector<std::pair<std::string, TriangleMesh>> tools = {
      {"T-junctions", junctions},
      {"float soup", floatSoup(prismMesh(circleRimWithSeam(0.04, 64), -0.04, 0.04), engine)},
  };
  for (const auto& [name, tool] : tools) {
    SCOPED_TRACE(name);
    attachMesh("tool", tool);
    for (const bool cost : {false, true}) {
      SCOPED_TRACE(cost);
      setVoxel({1.2, 0.0, 0.0}, 0.01);  // deep inside
      EXPECT_TRUE(collides(0.0, cost));
      setVoxel({1.2, 0.0, 0.1}, 0.01);  // above it
      EXPECT_FALSE(collides(0.0, cost));
    }
  }
}

TEST_F(SolidMeshesAgainstTheWorld, APaddedAttachedMeshIsSolidWhereItWasBeforePadding) {
  attachBall(0.05);
  const auto& body = *state->getAttachedBody("ball");
  ASSERT_NE(body.getShapes().front(), body.getUnpaddedShapes().front());
  setVoxel({1.2, 0.0, 0.0}, 0.01);
  EXPECT_TRUE(collides());
  // Beyond the padded surface, 5 cm out.
  setVoxel({1.2, 0.0, 0.17}, 0.01);
  EXPECT_FALSE(collides());
}

// Voxels are first tried against the boxes of the mesh's pieces: those boxes
// must hold the padded triangles as well as the inside.
TEST_F(SolidMeshesAgainstTheWorld, APaddedAttachedMeshOfTwoPiecesFarApartCollidesWhereverEitherReaches) {
  const TriangleMesh pieces =
      appended(icosphere(Eigen::Vector3d::Zero(), 0.1, 3), icosphere(Eigen::Vector3d(1.0, 0.0, 0.0), 0.02, 2));
  attachMesh("pieces", pieces, 0.05);
  for (const bool cost : {false, true}) {
    SCOPED_TRACE(cost);
    // Padding moves every vertex 5 cm away from the mean of the vertices, at
    // (1.4, 0, 0): the ball's side facing away from it reaches 1.05.
    setVoxel({1.05, 0.0, 0.0}, 0.02);  // on the ball's padded surface, beyond its bare box
    EXPECT_TRUE(collides(0.0, cost));
    setVoxel({2.2, 0.0, 0.0}, 0.01);  // inside the far piece
    EXPECT_TRUE(collides(0.0, cost));
    setVoxel({2.27, 0.0, 0.0}, 0.02);  // on the far piece's padded surface, beyond its bare box
    EXPECT_TRUE(collides(0.0, cost));
    setVoxel({1.7, 0.0, 0.0}, 0.01);  // between the pieces
    EXPECT_FALSE(collides(0.0, cost));
  }
}

// The centre of an octree cell of that size (cells are centred at half
// steps) whose centre lies farther than `outer` from `centre` and whose box
// comes nearer than `inner`: a voxel across a ball's surface band that only
// its triangles can meet.
Eigen::Vector3d cellAcrossSurface(const Eigen::Vector3d& centre, double inner, double outer, double size) {
  const Eigen::Vector3d first = ((centre / size).array().floor() + 0.5).matrix() * size;
  const int reach = static_cast<int>(std::ceil(outer / size)) + 1;
  for (int i = -reach; i <= reach; ++i) {
    for (int j = -reach; j <= reach; ++j) {
      for (int k = -reach; k <= reach; ++k) {
        const Eigen::Vector3d cell = first + size * Eigen::Vector3d(i, j, k);
        const Eigen::Vector3d nearest = centre.array().max(cell.array() - 0.5 * size).min(cell.array() + 0.5 * size);
        if ((cell - centre).norm() > outer && (nearest - centre).norm() < inner) return cell;
      }
    }
  }
  ADD_FAILURE() << "no cell across the surface";
  return centre;
}

// With many pieces their boxes are searched through a tree, and the checks
// pass over whatever comes near none of them: a ball and eleven small
// pieces on a ring of 0.5 m around it.
TEST_F(SolidMeshesAgainstTheWorld, AnAttachedMeshOfManyPiecesCollidesWithinEachPieceAndNowhereBetween) {
  TriangleMesh pieces = icosphere(Eigen::Vector3d::Zero(), 0.1, 3);
  const auto onRing = [](double angle) { return Eigen::Vector3d(0.0, 0.5 * std::cos(angle), 0.5 * std::sin(angle)); };
  for (int k = 0; k < 11; ++k) pieces = appended(pieces, icosphere(onRing(2.0 * M_PI * k / 11), 0.02, 2));
  attachMesh("pieces", pieces);
  const Eigen::Vector3d ball(1.2, 0.0, 0.0);
  for (const bool cost : {false, true}) {
    SCOPED_TRACE(cost);
    for (const int k : {0, 4, 10}) {
      setVoxel(ball + onRing(2.0 * M_PI * k / 11), 0.01);  // inside a piece
      EXPECT_TRUE(collides(0.0, cost)) << k;
      setVoxel(ball + onRing(2.0 * M_PI * (k + 0.5) / 11), 0.01);  // between two
      EXPECT_FALSE(collides(0.0, cost)) << k;
    }
    const std::vector<Eigen::Vector3d> centres{ball, ball + onRing(0.0), ball + onRing(2.0 * M_PI * 7 / 11)};
    for (const Eigen::Vector3d& centre : centres) {
      const double radius = centre == ball ? 0.1 : 0.02;
      setVoxel(cellAcrossSurface(centre, 0.97 * radius, 1.01 * radius, 0.01), 0.01);
      EXPECT_TRUE(collides(0.0, cost)) << centre.transpose();
    }
  }
  setWorld("box", std::make_shared<const shapes::Box>(0.01, 0.01, 0.01),
           Eigen::Isometry3d(Eigen::Translation3d(ball + onRing(2.0 * M_PI * 3 / 11))));
  EXPECT_TRUE(collides());
  setWorld("box", std::make_shared<const shapes::Box>(0.01, 0.01, 0.01),
           Eigen::Isometry3d(Eigen::Translation3d(ball + onRing(0.3))));
  EXPECT_FALSE(collides());
}

TEST_F(SolidMeshesAgainstTheWorld, WorldShapesAndMeshesInsideTheRobotAndTheRobotInsideAWorldMeshAreContacts) {
  attachBall(0.0);
  setWorld("box", std::make_shared<const shapes::Box>(0.02, 0.02, 0.02), at(1.2, 0.0, 0.0));
  EXPECT_TRUE(collides());
  setWorld("pebble", meshShape(icosphere(Eigen::Vector3d::Zero(), 0.02, 1)), at(1.2, 0.03, 0.0));
  EXPECT_TRUE(collides());
  setWorld("box", std::make_shared<const shapes::Box>(0.02, 0.02, 0.02), at(1.2, 0.0, 0.2));
  EXPECT_FALSE(collides());

  // A closed world box around the upper link's sphere (0.2, 0, 0; radius 0.06).
  const TriangleMesh shell = boxMesh(Eigen::Vector3d::Constant(-0.08), Eigen::Vector3d::Constant(0.08));
  setWorld("shell", meshShape(shell), at(0.2, 0.0, 0.0));
  EXPECT_TRUE(collides());
  // Without its lid it is an open surface, and the sphere touches none of its triangles.
  const TriangleMesh open = lidlessBoxMesh(Eigen::Vector3d::Constant(-0.08), Eigen::Vector3d::Constant(0.08));
  setWorld("shell", meshShape(open), at(0.2, 0.0, 0.0));
  EXPECT_FALSE(collides());
}

// A room written as one solid, its inner shell wound inwards: the arm
// standing in it is free, a link within its wall is a contact.
TEST_F(SolidMeshesAgainstTheWorld, AHollowRoomInTheWorldIsHollow) {
  const TriangleMesh around = roomMesh(Eigen::Vector3d::Constant(-1.5), Eigen::Vector3d::Constant(1.5), 0.05);
  for (const TriangleMesh& mesh : {around, inverted(around)}) {
    setWorld("room", meshShape(mesh), Eigen::Isometry3d::Identity());
    EXPECT_FALSE(collides());
  }
  // The upper link's sphere (0.2, 0, 0; radius 0.06) within a wall from x = 0.1 to 0.3.
  setWorld("room", meshShape(roomMesh({-1.5, -1.5, -1.5}, {0.3, 1.5, 1.5}, 0.2)), Eigen::Isometry3d::Identity());
  EXPECT_TRUE(collides());
}

TEST_F(SolidMeshesAgainstTheWorld, TheSelfCheckAndWorldAgainstWorldKeepSurfaces) {
  // The ball swallows the tool link's neighbour: the hand's sphere at (0.9, 0, 0) is
  // inside a ball of radius 0.4 around (1.2, 0, 0) but meets none of its triangles.
  auto body = std::make_unique<moveit::core::AttachedBody>(
      model->getLinkModel("hand_link"), "dome",
      moveit::core::AttachedBody::ShapeList{meshShape(icosphere(Eigen::Vector3d::Zero(), 0.4, 3))},
      moveit::core::vector_Isometry3d{at(0.45, 0.0, 0.0)}, std::set<std::string>{});
  state->attachBody(std::move(body));
  state->update();
  cd::CollisionRobotFCL robot(model);
  robot.updatedAttachBodyGeometry(*state);
  cd::CollisionRequest req;
  req.group_name = "hand";
  cd::CollisionResult self;
  robot.checkSelfCollision(req, self, *state, acm);
  EXPECT_FALSE(self.collision);

  setWorld("shell", meshShape(boxMesh(Eigen::Vector3d::Constant(-0.1), Eigen::Vector3d::Constant(0.1))), at(5, 0, 0));
  auto other_world = std::make_shared<cd::World>();
  {
    OutputCapture quiet;
    other_world->addToObject("box", std::make_shared<const shapes::Box>(0.02, 0.02, 0.02), at(5, 0, 0));
  }
  cd::CollisionWorldFCL other(other_world);
  cd::CollisionResult both;
  world_checker.checkWorldCollision(cd::CollisionRequest(), both, other);
  EXPECT_FALSE(both.collision);
}

}  // namespace
