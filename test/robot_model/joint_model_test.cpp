#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <sstream>
#include <stdexcept>

#include "bramlock_arm_planning_core/robot_model/fixed_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "expect_throw_message.h"
#include "test_support.h"

namespace {

using moveit::core::JointModel;
using moveit::core::MdhTable;
using moveit::core::RevoluteJointModel;
using moveit::core::VariableBounds;

// A joint kind whose type value lies outside the enumeration.
class OddJoint : public moveit::core::FixedJointModel {
 public:
  OddJoint() : FixedJointModel("odd", 0, 0) { initVariables(static_cast<JointType>(6), {}, {}); }
};

// Each entry distinct, so a swapped row or column shows: row r, column c holds 10 r + c + 1.
MdhTable numberedTable(size_t rows = 4, size_t columns = 6) {
  MdhTable table(rows, std::vector<double>(columns));
  for (size_t r = 0; r < rows; ++r) {
    for (size_t c = 0; c < columns; ++c) table[r][c] = 10.0 * r + c + 1;
  }
  return table;
}

TEST(JointModel, TypeNames) {
  EXPECT_EQ(moveit::core::FixedJointModel("f", 0, 0).getTypeName(), "Fixed");
  EXPECT_EQ(RevoluteJointModel("r", 0, 0).getTypeName(), "Revolute");
  EXPECT_EQ(moveit::core::PlanarJointModel("p", 0, 0).getTypeName(), "Planar");
  EXPECT_EQ(OddJoint().getTypeName(), "[Unknown]");
}

TEST(JointModel, VariableLookupMissPrintsAndThrows) {
  RevoluteJointModel joint("joint1", 0, 0);
  EXPECT_EQ(joint.getLocalVariableIndex("joint1"), 0u);
  VariableBounds bounds;
  bounds.max_velocity_ = 2.0;
  joint.setVariableBounds("joint1", bounds);
  EXPECT_EQ(joint.getVariableBounds("joint1").max_velocity_, 2.0);
  bramlock_test::OutputCapture capture;
  try {
    joint.getVariableBounds("joint9");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "this is a runtime_error.");
  }
  EXPECT_THROW_MESSAGE(joint.setVariableBounds("x", bounds), std::runtime_error, "^this is a runtime_error\\.$");
  EXPECT_EQ(capture.out(),
            "Could not find variable joint9 to get bounds for within joint joint1 \n"
            "Could not find variable x to get bounds for within joint joint1 \n");
}

TEST(JointModel, CheckEqualIsStrict) {
  // 1.0001 - 1.0 rounds below 1e-4 in doubles, so the strict bound is shown at 0.
  EXPECT_FALSE(JointModel::checkEqual(0.0, 0.0001));
  EXPECT_FALSE(JointModel::checkEqual(1.0, 1.00011));
  EXPECT_TRUE(JointModel::checkEqual(1.0, 1.00009));
}

TEST(JointModel, SetRpyMovesYawIntoRollAtRightPitch) {
  RevoluteJointModel joint("j", 0, 0);
  joint.setRpy({0, -M_PI / 2, 0.3});
  EXPECT_EQ(joint.getRpy(), Eigen::Vector3d(0.3, -M_PI / 2, 0));
  joint.setRpy({0, M_PI / 2, 0.3});
  EXPECT_EQ(joint.getRpy(), Eigen::Vector3d(-0.3, M_PI / 2, 0));
  joint.setRpy({0.1, -M_PI / 2, 0.3});
  EXPECT_EQ(joint.getRpy(), Eigen::Vector3d(0.1, -M_PI / 2, 0.3));
}

TEST(JointModel, CalZeroAcceptsOnlyRotationsAboutZAfterRoll) {
  double zero = 7.0;
  EXPECT_EQ(JointModel::calZero(0, 0, 0.5, zero), 0);
  EXPECT_NEAR(zero, 0.5, 1e-12);
  // Rx(roll) * Rz(theta) written in URDF rpy still gives theta back.
  const Eigen::Matrix3d r =
      (Eigen::AngleAxisd(-M_PI / 2, Eigen::Vector3d::UnitX()) * Eigen::AngleAxisd(0.7, Eigen::Vector3d::UnitZ()))
          .toRotationMatrix();
  const Eigen::Vector3d ypr = r.eulerAngles(2, 1, 0);
  EXPECT_EQ(JointModel::calZero(ypr[2], ypr[1], ypr[0], zero), 0);
  EXPECT_NEAR(std::remainder(zero - 0.7, 2 * M_PI), 0.0, 1e-9);

  bramlock_test::OutputCapture capture;
  zero = 7.0;
  EXPECT_EQ(JointModel::calZero(0, 0.3, 0, zero), -1);
  EXPECT_EQ(zero, 7.0);
  EXPECT_EQ(capture.out(), "Matrix R_zero0 is not ok.\n");
}

TEST(JointModel, MdhTableColumnsLandInTheirFields) {
  const MdhTable table = numberedTable();
  for (int k = 1; k <= 6; ++k) {
    RevoluteJointModel joint("joint" + std::to_string(k), 0, 0);
    ASSERT_EQ(joint.generateMdhPara(table), 0);
    EXPECT_EQ(joint.getZd(), k) << k;
    EXPECT_EQ(joint.getXa(), 10 + k) << k;
    EXPECT_EQ(joint.getQzero(), 20 + k) << k;
    EXPECT_EQ(joint.getAlpha(), 30 + k) << k;
  }
  for (const char* name : {"joint7", "Joint1", "tool_joint"}) {
    RevoluteJointModel joint(name, 0, 0);
    EXPECT_EQ(joint.generateMdhPara(table), -1) << name;
  }
}

TEST(JointModel, TooSmallMdhTableIsRefusedWithoutReading) {
  RevoluteJointModel joint3("joint3", 0, 0);
  EXPECT_EQ(joint3.generateMdhPara(MdhTable{}), -1);
  EXPECT_EQ(joint3.generateMdhPara(numberedTable(3, 6)), -1);
  EXPECT_EQ(joint3.generateMdhPara(numberedTable(4, 2)), -1);
  MdhTable ragged = numberedTable();
  ragged[3].resize(2);
  EXPECT_EQ(joint3.generateMdhPara(ragged), -1);
  EXPECT_EQ(joint3.getZd(), 0.0);
  EXPECT_EQ(joint3.getXa(), 0.0);
  EXPECT_EQ(joint3.getQzero(), 0.0);
  EXPECT_EQ(joint3.getAlpha(), 0.0);
  EXPECT_EQ(joint3.generateMdhPara(numberedTable(4, 3)), 0);
  EXPECT_EQ(joint3.getAlpha(), 33.0);
}

TEST(JointModel, BuiltInMdhValues) {
  RevoluteJointModel joint4("joint4", 0, 0);
  ASSERT_EQ(joint4.generateMdhPara(), 0);
  EXPECT_EQ(joint4.getXa(), 0.071459);
  EXPECT_EQ(joint4.getAlpha(), 1.5707963267948966);
  EXPECT_EQ(joint4.getZd(), 0.40581);
  EXPECT_EQ(joint4.getQzero(), 0.010472);

  RevoluteJointModel other("wrist", 0, 0);
  other.setXyz({0.2, 0.0, 0.35});
  other.setRpy({0.0, 0.0, 0.25});
  ASSERT_EQ(other.generateMdhPara(), 0);
  EXPECT_EQ(other.getXa(), 0.2);
  EXPECT_EQ(other.getZd(), 0.35);
  EXPECT_NEAR(other.getQzero(), 0.25, 1e-12);
  EXPECT_EQ(other.getAlpha(), 0.0);

  bramlock_test::OutputCapture capture;
  other.setRpy({0.0, 0.3, 0.0});
  EXPECT_EQ(other.generateMdhPara(), -1);
  EXPECT_EQ(other.getXa(), 0.2);
}

TEST(JointModel, VelocityBoundsIgnoreTheBoundedFlag) {
  RevoluteJointModel joint("j", 0, 0);
  std::vector<VariableBounds> bounds(1);
  bounds[0].min_velocity_ = -1.0;
  bounds[0].max_velocity_ = 1.0;
  double value = 1.05;
  EXPECT_TRUE(joint.satisfiesVelocityBounds(&value, bounds, 0.1));
  EXPECT_FALSE(joint.satisfiesVelocityBounds(&value, bounds, 0.0));
  EXPECT_TRUE(joint.enforceVelocityBounds(&value, bounds));
  EXPECT_EQ(value, 1.0);
  EXPECT_FALSE(joint.enforceVelocityBounds(&value, bounds));
  value = -3.0;
  EXPECT_TRUE(joint.enforceVelocityBounds(&value, bounds));
  EXPECT_EQ(value, -1.0);
  EXPECT_TRUE(joint.satisfiesVelocityBounds(&value, {}, 0.0));
}

TEST(JointModel, BoundsText) {
  std::ostringstream plain;
  plain << VariableBounds();
  EXPECT_EQ(plain.str(), "P.unbounded [0, 0]; V.unbounded [0, 0]; A.unbounded [0, 0]; J.unbounded [0, 0];");

  VariableBounds bounds;
  bounds.position_bounded_ = true;
  bounds.min_position_ = -std::numeric_limits<double>::infinity();
  bounds.max_position_ = std::numeric_limits<double>::infinity();
  bounds.velocity_bounded_ = true;
  bounds.min_velocity_ = -1.5;
  bounds.max_velocity_ = 1.5;
  bounds.min_jerk_ = std::numeric_limits<double>::lowest();
  std::ostringstream text;
  text << bounds;
  EXPECT_EQ(text.str(),
            "P.bounded [-inf, inf]; V.bounded [-1.5, 1.5]; A.unbounded [0, 0]; J.unbounded [-1.79769e+308, 0];");
}

TEST(JointModel, DescendantsSplitFixedFromMoving) {
  RevoluteJointModel joint("j", 0, 0);
  moveit::core::FixedJointModel fixed("f", 1, 1);
  RevoluteJointModel moving("m", 2, 1);
  joint.addDescendantJointModel(&fixed);
  joint.addDescendantJointModel(&moving);
  EXPECT_EQ(joint.getDescendantJointModels().size(), 2u);
  ASSERT_EQ(joint.getNonFixedDescendantJointModels().size(), 1u);
  EXPECT_EQ(joint.getNonFixedDescendantJointModels()[0], &moving);
}

}  // namespace
