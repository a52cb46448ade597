#include "bramlock_arm_planning_core/toppra/parametrizer/parametrizer.h"

#include <cassert>
#include <cmath>
#include <utility>

namespace toppra {

namespace {

// Squared speeds this little below zero are rounding of a solver result, not
// negative speeds.
constexpr value_type kSquaredSpeedRounding = 1e-12;

Vector speedsOf(const Vector& vsquared) {
  assert((vsquared.array() >= -kSquaredSpeedRounding).all());
  return vsquared.cwiseMax(value_type(0)).cwiseSqrt();
}

}  // namespace

Parametrizer::Parametrizer(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared)
    : GeometricPath(path->configSize(), path->dof()),
      m_path(std::move(path)),
      m_gridpoints(gridpoints),
      m_speeds(speedsOf(vsquared)) {
  const Eigen::Index n = gridpoints.size();
  assert(n == vsquared.size());
  for (Eigen::Index i = 1; i < n; ++i) assert(gridpoints[i] > gridpoints[i - 1]);
  const Bound interval = m_path->pathInterval();
  assert(std::abs(interval[0] - gridpoints[0]) < TOPPRA_NEARLY_ZERO);
  assert(std::abs(interval[1] - gridpoints[n - 1]) < TOPPRA_NEARLY_ZERO);
  (void)interval;
}

Vector Parametrizer::eval_single(value_type t, int order) const { return eval_impl(Vector::Constant(1, t), order)[0]; }

Vectors Parametrizer::eval(const Vector& times, int order) const { return eval_impl(times, order); }

Bound Parametrizer::pathInterval() const { return pathInterval_impl(); }

bool Parametrizer::validate() const { return validate_impl(); }

}  // namespace toppra
