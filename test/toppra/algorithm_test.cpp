#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <memory>
#include <stdexcept>

#include "bramlock_arm_planning_core/toppra/constraint/joint_torque.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"
#include "bramlock_arm_planning_core/toppra/solver/seidel.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"
#include "expect_throw_message.h"
#include "toppra_test_helpers.h"

namespace {

using toppra::GeometricPathPtr;
using toppra::LinearConstraintPtrs;
using toppra::Matrix;
using toppra::Vector;
using toppra::algorithm::TOPPRA;
using toppra_test::messageOf;

GeometricPathPtr shared(toppra::PiecewisePolyPath path) {
  return std::make_shared<toppra::PiecewisePolyPath>(std::move(path));
}

GeometricPathPtr line(const Vector& direction, double length = 1.0) {
  return shared(toppra_test::straightLine(direction, length));
}

LinearConstraintPtrs jointLimits(const Vector& vmax, const Vector& amax,
                                 toppra::DiscretizationType scheme = toppra::Collocation) {
  auto acceleration = std::make_shared<toppra::constraint::LinearJointAcceleration>(-amax, amax);
  acceleration->discretizationType(scheme);
  return {std::make_shared<toppra::constraint::LinearJointVelocity>(-vmax, vmax), acceleration};
}

Vector constant(double value) { return Vector::Constant(1, value); }

double totalTime(const GeometricPathPtr& path, const TOPPRA& algorithm) {
  const toppra::parametrizer::ConstAccel timing(path, algorithm.getGridpoints(), algorithm.getParametrization());
  return timing.getTimes()[timing.getTimes().size() - 1];
}

TEST(Toppra, BangBangOnAStraightLine) {
  for (const double vmax : {2.0, 0.5}) {
    const double amax = 1.0;
    const GeometricPathPtr path = line(constant(1));
    TOPPRA algorithm(jointLimits(constant(vmax), constant(amax)), path);
    ASSERT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::Success);
    EXPECT_EQ(algorithm.getReturnCode(), 0);
    EXPECT_EQ(algorithm.getMessages(), "");
    const Vector& s = algorithm.getGridpoints();
    const Vector& x = algorithm.getParametrization();
    ASSERT_EQ(x.size(), 101);
    for (Eigen::Index i = 0; i < x.size(); ++i) {
      const double expected = std::min({2 * amax * s[i], vmax * vmax, 2 * amax * (1 - s[i])});
      EXPECT_NEAR(x[i], expected, 1e-12) << "s = " << s[i];
    }
    // Triangle (peak speed 1 below vmax 2) or trapezoid (cruise at 0.5).
    if (vmax == 2.0)
      EXPECT_NEAR(totalTime(path, algorithm), 2.0, 1e-12);
    else
      EXPECT_NEAR(totalTime(path, algorithm), 2.5, 1e-3);
  }
}

TEST(Toppra, TwoJointLineReducesToTheTighterJoint) {
  // Joint 1 moves twice as fast as s: |s'| <= 0.75 and |s''| <= 0.6 along the path.
  Vector direction(2), vmax(2), amax(2);
  direction << 1, 2;
  vmax << 1, 1.5;
  amax << 1, 1.2;
  TOPPRA twoJoints(jointLimits(vmax, amax), line(direction));
  TOPPRA tighter(jointLimits(constant(0.75), constant(0.6)), line(constant(1)));
  ASSERT_EQ(twoJoints.computePathParametrization(0, 0), 0);
  ASSERT_EQ(tighter.computePathParametrization(0, 0), 0);
  EXPECT_LT((twoJoints.getParametrization() - tighter.getParametrization()).cwiseAbs().maxCoeff(), 1e-12);
}

TEST(Toppra, CurvedSplineStaysWithinTheLimitsUnderInterpolation) {
  Vector vmax(2), amax(2);
  vmax << 1.0, 1.3;
  amax << 2.0, 1.5;
  for (unsigned seed : {1u, 2u, 3u}) {
    const auto spline = toppra_test::randomSpline(2, 5, seed);
    const GeometricPathPtr path = shared(spline);
    TOPPRA algorithm(jointLimits(vmax, amax, toppra::Interpolation), path);
    ASSERT_EQ(algorithm.computePathParametrization(0, 0), 0) << algorithm.getMessages();
    const Vector& s = algorithm.getGridpoints();
    const Vector& x = algorithm.getParametrization();
    const Eigen::Index N = s.size() - 1;
    EXPECT_GT(x.maxCoeff(), 0);
    for (Eigen::Index i = 0; i <= N; ++i) {
      const Vector velocity = spline.eval_single(s[i], 1) * std::sqrt(x[i]);
      EXPECT_TRUE((velocity.cwiseAbs().array() <= vmax.array() * (1 + 1e-6)).all())
          << "seed " << seed << ", point " << i;
    }
    for (Eigen::Index i = 0; i < N; ++i) {
      const double u = (x[i + 1] - x[i]) / (2 * (s[i + 1] - s[i]));
      for (Eigen::Index end : {i, i + 1}) {
        const Vector acceleration = spline.eval_single(s[end], 1) * u + spline.eval_single(s[end], 2) * x[end];
        EXPECT_TRUE((acceleration.cwiseAbs().array() <= amax.array() * (1 + 1e-6)).all())
            << "seed " << seed << ", stage " << i << ", point " << end;
      }
    }
  }
}

TEST(Toppra, InfeasibleBackwardPass) {
  // The joint must accelerate everywhere, yet end at rest.
  TOPPRA algorithm({std::make_shared<toppra::constraint::LinearJointAcceleration>(constant(1), constant(2))},
                   line(constant(1)));
  EXPECT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::ControllableSetsFailed);
  EXPECT_EQ(algorithm.getReturnCode(), 2);
  EXPECT_EQ(algorithm.getMessages(),
            "Failed to compute controllable set, upper problem, at idx 99\n"
            "g_upper = 1e-09    -1\nx =   0 100\nx_next = 0 0\n");
  EXPECT_EQ(algorithm.getParametrization(), Vector::Zero(101));
}

TEST(Toppra, InfeasibleForwardPassThenARunThatSucceeds) {
  TOPPRA algorithm(jointLimits(constant(1), constant(1)), line(constant(1)));
  // The start speed is squared already: 4 is beyond the velocity limit.
  EXPECT_EQ(algorithm.computePathParametrization(4, 0), TOPPRA::ForwardPassFailed);
  EXPECT_EQ(algorithm.getMessages(), "Forward pass failed at idx 0\ng_upper = -0.02    -1\nx = 4 4\nx_next = 0 1\n");
  EXPECT_EQ(algorithm.computePathParametrization(1, 0), 0);
  EXPECT_EQ(algorithm.getMessages(), "");
  EXPECT_EQ(algorithm.getParametrization()[0], 1);
  EXPECT_EQ(algorithm.getControllableSets().row(100), toppra::Bound(0, 0));
  EXPECT_TRUE((algorithm.getControllableSets().col(0).array() >= 0).all());
}

// Unit masses under a load of 10 that the motors (limit 5) cannot hold.
class TooHeavy : public toppra::constraint::JointTorque {
 public:
  TooHeavy() : JointTorque(constant(-5), constant(5)) {}
  void computeJointTorques(const Vector&, const Vector&, const Vector& a, Vector& tau) override {
    tau = a + constant(10);
  }
};

TEST(Toppra, TorqueBelowTheLoadOfAPathAtRest) {
  // q(s) = 0.3 everywhere: every constraint row has zero coefficients.
  Matrix still = Matrix::Zero(4, 1);
  still(3, 0) = 0.3;
  const GeometricPathPtr path = shared(toppra::PiecewisePolyPath({still}, {0.0, 1.0}));
  TOPPRA algorithm({std::make_shared<TooHeavy>()}, path);
  algorithm.setN(10);
  EXPECT_EQ(algorithm.computeFeasibleSets(), TOPPRA::FeasibleSetsFailed);
  EXPECT_EQ(algorithm.getReturnCode(), TOPPRA::NotComputed);
  EXPECT_EQ(algorithm.getMessages(),
            "Failed to compute feasible set, upper problem, at idx 0\n"
            "g_upper = 1e-09    -1\nx =   0 100\nx_next =   0 100\n");
  EXPECT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::ControllableSetsFailed);
  EXPECT_EQ(algorithm.getMessages().rfind("Failed to compute controllable set, upper problem, at idx 9\n", 0), 0u);
}

TEST(Toppra, FeasibleSetsOnAFreshObject) {
  TOPPRA algorithm(jointLimits(constant(1), constant(1)), line(constant(2)));
  algorithm.setN(4);
  EXPECT_EQ(algorithm.computeFeasibleSets(), 0);
  EXPECT_EQ(algorithm.getReturnCode(), TOPPRA::NotComputed);
  for (Eigen::Index i = 0; i <= 4; ++i) {
    EXPECT_NEAR(algorithm.getFeasibleSets()(i, 0), 0, 1e-12);
    EXPECT_NEAR(algorithm.getFeasibleSets()(i, 1), 0.25, 1e-12);
  }
}

TEST(Toppra, GridSetupAndItsFailures) {
  TOPPRA algorithm(jointLimits(constant(1), constant(1)), line(constant(1)));
  const Vector grid = Vector::LinSpaced(11, 0.0, 1.0);
  algorithm.setGridpoints(grid);
  EXPECT_EQ(algorithm.getN(), 10);

  Vector offStart = grid, offEnd = grid, repeated = grid;
  offStart[0] = 2e-8;
  offEnd[10] = 1 - 2e-8;
  repeated[4] = repeated[3];
  EXPECT_EQ(messageOf([&] { algorithm.setGridpoints(offStart); }),
            "Path interval does not match first and last gridpoints.");
  EXPECT_EQ(messageOf([&] { algorithm.setGridpoints(offEnd); }),
            "Path interval does not match first and last gridpoints.");
  EXPECT_EQ(messageOf([&] { algorithm.setGridpoints(repeated.head(8)); }),
            "Path interval does not match first and last gridpoints.");
  EXPECT_EQ(messageOf([&] { algorithm.setGridpoints(repeated); }), "gridpoints should be strictly increasing.");
  EXPECT_EQ(messageOf([&] { algorithm.setGridpoints(Vector()); }), "gridpoints should not be empty.");
  EXPECT_EQ(algorithm.getN(), 10);
  EXPECT_EQ(algorithm.getGridpoints(), grid);

  Vector withinTolerance = grid;
  withinTolerance[0] = 1e-8;
  EXPECT_NO_THROW(algorithm.setGridpoints(withinTolerance));
  EXPECT_EQ(algorithm.computePathParametrization(0, 0), 0);

  // A new N after initialising no longer matches the grid.
  algorithm.setN(20);
  EXPECT_EQ(messageOf([&] { algorithm.computePathParametrization(0, 0); }),
            "number of gridpoints does not match attribute N.");
}

TEST(Toppra, SolverChangesNeedANewInitialisation) {
  TOPPRA algorithm(jointLimits(constant(1), constant(1)), line(constant(1)));
  ASSERT_EQ(algorithm.computePathParametrization(0, 0), 0);
  const Vector first = algorithm.getParametrization();
  algorithm.setSolver(std::make_shared<toppra::solver::Seidel>());
  ASSERT_EQ(algorithm.computePathParametrization(0, 0), 0);
  EXPECT_EQ(algorithm.getParametrization(), first);
  algorithm.setSolver(nullptr);
  EXPECT_EQ(messageOf([&] { algorithm.computePathParametrization(0, 0); }), "You must set a solver first.");
  EXPECT_THROW_MESSAGE(algorithm.computePathParametrization(0, 0), std::logic_error,
                       "^You must set a solver first\\.$");
}

TEST(Toppra, ProposedAndOnePointGrids) {
  TOPPRA proposed(jointLimits(constant(1), constant(1)), line(constant(1)));
  proposed.setN(0);
  ASSERT_EQ(proposed.computePathParametrization(0, 0), 0);
  EXPECT_EQ(proposed.getN(), 128);
  EXPECT_EQ(proposed.getGridpoints().size(), 129);

  TOPPRA single(jointLimits(constant(1), constant(1)), line(constant(1), 1e-9));
  single.setGridpoints(Vector::Zero(1));
  EXPECT_EQ(single.getN(), 0);
  ASSERT_EQ(single.computePathParametrization(0.25, 0.5), 0);
  EXPECT_EQ(single.getParametrization(), constant(0.25));
  EXPECT_EQ(single.getControllableSets().row(0), toppra::Bound(0.25, 0.25));
}

}  // namespace
