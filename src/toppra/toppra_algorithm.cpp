#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"

#include <algorithm>
#include <cassert>
#include <utility>

#include "bramlock_arm_planning_core/toppra/solver/solver.h"

namespace toppra {
namespace algorithm {

TOPPRA::TOPPRA(LinearConstraintPtrs constraints, const GeometricPathPtr& path)
    : PathParametrizationAlgorithm(std::move(constraints), path) {
  m_solver = Solver::createDefault();
}

int TOPPRA::computeForwardPass(value_type squaredStartSpeed) {
  assert(m_initialized && "initialize() first");
  const Vector& deltas = m_solver->deltas();
  // Already a squared speed, unlike the end speed of the backward pass.
  m_parametrization[0] = squaredStartSpeed;
  Vector cost(2), solution(2);
  for (int i = 0; i < N; ++i) {
    // Maximise the next squared speed x_i + 2 delta_i u.
    cost << -2 * deltas[i], -1;
    const Bound x(m_parametrization[i], m_parametrization[i]);
    const Bound xNext = m_controllableSets.row(i + 1);
    if (!m_solver->solveStagewiseOptim(i, Matrix(), cost, x, xNext, solution)) {
      reportFailure("Forward pass failed", i, "g_upper", cost, x, xNext);
      return ForwardPassFailed;
    }
    const value_type reached = m_parametrization[i] + 2 * deltas[i] * solution[0];
    m_parametrization[i + 1] = std::min(xNext[1], std::max(xNext[0], reached));
  }
  return Success;
}

}  // namespace algorithm
}  // namespace toppra
