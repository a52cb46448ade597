#include <cmath>
#include <cstring>
#include <stdexcept>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "value_checks.h"

// The robot state's operations on joint-model groups: group-local value
// arrays are mapped to model-wide variables through the group's index list.
namespace moveit {
namespace core {

using bramlock::internal::value_checks::requireFinite;
using bramlock::internal::value_checks::requirePointer;
using bramlock::internal::value_checks::requireSize;

// ---- dirty bookkeeping ----

void RobotState::markDirtyJointTransforms(const JointModelGroup* group) {
  for (const JointModel* joint : group->getActiveJointModels()) dirty_joints_[joint->getJointIndex()] = 1;
  if (const JointModel* root = group->getCommonRoot()) widenDirtyLinkRoot(root);
}

void RobotState::updateGroupMimicJoints(const JointModelGroup* group) {
  for (const JointModel* joint : group->getMimicJointModels()) {
    positions_[joint->getFirstVariableIndex()] =
        joint->getMimicFactor() * positions_[joint->getMimic()->getFirstVariableIndex()] + joint->getMimicOffset();
    markDirtyJointTransforms(joint);
  }
}

void RobotState::finishGroupPositionWrite(const JointModelGroup* group) {
  updateGroupMimicJoints(group);
  markDirtyJointTransforms(group);
}

// ---- group-local arrays ----

void RobotState::scatterGroupValues(const JointModelGroup* group, const double* gstate, double* values) {
  const std::vector<int>& indices = group->getVariableIndexList();
  if (group->isContiguousWithinState()) {
    std::memcpy(values + indices.front(), gstate, indices.size() * sizeof(double));
  } else {
    for (size_t i = 0; i < indices.size(); ++i) values[indices[i]] = gstate[i];
  }
}

void RobotState::gatherGroupValues(const JointModelGroup* group, const double* values, double* gstate) const {
  const std::vector<int>& indices = group->getVariableIndexList();
  if (group->isContiguousWithinState()) {
    std::memcpy(gstate, values + indices.front(), indices.size() * sizeof(double));
  } else {
    for (size_t i = 0; i < indices.size(); ++i) gstate[i] = values[indices[i]];
  }
}

void RobotState::checkGroupArray(const JointModelGroup* group, const double* gstate, const char* operation) const {
  requireOwnGroup(group, operation);
  requirePointer(gstate, "value array", operation);
  requireFinite(gstate, group->getVariableCount(), operation);
}

void RobotState::checkGroupVector(const JointModelGroup* group, const Eigen::VectorXd& values,
                                  const char* operation) const {
  requireOwnGroup(group, operation);
  requireSize(static_cast<size_t>(values.size()), group->getVariableCount(),
              "values.size() == group->getVariableCount()");
  requireFinite(values.data(), values.size(), operation);
}

void RobotState::setJointGroupPositions(const JointModelGroup* group, const double* gstate) {
  checkGroupArray(group, gstate, "setJointGroupPositions");
  scatterGroupValues(group, gstate, positions_);
  finishGroupPositionWrite(group);
}

void RobotState::setJointGroupPositions(const JointModelGroup* group, const Eigen::VectorXd& values) {
  checkGroupVector(group, values, "setJointGroupPositions");
  scatterGroupValues(group, values.data(), positions_);
  finishGroupPositionWrite(group);
}

// finishGroupPositionWrite marks every active joint dirty; each joint's
// followers are set here, as some may lie outside the group.
void RobotState::setActiveJointPositions(const JointModelGroup* group, const double* values) {
  size_t k = 0;
  for (const JointModel* joint : group->getActiveJointModels()) {
    std::memcpy(positions_ + joint->getFirstVariableIndex(), values + k, joint->getVariableCount() * sizeof(double));
    updateMimicJoint(joint);
    k += joint->getVariableCount();
  }
  finishGroupPositionWrite(group);
}

void RobotState::setJointGroupActivePositions(const JointModelGroup* group, const std::vector<double>& gstate) {
  requireOwnGroup(group, "setJointGroupActivePositions");
  requireSize(gstate.size(), group->getActiveVariableCount(), "gstate.size() == group->getActiveVariableCount()");
  requireFinite(gstate.data(), gstate.size(), "setJointGroupActivePositions");
  setActiveJointPositions(group, gstate.data());
}

void RobotState::setJointGroupActivePositions(const JointModelGroup* group, const Eigen::VectorXd& values) {
  requireOwnGroup(group, "setJointGroupActivePositions");
  requireSize(static_cast<size_t>(values.size()), group->getActiveVariableCount(),
              "values.size() == group->getActiveVariableCount()");
  requireFinite(values.data(), values.size(), "setJointGroupActivePositions");
  setActiveJointPositions(group, values.data());
}

void RobotState::copyJointGroupValues(const JointModelGroup* group, const double* values, double* gstate,
                                      const char* operation) const {
  requireOwnGroup(group, operation);
  requirePointer(gstate, "value array", operation);
  gatherGroupValues(group, values, gstate);
}

void RobotState::copyJointGroupValues(const JointModelGroup* group, const double* values, Eigen::VectorXd& gstate,
                                      const char* operation) const {
  requireOwnGroup(group, operation);
  gstate.resize(group->getVariableIndexList().size());
  gatherGroupValues(group, values, gstate.data());
}

void RobotState::copyJointGroupPositions(const JointModelGroup* group, double* gstate) const {
  copyJointGroupValues(group, positions_, gstate, "copyJointGroupPositions");
}

void RobotState::copyJointGroupPositions(const JointModelGroup* group, Eigen::VectorXd& values) const {
  copyJointGroupValues(group, positions_, values, "copyJointGroupPositions");
}

void RobotState::setJointGroupValues(MarkArray mark, double* values, const JointModelGroup* group, const double* gstate,
                                     const char* operation) {
  checkGroupArray(group, gstate, operation);
  (this->*mark)();
  scatterGroupValues(group, gstate, values);
}

void RobotState::setJointGroupValues(MarkArray mark, double* values, const JointModelGroup* group,
                                     const Eigen::VectorXd& gstate, const char* operation) {
  checkGroupVector(group, gstate, operation);
  (this->*mark)();
  scatterGroupValues(group, gstate.data(), values);
}

void RobotState::setJointGroupVelocities(const JointModelGroup* group, const double* gstate) {
  setJointGroupValues(&RobotState::markVelocity, velocities_, group, gstate, "setJointGroupVelocities");
}

void RobotState::setJointGroupVelocities(const JointModelGroup* group, const Eigen::VectorXd& values) {
  setJointGroupValues(&RobotState::markVelocity, velocities_, group, values, "setJointGroupVelocities");
}

void RobotState::copyJointGroupVelocities(const JointModelGroup* group, double* gstate) const {
  copyJointGroupValues(group, velocities_, gstate, "copyJointGroupVelocities");
}

void RobotState::copyJointGroupVelocities(const JointModelGroup* group, Eigen::VectorXd& values) const {
  copyJointGroupValues(group, velocities_, values, "copyJointGroupVelocities");
}

void RobotState::setJointGroupAccelerations(const JointModelGroup* group, const double* gstate) {
  setJointGroupValues(&RobotState::markAcceleration, accelerations_, group, gstate, "setJointGroupAccelerations");
}

void RobotState::setJointGroupAccelerations(const JointModelGroup* group, const Eigen::VectorXd& values) {
  setJointGroupValues(&RobotState::markAcceleration, accelerations_, group, values, "setJointGroupAccelerations");
}

void RobotState::copyJointGroupAccelerations(const JointModelGroup* group, double* gstate) const {
  copyJointGroupValues(group, accelerations_, gstate, "copyJointGroupAccelerations");
}

void RobotState::copyJointGroupAccelerations(const JointModelGroup* group, Eigen::VectorXd& values) const {
  copyJointGroupValues(group, accelerations_, values, "copyJointGroupAccelerations");
}

// ---- defaults and random values ----

bool RobotState::setToDefaultValues(const JointModelGroup* group, const std::string& name) {
  requireOwnGroup(group, "setToDefaultValues");
  std::map<std::string, double> values;
  if (!group->getVariableDefaultPositions(name, values)) return false;
  setVariablePositions(values);
  return true;
}

void RobotState::setToRandomPositions(const JointModelGroup* group) {
  setToRandomPositions(group, ownRandomNumberGenerator());
}

void RobotState::setToRandomPositions(const JointModelGroup* group, random_numbers::RandomNumberGenerator& rng) {
  requireOwnGroup(group, "setToRandomPositions");
  for (const JointModel* joint : group->getActiveJointModels()) {
    joint->getVariableRandomPositions(rng, positions_ + joint->getFirstVariableIndex(), joint->getVariableBounds());
  }
  finishGroupPositionWrite(group);
}

void RobotState::setGroupRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                               const std::vector<double>& distances,
                                               random_numbers::RandomNumberGenerator& rng) {
  requireOwnGroup(group, "setToRandomPositionsNearBy");
  requireSameModel(seed, "setToRandomPositionsNearBy");
  const std::vector<const JointModel*>& joints = group->getActiveJointModels();
  requireSize(distances.size(), joints.size(), "distances.size() == joints.size()");
  for (double distance : distances) {
    if (!(distance >= 0.0 && std::isfinite(distance))) {
      throw std::invalid_argument("RobotState::setToRandomPositionsNearBy: a distance is negative or not finite");
    }
  }
  for (size_t i = 0; i < joints.size(); ++i) {
    const size_t first = joints[i]->getFirstVariableIndex();
    joints[i]->getVariableRandomPositionsNearBy(rng, positions_ + first, joints[i]->getVariableBounds(),
                                                seed.positions_ + first, distances[i]);
  }
  finishGroupPositionWrite(group);
}

void RobotState::setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                            const std::vector<double>& distances) {
  setGroupRandomPositionsNearBy(group, seed, distances, ownRandomNumberGenerator());
}

void RobotState::setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                            const std::vector<double>& distances,
                                            random_numbers::RandomNumberGenerator& rng) {
  setGroupRandomPositionsNearBy(group, seed, distances, rng);
}

void RobotState::setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed, double distance) {
  setToRandomPositionsNearBy(group, seed, distance, ownRandomNumberGenerator());
}

void RobotState::setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed, double distance,
                                            random_numbers::RandomNumberGenerator& rng) {
  requireOwnGroup(group, "setToRandomPositionsNearBy");
  setGroupRandomPositionsNearBy(group, seed, std::vector<double>(group->getActiveJointModels().size(), distance), rng);
}

// ---- bounds ----

bool RobotState::satisfiesBounds(const JointModelGroup* group, double margin) const {
  requireOwnGroup(group, "satisfiesBounds");
  return satisfiesJointBounds(group->getActiveJointModels(), margin);
}

void RobotState::enforceBounds(const JointModelGroup* group) {
  requireOwnGroup(group, "enforceBounds");
  enforceJointBounds(group->getActiveJointModels());
}

void RobotState::harmonizePositions(const JointModelGroup* group) {
  requireOwnGroup(group, "harmonizePositions");
  harmonizeJointPositions(group->getActiveJointModels());
}

std::pair<double, const JointModel*> RobotState::getMinDistanceToPositionBounds(const JointModelGroup* group) const {
  requireOwnGroup(group, "getMinDistanceToPositionBounds");
  return getMinDistanceToPositionBounds(group->getActiveJointModels());
}

// ---- distances and motion ----

bool RobotState::isValidVelocityMove(const RobotState& other, const JointModelGroup* group, double dt) const {
  requireOwnGroup(group, "isValidVelocityMove");
  requireSameModel(other, "isValidVelocityMove");
  if (!std::isfinite(dt)) return false;
  for (const JointModel* joint : group->getActiveJointModels()) {
    const JointModel::Bounds& bounds = joint->getVariableBounds();
    for (size_t i = 0; i < joint->getVariableCount(); ++i) {
      const size_t index = joint->getFirstVariableIndex() + i;
      // The maximum velocity counts even where the bounded flag is off.
      if (std::fabs(positions_[index] - other.positions_[index]) > dt * bounds[i].max_velocity_) return false;
    }
  }
  return true;
}

double RobotState::distance(const RobotState& other, const JointModelGroup* group) const {
  requireOwnGroup(group, "distance");
  requireSameModel(other, "distance");
  double sum = 0.0;
  for (const JointModel* joint : group->getActiveJointModels()) {
    const size_t first = joint->getFirstVariableIndex();
    sum += joint->getDistanceFactor() * joint->distance(positions_ + first, other.positions_ + first);
  }
  return sum;
}

bool RobotState::integrateVariableVelocity(
    const JointModelGroup* group, const Eigen::VectorXd& qdot, double dt,
    const std::function<bool(RobotState*, const JointModelGroup*, const double*)>& constraint) {
  requireOwnGroup(group, "integrateVariableVelocity");
  requireSize(static_cast<size_t>(qdot.size()), group->getVariableCount(), "qdot.size() == group->getVariableCount()");
  Eigen::VectorXd q;
  copyJointGroupPositions(group, q);
  q += dt * qdot;
  setJointGroupPositions(group, q);
  enforceBounds(group);
  if (!constraint) return true;
  std::vector<double> values(group->getVariableCount());
  copyJointGroupPositions(group, values.data());
  return constraint(this, group, values.data());
}

}  // namespace core
}  // namespace moveit
