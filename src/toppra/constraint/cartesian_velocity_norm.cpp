#include "bramlock_arm_planning_core/toppra/constraint/cartesian_velocity_norm.h"

#include <ostream>
#include <stdexcept>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "path_dimension.h"

namespace toppra {
namespace constraint {

CartesianVelocityNorm::CartesianVelocityNorm(const Matrix& S, value_type limit, bool constantF)
    : LinearConstraint(1, 1, constantF, false, false), m_limit(limit), m_S(S) {
  check();
}

void CartesianVelocityNorm::check() const {
  if (!(m_limit >= 0)) throw std::invalid_argument("Velocity limit should be positive.");
  if (m_S.rows() != 6 || m_S.cols() != 6) throw std::invalid_argument("S matrix should be of size 6x6.");
}

std::ostream& CartesianVelocityNorm::print(std::ostream& os) const {
  os << "CartesianVelocityNorm\n";
  LinearConstraint::print(os);
  return os << "    Velocity norm limit: " << m_limit << "\n";
}

void CartesianVelocityNorm::computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a,
                                               Vectors& b, Vectors& c, Matrices& F, Vectors& g, Bounds&, Bounds&) {
  if (m_constantF) {
    F[0].setOnes();
    g[0].setConstant(m_limit);
  }
  Vector v(6);
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i) {
    const value_type s = gridpoints[i];
    computeVelocityLimit(s);
    const Vector q = bramlock::internal::finitePathValue(path, s, 0);
    const Vector qs = bramlock::internal::finitePathValue(path, s, 1);
    computeCartesianVelocity(q, qs, v);
    a[i].setZero();
    b[i].setConstant(v.dot(m_S * v));
    c[i].setZero();
    if (!m_constantF) {
      F[i].setOnes();
      g[i].setConstant(m_limit);
    }
  }
}

}  // namespace constraint
}  // namespace toppra
