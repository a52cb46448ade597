#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <map>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Dense>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/plan_scene/link_transform.h"
#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/planner/arm_mdh_params.h"

class KinematicsInterface;

namespace bramlock {
namespace internal {
class CheckedStates;
class MotionSweep;
class PaddedClearances;
}  // namespace internal
}  // namespace bramlock

namespace moveit {
namespace core {
class RobotModel;
class RobotState;
class JointModelGroup;
class LinkModel;
class AttachedBody;
}  // namespace core
}  // namespace moveit

namespace collision_detection {
class World;
class AllowedCollisionMatrix;
class CollisionWorldFCL;
class CollisionRobot;
class CollisionRobotFCL;
struct CollisionRequest;
struct CollisionResult;
}  // namespace collision_detection

namespace octomap {
class OcTree;
}

namespace pcl {
struct PolygonMesh;
}

namespace shapes {
class Shape;
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
// for one) leave the constructor as its exceptions; a robot padding or scale
// that is not finite or larger than kMaxPaddingOrScale, a scale below
// epsilon, or an MDH table holding a value that is not finite (named by row
// and column) throws std::invalid_argument. A link whose collision mesh
// cannot be used (see RobotModel::getUnusableCollisionMeshes), or whose
// collision geometry (mesh vertices, primitive sizes, collision origins)
// reaches farther than kMaxPaddingOrScale from the link or is not finite,
// throws moveit::core::Exception naming the link and the file (the mesh
// file, or the URDF). A group named for
// planning that has a planar or floating joint throws std::runtime_error (see
// setPlannedJointGroup). A gripper link the model lacks is reported with a
// printed line.
// One scene serves one caller at a time: every check overwrites the state
// used for checking.
//
// Against the world, a closed link or attached mesh is a solid: an obstacle
// (an octomap voxel) whose centre lies inside the unpadded mesh is a
// collision, as is one that touches a triangle of the padded mesh the check
// tests. Inside is decided on the unpadded mesh at any padding: a voxel that
// lies within the padded copy but outside the mesh and touches none of the
// padded triangles is not reported. A mesh that is an open surface (a plate,
// a mesh with large holes) is tested by its triangles alone; the scene names
// such link meshes in a warning when it is built (attached meshes when they
// are attached). Self checks test triangles only (the links' unpadded, an
// attached body's with the padding its shapes carry), so a link wholly inside
// another is not reported.
class BRAMLOCK_EXPORT ManipulatorPlanScene : public PlanSceneInterface {
 public:
  using MdhTable = std::vector<std::vector<double>>;
  // Paddings (metres, either sign) and scales beyond this make link meshes
  // whose coordinates overflow in FCL's bounding volumes; attached bodies
  // keep to the same range.
  static constexpr double kMaxPaddingOrScale = 1e6;

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
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file, double robot_padding,
                       double scale);
  // Empty paths, group "arm", paddings 0 and 0.06, scale 1. The model cannot
  // load from empty paths, so this form throws the model's exception.
  ManipulatorPlanScene();
  ~ManipulatorPlanScene() override;
  ManipulatorPlanScene(const ManipulatorPlanScene&) = delete;
  ManipulatorPlanScene& operator=(const ManipulatorPlanScene&) = delete;

  // Loads the model from the description files. On a scene already started it
  // starts the scene again around the new model, like initialize().
  int buildRobot();
  // The whole start-up: model, states, collision objects and input buffers.
  // No group is selected afterwards (a single group is only named).
  void initialize();
  // initialize(), then selects the group; a failed selection is printed and
  // leaves the scene without a planned group.
  void initialize(std::string group_name);
  // 0; -1 when the model has no group to plan for; -2 for an unknown name.
  // With a single candidate group the name is ignored. Throws what
  // initCheckMotionStateSpacePara throws, keeping the previous selection:
  // std::runtime_error("longest_valid_segment is not finite!\n") for a group
  // with a planar or floating joint, whose extent has no bound. The
  // constructors that select a group pass it on.
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
  // The straight motion in joint values from `from` to `to` (a continuous joint too moves
  // through the values between, never the other way round) is free of collision: every state
  // tested passes isValid (isValidSimplify), the end state included; the start state is not
  // tested. The states tested lie so close together that no point of the arm's collision
  // geometry moves more than getMotionCheckStep() between two of them, and there are never
  // fewer than validSegmentCount's ceil(distance / (0.005 x the group's extent)) segments; the
  // middle state is tested first, then the middles of the halves. A motion that would need
  // more than kMaxMotionCheckStates states is refused (false, with a logged line), untested.
  bool checkMotion(double* from, double* to) override;
  bool checkMotionSimplify(double* from, double* to) override;
  // Every sample in collision-free reach of a tested one: samples are tested with isValid
  // wherever the geometry has moved getMotionCheckStep() since the last tested one, the first
  // and the last always; two samples further apart than that are joined by checkMotion.
  bool checkSampledMotion(const std::vector<std::vector<double>>& samples, std::size_t* failing_index) override;
  // The whole model's extent over its active joints; std::runtime_error when
  // it is not finite (a continuous joint) or below epsilon.
  double getMaximumExtent() override;

  // False unless the vector holds one value per active variable of the planned group.
  bool isValid(std::vector<double> joints);
  void checkCollisionFcl(const collision_detection::CollisionRequest& req, collision_detection::CollisionResult& res,
                         const moveit::core::RobotState& state, const collision_detection::AllowedCollisionMatrix& acm);
  void checkCollisionFclSimplify(const collision_detection::CollisionRequest& req,
                                 collision_detection::CollisionResult& res, const moveit::core::RobotState& state,
                                 const collision_detection::AllowedCollisionMatrix& acm);
  // Number of segments checkMotion cuts a motion into (the states it tests); 0 for a motion
  // it refuses untested: without a planned group, for non-finite input, a motion longer than
  // the group's extent or one needing more than kMaxMotionCheckStates states.
  unsigned int validSegmentCount(double* from, double* to);

  // What a passed motion check promises. Between two states a check tests, no point of the arm's
  // collision geometry (link shapes, attached bodies) moves more than the step (metres), by a bound:
  // per joint, the largest distance from its axis of all geometry it carries (its child link, the
  // links beyond it and the bodies attached to any of them; in the pose where the motion starts,
  // plus what the joints beyond can carry it away during the motion, at most the largest over all
  // poses), times its change, summed over the joints. The clearance is how far the padded geometry
  // that the road's world check tests keeps any obstacle from the unpadded arm's moving parts (every
  // link the group moves, with the bodies attached to it, listed in the group or not): meshes are
  // padded by moving their vertices away from the vertices' centroid, which keeps the gap between
  // the two surfaces (often next to nothing on concave meshes), primitives and attached boxes keep
  // their padding. The step is twice the clearance, but at least kMinimumMotionCheckStep. At a
  // tested state no obstacle lies inside the unpadded arm (closed meshes are solids, see the class
  // comment); between two tested states the unpadded arm reaches at most step / 2 - clearance into
  // any obstacle, however small, and not at all where the clearance is step / 2. An obstacle inside
  // a mesh that is an open surface is not seen. Self checks do not pad links (an attached body's
  // padding is part of its shapes, so it counts there too): two links can come step / 2 into each
  // other between tested states. The world check tests only what the group moves: an obstacle at
  // the fixed base is not reported. The simplify road's figures with `simplify` true; 0
  // without a planned group.
  static constexpr double kMinimumMotionCheckStep = 0.01;
  double getMotionCheckStep(bool simplify = false);
  double getMotionCheckClearance(bool simplify = false);
  // The most states one motion check may test: fifty times what a motion of
  // every joint from its lower to its upper bound needs on the published arms
  // (about 1,100 on the RM65, 2,100 on the RML63). A motion needing more (joint
  // bounds or geometry so large that stepping through would take hours) is
  // refused, never passed.
  static constexpr unsigned int kMaxMotionCheckStates = 100000;

  // Kinematics through the planned group's arm solver. Codes: 0 or the
  // solver's own code; -100 (with "kinematics_interface_ptr_==null!") when
  // the group has no solver; kBadKinematicsInput when a joint vector or seed
  // does not hold one finite value per active variable of the group or a
  // pose is not a finite 4x4 matrix whose rotation block is a rotation (to
  // 1e-2 in each entry of R^T R, no reflection) and whose bottom row is
  // (0 0 0 1) to 1e-2 in each entry. Outputs are untouched unless the solver
  // is called. Forward kinematics returns kNoForwardPose (with
  // "forward kinematics failed!!!"), output untouched, when the solver gives
  // no finite 4x4 pose (a REV5-U800 solver whose chain could not be loaded).
  static constexpr int kBadKinematicsInput = -101;
  static constexpr int kNoForwardPose = -1;
  int forwardKinematics(std::vector<double> q, Eigen::MatrixXd& pose);
  int forwardKinematics(std::vector<double> q, Eigen::Matrix4d& pose);
  // On an RML63-B arm the two directions use different frames: forward
  // kinematics gives the tool point, 0.17 m beyond the flange (the sixth
  // joint frame) along its z axis, while inverse kinematics takes the flange
  // pose. A forward pose handed back unchanged does not give the joints back;
  // move it by T * TransZ(-0.17) first.
  // The solution nearest the seed.
  int inverseKinematics(Eigen::MatrixXd& T, std::vector<double> seed, std::vector<double>& q);
  int inverseKinematics(Eigen::MatrixXd& T, std::vector<double>& q);
  // Every solution found, appended.
  int inverseKinematics(Eigen::MatrixXd& T, std::vector<std::vector<double>>& solutions);
  int inverseKinematics(Eigen::MatrixXd& T, std::vector<double> seed, std::vector<std::vector<double>>& solutions);
  int getMinEigenvalue(const std::vector<double>& q, double& min_eigenvalue);

  // Names of all links of the model, in model order.
  std::vector<std::string> getLinks();
  // 0; -1 for a model without links; -2 for an unknown name (link untouched).
  int getLink(std::string name, const moveit::core::LinkModel*& link);
  // The planned group's last link: 0; -1 without a planned group or links; -2 when it cannot be found.
  int getTcpLink(std::string& name, const moveit::core::LinkModel*& link);
  // Poses of the planned group's links at the joint values (planner layout);
  // empty without a planned group or for null or non-finite values.
  // std::runtime_error "Invalid link." for a group link unknown to the model.
  std::vector<LinkTransform> getLinkTransforms(double* joints);
  // Pose of the gripper link at q; the identity without one, or when q does
  // not hold one value per active variable of the planned group.
  Eigen::Matrix4d getToolEndTransform(std::vector<double> q);
  // Parent link of the planned group's common root joint; empty without one.
  std::string getRobotBaseLinkName();
  // The URDF text with every "package://" replaced by "file://" and the description directory.
  std::string getRobotDescriptions();
  // The planned group's active joint names; returns their count (0: names untouched).
  int getPlanedJointNames(std::vector<std::string>& names);

  // A box of box_size[0..2] metres at pose (link frame) fixed to the link. 0;
  // -1 for an unknown link, a null size, a size that is not positive or
  // exceeds kMaxPaddingOrScale, a box that reaches farther than that from
  // its frame once scaled, or a pose that is not rigid (as for the
  // kinematics) or is offset by more than kMaxPaddingOrScale. A world object of the same id is removed first.
  // The body's scale and padding are not refused: a scale that is not finite,
  // below 1e-5 (0 and negative ones too) or above 1e6 becomes 1, and a padding
  // that is negative, not finite or above 1e6 becomes 0, each with a printed
  // warning.
  int addAttachedCollisionObjectToLink(const std::string& id, const std::string& link_name,
                                       std::set<std::string> touch_links, Eigen::Matrix4d pose, double* box_size,
                                       double scale, double padding);
  // The mesh of an STL resource fixed to the link, scaled about its own
  // origin as a URDF mesh's scale is (a mesh in millimetres at 0.001 is the
  // mesh in metres). 0; -1 when the resource
  // cannot be loaded, the link is unknown, the pose is refused as above, or a
  // vertex is not finite or lies farther than kMaxPaddingOrScale from the
  // mesh's frame once scaled (logged, naming the resource); scale and padding
  // are replaced as above. Nothing changes on -1, a body of the same id stays.
  int addAttachedEndEffectorToLink(const std::string& id, const std::string& link_name,
                                   std::set<std::string> touch_links, Eigen::Matrix4d pose, std::string mesh_path,
                                   double scale, double padding);
  // Always 0, also for an id that is not attached.
  int removeAttachedCollisionObjectFromLink(const std::string& id);
  // Paddings need a planned group with a joint that is not active (a gripper):
  // -1 without one, or for a padding that is not finite or whose size exceeds
  // kMaxPaddingOrScale. The gripper paddings also -1 when the gripper link
  // named at construction is not a link of the model.
  // What each one pads: setGripperPadding(padding) and setRobotPadding the
  // world check of isValid and checkMotion (the planning road);
  // setGripperPadding(robot, padding) the given checker only. The world check
  // of isValidSimplify and checkMotionSimplify keeps the gripper padding given
  // at construction on every link; self checks never pad links. A change of
  // padding changes the motion-check step (getMotionCheckStep).
  int setGripperPadding(double padding);
  // The same on the given checker; -1 also for a null checker.
  int setGripperPadding(std::shared_ptr<collision_detection::CollisionRobot> robot, double padding);
  // Pads the planned group's links from the third on, on the planning road's
  // checker; "base_link" gets 0 and the group's first two links keep the
  // padding they have (the constructor's robot padding).
  int setRobotPadding(double padding);
  int recoverRobotPadding();

  // Replaces the whole world by one object "world_octomap" holding the tree;
  // -1 (world unchanged) for a null tree, one whose resolution is not a
  // positive finite number, or one whose voxels reach beyond 1e6 m. The scene reads the tree in place and remembers
  // its answers: change the world by handing over a new tree, never by
  // changing a tree already handed over.
  int updateWorldOctomap(std::shared_ptr<const octomap::OcTree> tree);

  // One mesh per link of the planned group at the joints, vertices placed
  // with their collision bodies' poses. 0; -1 for a link without shapes; -2
  // for a shape that is not a mesh; -3 when the joints do not hold one finite
  // value per active variable of the planned group. Meshes are appended.
  int getLinkPolygonMeshs(std::vector<double> joints, std::vector<pcl::PolygonMesh>& meshes);
  // The collision-free states strictly between from and to at the motion
  // check's resolution, each with the group's variable count of values; none
  // for a motion checkMotion refuses untested (see validSegmentCount).
  std::vector<std::vector<double>> interpolate(double* from, double* to);

  // Records of every revolute joint of every group, for the trajectory planners.
  const std::vector<ArmMDHParams>& getArmMdhParams() const { return arm_mdh_params_; }

 private:
  enum class CheckRoad { kPlanning, kSimplify };

  // Every public form builds through this one; without a group name no group
  // is selected at start-up.
  ManipulatorPlanScene(std::string description_dir, std::string urdf_file, std::string srdf_file,
                       std::optional<std::string> group_name, double robot_padding, double gripper_padding,
                       double scale, std::string gripper_link, MdhTable mdh_table,
                       std::vector<double> acceleration_limits);
  // Checks and stores the geometry arguments.
  void storeArguments(double robot_padding, double gripper_padding, double scale);
  void loadRobotModel();
  // States, collision objects and input buffers for the current model.
  void startUpAroundModel();
  void printModelFacts() const;
  void printGroupFacts(moveit::core::JointModelGroup& group) const;
  void buildCollisionObjects();
  void buildInputStateBuffers();
  // Planner layout (active variables) to the group's layout (all variables, mimic joints set).
  bool expandToGroupLayout(const double* active, std::vector<double>& group_values) const;
  void compactToActiveLayout(const double* group_values, double* active) const;
  bool isStateValid(const std::vector<double>& group_values, CheckRoad road);
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
  // Both ends in the group's layout (from_scratch_, to_scratch_) and the
  // number of segments between them; false for input that no motion inside
  // the joint bounds can have (null, non-finite, longer than the extent) and,
  // with a logged line, for a motion needing more than kMaxMotionCheckStates states.
  bool prepareMotion(const double* from, const double* to, CheckRoad road, unsigned int& segments);
  // Summed joint distance in values (group layout), a continuous joint's too.
  double straightDistance(const double* from, const double* to) const;
  struct MotionSpacing {
    double clearance;
    double step;
  };
  const MotionSpacing& motionSpacing(CheckRoad road);
  double roadClearance(CheckRoad road);
  bramlock::internal::MotionSweep& motionSweep();
  // How far the geometry can move from one state to the other (group layout).
  double sweepBound(const std::vector<double>& from, const std::vector<double>& to);
  // The same over a straight motion, as evenly spaced states need it.
  double straightSweep(const std::vector<double>& from, const std::vector<double>& to);
  bool samplesPass(const std::vector<std::vector<double>>& samples, std::size_t& failing);
  // The state at segment k of n in motion_scratch_ (group layout) and
  // planned_input_state_ (planner layout).
  void interpolateSegment(unsigned int k, unsigned int segments);
  // The planned group's solver for the inputs, or the wrapper's error code.
  int kinematicsFor(std::initializer_list<const std::vector<double>*> vectors, const Eigen::MatrixXd* pose,
                    KinematicsInterface*& solver) const;
  bool hasGripper() const;
  bool paddingAllowed(double padding) const;
  bool gripperPaddingAllowed(double padding) const;
  // Prints a line naming the gripper link when the model has no such link.
  bool gripperLinkKnown() const;
  void tellCheckersAboutAttachedBodies();
  // Attaches the body, replacing one of the same id.
  void attachBody(std::unique_ptr<moveit::core::AttachedBody> body);
  // Segments of the motion check over a distance in the group's metric and a
  // sweep bound in metres; not bounded (prepareMotion holds it to the cap).
  double segmentCount(double distance, double sweep, CheckRoad road);
  // Empties the memo of checked states; every change of the world, the
  // paddings, the attached bodies, the group or the model calls it.
  void forgetCheckedStates();
  // forgetCheckedStates, and the motion spacing is worked out again: the
  // paddings, the attached bodies, the group or the model changed.
  void forgetGeometry();

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
  // Per check road, the states it tested last and their answers.
  std::array<std::unique_ptr<bramlock::internal::CheckedStates>, 2> checked_states_;
  // Worked out on the first motion check after a change of the geometry.
  std::unique_ptr<bramlock::internal::MotionSweep> motion_sweep_;
  std::array<std::optional<MotionSpacing>, 2> motion_spacing_;
  std::unique_ptr<bramlock::internal::PaddedClearances> padded_clearances_;
};
