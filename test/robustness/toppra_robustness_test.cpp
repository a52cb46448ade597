// Bad numbers at TOPP-RA: limits, paths, grids and speeds that are not
// numbers are refused with the documented exception or failure code, and no
// run reports success with a squared speed that is not finite. Input of the
// wrong shape gets its exception or failure code too, never an assertion, and
// limits that leave the path at rest fail the run.

#include <gtest/gtest.h>

#include <cmath>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/toppra/constraint/cartesian_velocity_norm.h"
#include "bramlock_arm_planning_core/toppra/constraint/joint_torque.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/const_accel.h"
#include "bramlock_arm_planning_core/toppra/parametrizer/spline.h"
#include "bramlock_arm_planning_core/toppra/solver/seidel.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"
#include "expect_throw_message.h"
#include "toppra_test_helpers.h"

namespace {

using robustness::kInf;
using robustness::kNaN;
using toppra::GeometricPathPtr;
using toppra::Vector;
using toppra::algorithm::TOPPRA;
using toppra_test::vec;

GeometricPathPtr curvedPath() {
  return std::make_shared<toppra::PiecewisePolyPath>(toppra_test::randomSpline(2, 4, 3));
}

toppra::LinearConstraintPtrs limits(const Vector& vmax, const Vector& amax) {
  return {std::make_shared<toppra::constraint::LinearJointVelocity>(-vmax, vmax),
          std::make_shared<toppra::constraint::LinearJointAcceleration>(-amax, amax)};
}

TEST(ToppraRobustness, LimitsThatAreNotNumbersAreRefused) {
  using toppra::constraint::LinearJointAcceleration;
  using toppra::constraint::LinearJointVelocity;
  for (double bad : {kNaN}) {
    EXPECT_THROW_MESSAGE(LinearJointVelocity(vec({-1, bad}), vec({1, 1})), std::invalid_argument,
                         "^Bad velocity limits\\.$");
    EXPECT_THROW_MESSAGE(LinearJointVelocity(vec({-1, -1}), vec({bad, 1})), std::invalid_argument,
                         "^Bad velocity limits\\.$");
    EXPECT_THROW_MESSAGE(LinearJointAcceleration(vec({-1, -1}), vec({1, bad})), std::invalid_argument,
                         "^Bad acceleration limits\\.$");
    EXPECT_THROW_MESSAGE(LinearJointVelocity(vec({-1, -1}), vec({1, 1}), bad), std::invalid_argument,
                         "^Bad maximum path speed\\.$");
  }
  EXPECT_THROW_MESSAGE(LinearJointVelocity(vec({-1, -1}), vec({1, 1}), -1.0), std::invalid_argument,
                       "^Bad maximum path speed\\.$");
  EXPECT_THROW_MESSAGE(LinearJointVelocity(vec({kInf, -1}), vec({-kInf, 1})), std::invalid_argument,
                       "^Bad velocity limits\\.$");
  // Unset (infinite) limits are no limits.
  EXPECT_NO_THROW(LinearJointVelocity(vec({-kInf, -1}), vec({kInf, 1})));
}

// A Cartesian speed constraint with the joint velocity itself as the speed.
class JointSpeedNorm : public toppra::constraint::CartesianVelocityNorm {
 public:
  explicit JointSpeedNorm(double limit) : CartesianVelocityNorm(toppra::Matrix::Identity(6, 6), limit) {}
  void computeCartesianVelocity(const Vector&, const Vector& qs, Vector& v) override {
    v.setZero();
    v.head(qs.size()) = qs;
  }
};

TEST(ToppraRobustness, CartesianLimitThatIsNotANumberIsRefused) {
  EXPECT_THROW_MESSAGE(JointSpeedNorm{kNaN}, std::invalid_argument, "^Velocity limit should be positive\\.$");
  EXPECT_THROW_MESSAGE(JointSpeedNorm{-1.0}, std::invalid_argument, "^Velocity limit should be positive\\.$");
  EXPECT_NO_THROW(JointSpeedNorm{kInf});
}

TEST(ToppraRobustness, PathsRefuseCoefficientsAndBreakpointsThatAreNotFinite) {
  toppra::Matrix coefficients(2, 2);
  coefficients << 1.0, 2.0, 0.0, 0.0;
  for (double bad : robustness::nonFiniteNumbers()) {
    toppra::Matrix broken = coefficients;
    broken(0, 1) = bad;
    EXPECT_THROW_MESSAGE(toppra::PiecewisePolyPath({broken}, {0.0, 1.0}), std::runtime_error,
                         "^Coefficients must be finite$")
        << bad;
    EXPECT_THROW_MESSAGE(toppra::PiecewisePolyPath({coefficients}, {0.0, bad}), std::runtime_error,
                         "^(Breakpoints must be finite|Require strictly increasing breakpoints)$")
        << bad;
    EXPECT_THROW_MESSAGE(toppra::PiecewisePolyPath({coefficients}, {bad, 1.0}), std::runtime_error,
                         "^(Breakpoints must be finite|Require strictly increasing breakpoints)$")
        << bad;
    const toppra::Vectors positions = {vec({0, 0}), vec({1, bad}), vec({2, 1})};
    EXPECT_THROW_MESSAGE(
        toppra::PiecewisePolyPath::CubicSpline(positions, vec({0, 1, 2}),
                                               {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("clamped")}),
        std::runtime_error, "^Coefficients must be finite$")
        << bad;
    EXPECT_THROW_MESSAGE(
        toppra::PiecewisePolyPath::CubicSpline({vec({0, 0}), vec({1, 1})}, vec({0, bad}),
                                               {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("clamped")}),
        std::runtime_error, "^('times' must be a strictly increasing sequence\\.|Breakpoints must be finite)$")
        << bad;
  }
}

TEST(ToppraRobustness, EvaluatingAPathOutsideItsIntervalThrows) {
  const GeometricPathPtr path = curvedPath();
  for (double bad : robustness::badNumbers()) {
    for (int order = 0; order <= 2; ++order) {
      EXPECT_THROW_MESSAGE(path->eval_single(bad, order), std::runtime_error,
                           "^Position .+ is outside of range \\[ 0, 1\\]$")
          << bad;
      EXPECT_THROW_MESSAGE(path->eval(vec({0.5, bad}), order), std::runtime_error,
                           "^Position .+ is outside of range \\[ 0, 1\\]$")
          << bad;
    }
  }
}

TEST(ToppraRobustness, GridProposalsNeedPositiveTolerances) {
  const GeometricPathPtr path = curvedPath();
  for (double bad : {kNaN, 0.0, -1.0}) {
    EXPECT_THROW_MESSAGE(path->proposeGridpoints(bad, 100, 0.05, 10, Vector()), std::invalid_argument,
                         "^maxError and maxSegmentLength must be positive numbers\\.$")
        << bad;
    EXPECT_THROW_MESSAGE(path->proposeGridpoints(1e-4, 100, bad, 10, Vector()), std::invalid_argument,
                         "^maxError and maxSegmentLength must be positive numbers\\.$")
        << bad;
  }
  EXPECT_THROW_MESSAGE(path->proposeGridpoints(1e-4, 100, 0.05, 10, vec({0.0, kNaN, 1.0})), std::invalid_argument,
                       "^initialGridpoints should be monotonically increasing\\.$");
  // A tolerance far below rounding ends once no interval can be split any more.
  const Vector fine = path->proposeGridpoints(1e-300, 3, 0.05, 10, Vector());
  EXPECT_TRUE(fine.allFinite());
}

TEST(ToppraRobustness, GridsThatAreNotNumbersAreRefused) {
  TOPPRA algorithm(limits(vec({1, 1}), vec({2, 2})), curvedPath());
  for (double bad : robustness::nonFiniteNumbers()) {
    EXPECT_THROW_MESSAGE(algorithm.setGridpoints(vec({0.0, bad, 1.0})), std::invalid_argument,
                         "^gridpoints should be strictly increasing\\.$")
        << bad;
    EXPECT_THROW_MESSAGE(algorithm.setGridpoints(vec({bad, 0.5, 1.0})), std::invalid_argument,
                         "^Path interval does not match first and last gridpoints\\.$")
        << bad;
    EXPECT_THROW_MESSAGE(algorithm.setGridpoints(vec({0.0, 0.5, bad})), std::invalid_argument,
                         "^Path interval does not match first and last gridpoints\\.$")
        << bad;
  }
}

TEST(ToppraRobustness, SpeedsThatAreNotNumbersFailTheRun) {
  for (double bad : robustness::nonFiniteNumbers()) {
    TOPPRA algorithm(limits(vec({1, 1}), vec({2, 2})), curvedPath());
    EXPECT_EQ(algorithm.computePathParametrization(0, bad), TOPPRA::ControllableSetsFailed) << bad;
    EXPECT_EQ(algorithm.computePathParametrization(bad, 0), TOPPRA::ForwardPassFailed) << bad;
    EXPECT_EQ(algorithm.getReturnCode(), TOPPRA::ForwardPassFailed);
    EXPECT_NE(algorithm.getMessages(), "");
  }
  TOPPRA algorithm(limits(vec({1, 1}), vec({2, 2})), curvedPath());
  ASSERT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::Success);
  EXPECT_TRUE(algorithm.getParametrization().allFinite());
}

TEST(ToppraRobustness, HugeAndUnsetLimitsNeverGiveSquaredSpeedsThatAreNotFinite) {
  for (double huge : {1e300, kInf}) {
    for (const auto& pair : {std::make_pair(huge, 2.0), std::make_pair(1.0, huge), std::make_pair(huge, huge)}) {
      TOPPRA algorithm(limits(vec({pair.first, 1}), vec({pair.second, 2})), curvedPath());
      const int code = algorithm.computePathParametrization(0, 0);
      EXPECT_TRUE(code != TOPPRA::Success || algorithm.getParametrization().allFinite())
          << pair.first << " " << pair.second;
    }
  }
}

TEST(ToppraRobustness, ParametrizersAcceptRoundingBelowZeroAndRefuseTimesThatAreNotNumbers) {
  const GeometricPathPtr path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(vec({1.0})));
  const Vector grid = vec({0.0, 0.5, 1.0});
  const Vector squared_speeds = vec({-1e-18, 1.0, -1e-13});  // a solver's zeros, rounded
  const toppra::parametrizer::ConstAccel timing(path, grid, squared_speeds);
  const toppra::parametrizer::Spline spline(path, grid, squared_speeds);
  EXPECT_TRUE(timing.getTimes().allFinite());
  for (const toppra::Parametrizer* parametrizer :
       {static_cast<const toppra::Parametrizer*>(&timing), static_cast<const toppra::Parametrizer*>(&spline)}) {
    const double end = parametrizer->pathInterval()[1];
    EXPECT_TRUE(parametrizer->eval(vec({0.0, end / 2, end}), 0)[1].allFinite());
    for (double bad : robustness::badNumbers()) {
      EXPECT_THROW_MESSAGE(parametrizer->eval(vec({0.0, bad}), 0), std::runtime_error,
                           "^(Position .+ is outside of range \\[ 0, 2\\]|"
                           "Request time instances out of numerical (lower|upper) bounds\\.)$")
          << bad;
      EXPECT_THROW_MESSAGE(parametrizer->eval_single(bad, 1), std::runtime_error,
                           "^(Position .+ is outside of range \\[ 0, 2\\]|"
                           "Request time instances out of numerical (lower|upper) bounds\\.)$")
          << bad;
    }
  }
}

TEST(ToppraRobustness, StageProgrammesNeverAnswerWithNaN) {
  using namespace toppra::solver;
  using seidel::LpSol;
  using seidel::solve_lp2d;
  const RowVector2 v(0.0, 1.0);
  MatrixX3 A(2, 3);
  A << 1.0, 1.0, -2.0, -1.0, 0.5, -1.0;
  MatrixX2 work(A.rows() + 4, 2);
  const Vector2 low(-10.0, -10.0), high(10.0, 10.0);
  ASSERT_TRUE(solve_lp2d(v, A, low, high, work).isFeasible);
  for (double bad : robustness::nonFiniteNumbers()) {
    for (Eigen::Index i = 0; i < A.size(); ++i) {
      MatrixX3 broken = A;
      broken.data()[i] = bad;
      const LpSol solution = solve_lp2d(v, broken, low, high, work);
      EXPECT_TRUE(!solution.isFeasible || !solution.point.hasNaN()) << "entry " << i << " = " << bad;
      if (std::isnan(bad)) {
        EXPECT_FALSE(solution.isFeasible) << "entry " << i;
      }
    }
  }
}

TEST(ToppraRobustness, PathsOfSegmentsOfDifferentShapesAreRefused) {
  const toppra::Matrix cubic = toppra::Matrix::Zero(4, 2);
  EXPECT_THROW_MESSAGE(toppra::PiecewisePolyPath({cubic, toppra::Matrix::Zero(2, 2)}, {0.0, 1.0, 2.0}),
                       std::invalid_argument, "^Segment 1 has 2 x 2 coefficients, segment 0 has 4 x 2: ");
  EXPECT_THROW_MESSAGE(toppra::PiecewisePolyPath({cubic, cubic, toppra::Matrix::Zero(4, 3)}, {0.0, 1.0, 2.0, 3.0}),
                       std::invalid_argument, "^Segment 2 has 4 x 3 coefficients, segment 0 has 4 x 2: ");
}

TEST(ToppraRobustness, DerivativeOrdersOutsideZeroToTwoAreRefused) {
  const GeometricPathPtr path = curvedPath();
  const toppra::parametrizer::Spline spline(path, vec({0.0, 0.5, 1.0}), vec({0.0, 1.0, 0.0}));
  for (int order : {3, 7, -1}) {
    const std::string message = "^Derivative order " + std::to_string(order) + " is not supported: 0, 1 or 2\\.$";
    EXPECT_THROW_MESSAGE(path->eval_single(0.5, order), std::invalid_argument, message);
    EXPECT_THROW_MESSAGE(path->eval(vec({0.5}), order), std::invalid_argument, message);
    EXPECT_THROW_MESSAGE(spline.eval_single(0.5, order), std::invalid_argument, message);
  }
}

TEST(ToppraRobustness, CubicSplinesThroughPositionsWithoutJointsAreRefused) {
  EXPECT_THROW_MESSAGE(
      toppra::PiecewisePolyPath::CubicSpline({Vector(), Vector(), Vector()}, vec({0.0, 0.5, 1.0}),
                                             {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("natural")}),
      std::runtime_error, "^Each position needs at least one joint\\.$");
}

// Torque is the joint acceleration: a unit inertia without load.
class UnitInertia : public toppra::constraint::JointTorque {
 public:
  using JointTorque::JointTorque;
  void computeJointTorques(const Vector&, const Vector&, const Vector& a, Vector& tau) override { tau = a; }
};

TEST(ToppraRobustness, ConstraintsForAnotherJointCountFailTheRun) {
  const Vector three = vec({1, 1, 1});
  const std::vector<std::pair<toppra::LinearConstraintPtr, std::string>> constraints = {
      {std::make_shared<toppra::constraint::LinearJointVelocity>(-three, three), "LinearJointVelocity"},
      {std::make_shared<toppra::constraint::LinearJointAcceleration>(-three, three), "LinearJointAcceleration"},
      {std::make_shared<UnitInertia>(-three, three), "JointTorque"}};
  for (const auto& constraint : constraints) {
    const std::string message = constraint.second + " has limits for 3 joints, the path has 2.\n";
    TOPPRA algorithm({constraint.first}, curvedPath());
    EXPECT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::ControllableSetsFailed) << constraint.second;
    EXPECT_EQ(algorithm.getReturnCode(), TOPPRA::ControllableSetsFailed);
    EXPECT_EQ(algorithm.getMessages(), message);
    EXPECT_EQ(algorithm.computeFeasibleSets(), TOPPRA::FeasibleSetsFailed) << constraint.second;
    EXPECT_EQ(algorithm.getMessages(), message);
    EXPECT_THROW_MESSAGE(algorithm.initialize(), std::invalid_argument, "has limits for 3 joints");
  }
}

// A user path: the curved path, with one joint's value of one order replaced by
// a bad number at one place only.
class PathWithBadValue : public toppra::GeometricPath {
 public:
  PathWithBadValue(int order, double bad, double where)
      : GeometricPath(2, 2), m_path(curvedPath()), m_order(order), m_bad(bad), m_where(where) {}
  Vector eval_single(double s, int order) const override {
    Vector value = m_path->eval_single(s, order);
    if (order == m_order && s == m_where) value[1] = m_bad;
    return value;
  }
  toppra::Bound pathInterval() const override { return m_path->pathInterval(); }

 private:
  GeometricPathPtr m_path;
  int m_order;
  double m_bad;
  double m_where;
};

// Whichever values the constraints read, even none of the bad order: a
// velocity limit reads no positions and no second derivatives, an
// acceleration limit no positions.
TEST(ToppraRobustness, PathValuesThatAreNotFiniteAtOneGridPointFailTheRunUnderEveryConstraint) {
  const std::string message = "^Path evaluation gave values that are not finite\\.$";
  const Vector two = vec({1, 1});
  const Vector grid = Vector::LinSpaced(11, 0.0, 1.0);
  const std::vector<std::pair<std::string, toppra::LinearConstraintPtrs>> constraintSets = {
      {"velocity", {std::make_shared<toppra::constraint::LinearJointVelocity>(-two, two)}},
      {"acceleration", {std::make_shared<toppra::constraint::LinearJointAcceleration>(-two, two)}},
      {"velocity and acceleration", limits(two, two)},
      {"torque", {std::make_shared<UnitInertia>(-two, two)}},
      {"Cartesian speed", {std::make_shared<JointSpeedNorm>(1.0)}}};
  for (const auto& constraints : constraintSets) {
    for (double bad : robustness::nonFiniteNumbers()) {
      for (int order : {0, 1, 2}) {
        const std::string label = constraints.first + ", order " + std::to_string(order) + ", " + std::to_string(bad);
        TOPPRA algorithm(constraints.second, std::make_shared<PathWithBadValue>(order, bad, grid[4]));
        algorithm.setGridpoints(grid);
        EXPECT_THROW_MESSAGE(algorithm.computePathParametrization(0, 0), std::runtime_error, message) << label;
        EXPECT_NE(algorithm.getReturnCode(), TOPPRA::Success) << label;
        EXPECT_THROW_MESSAGE(algorithm.computeFeasibleSets(), std::runtime_error, message) << label;
      }
    }
  }
}

TEST(ToppraRobustness, NegativeStageCountsAreRefused) {
  TOPPRA algorithm(limits(vec({1, 1}), vec({2, 2})), curvedPath());
  EXPECT_THROW_MESSAGE(algorithm.setN(-1), std::invalid_argument, "^N must not be negative, not -1\\.$");
  EXPECT_EQ(algorithm.getN(), 100);
  EXPECT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::Success);
}

TEST(ToppraRobustness, ParametrizersRefuseSquaredSpeedsBelowZeroOrNaNAndGridsOfTheWrongShape) {
  using toppra::parametrizer::ConstAccel;
  using toppra::parametrizer::Spline;
  const GeometricPathPtr path = curvedPath();
  const Vector grid = vec({0.0, 0.5, 1.0});
  for (double bad : {-0.5, -1e-11, kNaN}) {
    const Vector speeds = vec({0.0, bad, 0.0});
    EXPECT_THROW_MESSAGE(ConstAccel(path, grid, speeds), std::invalid_argument,
                         "^Squared speed .+ at grid point 1 is negative or not a number\\.$")
        << bad;
    EXPECT_THROW_MESSAGE(Spline(path, grid, speeds), std::invalid_argument, "at grid point 1 is negative") << bad;
  }
  const Vector speeds = vec({0.0, 1.0, 0.0});
  EXPECT_THROW_MESSAGE(ConstAccel(path, grid, vec({0.0, 1.0})), std::invalid_argument,
                       "^3 grid points but 2 squared speeds\\.$");
  EXPECT_THROW_MESSAGE(ConstAccel(path, vec({0.0, 0.5, 0.5, 1.0}), vec({0.0, 1.0, 1.0, 0.0})), std::invalid_argument,
                       "^Grid point 2 \\(0\\.5\\) is not above grid point 1 \\(0\\.5\\)");
  EXPECT_THROW_MESSAGE(ConstAccel(path, vec({0.0, 0.5, 0.9}), speeds), std::invalid_argument,
                       "^The grid does not span the path interval \\[0, 1\\]\\.$");
  EXPECT_THROW_MESSAGE(ConstAccel(path, Vector(), Vector()), std::invalid_argument,
                       "^The grid does not span the path interval");
}

TEST(ToppraRobustness, ZeroLimitsFailTheRunInsteadOfNeverMoving) {
  for (const auto& pair : {std::make_pair(0.0, 2.0), std::make_pair(1.0, 0.0)}) {
    TOPPRA algorithm(limits(vec({pair.first, 1}), vec({pair.second, 2})), curvedPath());
    EXPECT_EQ(algorithm.computePathParametrization(0, 0), TOPPRA::ForwardPassFailed)
        << pair.first << " " << pair.second;
    EXPECT_EQ(algorithm.getMessages(), "The path speed stays zero from grid point 0 to 1, so the motion never ends\n");
  }
}

}  // namespace
