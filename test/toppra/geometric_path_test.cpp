#include <gtest/gtest.h>

#include <cmath>
#include <random>
#include <stdexcept>
#include <string>

#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"
#include "expect_throw_message.h"
#include "toppra_test_helpers.h"

namespace {

using toppra::BoundaryCond;
using toppra::Matrices;
using toppra::Matrix;
using toppra::PiecewisePolyPath;
using toppra::Vector;
using toppra::Vectors;

using toppra_test::messageOf;

// A random piecewise quintic over three uneven segments.
PiecewisePolyPath randomQuinticPath(std::mt19937& engine) {
  std::uniform_real_distribution<double> coefficient(-2.0, 2.0);
  Matrices coefficients;
  for (int k = 0; k < 3; ++k) coefficients.push_back(Matrix::NullaryExpr(6, 2, [&] { return coefficient(engine); }));
  return PiecewisePolyPath(coefficients, {-0.5, 0.1, 0.4, 1.3});
}

TEST(PiecewisePolyPath, DerivativesMatchFiniteDifferences) {
  std::mt19937 engine(7);
  const PiecewisePolyPath path = randomQuinticPath(engine);
  std::uniform_real_distribution<double> position(-0.49, 1.29);
  const double h = 1e-6;
  for (int trial = 0; trial < 200; ++trial) {
    const double s = position(engine);
    // Keep the stencil inside one segment.
    if (std::abs(s - 0.1) < 2 * h || std::abs(s - 0.4) < 2 * h) continue;
    for (int order = 1; order <= 2; ++order) {
      const Vector difference = (path.eval_single(s + h, order - 1) - path.eval_single(s - h, order - 1)) / (2 * h);
      const Vector derivative = path.eval_single(s, order);
      EXPECT_LT((difference - derivative).cwiseAbs().maxCoeff(), 1e-5 * (1 + derivative.norm()))
          << "s = " << s << ", order " << order;
    }
  }
}

TEST(PiecewisePolyPath, DifferentiateCoefficientsShiftsPowersDown) {
  Matrix cubic(4, 1);
  cubic << 5, 7, 11, 13;
  Matrix expected(4, 1);
  expected << 0, 15, 14, 11;
  EXPECT_EQ(toppra::differentiateCoefficients(cubic), expected);
}

TEST(PiecewisePolyPath, EvalFollowsEvalSingleAndAcceptsNoPositions) {
  std::mt19937 engine(3);
  const PiecewisePolyPath path = randomQuinticPath(engine);
  Vector positions(3);
  positions << -0.5, 0.4, 1.3;
  const Vectors values = path.eval(positions, 1);
  ASSERT_EQ(values.size(), 3u);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(values[i], path.eval_single(positions[i], 1));
  EXPECT_TRUE(path.eval(Vector(), 0).empty());
  EXPECT_EQ(path.dof(), 2);
  EXPECT_EQ(path.configSize(), 2);
}

TEST(PiecewisePolyPath, InnerBreakpointBelongsToTheSegmentStartingThere) {
  // Segment k is the constant k + 1, so the value names the segment.
  Matrices coefficients;
  for (int k = 0; k < 3; ++k) coefficients.push_back(Matrix::Constant(1, 1, k + 1.0));
  const PiecewisePolyPath path(coefficients, {0.0, 1.0, 2.0, 3.0});
  EXPECT_EQ(path.findSegmentIndex(0.0), 0u);
  EXPECT_EQ(path.findSegmentIndex(1.0), 1u);
  EXPECT_EQ(path.eval_single(2.0, 0)[0], 3.0);
  EXPECT_EQ(path.findSegmentIndex(3.0), 2u);
  EXPECT_EQ(path.pathInterval(), toppra::Bound(0.0, 3.0));
  EXPECT_THROW(path.getCoefficient(3, 0), std::out_of_range);
}

TEST(PiecewisePolyPath, OutOfRangeTextsAndBadBreakpoints) {
  const PiecewisePolyPath path = toppra_test::straightLine(Vector::Ones(1));
  EXPECT_EQ(path.eval_single(1.0, 0)[0], 1.0);
  EXPECT_EQ(messageOf([&] { path.eval_single(1.0 + 1e-12, 0); }),
            "Position 1.000000000001 is outside of range [ 0, 1]");
  EXPECT_EQ(messageOf([&] { path.eval_single(-0.25, 2); }), "Position -0.25 is outside of range [ 0, 1]");

  const Matrices two(2, Matrix::Ones(2, 1));
  EXPECT_EQ(messageOf([&] {
              PiecewisePolyPath(two, {0.0, 1.0});
            }),
            "Number of breakpoints must equals number of segments plus 1.");
  EXPECT_EQ(messageOf([&] { PiecewisePolyPath(two, {0.0, 1.0, 1.0}); }), "Require strictly increasing breakpoints");
  EXPECT_THROW_MESSAGE(PiecewisePolyPath(Matrices(), {0.0, 1.0}), std::invalid_argument,
                       "^A piecewise polynomial path needs at least one segment\\.$");
}

TEST(PiecewisePolyPath, HermiteSplineHitsEndValuesAndRejectsBadInput) {
  const Vector pa = Vector::LinSpaced(3, 0.1, 0.3), pb = Vector::LinSpaced(3, -1.0, 2.0);
  const Vector va = Vector::LinSpaced(3, 1.0, -1.0), vb = Vector::LinSpaced(3, 0.5, 0.7);
  const PiecewisePolyPath path = PiecewisePolyPath::CubicHermiteSpline({pa, pb}, {va, vb}, {0.0, 1.0});
  EXPECT_LT((path.eval_single(0.0, 0) - pa).norm(), 1e-14);
  EXPECT_LT((path.eval_single(0.0, 1) - va).norm(), 1e-14);
  EXPECT_LT((path.eval_single(1.0, 0) - pb).norm(), 1e-14);
  EXPECT_LT((path.eval_single(1.0, 1) - vb).norm(), 1e-14);

  const PiecewisePolyPath twin = PiecewisePolyPath::constructHermite({pa, pb}, {va, vb}, {0.0, 1.0});
  EXPECT_EQ(twin.eval_single(0.3, 2), path.eval_single(0.3, 2));

  EXPECT_THROW_MESSAGE(PiecewisePolyPath::CubicHermiteSpline({pa}, {va}, {0.0}), std::invalid_argument,
                       "^A Hermite spline needs at least 2 times and one position and one velocity per time\\.$");
  EXPECT_THROW_MESSAGE(PiecewisePolyPath::CubicHermiteSpline({pa, pb}, {va}, {0.0, 1.0}), std::invalid_argument,
                       "^A Hermite spline needs at least 2 times and one position and one velocity per time\\.$");
  EXPECT_THROW_MESSAGE(PiecewisePolyPath::CubicHermiteSpline({pa, pb}, {va, vb}, {1.0, 1.0}), std::invalid_argument,
                       "^Hermite times must be strictly increasing\\.$");
  EXPECT_THROW_MESSAGE(PiecewisePolyPath::CubicHermiteSpline({pa, Vector::Ones(2)}, {va, vb}, {0.0, 1.0}),
                       std::invalid_argument, "^Hermite positions and velocities must all have the same size\\.$");
}

// p(t) = 0.5 t^3 - t^2 + 2 t - 1 for joint 0 and its mirror for joint 1.
Vector cubicAt(double t, int order) {
  const double value[3] = {0.5 * t * t * t - t * t + 2 * t - 1, 1.5 * t * t - 2 * t + 2, 3 * t - 2};
  Vector q(2);
  q << value[order], -value[order];
  return q;
}

TEST(CubicSpline, ReproducesACubicWithExactEndDerivatives) {
  Vector times(6);
  times << -1.0, -0.2, 0.1, 0.9, 1.7, 3.0;
  Vectors positions;
  for (int k = 0; k < times.size(); ++k) positions.push_back(cubicAt(times[k], 0));
  const PiecewisePolyPath spline = PiecewisePolyPath::CubicSpline(
      positions, times, {BoundaryCond(1, cubicAt(times[0], 1)), BoundaryCond(1, cubicAt(times[5], 1))});
  for (double t = -1.0; t <= 3.0; t += 0.01)
    for (int order = 0; order <= 2; ++order)
      EXPECT_LT((spline.eval_single(t, order) - cubicAt(t, order)).cwiseAbs().maxCoeff(), 1e-12)
          << "t = " << t << ", order " << order;

  // The same with the second derivative given at both ends (p''(-1) = -5).
  const PiecewisePolyPath bySecond = PiecewisePolyPath::CubicSpline(
      positions, times, {BoundaryCond(2, std::vector<double>{-5.0, 5.0}), BoundaryCond(2, cubicAt(times[5], 2))});
  EXPECT_LT((bySecond.eval_single(0.5, 0) - cubicAt(0.5, 0)).norm(), 1e-12);
}

TEST(CubicSpline, NaturalAndClampedEnds) {
  Vector times(4);
  times << 0.0, 0.5, 1.5, 2.0;
  const Vectors positions = {Vector::Constant(2, 1.0), Vector::Constant(2, -1.0), Vector::Constant(2, 0.5),
                             Vector::Constant(2, 2.0)};
  const PiecewisePolyPath natural =
      PiecewisePolyPath::CubicSpline(positions, times, {BoundaryCond("natural"), BoundaryCond("natural")});
  const PiecewisePolyPath clamped =
      PiecewisePolyPath::CubicSpline(positions, times, {BoundaryCond("clamped"), BoundaryCond("clamped")});
  for (int k = 0; k < 4; ++k) {
    EXPECT_LT((natural.eval_single(times[k], 0) - positions[k]).norm(), 1e-12);
    EXPECT_LT((clamped.eval_single(times[k], 0) - positions[k]).norm(), 1e-12);
  }
  for (double end : {0.0, 2.0}) {
    EXPECT_LT(natural.eval_single(end, 2).norm(), 1e-12);
    EXPECT_LT(clamped.eval_single(end, 1).norm(), 1e-12);
  }
  // Continuity of the second derivative at the inner knots.
  for (double knot : {0.5, 1.5})
    EXPECT_LT((natural.eval_single(knot - 1e-9, 2) - natural.eval_single(knot, 2)).norm(), 1e-6);
}

TEST(CubicSpline, InputTexts) {
  Vector times(2);
  times << 0.0, 1.0;
  const Vectors positions = {Vector::Zero(2), Vector::Ones(2)};
  const BoundaryCond clamped("clamped");
  auto spline = [&](const Vectors& p, const Vector& t, const BoundaryCond& first) {
    return [=] { PiecewisePolyPath::CubicSpline(p, t, {first, clamped}); };
  };
  EXPECT_EQ(messageOf([] { BoundaryCond("periodic"); }), "Unknown bc typeperiodic");
  EXPECT_EQ(messageOf(spline(positions, Vector::Zero(3), clamped)),
            "The length of 'positions' doesn't match the length of 'times'.");
  EXPECT_EQ(messageOf(spline({positions[0]}, Vector::Zero(1), clamped)), "'times' must contain at least 2 elements.");
  EXPECT_EQ(messageOf(spline({positions[0], Vector::Zero(3)}, times, clamped)),
            "The number of elements in each position has to be equal.");
  EXPECT_EQ(messageOf(spline(positions, Vector::Ones(2), clamped)), "'times' must be a strictly increasing sequence.");
  EXPECT_EQ(messageOf(spline(positions, times, BoundaryCond("not-a-knot"))),
            "Boundary condition NotAKnot is not implemented");
  EXPECT_EQ(messageOf(spline(positions, times, BoundaryCond("notaknot"))),
            "Boundary condition NotAKnot is not implemented");
  EXPECT_EQ(messageOf(spline(positions, times, BoundaryCond(3, Vector::Zero(2)))),
            "The specified derivative order must be 1 or 2.");
  EXPECT_EQ(messageOf(spline(positions, times, BoundaryCond(1, Vector::Zero(3)))),
            "`deriv_value` size 3 is not the expected one 2.");
}

TEST(ProposeGridpoints, StraightLineGivesTheUniform129PointGrid) {
  const PiecewisePolyPath line = toppra_test::straightLine(Vector::Constant(2, 0.7));
  const Vector grid = line.proposeGridpoints(1e-4, 100, 0.05, 100, Vector());
  ASSERT_EQ(grid.size(), 129);
  EXPECT_LT((grid - Vector::LinSpaced(129, 0.0, 1.0)).cwiseAbs().maxCoeff(), 1e-15);
  // Without the minimum count the length test alone leaves 33 points.
  EXPECT_EQ(line.proposeGridpoints(1e-4, 100, 0.05, 0, Vector()).size(), 33);
  EXPECT_EQ(line.proposeGridpoints(1e-4, 0, 0.05, 0, Vector()).size(), 2);
}

TEST(ProposeGridpoints, CurvedPathMeetsTheErrorBoundOnEveryInterval) {
  const PiecewisePolyPath path = toppra_test::randomSpline(3, 5, 11);
  const double maxError = 1e-4;
  const Vector grid = path.proposeGridpoints(maxError, 100, 0.05, 0, Vector());
  for (Eigen::Index i = 0; i + 1 < grid.size(); ++i) {
    const double ds = grid[i + 1] - grid[i];
    ASSERT_GT(ds, 0);
    EXPECT_LE(ds, 0.05);
    const double deviation = (path.eval_single((grid[i] + grid[i + 1]) / 2, 2) * 0.5 * ds * ds).cwiseAbs().maxCoeff();
    EXPECT_LE(deviation, maxError);
  }
}

TEST(ProposeGridpoints, InitialGridTexts) {
  const PiecewisePolyPath line = toppra_test::straightLine(Vector::Ones(1));
  auto propose = [&](std::initializer_list<double> values) {
    Vector initial(values.size());
    std::copy(values.begin(), values.end(), initial.data());
    return [&line, initial] { line.proposeGridpoints(1e-4, 100, 0.05, 0, initial); };
  };
  EXPECT_EQ(messageOf(propose({0.0})), "initialGridpoints should be empty or have at least 2 elements");
  EXPECT_EQ(messageOf(propose({0.5, 1.0})), "initialGridpoints[0] must be 0 and not 0.5");
  EXPECT_EQ(messageOf(propose({0.0, 0.5, 0.75})), "initialGridpoints[2] must be 1 and not 0.75");
  EXPECT_EQ(messageOf(propose({0.0, 0.5, 0.5, 1.0})), "initialGridpoints should be monotonically increasing.");
  EXPECT_EQ(messageOf(propose({1e-8, 1.0})), "<no exception>");
  const Vector kept = line.proposeGridpoints(1e-4, 100, 1.0, 0, (Vector(3) << 0.0, 0.3, 1.0).finished());
  EXPECT_EQ(kept, (Vector(3) << 0.0, 0.3, 1.0).finished());
}

}  // namespace
