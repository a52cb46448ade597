// The shortcut that leaves out FCL's octree narrow phase for pairs that
// cannot touch: its "clear" verdicts against fcl::collide on its own, over
// seeded poses of several shapes (turned, so that the oriented-box test is
// exercised) near a mixed octree, and the library's world check on the scene
// arm against a plain loop of fcl::collide, and a mesh of many pieces against
// fcl::collide. Also the verdict "apart" on two objects, which spares the
// self check its broad-phase tree.
#include "collision_detection_fcl/octree_prefilter.h"

#include <cmath>
#include <limits>
#include <memory>
#include <optional>
#include <random>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/geometry/octree/octree.h>
#include <fcl/geometry/shape/plane.h>
#include <fcl/narrowphase/collision.h>
#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>
#include <gtest/gtest.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "collision_detection_fcl/solid_mesh_model.h"
#include "scene_arm.h"
#include "solid_mesh_makers.h"

namespace cd = collision_detection;

namespace {

using Object = fcl::CollisionObjectd;

bool fclCollides(Object& a, Object& b) {
  const fcl::CollisionRequestd request;
  fcl::CollisionResultd result;
  return fcl::collide(&a, &b, request, result) > 0;
}

Eigen::Isometry3d randomPose(std::mt19937& engine, double reach) {
  std::normal_distribution<double> normal;
  std::uniform_real_distribution<double> offset(-reach, reach);
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.linear() = Eigen::Quaterniond(normal(engine), normal(engine), normal(engine), normal(engine))
                      .normalized()
                      .toRotationMatrix();
  pose.translation() = Eigen::Vector3d(offset(engine), offset(engine), offset(engine));
  return pose;
}

// Scattered occupied voxels, a solid block that octomap prunes into one
// coarse leaf, and free voxels, all within 0.2 m of the origin.
std::shared_ptr<octomap::OcTree> mixedOctree(std::mt19937& engine) {
  auto tree = std::make_shared<octomap::OcTree>(0.02);
  std::uniform_real_distribution<double> coordinate(-0.2, 0.2);
  for (int i = 0; i < 150; ++i) {
    tree->updateNode(octomap::point3d(coordinate(engine), coordinate(engine), coordinate(engine)), true);
    tree->updateNode(octomap::point3d(coordinate(engine), coordinate(engine), coordinate(engine)), false);
  }
  for (double x = 0.005; x < 0.16; x += 0.02) {
    for (double y = 0.005; y < 0.16; y += 0.02) {
      for (double z = 0.005; z < 0.16; z += 0.02) tree->updateNode(octomap::point3d(x, y, z), true);
    }
  }
  tree->prune();
  return tree;
}

// The mixed octree as an object at the origin, or moved to a seeded pose.
Object placedOctree(std::mt19937& engine, bool moved) {
  Object octree(std::make_shared<fcl::OcTreed>(mixedOctree(engine)));
  octree.setTransform(moved ? randomPose(engine, 1.0) : Eigen::Isometry3d::Identity());
  octree.computeAABB();
  return octree;
}

// The kinds of robot and world geometry the library builds, as FCL objects.
std::vector<std::shared_ptr<Object>> shapesToTest(const cd::World::Object* owner) {
  const std::vector<shapes::ShapeConstPtr> shapes = {
      std::shared_ptr<const shapes::Shape>(shapes::createMeshFromShape(shapes::Box(0.12, 0.05, 0.2))),
      std::make_shared<shapes::Sphere>(0.04), std::make_shared<shapes::Box>(0.1, 0.02, 0.06),
      std::make_shared<shapes::Cylinder>(0.03, 0.15)};
  std::vector<std::shared_ptr<Object>> objects;
  for (const auto& shape : shapes) {
    objects.push_back(std::make_shared<Object>(cd::createCollisionGeometry(shape, owner)->geometry));
  }
  return objects;
}

TEST(OctreePrefilter, ClearVerdictsNeverHideAnFclContact) {
  std::mt19937 engine(20261207);
  const cd::World::Object owner("sample");
  auto shapes = shapesToTest(&owner);
  int clear = 0, colliding = 0, samples = 0;
  for (const bool octree_moved : {false, true}) {
    Object octree = placedOctree(engine, octree_moved);
    const Eigen::Isometry3d octree_pose = octree.getTransform();
    for (int i = 0; i < 1500; ++i, ++samples) {
      Object& shape = *shapes[i % shapes.size()];
      shape.setTransform(octree_pose * randomPose(engine, 0.3));
      shape.computeAABB();
      const bool judged_clear = bramlock::internal::provablyClearOfOctree(shape, octree);
      ASSERT_EQ(judged_clear, bramlock::internal::provablyClearOfOctree(octree, shape)) << "sample " << i;
      const bool collides = fclCollides(shape, octree);
      ASSERT_FALSE(judged_clear && collides) << "sample " << i << " moved octree " << octree_moved;
      clear += judged_clear;
      colliding += collides;
    }
  }
  // Both verdicts must be common for the comparison to mean anything.
  EXPECT_GT(clear, samples / 10);
  EXPECT_GT(colliding, samples / 10);
}

TEST(OctreePrefilter, ShapesJustClearOfAVoxelAreClearAndTouchingOnesAreNot) {
  auto tree = std::make_shared<octomap::OcTree>(0.02);
  tree->updateNode(octomap::point3d(0.01f, 0.01f, 0.01f), true);  // the voxel [0, 0.02]^3
  Object octree(std::make_shared<fcl::OcTreed>(tree));
  Object box(std::make_shared<fcl::Boxd>(0.1, 0.1, 0.1));
  for (const double gap : {0.002, 0.0005, -0.0005}) {
    box.setTransform(Eigen::Isometry3d(Eigen::Translation3d(0.07 + gap, 0.01, 0.01)));
    box.computeAABB();
    const bool judged_clear = bramlock::internal::provablyClearOfOctree(box, octree);
    EXPECT_EQ(judged_clear, gap > 0.001) << "gap " << gap;
    EXPECT_EQ(fclCollides(box, octree), gap < 0.0) << "gap " << gap;
  }
}

TEST(OctreePrefilter, ApartVerdictsNeverHideAnFclContact) {
  std::mt19937 engine(4051);
  const cd::World::Object owner("sample");
  auto shapes = shapesToTest(&owner);
  auto others = shapesToTest(&owner);
  int apart = 0, colliding = 0, samples = 0;
  for (int i = 0; i < 4000; ++i, ++samples) {
    Object& first = *shapes[i % shapes.size()];
    Object& second = *others[(i / shapes.size()) % others.size()];
    const Eigen::Isometry3d near = randomPose(engine, 1.0);
    first.setTransform(near * randomPose(engine, 0.1));
    second.setTransform(near * randomPose(engine, 0.1));
    const bool judged_apart = bramlock::internal::provablyApart(first, second);
    const bool collides = fclCollides(first, second);
    ASSERT_FALSE(judged_apart && (collides || fclCollides(second, first))) << "sample " << i;
    apart += judged_apart;
    colliding += collides;
  }
  EXPECT_GT(apart, samples / 10);
  EXPECT_GT(colliding, samples / 10);
}

TEST(OctreePrefilter, BoxesJustApartAreApartAndTouchingOnesAreNot) {
  Object fixed(std::make_shared<fcl::Boxd>(0.1, 0.1, 0.1));
  Object moved(std::make_shared<fcl::Boxd>(0.1, 0.1, 0.1));
  for (const double gap : {0.002, 0.0005, -0.0005}) {
    moved.setTransform(Eigen::Isometry3d(Eigen::Translation3d(0.1 + gap, 0.02, 0.0)));
    EXPECT_EQ(bramlock::internal::provablyApart(fixed, moved), gap > 0.001) << "gap " << gap;
    EXPECT_EQ(fclCollides(fixed, moved), gap < 0.0) << "gap " << gap;
  }
}

TEST(OctreePrefilter, UnprovablePairsAreLeftToFcl) {
  auto tree = std::make_shared<octomap::OcTree>(0.02);
  tree->updateNode(octomap::point3d(0.01f, 0.01f, 0.01f), true);
  Object octree(std::make_shared<fcl::OcTreed>(tree));
  Object other_octree(std::make_shared<fcl::OcTreed>(tree));
  Object sphere(std::make_shared<fcl::Sphered>(0.05), Eigen::Isometry3d(Eigen::Translation3d(5.0, 0.0, 0.0)));
  Object far_sphere(std::make_shared<fcl::Sphered>(0.05), Eigen::Isometry3d(Eigen::Translation3d(9.0, 0.0, 0.0)));
  Object plane(std::make_shared<fcl::Planed>(0.0, 0.0, 1.0, 3.0));
  EXPECT_TRUE(bramlock::internal::provablyClearOfOctree(sphere, octree));
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(sphere, far_sphere));
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(octree, other_octree));
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(plane, octree));
  EXPECT_TRUE(bramlock::internal::provablyApart(sphere, far_sphere));
  EXPECT_FALSE(bramlock::internal::provablyApart(far_sphere, plane));  // the plane's box has no finite size

  const double nan = std::numeric_limits<double>::quiet_NaN();
  sphere.setTranslation(Eigen::Vector3d(nan, 0.0, 0.0));
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(sphere, octree));
  EXPECT_FALSE(bramlock::internal::provablyApart(sphere, far_sphere));
  EXPECT_FALSE(bramlock::internal::provablyApart(far_sphere, sphere));
  Eigen::Isometry3d stretched = Eigen::Isometry3d::Identity();
  stretched.linear() = Eigen::Vector3d(3.0, 1.0, 1.0).asDiagonal();
  stretched.translation() = Eigen::Vector3d(5.0, 0.0, 0.0);
  sphere.setTransform(stretched);
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(sphere, octree));
  EXPECT_FALSE(bramlock::internal::provablyApart(sphere, far_sphere));
  EXPECT_FALSE(bramlock::internal::provablyApart(far_sphere, sphere));
  auto unbounded = std::make_shared<fcl::Sphered>(0.05);
  Object without_box(unbounded, Eigen::Isometry3d(Eigen::Translation3d(5.0, 0.0, 0.0)));
  unbounded->aabb_local = fcl::AABBd();
  EXPECT_FALSE(bramlock::internal::provablyClearOfOctree(without_box, octree));
  EXPECT_FALSE(bramlock::internal::provablyApart(without_box, far_sphere));
  EXPECT_FALSE(bramlock::internal::provablyApart(far_sphere, without_box));

  // An octree without nodes holds nothing to touch.
  Object empty(std::make_shared<fcl::OcTreed>(std::make_shared<octomap::OcTree>(0.02)));
  Object touching(std::make_shared<fcl::Sphered>(0.05));
  EXPECT_TRUE(bramlock::internal::provablyClearOfOctree(touching, empty));
  EXPECT_FALSE(fclCollides(touching, empty));
}

// A mesh of the given triangles with FCL's oriented-box tree over them.
std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>> meshOf(const std::vector<Eigen::Vector3d>& vertices,
                                                    const std::vector<fcl::Triangle>& triangles) {
  auto mesh = std::make_shared<fcl::BVHModel<fcl::OBBRSSd>>();
  mesh->beginModel();
  mesh->addSubModel(vertices, triangles);
  mesh->endModel();
  mesh->computeLocalAABB();
  return mesh;
}

// The mesh shortcut against fcl::collide for a single triangle (a tree of
// one node) and a closed box mesh, at seeded poses around the octree and at
// poses that put a vertex or a face exactly on a voxel's face, edge or
// corner, where every rounding of the box tests shows.
TEST(OctreePrefilter, MeshAnswersAreFclsAroundAndAtTouch) {
  std::mt19937 engine(20261208);
  const double h = 0.01;
  const std::vector<std::shared_ptr<fcl::BVHModel<fcl::OBBRSSd>>> meshes = {
      meshOf({{0.0, 0.0, 0.0}, {0.07, 0.01, 0.0}, {0.02, 0.05, 0.0}}, {fcl::Triangle(0, 1, 2)}),
      meshOf({{-h, -h, -h}, {h, -h, -h}, {h, h, -h}, {-h, h, -h}, {-h, -h, h}, {h, -h, h}, {h, h, h}, {-h, h, h}},
             {{0, 2, 1},
              {0, 3, 2},
              {4, 5, 6},
              {4, 6, 7},
              {0, 1, 5},
              {0, 5, 4},
              {1, 2, 6},
              {1, 6, 5},
              {2, 3, 7},
              {2, 7, 6},
              {3, 0, 4},
              {3, 4, 7}})};
  ASSERT_EQ(meshes[0]->getNumBVs(), 1);
  int collisions = 0, samples = 0;
  for (const bool octree_moved : {false, true}) {
    Object octree = placedOctree(engine, octree_moved);
    const Eigen::Isometry3d octree_pose = octree.getTransform();
    for (const auto& mesh : meshes) {
      Object object(mesh);
      for (int i = 0; i < 1500; ++i, ++samples) {
        Eigen::Isometry3d pose = randomPose(engine, 0.25);
        // Every third pose puts the mesh's first vertex on a corner of the
        // 2 cm grid, or the first triangle's plane flush with a grid plane.
        if (i % 3 == 1) pose.translation() = (pose.translation() / 0.02).array().round() * 0.02;
        if (i % 3 == 2) {
          pose.linear() = Eigen::AngleAxisd(0.5 * M_PI * (i % 4), Eigen::Vector3d::UnitZ()).toRotationMatrix();
          pose.translation().z() = std::round(pose.translation().z() / 0.02) * 0.02;
        }
        object.setTransform(octree_pose * pose);
        object.computeAABB();
        const std::optional<bool> answer = bramlock::internal::octreeMeshCollision(object, octree, false);
        ASSERT_TRUE(answer.has_value());
        const bool collides = fclCollides(object, octree);
        ASSERT_EQ(*answer, collides) << "sample " << i << " moved octree " << octree_moved;
        ASSERT_EQ(bramlock::internal::octreeMeshCollision(octree, object, false), answer);
        collisions += collides;
      }
    }
  }
  EXPECT_GT(collisions, samples / 10);
  EXPECT_LT(collisions, samples * 9 / 10);
}

// A checker's mesh of thirteen pieces, so that their boxes are searched
// through a tree and a voxel reached for a piece is tested against that
// piece's triangles only, from its own node of FCL's tree: counting
// triangles only, the answer is fcl::collide's at every seeded pose.
TEST(OctreePrefilter, AMeshOfManyPiecesAnswersAsFcl) {
  std::mt19937 engine(20261209);
  std::uniform_real_distribution<double> coordinate(-0.25, 0.25);
  bramlock_test::TriangleMesh pieces = bramlock_test::icosphere(Eigen::Vector3d::Zero(), 0.06, 2);
  for (int k = 0; k < 12; ++k) {
    const Eigen::Vector3d at(coordinate(engine), coordinate(engine), coordinate(engine));
    pieces = bramlock_test::appended(pieces, k % 2 == 0
                                                 ? bramlock_test::icosphere(at, 0.015, 1)
                                                 : bramlock_test::boxMesh(at, at + Eigen::Vector3d(0.03, 0.01, 0.02)));
  }
  const cd::World::Object owner("pieces");
  Object mesh(cd::createCollisionGeometry(bramlock_test::meshShape(pieces), &owner)->geometry);
  const auto* model = bramlock::internal::solidMeshModelOf(mesh.collisionGeometry().get());
  ASSERT_NE(model, nullptr);
  ASSERT_EQ(model->pieceBoxes().boxes().size(), 13u);
  int collisions = 0, samples = 0;
  for (const bool octree_moved : {false, true}) {
    Object octree = placedOctree(engine, octree_moved);
    const Eigen::Isometry3d octree_pose = octree.getTransform();
    for (int i = 0; i < 600; ++i, ++samples) {
      mesh.setTransform(octree_pose * randomPose(engine, 0.45));
      mesh.computeAABB();
      const std::optional<bool> answer = bramlock::internal::octreeMeshCollision(mesh, octree, false);
      ASSERT_TRUE(answer.has_value());
      const bool collides = fclCollides(mesh, octree);
      ASSERT_EQ(*answer, collides) << "sample " << i << " moved octree " << octree_moved;
      collisions += collides;
    }
  }
  EXPECT_GT(collisions, samples / 10);
  EXPECT_LT(collisions, samples * 9 / 10);
}

// The planner's world check (padded scene arm against an octomap wall with a
// gap) against fcl::collide of each moving link with the octree on its own.
TEST(OctreePrefilter, WorldCheckOfTheSceneArmMatchesPlainFcl) {
  auto model = bramlock_test::loadSceneArmModel();
  const moveit::core::JointModelGroup* arm = model->getJointModelGroup("arm");
  const cd::CollisionRobotFCL robot(model, bramlock_test::kSceneArmRobotPadding);
  auto world = std::make_shared<cd::World>();
  cd::CollisionWorldFCL world_checker(world);
  auto wall = std::make_shared<octomap::OcTree>(0.02);
  for (double x = 0.25; x <= 0.8; x += 0.02) {
    for (double z = 0.01; z <= 1.1; z += 0.02) {
      for (const double y : {-0.01, 0.01}) wall->updateNode(octomap::point3d(x, y, z), true);
    }
  }
  {
    bramlock_test::OutputCapture quiet;  // the world checker reports every update
    world->addToObject("wall", std::make_shared<const shapes::OcTree>(wall), Eigen::Isometry3d::Identity());
  }
  Object octree(std::make_shared<fcl::OcTreed>(wall));

  moveit::core::RobotState state(model);
  state.setToDefaultValues();
  std::mt19937 engine(7);
  const auto bounds = bramlock_test::sceneArmBounds();
  int colliding = 0;
  constexpr int kStates = 400;
  for (int sample = 0; sample < kStates; ++sample) {
    std::vector<double> joints;
    for (const auto& bound : bounds) {
      joints.push_back(std::uniform_real_distribution<double>(bound.first, bound.second)(engine));
    }
    state.setJointGroupPositions(arm, joints.data());
    state.update(false);

    cd::CollisionRequest request;
    request.group_name = "arm";
    cd::CollisionResult result;
    world_checker.checkRobotCollision(request, result, robot, state);

    cd::FCLObject links;
    robot.constructFCLObject(state, links);
    bool plain = false;
    for (const auto& link : links.objects) {
      const auto* owner = static_cast<const cd::CollisionGeometryData*>(link->collisionGeometry()->getUserData());
      if (arm->getUpdatedLinkModelsSet().count(owner->link()) == 0) continue;
      plain = plain || fclCollides(*link, octree);
    }
    ASSERT_EQ(result.collision, plain) << "sample " << sample;
    colliding += plain;
  }
  EXPECT_GT(colliding, kStates / 20);
  EXPECT_LT(colliding, kStates * 19 / 20);
}

}  // namespace
