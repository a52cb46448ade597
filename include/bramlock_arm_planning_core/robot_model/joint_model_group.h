#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/kinematics/kinematics_interface.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"
#include "bramlock_arm_planning_core/robot_model/kinematics_slover.h"
#include "bramlock_arm_planning_core/srdf/model.h"

namespace random_numbers {
class RandomNumberGenerator;
}

namespace bramlock {
namespace internal {
namespace active_joints {
struct Span;
}
}  // namespace internal
}  // namespace bramlock

namespace moveit {
namespace core {

class LinkModel;
class RobotModel;

// A named SRDF group of joints of a robot model, with everything robot states
// and the planning scene ask of it: active joints, variables and their
// model-wide indices, bounds, the links it moves, mimic updates, roots, chain
// and end-effector relations, named default states and the arm solver.
//
// Value arrays handed to the operations are group-local: index 0 to
// getVariableCount() - 1 in the order of getVariableNames(). A null value
// array throws std::invalid_argument. Operations that take an active bounds
// list need one entry per active joint; a list of another size stops the
// process with an assertion (a programming error of the caller).
//
// Every group of one robot type shares the model's single solver object of
// that type; each binding hands that object its own MDH values, so the
// object holds the MDH values of the group bound last.
class BRAMLOCK_EXPORT JointModelGroup {
 public:
  using JointBoundsVector = std::vector<const JointModel::Bounds*>;

  // After the group's variables are set: value[dest] = value[src] * factor + offset.
  struct GroupMimicUpdate {
    int src;
    int dest;
    double factor;
    double offset;
  };

  JointModelGroup(const std::string& name, const srdf::Model::Group& config,
                  const std::vector<const JointModel*>& joints, const RobotModel* parent_model);
  ~JointModelGroup();
  JointModelGroup(const JointModelGroup&) = delete;
  JointModelGroup& operator=(const JointModelGroup&) = delete;

  const RobotModel* getParentModel() const { return parent_model_; }
  const std::string& getName() const { return name_; }
  const srdf::Model::Group& getConfig() const { return config_; }

  // Joints, ascending by joint index.
  const std::vector<const JointModel*>& getJointModels() const { return joint_model_vector_; }
  const std::vector<std::string>& getJointModelNames() const { return joint_model_name_vector_; }
  // Joints with variables and no mimic source.
  const std::vector<const JointModel*>& getActiveJointModels() const { return active_joint_model_vector_; }
  const std::vector<std::string>& getActiveJointModelNames() const { return active_joint_model_name_vector_; }
  const std::vector<const JointModel*>& getFixedJointModels() const { return fixed_joints_; }
  const std::vector<const JointModel*>& getMimicJointModels() const { return mimic_joints_; }
  const std::vector<const JointModel*>& getContinuousJointModels() const { return continuous_joint_model_vector_; }
  const std::map<std::string, const JointModel*>& getJointModelMap() const { return joint_model_map_; }
  // Active joints with no ancestor joint in the group.
  const std::vector<const JointModel*>& getJointRoots() const { return joint_roots_; }
  // Null for a group without roots.
  const JointModel* getCommonRoot() const { return common_root_; }

  const std::vector<std::string>& getVariableNames() const { return variable_names_; }
  const std::set<std::string>& getVariableNamesSet() const { return variable_names_set_; }
  // Variable and joint names (a joint's first variable) to group-local indices.
  const std::map<std::string, std::size_t>& getJointVariablesIndexMap() const { return joint_variables_index_map_; }
  // Model-wide variable index of each group variable.
  const std::vector<int>& getVariableIndexList() const { return variable_index_list_; }
  // Group-local index of each active joint's first variable.
  const std::vector<int>& getActiveJointModelStartIndex() const { return active_joint_model_start_index_; }
  const JointBoundsVector& getActiveJointModelsBounds() const { return active_joint_models_bounds_; }
  unsigned int getVariableCount() const { return variable_count_; }
  unsigned int getActiveVariableCount() const { return active_variable_count_; }
  // The model-wide indices are consecutive ascending integers (false for a group without variables).
  bool isContiguousWithinState() const { return is_contiguous_index_list_; }
  bool isChain() const { return is_chain_; }
  bool isSingleDOFJoints() const { return is_single_dof_; }
  const std::vector<GroupMimicUpdate>& getGroupMimicUpdates() const { return group_mimic_update_; }

  // Child links of the group's joints, ascending by link index.
  const std::vector<const LinkModel*>& getLinkModels() const { return link_model_vector_; }
  const std::vector<std::string>& getLinkModelNames() const { return link_model_name_vector_; }
  const std::map<std::string, const LinkModel*>& getLinkModelMap() const { return link_model_map_; }
  const std::vector<const LinkModel*>& getLinkModelsWithCollisionGeometry() const {
    return link_model_with_geometry_vector_;
  }
  const std::vector<std::string>& getLinkModelNamesWithCollisionGeometry() const {
    return link_model_with_geometry_name_vector_;
  }
  // The links whose transforms change with the group's variables: the child
  // link of every joint root and every link below it, ascending by link index.
  const std::vector<const LinkModel*>& getUpdatedLinkModels() const { return updated_link_model_vector_; }
  const std::set<const LinkModel*>& getUpdatedLinkModelsSet() const { return updated_link_model_set_; }
  const std::vector<std::string>& getUpdatedLinkModelNames() const { return updated_link_model_name_vector_; }
  const std::set<std::string>& getUpdatedLinkModelNamesSet() const { return updated_link_model_name_set_; }
  const std::vector<const LinkModel*>& getUpdatedLinkModelsWithGeometry() const {
    return updated_link_model_with_geometry_vector_;
  }
  const std::set<const LinkModel*>& getUpdatedLinkModelsWithGeometrySet() const {
    return updated_link_model_with_geometry_set_;
  }
  const std::vector<std::string>& getUpdatedLinkModelsWithGeometryNames() const {
    return updated_link_model_with_geometry_name_vector_;
  }
  const std::set<std::string>& getUpdatedLinkModelsWithGeometryNamesSet() const {
    return updated_link_model_with_geometry_name_set_;
  }

  const std::vector<std::string>& getSubgroupNames() const { return subgroup_names_; }
  const std::set<std::string>& getSubgroupNamesSet() const { return subgroup_names_set_; }
  const std::vector<std::string>& getAttachedEndEffectorNames() const { return attached_end_effector_names_; }
  // For an end-effector group: (parent group name, parent link name).
  const std::pair<std::string, std::string>& getEndEffectorParentGroup() const { return end_effector_parent_; }
  // Empty unless this group is an end-effector.
  const std::string& getEndEffectorName() const { return end_effector_name_; }

  const std::map<std::string, std::map<std::string, double>>& getDefaultStates() const { return default_states_; }
  const std::vector<std::string>& getDefaultStateNames() const { return default_states_names_; }
  // Null until bound and for end-effector groups.
  const std::shared_ptr<KinematicsInterface>& getKinematicsInterface() const { return kinematics_interface_ptr_; }

  bool hasJointModel(const std::string& joint) const;
  bool hasLinkModel(const std::string& link) const;
  // A miss prints a line and gives null.
  const JointModel* getJointModel(const std::string& joint) const;
  const LinkModel* getLinkModel(const std::string& link) const;
  // Group-local index of a variable or joint name; a miss prints a line and gives -1.
  int getVariableGroupIndex(const std::string& variable) const;

  bool satisfiesPositionBounds(const double* state, const JointBoundsVector& active_joint_bounds,
                               double margin = 0.0) const;
  // Brings every active joint into its bounds; true when something changed.
  bool enforcePositionBounds(double* state, const JointBoundsVector& active_joint_bounds) const;
  double getMaximumExtent(const JointBoundsVector& active_joint_bounds) const;
  double distance(const double* state1, const double* state2) const;
  void interpolate(const double* from, const double* to, double t, double* state) const;
  void updateMimicJoints(double* values) const;

  void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values,
                                  const JointBoundsVector& active_joint_bounds) const;
  // Within distance of near (a seed or distance that is not a finite number
  // throws std::invalid_argument before anything is written).
  void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                        const JointBoundsVector& active_joint_bounds, const double* near,
                                        double distance) const;
  // One distance per active joint; another count throws std::runtime_error before writing.
  void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                        const JointBoundsVector& active_joint_bounds, const double* near,
                                        const std::vector<double>& distances) const;
  // The distance of each joint by its kind; a missing kind prints a line and uses 0.
  void getVariableRandomPositionsNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                                        const JointBoundsVector& active_joint_bounds, const double* near,
                                        const std::map<JointModel::JointType, double>& distance_map) const;
  void getVariableDefaultPositions(double* values) const;
  // Sets the group's variables in the map, keeping its other keys.
  void getVariableDefaultPositions(std::map<std::string, double>& values) const;
  // Replaces the map with the named default state; false (map untouched) without one.
  bool getVariableDefaultPositions(const std::string& state, std::map<std::string, double>& values) const;

  // Stores a named state, replacing one of the same name.
  void addDefaultState(const std::string& state, const std::map<std::string, double>& values);
  void setSubgroupNames(const std::vector<std::string>& names);
  // Entry i is the model's group of subgroup name i (null for an unknown name).
  void getSubgroups(std::vector<const JointModelGroup*>& subgroups) const;
  void setEndEffectorName(const std::string& name) { end_effector_name_ = name; }
  void setEndEffectorParent(const std::string& group, const std::string& link);
  void attachEndEffector(const std::string& eef_name);

  // Parent links of the attached end effectors, once each, ordered by pointer
  // value (callers must not rely on that order); false when one cannot be found.
  bool getEndEffectorTips(std::vector<const LinkModel*>& tips) const;
  bool getEndEffectorTips(std::vector<std::string>& tips) const;
  // The single tip, or null (with a line) for none or several.
  const LinkModel* getOnlyOneEndEffectorTip() const;

  // Binds the first solver whose robot type matches the active joints' alphas
  // and hands it their MDH values; without a match the group has no solver.
  void initKinematicsInstance(std::vector<KinematicsSlover>& solvers);
  // Console diagnostic: the solver's robot type and one IK round at a fixed pose.
  void printRobotType();

 private:
  void addJoint(const JointModel* joint);
  void computeJointRoots();
  void computeContiguity();
  void computeMimicUpdates();
  void computeLinks();
  void computeCommonRoot();
  void computeUpdatedLinks();
  void computeIsChain();
  RobotType activeJointsRobotType() const;
  void requireActiveBounds(const JointBoundsVector& active_joint_bounds) const;
  bramlock::internal::active_joints::Span activeJointSpan() const;
  template <typename DistanceOf>
  void sampleNearBy(random_numbers::RandomNumberGenerator& rng, double* values,
                    const JointBoundsVector& active_joint_bounds, const double* near, DistanceOf distance_of) const;

  const RobotModel* parent_model_;
  std::string name_;
  std::vector<const JointModel*> joint_model_vector_;
  std::vector<std::string> joint_model_name_vector_;
  std::vector<const JointModel*> active_joint_model_vector_;
  std::vector<std::string> active_joint_model_name_vector_;
  std::vector<const JointModel*> fixed_joints_;
  std::vector<const JointModel*> mimic_joints_;
  std::vector<const JointModel*> continuous_joint_model_vector_;
  std::vector<std::string> variable_names_;
  std::set<std::string> variable_names_set_;
  std::map<std::string, const JointModel*> joint_model_map_;
  std::vector<const JointModel*> joint_roots_;
  const JointModel* common_root_ = nullptr;
  std::map<std::string, std::size_t> joint_variables_index_map_;
  JointBoundsVector active_joint_models_bounds_;
  std::vector<int> variable_index_list_;
  std::vector<int> active_joint_model_start_index_;
  std::vector<const LinkModel*> link_model_vector_;
  std::map<std::string, const LinkModel*> link_model_map_;
  std::vector<std::string> link_model_name_vector_;
  std::vector<const LinkModel*> link_model_with_geometry_vector_;
  std::vector<std::string> link_model_with_geometry_name_vector_;
  std::vector<const LinkModel*> updated_link_model_vector_;
  std::set<const LinkModel*> updated_link_model_set_;
  std::vector<std::string> updated_link_model_name_vector_;
  std::set<std::string> updated_link_model_name_set_;
  std::vector<const LinkModel*> updated_link_model_with_geometry_vector_;
  std::set<const LinkModel*> updated_link_model_with_geometry_set_;
  std::vector<std::string> updated_link_model_with_geometry_name_vector_;
  std::set<std::string> updated_link_model_with_geometry_name_set_;
  std::uint32_t variable_count_ = 0;
  std::uint32_t active_variable_count_ = 0;
  bool is_contiguous_index_list_ = true;
  std::vector<std::string> subgroup_names_;
  std::set<std::string> subgroup_names_set_;
  std::vector<std::string> attached_end_effector_names_;
  std::pair<std::string, std::string> end_effector_parent_;
  std::string end_effector_name_;
  bool is_chain_ = false;
  bool is_single_dof_ = true;
  std::vector<GroupMimicUpdate> group_mimic_update_;
  srdf::Model::Group config_;
  std::map<std::string, std::map<std::string, double>> default_states_;
  std::vector<std::string> default_states_names_;
  std::shared_ptr<KinematicsInterface> kinematics_interface_ptr_;
};

}  // namespace core
}  // namespace moveit
