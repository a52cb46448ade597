#include "bramlock_arm_planning_core/planner/quintic_spline_interpolator.h"

#include <cstddef>
#include <stdexcept>

#include "planner/spline/spline_systems.h"

QuinticSplineInterpolator::QuinticSplineInterpolator(const std::vector<double>& knot_times,
                                                     const std::vector<double>& knot_positions, double start_velocity,
                                                     double end_velocity, double start_acceleration,
                                                     double end_acceleration)
    : times(knot_times),
      positions(knot_positions),
      velocities(knot_times.size(), 0.0),
      accelerations(knot_times.size(), 0.0),
      count(static_cast<int>(knot_times.size())) {
  if (knot_positions.size() != knot_times.size()) {
    throw std::invalid_argument("a quintic spline needs one position per knot time");
  }
  buildClamped(start_velocity, end_velocity, start_acceleration, end_acceleration);
}

void QuinticSplineInterpolator::buildClamped(double start_velocity, double end_velocity, double start_acceleration,
                                             double end_acceleration) {
  bramlock::internal::requireFiniteKnots("quintic spline", times, positions,
                                         {start_velocity, end_velocity, start_acceleration, end_acceleration});
  const std::size_t n = times.size();
  if (n < 2) {
    return;
  }
  velocities.front() = start_velocity;
  velocities.back() = end_velocity;
  accelerations.front() = start_acceleration;
  accelerations.back() = end_acceleration;
  if (n == 2) {
    return;
  }
  std::vector<double> h(n - 1);
  for (std::size_t i = 0; i + 1 < n; ++i) {
    h[i] = times[i + 1] - times[i];
  }
  velocities = bramlock::internal::clampedKnotVelocities(positions, h, start_velocity, end_velocity,
                                                         bramlock::internal::positiveGuard);
  // Row k is interior knot k + 1; the known end accelerations move to the right side.
  const std::size_t m = n - 2;
  std::vector<double> sub(m), diag(m), sup(m), rhs(m);
  for (std::size_t k = 0; k < m; ++k) {
    const std::size_t i = k + 1;
    const double h0 = h[i - 1];
    const double h1 = h[i];
    const double d0 = positions[i] - positions[i - 1];
    const double d1 = positions[i + 1] - positions[i];
    sub[k] = -6.0 / h0;
    diag[k] = 18.0 / h0 + 18.0 / h1;
    sup[k] = -6.0 / h1;
    rhs[k] = 120.0 * d1 / (h1 * h1 * h1) - 72.0 * velocities[i] / (h1 * h1) - 48.0 * velocities[i + 1] / (h1 * h1) -
             120.0 * d0 / (h0 * h0 * h0) + 48.0 * velocities[i - 1] / (h0 * h0) + 72.0 * velocities[i] / (h0 * h0);
  }
  rhs.front() += 6.0 / h[0] * start_acceleration;
  rhs.back() += 6.0 / h[n - 2] * end_acceleration;
  const std::vector<double> interior = bramlock::internal::solveTridiagonal(sub, diag, sup, rhs);
  for (std::size_t k = 0; k < m; ++k) {
    accelerations[k + 1] = interior[k];
  }
}

double QuinticSplineInterpolator::valueAt(double e, Derivative derivative) const {
  const std::size_t i = bramlock::internal::segmentIndex(times, e);
  const QuinticSplineCoefficients segment =
      QuinticSplineCoefficients::fromHermite(positions[i], positions[i + 1], velocities[i], velocities[i + 1],
                                             accelerations[i], accelerations[i + 1], times[i + 1] - times[i]);
  return (segment.*derivative)(e - times[i]);
}
