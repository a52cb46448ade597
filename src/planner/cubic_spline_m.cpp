#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"

#include <cstddef>
#include <stdexcept>

#include "spline_systems.h"

CubicSplineM::CubicSplineM(const std::vector<double>& knot_times, const std::vector<double>& knot_values,
                           double start_slope, double end_slope)
    : times(knot_times),
      values(knot_values),
      moments(knot_times.size(), 0.0),
      count(static_cast<int>(knot_times.size())) {
  if (knot_values.size() != knot_times.size()) {
    throw std::invalid_argument("a cubic spline needs one value per knot time");
  }
  buildClamped(start_slope, end_slope);
}

void CubicSplineM::buildClamped(double start_slope, double end_slope) {
  bramlock::spline_systems::requireFiniteKnots("cubic spline", times, values, {start_slope, end_slope});
  const std::size_t n = times.size();
  if (n < 2) {
    return;
  }
  std::vector<double> h(n - 1), slope(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    h[i] = times[i + 1] - times[i];
    slope[i] = (values[i + 1] - values[i]) / h[i];
  }
  std::vector<double> mu(n, 1.0), diag(n, 2.0), lambda(n, 1.0), rhs(n);
  rhs[0] = 6.0 * (slope[0] - start_slope) / h[0];
  rhs[n - 1] = 6.0 * (end_slope - slope[n - 2]) / h[n - 2];
  for (std::size_t i = 1; i + 1 < n; ++i) {
    const double span = h[i - 1] + h[i];
    mu[i] = h[i - 1] / span;
    lambda[i] = h[i] / span;
    rhs[i] = 6.0 * (slope[i] - slope[i - 1]) / span;
  }
  moments = bramlock::spline_systems::solveTridiagonal(mu, diag, lambda, rhs);
}
