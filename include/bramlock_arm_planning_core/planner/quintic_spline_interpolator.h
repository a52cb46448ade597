#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"

// Piecewise quintic of one joint with position, velocity and acceleration at every knot;
// each segment is the quintic Hermite polynomial through its two knots.
struct BRAMLOCK_EXPORT QuinticSplineInterpolator {
  std::vector<double> times;  // strictly increasing knot times, seconds
  std::vector<double> positions;
  std::vector<double> velocities;
  std::vector<double> accelerations;
  int count = 0;

  // times and positions must have the same length, times must increase strictly and every number
  // must be finite, and the solved velocities and accelerations too (std::invalid_argument otherwise).
  QuinticSplineInterpolator(const std::vector<double>& knot_times, const std::vector<double>& knot_positions,
                            double start_velocity, double end_velocity, double start_acceleration,
                            double end_acceleration);

  // Clamps both ends and solves interior velocities (as for a C2 cubic) and accelerations
  // (jerk continuous at interior knots). Fewer than two knots: nothing. Throws
  // std::invalid_argument as the constructor does.
  void buildClamped(double start_velocity, double end_velocity, double start_acceleration, double end_acceleration);

  // Values at time e within [times.front(), times.back()]; a time on an interior knot belongs to
  // the segment that starts there. Needs at least two knots.
  double position(double e) const { return valueAt(e, &QuinticSplineCoefficients::position); }
  double velocity(double e) const { return valueAt(e, &QuinticSplineCoefficients::velocity); }
  double acceleration(double e) const { return valueAt(e, &QuinticSplineCoefficients::acceleration); }
  double jerk(double e) const { return valueAt(e, &QuinticSplineCoefficients::jerk); }

 private:
  using Derivative = double (QuinticSplineCoefficients::*)(double) const;
  // The derivative of the segment polynomial that holds e, at e.
  double valueAt(double e, Derivative derivative) const;
};
