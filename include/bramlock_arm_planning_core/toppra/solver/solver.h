#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/toppra/toppra.h"

namespace toppra {

// A stage-wise solver: at grid point i it minimises g . (u, x) subject to the
// constraint rows of that point, its bounds on u and x, a bound on x, and,
// for i < N, a bound on the next point's x + 2 delta_i u.
class BRAMLOCK_EXPORT Solver {
 public:
  struct LinearConstraintParams {
    int constraintIndex;
    Vectors a, b, c, g;
    Matrices F;
  };
  struct BoxConstraintParams {
    int constraintIndex;
    Bounds u, x;
  };

  // A new Seidel solver.
  static SolverPtr createDefault();

  // Writes the optimum (u, x) into solution and returns true, or returns false
  // and leaves solution unchanged when the programme is infeasible. Infinite
  // sides of x and xNext are no bound.
  virtual bool solveStagewiseOptim(std::size_t i, const Matrix& H, const Vector& g, const Bound& x, const Bound& xNext,
                                   Vector& solution) = 0;
  // Evaluates every constraint on the grid `times`. Throws
  // std::invalid_argument "Invalid times." on an empty or not strictly
  // increasing grid; on any exception the solver keeps its previous state.
  virtual void initialize(const LinearConstraintPtrs& constraints, const GeometricPathPtr& path, const Vector& times);
  virtual void setupSolver() {}
  virtual void closeSolver() {}
  virtual ~Solver() = default;

  std::int64_t nbVars() const { return m_nV; }
  const Vector& deltas() const { return m_deltas; }

 protected:
  Solver() = default;

  std::vector<LinearConstraintParams> m_linearParams;
  std::vector<BoxConstraintParams> m_boxParams;
  LinearConstraintPtrs m_constraints;
  GeometricPathPtr m_path;
  Vector m_times;
  std::int64_t m_N = 0;
  std::int64_t m_nV = 0;
  Vector m_deltas;
};

}  // namespace toppra
