#include <stdexcept>

#include "bramlock_arm_planning_core/toppra/solver/glpk_wrapper.h"
#include "bramlock_arm_planning_core/toppra/solver/qpoases_wrapper.h"

namespace toppra {
namespace solver {

namespace {
constexpr const char* kNoGlpk = "TOPPRA was not built with GLPK support.";
constexpr const char* kNoQpOases = "TOPPRA was not built with qpOASES support.";
}  // namespace

bool GLPKWrapper::solveStagewiseOptim(std::size_t, const Matrix&, const Vector&, const Bound&, const Bound&, Vector&) {
  throw std::invalid_argument(kNoGlpk);
}

void GLPKWrapper::initialize(const LinearConstraintPtrs&, const GeometricPathPtr&, const Vector&) {
  throw std::invalid_argument(kNoGlpk);
}

double qpOASESWrapper::m_defaultBoundary = 1e16;

bool qpOASESWrapper::solveStagewiseOptim(std::size_t, const Matrix&, const Vector&, const Bound&, const Bound&,
                                         Vector&) {
  throw std::invalid_argument(kNoQpOases);
}

void qpOASESWrapper::initialize(const LinearConstraintPtrs&, const GeometricPathPtr&, const Vector&) {
  throw std::invalid_argument(kNoQpOases);
}

void qpOASESWrapper::setDefaultBoundary(const double& value) { m_defaultBoundary = value; }

}  // namespace solver
}  // namespace toppra
