#pragma once

#include <vector>

#include "bramlock_arm_planning_core/export.h"

// Clamped cubic spline of one joint, held as its second derivatives (moments) at the knots.
struct BRAMLOCK_EXPORT CubicSplineM {
  std::vector<double> times;   // strictly increasing knot times, seconds
  std::vector<double> values;  // joint position at each knot
  std::vector<double> moments;
  int count = 0;

  // times and values must have the same length, times must increase strictly and every number
  // must be finite, and the moments too (std::invalid_argument otherwise).
  CubicSplineM(const std::vector<double>& knot_times, const std::vector<double>& knot_values, double start_slope,
               double end_slope);

  // Solves the moments for the given end slopes; with fewer than two knots they stay zero.
  // Throws std::invalid_argument as the constructor does.
  void buildClamped(double start_slope, double end_slope);

  // Values at time e within [times.front(), times.back()]; a time on an interior knot belongs to
  // the segment that starts there. Needs at least two knots.
  double position(double e) const;
  double velocity(double e) const;
  double acceleration(double e) const;
};
