#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"

namespace toppra {
namespace constraint {

// Limit on the S-weighted squared Cartesian speed: x v^T S v <= limit, where v
// is the 6-dimensional velocity a subclass computes for the path tangent.
class BRAMLOCK_EXPORT CartesianVelocityNorm : public LinearConstraint {
 public:
  // With constantF the limit is written once, so a limit that
  // computeVelocityLimit changes per point never takes effect: a subclass
  // that overrides that hook must keep constantF false. Throws
  // std::invalid_argument on a negative limit or an S that is not 6 x 6.
  CartesianVelocityNorm(const Matrix& S, value_type limit, bool constantF = false);

  std::ostream& print(std::ostream& os) const override;
  void check() const;

  // The Cartesian velocity v (6 entries, handed in sized) that the joint
  // velocity qs produces at configuration q. Precondition: v keeps its 6
  // entries; another size ends the process by assertion (in Eigen).
  virtual void computeCartesianVelocity(const Vector& q, const Vector& qs, Vector& v) = 0;
  // Per-point hook that may update m_limit.
  virtual void computeVelocityLimit(value_type s) {}

 protected:
  void computeParams_impl(const GeometricPath& path, const Vector& gridpoints, Vectors& a, Vectors& b, Vectors& c,
                          Matrices& F, Vectors& g, Bounds& ubound, Bounds& xbound) override;

  value_type m_limit;
  Matrix m_S;
};

}  // namespace constraint
}  // namespace toppra
