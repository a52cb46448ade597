#pragma once

#include <limits>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"

namespace toppra {
namespace constraint {

// Per-joint velocity limits, turned into a bound on the squared path speed x
// at every grid point.
class BRAMLOCK_EXPORT LinearJointVelocity : public LinearConstraint {
 public:
  // maxPathSpeed caps ds/dt before the joint limits apply. Throws
  // std::invalid_argument on limits of different sizes, upper < lower, NaN
  // limits or a maximum path speed that is negative or NaN.
  LinearJointVelocity(const Vector& lowerVlimit, const Vector& upperVlimit,
                      value_type maxPathSpeed = std::numeric_limits<value_type>::infinity());

  std::ostream& print(std::ostream& os) const override;
  void check() const;

 protected:
  void computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b, Vectors& c,
                          Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) override;
  // Called for every grid point before the limits are read, so that a
  // subclass can make m_lower and m_upper depend on s. Precondition: both
  // keep one value per joint; other sizes end the process by assertion.
  virtual void computeVelocityLimits(value_type s) {}

  Vector m_lower;
  Vector m_upper;
  value_type m_maxPathSpeed;
};

}  // namespace constraint
}  // namespace toppra
