// Bad numbers at the joint models: wrapping and harmonizing end at once for
// any value, never step towards an infinite bound, and NaN satisfies no bounds.

#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/robot_model/floating_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"

namespace {

using moveit::core::JointModel;
using moveit::core::RevoluteJointModel;
using robustness::kInf;
using robustness::kNaN;

JointModel::Bounds revoluteBounds(const RevoluteJointModel& joint, double min, double max) {
  JointModel::Bounds bounds = joint.getVariableBounds();
  bounds[0].min_position_ = min;
  bounds[0].max_position_ = max;
  return bounds;
}

// The shift the harmonizing rule describes, a turn at a time: only usable for
// values a few hundred turns out.
double harmonizedByTurns(double v, double min, double max) {
  if (v < min && v + 2 * M_PI <= max) {
    while (v + 2 * M_PI <= max) v += 2 * M_PI;
  } else if (v > max && v - 2 * M_PI >= min) {
    while (v - 2 * M_PI >= min) v -= 2 * M_PI;
  }
  return v;
}

TEST(JointModelRobustness, HarmonizingMatchesTurnByTurnShifting) {
  RevoluteJointModel joint("r", 0, 0);
  std::mt19937 engine(25);
  std::uniform_real_distribution<double> value(-400.0, 400.0), low(-10.0, 0.0), width(0.1, 20.0);
  for (int i = 0; i < 2000; ++i) {
    const double min = low(engine), max = min + width(engine), v = value(engine);
    double harmonized = v;
    const bool changed = joint.harmonizePosition(&harmonized, revoluteBounds(joint, min, max));
    const double expected = harmonizedByTurns(v, min, max);
    EXPECT_NEAR(harmonized, expected, 1e-12) << v << " in [" << min << ", " << max << "]";
    EXPECT_EQ(changed, expected != v);
  }
}

TEST(JointModelRobustness, HarmonizingFarValuesEndsWithinTheBounds) {
  RevoluteJointModel joint("r", 0, 0);
  const JointModel::Bounds bounds = revoluteBounds(joint, -M_PI, M_PI);
  for (double far : {-1e17, 1e17, 1e12, -1e12, 1e300, -1e300, 1.7976931348623157e308}) {
    double v = far;
    EXPECT_TRUE(joint.harmonizePosition(&v, bounds)) << far;
    EXPECT_GE(v, -M_PI) << far;
    EXPECT_LE(v, M_PI) << far;
  }
}

TEST(JointModelRobustness, HarmonizingNeverMovesTowardsAnInfiniteBoundOrMovesNonFiniteValues) {
  RevoluteJointModel joint("r", 0, 0);
  for (const auto& limits : std::vector<std::pair<double, double>>{{-M_PI, kInf}, {-kInf, M_PI}, {-kInf, kInf}}) {
    const JointModel::Bounds bounds = revoluteBounds(joint, limits.first, limits.second);
    for (double v : {-1e17, 1e17, -10.0, 10.0}) {
      double harmonized = v;
      const bool changed = joint.harmonizePosition(&harmonized, bounds);
      if (changed) {
        EXPECT_TRUE(std::isfinite(harmonized)) << v;
        EXPECT_GE(harmonized, limits.first) << v;
        EXPECT_LE(harmonized, limits.second) << v;
      } else {
        EXPECT_EQ(harmonized, v);
      }
    }
  }
  const JointModel::Bounds bounds = revoluteBounds(joint, -M_PI, M_PI);
  for (double bad : robustness::nonFiniteNumbers()) {
    double v = bad;
    EXPECT_FALSE(joint.harmonizePosition(&v, bounds)) << bad;
    EXPECT_TRUE(std::isnan(bad) ? std::isnan(v) : v == bad);
  }
}

TEST(JointModelRobustness, ContinuousWrappingOfFarAndNonFiniteAngles) {
  RevoluteJointModel joint("r", 0, 0);
  joint.setContinuous(true);
  moveit::core::PlanarJointModel planar("p", 0, 0);
  for (double far : {1e300, -1e300, 1e17, -1e17, 7.0, -7.0}) {
    double v = far;
    EXPECT_TRUE(joint.enforcePositionBounds(&v, joint.getVariableBounds())) << far;
    EXPECT_GT(v, -M_PI);
    EXPECT_LE(v, M_PI);
    double xy_theta[3] = {0.0, 0.0, far};
    planar.enforcePositionBounds(xy_theta, planar.getVariableBounds());
    EXPECT_GE(xy_theta[2], -M_PI);
    EXPECT_LE(xy_theta[2], M_PI);
  }
  for (double bad : robustness::nonFiniteNumbers()) {
    double v = bad;
    EXPECT_FALSE(joint.enforcePositionBounds(&v, joint.getVariableBounds())) << bad;
    EXPECT_FALSE(joint.satisfiesPositionBounds(&v, joint.getVariableBounds(), 0.0)) << bad;
    double xy_theta[3] = {0.0, 0.0, bad};
    EXPECT_FALSE(planar.normalizeRotation(xy_theta)) << bad;
  }
}

TEST(JointModelRobustness, NaNSatisfiesNoPositionBounds) {
  RevoluteJointModel revolute("r", 0, 0);
  moveit::core::PrismaticJointModel prismatic("s", 0, 0);
  double value = kNaN;
  EXPECT_FALSE(revolute.satisfiesPositionBounds(&value, revoluteBounds(revolute, -1.0, 1.0), 0.0));
  EXPECT_FALSE(prismatic.satisfiesPositionBounds(&value, prismatic.getVariableBounds(), 0.1));
  moveit::core::PlanarJointModel planar("p", 0, 0);
  moveit::core::FloatingJointModel floating("f", 0, 0);
  for (size_t i = 0; i < 3; ++i) {
    double xy_theta[3] = {0.0, 0.0, 0.0};
    xy_theta[i] = kNaN;
    EXPECT_FALSE(planar.satisfiesPositionBounds(xy_theta, planar.getVariableBounds(), 0.0)) << i;
    double pose[7] = {0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
    pose[i] = kNaN;
    EXPECT_FALSE(floating.satisfiesPositionBounds(pose, floating.getVariableBounds(), 0.0)) << i;
  }
}

}  // namespace
