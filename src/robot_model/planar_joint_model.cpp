#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"

#include <algorithm>
#include <cmath>
#include <limits>

#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "joint_value_math.h"

namespace moveit {
namespace core {

using namespace bramlock::internal::joint_math;

namespace {

constexpr int kX = 0, kY = 1, kTheta = 2;

VariableBounds positionBounds(double min, double max, bool bounded) {
  VariableBounds bounds;
  bounds.min_position_ = min;
  bounds.max_position_ = max;
  bounds.position_bounded_ = bounded;
  return bounds;
}

// Progress through a phase of the given share of the whole move; a phase of
// no share is passed at once, so it never divides by zero.
double phaseProgress(double elapsed, double share) { return share > 0.0 ? elapsed / share : 1.0; }

}  // namespace

void computeTurnDriveTurnGeometry(const double* from, const double* to, double min_translational_distance, double& dx,
                                  double& dy, double& initial_turn, double& drive_angle, double& final_turn) {
  dx = to[kX] - from[kX];
  dy = to[kY] - from[kY];
  const double forward_turn =
      std::hypot(dx, dy) > min_translational_distance ? wrapAngle(std::atan2(dy, dx) - from[kTheta]) : 0.0;
  const double backward_turn = wrapAngle(forward_turn - kPi);
  const double forward_final = wrapAngle(to[kTheta] - (from[kTheta] + forward_turn));
  const double backward_final = wrapAngle(to[kTheta] - (from[kTheta] + backward_turn));
  initial_turn =
      std::fabs(forward_final) + std::fabs(forward_turn) <= std::fabs(backward_final) + std::fabs(backward_turn)
          ? forward_turn
          : backward_turn;
  drive_angle = from[kTheta] + initial_turn;
  final_turn = wrapAngle(to[kTheta] - drive_angle);
}

PlanarJointModel::PlanarJointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : JointModel(name, joint_index, first_variable_index) {
  const double inf = std::numeric_limits<double>::infinity();
  const VariableBounds translation = positionBounds(-inf, inf, true);
  initVariables(PLANAR, {"x", "y", "theta"}, {translation, translation, positionBounds(-kPi, kPi, false)});
}

void PlanarJointModel::getVariableDefaultPositions(double* values, const Bounds& bounds) const {
  values[kX] = midOrZero(bounds[kX]);
  values[kY] = midOrZero(bounds[kY]);
  values[kTheta] = 0.0;
}

void PlanarJointModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                                  const Bounds& bounds) const {
  values[kX] = uniformOrZero(rng, bounds[kX]);
  values[kY] = uniformOrZero(rng, bounds[kY]);
  values[kTheta] = uniform(rng, bounds[kTheta].min_position_, bounds[kTheta].max_position_);
}

void PlanarJointModel::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                        const Bounds& bounds, const double* near,
                                                        double distance) const {
  values[kX] = uniformNearOrZero(rng, bounds[kX], near[kX], distance);
  values[kY] = uniformNearOrZero(rng, bounds[kY], near[kY], distance);
  const double turn = std::min(distance * angular_distance_weight_, kPi);
  values[kTheta] = uniform(rng, near[kTheta] - turn, near[kTheta] + turn);
  normalizeRotation(values);
}

bool PlanarJointModel::satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const {
  for (int i = kX; i <= kTheta; ++i) {
    if (!withinBounds(values[i], bounds[i], margin)) return false;
  }
  return true;
}

bool PlanarJointModel::normalizeRotation(double* values) const {
  double& v = values[kTheta];
  // NaN and infinities have no angle to wrap to.
  if ((v >= -kPi && v <= kPi) || !std::isfinite(v)) return false;
  v = bramlock::internal::rotation_math::wrapToPi(v);
  return true;
}

bool PlanarJointModel::enforcePositionBounds(double* values, const Bounds& bounds) const {
  bool changed = normalizeRotation(values);
  changed |= clampToBounds(values[kX], bounds[kX]);
  changed |= clampToBounds(values[kY], bounds[kY]);
  return changed;
}

double PlanarJointModel::distance(const double* a, const double* b) const {
  if (motion_model_ == HOLONOMIC) {
    return std::hypot(a[kX] - b[kX], a[kY] - b[kY]) +
           angular_distance_weight_ * shortestAngleDistance(a[kTheta], b[kTheta]);
  }
  if (motion_model_ == DIFF_DRIVE) {
    double dx, dy, initial_turn, drive_angle, final_turn;
    computeTurnDriveTurnGeometry(a, b, min_translational_distance_, dx, dy, initial_turn, drive_angle, final_turn);
    return std::hypot(dx, dy) + angular_distance_weight_ * (std::fabs(initial_turn) + std::fabs(final_turn));
  }
  return 0.0;
}

unsigned int PlanarJointModel::getStateSpaceDimension() const { return 3; }

void PlanarJointModel::interpolate(const double* from, const double* to, double t, double* state) const {
  if (motion_model_ == HOLONOMIC) {
    state[kX] = from[kX] + t * (to[kX] - from[kX]);
    state[kY] = from[kY] + t * (to[kY] - from[kY]);
    state[kTheta] = interpolateAngle(from[kTheta], to[kTheta], t);
  } else if (motion_model_ == DIFF_DRIVE) {
    interpolateDiffDrive(from, to, t, state);
  }
}

void PlanarJointModel::interpolateDiffDrive(const double* from, const double* to, double t, double* state) const {
  double dx, dy, initial_turn, drive_angle, final_turn;
  computeTurnDriveTurnGeometry(from, to, min_translational_distance_, dx, dy, initial_turn, drive_angle, final_turn);
  const double turn_length = std::fabs(initial_turn) * angular_distance_weight_;
  const double drive_length = std::hypot(dx, dy);
  const double final_length = std::fabs(final_turn) * angular_distance_weight_;
  const double total = turn_length + drive_length + final_length;
  if (!(total > 0.0)) {
    std::copy(to, to + 3, state);
    return;
  }
  const double p1 = turn_length / total, p2 = drive_length / total, p3 = final_length / total;
  if (t <= p1) {
    state[kX] = from[kX];
    state[kY] = from[kY];
    state[kTheta] = from[kTheta] + initial_turn * phaseProgress(t, p1);
  } else if (t <= p1 + p2) {
    const double s = phaseProgress(t - p1, p2);
    state[kX] = from[kX] + dx * s;
    state[kY] = from[kY] + dy * s;
    state[kTheta] = drive_angle;
  } else {
    state[kX] = to[kX];
    state[kY] = to[kY];
    state[kTheta] = drive_angle + final_turn * phaseProgress(t - p1 - p2, p3);
  }
}

double PlanarJointModel::getMaximumExtent(const Bounds& bounds) const {
  return std::hypot(bounds[kX].max_position_ - bounds[kX].min_position_,
                    bounds[kY].max_position_ - bounds[kY].min_position_) +
         angular_distance_weight_ * kPi;
}

void PlanarJointModel::computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const {
  transform = Eigen::Translation3d(joint_values[kX], joint_values[kY], 0.0) *
              Eigen::AngleAxisd(joint_values[kTheta], Eigen::Vector3d::UnitZ());
}

void PlanarJointModel::computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  joint_values[kX] = transform.translation().x();
  joint_values[kY] = transform.translation().y();
  const Eigen::Quaterniond q(transform.linear());
  const double r = 1.0 - q.w() * q.w();
  joint_values[kTheta] = r < 10.0 * kEpsilon ? 0.0 : q.z() / std::sqrt(r) * 2.0 * std::acos(q.w());
}

}  // namespace core
}  // namespace moveit
