#pragma once

#include <map>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/export.h"

namespace urdf {
class ModelInterface;
}

namespace srdf {

// Semantic robot description read from an SRDF document: joint-model groups,
// virtual joints, end-effectors, named group states, passive joints, disabled
// collision pairs and joint properties, each list in document order.
// Names are not checked against the URDF: the robot model reports its own misses.
class BRAMLOCK_EXPORT Model {
 public:
  struct Group {
    std::string name_;
    std::vector<std::string> joints_;
    std::vector<std::string> links_;
    // (base link, tip link)
    std::vector<std::pair<std::string, std::string>> chains_;
    std::vector<std::string> subgroups_;
  };

  struct VirtualJoint {
    std::string name_;
    std::string type_;
    std::string parent_frame_;
    std::string child_link_;
  };

  struct EndEffector {
    std::string name_;
    std::string parent_link_;
    std::string parent_group_;
    // The group that forms the end-effector.
    std::string component_group_;
  };

  struct GroupState {
    std::string name_;
    std::string group_;
    std::map<std::string, std::vector<double>> joint_values_;
  };

  struct PassiveJoint {
    std::string name_;
  };

  struct CollisionPair {
    std::string link1_;
    std::string link2_;
    std::string reason_;
  };

  struct JointProperty {
    std::string joint_name_;
    std::string property_name_;
    std::string value_;
  };

  // Both return false and leave an empty model when the document cannot be
  // read, is not well-formed XML or has no named <robot> root element.
  bool initFile(const urdf::ModelInterface& urdf_model, const std::string& path);
  bool initString(const urdf::ModelInterface& urdf_model, const std::string& xml);

  void clear();

  const std::string& getName() const { return name_; }
  const std::vector<Group>& getGroups() const { return groups_; }
  const std::vector<VirtualJoint>& getVirtualJoints() const { return virtual_joints_; }
  const std::vector<EndEffector>& getEndEffectors() const { return end_effectors_; }
  const std::vector<GroupState>& getGroupStates() const { return group_states_; }
  const std::vector<PassiveJoint>& getPassiveJoints() const { return passive_joints_; }
  const std::vector<CollisionPair>& getDisabledCollisionPairs() const { return disabled_collision_pairs_; }
  const std::vector<JointProperty>& getJointProperties() const { return joint_properties_; }
  // The properties of one joint, in document order.
  std::vector<JointProperty> getJointProperties(const std::string& joint_name) const;

 private:
  std::string name_;
  std::vector<Group> groups_;
  std::vector<VirtualJoint> virtual_joints_;
  std::vector<EndEffector> end_effectors_;
  std::vector<GroupState> group_states_;
  std::vector<PassiveJoint> passive_joints_;
  std::vector<CollisionPair> disabled_collision_pairs_;
  std::vector<JointProperty> joint_properties_;
};

}  // namespace srdf
