#include "bramlock_arm_planning_core/toppra/solver/seidel.h"

#include <cassert>
#include <stdexcept>

namespace toppra {
namespace solver {

namespace seidel {

namespace {

constexpr value_type kInfinity = std::numeric_limits<value_type>::infinity();
// Tolerance below which a row counts as satisfied.
constexpr value_type kRowTolerance = 1e-13;

// A zero coefficient contributes nothing, even against an infinite coordinate.
value_type product(value_type coefficient, value_type coordinate) {
  return coefficient == 0 ? 0 : coefficient * coordinate;
}

int lowerCode(int coordinate) { return -1 - 2 * coordinate; }
int upperCode(int coordinate) { return -2 - 2 * coordinate; }

// The row alpha y0 + beta y1 + gamma <= 0 restricted to the line zp + t d.
void writeRowOnLine(value_type alpha, value_type beta, value_type gamma, const Vector2& zp, const Vector2& d,
                    MatrixX2& A_1d, Eigen::Index row) {
  A_1d(row, 0) = alpha * d[0] + beta * d[1];
  A_1d(row, 1) = gamma + alpha * zp[0] + beta * zp[1];
}

// Infinite coordinates are answers (an unbounded side); NaN is none: rows
// that are not numbers hold nowhere.
LpSol feasible(const RowVector2& v, const Vector2& point, const std::array<int, 2>& active) {
  if (point.hasNaN()) return LpSol();
  LpSol solution;
  solution.isFeasible = true;
  solution.point = point;
  solution.objective = v.dot(point);
  solution.active_c = active;
  return solution;
}

// Coordinate c has low[c] > high[c]: accepted only when the crossing is
// numerical noise, then c is fixed at the midpoint and the other coordinate
// optimised alone.
LpSol solveWithFixedCoordinate(int c, const RowVector2& v, const MatrixX3& A, const Vector2& low, const Vector2& high,
                               MatrixX2& A_1d) {
  if (low[c] - high[c] > 1e-10 * std::max(std::abs(low[c]), std::abs(high[c])) || high[c] == -kInfinity ||
      low[c] == kInfinity)
    return LpSol();
  const int o = 1 - c;
  const Eigen::Index n = A.rows();
  const value_type yc = (low[c] + high[c]) / 2;
  for (Eigen::Index j = 0; j < n; ++j) {
    A_1d(j, 0) = A(j, o);
    A_1d(j, 1) = A(j, 2) + yc * A(j, c);
  }
  A_1d.row(n) << -1, low[o];
  A_1d.row(n + 1) << 1, -high[o];
  const LpSol1d line = solve_lp1d(RowVector2(v[o], 0), A_1d.topRows(n + 2));
  if (!line.isFeasible) return LpSol();

  Vector2 point;
  point[c] = yc;
  point[o] = line.point;
  std::array<int, 2> active;
  active[0] = v[c] > 0 ? upperCode(c) : lowerCode(c);
  if (line.active_c == n)
    active[1] = lowerCode(o);
  else if (line.active_c == n + 1)
    active[1] = upperCode(o);
  else
    active[1] = line.active_c;
  return feasible(v, point, active);
}

}  // namespace

LpSol solve_lp2d(const RowVector2& v, const MatrixX3& A, const Vector2& low, const Vector2& high, MatrixX2& A_1d) {
  const Eigen::Index n = A.rows();
  assert(A_1d.rows() == n + 4);
  // A row that is not a number holds nowhere; every comparison with it would
  // quietly leave it out.
  if (A.hasNaN() || v.hasNaN() || low.hasNaN() || high.hasNaN()) return LpSol();
  Vector2 y;
  std::array<int, 2> active;
  if (high[0] < low[0]) return solveWithFixedCoordinate(0, v, A, low, high, A_1d);
  y[0] = v[0] > 0 ? high[0] : low[0];
  active[0] = v[0] > 0 ? upperCode(0) : lowerCode(0);
  if (low[1] > high[1]) return solveWithFixedCoordinate(1, v, A, low, high, A_1d);
  y[1] = v[1] > 0 ? high[1] : low[1];
  active[1] = v[1] > 0 ? upperCode(1) : lowerCode(1);

  for (Eigen::Index k = 0; k < n; ++k) {
    const value_type alpha = A(k, 0), beta = A(k, 1), gamma = A(k, 2);
    if (gamma + product(alpha, y[0]) + product(beta, y[1]) < kRowTolerance) continue;

    // The optimum moves onto the line of row k. A violated row without
    // coefficients (gamma > 0) can never hold.
    const value_type normSquared = alpha * alpha + beta * beta;
    if (normSquared == 0) return LpSol();
    active[0] = static_cast<int>(k);
    const Vector2 zp = Vector2(alpha, beta) * (-gamma / normSquared);
    const Vector2 d(-beta, alpha);
    for (Eigen::Index j = 0; j < k; ++j) writeRowOnLine(A(j, 0), A(j, 1), A(j, 2), zp, d, A_1d, j);
    writeRowOnLine(-1, 0, low[0], zp, d, A_1d, k);
    writeRowOnLine(1, 0, -high[0], zp, d, A_1d, k + 1);
    writeRowOnLine(0, -1, low[1], zp, d, A_1d, k + 2);
    writeRowOnLine(0, 1, -high[1], zp, d, A_1d, k + 3);

    const LpSol1d line = solve_lp1d(RowVector2(v.dot(d), 0), A_1d.topRows(k + 4));
    if (!line.isFeasible) return LpSol();
    y[0] = zp[0] + product(d[0], line.point);
    y[1] = zp[1] + product(d[1], line.point);
    assert(line.active_c >= -2 && line.active_c < k + 4);
    // Rows k .. k+3 of the sub-problem are the box bounds -1 .. -4.
    active[1] = line.active_c < k ? line.active_c : static_cast<int>(k) - line.active_c - 1;
  }
  return feasible(v, y, active);
}

}  // namespace seidel

namespace {

// Rounding leaves coefficients of the order of 1e-15 where the path is at
// rest (q_s = 0 up to the spline fit's noise). Against an unbounded u such a
// coefficient makes a row look violated and drags the optimum onto a line
// that only reaches the stage's x bound at |u| ~ 1e14, so a feasible stage
// would be reported infeasible. A coefficient below 1e-12 of the row's
// largest entry only binds at |u| or x beyond 1e12 and is set to zero.
void dropNoiseCoefficients(Eigen::Ref<MatrixX3> rows) {
  for (Eigen::Index r = 0; r < rows.rows(); ++r) {
    const value_type threshold = 1e-12 * rows.row(r).cwiseAbs().maxCoeff();
    for (Eigen::Index column : {0, 1})
      if (std::abs(rows(r, column)) < threshold) rows(r, column) = 0;
  }
}

}  // namespace

void Seidel::initialize(const LinearConstraintPtrs& constraints, const GeometricPathPtr& path, const Vector& times) {
  Solver::initialize(constraints, path, times);
  assert(nbVars() == 2);
  const std::size_t points = static_cast<std::size_t>(m_N + 1);

  Eigen::Index nC = 2;
  for (const LinearConstraintParams& p : m_linearParams) nC += p.F[0].rows();
  m_A.assign(points, MatrixX3::Zero(nC, 3));
  m_reorderedA.resize(nC, 3);
  m_lowBounds.setConstant(m_N + 1, 2, -std::numeric_limits<value_type>::infinity());
  m_highBounds.setConstant(m_N + 1, 2, std::numeric_limits<value_type>::infinity());

  // Rows 2.. hold every constraint row as [F a, F b, F c - g] per point.
  Eigen::Index row = 2;
  for (const LinearConstraintParams& p : m_linearParams) {
    const Eigen::Index k = p.F[0].rows();
    assert(p.a.size() == points);
    for (std::size_t i = 0; i < points; ++i) {
      const std::size_t j = p.F.size() == 1 ? 0 : i;
      auto rows = m_A[i].middleRows(row, k);
      rows.col(0) = p.F[j] * p.a[i];
      rows.col(1) = p.F[j] * p.b[i];
      rows.col(2) = p.F[j] * p.c[i] - p.g[j];
      dropNoiseCoefficients(rows);
    }
    row += k;
  }

  for (const BoxConstraintParams& p : m_boxParams) {
    for (int column : {0, 1}) {
      const Bounds& bounds = column == 0 ? p.u : p.x;
      if (bounds.empty()) continue;
      assert(bounds.size() == points);
      for (std::size_t i = 0; i < points; ++i) {
        m_lowBounds(i, column) = std::max(m_lowBounds(i, column), bounds[i][0]);
        m_highBounds(i, column) = std::min(m_highBounds(i, column), bounds[i][1]);
      }
    }
  }

  m_work1d = MatrixX2::Zero(nC + 4, 2);
  m_rowMap.assign(nC, 0);
  m_warmStartLower = {-1, -1};
  m_warmStartUpper = {-1, -1};
}

void Seidel::writeNextStageRows(std::size_t i, const Bound& xNext) {
  constexpr value_type infinity = std::numeric_limits<value_type>::infinity();
  MatrixX3& A = m_A[i];
  if (static_cast<std::int64_t>(i) == m_N) {
    A.row(0) << 0, 0, -1;
    A.row(1) << 0, 0, -1;
    return;
  }
  const value_type delta = m_deltas[i];
  if (xNext[0] == -infinity)
    A.row(0) << 0, 0, -1;
  else
    A.row(0) << -2 * delta, -1, xNext[0];
  if (xNext[1] == infinity)
    A.row(1) << 0, 0, -1;
  else
    A.row(1) << 2 * delta, 1, -xNext[1];
}

void Seidel::reorderRows(std::size_t i, const std::array<int, 2>& warmStart) {
  const MatrixX3& A = m_A[i];
  const int nC = static_cast<int>(A.rows());
  if (warmStart[0] == -1) {
    m_reorderedA = A;
    for (int r = 0; r < nC; ++r) m_rowMap[r] = r;
    return;
  }
  assert(warmStart[0] >= 0 && warmStart[0] < nC && warmStart[1] >= 0 && warmStart[1] < nC &&
         warmStart[0] != warmStart[1]);
  m_rowMap[0] = warmStart[1];
  m_rowMap[1] = warmStart[0];
  int next = 2;
  for (int r = 0; r < nC; ++r)
    if (r != warmStart[0] && r != warmStart[1]) m_rowMap[next++] = r;
  for (int r = 0; r < nC; ++r) m_reorderedA.row(r) = A.row(m_rowMap[r]);
}

bool Seidel::solveStagewiseOptim(std::size_t i, const Matrix& H, const Vector& g, const Bound& x, const Bound& xNext,
                                 Vector& solution) {
  if (H.size() > 0) throw std::invalid_argument("Seidel can only solve LPs.");
  assert(i < m_A.size() && g.size() >= 2);  // 0 <= i <= N of an initialised solver

  const Vector2 low(m_lowBounds(i, 0), std::max(x[0], m_lowBounds(i, 1)));
  const Vector2 high(m_highBounds(i, 0), std::min(x[1], m_highBounds(i, 1)));
  writeNextStageRows(i, xNext);
  const RowVector2 v(-g[0], -g[1]);
  std::array<int, 2>& warmStart = g[1] > 0 ? m_warmStartLower : m_warmStartUpper;
  reorderRows(i, warmStart);

  const seidel::LpSol sol = seidel::solve_lp2d(v, m_reorderedA, low, high, m_work1d);
  if (!sol.isFeasible) return false;
  if (solution.size() != 2) solution.resize(2);
  solution = sol.point;
  if (sol.active_c[0] >= 0 && sol.active_c[1] >= 0)
    warmStart = {m_rowMap[sol.active_c[0]], m_rowMap[sol.active_c[1]]};
  else
    warmStart = {-1, -1};
  return true;
}

}  // namespace solver
}  // namespace toppra
