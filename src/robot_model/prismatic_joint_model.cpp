#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"

#include <cmath>
#include <limits>

#include "joint_value_math.h"

namespace moveit {
namespace core {

using namespace bramlock::internal::joint_math;

PrismaticJointModel::PrismaticJointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : JointModel(name, joint_index, first_variable_index) {
  VariableBounds bounds;
  bounds.min_position_ = std::numeric_limits<double>::lowest();
  bounds.max_position_ = std::numeric_limits<double>::max();
  bounds.position_bounded_ = true;
  initVariables(PRISMATIC, {}, {bounds});
}

void PrismaticJointModel::getVariableDefaultPositions(double* values, const Bounds& bounds) const {
  values[0] = midOrZero(bounds[0]);
}

void PrismaticJointModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                                     const Bounds& bounds) const {
  values[0] = uniform(rng, bounds[0].min_position_, bounds[0].max_position_);
}

void PrismaticJointModel::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                           const Bounds& bounds, const double* near,
                                                           double distance) const {
  values[0] = uniformNear(rng, bounds[0], near[0], distance);
}

bool PrismaticJointModel::satisfiesPositionBounds(const double* values, const Bounds& bounds, double margin) const {
  return withinBounds(values[0], bounds[0], margin);
}

bool PrismaticJointModel::enforcePositionBounds(double* values, const Bounds& bounds) const {
  return clampToBounds(values[0], bounds[0]);
}

double PrismaticJointModel::distance(const double* a, const double* b) const { return std::fabs(a[0] - b[0]); }

unsigned int PrismaticJointModel::getStateSpaceDimension() const { return 1; }

void PrismaticJointModel::interpolate(const double* from, const double* to, double t, double* state) const {
  state[0] = from[0] + t * (to[0] - from[0]);
}

double PrismaticJointModel::getMaximumExtent(const Bounds& bounds) const {
  return bounds[0].max_position_ - bounds[0].min_position_;
}

void PrismaticJointModel::computeTransform(const double* joint_values, Eigen::Isometry3d& transform) const {
  transform.setIdentity();
  transform.translation() = axis_ * joint_values[0];
}

void PrismaticJointModel::computeVariablePositions(const Eigen::Isometry3d& transform, double* joint_values) const {
  joint_values[0] = transform.translation().dot(axis_);
}

}  // namespace core
}  // namespace moveit
