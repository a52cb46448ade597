#pragma once

#include <algorithm>
#include <cmath>
#include <limits>
#include <vector>

#include <Eigen/Core>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_data.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"
#include "bramlock_arm_planning_core/planner/waypoint_constraints.h"

// Ratios value / limit of one segment or sample; above 1 is a violation.
struct BRAMLOCK_EXPORT ConstraintEvaluation {
  double velocity_ratio = 0.0;
  double acceleration_ratio = 0.0;
  double linear_velocity_ratio = 0.0;
  double angular_velocity_ratio = 0.0;
  double extra_ratio = 0.0;
  bool violated = false;
};

// Ratios a hair above 1 are rounding, not violations.
constexpr double kViolationThreshold = 1.000001;

// value / limit. A ratio that is not a number (NaN input, 0 / 0) or a limit
// that is not positive counts as unbounded, so that it violates instead of
// passing every test.
inline double limitRatio(double value, double limit) {
  const double ratio = value / limit;
  return std::isnan(ratio) || !(limit > 0.0) ? std::numeric_limits<double>::infinity() : ratio;
}

// Waypoint velocities of the clamped (rest-to-rest) C2 cubic through one joint's positions q
// with the given segment durations (one fewer than positions). Fewer than two positions: {0}.
// Throws std::invalid_argument for a wrong count of durations or a value (given or solved) that is
// not finite.
BRAMLOCK_EXPORT std::vector<double> solveJointVelocities(const std::vector<double>& q,
                                                         const std::vector<double>& durations);

// Raises the velocity and acceleration ratios of evaluation to those of a segment polynomial
// (velocity(t), acceleration(t)) at time t of [0, T], against limits interpolated linearly from
// the start to the end.
template <class Segment>
void takeJointLimitRatiosAt(const Segment& segment, double t, double T, double vmax0, double vmax1, double amax0,
                            double amax1, ConstraintEvaluation& evaluation) {
  const double s = t / T;
  // At the ends a limit stands for itself (an infinite other end would turn the blend into NaN).
  const auto blend = [s](double start, double end) {
    return s <= 0.0 ? start : (s >= 1.0 ? end : start * (1.0 - s) + end * s);
  };
  const double vlim = blend(vmax0, vmax1);
  const double alim = blend(amax0, amax1);
  evaluation.velocity_ratio = std::max(evaluation.velocity_ratio, limitRatio(std::fabs(segment.velocity(t)), vlim));
  evaluation.acceleration_ratio =
      std::max(evaluation.acceleration_ratio, limitRatio(std::fabs(segment.acceleration(t)), alim));
}

// Velocity and acceleration ratios of a segment polynomial (velocity(t), acceleration(t)) on [0, T]:
// its two ends against their own limits, and with samples >= 2 the interior points k T / samples,
// k = 1 .. samples - 1, against limits interpolated linearly from the start to the end.
template <class Segment>
ConstraintEvaluation evaluateJointLimitRatios(const Segment& segment, double T, double vmax0, double vmax1,
                                              double amax0, double amax1, int samples) {
  ConstraintEvaluation evaluation;
  evaluation.velocity_ratio =
      std::max(limitRatio(std::fabs(segment.velocity(0.0)), vmax0), limitRatio(std::fabs(segment.velocity(T)), vmax1));
  evaluation.acceleration_ratio = std::max(limitRatio(std::fabs(segment.acceleration(0.0)), amax0),
                                           limitRatio(std::fabs(segment.acceleration(T)), amax1));
  for (int k = 1; samples >= 2 && k < samples; ++k) {
    takeJointLimitRatiosAt(segment, k * T / samples, T, vmax0, vmax1, amax0, amax1, evaluation);
  }
  evaluation.violated = std::max(evaluation.velocity_ratio, evaluation.acceleration_ratio) > kViolationThreshold;
  return evaluation;
}

// Joint velocity and acceleration ratios of the cubic Hermite segment from (q0, qd0) to (q1, qd1)
// in time T; a fresh record when 0 < T <= 1e-12. Throws std::invalid_argument when T is not a
// positive finite number.
BRAMLOCK_EXPORT ConstraintEvaluation evaluateSegmentConstraints(double q0, double q1, double qd0, double qd1, double T,
                                                                double vmax0, double vmax1, double amax0, double amax1,
                                                                int samples);

// Largest |tau[j]| / limits[j] over the joints whose limit exceeds 1e-12 (0 when there is none);
// infinity when a ratio is not a number.
double largestTorqueRatio(const Eigen::VectorXd& tau, const std::vector<double>& limits);

// Largest |torque| / limit over the points k T / samples, k = 0 .. samples, of segment `segment` of
// the cubic Hermite spline given joint-major by positions and velocities, over the joints whose
// limit exceeds 1e-12. 0 when T <= 1e-12, limits are empty or samples < 1; infinity when a ratio
// is not a number.
BRAMLOCK_EXPORT double evaluateTorqueConstraintsForSegment(int segment, double T,
                                                           const std::vector<std::vector<double>>& positions,
                                                           const std::vector<std::vector<double>>& velocities,
                                                           const std::vector<double>& limits,
                                                           const bramlock::dynamics::Model& model,
                                                           bramlock::dynamics::Data& data, int joints, int samples);

// The same for the quintic Hermite spline (also given accelerations) at the six points k T / 5.
BRAMLOCK_EXPORT double evaluateQuinticTorqueConstraintsForSegment(
    int segment, const std::vector<std::vector<double>>& positions, const std::vector<std::vector<double>>& velocities,
    const std::vector<std::vector<double>>& accelerations, const std::vector<double>& limits,
    const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data, int joints, double T);

// Linear and angular speed ratios of the limited frame at joint positions q and velocities v.
// A fresh record when the limits are off or name no frame of the model; a dynamics error is
// logged and counts as no violation. A ratio that is not a number is infinite and violated.
BRAMLOCK_EXPORT ConstraintEvaluation evaluateCartesianConstraints(const Eigen::VectorXd& q, const Eigen::VectorXd& v,
                                                                  const CartesianConstraints& limits,
                                                                  const bramlock::dynamics::Model& model,
                                                                  bramlock::dynamics::Data& data);
BRAMLOCK_EXPORT ConstraintEvaluation evaluateQuinticCartesianConstraints(const Eigen::VectorXd& q,
                                                                         const Eigen::VectorXd& v,
                                                                         const CartesianConstraints& limits,
                                                                         const bramlock::dynamics::Model& model,
                                                                         bramlock::dynamics::Data& data);
