#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/solver/solver.h"

namespace toppra {
namespace solver {

using RowVector2 = Eigen::Matrix<value_type, 1, 2>;
using Vector2 = Eigen::Matrix<value_type, 2, 1>;
using MatrixX2 = Eigen::Matrix<value_type, Eigen::Dynamic, 2>;
using MatrixX3 = Eigen::Matrix<value_type, Eigen::Dynamic, 3>;

namespace seidel {

// Codes in active_c: >= 0 a row of the constraint matrix; -1 / -2 the lower /
// upper bound of the first variable, -3 / -4 those of the second.
struct BRAMLOCK_EXPORT LpSol {
  bool isFeasible = false;
  value_type objective = 0;
  Vector2 point = Vector2::Zero();
  std::array<int, 2> active_c = {0, 0};
};

// Codes in active_c: >= 0 a row; -1 / -2 no row bounds the lower / upper side.
struct BRAMLOCK_EXPORT LpSol1d {
  bool isFeasible = false;
  value_type point = 0;
  int active_c = 0;
};

// Maximises v . y over y subject to A y' <= 0 for every row [alpha, beta,
// gamma] (alpha y0 + beta y1 + gamma <= 0) and low <= y <= high. A_1d is work
// space of exactly A.rows() + 4 rows. A problem or solution holding NaN is
// reported infeasible.
BRAMLOCK_EXPORT LpSol solve_lp2d(const RowVector2& v, const MatrixX3& A, const Vector2& low, const Vector2& high,
                                 MatrixX2& A_1d);

// Maximises v[0] t over the scalar t subject to alpha t + beta <= 0 for every
// row [alpha, beta] of A.
template <typename Derived>
LpSol1d solve_lp1d(const RowVector2& v, const Eigen::MatrixBase<Derived>& A) {
  constexpr value_type infinity = std::numeric_limits<value_type>::infinity();
  value_type upper = infinity, lower = -infinity;
  int upperCode = -2, lowerCode = -1;
  for (Eigen::Index j = 0; j < A.rows(); ++j) {
    const value_type alpha = A(j, 0), beta = A(j, 1);
    if (beta * 1e-10 > std::abs(alpha)) {
      // The coefficient is negligible against a positive constant.
      if (alpha == 0 && beta < 1e-13) continue;
      return LpSol1d();
    }
    if (alpha > 0 && alpha * upper + beta > 0) {
      upper = std::min(upper, -beta / alpha);
      upperCode = static_cast<int>(j);
    } else if (alpha < 0 && alpha * lower + beta > 0) {
      lower = std::max(lower, -beta / alpha);
      lowerCode = static_cast<int>(j);
    }
  }
  if (A.rows() > 0) {
    if (lower > upper && lower - upper < 2e-13) {
      lower -= 1e-13;
      upper += 1e-13;
    }
    if (lower - upper > 1e-10 * std::max(std::abs(lower), std::abs(upper)) || lower == infinity || upper == -infinity)
      return LpSol1d();
  }
  LpSol1d solution;
  solution.isFeasible = true;
  if (v[0] > 0 || (v[0] == 0 && lower == -infinity)) {
    solution.point = upper;
    solution.active_c = upperCode;
  } else if (v[0] < 0 || upper == infinity) {
    solution.point = lower;
    solution.active_c = lowerCode;
  } else {
    solution.point = 0.5 * upper + 0.5 * lower;
    solution.active_c = lowerCode;
  }
  return solution;
}

}  // namespace seidel

// Solves each stage as a two-variable linear programme with an incremental
// (Seidel-type) algorithm, warm-started with the rows that were active at the
// previous optimum of the same kind. A solve does not allocate.
class BRAMLOCK_EXPORT Seidel : public Solver {
 public:
  Seidel() = default;

  void initialize(const LinearConstraintPtrs& constraints, const GeometricPathPtr& path, const Vector& times) override;
  // Throws std::invalid_argument "Seidel can only solve LPs." on a non-empty H.
  // Preconditions: the solver is initialised, i is a grid index 0 ... N of
  // it, and g holds at least two values; a violation ends the process by
  // assertion.
  bool solveStagewiseOptim(std::size_t i, const Matrix& H, const Vector& g, const Bound& x, const Bound& xNext,
                           Vector& solution) override;

 private:
  // Rows 0 and 1 of the matrix of grid point i: the next-stage rows.
  void writeNextStageRows(std::size_t i, const Bound& xNext);
  // Copies the rows of m_A[i] into m_reorderedA, the warm-start rows first.
  void reorderRows(std::size_t i, const std::array<int, 2>& warmStart);

  std::vector<MatrixX3> m_A;
  MatrixX2 m_lowBounds;
  MatrixX2 m_highBounds;
  MatrixX3 m_reorderedA;
  MatrixX2 m_work1d;
  std::vector<int> m_rowMap;
  std::array<int, 2> m_warmStartLower = {-1, -1};
  std::array<int, 2> m_warmStartUpper = {-1, -1};
};

}  // namespace solver
}  // namespace toppra
