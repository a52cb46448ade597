#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"

#include <algorithm>
#include <cassert>
#include <stdexcept>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "limit_rows.h"
#include "path_dimension.h"

namespace toppra {
namespace constraint {

LinearJointVelocity::LinearJointVelocity(const Vector& lowerVlimit, const Vector& upperVlimit, value_type maxPathSpeed)
    : LinearConstraint(0, 0, true, false, true),
      m_lower(lowerVlimit),
      m_upper(upperVlimit),
      m_maxPathSpeed(maxPathSpeed) {
  check();
}

void LinearJointVelocity::check() const {
  bramlock::internal::checkLimitPair(m_lower, m_upper, "Velocity limits size must match.", "Bad velocity limits.");
  if (!(m_maxPathSpeed >= 0)) throw std::invalid_argument("Bad maximum path speed.");
}

std::ostream& LinearJointVelocity::print(std::ostream& os) const {
  os << "LinearJointVelocity\n";
  LinearConstraint::print(os);
  return bramlock::internal::printLimits(os, "Lower velocity limit", m_lower, "Upper velocity limit", m_upper);
}

void LinearJointVelocity::computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors&, Vectors&,
                                             Vectors&, Matrices&, Vectors&, Bounds&, Bounds& xbound) {
  const Eigen::Index ndofs = m_lower.size();
  bramlock::internal::requirePathJoints(path, ndofs, "LinearJointVelocity");
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i) {
    const value_type s = gridpoints[i];
    computeVelocityLimits(s);
    const Vector v = bramlock::internal::finitePathValue(path, s, 1);
    assert(ndofs == v.size());
    value_type sdmax = m_maxPathSpeed;
    value_type sdmin = -m_maxPathSpeed;
    for (Eigen::Index j = 0; j < ndofs; ++j) {
      if (v[j] > 0) {
        const value_type inverse = 1 / v[j];
        sdmax = std::min(sdmax, m_upper[j] * inverse);
        sdmin = std::max(sdmin, m_lower[j] * inverse);
      } else if (v[j] < 0) {
        const value_type inverse = 1 / v[j];
        sdmax = std::min(sdmax, m_lower[j] * inverse);
        sdmin = std::max(sdmin, m_upper[j] * inverse);
      } else if (m_upper[j] < 0 || m_lower[j] > 0) {
        throw std::runtime_error("BoxConstraint is infeasible");
      }
    }
    // The path only moves forward (ds/dt >= 0): no admissible speed when
    // sdmax < 0, so the bound is left empty and the stage becomes infeasible.
    if (sdmax < 0)
      xbound[i] = Bound(0, -1);
    else if (sdmin > 0)
      xbound[i] = Bound(sdmin * sdmin, sdmax * sdmax);
    else
      xbound[i] = Bound(0, sdmax * sdmax);
  }
}

}  // namespace constraint
}  // namespace toppra
