#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"

namespace toppra {
namespace constraint {

// Joint torque limits: lower <= a u + b x + c <= upper, with the torque along
// the path taken from the inverse dynamics a subclass supplies.
class BRAMLOCK_EXPORT JointTorque : public LinearConstraint {
 public:
  // frictionCoeffs: per-joint friction torque magnitude, or empty for none.
  // Throws std::invalid_argument on mismatched sizes, upper < lower or NaN limits.
  JointTorque(const Vector& lowerTlimit, const Vector& upperTlimit, const Vector& frictionCoeffs = Vector());

  std::ostream& print(std::ostream& os) const override;
  void check() const;

  // Inverse dynamics without friction: the torques tau that realise joint
  // velocity v and acceleration a at configuration q. Precondition: tau
  // holds one value per joint of the limits; another size ends the process
  // by assertion.
  virtual void computeJointTorques(const Vector& q, const Vector& v, const Vector& a, Vector& tau) = 0;

 protected:
  void computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b, Vectors& c,
                          Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) override;

  Vector m_lower;
  Vector m_upper;
  Vector m_frictionCoeffs;
};

}  // namespace constraint
}  // namespace toppra
