#pragma once

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/path_parametrization_algorithm.h"

namespace toppra {
namespace algorithm {

// TOPP-RA (Pham and Pham, IEEE T-RO 2018) with the default (Seidel) solver
// and a greedy forward pass.
class BRAMLOCK_EXPORT TOPPRA : public PathParametrizationAlgorithm {
 public:
  TOPPRA(LinearConstraintPtrs constraints, const GeometricPathPtr& path);
  ~TOPPRA() override = default;

  int computeForwardPass(value_type squaredStartSpeed) override;
};

}  // namespace algorithm
}  // namespace toppra
