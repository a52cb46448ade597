#include "bramlock_arm_planning_core/toppra/path_parametrization_algorithm.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <stdexcept>
#include <string>
#include <utility>

#include "bramlock_arm_planning_core/toppra/geometric_path/geometric_path.h"
#include "bramlock_arm_planning_core/toppra/solver/solver.h"
#include "toppra/constraint/path_dimension.h"

namespace toppra {

namespace {

// The stage programmes are linear: no quadratic cost.
const Matrix kNoQuadraticCost;
// Maximise x, preferring the smaller u among equal x.
const Vector kUpperCost = (Vector(2) << 1e-9, -1).finished();
// Minimise x, preferring the larger u among equal x.
const Vector kLowerCost = (Vector(2) << -1e-9, 1).finished();

// The first grid point from which the path speed stays zero up to the next
// one, or -1: at rest over a whole stage, the motion never goes on.
int firstStageAtRest(const Vector& squaredSpeeds) {
  for (Eigen::Index i = 0; i + 1 < squaredSpeeds.size(); ++i)
    if (squaredSpeeds[i] <= 0 && squaredSpeeds[i + 1] <= 0) return static_cast<int>(i);
  return -1;
}

}  // namespace

PathParametrizationAlgorithm::PathParametrizationAlgorithm(LinearConstraintPtrs constraints,
                                                           const GeometricPathPtr& path)
    : m_constraints(std::move(constraints)), m_path(path) {}

PathParametrizationAlgorithm::~PathParametrizationAlgorithm() = default;

void PathParametrizationAlgorithm::setN(int stages) {
  if (stages < 0) throw std::invalid_argument("N must not be negative, not " + std::to_string(stages) + ".");
  N = stages;
  m_initialized = false;
}

void PathParametrizationAlgorithm::setSolver(SolverPtr solver) {
  m_solver = std::move(solver);
  m_initialized = false;
}

void PathParametrizationAlgorithm::setGridpoints(const Vector& gridpoints) {
  const Eigen::Index n = gridpoints.size();
  if (n == 0) throw std::invalid_argument("gridpoints should not be empty.");
  const Bound interval = m_path->pathInterval();
  if (!(std::abs(gridpoints[0] - interval[0]) <= TOPPRA_NEARLY_ZERO) ||
      !(std::abs(gridpoints[n - 1] - interval[1]) <= TOPPRA_NEARLY_ZERO))
    throw std::invalid_argument("Path interval does not match first and last gridpoints.");
  for (Eigen::Index j = 1; j < n; ++j)
    if (!(gridpoints[j] - gridpoints[j - 1] > 0))
      throw std::invalid_argument("gridpoints should be strictly increasing.");
  N = static_cast<int>(n - 1);
  m_gridpoints = gridpoints;
  m_initialized = false;
}

void PathParametrizationAlgorithm::initialize() {
  m_messages.str("");
  m_messages.clear();
  if (m_initialized) return;
  if (!m_solver) throw std::logic_error("You must set a solver first.");
  const Bound interval = m_path->pathInterval();
  if (m_gridpoints.size() > 0) {
    if (m_gridpoints.size() != N + 1) throw std::invalid_argument("number of gridpoints does not match attribute N.");
  } else if (N == 0) {
    m_gridpoints = m_path->proposeGridpoints(1e-4, 100, 0.05, 100, Vector());
    N = static_cast<int>(m_gridpoints.size() - 1);
  } else {
    m_gridpoints = Vector::LinSpaced(N + 1, interval[0], interval[1]);
    m_gridpoints[0] = interval[0];
    m_gridpoints[N] = interval[1];
  }
  m_parametrization = Vector::Zero(N + 1);
  m_controllableSets = Matrix::Zero(N + 1, 2);
  m_feasibleSets = Matrix::Zero(N + 1, 2);
  // Checked here once for every constraint, whichever values each one reads.
  bramlock::internal::requireFinitePath(*m_path, m_gridpoints);
  m_solver->initialize(m_constraints, m_path, m_gridpoints);
  m_initialized = true;
}

void PathParametrizationAlgorithm::reportFailure(const std::string& what, std::size_t i, const char* costName,
                                                 const Vector& cost, const Bound& x, const Bound& xNext) {
  m_messages << what << " at idx " << i << "\n"
             << costName << " = " << cost.transpose() << "\nx = " << x << "\nx_next = " << xNext << "\n";
}

bool PathParametrizationAlgorithm::solveExtremes(std::size_t i, const Bound& x, const Bound& xNext, const char* setName,
                                                 Vector& solution, value_type& lower, value_type& upper) {
  if (!m_solver->solveStagewiseOptim(i, kNoQuadraticCost, kUpperCost, x, xNext, solution)) {
    reportFailure(std::string("Failed to compute ") + setName + ", upper problem,", i, "g_upper", kUpperCost, x, xNext);
    return false;
  }
  upper = solution[1];
  if (!m_solver->solveStagewiseOptim(i, kNoQuadraticCost, kLowerCost, x, xNext, solution)) {
    reportFailure(std::string("Failed to compute ") + setName + ", lower problem,", i, "g_lower", kLowerCost, x, xNext);
    return false;
  }
  lower = solution[1];
  return true;
}

int PathParametrizationAlgorithm::computeControllableSets(const Bound& vel_ends) {
  assert(m_initialized && "initialize() first");
  m_controllableSets.row(N) << vel_ends[0] * vel_ends[0], vel_ends[1] * vel_ends[1];
  Vector solution(2);
  for (int i = N - 1; i >= 0; --i) {
    const Bound xNext = m_controllableSets.row(i + 1);
    value_type lower, upper;
    if (!solveExtremes(i, m_xBoundInit, xNext, "controllable set", solution, lower, upper))
      return ControllableSetsFailed;
    m_controllableSets(i, 0) = std::max(lower, value_type(0));
    m_controllableSets(i, 1) = upper;
  }
  return Success;
}

bool PathParametrizationAlgorithm::initializeOrReport() {
  try {
    initialize();
  } catch (const bramlock::internal::PathDimensionMismatch& error) {
    m_messages << error.what() << "\n";
    return false;
  }
  return true;
}

int PathParametrizationAlgorithm::computeFeasibleSets() {
  if (!initializeOrReport()) return FeasibleSetsFailed;
  const Bound x(0, 100), xNext(0, 100);
  Vector solution(2);
  for (int i = 0; i <= N; ++i) {
    value_type lower, upper;
    if (!solveExtremes(i, x, xNext, "feasible set", solution, lower, upper)) return FeasibleSetsFailed;
    m_feasibleSets(i, 0) = lower;
    m_feasibleSets(i, 1) = upper;
  }
  return Success;
}

int PathParametrizationAlgorithm::computePathParametrization(value_type squaredStartSpeed, value_type endSpeed) {
  if (!initializeOrReport()) return m_returnCode = ControllableSetsFailed;
  if (!std::isfinite(endSpeed)) {
    m_messages << "End speed " << endSpeed << " is not a finite number\n";
    return m_returnCode = ControllableSetsFailed;
  }
  if (!std::isfinite(squaredStartSpeed)) {
    m_messages << "Squared start speed " << squaredStartSpeed << " is not a finite number\n";
    return m_returnCode = ForwardPassFailed;
  }
  m_solver->setupSolver();
  m_returnCode = computeControllableSets(Bound(endSpeed, endSpeed));
  if (m_returnCode > 0) return m_returnCode;
  m_returnCode = computeForwardPass(squaredStartSpeed);
  // Constraints that are not numbers can slip through every comparison of the
  // stage solver; their result is no parametrization.
  if (m_returnCode == Success && !m_parametrization.allFinite()) {
    m_messages << "The forward pass produced squared speeds that are not finite\n";
    m_returnCode = ForwardPassFailed;
  }
  if (m_returnCode != Success) return m_returnCode;
  const int atRest = firstStageAtRest(m_parametrization);
  if (atRest >= 0) {
    m_messages << "The path speed stays zero from grid point " << atRest << " to " << atRest + 1
               << ", so the motion never ends\n";
    m_returnCode = ForwardPassFailed;
  }
  return m_returnCode;
}

}  // namespace toppra
