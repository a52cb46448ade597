#include <cassert>
#include <cstdio>
#include <iomanip>
#include <ostream>
#include <set>
#include <stdexcept>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"

#include "active_joint_ops.h"

namespace moveit {
namespace core {

bramlock::internal::active_joints::Span RobotModel::activeJointSpan() const {
  return {active_joint_model_vector_const_, active_joint_model_start_index_};
}

bool RobotModel::hasJointModel(const std::string& name) const { return joint_model_map_.count(name) > 0; }

bool RobotModel::hasLinkModel(const std::string& name) const { return link_model_map_.count(name) > 0; }

const JointModel* RobotModel::getJointModel(const std::string& name) const {
  const auto it = joint_model_map_.find(name);
  if (it != joint_model_map_.end()) return it->second;
  std::printf("Joint '%s' not found in model '%s'", name.c_str(), model_name_.c_str());
  return nullptr;
}

JointModel* RobotModel::getJointModel(const std::string& name) {
  return const_cast<JointModel*>(static_cast<const RobotModel*>(this)->getJointModel(name));
}

const JointModel* RobotModel::getJointModel(size_t index) const {
  if (index >= joint_model_vector_.size()) {
    std::printf("Joint index '%zu' out of bounds of joints in model '%s'", index, model_name_.c_str());
    return nullptr;
  }
  assert(joint_model_vector_[index]->getJointIndex() == index);
  return joint_model_vector_[index];
}

const LinkModel* RobotModel::getLinkModel(size_t index) const {
  if (index >= link_model_vector_.size()) {
    std::printf("Link index '%zu' out of bounds of links in model '%s'", index, model_name_.c_str());
    return nullptr;
  }
  assert(link_model_vector_[index]->getLinkIndex() == index);
  return link_model_vector_[index];
}

const LinkModel* RobotModel::getLinkModel(const std::string& name, bool* found) const {
  return const_cast<RobotModel*>(this)->getLinkModel(name, found);
}

LinkModel* RobotModel::getLinkModel(const std::string& name, bool* found) {
  if (found) *found = true;
  const auto it = link_model_map_.find(name);
  if (it != link_model_map_.end()) return it->second;
  if (found) {
    *found = false;
  } else {
    std::printf("Link '%s' not found in model '%s'", name.c_str(), model_name_.c_str());
  }
  return nullptr;
}

bool RobotModel::hasJointModelGroup(const std::string& name) const { return joint_model_group_map_.count(name) > 0; }

const JointModelGroup* RobotModel::getJointModelGroup(const std::string& name) const {
  const auto it = joint_model_group_map_.find(name);
  if (it != joint_model_group_map_.end()) return it->second;
  std::printf("Group '%s' not found in model '%s'\n", name.c_str(), model_name_.c_str());
  return nullptr;
}

JointModelGroup* RobotModel::getJointModelGroup(const std::string& name) {
  return const_cast<JointModelGroup*>(static_cast<const RobotModel*>(this)->getJointModelGroup(name));
}

bool RobotModel::hasEndEffector(const std::string& name) const { return end_effectors_map_.count(name) > 0; }

const JointModelGroup* RobotModel::getEndEffector(const std::string& name) const {
  const auto it = end_effectors_map_.find(name);
  if (it != end_effectors_map_.end()) return it->second;
  // A group that is an end-effector also answers to its group name.
  const auto group = joint_model_group_map_.find(name);
  if (group != joint_model_group_map_.end() && !group->second->getEndEffectorName().empty()) return group->second;
  std::printf("End-effector '%s' not found in model '%s'\n", name.c_str(), model_name_.c_str());
  return nullptr;
}

JointModelGroup* RobotModel::getEndEffector(const std::string& name) {
  return const_cast<JointModelGroup*>(static_cast<const RobotModel*>(this)->getEndEffector(name));
}

size_t RobotModel::getVariableIndex(const std::string& name) const {
  const auto it = joint_variables_index_map_.find(name);
  if (it == joint_variables_index_map_.end()) {
    throw std::runtime_error("Variable '" + name + "' is not known to model '" + model_name_ + "'");
  }
  return it->second;
}

const LinkModel* RobotModel::getRigidlyConnectedParentLinkModel(const LinkModel* link) {
  if (!link) return nullptr;
  while (link->getParentLinkModel() && link->parentJointIsFixed()) link = link->getParentLinkModel();
  return link;
}

void RobotModel::getVariableDefaultPositions(double* values) const {
  bramlock::internal::active_joints::defaultPositions(activeJointSpan(), values);
  updateMimicJoints(values);
}

void RobotModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values) const {
  bramlock::internal::active_joints::randomPositions(activeJointSpan(), rng, values, active_joint_models_bounds_);
  updateMimicJoints(values);
}

namespace {

void toNamedValues(const std::vector<std::string>& names, const std::vector<double>& state,
                   std::map<std::string, double>& values) {
  values.clear();
  for (size_t i = 0; i < names.size(); ++i) values[names[i]] = state[i];
}

}  // namespace

void RobotModel::getVariableDefaultPositions(std::map<std::string, double>& values) const {
  std::vector<double> state(variable_count_, 0.0);
  getVariableDefaultPositions(state.data());
  toNamedValues(variable_names_, state, values);
}

void RobotModel::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng,
                                            std::map<std::string, double>& values) const {
  std::vector<double> state(variable_count_, 0.0);
  getVariableRandomPositions(rng, state.data());
  toNamedValues(variable_names_, state, values);
}

void RobotModel::updateMimicJoints(double* values) const {
  for (const JointModel* joint : mimic_joints_) {
    values[joint->getFirstVariableIndex()] =
        joint->getMimicFactor() * values[joint->getMimic()->getFirstVariableIndex()] + joint->getMimicOffset();
  }
}

bool RobotModel::satisfiesPositionBounds(const double* state, const JointBoundsVector& active_joint_bounds,
                                         double margin) const {
  assert(active_joint_bounds.size() == active_joint_model_vector_.size());
  return bramlock::internal::active_joints::satisfiesPositionBounds(activeJointSpan(), state, active_joint_bounds,
                                                                    margin);
}

bool RobotModel::enforcePositionBounds(double* state, const JointBoundsVector& active_joint_bounds) const {
  assert(active_joint_bounds.size() == active_joint_model_vector_.size());
  const bool changed =
      bramlock::internal::active_joints::enforcePositionBounds(activeJointSpan(), state, active_joint_bounds);
  if (changed) updateMimicJoints(state);
  return changed;
}

double RobotModel::distance(const double* state1, const double* state2) const {
  return bramlock::internal::active_joints::distance(activeJointSpan(), state1, state2);
}

void RobotModel::interpolate(const double* from, const double* to, double t, double* state) const {
  bramlock::internal::active_joints::interpolate(activeJointSpan(), from, to, t, state);
  updateMimicJoints(state);
}

double RobotModel::getMaximumExtent(const JointBoundsVector& active_joint_bounds) const {
  assert(active_joint_bounds.size() == active_joint_model_vector_.size());
  return bramlock::internal::active_joints::maximumExtent(activeJointSpan(), active_joint_bounds);
}

double RobotModel::getMaximumExtent() const { return getMaximumExtent(active_joint_models_bounds_); }

void RobotModel::getMissingVariableNames(const std::vector<std::string>& variables,
                                         std::vector<std::string>& missing_variables) const {
  missing_variables.clear();
  const std::set<std::string> given(variables.begin(), variables.end());
  for (size_t i = 0; i < variable_names_.size(); ++i) {
    if (!given.count(variable_names_[i]) && !joints_of_variable_[i]->getMimic()) {
      missing_variables.push_back(variable_names_[i]);
    }
  }
}

void RobotModel::printCommonJointRoots() const {
  for (size_t k = 0; k < common_joint_roots_.size(); ++k) {
    std::printf("common_joint_roots_%zu:%d\n", k, common_joint_roots_[k]);
  }
}

namespace {

void printJoint(std::ostream& out, const JointModel& joint) {
  const size_t count = joint.getVariableCount();
  out << " '" << joint.getName() << "' (" << joint.getTypeName() << ")\n";
  out << "  * Joint Index: " << joint.getJointIndex() << "\n";
  out << "  * " << count << (count > 1 ? " variables:" : count == 1 ? " variable:\n" : " variables");
  for (size_t j = 0; j < count; ++j) {
    out << "     * '" << joint.getVariableNames()[j] << "', index " << joint.getFirstVariableIndex() + j
        << " in full state";
    if (joint.getMimic()) out << ", mimic '" << joint.getMimic()->getName() << "'";
    if (joint.isPassive()) out << ", passive";
    out << "\n";
    out << "        " << joint.getVariableBounds()[j] << "\n";
  }
}

void printLink(std::ostream& out, const LinkModel& link) {
  out << " '" << link.getName() << "' with " << link.getShapes().size() << " geoms\n";
  if (link.parentJointIsFixed())
    out << "   * "
        << "parent joint is fixed"
        << "\n";
  if (link.jointOriginTransformIsIdentity())
    out << "   * "
        << "joint origin transform is identity\n";
}

}  // namespace

void RobotModel::printModelInfo(std::ostream& out) const {
  out << "Model " << model_name_ << " in frame " << model_frame_ << ", using " << variable_count_ << " variables\n";
  const std::ios_base::fmtflags flags = out.flags();
  const std::streamsize precision = out.precision();
  out << std::fixed << std::setprecision(5);
  out << "Joints: \n";
  for (const JointModel* joint : joint_model_vector_) printJoint(out, *joint);
  out.flags(flags);
  out.precision(precision);
  out << "\n";
  out << "Links: \n";
  for (const LinkModel* link : link_model_vector_) printLink(out, *link);
  out << "Available groups: \n";
}

}  // namespace core
}  // namespace moveit
