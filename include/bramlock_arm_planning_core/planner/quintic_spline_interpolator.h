#pragma once

#include <vector>

// Piecewise quintic of one joint with position, velocity and acceleration at every knot;
// each segment is the quintic Hermite polynomial through its two knots.
struct QuinticSplineInterpolator {
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
};
