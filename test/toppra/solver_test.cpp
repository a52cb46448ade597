#include <gtest/gtest.h>

#include <Eigen/LU>

#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <stdexcept>

#include "allocation_counter.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/solver/glpk_wrapper.h"
#include "bramlock_arm_planning_core/toppra/solver/qpoases_wrapper.h"
#include "bramlock_arm_planning_core/toppra/solver/seidel.h"
#include "toppra_test_helpers.h"

namespace {

using toppra::Bound;
using toppra::Matrix;
using toppra::Vector;
using toppra::solver::MatrixX2;
using toppra::solver::MatrixX3;
using toppra::solver::RowVector2;
using toppra::solver::Vector2;
using toppra::solver::seidel::LpSol;
using toppra::solver::seidel::LpSol1d;
using toppra::solver::seidel::solve_lp1d;
using toppra::solver::seidel::solve_lp2d;
using toppra_test::messageOf;

constexpr double kInf = std::numeric_limits<double>::infinity();

LpSol1d lp1d(double v, std::initializer_list<std::array<double, 2>> rows) {
  MatrixX2 A(rows.size(), 2);
  int j = 0;
  for (const auto& row : rows) A.row(j++) << row[0], row[1];
  return solve_lp1d(RowVector2(v, 0), A);
}

void expect1d(const LpSol1d& solution, double point, int active) {
  EXPECT_TRUE(solution.isFeasible);
  EXPECT_EQ(solution.point, point);
  EXPECT_EQ(solution.active_c, active);
}

void expectInfeasible(const LpSol1d& solution) {
  EXPECT_FALSE(solution.isFeasible);
  EXPECT_EQ(solution.point, 0);
  EXPECT_EQ(solution.active_c, 0);
}

TEST(SolveLp1d, EdgeCases) {
  // No rows: unbounded on both sides.
  expect1d(lp1d(0, {}), kInf, -2);
  expect1d(lp1d(1, {}), kInf, -2);
  expect1d(lp1d(-1, {}), -kInf, -1);
  // Negligible coefficients against a constant.
  expect1d(lp1d(1, {{0, 5e-14}}), kInf, -2);
  expectInfeasible(lp1d(1, {{0, 1e-12}}));
  expectInfeasible(lp1d(1, {{1e-12, 1}}));
  expect1d(lp1d(1, {{0, -3}}), kInf, -2);
  // t <= 2 (row 0) and t >= -1 (row 1).
  expect1d(lp1d(1, {{1, -2}, {-1, -1}}), 2, 0);
  expect1d(lp1d(-1, {{1, -2}, {-1, -1}}), -1, 1);
  expect1d(lp1d(0, {{1, -2}, {-1, -1}}), 0.5, 1);
  expect1d(lp1d(0, {{-1, -1}}), -1, 0);
  expect1d(lp1d(0, {{1, -2}}), 2, 0);
  // Bounds crossed by less than 2e-13 are widened; by 1e-9, infeasible.
  EXPECT_TRUE(lp1d(1, {{1, -1}, {-1, 1 + 1e-13}}).isFeasible);
  expectInfeasible(lp1d(1, {{1, -1}, {-1, 1 + 1e-9}}));
  // A crossing within 1e-10 relative stays feasible.
  EXPECT_TRUE(lp1d(1, {{1, -1e6}, {-1, 1e6 + 1e-5}}).isFeasible);
}

LpSol lp2d(const RowVector2& v, const MatrixX3& A, const Vector2& low, const Vector2& high) {
  MatrixX2 work(A.rows() + 4, 2);
  return solve_lp2d(v, A, low, high, work);
}

TEST(SolveLp2d, EmptyMatrixGivesTheBoxCorner) {
  const Vector2 low(-1, 2), high(3, 5);
  const LpSol upper = lp2d(RowVector2(1, 1), MatrixX3(0, 3), low, high);
  EXPECT_TRUE(upper.isFeasible);
  EXPECT_EQ(upper.point, Vector2(3, 5));
  EXPECT_EQ(upper.active_c, (std::array<int, 2>{-2, -4}));
  EXPECT_EQ(upper.objective, 8);
  const LpSol lower = lp2d(RowVector2(-1, 0), MatrixX3(0, 3), low, high);
  EXPECT_EQ(lower.point, Vector2(-1, 2));
  EXPECT_EQ(lower.active_c, (std::array<int, 2>{-1, -3}));
}

TEST(SolveLp2d, NearlyCrossedBoxFixesThatCoordinate) {
  MatrixX3 A(1, 3);
  A << 1, 1, -4;  // u + x <= 4
  const LpSol fixed = lp2d(RowVector2(0, 1), A, Vector2(1 + 1e-12, 0), Vector2(1, 10));
  ASSERT_TRUE(fixed.isFeasible);
  EXPECT_NEAR(fixed.point[0], 1, 1e-12);
  EXPECT_NEAR(fixed.point[1], 3, 1e-12);
  EXPECT_EQ(fixed.active_c, (std::array<int, 2>{-1, 0}));
  EXPECT_FALSE(lp2d(RowVector2(0, 1), A, Vector2(1 + 1e-6, 0), Vector2(1, 10)).isFeasible);
  const LpSol fixedX = lp2d(RowVector2(1, 1), A, Vector2(0, 2 + 1e-12), Vector2(10, 2));
  ASSERT_TRUE(fixedX.isFeasible);
  EXPECT_NEAR(fixedX.point[0], 2, 1e-11);
  EXPECT_EQ(fixedX.active_c, (std::array<int, 2>{-4, 0}));
}

TEST(SolveLp2d, ViolatedRowWithoutCoefficientsIsInfeasible) {
  MatrixX3 A(2, 3);
  A << 1, 0, -1,  //
      0, 0, 0.5;  // 0.5 <= 0 never holds
  const LpSol solution = lp2d(RowVector2(1, 1), A, Vector2(-1, 0), Vector2(1, 1));
  EXPECT_FALSE(solution.isFeasible);
  EXPECT_FALSE(std::isnan(solution.point[0]));
}

// Maximum of v . y over the vertices of the polygon, found by intersecting
// every pair of lines; NaN when no vertex is feasible.
double bruteForceOptimum(const RowVector2& v, const MatrixX3& A, const Vector2& low, const Vector2& high) {
  MatrixX3 lines(A.rows() + 4, 3);
  lines << A, -1, 0, low[0], 1, 0, -high[0], 0, -1, low[1], 0, 1, -high[1];
  double best = std::nan("");
  for (Eigen::Index p = 0; p < lines.rows(); ++p) {
    for (Eigen::Index q = p + 1; q < lines.rows(); ++q) {
      Eigen::Matrix2d M;
      M << lines(p, 0), lines(p, 1), lines(q, 0), lines(q, 1);
      if (std::abs(M.determinant()) < 1e-12) continue;
      const Vector2 y = M.inverse() * Vector2(-lines(p, 2), -lines(q, 2));
      const Eigen::VectorXd residual = lines.leftCols<2>() * y + lines.col(2);
      if (residual.maxCoeff() > 1e-9) continue;
      const double value = v.dot(y);
      if (std::isnan(best) || value > best) best = value;
    }
  }
  return best;
}

TEST(SolveLp2d, MatchesVertexEnumerationOnRandomProgrammes) {
  std::mt19937 engine(2024);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::uniform_int_distribution<int> rowCount(0, 8);
  int feasible = 0;
  for (int trial = 0; trial < 500; ++trial) {
    MatrixX3 A(rowCount(engine), 3);
    for (Eigen::Index j = 0; j < A.rows(); ++j) A.row(j) << unit(engine), unit(engine), unit(engine) - 0.3;
    const Vector2 low(-1 - unit(engine) * 0.5, -1 - unit(engine) * 0.5);
    const Vector2 high(1 + unit(engine) * 0.5, 1 + unit(engine) * 0.5);
    const RowVector2 v(unit(engine), unit(engine));
    const LpSol solution = lp2d(v, A, low, high);
    const double expected = bruteForceOptimum(v, A, low, high);
    ASSERT_EQ(solution.isFeasible, !std::isnan(expected)) << "trial " << trial;
    if (!solution.isFeasible) continue;
    ++feasible;
    EXPECT_NEAR(solution.objective, expected, 1e-9) << "trial " << trial;
    EXPECT_NEAR(v.dot(solution.point), solution.objective, 1e-12);
    if (A.rows() > 0) {
      EXPECT_LE((A.leftCols<2>() * solution.point + A.col(2)).maxCoeff(), 1e-9);
    }
    EXPECT_TRUE((solution.point.array() >= low.array() - 1e-9).all());
    EXPECT_TRUE((solution.point.array() <= high.array() + 1e-9).all());
  }
  // Both outcomes occur often enough to matter.
  EXPECT_GT(feasible, 100);
  EXPECT_LT(feasible, 480);
}

// A Seidel solver over q = s on [0, 1] with 4 stages, |dq/dt| <= 1 and
// |d2q/dt2| <= 2.
std::shared_ptr<toppra::solver::Seidel> lineSolver() {
  auto solver = std::make_shared<toppra::solver::Seidel>();
  const auto path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(1)));
  toppra::LinearConstraintPtrs constraints = {
      std::make_shared<toppra::constraint::LinearJointVelocity>(-Vector::Ones(1), Vector::Ones(1)),
      std::make_shared<toppra::constraint::LinearJointAcceleration>(-2 * Vector::Ones(1), 2 * Vector::Ones(1))};
  solver->initialize(constraints, path, Vector::LinSpaced(5, 0.0, 1.0));
  return solver;
}

const Vector kMaxX = (Vector(2) << 1e-9, -1).finished();
const Vector kMinX = (Vector(2) << -1e-9, 1).finished();

TEST(Seidel, StageProgrammes) {
  auto solver = lineSolver();
  EXPECT_EQ(solver->nbVars(), 2);
  EXPECT_EQ(solver->deltas(), Vector::Constant(4, 0.25));
  Vector solution;
  // Stage 2 with the next point at rest: x + 0.5 u = 0 and u >= -2 give x <= 1.
  ASSERT_TRUE(solver->solveStagewiseOptim(2, Matrix(), kMaxX, Bound(0, 100), Bound(0, 0), solution));
  EXPECT_NEAR(solution[0], -2, 1e-12);
  EXPECT_NEAR(solution[1], 1, 1e-12);
  // The same again starts from the warm-start rows and ends at the same point.
  Vector again;
  ASSERT_TRUE(solver->solveStagewiseOptim(2, Matrix(), kMaxX, Bound(0, 100), Bound(0, 0), again));
  EXPECT_EQ(again, solution);
  // Infinite sides of xNext bound nothing; the velocity limit caps x at 1.
  ASSERT_TRUE(solver->solveStagewiseOptim(1, Matrix(), kMaxX, Bound(0, 100), Bound(-kInf, kInf), solution));
  EXPECT_NEAR(solution[1], 1, 1e-12);
  // The last point ignores xNext.
  ASSERT_TRUE(solver->solveStagewiseOptim(4, Matrix(), kMinX, Bound(0.5, 100), Bound(7, 7), solution));
  EXPECT_NEAR(solution[1], 0.5, 1e-12);
  // Infeasible: from rest, x_next >= 1.1 needs u >= 2.2 > 2.
  Vector untouched = Vector::Constant(2, 42);
  EXPECT_FALSE(solver->solveStagewiseOptim(0, Matrix(), kMaxX, Bound(0, 0), Bound(1.1, 2), untouched));
  EXPECT_EQ(untouched, Vector::Constant(2, 42));
  EXPECT_EQ(messageOf([&] {
              solver->solveStagewiseOptim(0, Matrix::Identity(2, 2), kMaxX, Bound(0, 1), Bound(0, 1), solution);
            }),
            "Seidel can only solve LPs.");
}

TEST(Seidel, StageSolvesDoNotAllocate) {
  if (!toppra_test::AllocationCounter::available()) GTEST_SKIP() << "allocator owned by the sanitizer";
  {
    toppra_test::AllocationCounter counter;
    Vector probe = Vector::Random(64);
    EXPECT_NE(probe.sum(), 1e300);
    EXPECT_GT(counter.count(), 0);
  }
  auto solver = lineSolver();
  Vector solution(2);
  toppra_test::AllocationCounter counter;
  for (int round = 0; round < 3; ++round)
    for (std::size_t i = 0; i <= 4; ++i) {
      solver->solveStagewiseOptim(i, Matrix(), kMaxX, Bound(0, 100), Bound(0, 0.5), solution);
      solver->solveStagewiseOptim(i, Matrix(), kMinX, Bound(0, 100), Bound(0, 0.5), solution);
    }
  EXPECT_EQ(counter.count(), 0);
}

// Rows as a path at rest leaves them: -2.4e-15 u + 51.4 x <= 1.5, with a u
// coefficient of rounding noise, then -1 <= u <= 1.
class RestRows : public toppra::LinearConstraint {
 public:
  RestRows() : LinearConstraint(3, 2, true, false, false) {}

 protected:
  void computeParams_impl(const toppra::GeometricPath&, const Vector& grid, toppra::Vectors& a, toppra::Vectors& b,
                          toppra::Vectors& c, toppra::Matrices& F, toppra::Vectors& g, toppra::Bounds&,
                          toppra::Bounds&) override {
    F[0] << 1, 0, 0, 1, 0, -1;
    g[0] << 1.5, 1, 1;
    for (Eigen::Index i = 0; i < grid.size(); ++i) {
      a[i] << -2.4e-15, 1;
      b[i] << 51.4, 0;
      c[i] << 0, 0;
    }
  }
};

TEST(Seidel, RoundingNoiseOfAPathAtRestKeepsTheStageFeasible) {
  toppra::solver::Seidel solver;
  const auto path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(1)));
  solver.initialize({std::make_shared<RestRows>()}, path, Vector::LinSpaced(3, 0.0, 1.0));
  Vector solution;
  ASSERT_TRUE(solver.solveStagewiseOptim(0, Matrix(), kMaxX, Bound(0, 0), Bound(-kInf, kInf), solution));
  EXPECT_EQ(solution[1], 0);
  EXPECT_NEAR(solution[0], -1, 1e-12);
}

TEST(Seidel, WithoutConstraintsOnlyTheNextStageRowsRemain) {
  toppra::solver::Seidel solver;
  const auto path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(1)));
  solver.initialize({}, path, Vector::LinSpaced(3, 0.0, 1.0));
  Vector solution;
  ASSERT_TRUE(solver.solveStagewiseOptim(0, Matrix(), kMaxX, Bound(0, 3), Bound(0, 2), solution));
  EXPECT_NEAR(solution[1], 3, 1e-12);
  EXPECT_LE(solution[1] + 2 * 0.5 * solution[0], 2 + 1e-12);
  ASSERT_TRUE(solver.solveStagewiseOptim(2, Matrix(), kMaxX, Bound(0, 3), Bound(0, 0), solution));
  EXPECT_EQ(solution[1], 3);
}

TEST(Solver, InitializeRejectsBadTimesAndKeepsItsState) {
  auto solver = lineSolver();
  const auto path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(1)));
  for (const Vector& times :
       {Vector(), (Vector(3) << 0.0, 0.5, 0.5).finished(), (Vector(3) << 0.0, 0.7, 0.5).finished()})
    EXPECT_EQ(messageOf([&] { solver->initialize({}, path, times); }), "Invalid times.");
  // A constraint that throws while computing its parameters.
  toppra::LinearConstraintPtrs infeasible = {
      std::make_shared<toppra::constraint::LinearJointVelocity>(Vector::Constant(1, 0.5), Vector::Ones(1))};
  const auto atRest = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Zero(1)));
  EXPECT_EQ(messageOf([&] { solver->initialize(infeasible, atRest, Vector::LinSpaced(3, 0.0, 1.0)); }),
            "BoxConstraint is infeasible");
  EXPECT_EQ(solver->deltas(), Vector::Constant(4, 0.25));
  Vector solution;
  ASSERT_TRUE(solver->solveStagewiseOptim(2, Matrix(), kMaxX, Bound(0, 100), Bound(0, 0), solution));
  EXPECT_NEAR(solution[1], 1, 1e-12);
}

TEST(Solver, DefaultAndExternalSolvers) {
  EXPECT_NE(std::dynamic_pointer_cast<toppra::solver::Seidel>(toppra::Solver::createDefault()), nullptr);
  const auto path = std::make_shared<toppra::PiecewisePolyPath>(toppra_test::straightLine(Vector::Ones(1)));
  const Vector times = Vector::LinSpaced(3, 0.0, 1.0);
  Vector solution;
  toppra::solver::GLPKWrapper glpk;
  EXPECT_EQ(messageOf([&] { glpk.initialize({}, path, times); }), "TOPPRA was not built with GLPK support.");
  EXPECT_EQ(messageOf([&] { glpk.solveStagewiseOptim(0, Matrix(), kMaxX, Bound(0, 1), Bound(0, 1), solution); }),
            "TOPPRA was not built with GLPK support.");
  toppra::solver::qpOASESWrapper qpoases;
  EXPECT_EQ(messageOf([&] { qpoases.initialize({}, path, times); }), "TOPPRA was not built with qpOASES support.");
  EXPECT_EQ(messageOf([&] { qpoases.solveStagewiseOptim(0, Matrix(), kMaxX, Bound(0, 1), Bound(0, 1), solution); }),
            "TOPPRA was not built with qpOASES support.");
  glpk.setupSolver();
  glpk.closeSolver();

  struct Boundary : toppra::solver::qpOASESWrapper {
    static double value() { return m_defaultBoundary; }
  };
  EXPECT_EQ(Boundary::value(), 1e16);
  toppra::solver::qpOASESWrapper::setDefaultBoundary(5.0);
  EXPECT_EQ(Boundary::value(), 5.0);
  toppra::solver::qpOASESWrapper::setDefaultBoundary(1e16);
}

}  // namespace
