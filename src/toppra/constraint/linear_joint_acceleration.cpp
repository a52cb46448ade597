#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"

#include <cassert>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "limit_rows.h"
#include "path_dimension.h"

namespace toppra {
namespace constraint {

LinearJointAcceleration::LinearJointAcceleration(const Vector& lowerAlimit, const Vector& upperAlimit)
    : LinearConstraint(2 * lowerAlimit.size(), lowerAlimit.size(), true, false, false),
      m_lower(lowerAlimit),
      m_upper(upperAlimit) {
  check();
}

void LinearJointAcceleration::check() const {
  bramlock::internal::checkLimitPair(m_lower, m_upper, "Acceleration limits size must match.",
                                     "Bad acceleration limits.");
}

std::ostream& LinearJointAcceleration::print(std::ostream& os) const {
  os << "LinearJointAcceleration\n";
  LinearConstraint::print(os);
  return bramlock::internal::printLimits(os, "Lower acceleration limit", m_lower, "Upper acceleration limit", m_upper);
}

void LinearJointAcceleration::computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a,
                                                 Vectors& b, Vectors& c, Matrices& F, Vectors& g, Bounds&, Bounds&) {
  const Eigen::Index ndofs = m_valueDim;
  bramlock::internal::requirePathJoints(path, ndofs, "LinearJointAcceleration");
  bramlock::internal::writeLimitRows(m_lower, m_upper, F[0], g[0]);
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i) {
    a[i] = bramlock::internal::finitePathValue(path, gridpoints[i], 1);
    assert(a[i].size() == ndofs);
    b[i] = bramlock::internal::finitePathValue(path, gridpoints[i], 2);
    assert(b[i].size() == ndofs);
    c[i].setZero();
  }
}

}  // namespace constraint
}  // namespace toppra
