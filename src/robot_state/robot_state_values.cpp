#include <algorithm>
#include <cstdio>
#include <cstring>
#include <limits>
#include <stdexcept>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "value_checks.h"

namespace moveit {
namespace core {

using bramlock::internal::value_checks::requireFinite;
using bramlock::internal::value_checks::requirePointer;
using bramlock::internal::value_checks::requireSize;

// ---- optional arrays ----

void RobotState::markVelocity() {
  if (has_velocities_) return;
  has_velocities_ = true;
  std::fill_n(velocities_, model_->getVariableCount(), 0.0);
}

void RobotState::markAcceleration() {
  if (has_accelerations_) return;
  has_accelerations_ = true;
  has_efforts_ = false;
  std::fill_n(accelerations_, model_->getVariableCount(), 0.0);
}

void RobotState::markEffort() {
  if (has_efforts_) return;
  has_efforts_ = true;
  has_accelerations_ = false;
  std::fill_n(efforts_, model_->getVariableCount(), 0.0);
}

void RobotState::zeroVelocities() {
  has_velocities_ = false;
  markVelocity();
}

void RobotState::zeroAccelerations() {
  has_accelerations_ = false;
  markAcceleration();
}

void RobotState::zeroEffort() {
  has_efforts_ = false;
  markEffort();
}

void RobotState::dropVelocities() { has_velocities_ = false; }

void RobotState::dropAccelerations() { has_accelerations_ = false; }

void RobotState::dropEffort() { has_efforts_ = false; }

void RobotState::dropDynamics() {
  dropVelocities();
  dropAccelerations();
  dropEffort();
}

void RobotState::invertVelocity() {
  if (!has_velocities_) return;
  for (size_t i = 0; i < model_->getVariableCount(); ++i) velocities_[i] = -velocities_[i];
}

void RobotState::setJointEfforts(const JointModel* joint, const double* effort) {
  requireOwnJoint(joint, "setJointEfforts");
  requirePointer(effort, "effort array", "setJointEfforts");
  requireFinite(effort, joint->getVariableCount(), "setJointEfforts");
  if (has_accelerations_) {
    std::puts("Unable to set joint efforts because array is being used for accelerations");
    return;
  }
  // Values left from other uses of the shared array must not pass for efforts.
  markEffort();
  std::copy_n(effort, joint->getVariableCount(), efforts_ + joint->getFirstVariableIndex());
}

// ---- whole-state and named values ----

void RobotState::setVariablePositions(const double* position) {
  requirePointer(position, "position array", "setVariablePositions");
  requireFinite(position, model_->getVariableCount(), "setVariablePositions");
  std::copy_n(position, model_->getVariableCount(), positions_);
  markAllDirty();
}

void RobotState::setVariablePositions(const std::map<std::string, double>& variable_map) {
  requireFinite(variable_map, "setVariablePositions");
  for (const auto& entry : variable_map) writeVariablePosition(model_->getVariableIndex(entry.first), entry.second);
}

void RobotState::setVariablePositions(const std::vector<std::string>& variable_names,
                                      const std::vector<double>& variable_position) {
  requireSize(variable_position.size(), variable_names.size(), "variable_names.size() == variable_position.size()");
  requireFinite(variable_position.data(), variable_position.size(), "setVariablePositions");
  for (size_t i = 0; i < variable_names.size(); ++i) {
    writeVariablePosition(model_->getVariableIndex(variable_names[i]), variable_position[i]);
  }
}

void RobotState::setVariablePositions(const std::map<std::string, double>& variable_map,
                                      std::vector<std::string>& missing_variables) {
  setVariablePositions(variable_map);
  getMissingKeys(variable_map, missing_variables);
}

void RobotState::writeVariablePosition(size_t index, double value) {
  positions_[index] = value;
  const JointModel* joint = model_->getJointOfVariable(index);
  markDirtyJointTransforms(joint);
  updateMimicJoint(joint);
}

void RobotState::setVariableValues(MarkArray mark, double* values, const std::vector<std::string>& names,
                                   const std::vector<double>& given, const char* size_condition,
                                   const char* operation) {
  requireSize(given.size(), names.size(), size_condition);
  requireFinite(given.data(), given.size(), operation);
  (this->*mark)();
  for (size_t i = 0; i < names.size(); ++i) values[model_->getVariableIndex(names[i])] = given[i];
}

void RobotState::setVariableValues(MarkArray mark, double* values, const std::map<std::string, double>& variable_map,
                                   const char* operation) {
  requireFinite(variable_map, operation);
  (this->*mark)();
  for (const auto& entry : variable_map) values[model_->getVariableIndex(entry.first)] = entry.second;
}

void RobotState::setVariableVelocities(const std::map<std::string, double>& variable_map) {
  setVariableValues(&RobotState::markVelocity, velocities_, variable_map, "setVariableVelocities");
}

void RobotState::setVariableVelocities(const std::vector<std::string>& variable_names,
                                       const std::vector<double>& variable_velocity) {
  setVariableValues(&RobotState::markVelocity, velocities_, variable_names, variable_velocity,
                    "variable_names.size() == variable_velocity.size()", "setVariableVelocities");
}

void RobotState::setVariableVelocities(const std::map<std::string, double>& variable_map,
                                       std::vector<std::string>& missing_variables) {
  setVariableVelocities(variable_map);
  getMissingKeys(variable_map, missing_variables);
}

void RobotState::setVariableAccelerations(const std::map<std::string, double>& variable_map) {
  setVariableValues(&RobotState::markAcceleration, accelerations_, variable_map, "setVariableAccelerations");
}

void RobotState::setVariableAccelerations(const std::vector<std::string>& variable_names,
                                          const std::vector<double>& variable_acceleration) {
  setVariableValues(&RobotState::markAcceleration, accelerations_, variable_names, variable_acceleration,
                    "variable_names.size() == variable_acceleration.size()", "setVariableAccelerations");
}

void RobotState::setVariableAccelerations(const std::map<std::string, double>& variable_map,
                                          std::vector<std::string>& missing_variables) {
  setVariableAccelerations(variable_map);
  getMissingKeys(variable_map, missing_variables);
}

void RobotState::setVariableEffort(const std::map<std::string, double>& variable_map) {
  setVariableValues(&RobotState::markEffort, efforts_, variable_map, "setVariableEffort");
}

void RobotState::setVariableEffort(const std::vector<std::string>& variable_names,
                                   const std::vector<double>& variable_effort) {
  setVariableValues(&RobotState::markEffort, efforts_, variable_names, variable_effort,
                    "variable_names.size() == variable_effort.size()", "setVariableEffort");
}

void RobotState::setVariableEffort(const std::map<std::string, double>& variable_map,
                                   std::vector<std::string>& missing_variables) {
  setVariableEffort(variable_map);
  getMissingKeys(variable_map, missing_variables);
}

void RobotState::getMissingKeys(const std::map<std::string, double>& variable_map,
                                std::vector<std::string>& missing_variables) const {
  missing_variables.clear();
  const std::vector<std::string>& names = model_->getVariableNames();
  for (size_t i = 0; i < names.size(); ++i) {
    if (variable_map.count(names[i]) == 0 && !model_->getJointOfVariable(i)->getMimic()) {
      missing_variables.push_back(names[i]);
    }
  }
}

// ---- defaults and random values ----

void RobotState::setToDefaultValues() {
  model_->getVariableDefaultPositions(positions_);
  std::fill_n(velocities_, 2 * model_->getVariableCount(), 0.0);
  markAllDirty();
}

random_numbers::RandomNumberGenerator& RobotState::ownRandomNumberGenerator() {
  if (!rng_) rng_ = std::make_unique<random_numbers::RandomNumberGenerator>();
  return *rng_;
}

void RobotState::setToRandomPositions() {
  model_->getVariableRandomPositions(ownRandomNumberGenerator(), positions_);
  markAllDirty();
}

// ---- bounds ----

bool RobotState::satisfiesJointBounds(const std::vector<const JointModel*>& joints, double margin) const {
  if (std::isnan(margin)) return false;
  for (const JointModel* joint : joints) {
    const size_t first = joint->getFirstVariableIndex();
    if (!joint->satisfiesPositionBounds(positions_ + first, joint->getVariableBounds(), margin)) return false;
    if (has_velocities_ && !joint->satisfiesVelocityBounds(velocities_ + first, joint->getVariableBounds(), margin)) {
      return false;
    }
  }
  return true;
}

void RobotState::enforceJointBounds(const std::vector<const JointModel*>& joints) {
  for (const JointModel* joint : joints) {
    const size_t first = joint->getFirstVariableIndex();
    if (joint->enforcePositionBounds(positions_ + first, joint->getVariableBounds())) {
      markDirtyJointTransforms(joint);
      updateMimicJoint(joint);
    }
    if (has_velocities_) joint->enforceVelocityBounds(velocities_ + first, joint->getVariableBounds());
  }
}

void RobotState::harmonizeJointPositions(const std::vector<const JointModel*>& joints) {
  for (const JointModel* joint : joints) {
    // The joint's own transform does not change, only its followers' values.
    if (joint->harmonizePosition(positions_ + joint->getFirstVariableIndex(), joint->getVariableBounds())) {
      updateMimicJoint(joint);
    }
  }
}

bool RobotState::satisfiesBounds(double margin) const {
  return satisfiesJointBounds(model_->getActiveJointModels(), margin);
}

void RobotState::enforceBounds() { enforceJointBounds(model_->getActiveJointModels()); }

void RobotState::harmonizePositions() { harmonizeJointPositions(model_->getActiveJointModels()); }

namespace {

bool hasNoPositionLimits(const JointModel* joint) {
  switch (joint->getType()) {
    case JointModel::PLANAR:
    case JointModel::FLOATING:
      return true;
    case JointModel::REVOLUTE:
      return static_cast<const RevoluteJointModel*>(joint)->isContinuous();
    default:
      return false;
  }
}

}  // namespace

std::pair<double, const JointModel*> RobotState::getMinDistanceToPositionBounds(
    const std::vector<const JointModel*>& joints) const {
  std::pair<double, const JointModel*> nearest(std::numeric_limits<double>::max(), nullptr);
  std::vector<double> limits;
  for (const JointModel* joint : joints) {
    requireOwnJoint(joint, "getMinDistanceToPositionBounds");
    if (hasNoPositionLimits(joint)) continue;
    const double* values = positions_ + joint->getFirstVariableIndex();
    const JointModel::Bounds& bounds = joint->getVariableBounds();
    for (bool lower : {true, false}) {
      limits.clear();
      for (const VariableBounds& b : bounds) limits.push_back(lower ? b.min_position_ : b.max_position_);
      const double d = joint->distance(values, limits.data());
      if (d < nearest.first) nearest = {d, joint};
    }
  }
  return nearest;
}

std::pair<double, const JointModel*> RobotState::getMinDistanceToPositionBounds() const {
  return getMinDistanceToPositionBounds(model_->getActiveJointModels());
}

}  // namespace core
}  // namespace moveit
