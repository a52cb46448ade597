#pragma once

#include <cstddef>
#include <iosfwd>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Geometry>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/joint_model.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/kinematics_slover.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/srdf/model.h"

namespace urdf {
class ModelInterface;
class Link;
class Geometry;
}  // namespace urdf

namespace shapes {
class Shape;
}

namespace random_numbers {
class RandomNumberGenerator;
}

namespace moveit {
namespace core {

// Read-only kinematic model of one arm, built from its URDF, SRDF and MDH
// table: joints and links numbered depth-first from the URDF root (a link's
// children in urdfdom's order, which is by joint name), mimic relations,
// variable tables and the common-roots table. The model owns its joints,
// links and groups.
class BRAMLOCK_EXPORT RobotModel {
 public:
  using JointBoundsVector = std::vector<const JointModel::Bounds*>;

  // Parses directory + urdf_file and directory + srdf_file (no separator is
  // added). An unreadable or unparseable URDF throws moveit::core::Exception,
  // and so, naming the joint, do links that do not form a tree (a link that
  // is the child of two joints, a joint whose parent and child are one link;
  // links that no chain of joints reaches from the root link are named
  // themselves) and a revolute or prismatic joint whose axis is zero or not finite or
  // whose lower limit lies above its upper one; an unreadable SRDF leaves the
  // model without groups. Every group that is not an end effector binds the
  // first registered solver of its robot type; binding the REV5-U800 solver
  // loads the arm's URDF from the bramlock_arm_description package, and when
  // that package is missing its exception leaves the constructor (only models
  // with a REV5-U800 group need the package).
  RobotModel(const std::string& directory, const std::string& urdf_file, const std::string& srdf_file,
             const MdhTable& mdh_table);
  RobotModel(const std::string& directory, const std::string& urdf_file, const std::string& srdf_file);
  // A null URDF model throws moveit::core::Exception, as do the faults of
  // the description named above.
  RobotModel(const std::shared_ptr<urdf::ModelInterface>& urdf_model, const std::shared_ptr<srdf::Model>& srdf_model);
  ~RobotModel();
  RobotModel(const RobotModel&) = delete;
  RobotModel& operator=(const RobotModel&) = delete;

  const std::string& getName() const { return model_name_; }
  const std::string& getModelFrame() const { return model_frame_; }
  const std::string& getResourceDirectory() const { return resource_directory_; }
  const MdhTable& getMdhTable() const { return mdh_table_; }
  const std::shared_ptr<srdf::Model>& getSRDF() const { return srdf_; }
  const std::shared_ptr<urdf::ModelInterface>& getURDF() const { return urdf_; }

  const JointModel* getRootJoint() const { return root_joint_; }
  const LinkModel* getRootLink() const { return root_link_; }

  const std::vector<const LinkModel*>& getLinkModels() const { return link_model_vector_const_; }
  const std::vector<std::string>& getLinkModelNames() const { return link_model_names_vector_; }
  const std::vector<const LinkModel*>& getLinkModelsWithCollisionGeometry() const {
    return link_models_with_collision_geometry_vector_;
  }
  const std::vector<std::string>& getLinkModelNamesWithCollisionGeometry() const {
    return link_model_names_with_collision_geometry_vector_;
  }
  size_t getLinkModelCount() const { return link_model_vector_.size(); }
  // One collision body per collision shape of every link.
  size_t getLinkGeometryCount() const { return link_geometry_count_; }
  // A collision mesh the model could not use: the file did not load (missing,
  // of a format not read), was refused (its faces name vertices it lacks, its
  // data does not match its counts, a vertex is not finite, even at its
  // scale, it holds no triangle), its scale is zero (`reason` says which), or
  // the URDF parser dropped its element (a scale that is not a number; no reason).
  struct UnusableMesh {
    std::string link;
    std::string file;
    std::string reason;
  };
  // Such meshes in URDF order. The model keeps what loaded of them (a file
  // that did not load gives no shape), so a link may lack collision geometry.
  const std::vector<UnusableMesh>& getUnusableCollisionMeshes() const { return unusable_collision_meshes_; }

  const std::vector<const JointModel*>& getJointModels() const { return joint_model_vector_const_; }
  const std::vector<std::string>& getJointModelNames() const { return joint_model_names_vector_; }
  size_t getJointModelCount() const { return joint_model_vector_.size(); }
  const std::vector<const JointModel*>& getActiveJointModels() const { return active_joint_model_vector_const_; }
  const std::vector<std::string>& getActiveJointModelNames() const { return active_joint_model_names_vector_; }
  const std::vector<const JointModel*>& getContinuousJointModels() const { return continuous_joint_model_vector_; }
  const std::vector<const JointModel*>& getMimicJointModels() const { return mimic_joints_; }
  const std::vector<const JointModel*>& getSingleDOFJointModels() const { return single_dof_joints_; }
  const std::vector<const JointModel*>& getMultiDOFJointModels() const { return multi_dof_joints_; }

  // Entry [i + j * n]: the index of a joint from which joints i and j are both reached.
  const std::vector<int>& getCommonJointRoots() const { return common_joint_roots_; }
  const JointModel* getCommonRoot(const JointModel* a, const JointModel* b) const;

  const std::vector<std::string>& getVariableNames() const { return variable_names_; }
  size_t getVariableCount() const { return variable_count_; }
  const std::vector<int>& getActiveJointModelStartIndex() const { return active_joint_model_start_index_; }
  const JointBoundsVector& getActiveJointModelsBounds() const { return active_joint_models_bounds_; }
  const JointModel* getJointOfVariable(size_t variable_index) const { return joints_of_variable_[variable_index]; }

  const std::vector<const JointModelGroup*>& getJointModelGroups() const { return joint_model_groups_const_; }
  const std::vector<std::string>& getJointModelGroupNames() const { return joint_model_group_names_; }
  const std::vector<const JointModelGroup*>& getEndEffectors() const { return end_effectors_; }
  // One solver of each supported arm, in the order the groups search them:
  // Realman, KestrelBot V3, RML63-B, REV5-U800.
  const std::vector<KinematicsSlover>& getKinematicsSlovers() const { return kinematics_slovers_; }

  // Lookups: a miss prints its message and gives null (getVariableIndex throws).
  bool hasJointModel(const std::string& name) const;
  bool hasLinkModel(const std::string& name) const;
  const JointModel* getJointModel(const std::string& name) const;
  JointModel* getJointModel(const std::string& name);
  const JointModel* getJointModel(size_t index) const;
  const LinkModel* getLinkModel(size_t index) const;
  // With a found flag, a miss sets it to false instead of printing.
  const LinkModel* getLinkModel(const std::string& name, bool* found = nullptr) const;
  LinkModel* getLinkModel(const std::string& name, bool* found = nullptr);
  bool hasJointModelGroup(const std::string& name) const;
  const JointModelGroup* getJointModelGroup(const std::string& name) const;
  JointModelGroup* getJointModelGroup(const std::string& name);
  bool hasEndEffector(const std::string& name) const;
  const JointModelGroup* getEndEffector(const std::string& name) const;
  JointModelGroup* getEndEffector(const std::string& name);
  // A variable name or a joint name (its first variable); std::runtime_error otherwise.
  size_t getVariableIndex(const std::string& name) const;
  // The topmost link rigidly attached above the given one, or the link itself.
  static const LinkModel* getRigidlyConnectedParentLinkModel(const LinkModel* link);

  // Whole-state operations over arrays of getVariableCount() values.
  void getVariableDefaultPositions(double* values) const;
  void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng, double* values) const;
  void getVariableDefaultPositions(std::map<std::string, double>& values) const;
  void getVariableRandomPositions(random_numbers::RandomNumberGenerator& rng,
                                  std::map<std::string, double>& values) const;
  void updateMimicJoints(double* values) const;
  // Both take one bounds entry per active joint.
  bool satisfiesPositionBounds(const double* state, const JointBoundsVector& active_joint_bounds,
                               double margin = 0.0) const;
  bool enforcePositionBounds(double* state, const JointBoundsVector& active_joint_bounds) const;
  double distance(const double* state1, const double* state2) const;
  void interpolate(const double* from, const double* to, double t, double* state) const;
  double getMaximumExtent(const JointBoundsVector& active_joint_bounds) const;
  // Over the model's own active joint bounds.
  double getMaximumExtent() const;
  // Model variables missing from the given names, leaving out mimic joints' variables.
  void getMissingVariableNames(const std::vector<std::string>& variables,
                               std::vector<std::string>& missing_variables) const;

  void printCommonJointRoots() const;
  void printModelInfo(std::ostream& out) const;

 private:
  using LinkTransforms = LinkTransformMap;

  void loadFiles();
  void recordDroppedCollisionMeshes(const std::string& urdf_path);
  void addExistingKinematicsSlovers();
  // Builds everything, releasing what was made when a step throws.
  void buildModelOrRelease(const urdf::ModelInterface& urdf_model, const srdf::Model& srdf_model);
  void buildModel(const urdf::ModelInterface& urdf_model, const srdf::Model& srdf_model);
  JointModel* buildRecursive(LinkModel* parent, const urdf::Link* urdf_link, const srdf::Model& srdf_model);
  JointModel* constructJointModel(const urdf::Link* urdf_link, const srdf::Model& srdf_model);
  std::unique_ptr<JointModel> constructUrdfJointModel(const urdf::Link* urdf_link);
  std::unique_ptr<JointModel> constructRootJointModel(const urdf::Link* urdf_link, const srdf::Model& srdf_model);
  void applyJointProperties(JointModel* joint, const srdf::Model& srdf_model) const;
  LinkModel* constructLinkModel(const urdf::Link* urdf_link);
  std::shared_ptr<const shapes::Shape> constructShape(const urdf::Geometry* geometry, const std::string& link_name);
  std::string parseMeshPath(std::string path);
  void buildMimic(const urdf::ModelInterface& urdf_model);
  void resolveMimicChains();
  void buildJointInfo();
  void buildFixedTransforms();
  void computeDescendants();
  void computeCommonRoots();
  void computeFixedTransforms(const LinkModel* link, const Eigen::Isometry3d& transform,
                              LinkTransforms& associated_transforms);
  void buildGroups(const srdf::Model& srdf_model);
  bool addJointModelGroup(const srdf::Model::Group& group);
  void buildGroupsInfoSubgroups();
  void buildGroupsInfoEndEffectors(const srdf::Model& srdf_model);
  void buildGroupStates(const srdf::Model& srdf_model);
  void releaseModel();
  bramlock::internal::active_joints::Span activeJointSpan() const;

  MdhTable mdh_table_;
  std::string resource_directory_;
  std::string urdf_file_;
  std::string srdf_file_;
  std::string model_name_;
  std::string model_frame_;
  std::shared_ptr<srdf::Model> srdf_;
  std::shared_ptr<urdf::ModelInterface> urdf_;

  const LinkModel* root_link_ = nullptr;
  std::map<std::string, LinkModel*> link_model_map_;
  std::vector<LinkModel*> link_model_vector_;
  std::vector<const LinkModel*> link_model_vector_const_;
  std::vector<std::string> link_model_names_vector_;
  std::vector<const LinkModel*> link_models_with_collision_geometry_vector_;
  std::vector<std::string> link_model_names_with_collision_geometry_vector_;
  size_t link_geometry_count_ = 0;
  std::vector<UnusableMesh> unusable_collision_meshes_;

  const JointModel* root_joint_ = nullptr;
  std::map<std::string, JointModel*> joint_model_map_;
  std::vector<JointModel*> joint_model_vector_;
  std::vector<const JointModel*> joint_model_vector_const_;
  std::vector<std::string> joint_model_names_vector_;
  std::vector<JointModel*> active_joint_model_vector_;
  std::vector<std::string> active_joint_model_names_vector_;
  std::vector<const JointModel*> active_joint_model_vector_const_;
  std::vector<const JointModel*> continuous_joint_model_vector_;
  std::vector<const JointModel*> mimic_joints_;
  std::vector<const JointModel*> single_dof_joints_;
  std::vector<const JointModel*> multi_dof_joints_;
  std::vector<int> common_joint_roots_;

  std::vector<std::string> variable_names_;
  size_t variable_count_ = 0;
  std::map<std::string, size_t> joint_variables_index_map_;
  std::vector<int> active_joint_model_start_index_;
  JointBoundsVector active_joint_models_bounds_;
  std::vector<const JointModel*> joints_of_variable_;

  std::map<std::string, JointModelGroup*> joint_model_group_map_;
  std::map<std::string, JointModelGroup*> end_effectors_map_;
  std::vector<JointModelGroup*> joint_model_groups_;
  std::vector<const JointModelGroup*> joint_model_groups_const_;
  std::vector<std::string> joint_model_group_names_;
  std::vector<const JointModelGroup*> end_effectors_;

  std::vector<KinematicsSlover> kinematics_slovers_;
};

}  // namespace core
}  // namespace moveit
