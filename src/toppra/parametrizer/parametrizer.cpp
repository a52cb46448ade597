#include "bramlock_arm_planning_core/toppra/parametrizer/parametrizer.h"

#include <cmath>
#include <sstream>
#include <stdexcept>
#include <utility>

namespace toppra {

namespace {

// Squared speeds this little below zero are rounding of a solver result, not
// negative speeds.
constexpr value_type kSquaredSpeedRounding = 1e-12;

template <typename... Parts>
[[noreturn]] void refuse(const Parts&... parts) {
  std::ostringstream text;
  (text << ... << parts);
  throw std::invalid_argument(text.str());
}

// The grid must span the path interval and strictly increase, with one
// squared speed (not negative, not NaN) per grid point.
void checkInput(const GeometricPath& path, const Vector& gridpoints, const Vector& vsquared) {
  const Eigen::Index n = gridpoints.size();
  if (n != vsquared.size()) refuse(n, " grid points but ", vsquared.size(), " squared speeds.");
  for (Eigen::Index i = 0; i < n; ++i) {
    if (!(vsquared[i] >= -kSquaredSpeedRounding))
      refuse("Squared speed ", vsquared[i], " at grid point ", i, " is negative or not a number.");
    if (i > 0 && !(gridpoints[i] > gridpoints[i - 1]))
      refuse("Grid point ", i, " (", gridpoints[i], ") is not above grid point ", i - 1, " (", gridpoints[i - 1],
             "): the grid must strictly increase.");
  }
  const Bound interval = path.pathInterval();
  if (n == 0 || !(std::abs(interval[0] - gridpoints[0]) < TOPPRA_NEARLY_ZERO) ||
      !(std::abs(interval[1] - gridpoints[n - 1]) < TOPPRA_NEARLY_ZERO))
    refuse("The grid does not span the path interval [", interval[0], ", ", interval[1], "].");
}

}  // namespace

Parametrizer::Parametrizer(GeometricPathPtr path, const Vector& gridpoints, const Vector& vsquared)
    : GeometricPath(path->configSize(), path->dof()), m_path(std::move(path)), m_gridpoints(gridpoints) {
  checkInput(*m_path, gridpoints, vsquared);
  m_speeds = vsquared.cwiseMax(value_type(0)).cwiseSqrt();
}

Vector Parametrizer::eval_single(value_type t, int order) const { return eval_impl(Vector::Constant(1, t), order)[0]; }

Vectors Parametrizer::eval(const Vector& times, int order) const { return eval_impl(times, order); }

Bound Parametrizer::pathInterval() const { return pathInterval_impl(); }

bool Parametrizer::validate() const { return validate_impl(); }

}  // namespace toppra
