#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"

#include <cmath>
#include <cstdio>

#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "joint_value_math.h"

namespace moveit {
namespace core {

using namespace bramlock::internal::joint_math;

RevoluteJointModel::RevoluteJointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : JointModel(name, joint_index, first_variable_index) {
  VariableBounds bounds;
  bounds.min_position_ = -kPi;
  bounds.max_position_ = kPi;
  bounds.position_bounded_ = true;
  initVariables(REVOLUTE, {}, {bounds});
}

void RevoluteJointModel::setAxis(const Eigen::Vector3d& axis) {
  const double norm = axis.norm();
  if (norm > 0.0) {
    axis_ = axis / norm;
  } else {
    std::printf("Revolute joint '%s' has a zero axis; using (1 0 0)\n", getName().c_str());
    axis_ = Eigen::Vector3d::UnitX();
  }
  x2_ = axis_.x() * axis_.x();
  y2_ = axis_.y() * axis_.y();
  z2_ = axis_.z() * axis_.z();
  xy_ = axis_.x() * axis_.y();
  xz_ = axis_.x() * axis_.z();
  yz_ = axis_.y() * axis_.z();
}

void RevoluteJointModel::setContinuous(bool flag) {
  continuous_ = flag;
  VariableBounds& bounds = firstVariableBounds();
  bounds.position_bounded_ = !flag;
  if (flag) {
    bounds.min_position_ = -kPi;
    bounds.max_position_ = kPi;
  }
}

void RevoluteJointModel::getVariableDefaultPositions(double* values, const Bounds& bounds) const {
  values[0] = midOrZero(bounds[0]);
}

void RevoluteJointModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                                    const Bounds& bounds) const {
  values[0] = uniform(rng, bounds[0].min_position_, bounds[0].max_position_);
}

void RevoluteJointModel::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                          const Bounds& bounds, const double* near,
                                                          double distance) const {
  if (continuous_) {
    values[0] = uniform(rng, near[0] - distance, near[0] + distance);
    enforcePositionBounds(values, bounds);
  } else {
    values[0] = uniformNear(rng, bounds[0], near[0], distance);
  }
}

bool RevoluteJointModel::satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const {
  return continuous_ ? std::isfinite(values[0]) : withinBounds(values[0], bounds[0], margin);
}

bool RevoluteJointModel::enforcePositionBounds(double* values, const Bounds& bounds) const {
  if (!continuous_) return clampToBounds(values[0], bounds[0]);
  double& v = values[0];
  // NaN and infinities have no angle to wrap to.
  if ((v > -kPi && v <= kPi) || !std::isfinite(v)) return false;
  v = wrapAngle(v);
  return true;
}

// The whole turns are counted at once (a step of 2 pi at a time would take
// ~1e11 steps near 1e12 and never end where v + 2 pi == v). The bound the value
// moves towards must be finite: there is no largest turn below infinity.
bool RevoluteJointModel::harmonizePosition(double* values, const Bounds& bounds) const {
  double& v = values[0];
  const double min = bounds[0].min_position_, max = bounds[0].max_position_;
  if (!std::isfinite(v)) return false;
  if (v < min && v + kTwoPi <= max && std::isfinite(max)) {
    v = max - std::fmod(max - v, kTwoPi);
    return true;
  }
  if (v > max && v - kTwoPi >= min && std::isfinite(min)) {
    v = min + std::fmod(v - min, kTwoPi);
    return true;
  }
  return false;
}

double RevoluteJointModel::distance(const double* a, const double* b) const {
  return continuous_ ? shortestAngleDistance(a[0], b[0]) : std::fabs(a[0] - b[0]);
}

unsigned int RevoluteJointModel::getStateSpaceDimension() const { return 1; }

void RevoluteJointModel::interpolate(const double* from, const double* to, double t, double* state) const {
  state[0] = continuous_ ? interpolateAngle(from[0], to[0], t) : from[0] + t * (to[0] - from[0]);
}

double RevoluteJointModel::getMaximumExtent(const Bounds& bounds) const {
  return bounds[0].max_position_ - bounds[0].min_position_;
}

void RevoluteJointModel::computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const {
  const double c = std::cos(joint_values[0]);
  const double s = std::sin(joint_values[0]);
  const double v = 1.0 - c;
  const double x = axis_.x(), y = axis_.y(), z = axis_.z();
  Eigen::Matrix3d rotation;
  rotation << x2_ * v + c, xy_ * v - z * s, xz_ * v + y * s,  //
      xy_ * v + z * s, y2_ * v + c, yz_ * v - x * s,          //
      xz_ * v - y * s, yz_ * v + x * s, z2_ * v + c;
  transform.linear() = rotation;
  transform.translation().setZero();
  transform.makeAffine();
}

void RevoluteJointModel::computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  Eigen::Quaterniond q(transform.linear());
  if (q.norm() > 0.0) q.normalize();
  const Eigen::Vector3d magnitude = axis_.cwiseAbs();
  int i = 0;
  if (magnitude.z() > magnitude.x() && magnitude.z() > magnitude.y()) {
    i = 2;
  } else if (magnitude.y() > magnitude.x()) {
    i = 1;
  }
  joint_values[0] = 2.0 * std::atan2(q.vec()[i] / axis_[i], q.w());
}

}  // namespace core
}  // namespace moveit
