#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/solver/solver.h"

namespace toppra {
namespace solver {

// Placeholder for a qpOASES back end, which this library is built without:
// initialize and solveStagewiseOptim throw std::invalid_argument.
class BRAMLOCK_EXPORT qpOASESWrapper : public Solver {
 public:
  qpOASESWrapper() = default;

  bool solveStagewiseOptim(std::size_t i, const Matrix& H, const Vector& g, const Bound& x, const Bound& xNext,
                           Vector& solution) override;
  void initialize(const LinearConstraintPtrs& constraints, const GeometricPathPtr& path, const Vector& times) override;

  static void setDefaultBoundary(const double& value);

 protected:
  static double m_defaultBoundary;
};

}  // namespace solver
}  // namespace toppra
