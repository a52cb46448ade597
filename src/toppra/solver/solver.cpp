#include "bramlock_arm_planning_core/toppra/solver/solver.h"

#include <stdexcept>
#include <utility>

#include "bramlock_arm_planning_core/toppra/constraint/linear_constraint.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "bramlock_arm_planning_core/toppra/solver/seidel.h"

namespace toppra {

SolverPtr Solver::createDefault() { return std::make_shared<solver::Seidel>(); }

void Solver::initialize(const LinearConstraintPtrs& constraints, const GeometricPathPtr& path, const Vector& times) {
  // Everything is computed aside first, so a rejected grid or a throwing
  // constraint leaves the solver as it was.
  const Eigen::Index n = times.size();
  if (n == 0) throw std::invalid_argument("Invalid times.");
  const Vector deltas = times.tail(n - 1) - times.head(n - 1);
  if (!(deltas.array() > 0).all()) throw std::invalid_argument("Invalid times.");

  std::vector<LinearConstraintParams> linearParams;
  std::vector<BoxConstraintParams> boxParams;
  for (std::size_t k = 0; k < constraints.size(); ++k) {
    LinearConstraint& constraint = *constraints[k];
    const int index = static_cast<int>(k);
    LinearConstraintParams unusedLinear{index, {}, {}, {}, {}, {}};
    BoxConstraintParams unusedBox{index, {}, {}};
    LinearConstraintParams* linear = &unusedLinear;
    BoxConstraintParams* box = &unusedBox;
    if (constraint.nbInequalities() >= 1) {
      linearParams.push_back(unusedLinear);
      linear = &linearParams.back();
    }
    if (constraint.hasUbounds() || constraint.hasXbounds()) {
      boxParams.push_back(unusedBox);
      box = &boxParams.back();
    }
    constraint.computeParams(*path, times, linear->a, linear->b, linear->c, linear->F, linear->g, box->u, box->x);
  }

  m_linearParams = std::move(linearParams);
  m_boxParams = std::move(boxParams);
  m_constraints = constraints;
  m_path = path;
  m_times = times;
  m_N = n - 1;
  m_nV = 2;
  m_deltas = deltas;
}

}  // namespace toppra
