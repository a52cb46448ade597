#include "bramlock_arm_planning_core/toppra/constraint/joint_torque.h"

#include <cassert>
#include <stdexcept>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "limit_rows.h"
#include "path_dimension.h"

namespace toppra {
namespace constraint {

namespace {

value_type sign(value_type value) {
  if (value > 0) return 1;
  if (value < 0) return -1;
  return 0;
}

}  // namespace

JointTorque::JointTorque(const Vector& lowerTlimit, const Vector& upperTlimit, const Vector& frictionCoeffs)
    : LinearConstraint(2 * lowerTlimit.size(), lowerTlimit.size(), true, false, false),
      m_lower(lowerTlimit),
      m_upper(upperTlimit),
      m_frictionCoeffs(frictionCoeffs) {
  check();
}

void JointTorque::check() const {
  if (m_lower.size() != m_upper.size()) throw std::invalid_argument("Torque limits size must match.");
  if (m_frictionCoeffs.size() > 0 && m_frictionCoeffs.size() != m_lower.size())
    throw std::invalid_argument("Torque limits size and friction vector size must match.");
  bramlock::internal::checkLimitPair(m_lower, m_upper, "Torque limits size must match.", "Bad torque limits.");
}

std::ostream& JointTorque::print(std::ostream& os) const {
  os << "JointTorque\n";
  LinearConstraint::print(os);
  return bramlock::internal::printLimits(os, "Lower torque limit", m_lower, "Upper torque limit", m_upper);
}

void JointTorque::computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b,
                                     Vectors& c, Matrices& F, Vectors& g, Bounds&, Bounds&) {
  const Eigen::Index ndofs = m_lower.size();
  bramlock::internal::requirePathJoints(path, ndofs, "JointTorque");
  bramlock::internal::writeLimitRows(m_lower, m_upper, F[0], g[0]);
  const Vector zero = Vector::Zero(ndofs);
  for (Eigen::Index i = 0; i < gridpoints.size(); ++i) {
    const value_type s = gridpoints[i];
    const Vector cfg = bramlock::internal::finitePathValue(path, s, 0);
    const Vector vel = bramlock::internal::finitePathValue(path, s, 1);
    const Vector acc = bramlock::internal::finitePathValue(path, s, 2);
    assert(cfg.size() == path.configSize());
    assert(vel.size() == ndofs);
    assert(acc.size() == ndofs);

    computeJointTorques(cfg, zero, zero, c[i]);
    computeJointTorques(cfg, zero, vel, a[i]);
    a[i] -= c[i];
    computeJointTorques(cfg, vel, acc, b[i]);
    b[i] -= c[i];
    assert(c[i].size() == ndofs && a[i].size() == ndofs && b[i].size() == ndofs);
    if (m_frictionCoeffs.size() > 0)
      for (Eigen::Index j = 0; j < ndofs; ++j) c[i][j] += m_frictionCoeffs[j] * sign(vel[j]);
  }
}

}  // namespace constraint
}  // namespace toppra
