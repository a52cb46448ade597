#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include <fcl/broadphase/broadphase_bruteforce.h>
#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/geometry/octree/octree.h>
#include <fcl/geometry/shape/box.h>
#include <fcl/geometry/shape/cone.h>
#include <fcl/geometry/shape/cylinder.h>
#include <fcl/geometry/shape/plane.h>
#include <fcl/geometry/shape/sphere.h>
#include <fcl/math/bv/OBBRSS.h>
#include <geometric_shapes/mesh_operations.h>
#include <gtest/gtest.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "planar_arm.h"
#include "test_support.h"

namespace cd = collision_detection;
using bramlock_test::OutputCapture;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const char* const kUnsupportedFormat = "collision_common[887]:This shape type (%d) is not supported using FCL yet";

std::string unsupportedMessage(int type) {
  char text[128];
  std::snprintf(text, sizeof(text), kUnsupportedFormat, type);
  return text;
}

// A shape of the unknown type. (Numbers beyond the enumeration cannot be
// made without undefined behaviour, so 0 stands for every unknown type.)
class OddShape : public shapes::Shape {
 public:
  explicit OddShape(int type_number) { type = static_cast<shapes::ShapeType>(type_number); }
  OddShape* clone() const override { return new OddShape(type); }
  void print(std::ostream&) const override {}
  void scaleAndPadd(double, double) override {}
  bool isFixed() const override { return false; }
};

std::shared_ptr<shapes::Mesh> unitBoxMesh() {
  return std::shared_ptr<shapes::Mesh>(shapes::createMeshFromShape(shapes::Box(1.0, 1.0, 1.0)));
}

template <typename Geometry>
const Geometry& as(const cd::FCLGeometryConstPtr& geometry) {
  const auto* typed = dynamic_cast<const Geometry*>(geometry->geometry.get());
  EXPECT_NE(typed, nullptr);
  return *typed;
}

class FclGeometryTest : public ::testing::Test {
 protected:
  moveit::core::LinkModel link_a{"link_a", 0};
  moveit::core::LinkModel link_b{"link_b", 1};
  cd::World::Object object{"obstacle"};
};

TEST_F(FclGeometryTest, EveryShapeTypeBecomesItsFclGeometryTaggedWithItsOwner) {
  auto sphere = cd::createCollisionGeometry(std::make_shared<shapes::Sphere>(0.3), &object);
  EXPECT_DOUBLE_EQ(as<fcl::Sphered>(sphere).radius, 0.3);
  auto cylinder = cd::createCollisionGeometry(std::make_shared<shapes::Cylinder>(0.2, 0.7), &object);
  EXPECT_DOUBLE_EQ(as<fcl::Cylinderd>(cylinder).radius, 0.2);
  EXPECT_DOUBLE_EQ(as<fcl::Cylinderd>(cylinder).lz, 0.7);
  auto cone = cd::createCollisionGeometry(std::make_shared<shapes::Cone>(0.25, 0.5), &object);
  EXPECT_DOUBLE_EQ(as<fcl::Coned>(cone).radius, 0.25);
  EXPECT_DOUBLE_EQ(as<fcl::Coned>(cone).lz, 0.5);
  auto box = cd::createCollisionGeometry(std::make_shared<shapes::Box>(0.1, 0.2, 0.3), &object);
  EXPECT_TRUE(as<fcl::Boxd>(box).side.isApprox(fcl::Vector3d(0.1, 0.2, 0.3)));
  auto plane = cd::createCollisionGeometry(std::make_shared<shapes::Plane>(0.0, 0.0, 2.0, 1.0), &object);
  EXPECT_TRUE(as<fcl::Planed>(plane).n.isApprox(fcl::Vector3d::UnitZ()));
  EXPECT_DOUBLE_EQ(as<fcl::Planed>(plane).d, 0.5);
  auto mesh = cd::createCollisionGeometry(unitBoxMesh(), &object);
  EXPECT_EQ(as<fcl::BVHModel<fcl::OBBRSSd>>(mesh).num_tris, 12);
  EXPECT_EQ(as<fcl::BVHModel<fcl::OBBRSSd>>(mesh).num_vertices, 8);
  auto tree = std::make_shared<octomap::OcTree>(0.1);
  tree->updateNode(0.05, 0.05, 0.05, true);
  auto octree = cd::createCollisionGeometry(std::make_shared<shapes::OcTree>(tree), &object);
  EXPECT_NE(as<fcl::OcTreed>(octree).getRoot(), nullptr);

  for (const auto& geometry : {sphere, cylinder, cone, box, plane, mesh, octree}) {
    EXPECT_EQ(geometry->geometry->getUserData(), geometry->geometry_data.get());
    EXPECT_EQ(geometry->geometry_data->owner_type, cd::WORLD_OBJECT);
    EXPECT_EQ(geometry->geometry_data->getID(), "obstacle");
    EXPECT_EQ(geometry->geometry_data->getLink(), nullptr);
  }
  // The local box is computed: a box of sides 0.1 x 0.2 x 0.3 spans +-0.15 in z.
  EXPECT_NEAR(box->geometry->aabb_local.max_.z(), 0.15, 1e-12);
}

TEST_F(FclGeometryTest, OwnerKindsGiveTheirNamesLinksAndShapeIndices) {
  auto shape = std::make_shared<shapes::Sphere>(0.1);
  auto link_geometry = cd::createCollisionGeometry(shape, &link_a, 2);
  EXPECT_EQ(link_geometry->geometry_data->owner_type, cd::LINK);
  EXPECT_EQ(link_geometry->geometry_data->shape_index, 2);
  EXPECT_EQ(link_geometry->geometry_data->getID(), "link_a");
  EXPECT_EQ(link_geometry->geometry_data->getLink(), &link_a);

  moveit::core::AttachedBody body(&link_b, "gripper", {shape}, {Eigen::Isometry3d::Identity()}, {});
  auto body_geometry = cd::createCollisionGeometry(shape, &body, 0);
  EXPECT_EQ(body_geometry->geometry_data->owner_type, cd::ATTACHED_BODY);
  EXPECT_EQ(body_geometry->geometry_data->getID(), "gripper");
  EXPECT_EQ(body_geometry->geometry_data->getLink(), &link_b);
  EXPECT_FALSE(body_geometry->geometry_data->sameObject(*link_geometry->geometry_data));
  // A body's geometry is shared while held (a scene's four checkers each ask
  // for it), per scale and padding; another body or index gets its own.
  EXPECT_EQ(cd::createCollisionGeometry(shape, &body, 0), body_geometry);
  const auto padded = cd::createCollisionGeometry(shape, 1.0, 0.05, &body, 0);
  EXPECT_EQ(cd::createCollisionGeometry(shape, 1.0, 0.05, &body, 0), padded);
  moveit::core::AttachedBody other(&link_b, "other", {shape}, {Eigen::Isometry3d::Identity()}, {});
  for (const auto& different :
       {padded, cd::createCollisionGeometry(shape, &other, 0), cd::createCollisionGeometry(shape, &body, 1)}) {
    EXPECT_NE(different, body_geometry);
  }
  EXPECT_EQ(cd::createCollisionGeometry(shape, &other, 0)->geometry_data->getID(), "other");
}

TEST_F(FclGeometryTest, ScaleAndPaddingWorkOnACloneAndLeaveTheShapeAlone) {
  auto box = std::make_shared<shapes::Box>(1.0, 1.0, 1.0);
  const double padding = 0.05;
  auto padded = cd::createCollisionGeometry(box, 1.0, padding, &object);
  EXPECT_TRUE(as<fcl::Boxd>(padded).side.isApprox(fcl::Vector3d::Constant(1.0 + 2.0 * padding)));
  auto scaled = cd::createCollisionGeometry(box, 2.0, 0.0, &link_a, 0);
  EXPECT_TRUE(as<fcl::Boxd>(scaled).side.isApprox(fcl::Vector3d::Constant(2.0)));
  EXPECT_DOUBLE_EQ(box->size[0], 1.0);

  // Within DBL_EPSILON of scale 1 and padding 0 the cached shape itself is used.
  auto plain = cd::createCollisionGeometry(box, &link_a, 0);
  EXPECT_EQ(cd::createCollisionGeometry(box, 1.0 + 1e-17, 1e-17, &link_a, 0), plain);
  auto barely_scaled = cd::createCollisionGeometry(box, 1.0000001, 0.0, &link_a, 0);
  EXPECT_NE(barely_scaled, plain);
  EXPECT_DOUBLE_EQ(as<fcl::Boxd>(barely_scaled).side.x(), 1.0000001);
}

TEST_F(FclGeometryTest, NonFiniteScalePaddingOrSizeGivesNoGeometry) {
  auto sphere = std::make_shared<shapes::Sphere>(0.1);
  for (double bad : {kNaN, kInf, -kInf}) {
    EXPECT_EQ(cd::createCollisionGeometry(sphere, bad, 0.0, &link_a, 0), nullptr);
    EXPECT_EQ(cd::createCollisionGeometry(sphere, 1.0, bad, &object), nullptr);
    moveit::core::AttachedBody body(&link_a, "b", {sphere}, {Eigen::Isometry3d::Identity()}, {});
    EXPECT_EQ(cd::createCollisionGeometry(sphere, bad, bad, &body, 0), nullptr);
    // The shape classes refuse such sizes at construction, not afterwards.
    auto box = std::make_shared<shapes::Box>(1.0, 1.0, 1.0);
    box->size[1] = bad;
    EXPECT_EQ(cd::createCollisionGeometry(box, &object), nullptr);
    auto ball = std::make_shared<shapes::Sphere>(1.0);
    ball->radius = bad;
    EXPECT_EQ(cd::createCollisionGeometry(ball, &link_b, 0), nullptr);
    auto mesh = unitBoxMesh();
    mesh->vertices[4] = bad;
    EXPECT_EQ(cd::createCollisionGeometry(mesh, &object), nullptr);
  }
  EXPECT_DOUBLE_EQ(sphere->radius, 0.1);
  // A plane is unbounded but still finite in FCL's box.
  EXPECT_NE(cd::createCollisionGeometry(std::make_shared<shapes::Plane>(0.0, 0.0, 1.0, 0.0), &object), nullptr);
}

TEST_F(FclGeometryTest, UnsupportedShapesPrintTheirTypeAndGiveNoGeometry) {
  const std::vector<std::pair<shapes::ShapeConstPtr, int>> cases = {
      {std::make_shared<OddShape>(0), 0},
      {nullptr, 0},
      {std::make_shared<shapes::OcTree>(nullptr), 7},
  };
  for (const auto& [shape, type] : cases) {
    OutputCapture capture;
    EXPECT_EQ(cd::createCollisionGeometry(shape, &link_a, 0), nullptr);
    EXPECT_EQ(cd::createCollisionGeometry(shape, 1.5, 0.1, &object), nullptr);
    EXPECT_EQ(capture.out(), unsupportedMessage(type) + unsupportedMessage(type)) << type;
  }
}

// An empty model has no bounding volume for the broad phase to read.
TEST_F(FclGeometryTest, MeshWithoutTrianglesGivesNoGeometry) {
  auto mesh = std::make_shared<shapes::Mesh>(3, 0);
  std::fill(mesh->vertices, mesh->vertices + 9, 0.5);
  EXPECT_EQ(cd::createCollisionGeometry(mesh, &object), nullptr);
}

TEST_F(FclGeometryTest, LinkCacheSharesGeometryPerLinkAndShapeIndex) {
  auto shape = std::make_shared<shapes::Cylinder>(0.1, 0.4);
  auto first = cd::createCollisionGeometry(shape, &link_a, 0);
  EXPECT_EQ(cd::createCollisionGeometry(shape, &link_a, 0), first);

  // The same shape object twice in one link: each index keeps its own tag.
  auto second_index = cd::createCollisionGeometry(shape, &link_a, 1);
  EXPECT_NE(second_index, first);
  EXPECT_EQ(second_index->geometry_data->shape_index, 1);
  EXPECT_EQ(first->geometry_data->shape_index, 0);

  // Another link while the earlier geometry is still held: a new geometry,
  // and the old one keeps its tag.
  auto other_link = cd::createCollisionGeometry(shape, &link_b, 0);
  EXPECT_NE(other_link, first);
  EXPECT_NE(other_link, second_index);
  EXPECT_EQ(first->geometry_data->link(), &link_a);
  EXPECT_EQ(cd::createCollisionGeometry(shape, &link_b, 0), other_link);

  // Held by the cache alone, the geometry is re-tagged instead of rebuilt.
  const cd::FCLGeometry* cached = other_link.get();
  other_link.reset();
  auto retagged = cd::createCollisionGeometry(shape, &link_a, 3);
  EXPECT_EQ(retagged.get(), cached);
  EXPECT_EQ(retagged->geometry_data->link(), &link_a);
  EXPECT_EQ(retagged->geometry_data->shape_index, 3);
  EXPECT_EQ(retagged->geometry->getUserData(), retagged->geometry_data.get());
}

TEST_F(FclGeometryTest, EveryHundredAndFirstInsertionDropsVanishedShapes) {
  // A fresh thread starts with an empty cache, so the count is known.
  std::string at_hundred, at_hundred_and_one;
  std::thread([&] {
    auto sphere = std::make_shared<shapes::Sphere>(0.1);
    for (int i = 0; i < 99; ++i) cd::createCollisionGeometry(std::make_shared<shapes::Sphere>(0.1), &link_a, 0);
    {
      OutputCapture capture;
      cd::createCollisionGeometry(std::make_shared<shapes::Box>(1, 1, 1), &link_a, 0);
      at_hundred = capture.out();
    }
    OutputCapture capture;
    cd::createCollisionGeometry(sphere, &link_a, 0);
    at_hundred_and_one = capture.out();
  }).join();
  EXPECT_EQ(at_hundred, "");
  std::string expected;
  for (int i = 0; i < 100; ++i) expected += "FCLShapeCache() erase!\n";
  EXPECT_EQ(at_hundred_and_one, expected);
}

TEST_F(FclGeometryTest, EachThreadHasItsOwnCache) {
  auto shape = std::make_shared<shapes::Sphere>(0.2);
  auto here = cd::createCollisionGeometry(shape, &link_a, 0);
  cd::FCLGeometryConstPtr there;
  std::thread([&] { there = cd::createCollisionGeometry(shape, &link_a, 0); }).join();
  EXPECT_NE(there, nullptr);
  EXPECT_NE(there, here);
  EXPECT_EQ(cd::createCollisionGeometry(shape, &link_a, 0), here);

  // Only the world-object and attached-body caches are cleaned, and they hold nothing.
  OutputCapture capture;
  cd::cleanCollisionGeometryCache();
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(cd::createCollisionGeometry(shape, &link_a, 0), here);
}

// Counts the calls an FCLObject makes on its manager.
class CountingManager : public fcl::NaiveCollisionManager<double> {
 public:
  void registerObjects(const std::vector<fcl::CollisionObjectd*>& objects) override {
    ++register_calls;
    registered += objects.size();
    fcl::NaiveCollisionManager<double>::registerObjects(objects);
  }
  void unregisterObject(fcl::CollisionObjectd* object) override {
    ++unregister_calls;
    fcl::NaiveCollisionManager<double>::unregisterObject(object);
  }
  int register_calls = 0;
  size_t registered = 0;
  int unregister_calls = 0;
};

TEST_F(FclGeometryTest, FclObjectRegistersAllObjectsInOneCall) {
  CountingManager manager;
  cd::FCLObject empty;
  empty.registerTo(&manager);
  EXPECT_EQ(manager.register_calls, 0);

  cd::FCLObject two;
  for (double radius : {0.1, 0.2}) {
    auto geometry = cd::createCollisionGeometry(std::make_shared<shapes::Sphere>(radius), &object);
    two.objects.push_back(std::make_shared<fcl::CollisionObjectd>(geometry->geometry));
    two.geometries.push_back(geometry);
  }
  two.registerTo(&manager);
  EXPECT_EQ(manager.register_calls, 1);
  EXPECT_EQ(manager.registered, 2u);
  EXPECT_EQ(manager.size(), 2u);
  two.unregisterFrom(&manager);
  EXPECT_EQ(manager.unregister_calls, 2);
  EXPECT_EQ(manager.size(), 0u);
  two.clear();
  EXPECT_TRUE(two.objects.empty());
  EXPECT_TRUE(two.geometries.empty());
}

TEST(CollisionDataTest, EnableGroupSelectsTheLinksTheGroupMoves) {
  auto model = bramlock_test::loadPlanarArm();
  cd::CollisionRequest req;
  cd::CollisionResult res;
  cd::CollisionData cdata(&req, &res, nullptr);
  req.group_name = "hand";
  cdata.enableGroup(model);
  ASSERT_NE(cdata.active_links, nullptr);
  EXPECT_EQ(cdata.active_links->count(model->getLinkModel("hand_link")), 1u);
  EXPECT_EQ(cdata.active_links->count(model->getLinkModel("fore_link")), 0u);
  req.group_name = "no_such_group";
  cdata.enableGroup(model);
  EXPECT_EQ(cdata.active_links, nullptr);
}

}  // namespace
