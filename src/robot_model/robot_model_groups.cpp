#include <algorithm>
#include <cstdio>
#include <set>

#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"

namespace moveit {
namespace core {
namespace {

template <typename Arm>
void registerSolver(std::vector<KinematicsSlover>& solvers) {
  const std::shared_ptr<KinematicsInterface> arm = std::make_shared<Arm>();
  solvers.push_back({arm->getRobotType(), arm});
}

bool byGroupName(const JointModelGroup* a, const JointModelGroup* b) { return a->getName() < b->getName(); }

}  // namespace

// The order is the tie-break between arms of equal robot type.
void RobotModel::addExistingKinematicsSlovers() {
  registerSolver<RealmanKinematics>(kinematics_slovers_);
  registerSolver<KestrelBotV3Kinematics>(kinematics_slovers_);
  registerSolver<Rml63BKinematics>(kinematics_slovers_);
  registerSolver<Rev5U800Kinematics>(kinematics_slovers_);
}

// Groups are made once all their subgroups exist, so passes repeat while one adds something.
void RobotModel::buildGroups(const srdf::Model& srdf_model) {
  const std::vector<srdf::Model::Group>& groups = srdf_model.getGroups();
  std::vector<bool> processed(groups.size(), false);
  bool added = true;
  while (added) {
    added = false;
    for (size_t i = 0; i < groups.size(); ++i) {
      if (processed[i]) continue;
      const std::vector<std::string>& subgroups = groups[i].subgroups_;
      const bool ready = std::all_of(subgroups.begin(), subgroups.end(),
                                     [this](const std::string& name) { return joint_model_group_map_.count(name); });
      if (!ready) continue;
      processed[i] = true;
      added = true;
      if (!addJointModelGroup(groups[i])) std::printf("Failed to add group '%s'\n", groups[i].name_.c_str());
    }
  }
  for (size_t i = 0; i < groups.size(); ++i) {
    if (!processed[i]) {
      std::printf("Could not process group '%s' due to unmet subgroup dependencies", groups[i].name_.c_str());
    }
  }
  for (const auto& entry : joint_model_group_map_) joint_model_groups_.push_back(entry.second);
  std::sort(joint_model_groups_.begin(), joint_model_groups_.end(), byGroupName);
  for (const JointModelGroup* group : joint_model_groups_) {
    joint_model_groups_const_.push_back(group);
    joint_model_group_names_.push_back(group->getName());
  }
  buildGroupsInfoSubgroups();
  buildGroupsInfoEndEffectors(srdf_model);
  for (JointModelGroup* group : joint_model_groups_) {
    if (group->getEndEffectorName().empty()) group->initKinematicsInstance(kinematics_slovers_);
  }
}

namespace {

// Parent joints on the way up from a link until stop (or past the root).
std::vector<const JointModel*> jointsAbove(const LinkModel* link, const LinkModel* stop, const LinkModel*& reached) {
  std::vector<const JointModel*> joints;
  while (link && link != stop) {
    const JointModel* joint = link->getParentJointModel();
    if (!joint) break;
    joints.push_back(joint);
    link = joint->getParentLinkModel();
  }
  reached = link;
  return joints;
}

// The joints between the chain's two links: from the tip up to the base, or,
// when the base is not above the tip, up from both to the first joint they share.
void addChainJoints(const LinkModel* base, const LinkModel* tip, std::set<const JointModel*>& joints) {
  const LinkModel* reached = nullptr;
  const std::vector<const JointModel*> tip_side = jointsAbove(tip, base, reached);
  if (reached == base) {
    joints.insert(tip_side.begin(), tip_side.end());
    return;
  }
  std::vector<const JointModel*> base_side;
  for (const LinkModel* link = base; link && link->getParentJointModel();) {
    const JointModel* joint = link->getParentJointModel();
    const auto shared = std::find(tip_side.begin(), tip_side.end(), joint);
    if (shared != tip_side.end()) {
      joints.insert(tip_side.begin(), shared + 1);
      joints.insert(base_side.begin(), base_side.end());
      return;
    }
    base_side.push_back(joint);
    link = joint->getParentLinkModel();
  }
}

}  // namespace

bool RobotModel::addJointModelGroup(const srdf::Model::Group& group) {
  if (joint_model_group_map_.count(group.name_)) {
    std::printf("A group named '%s' already exists. Not adding.", group.name_.c_str());
    return false;
  }
  std::set<const JointModel*> joints;
  for (const auto& chain : group.chains_) {
    const LinkModel* base = getLinkModel(chain.first);
    const LinkModel* tip = getLinkModel(chain.second);
    if (base && tip) addChainJoints(base, tip, joints);
  }
  for (const std::string& name : group.joints_) {
    if (const JointModel* joint = getJointModel(name)) joints.insert(joint);
  }
  for (const std::string& name : group.links_) {
    if (const LinkModel* link = getLinkModel(name)) joints.insert(link->getParentJointModel());
  }
  for (const std::string& name : group.subgroups_) {
    if (const JointModelGroup* subgroup = getJointModelGroup(name)) {
      joints.insert(subgroup->getJointModels().begin(), subgroup->getJointModels().end());
    }
  }
  joints.erase(nullptr);
  if (joints.empty()) {
    std::printf("Group '%s' must have at least one valid joint", group.name_.c_str());
    return false;
  }
  const std::vector<const JointModel*> joint_list(joints.begin(), joints.end());
  joint_model_group_map_[group.name_] = new JointModelGroup(group.name_, group, joint_list, this);
  return true;
}

void RobotModel::buildGroupsInfoSubgroups() {
  for (JointModelGroup* group : joint_model_groups_) {
    std::vector<std::string> subgroups;
    for (const JointModelGroup* other : joint_model_groups_) {
      if (other == group) continue;
      const std::vector<const JointModel*>& joints = other->getJointModels();
      const bool contained = std::all_of(joints.begin(), joints.end(), [group](const JointModel* joint) {
        return group->hasJointModel(joint->getName());
      });
      if (contained) subgroups.push_back(other->getName());
    }
    if (!subgroups.empty()) group->setSubgroupNames(subgroups);
  }
}

namespace {

// The parent group an end effector names, or null (with the reason) when it cannot be used.
const JointModelGroup* namedParentGroup(const srdf::Model::EndEffector& eef, const JointModelGroup* eef_group,
                                        const std::map<std::string, JointModelGroup*>& groups) {
  const auto it = groups.find(eef.parent_group_);
  if (it == groups.end()) {
    std::printf("Group name '%s' not found (specified as parent group for end-effector '%s')",
                eef.parent_group_.c_str(), eef.name_.c_str());
    return nullptr;
  }
  const JointModelGroup* parent = it->second;
  if (!parent->hasLinkModel(eef.parent_link_)) {
    std::printf(
        "Group '%s' was specified as parent group for end-effector '%s' but it does not include the parent link "
        "'%s'",
        eef.parent_group_.c_str(), eef.name_.c_str(), eef.parent_link_.c_str());
    return nullptr;
  }
  if (parent == eef_group) {
    std::printf("Group '%s' for end-effector '%s' cannot be its own parent", eef.parent_group_.c_str(),
                eef.name_.c_str());
    return nullptr;
  }
  return parent;
}

}  // namespace

void RobotModel::buildGroupsInfoEndEffectors(const srdf::Model& srdf_model) {
  for (JointModelGroup* group : joint_model_groups_) {
    for (const srdf::Model::EndEffector& eef : srdf_model.getEndEffectors()) {
      if (eef.component_group_ != group->getName()) continue;
      group->setEndEffectorName(eef.name_);
      end_effectors_map_[eef.name_] = group;
      end_effectors_.push_back(group);
      // Every other group holding the parent link carries the end effector;
      // the smallest of them is the parent unless one is named.
      const JointModelGroup* parent = nullptr;
      for (JointModelGroup* candidate : joint_model_groups_) {
        if (candidate == group || !candidate->hasLinkModel(eef.parent_link_)) continue;
        candidate->attachEndEffector(eef.name_);
        if (!parent || candidate->getJointModels().size() < parent->getJointModels().size()) parent = candidate;
      }
      if (!eef.parent_group_.empty()) {
        const JointModelGroup* named = namedParentGroup(eef, group, joint_model_group_map_);
        if (named) parent = named;
      }
      if (parent) {
        group->setEndEffectorParent(parent->getName(), eef.parent_link_);
      } else {
        std::printf("Could not identify parent group for end-effector '%s'", eef.name_.c_str());
        group->setEndEffectorParent("", eef.parent_link_);
      }
    }
  }
  std::sort(end_effectors_.begin(), end_effectors_.end(), byGroupName);
}

void RobotModel::buildGroupStates(const srdf::Model& srdf_model) {
  for (const srdf::Model::GroupState& state : srdf_model.getGroupStates()) {
    if (!hasJointModelGroup(state.group_)) {
      std::printf("Group state '%s' specified for group '%s', but that group does not exist", state.name_.c_str(),
                  state.group_.c_str());
      continue;
    }
    JointModelGroup* group = getJointModelGroup(state.group_);
    std::map<std::string, double> values;
    for (const auto& entry : state.joint_values_) {
      if (!group->hasJointModel(entry.first)) {
        std::printf("Group state '%s' specifies value for joint '%s', but that joint is not part of group '%s'",
                    state.name_.c_str(), entry.first.c_str(), state.group_.c_str());
        continue;
      }
      const JointModel* joint = group->getJointModel(entry.first);
      const std::vector<std::string>& variables = joint->getVariableNames();
      if (variables.size() != entry.second.size()) {
        std::printf(
            "The model for joint '%s' requires %d variable values, but only %d variable values were supplied "
            "in default state '%s' for group '%s'",
            entry.first.c_str(), static_cast<int>(variables.size()), static_cast<int>(entry.second.size()),
            state.name_.c_str(), state.group_.c_str());
        continue;
      }
      for (size_t k = 0; k < variables.size(); ++k) values[variables[k]] = entry.second[k];
    }
    if (!values.empty()) group->addDefaultState(state.name_, values);
  }
}

}  // namespace core
}  // namespace moveit
