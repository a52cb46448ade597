#include "bramlock_arm_planning_core/robot_model/floating_joint_model.h"

#include <cmath>
#include <limits>

#include "bramlock_arm_planning_core/robot_model/check_isometry.h"
#include "joint_value_math.h"

namespace moveit {
namespace core {

using namespace bramlock::internal::joint_math;

namespace {

constexpr int kTranslationCount = 3;
constexpr int kRotation = 3;  // index of rot_x; rot_w follows at 6

// Quaternion of values[3..6] (x, y, z, w order in the state).
Eigen::Quaterniond rotationOf(const double* values) {
  return Eigen::Quaterniond(values[kRotation + 3], values[kRotation], values[kRotation + 1], values[kRotation + 2]);
}

void writeRotation(const Eigen::Quaterniond& q, double* values) {
  values[kRotation] = q.x();
  values[kRotation + 1] = q.y();
  values[kRotation + 2] = q.z();
  values[kRotation + 3] = q.w();
}

VariableBounds positionBounds(double min, double max) {
  VariableBounds bounds;
  bounds.min_position_ = min;
  bounds.max_position_ = max;
  bounds.position_bounded_ = true;
  return bounds;
}

}  // namespace

FloatingJointModel::FloatingJointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : JointModel(name, joint_index, first_variable_index) {
  const double inf = std::numeric_limits<double>::infinity();
  const VariableBounds translation = positionBounds(-inf, inf);
  const VariableBounds rotation = positionBounds(-1.0, 1.0);
  initVariables(FLOATING, {"trans_x", "trans_y", "trans_z", "rot_x", "rot_y", "rot_z", "rot_w"},
                {translation, translation, translation, rotation, rotation, rotation, rotation});
}

void FloatingJointModel::getVariableDefaultPositions(double* values, const Bounds& bounds) const {
  for (int i = 0; i < kTranslationCount; ++i) values[i] = midOrZero(bounds[i]);
  writeRotation(Eigen::Quaterniond::Identity(), values);
}

void FloatingJointModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                                    const Bounds& bounds) const {
  for (int i = 0; i < kTranslationCount; ++i) values[i] = uniformOrZero(rng, bounds[i]);
  rng.quaternion(values + kRotation);
}

void FloatingJointModel::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                          const Bounds& bounds, const double* near,
                                                          double distance) const {
  for (int i = 0; i < kTranslationCount; ++i) values[i] = uniformNearOrZero(rng, bounds[i], near[i], distance);
  const double angular_distance = distance * angular_distance_weight_;
  if (angular_distance >= kPi / 4.0) {
    rng.quaternion(values + kRotation);
    return;
  }
  const Eigen::Vector3d direction(rng.gaussian01(), rng.gaussian01(), rng.gaussian01());
  const double u = rng.uniform01();
  const double norm = direction.norm();
  Eigen::Quaterniond perturbation = Eigen::Quaterniond::Identity();
  if (norm >= 1e-6) {
    const double half = std::cbrt(u) * angular_distance;
    perturbation.vec() = direction / norm * std::sin(half);
    perturbation.w() = std::cos(half);
  }
  writeRotation(rotationOf(near) * perturbation, values);
}

bool FloatingJointModel::satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const {
  for (int i = 0; i < kTranslationCount; ++i) {
    if (!withinBounds(values[i], bounds[i], margin)) return false;
  }
  return std::fabs(rotationOf(values).squaredNorm() - 1.0) <= 10.0 * std::numeric_limits<float>::epsilon();
}

bool FloatingJointModel::normalizeRotation(double* values) const {
  const Eigen::Quaterniond q = rotationOf(values);
  const double squared = q.squaredNorm();
  if (std::fabs(squared - 1.0) <= 100.0 * kEpsilon) return false;
  const double norm = std::sqrt(squared);
  writeRotation(norm < 100.0 * kEpsilon ? Eigen::Quaterniond::Identity() : Eigen::Quaterniond(q.coeffs() / norm),
                values);
  return true;
}

bool FloatingJointModel::enforcePositionBounds(double* values, const Bounds& bounds) const {
  bool changed = normalizeRotation(values);
  for (int i = 0; i < kTranslationCount; ++i) changed |= clampToBounds(values[i], bounds[i]);
  return changed;
}

double FloatingJointModel::distanceTranslation(const double* a, const double* b) const {
  return (Eigen::Vector3d(a[0], a[1], a[2]) - Eigen::Vector3d(b[0], b[1], b[2])).norm();
}

double FloatingJointModel::distanceRotation(const double* a, const double* b) const {
  const double c = std::fabs(rotationOf(a).coeffs().dot(rotationOf(b).coeffs()));
  return c + kEpsilon >= 1.0 ? 0.0 : std::acos(c);
}

double FloatingJointModel::distance(const double* a, const double* b) const {
  return distanceTranslation(a, b) + angular_distance_weight_ * distanceRotation(a, b);
}

unsigned int FloatingJointModel::getStateSpaceDimension() const { return 7; }

void FloatingJointModel::interpolate(const double* from, const double* to, double t, double* state) const {
  for (int i = 0; i < kTranslationCount; ++i) state[i] = from[i] + t * (to[i] - from[i]);
  const Eigen::Quaterniond q_from = rotationOf(from);
  const Eigen::Quaterniond q_to = rotationOf(to);
  const double difference = (q_from.coeffs() - q_to.coeffs()).cwiseAbs().sum();
  writeRotation(difference > kEpsilon ? q_from.slerp(t, q_to) : q_from, state);
}

double FloatingJointModel::getMaximumExtent(const Bounds& bounds) const {
  Eigen::Vector3d span;
  for (int i = 0; i < kTranslationCount; ++i) span[i] = bounds[i].max_position_ - bounds[i].min_position_;
  return span.norm() + angular_distance_weight_ * (kPi / 2.0);
}

void FloatingJointModel::computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const {
  Eigen::Quaterniond q = rotationOf(joint_values);
  const double norm = q.norm();
  if (norm > 0.0) q.coeffs() /= norm;
  transform = Eigen::Translation3d(joint_values[0], joint_values[1], joint_values[2]) * q;
}

void FloatingJointModel::computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const {
  BRAMLOCK_ASSERT_ISOMETRY(transform);
  for (int i = 0; i < kTranslationCount; ++i) joint_values[i] = transform.translation()[i];
  writeRotation(Eigen::Quaterniond(transform.linear()), joint_values);
}

}  // namespace core
}  // namespace moveit
