#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"

namespace toppra {
namespace constraint {

// Per-joint acceleration limits: lower <= q_s u + q_ss x <= upper.
class BRAMLOCK_EXPORT LinearJointAcceleration : public LinearConstraint {
 public:
  // Throws std::invalid_argument on limits of different sizes, upper < lower or NaN.
  LinearJointAcceleration(const Vector& lowerAlimit, const Vector& upperAlimit);

  std::ostream& print(std::ostream& os) const override;
  void check() const;

 protected:
  void computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b, Vectors& c,
                          Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) override;

  Vector m_lower;
  Vector m_upper;
};

}  // namespace constraint
}  // namespace toppra
