#include <gtest/gtest.h>

#include <memory>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/robot_model/aabb.h"
#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "bramlock_arm_planning_core/robot_model/fixed_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "test_support.h"

namespace {

using moveit::core::LinkModel;
using moveit::core::vector_Isometry3d;
using ShapeList = std::vector<std::shared_ptr<const shapes::Shape>>;

std::shared_ptr<const shapes::Shape> unitCubeCornerMesh() {
  auto mesh = std::make_shared<shapes::Mesh>(2, 0);
  const double corners[6] = {0, 0, 0, 1, 1, 1};
  std::copy(corners, corners + 6, mesh->vertices);
  return mesh;
}

Eigen::Isometry3d scaled(double factor) {
  Eigen::Isometry3d transform = Eigen::Isometry3d::Identity();
  transform.linear() *= factor;
  return transform;
}

TEST(LinkModel, NewLinkDefaults) {
  LinkModel link("l", 3);
  EXPECT_TRUE(link.jointOriginTransformIsIdentity());
  EXPECT_TRUE(link.getJointOriginTransform().matrix().isIdentity());
  EXPECT_EQ(link.getParentJointModel(), nullptr);
  EXPECT_EQ(link.getFirstCollisionBodyTransformIndex(), -1);
  EXPECT_EQ(link.getVisualMeshFilename(), "");
  moveit::core::FixedJointModel fixed("f", 0, 0);
  link.setParentJointModel(&fixed);
  EXPECT_TRUE(link.parentJointIsFixed());
}

TEST(LinkModel, IdentityFlagToleratesOnlyRoundingNoise) {
  LinkModel link("l", 0);
  link.setJointOriginTransform(Eigen::Isometry3d(Eigen::Translation3d(0, 0, 1e-17)));
  EXPECT_TRUE(link.jointOriginTransformIsIdentity());
  link.setJointOriginTransform(Eigen::Isometry3d(Eigen::Translation3d(0, 0, 1e-15)));
  EXPECT_FALSE(link.jointOriginTransformIsIdentity());
  link.setJointOriginTransform(Eigen::Isometry3d(Eigen::AngleAxisd(1e-9, Eigen::Vector3d::UnitX())));
  EXPECT_FALSE(link.jointOriginTransformIsIdentity());
}

TEST(LinkModel, BoundingBoxOfShapes) {
  LinkModel link("l", 0);
  link.setGeometry({}, {});
  EXPECT_EQ(link.getShapeExtentsAtOrigin(), Eigen::Vector3d::Zero());
  EXPECT_EQ(link.getCenteredBoundingBoxOffset(), Eigen::Vector3d::Zero());

  const auto box = std::make_shared<const shapes::Box>(1, 2, 3);
  link.setGeometry({box}, {Eigen::Isometry3d::Identity()});
  EXPECT_TRUE(link.getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(1, 2, 3)));
  EXPECT_TRUE(link.getCenteredBoundingBoxOffset().isZero());
  EXPECT_EQ(link.areCollisionOriginTransformsIdentity(), std::vector<int>{1});

  const Eigen::Isometry3d turned_and_moved =
      Eigen::Translation3d(1, 0, 0) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitZ());
  link.setGeometry({box}, {turned_and_moved});
  EXPECT_TRUE(link.getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(2, 1, 3)));
  EXPECT_TRUE(link.getCenteredBoundingBoxOffset().isApprox(Eigen::Vector3d(1, 0, 0)));
  EXPECT_EQ(link.areCollisionOriginTransformsIdentity(), std::vector<int>{0});

  link.setGeometry({unitCubeCornerMesh()}, {Eigen::Isometry3d::Identity()});
  EXPECT_TRUE(link.getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(1, 1, 1)));
  EXPECT_TRUE(link.getCenteredBoundingBoxOffset().isApprox(Eigen::Vector3d(0.5, 0.5, 0.5)));

  // Two shapes: a sphere of radius 0.5 at -2 on y and a cylinder (radius 0.1,
  // length 1) lying along x at +1 on y.
  const Eigen::Isometry3d lying = Eigen::Translation3d(0, 1, 0) * Eigen::AngleAxisd(M_PI / 2, Eigen::Vector3d::UnitY());
  vector_Isometry3d origins = {Eigen::Isometry3d(Eigen::Translation3d(0, -2, 0)), lying};
  link.setGeometry({std::make_shared<const shapes::Sphere>(0.5), std::make_shared<const shapes::Cylinder>(0.1, 1.0)},
                   origins);
  EXPECT_TRUE(link.getShapeExtentsAtOrigin().isApprox(Eigen::Vector3d(1.0, 3.6, 1.0)))
      << link.getShapeExtentsAtOrigin().transpose();
  EXPECT_TRUE(link.getCenteredBoundingBoxOffset().isApprox(Eigen::Vector3d(0, -0.7, 0)));
}

TEST(LinkModel, AssociatedFixedTransforms) {
  LinkModel base("base", 0), tool("tool", 1);
  const Eigen::Isometry3d offset(Eigen::Translation3d(0, 0, 0.2));
  base.addAssociatedFixedTransform(&tool, offset);
  ASSERT_EQ(base.getAssociatedFixedTransforms().size(), 1u);
  EXPECT_TRUE(base.getAssociatedFixedTransforms().at(&tool).isApprox(offset));
}

TEST(CheckIsometry, ReportsScalingAndLastRow) {
  bramlock_test::OutputCapture capture;
  EXPECT_TRUE(moveit::core::checkIsometry(
      Eigen::Translation3d(1, 2, 3) * Eigen::AngleAxisd(0.3, Eigen::Vector3d(1, 1, 0).normalized()), 1e-12, true));
  EXPECT_FALSE(moveit::core::checkIsometry(scaled(2.0), 1e-12, true));
  Eigen::Isometry3d bad_row = Eigen::Isometry3d::Identity();
  bad_row.matrix()(3, 3) = 1.1;
  EXPECT_FALSE(moveit::core::checkIsometry(bad_row, 1e-12, true));
  EXPECT_FALSE(moveit::core::checkIsometry(scaled(2.0), 1e-12, false));
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(capture.err(),
            "The given transform is not an isometry! Its linear part involves non-unit scaling. The scaling matrix "
            "diagonal differs from [1 1 1] by [1 1 1] but the required precision is 1e-12.\n"
            "The given transform is not an isometry! Its last row deviates from [0 0 0 1] by [  0   0   0 0.1] but "
            "the required precision is 1e-12.\n");
}

TEST(CheckIsometryDeathTest, NonRigidTransformsStopTheOperation) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  LinkModel link("l", 0);
  EXPECT_DEATH(link.setJointOriginTransform(scaled(2.0)), "Invalid isometry transform");
  EXPECT_DEATH(link.setGeometry({std::make_shared<const shapes::Sphere>(1.0)}, {scaled(1.5)}),
               "Invalid isometry transform");
  EXPECT_DEATH(link.addAssociatedFixedTransform(&link, scaled(0.5)), "Invalid isometry transform");
  moveit::core::AABB box;
  EXPECT_DEATH(box.extendWithTransformedBox(scaled(3.0), Eigen::Vector3d::Ones()), "Invalid isometry transform");
}

}  // namespace
