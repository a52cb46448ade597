#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <cstdio>
#include <stdexcept>

#include "active_joint_ops.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"

namespace moveit {
namespace core {
namespace {

bool byJointIndex(const JointModel* a, const JointModel* b) { return a->getJointIndex() < b->getJointIndex(); }
bool byLinkIndex(const LinkModel* a, const LinkModel* b) { return a->getLinkIndex() < b->getLinkIndex(); }

// A joint that moves on its own: it has variables and follows no other joint.
bool isActiveInGroup(const JointModelGroup& group, const JointModel* joint) {
  return group.hasJointModel(joint->getName()) && joint->getVariableCount() > 0 && !joint->getMimic();
}

// Whether the group already holds an active joint above the given one (a
// mimic joint on the way counts through its source).
bool hasAncestorJointInGroup(const JointModel* joint, const JointModelGroup& group) {
  const LinkModel* link = joint->getParentLinkModel();
  while (link) {
    const JointModel* above = link->getParentJointModel();
    if (!above) return false;
    if (isActiveInGroup(group, above)) return true;
    const JointModel* source = above->getMimic();
    if (source && (isActiveInGroup(group, source) || hasAncestorJointInGroup(source, group))) return true;
    link = above->getParentLinkModel();
  }
  return false;
}

void requireValues(const void* values, const char* operation) {
  if (!values) throw std::invalid_argument(std::string(operation) + ": null value array");
}

// Operands of the fixed IK round of the robot-type diagnostic.
constexpr double kDiagnosticJoints[12] = {-2.8329526717891627,
                                          1.6923442160180873,
                                          1.9966807626168634,
                                          0.8249184719381422,
                                          0.17992302484749878,
                                          -0.687674236599662,
                                          -2.7,
                                          1.5,
                                          1.99,
                                          0.8,
                                          0.179923,
                                          -0.787674236599662};

}  // namespace

JointModelGroup::JointModelGroup(const std::string& name, const srdf::Model::Group& config,
                                 const std::vector<const JointModel*>& joints, const RobotModel* parent_model)
    : parent_model_(parent_model), name_(name), joint_model_vector_(joints), config_(config) {
  std::sort(joint_model_vector_.begin(), joint_model_vector_.end(), byJointIndex);
  for (const JointModel* joint : joint_model_vector_) addJoint(joint);
  computeJointRoots();
  computeContiguity();
  computeMimicUpdates();
  computeLinks();
  computeCommonRoot();
  computeUpdatedLinks();
  computeIsChain();
}

JointModelGroup::~JointModelGroup() = default;

void JointModelGroup::addJoint(const JointModel* joint) {
  joint_model_name_vector_.push_back(joint->getName());
  joint_model_map_[joint->getName()] = joint;
  const std::vector<std::string>& names = joint->getVariableNames();
  const std::size_t n = names.size();
  if (n == 0) {
    fixed_joints_.push_back(joint);
    return;
  }
  if (n != 1) is_single_dof_ = false;
  if (!joint->getMimic()) {
    active_joint_model_vector_.push_back(joint);
    active_joint_model_name_vector_.push_back(joint->getName());
    active_joint_model_start_index_.push_back(static_cast<int>(variable_count_));
    active_joint_models_bounds_.push_back(&joint->getVariableBounds());
    active_variable_count_ += n;
  } else {
    mimic_joints_.push_back(joint);
  }
  variable_names_.insert(variable_names_.end(), names.begin(), names.end());
  variable_names_set_.insert(names.begin(), names.end());
  for (std::size_t j = 0; j < n; ++j) {
    variable_index_list_.push_back(static_cast<int>(joint->getFirstVariableIndex() + j));
    joint_variables_index_map_[names[j]] = variable_count_ + j;
  }
  joint_variables_index_map_[joint->getName()] = variable_count_;
  const auto* revolute = dynamic_cast<const RevoluteJointModel*>(joint);
  if (revolute && revolute->isContinuous()) continuous_joint_model_vector_.push_back(joint);
  variable_count_ += n;
}

void JointModelGroup::computeJointRoots() {
  for (const JointModel* joint : active_joint_model_vector_) {
    if (!hasAncestorJointInGroup(joint, *this)) joint_roots_.push_back(joint);
  }
}

void JointModelGroup::computeContiguity() {
  is_contiguous_index_list_ = !variable_index_list_.empty();
  for (std::size_t i = 1; i < variable_index_list_.size() && is_contiguous_index_list_; ++i) {
    is_contiguous_index_list_ = variable_index_list_[i] == variable_index_list_[i - 1] + 1;
  }
}

// A mimic joint whose source lies outside the group is left to the caller.
void JointModelGroup::computeMimicUpdates() {
  for (const JointModel* mimic : mimic_joints_) {
    const JointModel* source = mimic->getMimic();
    if (!hasJointModel(source->getName())) continue;
    group_mimic_update_.push_back({static_cast<int>(joint_variables_index_map_.at(source->getName())),
                                   static_cast<int>(joint_variables_index_map_.at(mimic->getName())),
                                   mimic->getMimicFactor(), mimic->getMimicOffset()});
  }
}

void JointModelGroup::computeLinks() {
  std::set<const LinkModel*> links;
  for (const JointModel* joint : joint_model_vector_) {
    if (joint->getChildLinkModel()) links.insert(joint->getChildLinkModel());
  }
  link_model_vector_.assign(links.begin(), links.end());
  std::sort(link_model_vector_.begin(), link_model_vector_.end(), byLinkIndex);
  for (const LinkModel* link : link_model_vector_) {
    link_model_map_[link->getName()] = link;
    link_model_name_vector_.push_back(link->getName());
    if (link->getShapes().empty()) continue;
    link_model_with_geometry_vector_.push_back(link);
    link_model_with_geometry_name_vector_.push_back(link->getName());
  }
}

void JointModelGroup::computeCommonRoot() {
  if (joint_roots_.empty()) return;
  const JointModel* root = joint_roots_.front();
  for (std::size_t i = 1; i < joint_roots_.size(); ++i) root = parent_model_->getCommonRoot(root, joint_roots_[i]);
  common_root_ = root;
}

// A root joint's own child link moves with it, besides the links below it.
void JointModelGroup::computeUpdatedLinks() {
  for (const JointModel* root : joint_roots_) {
    if (root->getChildLinkModel()) updated_link_model_set_.insert(root->getChildLinkModel());
    updated_link_model_set_.insert(root->getDescendantLinkModels().begin(), root->getDescendantLinkModels().end());
  }
  updated_link_model_vector_.assign(updated_link_model_set_.begin(), updated_link_model_set_.end());
  std::sort(updated_link_model_vector_.begin(), updated_link_model_vector_.end(), byLinkIndex);
  for (const LinkModel* link : updated_link_model_vector_) {
    updated_link_model_name_vector_.push_back(link->getName());
    updated_link_model_name_set_.insert(link->getName());
    if (link->getShapes().empty()) continue;
    updated_link_model_with_geometry_vector_.push_back(link);
    updated_link_model_with_geometry_set_.insert(link);
    updated_link_model_with_geometry_name_vector_.push_back(link->getName());
    updated_link_model_with_geometry_name_set_.insert(link->getName());
  }
}

namespace {

// Whether the way up from the joint reaches the previous joint through fixed joints only.
bool followsThroughFixedJoints(const JointModel* joint, const JointModel* previous) {
  const LinkModel* link = joint->getParentLinkModel();
  while (link) {
    const JointModel* above = link->getParentJointModel();
    if (!above) return false;
    if (above == previous) return true;
    if (above->getType() != JointModel::FIXED) return false;
    link = above->getParentLinkModel();
  }
  return false;
}

}  // namespace

void JointModelGroup::computeIsChain() {
  if (joint_roots_.size() != 1 || active_joint_model_vector_.empty()) return;
  for (std::size_t k = joint_model_vector_.size() - 1; k > 0; --k) {
    if (!followsThroughFixedJoints(joint_model_vector_[k], joint_model_vector_[k - 1])) return;
  }
  is_chain_ = true;
}

bool JointModelGroup::hasJointModel(const std::string& joint) const { return joint_model_map_.count(joint) > 0; }

bool JointModelGroup::hasLinkModel(const std::string& link) const { return link_model_map_.count(link) > 0; }

const JointModel* JointModelGroup::getJointModel(const std::string& joint) const {
  const auto it = joint_model_map_.find(joint);
  if (it != joint_model_map_.end()) return it->second;
  std::printf("Joint '%s' not found in group '%s'\n", joint.c_str(), name_.c_str());
  return nullptr;
}

const LinkModel* JointModelGroup::getLinkModel(const std::string& link) const {
  const auto it = link_model_map_.find(link);
  if (it != link_model_map_.end()) return it->second;
  std::printf("Link '%s' not found in group '%s'\n", link.c_str(), name_.c_str());
  return nullptr;
}

int JointModelGroup::getVariableGroupIndex(const std::string& variable) const {
  const auto it = joint_variables_index_map_.find(variable);
  if (it != joint_variables_index_map_.end()) return static_cast<int>(it->second);
  std::printf("Variable '%s' is not part of group '%s'\n", variable.c_str(), name_.c_str());
  return -1;
}

void JointModelGroup::requireActiveBounds(const JointBoundsVector& active_joint_bounds) const {
  assert(active_joint_bounds.size() == active_joint_model_vector_.size());
  (void)active_joint_bounds;
}

bramlock::internal::active_joints::Span JointModelGroup::activeJointSpan() const {
  return {active_joint_model_vector_, active_joint_model_start_index_};
}

bool JointModelGroup::satisfiesPositionBounds(const double* state, const JointBoundsVector& active_joint_bounds,
                                              double margin) const {
  requireActiveBounds(active_joint_bounds);
  requireValues(state, "satisfiesPositionBounds");
  return bramlock::internal::active_joints::satisfiesPositionBounds(activeJointSpan(), state, active_joint_bounds,
                                                                    margin);
}

bool JointModelGroup::enforcePositionBounds(double* state, const JointBoundsVector& active_joint_bounds) const {
  requireActiveBounds(active_joint_bounds);
  requireValues(state, "enforcePositionBounds");
  const bool changed =
      bramlock::internal::active_joints::enforcePositionBounds(activeJointSpan(), state, active_joint_bounds);
  if (changed) updateMimicJoints(state);
  return changed;
}

double JointModelGroup::getMaximumExtent(const JointBoundsVector& active_joint_bounds) const {
  requireActiveBounds(active_joint_bounds);
  return bramlock::internal::active_joints::maximumExtent(activeJointSpan(), active_joint_bounds);
}

double JointModelGroup::distance(const double* state1, const double* state2) const {
  requireValues(state1, "distance");
  requireValues(state2, "distance");
  return bramlock::internal::active_joints::distance(activeJointSpan(), state1, state2);
}

void JointModelGroup::interpolate(const double* from, const double* to, double t, double* state) const {
  requireValues(from, "interpolate");
  requireValues(to, "interpolate");
  requireValues(state, "interpolate");
  bramlock::internal::active_joints::interpolate(activeJointSpan(), from, to, t, state);
  updateMimicJoints(state);
}

void JointModelGroup::updateMimicJoints(double* values) const {
  requireValues(values, "updateMimicJoints");
  for (const GroupMimicUpdate& update : group_mimic_update_) {
    values[update.dest] = std::fma(values[update.src], update.factor, update.offset);
  }
}

void JointModelGroup::getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                                 const JointBoundsVector& active_joint_bounds) const {
  requireActiveBounds(active_joint_bounds);
  requireValues(values, "getVariableRandomPositions");
  bramlock::internal::active_joints::randomPositions(activeJointSpan(), rng, values, active_joint_bounds);
  updateMimicJoints(values);
}

template <typename DistanceOf>
void JointModelGroup::sampleNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                   const JointBoundsVector& active_joint_bounds, const double* near,
                                   DistanceOf distance_of) const {
  requireActiveBounds(active_joint_bounds);
  requireValues(values, "getVariableRandomPositionsNearBy");
  requireValues(near, "getVariableRandomPositionsNearBy");
  // A seed or distance that is not a finite number would give samples that are none either.
  for (std::size_t i = 0; i < active_joint_model_vector_.size(); ++i) {
    if (!bramlock::internal::allFinite(near + active_joint_model_start_index_[i],
                                       active_joint_model_vector_[i]->getVariableCount()) ||
        !std::isfinite(distance_of(i))) {
      throw std::invalid_argument("getVariableRandomPositionsNearBy: seed or distance is not a finite number");
    }
  }
  for (std::size_t i = 0; i < active_joint_model_vector_.size(); ++i) {
    const int start = active_joint_model_start_index_[i];
    active_joint_model_vector_[i]->getVariableRandomPositionsNearBy(rng, values + start, *active_joint_bounds[i],
                                                                    near + start, distance_of(i));
  }
  updateMimicJoints(values);
}

void JointModelGroup::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                       const JointBoundsVector& active_joint_bounds, const double* near,
                                                       double distance) const {
  sampleNearBy(rng, values, active_joint_bounds, near, [distance](std::size_t) { return distance; });
}

void JointModelGroup::getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                                       const JointBoundsVector& active_joint_bounds, const double* near,
                                                       const std::vector<double>& distances) const {
  if (distances.size() != active_joint_model_vector_.size()) {
    std::puts("distances.size() != active_joint_model_vector_.size()!!!");
    throw std::runtime_error("distances.size() != active_joint_model_vector_.size()!!!.");
  }
  sampleNearBy(rng, values, active_joint_bounds, near, [&distances](std::size_t i) { return distances[i]; });
}

void JointModelGroup::getVariableRandomPositionsNearBy(
    random_numbers::RandomNumberGenerator& rng, double* values, const JointBoundsVector& active_joint_bounds,
    const double* near, const std::map<JointModel::JointType, double>& distance_map) const {
  std::vector<double> distances;
  distances.reserve(active_joint_model_vector_.size());
  for (const JointModel* joint : active_joint_model_vector_) {
    const auto it = distance_map.find(joint->getType());
    if (it == distance_map.end()) std::printf("Did not pass in distance for '%s'\n", joint->getName().c_str());
    distances.push_back(it == distance_map.end() ? 0.0 : it->second);
  }
  getVariableRandomPositionsNearBy(rng, values, active_joint_bounds, near, distances);
}

void JointModelGroup::getVariableDefaultPositions(double* values) const {
  requireValues(values, "getVariableDefaultPositions");
  bramlock::internal::active_joints::defaultPositions(activeJointSpan(), values);
  updateMimicJoints(values);
}

void JointModelGroup::getVariableDefaultPositions(std::map<std::string, double>& values) const {
  std::vector<double> state(variable_count_, 0.0);
  getVariableDefaultPositions(state.data());
  for (std::size_t i = 0; i < variable_names_.size(); ++i) values[variable_names_[i]] = state[i];
}

bool JointModelGroup::getVariableDefaultPositions(const std::string& state,
                                                  std::map<std::string, double>& values) const {
  const auto it = default_states_.find(state);
  if (it == default_states_.end()) return false;
  values = it->second;
  return true;
}

void JointModelGroup::addDefaultState(const std::string& state, const std::map<std::string, double>& values) {
  default_states_[state] = values;
  default_states_names_.push_back(state);
}

void JointModelGroup::setSubgroupNames(const std::vector<std::string>& names) {
  subgroup_names_ = names;
  subgroup_names_set_ = std::set<std::string>(names.begin(), names.end());
}

void JointModelGroup::getSubgroups(std::vector<const JointModelGroup*>& subgroups) const {
  subgroups.resize(subgroup_names_.size());
  for (std::size_t i = 0; i < subgroup_names_.size(); ++i) {
    subgroups[i] = parent_model_->getJointModelGroup(subgroup_names_[i]);
  }
}

void JointModelGroup::setEndEffectorParent(const std::string& group, const std::string& link) {
  end_effector_parent_ = std::make_pair(group, link);
}

void JointModelGroup::attachEndEffector(const std::string& eef_name) {
  attached_end_effector_names_.push_back(eef_name);
}

bool JointModelGroup::getEndEffectorTips(std::vector<const LinkModel*>& tips) const {
  tips.clear();
  for (const std::string& name : attached_end_effector_names_) {
    const JointModelGroup* eef = parent_model_->getEndEffector(name);
    if (!eef) {
      std::puts("Unable to find joint model group for eef");
      return false;
    }
    const LinkModel* tip = parent_model_->getLinkModel(eef->getEndEffectorParentGroup().second);
    if (!tip) {
      std::puts("Unable to find end effector link for eef");
      return false;
    }
    const auto at = std::lower_bound(tips.begin(), tips.end(), tip);
    if (at == tips.end() || *at != tip) tips.insert(at, tip);
  }
  return true;
}

bool JointModelGroup::getEndEffectorTips(std::vector<std::string>& tips) const {
  std::vector<const LinkModel*> links;
  if (!getEndEffectorTips(links)) return false;
  tips.clear();
  for (const LinkModel* link : links) tips.push_back(link->getName());
  return true;
}

const LinkModel* JointModelGroup::getOnlyOneEndEffectorTip() const {
  std::vector<const LinkModel*> tips;
  getEndEffectorTips(tips);
  if (tips.size() == 1) return tips.front();
  if (tips.size() > 1) {
    std::puts("More than one end effector tip found for joint model group, so cannot return only one");
  } else {
    std::puts("No end effector tips found in joint model group");
  }
  return nullptr;
}

RobotType JointModelGroup::activeJointsRobotType() const {
  RobotType type;
  type.axis_num = static_cast<int>(active_joint_model_vector_.size());
  for (const JointModel* joint : active_joint_model_vector_) type.alpha_sequence.push_back(joint->getAlpha());
  return type;
}

void JointModelGroup::initKinematicsInstance(std::vector<KinematicsSlover>& solvers) {
  kinematics_interface_ptr_.reset();
  if (solvers.empty()) {
    std::puts("kinematics slovers size ==0 error!");
    return;
  }
  const RobotType group_type = activeJointsRobotType();
  for (const KinematicsSlover& solver : solvers) {
    if (KinematicsInterface::checkRobotTypeEqual(group_type, solver.robot_type)) {
      kinematics_interface_ptr_ = solver.kinematics;
      break;
    }
  }
  if (!kinematics_interface_ptr_) {
    std::puts("This joint group does not has the kinematics slover !");
    return;
  }
  std::vector<double> zds, xas, alphas, qzeros;
  for (const JointModel* joint : active_joint_model_vector_) {
    zds.push_back(joint->getZd());
    xas.push_back(joint->getXa());
    alphas.push_back(joint->getAlpha());
    qzeros.push_back(joint->getQzero());
  }
  kinematics_interface_ptr_->setMdhPara(zds, xas, alphas, qzeros);
}

void JointModelGroup::printRobotType() {
  if (!kinematics_interface_ptr_) {
    std::puts("This joint group does not include a robot type.");
    return;
  }
  kinematics_interface_ptr_->printRobotType();
  const std::vector<double> joints(kDiagnosticJoints, kDiagnosticJoints + 6);
  const std::vector<double> reference(kDiagnosticJoints + 6, kDiagnosticJoints + 12);
  const Eigen::MatrixXd pose = kinematics_interface_ptr_->forwardKinematics(joints);
  std::vector<double> solution;
  kinematics_interface_ptr_->inverseKinematics(pose, reference, solution);
  for (double value : solution) std::printf("%lf,", value);
}

}  // namespace core
}  // namespace moveit
