#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"

namespace moveit {
namespace core {
class RobotModel;
class RobotState;
class JointModelGroup;
}  // namespace core
}  // namespace moveit

namespace collision_detection {
class World;
class AllowedCollisionMatrix;
class CollisionWorldFCL;
class CollisionRobotFCL;
struct CollisionRequest;
struct CollisionResult;
}  // namespace collision_detection

namespace octomap {
class OcTree;
}

// One robot arm loaded from its description files, with everything the
// planners ask about it: the robot model, two robot states, the allowed
// collision matrix, the collision world with its FCL checker and four FCL
// robot checkers (robot padding and gripper padding for world checks, two
// unpadded ones for self checks).
//
// Joint arrays handed in as double* hold one value per active variable of the
// planned group, in the group's order (mimic joints follow their sources).
// Without a planned group the checks answer false, the bounds -1 and the
// limits 0. Non-finite joint values make a state invalid.
//
// Construction loads the model, whose loading errors (an unreadable URDF,
// for one) leave the constructor as its exceptions. One scene serves one
// caller at a time: every check overwrites the state used for checking.
class ManipulatorPlanScene : public PlanSceneInterface {
 public:
  using MdhTable = std::vector<std::vector<double>>;

  // Full form: gripper padding 0.06, the acceleration limits one per joint.
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       std::string group_name, double robot_padding, double scale, std::string gripper_link,
                       MdhTable& mdh_table, std::vector<double> acceleration_limits);
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       std::string group_name, double robot_padding, double scale, std::string gripper_link,
                       MdhTable& mdh_table);
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       std::string group_name, double robot_padding, double scale, std::string gripper_link);
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       std::string group_name, double robot_padding, double scale);
  // Gripper padding 0.08 and no group selected: call setPlannedJointGroup before any check.
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       double robot_padding, double scale);
  // Empty paths, group "arm", paddings 0 and 0.06, scale 1. The model cannot
  // load from empty paths, so this form throws the model's exception.
  ManipulatorPlanScene();
  ~ManipulatorPlanScene() override;
  ManipulatorPlanScene(const ManipulatorPlanScene&) = delete;
  ManipulatorPlanScene& operator=(const ManipulatorPlanScene&) = delete;

  int buildRobot();
  void initialize();
  // initialize(), then selects the group; a failed selection is printed and
  // leaves the scene without a planned group.
  void initialize(std::string group_name);
  // 0; -1 when the model has no group to plan for; -2 for an unknown name.
  // With a single candidate group the name is ignored. Throws what
  // initCheckMotionStateSpacePara throws, keeping the previous selection.
  int setPlannedJointGroup(std::string group_name);
  // Motion-check resolution from the planned group's extent; std::runtime_error
  // when there is no planned group or the extent is below epsilon or not finite.
  void initCheckMotionStateSpacePara();
  // Every occurrence of pattern replaced; the search goes on after each
  // inserted replacement, so a replacement containing the pattern is kept.
  std::string subReplace(std::string text, std::string pattern, std::string replacement);

  // PlanSceneInterface
  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override;
  // The joint count, or 0 while no bounds were asked for, without acceleration
  // limits for every joint, or with a non-finite limit.
  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override;
  bool isValid(double* joints) override;
  bool isValidSimplify(double* joints) override;
  bool checkMotion(double* from, double* to) override;
  bool checkMotionSimplify(double* from, double* to) override;
  // The whole model's extent over its active joints; std::runtime_error when
  // it is not finite (a continuous joint) or below epsilon.
  double getMaximumExtent() override;

  // False unless the vector holds one value per active variable of the planned group.
  bool isValid(std::vector<double> joints);
  void checkCollisionFcl(const collision_detection::CollisionRequest& req, collision_detection::CollisionResult& res,
                         const moveit::core::RobotState& state,
                         const collision_detection::AllowedCollisionMatrix& acm);
  void checkCollisionFclSimplify(const collision_detection::CollisionRequest& req,
                                 collision_detection::CollisionResult& res, const moveit::core::RobotState& state,
                                 const collision_detection::AllowedCollisionMatrix& acm);
  // Number of segments a motion is cut into; 0 without a planned group or for non-finite input.
  unsigned int validSegmentCount(double* from, double* to);

  // Replaces the whole world by one object "world_octomap" holding the tree; -1 for a null tree.
  int updateWorldOctomap(std::shared_ptr<const octomap::OcTree> tree);

  // Records of every revolute joint of every group, for the trajectory planners.
  const std::vector<ArmMDHParams>& getArmMdhParams() const { return arm_mdh_params_; }

 private:
  enum class CheckRoad { kPlanning, kSimplify };

  // Stores the arguments shared by every constructor form.
  void storeArguments(double robot_padding, double gripper_padding, double scale);
  void printModelFacts() const;
  void printGroupFacts(moveit::core::JointModelGroup& group);
  void buildCollisionObjects();
  void buildInputStateBuffers();
  // Planner layout (active variables) to the group's layout (all variables, mimic joints set).
  bool expandToGroupLayout(const double* active, std::vector<double>& group_values) const;
  void compactToActiveLayout(const double* group_values, double* active) const;
  bool isStateValid(const double* group_values, CheckRoad road);
  // World check with one robot geometry, then the self check with the other.
  void checkCollisionWith(const collision_detection::CollisionRobotFCL& world_robot,
                          const collision_detection::CollisionRobotFCL& self_robot,
                          const collision_detection::CollisionRequest& req, collision_detection::CollisionResult& res,
                          const moveit::core::RobotState& state,
                          const collision_detection::AllowedCollisionMatrix& acm) const;
  bool isValidOn(double* joints, CheckRoad road);
  // Through the virtual interface, as the planner asks.
  bool isValidBy(double* joints, CheckRoad road);
  bool checkMotionOn(double* from, double* to, CheckRoad road);
  unsigned int segmentCount(const double* from_group, const double* to_group) const;

  std::string description_dir_;
  std::string urdf_file_;
  std::string srdf_file_;
  std::shared_ptr<moveit::core::RobotModel> robot_model_;
  std::shared_ptr<collision_detection::World> world_;
  std::shared_ptr<moveit::core::RobotState> robot_state_;
  std::shared_ptr<moveit::core::RobotState> transform_state_;
  std::shared_ptr<collision_detection::AllowedCollisionMatrix> acm_;
  std::shared_ptr<collision_detection::CollisionWorldFCL> collision_world_;
  std::shared_ptr<collision_detection::CollisionRobotFCL> collision_robot_;
  std::shared_ptr<collision_detection::CollisionRobotFCL> collision_robot_gripper_;
  std::shared_ptr<collision_detection::CollisionRobotFCL> collision_robot_unpadded_;
  std::shared_ptr<collision_detection::CollisionRobotFCL> collision_robot_unpadded_simplify_;
  double robot_padding_ = 0.0;
  double gripper_padding_ = 0.06;
  double scale_ = 1.0;
  std::string planned_group_name_;
  double* planned_input_state_ = nullptr;
  const moveit::core::JointModelGroup* planned_group_ = nullptr;
  // One buffer of the group's variable count per group without subgroups;
  // a buffer never changes size, so pointers into it stay valid.
  std::map<std::string, std::vector<double>> group_input_state_map_;
  double max_extent_;
  double longest_valid_segment_fraction_ = 0.005;
  double longest_valid_segment_;
  std::uint32_t valid_segment_count_factor_ = 1;
  std::vector<double> vmax_;
  std::vector<double> amax_;
  std::string robot_description_;
  std::string gripper_link_name_;
  MdhTable mdh_table_;
  std::vector<double> acceleration_limits_;
  std::vector<ArmMDHParams> arm_mdh_params_;
  // Group-layout scratch of the checks, sized with the planned group.
  std::vector<double> state_scratch_;
  std::vector<double> from_scratch_;
  std::vector<double> to_scratch_;
  std::vector<double> motion_scratch_;
};
