#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/fixed_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/floating_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "test_support.h"

namespace {

using namespace moveit::core;
using Bounds = std::vector<VariableBounds>;

constexpr int kSamples = 100;

double angleGap(double a, double b) { return std::fabs(std::remainder(a - b, 2 * M_PI)); }

Bounds finiteBounds(const JointModel& joint, double limit) {
  Bounds bounds = joint.getVariableBounds();
  for (size_t i = 0; i < bounds.size() && i < 3; ++i) {
    bounds[i].min_position_ = -limit;
    bounds[i].max_position_ = limit;
  }
  return bounds;
}

Eigen::Vector3d randomUnitAxis(random_numbers::RandomNumberGenerator& rng) {
  return Eigen::Vector3d(rng.gaussian01(), rng.gaussian01(), rng.gaussian01()).normalized();
}

TEST(JointKinds, VariablesAndInitialBounds) {
  FloatingJointModel floating("base", 0, 0);
  EXPECT_EQ(floating.getVariableNames().front(), "base/trans_x");
  EXPECT_EQ(floating.getVariableNames().back(), "base/rot_w");
  EXPECT_EQ(floating.getVariableIndexMap().at("base/rot_x"), 3u);
  EXPECT_TRUE(std::isinf(floating.getVariableBounds()[0].max_position_));
  EXPECT_EQ(floating.getVariableBounds()[6].min_position_, -1.0);

  PlanarJointModel planar("p", 0, 0);
  EXPECT_EQ(planar.getLocalVariableNames(), (std::vector<std::string>{"x", "y", "theta"}));
  EXPECT_FALSE(planar.getVariableBounds()[2].position_bounded_);

  PrismaticJointModel prismatic("slide", 0, 0);
  EXPECT_EQ(prismatic.getVariableNames(), std::vector<std::string>{"slide"});
  EXPECT_TRUE(prismatic.getLocalVariableNames().empty());
  double value = 5.0;
  prismatic.getVariableDefaultPositions(&value, prismatic.getVariableBounds());
  EXPECT_EQ(value, 0.0);

  FixedJointModel fixed("f", 0, 0);
  EXPECT_EQ(fixed.getVariableCount(), 0u);
  EXPECT_EQ(fixed.distance(nullptr, nullptr), 0.0);
  EXPECT_EQ(fixed.getMaximumExtent({}), 0.0);
  EXPECT_TRUE(fixed.satisfiesPositionBounds(nullptr, {}, 0.0));

  RevoluteJointModel revolute("r", 0, 0);
  EXPECT_EQ(revolute.getVariableBounds()[0].min_position_, -M_PI);
  revolute.setContinuous(true);
  EXPECT_FALSE(revolute.getVariableBounds()[0].position_bounded_);
  revolute.setContinuous(false);
  EXPECT_TRUE(revolute.getVariableBounds()[0].position_bounded_);
}

// Variables without limits still hold finite numbers only.
TEST(JointKinds, UnlimitedTranslationsRefuseValuesThatAreNotFinite) {
  const double inf = std::numeric_limits<double>::infinity();
  const double nan = std::numeric_limits<double>::quiet_NaN();
  FloatingJointModel floating("base", 0, 0);
  PlanarJointModel planar("p", 0, 0);
  for (double bad : {inf, -inf, nan}) {
    double pose[7] = {bad, 0.0, 0.0, 0.0, 0.0, 0.0, 1.0};
    EXPECT_FALSE(floating.satisfiesPositionBounds(pose, floating.getVariableBounds(), 0.0)) << bad;
    double place[3] = {0.0, bad, 0.0};
    EXPECT_FALSE(planar.satisfiesPositionBounds(place, planar.getVariableBounds(), 0.0)) << bad;
  }
  double far[7] = {1e300, -1e300, 0.0, 0.0, 0.0, 0.0, 1.0};
  EXPECT_TRUE(floating.satisfiesPositionBounds(far, floating.getVariableBounds(), 0.0));
}

TEST(JointKinds, RevoluteTransformRoundTripsAndMatchesAngleAxis) {
  random_numbers::RandomNumberGenerator rng(11);
  for (int i = 0; i < kSamples; ++i) {
    const Eigen::Vector3d raw(rng.uniformReal(-3, 3), rng.uniformReal(-3, 3), rng.uniformReal(-3, 3));
    RevoluteJointModel joint("r", 0, 0);
    joint.setAxis(raw);
    double q = 0.0;
    joint.getVariableRandomPositions(rng, &q, joint.getVariableBounds());
    Eigen::Isometry3d transform;
    joint.computeTransform(&q, transform);
    const Eigen::Matrix3d expected = Eigen::AngleAxisd(q, raw.normalized()).toRotationMatrix();
    ASSERT_TRUE(transform.linear().isApprox(expected, 1e-12)) << raw.transpose() << " " << q;
    ASSERT_TRUE(transform.translation().isZero());
    double back = 0.0;
    joint.computeVariablePositions(transform, &back);
    ASSERT_LT(angleGap(back, q), 1e-9) << raw.transpose() << " " << q;
  }
}

TEST(JointKinds, PrismaticRoundTrip) {
  random_numbers::RandomNumberGenerator rng(12);
  for (int i = 0; i < kSamples; ++i) {
    PrismaticJointModel joint("s", 0, 0);
    joint.setAxis(randomUnitAxis(rng));
    const Bounds bounds = finiteBounds(joint, 2.0);
    double v = 0.0, back = 0.0;
    joint.getVariableRandomPositions(rng, &v, bounds);
    Eigen::Isometry3d transform;
    joint.computeTransform(&v, transform);
    EXPECT_TRUE(transform.translation().isApprox(joint.getAxis() * v));
    joint.computeVariablePositions(transform, &back);
    ASSERT_NEAR(back, v, 1e-12);
  }
}

TEST(JointKinds, PlanarRoundTrip) {
  random_numbers::RandomNumberGenerator rng(13);
  PlanarJointModel joint("p", 0, 0);
  const Bounds bounds = finiteBounds(joint, 5.0);
  for (int i = 0; i < kSamples; ++i) {
    double v[3], back[3];
    joint.getVariableRandomPositions(rng, v, bounds);
    Eigen::Isometry3d transform;
    joint.computeTransform(v, transform);
    joint.computeVariablePositions(transform, back);
    ASSERT_NEAR(back[0], v[0], 1e-12);
    ASSERT_NEAR(back[1], v[1], 1e-12);
    ASSERT_LT(angleGap(back[2], v[2]), 1e-7) << v[2];
  }
}

TEST(JointKinds, FloatingRoundTrip) {
  random_numbers::RandomNumberGenerator rng(14);
  FloatingJointModel joint("f", 0, 0);
  const Bounds bounds = finiteBounds(joint, 5.0);
  for (int i = 0; i < kSamples; ++i) {
    double v[7], back[7];
    joint.getVariableRandomPositions(rng, v, bounds);
    Eigen::Isometry3d transform;
    joint.computeTransform(v, transform);
    joint.computeVariablePositions(transform, back);
    const Eigen::Map<Eigen::Vector4d> q(v + 3), q_back(back + 3);
    for (int k = 0; k < 3; ++k) ASSERT_NEAR(back[k], v[k], 1e-12);
    ASSERT_TRUE(q_back.isApprox(q, 1e-9) || q_back.isApprox(-q, 1e-9)) << q.transpose() << " / " << q_back.transpose();
  }
}

TEST(JointKinds, ZeroRevoluteAxisFallsBackToX) {
  RevoluteJointModel joint("bad", 0, 0);
  bramlock_test::OutputCapture capture;
  joint.setAxis(Eigen::Vector3d::Zero());
  EXPECT_EQ(capture.out(), "Revolute joint 'bad' has a zero axis; using (1 0 0)\n");
  EXPECT_EQ(joint.getAxis(), Eigen::Vector3d::UnitX());
  const double q = 0.4;
  Eigen::Isometry3d transform;
  joint.computeTransform(&q, transform);
  EXPECT_TRUE(transform.linear().isApprox(Eigen::AngleAxisd(q, Eigen::Vector3d::UnitX()).toRotationMatrix()));
}

TEST(JointKinds, ContinuousRevoluteWrapsDistanceInterpolationAndBounds) {
  RevoluteJointModel joint("c", 0, 0);
  joint.setAxis(Eigen::Vector3d::UnitZ());
  joint.setContinuous(true);
  const Bounds& bounds = joint.getVariableBounds();
  const double a = 3.0, b = -3.0;
  EXPECT_NEAR(joint.distance(&a, &b), 2 * M_PI - 6, 1e-12);
  double mid = 0.0;
  joint.interpolate(&a, &b, 0.25, &mid);
  EXPECT_NEAR(mid, 3.0 + 0.25 * (2 * M_PI - 6), 1e-12);
  joint.interpolate(&a, &b, 1.0, &mid);
  EXPECT_LT(angleGap(mid, b), 1e-12);

  double v = 4.0;
  EXPECT_TRUE(joint.enforcePositionBounds(&v, bounds));
  EXPECT_NEAR(v, 4.0 - 2 * M_PI, 1e-12);
  v = -M_PI;
  EXPECT_TRUE(joint.enforcePositionBounds(&v, bounds));
  EXPECT_EQ(v, M_PI);
  EXPECT_FALSE(joint.enforcePositionBounds(&v, bounds));
  v = 100.0;
  EXPECT_TRUE(joint.satisfiesPositionBounds(&v, bounds, 0.0));

  random_numbers::RandomNumberGenerator rng(15);
  const double near = 3.1;
  for (int i = 0; i < kSamples; ++i) {
    joint.getVariableRandomPositionsNearBy(rng, &v, bounds, &near, 0.5);
    ASSERT_GT(v, -M_PI);
    ASSERT_LE(v, M_PI);
    ASSERT_LE(joint.distance(&v, &near), 0.5 + 1e-12);
  }
}

TEST(JointKinds, RevoluteHarmonizeShiftsByWholeTurns) {
  RevoluteJointModel joint("r", 0, 0);
  Bounds bounds = joint.getVariableBounds();
  bounds[0].min_position_ = -1.0;
  bounds[0].max_position_ = 1.0;
  double v = 5.5;
  EXPECT_TRUE(joint.harmonizePosition(&v, bounds));
  EXPECT_NEAR(v, 5.5 - 2 * M_PI, 1e-12);
  v = 7.0;
  EXPECT_TRUE(joint.harmonizePosition(&v, bounds));
  EXPECT_NEAR(v, 7.0 - 2 * M_PI, 1e-12);
  v = 3.0;
  EXPECT_FALSE(joint.harmonizePosition(&v, bounds));
  EXPECT_EQ(v, 3.0);
  bounds[0].min_position_ = -20.0;
  bounds[0].max_position_ = 20.0;
  v = -30.0;
  EXPECT_TRUE(joint.harmonizePosition(&v, bounds));
  EXPECT_NEAR(v, -30.0 + 7 * 2 * M_PI, 1e-12);  // the largest value still within the maximum
}

TEST(JointKinds, BoundedJointsClampAndSampleInside) {
  random_numbers::RandomNumberGenerator rng(16);
  RevoluteJointModel joint("r", 0, 0);
  Bounds bounds = joint.getVariableBounds();
  bounds[0].min_position_ = -0.5;
  bounds[0].max_position_ = 1.0;
  for (int i = 0; i < kSamples; ++i) {
    const double near = rng.uniformReal(-0.5, 1.0);
    double v = 0.0;
    joint.getVariableRandomPositionsNearBy(rng, &v, bounds, &near, 0.2);
    ASSERT_TRUE(joint.satisfiesPositionBounds(&v, bounds, 0.0));
    ASSERT_LE(std::fabs(v - near), 0.2 + 1e-12);
  }
  double v = 2.0;
  EXPECT_FALSE(joint.satisfiesPositionBounds(&v, bounds, 0.5));
  EXPECT_TRUE(joint.satisfiesPositionBounds(&v, bounds, 1.0));
  EXPECT_TRUE(joint.enforcePositionBounds(&v, bounds));
  EXPECT_EQ(v, 1.0);
  joint.getVariableDefaultPositions(&v, bounds);
  EXPECT_EQ(v, 0.0);
  bounds[0].min_position_ = 0.5;
  joint.getVariableDefaultPositions(&v, bounds);
  EXPECT_EQ(v, 0.75);
  EXPECT_EQ(joint.getMaximumExtent(bounds), 0.5);
}

TEST(JointKinds, FloatingNormalisesRotationAndMeasuresAngles) {
  FloatingJointModel joint("f", 0, 0);
  double v[7] = {0, 0, 0, 0, 0, 0, 2};
  EXPECT_TRUE(joint.enforcePositionBounds(v, joint.getVariableBounds()));
  EXPECT_EQ(v[6], 1.0);
  EXPECT_FALSE(joint.enforcePositionBounds(v, joint.getVariableBounds()));
  double zero[7] = {0, 0, 0, 0, 0, 0, 0};
  EXPECT_FALSE(joint.satisfiesPositionBounds(zero, joint.getVariableBounds(), 0.0));
  EXPECT_TRUE(joint.enforcePositionBounds(zero, joint.getVariableBounds()));
  EXPECT_EQ(zero[6], 1.0);

  // Rotation distance is acos of |q_a . q_b|, half the turn angle.
  const double turn = 0.8;
  double a[7] = {1, 2, 3, 0, 0, 0, 1};
  double b[7] = {1, 2, 5, 0, 0, std::sin(turn / 2), std::cos(turn / 2)};
  joint.setAngularDistanceWeight(2.0);
  EXPECT_NEAR(joint.distanceTranslation(a, b), 2.0, 1e-12);
  EXPECT_NEAR(joint.distanceRotation(a, b), turn / 2, 1e-12);
  EXPECT_NEAR(joint.distance(a, b), 2.0 + 2.0 * turn / 2, 1e-12);
  EXPECT_NEAR(joint.getMaximumExtent(finiteBounds(joint, 1.0)), std::sqrt(12.0) + 2.0 * M_PI / 2, 1e-12);

  double mid[7];
  joint.interpolate(a, b, 0.5, mid);
  EXPECT_NEAR(mid[2], 4.0, 1e-12);
  EXPECT_NEAR(mid[5], std::sin(turn / 4), 1e-12);
  EXPECT_NEAR(mid[6], std::cos(turn / 4), 1e-12);
}

TEST(JointKinds, FloatingNearSamplingStaysNearOrIgnoresTheSeed) {
  FloatingJointModel joint("f", 0, 0);
  const Bounds bounds = finiteBounds(joint, 10.0);
  const double seed[7] = {1, 1, 1, 0, 0, std::sin(0.5), std::cos(0.5)};
  random_numbers::RandomNumberGenerator rng(17);
  for (int i = 0; i < kSamples; ++i) {
    double v[7];
    joint.getVariableRandomPositionsNearBy(rng, v, bounds, seed, 0.1);
    ASSERT_LE(joint.distanceRotation(v, seed), 0.1 + 1e-9);
    ASSERT_LE(std::fabs(v[0] - 1.0), 0.1);
  }
  // From pi/4 on the seed's rotation plays no part.
  const double other_seed[7] = {1, 1, 1, 1, 0, 0, 0};
  double first[7], second[7];
  random_numbers::RandomNumberGenerator rng_a(18), rng_b(18);
  joint.getVariableRandomPositionsNearBy(rng_a, first, bounds, seed, M_PI / 4);
  joint.getVariableRandomPositionsNearBy(rng_b, second, bounds, other_seed, M_PI / 4);
  for (int k = 3; k < 7; ++k) EXPECT_EQ(first[k], second[k]);
}

TEST(JointKinds, PlanarHolonomicDistanceAndSampling) {
  PlanarJointModel joint("p", 0, 0);
  const double a[3] = {0, 0, 3.0}, b[3] = {0, 0, -3.0};
  joint.setAngularDistanceWeight(0.5);
  EXPECT_NEAR(joint.distance(a, b), 0.5 * (2 * M_PI - 6), 1e-12);
  double v[3];
  random_numbers::RandomNumberGenerator rng(19);
  joint.getVariableRandomPositions(rng, v, joint.getVariableBounds());
  EXPECT_EQ(v[0], 0.0);
  EXPECT_EQ(v[1], 0.0);
  double theta[3] = {0, 0, 7.0};
  EXPECT_TRUE(joint.normalizeRotation(theta));
  EXPECT_NEAR(theta[2], 7.0 - 2 * M_PI, 1e-12);
  EXPECT_TRUE(std::isinf(joint.getMaximumExtent(joint.getVariableBounds())));
}

TEST(JointKinds, DiffDriveGeometry) {
  double dx, dy, initial, drive, final_turn;
  const double origin[3] = {0, 0, 0}, behind[3] = {-1, 0, 0}, turned[3] = {0, 0, 1};
  computeTurnDriveTurnGeometry(origin, behind, 1e-5, dx, dy, initial, drive, final_turn);
  EXPECT_EQ(initial, 0.0);
  EXPECT_EQ(drive, 0.0);
  EXPECT_EQ(final_turn, 0.0);
  computeTurnDriveTurnGeometry(origin, turned, 1e-5, dx, dy, initial, drive, final_turn);
  EXPECT_EQ(initial, 0.0);
  EXPECT_NEAR(final_turn, 1.0, 1e-12);

  PlanarJointModel joint("p", 0, 0);
  joint.setMotionModel(PlanarJointModel::DIFF_DRIVE);
  joint.setAngularDistanceWeight(2.0);
  EXPECT_NEAR(joint.distance(origin, turned), 2.0, 1e-12);
  EXPECT_NEAR(joint.distance(origin, behind), 1.0, 1e-12);
}

TEST(JointKinds, DiffDriveInterpolationHasNoNaNForZeroSharePhases) {
  PlanarJointModel joint("p", 0, 0);
  joint.setMotionModel(PlanarJointModel::DIFF_DRIVE);
  const double from[3] = {0, 0, 0};
  const double cases[][3] = {{1, 0, 0}, {1, 1, 0.3}, {0, 0, 0}, {0, 0, 1}, {-2, 0, 0.5}};
  for (double weight : {1.0, 0.0}) {
    joint.setAngularDistanceWeight(weight);
    for (const auto& to : cases) {
      for (double t : {0.0, 0.25, 0.5, 1.0}) {
        double state[3] = {NAN, NAN, NAN};
        joint.interpolate(from, to, t, state);
        for (double value : state) ASSERT_TRUE(std::isfinite(value)) << weight << " " << to[0] << " t=" << t;
      }
      double end[3];
      joint.interpolate(from, to, 1.0, end);
      EXPECT_NEAR(end[0], to[0], 1e-12);
      EXPECT_NEAR(end[1], to[1], 1e-12);
      if (weight > 0.0) {
        EXPECT_LT(angleGap(end[2], to[2]), 1e-12);
      }
    }
  }
  // Coincident poses copy the goal.
  joint.setAngularDistanceWeight(1.0);
  double same[3];
  joint.interpolate(from, from, 0.5, same);
  EXPECT_EQ(same[2], 0.0);
  // Straight drive: the middle of the move is half way along.
  const double ahead[3] = {2, 0, 0};
  joint.interpolate(from, ahead, 0.5, same);
  EXPECT_NEAR(same[0], 1.0, 1e-12);
}

}  // namespace

namespace {

TEST(JointKindsDeathTest, NonRigidTransformIsRefused) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  Eigen::Isometry3d scaled = Eigen::Isometry3d::Identity();
  scaled.linear() *= 2.0;
  double values[7];
  moveit::core::RevoluteJointModel revolute("r", 0, 0);
  revolute.setAxis(Eigen::Vector3d::UnitZ());
  EXPECT_DEATH(revolute.computeVariablePositions(scaled, values), "Invalid isometry transform");
  EXPECT_DEATH(moveit::core::PlanarJointModel("p", 0, 0).computeVariablePositions(scaled, values),
               "Invalid isometry transform");
  EXPECT_DEATH(moveit::core::FloatingJointModel("f", 0, 0).computeVariablePositions(scaled, values),
               "Invalid isometry transform");
}

}  // namespace
