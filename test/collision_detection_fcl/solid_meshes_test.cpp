// Closed meshes as solids: the inside test against an independent oracle (the
// generalized winding number, see solid_mesh_oracle.h), and the checks of
// the robot against the world that count a mesh's inside, where the self
// check and world-against-world checks keep FCL's surfaces.
#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/mesh_solid.h"
#include "planar_arm.h"
#include "solid_mesh_oracle.h"

namespace cd = collision_detection;
using bramlock::internal::MeshSolid;
using namespace bramlock_test;

namespace {

struct TriangleMesh {
  std::vector<Eigen::Vector3d> points;
  std::vector<fcl::Triangle> triangles;
};

TriangleMesh boxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  TriangleMesh mesh;
  for (int k = 0; k < 8; ++k) {
    mesh.points.emplace_back(k & 1 ? high.x() : low.x(), k & 2 ? high.y() : low.y(), k & 4 ? high.z() : low.z());
  }
  // Two triangles a face, wound counter-clockwise seen from outside.
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& f : faces) {
    mesh.triangles.emplace_back(f[0], f[1], f[2]);
    mesh.triangles.emplace_back(f[0], f[2], f[3]);
  }
  return mesh;
}

// A sphere of 20 * 4^levels triangles, wound counter-clockwise seen from outside.
TriangleMesh sphereMesh(double radius, int levels) {
  const double g = (1.0 + std::sqrt(5.0)) / 2.0;
  TriangleMesh mesh;
  for (const auto& p : std::vector<Eigen::Vector3d>{{-1, g, 0},
                                                    {1, g, 0},
                                                    {-1, -g, 0},
                                                    {1, -g, 0},
                                                    {0, -1, g},
                                                    {0, 1, g},
                                                    {0, -1, -g},
                                                    {0, 1, -g},
                                                    {g, 0, -1},
                                                    {g, 0, 1},
                                                    {-g, 0, -1},
                                                    {-g, 0, 1}}) {
    mesh.points.push_back(p.normalized());
  }
  const int faces[20][3] = {{0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
                            {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
                            {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
  for (const auto& f : faces) mesh.triangles.emplace_back(f[0], f[1], f[2]);
  for (int level = 0; level < levels; ++level) {
    std::vector<fcl::Triangle> finer;
    const auto middle = [&mesh](size_t a, size_t b) {
      mesh.points.push_back((mesh.points[a] + mesh.points[b]).normalized());
      return mesh.points.size() - 1;
    };
    for (const fcl::Triangle& t : mesh.triangles) {
      const size_t ab = middle(t[0], t[1]), bc = middle(t[1], t[2]), ca = middle(t[2], t[0]);
      finer.emplace_back(t[0], ab, ca);
      finer.emplace_back(t[1], bc, ab);
      finer.emplace_back(t[2], ca, bc);
      finer.emplace_back(ab, bc, ca);
    }
    mesh.triangles = finer;
  }
  for (Eigen::Vector3d& p : mesh.points) p *= radius;
  return mesh;
}

MeshSolid solidOf(const TriangleMesh& mesh) { return MeshSolid(mesh.points, mesh.triangles); }

shapes::ShapeConstPtr shapeOf(const TriangleMesh& mesh) {
  auto shape = std::make_shared<shapes::Mesh>(mesh.points.size(), mesh.triangles.size());
  for (size_t v = 0; v < mesh.points.size(); ++v) {
    for (int k = 0; k < 3; ++k) shape->vertices[3 * v + k] = mesh.points[v][k];
  }
  for (size_t t = 0; t < mesh.triangles.size(); ++t) {
    for (int k = 0; k < 3; ++k) shape->triangles[3 * t + k] = static_cast<unsigned int>(mesh.triangles[t][k]);
  }
  return shape;
}

Eigen::Vector3d uniformIn(std::mt19937_64& engine, const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  return low + (high - low).cwiseProduct(Eigen::Vector3d(unit(engine), unit(engine), unit(engine)));
}

// ---- the inside test ----

TEST(MeshSolid, PublishedArmMeshesHoldExactlyThePointsTheirWindingNumberPutsInside) {
  std::mt19937_64 engine(47);
  for (const std::string link : {"base_link", "link1", "link2", "link3", "link4", "link5", "link6"}) {
    SCOPED_TRACE(link);
    const shapes::ShapeConstPtr shape(shapes::createMeshFromResource(
        "file://" + fixturePath("realman/rm_description/meshes/rm_65_arm/" + link + ".STL")));
    const std::optional<bramlock::internal::MeshTreeInput> input =
        bramlock::internal::linkMeshTreeInput(shape, 1.0, 0.0);
    ASSERT_TRUE(input);
    const TriangleMesh mesh{input->points, input->triangles};
    const LocalMesh oracle = localMesh(static_cast<const shapes::Mesh&>(*shape));
    const MeshSolid solid = solidOf(mesh);
    ASSERT_TRUE(solid.isSolid());
    Eigen::Vector3d low = mesh.points.front(), high = low;
    for (const Eigen::Vector3d& p : mesh.points) low = low.cwiseMin(p), high = high.cwiseMax(p);
    int inside = 0;
    for (int i = 0; i < 300; ++i) {
      const Eigen::Vector3d q = uniformIn(engine, low, high);
      const double winding = windingNumber(oracle, q);
      if (winding > kOutsideWinding && winding < kInsideWinding) continue;
      ASSERT_EQ(solid.contains(q), winding > 0.5) << q.transpose() << " winding " << winding;
      inside += winding > 0.5;
    }
    EXPECT_GT(inside, 30);
  }
}

TEST(MeshSolid, AClosedMeshStaysSolidWithATriangleMissingWoundEitherWayOrOverlappingItself) {
  std::mt19937_64 engine(3);
  TriangleMesh holed = sphereMesh(0.1, 3);
  holed.triangles.erase(holed.triangles.begin() + 100);
  TriangleMesh inward = sphereMesh(0.1, 3);
  for (fcl::Triangle& t : inward.triangles) std::swap(t[1], t[2]);
  for (const TriangleMesh* mesh : {&holed, &inward}) {
    const MeshSolid solid = solidOf(*mesh);
    ASSERT_TRUE(solid.isSolid());
    for (int i = 0; i < 2000; ++i) {
      const Eigen::Vector3d q = uniformIn(engine, Eigen::Vector3d::Constant(-0.15), Eigen::Vector3d::Constant(0.15));
      // Away from the surface, and so from the hole, by more than a cell.
      if (std::abs(q.norm() - 0.1) < 0.03) continue;
      ASSERT_EQ(solid.contains(q), q.norm() < 0.1) << q.transpose();
    }
  }

  // Two closed boxes overlapping: their overlap winds twice and is inside.
  TriangleMesh pair = boxMesh({0, 0, 0}, {0.2, 0.1, 0.1});
  const TriangleMesh second = boxMesh({0.1, 0.05, 0.05}, {0.3, 0.2, 0.2});
  for (const fcl::Triangle& t : second.triangles) pair.triangles.emplace_back(t[0] + 8, t[1] + 8, t[2] + 8);
  pair.points.insert(pair.points.end(), second.points.begin(), second.points.end());
  const MeshSolid solid = solidOf(pair);
  ASSERT_TRUE(solid.isSolid());
  EXPECT_TRUE(solid.contains({0.15, 0.07, 0.07}));  // in both
  EXPECT_TRUE(solid.contains({0.05, 0.05, 0.05}));  // in the first only
  EXPECT_TRUE(solid.contains({0.25, 0.15, 0.15}));  // in the second only
  EXPECT_FALSE(solid.contains({0.05, 0.15, 0.15}));
  EXPECT_EQ(solid.pieceVertices().size(), 2u);
}

TEST(MeshSolid, AnOpenSurfaceHasNoInside) {
  TriangleMesh plate;
  plate.points = {{0, 0, 0}, {0.2, 0, 0}, {0.2, 0.2, 0}, {0, 0.2, 0}};
  plate.triangles = {{0, 1, 2}, {0, 2, 3}};
  // A sphere without its lower half: a bowl.
  TriangleMesh bowl = sphereMesh(0.1, 2);
  std::vector<fcl::Triangle> upper;
  for (const fcl::Triangle& t : bowl.triangles) {
    if (bowl.points[t[0]].z() + bowl.points[t[1]].z() + bowl.points[t[2]].z() > 0.0) upper.push_back(t);
  }
  bowl.triangles = upper;
  std::mt19937_64 engine(5);
  for (const TriangleMesh* mesh : {&plate, &bowl}) {
    const MeshSolid solid = solidOf(*mesh);
    EXPECT_FALSE(solid.isSolid());
    for (int i = 0; i < 200; ++i) {
      EXPECT_FALSE(solid.contains(uniformIn(engine, Eigen::Vector3d::Constant(-0.1), Eigen::Vector3d::Constant(0.2))));
    }
  }
  EXPECT_FALSE(MeshSolid({}, {}).isSolid());
  // Triangles naming vertices the mesh lacks are left out; a box too large to divide has no inside.
  EXPECT_FALSE(MeshSolid(plate.points, {{0, 1, 7}}).isSolid());
  TriangleMesh huge = boxMesh(Eigen::Vector3d::Constant(-1e300), Eigen::Vector3d::Constant(1e300));
  const MeshSolid overflowing = solidOf(huge);
  EXPECT_FALSE(overflowing.isSolid());
  EXPECT_FALSE(overflowing.contains(Eigen::Vector3d::Zero()));
  EXPECT_FALSE(solidOf(sphereMesh(0.1, 1)).contains(Eigen::Vector3d::Constant(std::nan(""))));
}

// ---- the checks of the robot against the world ----

class SolidMeshesAgainstTheWorld : public ::testing::Test {
 protected:
  std::shared_ptr<const moveit::core::RobotModel> model = loadPlanarArm();
  cd::AllowedCollisionMatrix acm = planarArmMatrix(*model);
  std::shared_ptr<cd::World> world = std::make_shared<cd::World>();
  cd::CollisionWorldFCL world_checker{world};
  std::unique_ptr<moveit::core::RobotState> state = planarArmState(model, 0.0, 0.0, 0.0);

  // The hand frame lies at (0.75, 0, 0) in the straight pose, its sphere at (0.9, 0, 0); the ball is
  // attached beyond it, centred at (1.2, 0, 0) with a radius of 0.1 m.
  void attachBall(double padding) {
    auto body = std::make_unique<moveit::core::AttachedBody>(
        model->getLinkModel("hand_link"), "ball", moveit::core::AttachedBody::ShapeList{shapeOf(sphereMesh(0.1, 3))},
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

  static Eigen::Isometry3d at(double x, double y, double z) {
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.translation() = Eigen::Vector3d(x, y, z);
    return pose;
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

TEST_F(SolidMeshesAgainstTheWorld, WorldShapesAndMeshesInsideTheRobotAndTheRobotInsideAWorldMeshAreContacts) {
  attachBall(0.0);
  setWorld("box", std::make_shared<const shapes::Box>(0.02, 0.02, 0.02), at(1.2, 0.0, 0.0));
  EXPECT_TRUE(collides());
  setWorld("pebble", shapeOf(sphereMesh(0.02, 1)), at(1.2, 0.03, 0.0));
  EXPECT_TRUE(collides());
  setWorld("box", std::make_shared<const shapes::Box>(0.02, 0.02, 0.02), at(1.2, 0.0, 0.2));
  EXPECT_FALSE(collides());

  // A closed world box around the upper link's sphere (0.2, 0, 0; radius 0.06).
  const TriangleMesh shell = boxMesh(Eigen::Vector3d::Constant(-0.08), Eigen::Vector3d::Constant(0.08));
  setWorld("shell", shapeOf(shell), at(0.2, 0.0, 0.0));
  EXPECT_TRUE(collides());
  // Without its lid it is an open surface, and the sphere touches none of its triangles.
  TriangleMesh open = shell;
  open.triangles.erase(open.triangles.begin() + 2, open.triangles.begin() + 4);
  setWorld("shell", shapeOf(open), at(0.2, 0.0, 0.0));
  EXPECT_FALSE(collides());
}

TEST_F(SolidMeshesAgainstTheWorld, TheSelfCheckAndWorldAgainstWorldKeepSurfaces) {
  // The ball swallows the tool link's neighbour: the hand's sphere at (0.9, 0, 0) is
  // inside a ball of radius 0.4 around (1.2, 0, 0) but meets none of its triangles.
  auto body = std::make_unique<moveit::core::AttachedBody>(
      model->getLinkModel("hand_link"), "dome", moveit::core::AttachedBody::ShapeList{shapeOf(sphereMesh(0.4, 3))},
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

  setWorld("shell", shapeOf(boxMesh(Eigen::Vector3d::Constant(-0.1), Eigen::Vector3d::Constant(0.1))), at(5, 0, 0));
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
