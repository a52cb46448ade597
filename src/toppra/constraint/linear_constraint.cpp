#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"

#include <algorithm>
#include <cassert>
#include <ostream>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "common/value_checks.h"

namespace toppra {

namespace {

Matrix blockDiagonal(const Matrix& upper, const Matrix& lower) {
  Matrix result = Matrix::Zero(upper.rows() + lower.rows(), upper.cols() + lower.cols());
  result.topLeftCorner(upper.rows(), upper.cols()) = upper;
  result.bottomRightCorner(lower.rows(), lower.cols()) = lower;
  return result;
}

Vector stacked(const Vector& upper, const Vector& lower) {
  Vector result(upper.size() + lower.size());
  result << upper, lower;
  return result;
}

// Stage i is constrained at s_i and at s_{i+1}, where x_{i+1} = x_i + 2 delta_i u;
// the last point pairs with itself.
void convertToInterpolation(const Vector& gridpoints, bool constantF, const Vectors& pa, const Vectors& pb,
                            const Vectors& pc, const Matrices& pF, const Vectors& pg, Vectors& a, Vectors& b,
                            Vectors& c, Matrices& F, Vectors& g) {
  const std::size_t n = static_cast<std::size_t>(gridpoints.size());
  for (std::size_t i = 0; i < n; ++i) {
    const std::size_t j = std::min(i + 1, n - 1);
    if (i + 1 < n) {
      const value_type delta = gridpoints[i + 1] - gridpoints[i];
      a[i] = stacked(pa[i], pa[i + 1] + 2 * delta * pb[i + 1]);
    } else {
      a[i] = stacked(pa[i], pa[i]);
    }
    b[i] = stacked(pb[i], pb[j]);
    c[i] = stacked(pc[i], pc[j]);
    if (!constantF) {
      F[i] = blockDiagonal(pF[i], pF[j]);
      g[i] = stacked(pg[i], pg[j]);
    }
  }
  if (constantF) {
    F[0] = blockDiagonal(pF[0], pF[0]);
    g[0] = stacked(pg[0], pg[0]);
  }
}

using bramlock::internal::throwUnless;

void checkValueSizes(std::size_t i, std::int64_t m, const Vectors& a, const Vectors& b, const Vectors& c) {
  throwUnless(a[i].size() == m, "Wrong a[i] vector size.");
  throwUnless(b[i].size() == m, "Wrong b[i] vector size.");
  throwUnless(c[i].size() == m, "Wrong c[i] vector size.");
}

bool hasShape(const Matrix& F, std::int64_t k, std::int64_t m) { return F.rows() == k && F.cols() == m; }

}  // namespace

LinearConstraint::LinearConstraint(std::int64_t nbInequalities, std::int64_t valueDim, bool constantF, bool hasUbounds,
                                   bool hasXbounds)
    : m_nbInequalities(nbInequalities),
      m_valueDim(valueDim),
      m_constantF(constantF),
      m_hasUbounds(hasUbounds),
      m_hasXbounds(hasXbounds) {}

std::ostream& LinearConstraint::print(std::ostream& os) const {
  os << "    Discretization Scheme: " << static_cast<int>(m_discretizationType) << "\n    Has ";
  if (m_nbInequalities > 0) os << "linear inequalities, ";
  if (m_hasUbounds) os << "bounds on u, ";
  if (m_hasXbounds) os << "bounds on x, ";
  return os << "\n";
}

void LinearConstraint::computeParams(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b,
                                     Vectors& c, Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) {
  const std::size_t n = static_cast<std::size_t>(gridpoints.size());
  assert(n > 0 && "N > 0");
  allocateParams(n, a, b, c, F, g, ubound, xbound);
  if (m_discretizationType == Interpolation && m_nbInequalities > 0) {
    Vectors pa, pb, pc, pg;
    Matrices pF;
    allocateInequalityParams(n, m_nbInequalities, m_valueDim, m_constantF, pa, pb, pc, pF, pg);
    computeParams_impl(path, gridpoints, pa, pb, pc, pF, pg, ubound, xbound);
    convertToInterpolation(gridpoints, m_constantF, pa, pb, pc, pF, pg, a, b, c, F, g);
  } else {
    computeParams_impl(path, gridpoints, a, b, c, F, g, ubound, xbound);
  }
}

void LinearConstraint::allocateParams(std::size_t n, Vectors& a, Vectors& b, Vectors& c, Matrices& F, Vectors& g,
                                      Bounds& ubound, Bounds& xbound) const {
  if (m_nbInequalities > 0) {
    const std::int64_t factor = m_discretizationType == Interpolation ? 2 : 1;
    allocateInequalityParams(n, factor * m_nbInequalities, factor * m_valueDim, m_constantF, a, b, c, F, g);
  }
  if (m_hasUbounds) ubound.resize(n);
  if (m_hasXbounds) xbound.resize(n);
}

void LinearConstraint::allocateInequalityParams(std::size_t n, std::int64_t k, std::int64_t m, bool constantF,
                                                Vectors& a, Vectors& b, Vectors& c, Matrices& F, Vectors& g) {
  for (Vectors* values : {&a, &b, &c}) {
    values->resize(n);
    for (Vector& value : *values) value.resize(m);
  }
  const std::size_t nbMatrices = constantF ? 1 : n;
  F.resize(nbMatrices);
  for (Matrix& matrix : F) matrix.resize(k, m);
  g.resize(nbMatrices);
  for (Vector& value : g) value.resize(k);
}

void checkConstraintParamSizes(std::size_t n, std::int64_t k, std::int64_t m, bool constantF, const Vectors& a,
                               const Vectors& b, const Vectors& c, const Matrices& F, const Vectors& g) {
  throwUnless(a.size() == n, "Wrong number of a vectors");
  throwUnless(b.size() == n, "Wrong number of b vectors");
  throwUnless(c.size() == n, "Wrong number of c vectors");
  if (constantF) {
    throwUnless(F.size() == 1, "Expected only one F matrix");
    throwUnless(g.size() == 1, "Expected only one g matrix");
    for (std::size_t i = 0; i < n; ++i) checkValueSizes(i, m, a, b, c);
    if (n == 0) return;
    throwUnless(hasShape(F[0], k, m), "Wrong F[0] matrix dimensions.");
    throwUnless(g[0].size() == k, "Wrong g[0] vector size.");
    return;
  }
  throwUnless(g.size() == n, "Wrong number of g matrices");
  for (std::size_t i = 0; i < n; ++i) {
    checkValueSizes(i, m, a, b, c);
    // A wrong count of F matrices has no message of its own.
    throwUnless(F.size() == n && hasShape(F[i], k, m), "Wrong F[i] matrix dimensions.");
    throwUnless(g[i].size() == k, "Wrong g[i] vector size.");
  }
}

}  // namespace toppra
