#pragma once

#include "bramlock_arm_planning_core/export.h"

// Cubic Hermite segment c0 + c1 t + c2 t^2 + c3 t^3 on [0, T] from end positions and velocities.
struct BRAMLOCK_EXPORT CubicSplineCoefficients {
  double c0 = 0.0;
  double c1 = 0.0;
  double c2 = 0.0;
  double c3 = 0.0;

  // T must be positive.
  static CubicSplineCoefficients fromHermite(double q0, double q1, double qd0, double qd1, double T);
  double position(double t) const { return c0 + t * (c1 + t * (c2 + t * c3)); }
  double velocity(double t) const { return c1 + t * (2.0 * c2 + t * 3.0 * c3); }
  double acceleration(double t) const { return 2.0 * c2 + 6.0 * c3 * t; }
};

// Quintic Hermite segment c0 + ... + c5 t^5 on [0, T] from end positions, velocities and accelerations.
struct BRAMLOCK_EXPORT QuinticSplineCoefficients {
  double c0 = 0.0;
  double c1 = 0.0;
  double c2 = 0.0;
  double c3 = 0.0;
  double c4 = 0.0;
  double c5 = 0.0;

  // T must be positive.
  static QuinticSplineCoefficients fromHermite(double q0, double q1, double qd0, double qd1, double a0, double a1,
                                               double T);
  double position(double t) const { return c0 + t * (c1 + t * (c2 + t * (c3 + t * (c4 + t * c5)))); }
  double velocity(double t) const { return c1 + t * (2.0 * c2 + t * (3.0 * c3 + t * (4.0 * c4 + t * 5.0 * c5))); }
  double acceleration(double t) const { return 2.0 * c2 + t * (6.0 * c3 + t * (12.0 * c4 + t * 20.0 * c5)); }
  double jerk(double t) const { return 6.0 * c3 + t * (24.0 * c4 + t * 60.0 * c5); }
};
