#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"

#include <cstddef>
#include <exception>
#include <stdexcept>

#include "bramlock_arm_planning_core/logger.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/spline_coefficients.h"
#include "planner/spline/spline_systems.h"

namespace {

constexpr double kShortestDuration = 1e-12;
constexpr double kSmallestTorqueLimit = 1e-12;

// Largest torque ratio over the points k T / samples, k = 0 .. samples, of one segment per joint.
template <class Segment>
double maxTorqueRatio(const std::vector<Segment>& segments, double T, int samples, const std::vector<double>& limits,
                      const bramlock::dynamics::Model& model, bramlock::dynamics::Data& data) {
  const Eigen::Index joints = static_cast<Eigen::Index>(segments.size());
  Eigen::VectorXd q(joints), v(joints), a(joints);
  double largest = 0.0;
  for (int k = 0; k <= samples; ++k) {
    const double t = k * T / samples;
    for (Eigen::Index j = 0; j < joints; ++j) {
      const Segment& segment = segments[static_cast<std::size_t>(j)];
      q[j] = segment.position(t);
      v[j] = segment.velocity(t);
      a[j] = segment.acceleration(t);
    }
    largest = std::max(largest, largestTorqueRatio(bramlock::dynamics::rnea(model, data, q, v, a), limits));
  }
  return largest;
}

std::size_t checkedJointCount(int joints) {
  if (joints < 0) {
    throw std::invalid_argument("negative joint count");
  }
  return static_cast<std::size_t>(joints);
}

ConstraintEvaluation cartesianSpeedRatios(const Eigen::VectorXd& q, const Eigen::VectorXd& v,
                                          const CartesianConstraints& limits, const bramlock::dynamics::Model& model,
                                          bramlock::dynamics::Data& data, const char* function) {
  ConstraintEvaluation evaluation;
  if (!limits.enabled || !model.isFrameIndex(limits.frame_id)) {
    return evaluation;
  }
  try {
    bramlock::dynamics::forwardKinematics(model, data, q, v);
    const auto velocity =
        bramlock::dynamics::frameVelocity(model, data, static_cast<bramlock::dynamics::FrameIndex>(limits.frame_id));
    evaluation.linear_velocity_ratio = limitRatio(velocity.linear.norm(), limits.max_linear_velocity);
    evaluation.angular_velocity_ratio = limitRatio(velocity.angular.norm(), limits.max_angular_velocity);
    evaluation.violated = evaluation.linear_velocity_ratio > kViolationThreshold ||
                          evaluation.angular_velocity_ratio > kViolationThreshold;
  } catch (const std::exception& error) {
    bramlock::detail::logStatement(bramlock::kLogInfo, __FILE__, __LINE__, function, "计算笛卡尔速度时出错: {}",
                                   error.what());
    return ConstraintEvaluation();
  }
  return evaluation;
}

}  // namespace

double largestTorqueRatio(const Eigen::VectorXd& tau, const std::vector<double>& limits) {
  const std::size_t limited = std::min(static_cast<std::size_t>(tau.size()), limits.size());
  double largest = 0.0;
  for (std::size_t j = 0; j < limited; ++j) {
    if (limits[j] > kSmallestTorqueLimit) {
      largest = std::max(largest, limitRatio(std::fabs(tau[static_cast<Eigen::Index>(j)]), limits[j]));
    }
  }
  return largest;
}

std::vector<double> solveJointVelocities(const std::vector<double>& q, const std::vector<double>& durations) {
  if (q.size() < 2) {
    return {0.0};
  }
  if (durations.size() + 1 != q.size()) {
    throw std::invalid_argument("solveJointVelocities needs one duration per segment");
  }
  bramlock::internal::requireFiniteKnots("solveJointVelocities", {}, q, {});
  bramlock::internal::requireFiniteKnots("solveJointVelocities", {}, durations, {});
  return bramlock::internal::clampedKnotVelocities(q, durations, 0.0, 0.0, bramlock::internal::signKeepingGuard);
}

ConstraintEvaluation evaluateSegmentConstraints(double q0, double q1, double qd0, double qd1, double T, double vmax0,
                                                double vmax1, double amax0, double amax1, int samples) {
  if (!(T > 0.0) || !std::isfinite(T)) {
    throw std::invalid_argument("segment duration must be a positive finite number");
  }
  if (T <= kShortestDuration) {
    return ConstraintEvaluation();
  }
  const auto segment = CubicSplineCoefficients::fromHermite(q0, q1, qd0, qd1, T);
  return evaluateJointLimitRatios(segment, T, vmax0, vmax1, amax0, amax1, samples);
}

double evaluateTorqueConstraintsForSegment(int segment, double T, const std::vector<std::vector<double>>& positions,
                                           const std::vector<std::vector<double>>& velocities,
                                           const std::vector<double>& limits, const bramlock::dynamics::Model& model,
                                           bramlock::dynamics::Data& data, int joints, int samples) {
  if (T <= kShortestDuration || limits.empty() || samples < 1) {
    return 0.0;
  }
  const std::size_t s = static_cast<std::size_t>(segment);
  std::vector<CubicSplineCoefficients> segments;
  for (std::size_t j = 0; j < checkedJointCount(joints); ++j) {
    segments.push_back(CubicSplineCoefficients::fromHermite(positions.at(j).at(s), positions.at(j).at(s + 1),
                                                            velocities.at(j).at(s), velocities.at(j).at(s + 1), T));
  }
  return maxTorqueRatio(segments, T, samples, limits, model, data);
}

double evaluateQuinticTorqueConstraintsForSegment(int segment, const std::vector<std::vector<double>>& positions,
                                                  const std::vector<std::vector<double>>& velocities,
                                                  const std::vector<std::vector<double>>& accelerations,
                                                  const std::vector<double>& limits,
                                                  const bramlock::dynamics::Model& model,
                                                  bramlock::dynamics::Data& data, int joints, double T) {
  if (T <= kShortestDuration || limits.empty()) {
    return 0.0;
  }
  const std::size_t s = static_cast<std::size_t>(segment);
  std::vector<QuinticSplineCoefficients> segments;
  for (std::size_t j = 0; j < checkedJointCount(joints); ++j) {
    segments.push_back(QuinticSplineCoefficients::fromHermite(
        positions.at(j).at(s), positions.at(j).at(s + 1), velocities.at(j).at(s), velocities.at(j).at(s + 1),
        accelerations.at(j).at(s), accelerations.at(j).at(s + 1), T));
  }
  return maxTorqueRatio(segments, T, 5, limits, model, data);
}

ConstraintEvaluation evaluateCartesianConstraints(const Eigen::VectorXd& q, const Eigen::VectorXd& v,
                                                  const CartesianConstraints& limits,
                                                  const bramlock::dynamics::Model& model,
                                                  bramlock::dynamics::Data& data) {
  return cartesianSpeedRatios(q, v, limits, model, data, __func__);
}

ConstraintEvaluation evaluateQuinticCartesianConstraints(const Eigen::VectorXd& q, const Eigen::VectorXd& v,
                                                         const CartesianConstraints& limits,
                                                         const bramlock::dynamics::Model& model,
                                                         bramlock::dynamics::Data& data) {
  return cartesianSpeedRatios(q, v, limits, model, data, __func__);
}
