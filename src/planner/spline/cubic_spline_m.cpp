#include "bramlock_arm_planning_core/planner/cubic_spline_m.h"

#include <cstddef>
#include <stdexcept>

#include "planner/spline/spline_systems.h"

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
  bramlock::internal::requireFiniteKnots("cubic spline", times, values, {start_slope, end_slope});
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
  moments = bramlock::internal::solveTridiagonal(mu, diag, lambda, rhs);
}

double CubicSplineM::position(double e) const {
  const std::size_t i = bramlock::internal::segmentIndex(times, e);
  const double h = times[i + 1] - times[i];
  const double A = (times[i + 1] - e) / h;
  const double B = (e - times[i]) / h;
  return A * values[i] + B * values[i + 1] +
         ((A * A * A - A) * moments[i] + (B * B * B - B) * moments[i + 1]) * h * h / 6.0;
}

double CubicSplineM::velocity(double e) const {
  const std::size_t i = bramlock::internal::segmentIndex(times, e);
  const double h = times[i + 1] - times[i];
  const double from_start = e - times[i];
  const double to_end = times[i + 1] - e;
  return (values[i + 1] - values[i]) / h - (moments[i + 1] - moments[i]) * h / 6.0 +
         moments[i + 1] * from_start * from_start / (2.0 * h) - moments[i] * to_end * to_end / (2.0 * h);
}

double CubicSplineM::acceleration(double e) const {
  const std::size_t i = bramlock::internal::segmentIndex(times, e);
  const double h = times[i + 1] - times[i];
  return (moments[i] * (times[i + 1] - e) + moments[i + 1] * (e - times[i])) / h;
}
