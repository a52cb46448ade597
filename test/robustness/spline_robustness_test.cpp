// Bad numbers at the spline evaluators: a ratio that is not a number counts
// as violated, durations that are not positive finite numbers are refused,
// and splines through knots that are not finite are refused.

#include <gtest/gtest.h>

#include <cmath>
#include <stdexcept>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"
#include "expect_throw_message.h"
#include "spline_test_helpers.h"

namespace {

using robustness::kInf;
using robustness::kNaN;

// q0, q1, qd0, qd1, vmax0, vmax1, amax0, amax1 of a gentle segment.
const std::vector<double> kGentleSegment = {0.0, 0.5, 0.0, 0.0, 2.0, 2.0, 5.0, 5.0};

ConstraintEvaluation evaluate(const std::vector<double>& p, double T) {
  return evaluateSegmentConstraints(p[0], p[1], p[2], p[3], T, p[4], p[5], p[6], p[7], 21);
}

TEST(SplineRobustness, SegmentRatiosThatAreNotNumbersAreViolations) {
  ASSERT_FALSE(evaluate(kGentleSegment, 1.0).violated);
  for (size_t i = 0; i < kGentleSegment.size(); ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      const ConstraintEvaluation evaluation = evaluate(robustness::withEntry(kGentleSegment, i, bad), 1.0);
      // An infinite limit is no limit; anything else that is not a number, and
      // a limit of -inf, violates.
      const bool unlimited = i >= 4 && bad == kInf;
      EXPECT_EQ(evaluation.violated, !unlimited) << robustness::caseName("segment", i, bad);
      EXPECT_FALSE(std::isnan(evaluation.velocity_ratio) || std::isnan(evaluation.acceleration_ratio));
    }
  }
  // A limit of 0 with no motion is 0 / 0; a negative limit permits nothing.
  EXPECT_TRUE(evaluate({0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0, 0.0}, 1.0).violated);
  EXPECT_TRUE(evaluate({0.0, 0.5, 0.0, 0.0, -2.0, -2.0, 5.0, 5.0}, 1.0).violated);
}

TEST(SplineRobustness, SegmentDurationsMustBePositiveFiniteNumbers) {
  for (double T : {kNaN, kInf, -kInf, 0.0, -1.0}) {
    EXPECT_THROW_MESSAGE(evaluate(kGentleSegment, T), std::invalid_argument,
                         "^segment duration must be a positive finite number$")
        << T;
  }
  EXPECT_FALSE(evaluate(kGentleSegment, 1e300).violated);
  EXPECT_FALSE(evaluate(kGentleSegment, 1e-13).violated);  // degenerate but positive: a fresh record
}

TEST(SplineRobustness, TorqueRatiosThatAreNotNumbersAreUnbounded) {
  spline_test::LoadedModel pendulum(spline_test::dynamicsFixture("pendulum.urdf"));
  const std::vector<std::vector<double>> positions = {{0.0, 0.3}, {0.1, 0.2}};
  const std::vector<std::vector<double>> velocities = {{0.0, 0.0}, {0.0, 0.0}};
  const std::vector<double> limits = {100.0, 30.0};
  for (size_t joint = 0; joint < 2; ++joint) {
    for (double bad : robustness::nonFiniteNumbers()) {
      std::vector<std::vector<double>> bad_positions = positions;
      bad_positions[joint][1] = bad;
      EXPECT_EQ(evaluateTorqueConstraintsForSegment(0, 0.5, bad_positions, velocities, limits, *pendulum.model,
                                                    *pendulum.data, 2, 5),
                kInf)
          << joint << " " << bad;
      EXPECT_EQ(evaluateQuinticTorqueConstraintsForSegment(0, bad_positions, velocities, velocities, limits,
                                                           *pendulum.model, *pendulum.data, 2, 0.5),
                kInf)
          << joint << " " << bad;
    }
  }
  EXPECT_EQ(evaluateTorqueConstraintsForSegment(0, kNaN, positions, velocities, limits, *pendulum.model, *pendulum.data,
                                                2, 5),
            kInf);
}

TEST(SplineRobustness, CartesianSpeedsThatAreNotNumbersAreViolations) {
  spline_test::LoadedModel arm(spline_test::armUrdfPath());
  CartesianConstraints limits;
  limits.enabled = true;
  limits.frame_id = 14;
  const Eigen::VectorXd q = Eigen::VectorXd::Constant(6, 0.2);
  const Eigen::VectorXd v = Eigen::VectorXd::Constant(6, 0.1);
  ASSERT_FALSE(evaluateCartesianConstraints(q, v, limits, *arm.model, *arm.data).violated);
  for (Eigen::Index i = 0; i < 6; ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      Eigen::VectorXd bad_q = q, bad_v = v;
      bad_q[i] = bad;
      bad_v[i] = bad;
      for (auto evaluator : {evaluateCartesianConstraints, evaluateQuinticCartesianConstraints}) {
        EXPECT_TRUE(evaluator(bad_q, v, limits, *arm.model, *arm.data).violated) << "q " << i << " " << bad;
        EXPECT_TRUE(evaluator(q, bad_v, limits, *arm.model, *arm.data).violated) << "v " << i << " " << bad;
      }
    }
  }
}

TEST(SplineRobustness, SplinesThroughKnotsThatAreNotFiniteAreRefused) {
  const std::vector<double> times = {0.0, 0.5, 1.2, 2.0};
  const std::vector<double> values = {0.0, 0.4, -0.2, 0.1};
  for (size_t i = 0; i < times.size(); ++i) {
    for (double bad : robustness::nonFiniteNumbers()) {
      const std::string name = robustness::caseName("knot", i, bad);
      EXPECT_THROW_MESSAGE(CubicSplineM(robustness::withEntry(times, i, bad), values, 0.0, 0.0), std::invalid_argument,
                           "^cubic spline: every knot value and end condition must be a finite number$")
          << name;
      EXPECT_THROW_MESSAGE(CubicSplineM(times, robustness::withEntry(values, i, bad), 0.0, 0.0), std::invalid_argument,
                           "^cubic spline: every knot value and end condition must be a finite number$")
          << name;
      EXPECT_THROW_MESSAGE(QuinticSplineInterpolator(times, robustness::withEntry(values, i, bad), 0, 0, 0, 0),
                           std::invalid_argument,
                           "^quintic spline: every knot value and end condition must be a finite number$")
          << name;
      EXPECT_THROW_MESSAGE(solveJointVelocities(robustness::withEntry(values, i, bad), {0.5, 0.7, 0.8}),
                           std::invalid_argument,
                           "^solveJointVelocities: every knot value and end condition must be a finite number$")
          << name;
    }
  }
  for (double bad : robustness::nonFiniteNumbers()) {
    EXPECT_THROW_MESSAGE(CubicSplineM(times, values, bad, 0.0), std::invalid_argument,
                         "^cubic spline: every knot value and end condition must be a finite number$")
        << bad;
    EXPECT_THROW_MESSAGE(QuinticSplineInterpolator(times, values, 0.0, 0.0, bad, 0.0), std::invalid_argument,
                         "^quintic spline: every knot value and end condition must be a finite number$")
        << bad;
    EXPECT_THROW_MESSAGE(solveJointVelocities(values, {0.5, bad, 0.8}), std::invalid_argument,
                         "^solveJointVelocities: every knot value and end condition must be a finite number$")
        << bad;
  }
  EXPECT_THROW_MESSAGE(CubicSplineM({0.0, 1.0, 1.0}, {0.0, 1.0, 2.0}, 0.0, 0.0), std::invalid_argument,
                       "^cubic spline: knot times must increase strictly$");
  EXPECT_THROW_MESSAGE(QuinticSplineInterpolator({0.0, 2.0, 1.0}, {0.0, 1.0, 2.0}, 0, 0, 0, 0), std::invalid_argument,
                       "^quintic spline: knot times must increase strictly$");
  EXPECT_THROW_MESSAGE(CubicSplineM({0.0}, {0.0, 1.0}, 0.0, 0.0), std::invalid_argument,
                       "^a cubic spline needs one value per knot time$");
  const CubicSplineM single({0.0}, {1.0}, 0.0, 0.0);
  EXPECT_EQ(single.moments, std::vector<double>{0.0});
  EXPECT_EQ(solveJointVelocities({}, {}), std::vector<double>{0.0});
}

TEST(SplineRobustness, SplinesThatOverflowAreRefused) {
  EXPECT_THROW_MESSAGE(CubicSplineM({0.0, 1e-300, 2.0}, {0.0, 1e300, -1e300}, 0.0, 0.0), std::invalid_argument,
                       "^spline system overflows: knot values too large for their spacing$");
  EXPECT_THROW_MESSAGE(QuinticSplineInterpolator({0.0, 1e-300, 2.0}, {0.0, 1e300, -1e300}, 0, 0, 0, 0),
                       std::invalid_argument, "^spline system overflows: knot values too large for their spacing$");
  EXPECT_THROW_MESSAGE(solveJointVelocities({0.0, 1e300, -1e300}, {1e-10, 2.0}), std::invalid_argument,
                       "^spline system overflows: knot values too large for their spacing$");
  const CubicSplineM large({0.0, 1.0, 2.0}, {0.0, 1e200, -1e200}, 0.0, 0.0);
  EXPECT_TRUE(robustness::allFinite(large.moments));
}

}  // namespace
