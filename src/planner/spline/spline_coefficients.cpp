#include "bramlock_arm_planning_core/planner/spline_coefficients.h"

CubicSplineCoefficients CubicSplineCoefficients::fromHermite(double q0, double q1, double qd0, double qd1, double T) {
  CubicSplineCoefficients segment;
  segment.c0 = q0;
  segment.c1 = qd0;
  segment.c2 = (3.0 * (q1 - q0) - T * (2.0 * qd0 + qd1)) / (T * T);
  segment.c3 = (2.0 * (q0 - q1) + (qd0 + qd1) * T) / (T * T * T);
  return segment;
}

QuinticSplineCoefficients QuinticSplineCoefficients::fromHermite(double q0, double q1, double qd0, double qd1,
                                                                 double a0, double a1, double T) {
  const double delta = q1 - q0;
  const double T2 = T * T;
  const double T3 = T2 * T;
  QuinticSplineCoefficients segment;
  segment.c0 = q0;
  segment.c1 = qd0;
  segment.c2 = a0 / 2.0;
  segment.c3 = (20.0 * delta - (8.0 * qd1 + 12.0 * qd0) * T - (3.0 * a0 - a1) * T2) / (2.0 * T3);
  segment.c4 = (-30.0 * delta + (14.0 * qd1 + 16.0 * qd0) * T + (3.0 * a0 - 2.0 * a1) * T2) / (2.0 * T3 * T);
  segment.c5 = (12.0 * delta - 6.0 * (qd0 + qd1) * T + (a1 - a0) * T2) / (2.0 * T3 * T2);
  return segment;
}
