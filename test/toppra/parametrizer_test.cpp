#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>

#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/spline.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"
#include "expect_throw_message.h"
#include "toppra_test_helpers.h"

namespace {

using toppra::Bound;
using toppra::GeometricPathPtr;
using toppra::Vector;
using toppra::Vectors;
using toppra::parametrizer::ConstAccel;
using toppra::parametrizer::Spline;
using toppra_test::messageOf;

using toppra_test::vec;

GeometricPathPtr unitLine(int dof = 1) {
  return std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(dof)));
}

TEST(ConstAccel, UniformAccelerationFromRest) {
  const ConstAccel timing(unitLine(3), vec({0, 1}), vec({0, 1}));
  EXPECT_EQ(timing.getTimes(), vec({0, 2}));
  EXPECT_EQ(timing.pathInterval(), toppra::Bound(0, 2));
  EXPECT_EQ(timing.dof(), 3);
  EXPECT_EQ(timing.configSize(), 3);
  Vector positions, speeds, accelerations;
  EXPECT_TRUE(timing.evalParams(vec({1}), positions, speeds, accelerations));
  EXPECT_EQ(positions[0], 0.25);
  EXPECT_EQ(speeds[0], 0.5);
  EXPECT_EQ(accelerations[0], 0.5);
  EXPECT_EQ(timing.eval_single(1, 0), Vector::Constant(3, 0.25));
  EXPECT_EQ(timing.eval_single(1, 1), Vector::Constant(3, 0.5));
  EXPECT_EQ(timing.eval_single(1, 2), Vector::Constant(3, 0.5));
}

TEST(ConstAccel, TimeBoundsAndStageChoice) {
  // Speeds 1, 1, 2 over [0, 0.5, 1]: stage 0 cruises, stage 1 accelerates.
  const ConstAccel timing(unitLine(), vec({0, 0.5, 1}), vec({1, 1, 4}));
  const Vector& ts = timing.getTimes();
  const double tN = ts[2];
  // A time equal to the inner grid time belongs to stage 0 (acceleration 0).
  Vector positions, speeds, accelerations;
  timing.evalParams(vec({ts[1]}), positions, speeds, accelerations);
  EXPECT_EQ(accelerations[0], 0);
  EXPECT_NO_THROW(timing.eval(vec({-1e-8, 1.000001 * tN + 1e-8}), 0));
  EXPECT_EQ(timing.eval_single(1.000001 * tN, 0), Vector::Ones(1));  // clamped to the path end
  EXPECT_EQ(messageOf([&] { timing.eval_single(-2e-8, 0); }), "Request time instances out of numerical lower bounds.");
  EXPECT_EQ(messageOf([&] {
              timing.eval(vec({-2e-8, 2 * tN}), 0);
            }),
            "Request time instances out of numerical lower bounds.");
  EXPECT_EQ(messageOf([&] { timing.eval_single(1.00001 * tN, 1); }),
            "Request time instances out of numerical upper bounds.");
  EXPECT_EQ(messageOf([&] { timing.eval_single(0.1, 3); }), "Order >= 3 is not supported.");
}

TEST(ConstAccel, Validation) {
  const Vector grid = vec({0, 0.25, 0.5, 1});
  EXPECT_TRUE(ConstAccel(unitLine(), grid, vec({0, 1, 2, 0})).validate());
  EXPECT_FALSE(ConstAccel(unitLine(), grid, vec({1, 1e-11, 2, 1})).validate());
  EXPECT_TRUE(ConstAccel(unitLine(), grid, vec({1, 1e-9, 2, 1})).validate());
  EXPECT_FALSE(ConstAccel(unitLine(), grid, vec({0, 0, 0, 0})).validate());
  // Two neighbouring zero speeds: the first stage never ends.
  EXPECT_FALSE(ConstAccel(unitLine(), grid, vec({0, 0, 1, 1})).validate());
}

TEST(Spline, TimesDropsAndEndVelocities) {
  const Vector direction = vec({1, -2});
  const GeometricPathPtr path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(direction));
  // Stage 1 is at rest: 5 time units.
  const Spline resting(path, vec({0, 0.5, 0.6, 1}), vec({1, 0, 0, 4}));
  EXPECT_NEAR(resting.getTimes()[2] - resting.getTimes()[1], 5.0, 1e-15);
  EXPECT_EQ(resting.validate(), true);
  EXPECT_EQ(resting.dof(), 2);
  // The end velocities are the path tangent times the end speeds.
  const Bound interval = resting.pathInterval();
  EXPECT_LT((resting.eval_single(interval[0], 1) - direction).norm(), 1e-12);
  EXPECT_LT((resting.eval_single(interval[1], 1) - 2 * direction).norm(), 1e-12);
  EXPECT_THROW_MESSAGE(resting.eval_single(interval[1] + 1e-6, 0), std::runtime_error,
                       "^Position 6\\.4[0-9]* is outside of range \\[ 0, 6\\.4\\]$");

  // A stage of 1e-10 at speed 1 lasts less than 1e-8: its end point is dropped.
  const Spline dropping(path, vec({0, 0.5, 0.5 + 1e-10, 1}), vec({1, 1, 1, 1}));
  EXPECT_EQ(dropping.getTimes().size(), 3);
  EXPECT_NEAR(dropping.getTimes()[2], 1.0, 1e-12);

  // At rest at both ends.
  const Spline still(path, vec({0, 0.5, 1}), vec({0, 1, 0}));
  EXPECT_LT(still.eval_single(0, 1).norm(), 1e-15);
  EXPECT_LT(still.eval_single(still.getTimes()[2], 1).norm(), 1e-12);
}

TEST(Parametrizers, AgreeOnAToppraResult) {
  // Natural ends: the path moves at both ends, so the motion never stops inside.
  const auto spline = toppra_test::randomSpline(2, 4, 21, "natural");
  const GeometricPathPtr path = std::make_shared<toppra::PiecewisePolyPath>(spline);
  toppra::algorithm::TOPPRA algorithm(
      {std::make_shared<toppra::constraint::LinearJointVelocity>(-vec({1, 1}), vec({1, 1})),
       std::make_shared<toppra::constraint::LinearJointAcceleration>(-vec({2, 2}), vec({2, 2}))},
      path);
  ASSERT_EQ(algorithm.computePathParametrization(0, 0), 0);
  const Vector& s = algorithm.getGridpoints();
  const ConstAccel constAccel(path, s, algorithm.getParametrization());
  const Spline splineInTime(path, s, algorithm.getParametrization());
  ASSERT_EQ(constAccel.getTimes().size(), splineInTime.getTimes().size());
  EXPECT_LT((constAccel.getTimes() - splineInTime.getTimes()).cwiseAbs().maxCoeff(), 1e-12);
  EXPECT_TRUE(constAccel.validate());

  const Vectors byConstAccel = constAccel.eval(constAccel.getTimes(), 0);
  const Vectors bySpline = splineInTime.eval(splineInTime.getTimes(), 0);
  for (Eigen::Index i = 0; i < s.size(); ++i) {
    const Vector q = spline.eval_single(s[i], 0);
    EXPECT_LT((byConstAccel[i] - q).norm(), 1e-12) << "point " << i;
    EXPECT_LT((bySpline[i] - q).norm(), 1e-12) << "point " << i;
  }

  // Velocity and acceleration of ConstAccel against differences of its position.
  const double h = 1e-6;
  const double tN = constAccel.getTimes()[s.size() - 1];
  for (double t = 0.05 * tN; t < 0.95 * tN; t += 0.0731 * tN) {
    const Vector before = constAccel.eval_single(t - h, 0), after = constAccel.eval_single(t + h, 0);
    EXPECT_LT(((after - before) / (2 * h) - constAccel.eval_single(t, 1)).norm(), 1e-6) << "t = " << t;
    // Stage ends are kinks of the acceleration; a stage lasts far longer than h.
    const Vector velocityBefore = constAccel.eval_single(t - h, 1), velocityAfter = constAccel.eval_single(t + h, 1);
    EXPECT_LT(((velocityAfter - velocityBefore) / (2 * h) - constAccel.eval_single(t, 2)).norm(), 1e-3) << "t = " << t;
  }
}

}  // namespace
