#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include <gtest/gtest.h>
#include <Eigen/Core>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "spline_test_helpers.h"

using spline_test::LoadedModel;

TEST(EvaluateSegmentConstraints, RestToRestSegmentFindsTheSampledPeakAndEndAccelerations) {
  const ConstraintEvaluation evaluation = evaluateSegmentConstraints(0.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0, 1.0, 1.0, 21);
  // Velocity 6t - 6t^2 peaks on the grid at t = 10/21 and 11/21.
  EXPECT_DOUBLE_EQ(evaluation.velocity_ratio, 660.0 / 441.0);
  EXPECT_DOUBLE_EQ(evaluation.acceleration_ratio, 6.0);
  EXPECT_TRUE(evaluation.violated);
  EXPECT_EQ(evaluation.linear_velocity_ratio, 0.0);
  EXPECT_EQ(evaluation.extra_ratio, 0.0);
  // Without interior samples only the ends count: velocities 0, accelerations +-6.
  const ConstraintEvaluation ends = evaluateSegmentConstraints(0.0, 1.0, 0.0, 0.0, 1.0, 1.0, 1.0, 1.0, 1.0, 1);
  EXPECT_EQ(ends.velocity_ratio, 0.0);
  EXPECT_DOUBLE_EQ(ends.acceleration_ratio, 6.0);
}

TEST(EvaluateSegmentConstraints, LimitsAreInterpolatedAlongTheSegment) {
  // Constant velocity 1 from a limit of 2 down to 1: the end is exactly at its limit, the
  // interior below its interpolated limit.
  const ConstraintEvaluation ramp = evaluateSegmentConstraints(0.0, 1.0, 1.0, 1.0, 1.0, 2.0, 1.0, 1.0, 1.0, 21);
  EXPECT_DOUBLE_EQ(ramp.velocity_ratio, 1.0);
  EXPECT_NEAR(ramp.acceleration_ratio, 0.0, 1e-12);
  EXPECT_FALSE(ramp.violated);
  // Velocity 2t on [0, 1] with limits 1 -> 4: the interior sample at t = 0.5 sees 1 / 2.5.
  const ConstraintEvaluation rising = evaluateSegmentConstraints(0.0, 1.0, 0.0, 2.0, 1.0, 1.0, 4.0, 10.0, 10.0, 2);
  EXPECT_DOUBLE_EQ(rising.velocity_ratio, 0.5);
  EXPECT_DOUBLE_EQ(rising.acceleration_ratio, 0.2);
  EXPECT_FALSE(rising.violated);
  const ConstraintEvaluation degenerate = evaluateSegmentConstraints(0.0, 5.0, 9.0, 9.0, 1e-13, 1, 1, 1, 1, 21);
  EXPECT_EQ(degenerate.velocity_ratio, 0.0);
  EXPECT_FALSE(degenerate.violated);
}

TEST(EvaluateSegmentConstraints, OneInstantMeetsTheLimitInterpolatedThereAndEndsKeepTheirOwn) {
  // Velocity 2t, acceleration 2 on [0, 1].
  const auto segment = CubicSplineCoefficients::fromHermite(0.0, 1.0, 0.0, 2.0, 1.0);
  ConstraintEvaluation at;
  takeJointLimitRatiosAt(segment, 0.25, 1.0, 1.0, 3.0, 4.0, 8.0, at);
  EXPECT_DOUBLE_EQ(at.velocity_ratio, 0.5 / 1.5);
  EXPECT_DOUBLE_EQ(at.acceleration_ratio, 2.0 / 5.0);
  // Ratios only rise; an infinite limit at the other end leaves an end's own limit in force.
  const double inf = std::numeric_limits<double>::infinity();
  takeJointLimitRatiosAt(segment, 1.0, 1.0, inf, 1.0, inf, 1.0, at);
  EXPECT_DOUBLE_EQ(at.velocity_ratio, 2.0);
  EXPECT_DOUBLE_EQ(at.acceleration_ratio, 2.0);
  ConstraintEvaluation start;
  takeJointLimitRatiosAt(segment, 0.0, 1.0, 1.0, inf, 1.0, inf, start);
  EXPECT_EQ(start.velocity_ratio, 0.0);
  EXPECT_DOUBLE_EQ(start.acceleration_ratio, 2.0);
}

TEST(EvaluateTorqueConstraints, LargestTorqueRatioSkipsUnlimitedJointsAndCountsNaNAsUnbounded) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  Eigen::VectorXd tau(3);
  tau << 3.0, -8.0, 50.0;
  EXPECT_DOUBLE_EQ(largestTorqueRatio(tau, {6.0, 4.0, 0.0}), 2.0);
  EXPECT_DOUBLE_EQ(largestTorqueRatio(tau, {6.0}), 0.5);
  EXPECT_EQ(largestTorqueRatio(tau, {}), 0.0);
  EXPECT_EQ(largestTorqueRatio(tau, {nan, -1.0, 1e-13}), 0.0);
  tau[0] = nan;
  EXPECT_EQ(largestTorqueRatio(tau, {6.0, 4.0, 0.0}), std::numeric_limits<double>::infinity());
  EXPECT_EQ(largestTorqueRatio(Eigen::VectorXd(), {1.0}), 0.0);
}

TEST(EvaluateTorqueConstraints, HoldingStillIsTheGravityRatioAndDegenerateInputGivesZero) {
  LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  // Both links horizontal, gravity torques by hand: joint2 carries link2 (1.5 kg, 0.25 m out)
  // and the flange (3 kg, its COM offset turned by 0.3 rad about y); joint1 also link1 (2 kg, 0.3 m).
  const double flange_x = 0.5 + 0.02 * std::cos(0.3) - 0.03 * std::sin(0.3);
  const double tau2 = -9.81 * (1.5 * 0.25 + 3.0 * flange_x);
  const double tau1 = -9.81 * (2.0 * 0.3 + 1.5 * (0.6 + 0.25) + 3.0 * (0.6 + flange_x));
  const Eigen::VectorXd zero = Eigen::VectorXd::Zero(2);
  const Eigen::VectorXd rest = bramlock::dynamics::rnea(*pendulum.model, *pendulum.data, zero, zero, zero);
  ASSERT_NEAR(rest[0], tau1, 1e-9);
  ASSERT_NEAR(rest[1], tau2, 1e-9);

  const std::vector<std::vector<double>> positions = {{0.0, 0.0}, {0.0, 0.0}};
  const std::vector<std::vector<double>> zeros = {{0.0, 0.0}, {0.0, 0.0}};
  const std::vector<double> limits = {100.0, 30.0};
  const double expected = std::max(std::fabs(tau1) / 100.0, std::fabs(tau2) / 30.0);
  EXPECT_NEAR(
      evaluateTorqueConstraintsForSegment(0, 0.5, positions, zeros, limits, *pendulum.model, *pendulum.data, 2, 5),
      expected, 1e-12);
  EXPECT_NEAR(evaluateQuinticTorqueConstraintsForSegment(0, positions, zeros, zeros, limits, *pendulum.model,
                                                         *pendulum.data, 2, 0.5),
              expected, 1e-12);
  // A limit of 0 leaves its joint out.
  EXPECT_NEAR(
      evaluateTorqueConstraintsForSegment(0, 0.5, positions, zeros, {0.0, 30.0}, *pendulum.model, *pendulum.data, 2, 5),
      std::fabs(tau2) / 30.0, 1e-12);
  EXPECT_EQ(evaluateTorqueConstraintsForSegment(0, 0.5, positions, zeros, {}, *pendulum.model, *pendulum.data, 2, 5),
            0.0);
  EXPECT_EQ(
      evaluateTorqueConstraintsForSegment(0, 1e-13, positions, zeros, limits, *pendulum.model, *pendulum.data, 2, 5),
      0.0);
  EXPECT_EQ(
      evaluateTorqueConstraintsForSegment(0, 0.5, positions, zeros, limits, *pendulum.model, *pendulum.data, 2, 0),
      0.0);
  EXPECT_EQ(evaluateQuinticTorqueConstraintsForSegment(0, positions, zeros, zeros, {}, *pendulum.model, *pendulum.data,
                                                       2, 0.5),
            0.0);
}

TEST(EvaluateTorqueConstraints, MovingSegmentTakesTheLargestRatioOverItsSamplePoints) {
  LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  // Joint 1 swings rest to rest from 0 to 1 rad in 0.8 s, joint 2 holds 0.4 rad.
  const std::vector<std::vector<double>> positions = {{0.0, 1.0}, {0.4, 0.4}};
  const std::vector<std::vector<double>> velocities = {{0.0, 0.0}, {0.0, 0.0}};
  const std::vector<double> limits = {50.0, 20.0};
  const double T = 0.8;
  double expected = 0.0;
  for (int k = 0; k <= 5; ++k) {
    const double s = k / 5.0;
    Eigen::VectorXd q(2), v(2), a(2);
    q << 3 * s * s - 2 * s * s * s, 0.4;
    v << (6 * s - 6 * s * s) / T, 0.0;
    a << (6 - 12 * s) / (T * T), 0.0;
    const Eigen::VectorXd tau = bramlock::dynamics::rnea(*pendulum.model, *pendulum.data, q, v, a);
    expected = std::max({expected, std::fabs(tau[0]) / 50.0, std::fabs(tau[1]) / 20.0});
  }
  EXPECT_NEAR(
      evaluateTorqueConstraintsForSegment(0, T, positions, velocities, limits, *pendulum.model, *pendulum.data, 2, 5),
      expected, 1e-9);
}

TEST(EvaluateCartesianConstraints, ToolSpeedOfTheArmTurningAboutItsBase) {
  LoadedModel arm(spline_test::armUrdfPath());
  bramlock::dynamics::Frame tool;
  tool.name = "end_effector";
  tool.parent_joint = 6;
  tool.previous_frame = 14;
  tool.placement = KDL::Frame(KDL::Vector(0.0, 0.0, 0.45));
  const int tool_id = static_cast<int>(arm.model->addFrame(tool));
  // At q = 0 the tool point sits 0.136 m off the base axis (y of joint 6's origin, x nearly 0).
  const Eigen::VectorXd q = Eigen::VectorXd::Zero(6);
  Eigen::VectorXd v = Eigen::VectorXd::Zero(6);
  v[0] = 2.0;
  CartesianConstraints limits;
  limits.enabled = true;
  limits.frame_id = tool_id;
  limits.max_linear_velocity = 0.2;
  limits.max_angular_velocity = 4.0;
  const double radius = std::hypot(0.136, 0.04999839 - 0.05);
  for (auto evaluate : {evaluateCartesianConstraints, evaluateQuinticCartesianConstraints}) {
    const ConstraintEvaluation evaluation = evaluate(q, v, limits, *arm.model, *arm.data);
    EXPECT_NEAR(evaluation.linear_velocity_ratio, 2.0 * radius / 0.2, 1e-12);
    EXPECT_NEAR(evaluation.angular_velocity_ratio, 0.5, 1e-12);
    EXPECT_TRUE(evaluation.violated);
    EXPECT_EQ(evaluation.velocity_ratio, 0.0);
  }
  CartesianConstraints off = limits;
  off.enabled = false;
  CartesianConstraints no_frame = limits;
  no_frame.frame_id = -1;
  CartesianConstraints beyond = limits;
  beyond.frame_id = tool_id + 1;
  for (const CartesianConstraints& record : {off, no_frame, beyond}) {
    const ConstraintEvaluation evaluation = evaluateCartesianConstraints(q, v, record, *arm.model, *arm.data);
    EXPECT_EQ(evaluation.linear_velocity_ratio, 0.0);
    EXPECT_FALSE(evaluation.violated);
  }
}

TEST(EvaluateCartesianConstraints, DynamicsErrorsAreLoggedAndCountAsNoViolation) {
  LoadedModel arm(spline_test::armUrdfPath());
  CartesianConstraints limits;
  limits.enabled = true;
  limits.frame_id = 14;
  limits.max_linear_velocity = 1e-9;
  const Eigen::VectorXd five = Eigen::VectorXd::Ones(5);
  bramlock_test::OutputCapture capture;
  const ConstraintEvaluation evaluation =
      evaluateQuinticCartesianConstraints(five, five, limits, *arm.model, *arm.data);
  const std::string out = capture.out();
  EXPECT_FALSE(evaluation.violated);
  EXPECT_EQ(evaluation.linear_velocity_ratio, 0.0);
  EXPECT_NE(out.find("[INFO] 计算笛卡尔速度时出错: the joint position vector has 5 entries, the model has 6 joints"),
            std::string::npos)
      << out;
}
