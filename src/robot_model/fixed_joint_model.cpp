#include "bramlock_arm_planning_core/robot_model/fixed_joint_model.h"

namespace moveit {
namespace core {

FixedJointModel::FixedJointModel(const std::string& name, size_t joint_index, size_t first_variable_index)
    : JointModel(name, joint_index, first_variable_index) {
  initVariables(FIXED, {}, {});
}

void FixedJointModel::getVariableDefaultPositions(double*, const Bounds&) const {}

void FixedJointModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator&, double*, const Bounds&) const {
}

void FixedJointModel::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator&, double*, const Bounds&,
                                                       const double*, double) const {}

bool FixedJointModel::satisfiesPositionBounds(const double*, const Bounds&, double) const { return true; }

bool FixedJointModel::enforcePositionBounds(double*, const Bounds&) const { return false; }

double FixedJointModel::distance(const double*, const double*) const { return 0.0; }

unsigned int FixedJointModel::getStateSpaceDimension() const { return 0; }

void FixedJointModel::interpolate(const double*, const double*, double, double*) const {}

double FixedJointModel::getMaximumExtent(const Bounds&) const { return 0.0; }

void FixedJointModel::computeTransform(const double*, Eigen::Isometry3d& transform) const { transform.setIdentity(); }

void FixedJointModel::computeVariablePositions(const Eigen::Isometry3d&, double*) const {}

}  // namespace core
}  // namespace moveit
