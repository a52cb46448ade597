#pragma once

#include <cstddef>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <boost/function.hpp>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"

namespace random_numbers {
class RandomNumberGenerator;
}

namespace moveit {
namespace core {

using AttachedBodyCallback = boost::function<void(AttachedBody*, bool)>;

// One configuration of a robot model: the value of every variable (with
// optional velocities and either accelerations or efforts), and lazily
// computed joint, link and collision-body transforms. Writing values only
// marks joints dirty and widens the dirty root; update() and its narrower
// twins recompute the transforms below that root. All arrays live in one
// zeroed, 16-byte aligned block.
//
// Value setters reject non-finite values, null pointers, null groups and
// arrays of the wrong size with std::invalid_argument before changing
// anything; unknown variable names throw the model's std::runtime_error.
class BRAMLOCK_EXPORT RobotState {
 public:
  using ModelConstPtr = std::shared_ptr<const RobotModel>;

  // A null model throws std::invalid_argument; a failed allocation std::bad_alloc.
  explicit RobotState(const ModelConstPtr& model);
  RobotState(const RobotState& other);
  // Both states must share one model, else std::invalid_argument.
  RobotState& operator=(const RobotState& other);
  ~RobotState();

  const ModelConstPtr& getRobotModel() const { return model_; }
  size_t getVariableCount() const { return model_->getVariableCount(); }
  const std::vector<std::string>& getVariableNames() const { return model_->getVariableNames(); }

  // ---- positions, velocities, accelerations, efforts ----
  double* getVariablePositions() { return positions_; }
  const double* getVariablePositions() const { return positions_; }
  double* getVariableVelocities() { return velocities_; }
  const double* getVariableVelocities() const { return velocities_; }
  // Accelerations and efforts share one array; the last of them marked owns it.
  double* getVariableAccelerations() { return accelerations_; }
  const double* getVariableAccelerations() const { return accelerations_; }
  double* getVariableEffort() { return efforts_; }
  const double* getVariableEffort() const { return efforts_; }
  bool hasVelocities() const { return has_velocities_; }
  bool hasAccelerations() const { return has_accelerations_; }
  bool hasEffort() const { return has_efforts_; }

  void markVelocity();
  void markAcceleration();
  void markEffort();
  void zeroVelocities();
  void zeroAccelerations();
  void zeroEffort();
  void dropVelocities();
  void dropAccelerations();
  void dropEffort();
  void dropDynamics();
  void invertVelocity();
  // Refused with a printed line while the shared array holds accelerations.
  void setJointEfforts(const JointModel* joint, const double* effort);

  // All V positions; mimic joints are taken as given.
  void setVariablePositions(const double* position);
  // Per name; the joints that mimic a written joint follow it.
  void setVariablePositions(const std::map<std::string, double>& variable_map);
  void setVariablePositions(const std::vector<std::string>& variable_names,
                            const std::vector<double>& variable_position);
  void setVariablePositions(const std::map<std::string, double>& variable_map,
                            std::vector<std::string>& missing_variables);
  void setVariableVelocities(const std::map<std::string, double>& variable_map);
  void setVariableVelocities(const std::vector<std::string>& variable_names,
                             const std::vector<double>& variable_velocity);
  void setVariableVelocities(const std::map<std::string, double>& variable_map,
                             std::vector<std::string>& missing_variables);
  void setVariableAccelerations(const std::map<std::string, double>& variable_map);
  void setVariableAccelerations(const std::vector<std::string>& variable_names,
                                const std::vector<double>& variable_acceleration);
  void setVariableAccelerations(const std::map<std::string, double>& variable_map,
                                std::vector<std::string>& missing_variables);
  void setVariableEffort(const std::map<std::string, double>& variable_map);
  void setVariableEffort(const std::vector<std::string>& variable_names, const std::vector<double>& variable_effort);
  void setVariableEffort(const std::map<std::string, double>& variable_map,
                         std::vector<std::string>& missing_variables);
  // Model variables (mimic joints left out) that are not keys of the map, in model order.
  void getMissingKeys(const std::map<std::string, double>& variable_map,
                      std::vector<std::string>& missing_variables) const;

  // ---- group values (group-local arrays of the group's variable count) ----
  void setJointGroupPositions(const JointModelGroup* group, const double* gstate);
  void setJointGroupPositions(const JointModelGroup* group, const Eigen::VectorXd& values);
  // One value per active variable.
  void setJointGroupActivePositions(const JointModelGroup* group, const std::vector<double>& gstate);
  void setJointGroupActivePositions(const JointModelGroup* group, const Eigen::VectorXd& values);
  void copyJointGroupPositions(const JointModelGroup* group, double* gstate) const;
  void copyJointGroupPositions(const JointModelGroup* group, Eigen::VectorXd& values) const;
  void setJointGroupVelocities(const JointModelGroup* group, const double* gstate);
  void setJointGroupVelocities(const JointModelGroup* group, const Eigen::VectorXd& values);
  void copyJointGroupVelocities(const JointModelGroup* group, double* gstate) const;
  void copyJointGroupVelocities(const JointModelGroup* group, Eigen::VectorXd& values) const;
  void setJointGroupAccelerations(const JointModelGroup* group, const double* gstate);
  void setJointGroupAccelerations(const JointModelGroup* group, const Eigen::VectorXd& values);
  void copyJointGroupAccelerations(const JointModelGroup* group, double* gstate) const;
  void copyJointGroupAccelerations(const JointModelGroup* group, Eigen::VectorXd& values) const;

  // ---- defaults and random values ----
  // Zeroes velocities and the shared array too, keeping the flags.
  void setToDefaultValues();
  // The group's named default state; false (nothing set) for an unknown name.
  bool setToDefaultValues(const JointModelGroup* group, const std::string& name);
  void setToRandomPositions();
  void setToRandomPositions(const JointModelGroup* group);
  void setToRandomPositions(const JointModelGroup* group, random_numbers::RandomNumberGenerator& rng);
  // One finite, non-negative distance per active joint of the group.
  void setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                  const std::vector<double>& distances);
  void setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                  const std::vector<double>& distances, random_numbers::RandomNumberGenerator& rng);
  void setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed, double distance);
  void setToRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed, double distance,
                                  random_numbers::RandomNumberGenerator& rng);

  // ---- bounds ----
  // A NaN margin satisfies nothing.
  bool satisfiesBounds(double margin = 0.0) const;
  bool satisfiesBounds(const JointModelGroup* group, double margin = 0.0) const;
  void enforceBounds();
  void enforceBounds(const JointModelGroup* group);
  void harmonizePositions();
  void harmonizePositions(const JointModelGroup* group);
  // Smallest distance of a bounded joint to one of its position limits, and
  // that joint; (largest double, null) when no joint qualifies.
  std::pair<double, const JointModel*> getMinDistanceToPositionBounds() const;
  std::pair<double, const JointModel*> getMinDistanceToPositionBounds(const JointModelGroup* group) const;
  std::pair<double, const JointModel*> getMinDistanceToPositionBounds(
      const std::vector<const JointModel*>& joints) const;

  // ---- distances and motion ----
  // Each active variable moves at most dt times its maximum velocity; a
  // non-finite dt is no valid move.
  bool isValidVelocityMove(const RobotState& other, const JointModelGroup* group, double dt) const;
  double distance(const RobotState& other, const JointModelGroup* group) const;
  // Group positions += dt * qdot, clamped into the bounds; then the constraint, if any.
  bool integrateVariableVelocity(
      const JointModelGroup* group, const Eigen::VectorXd& qdot, double dt,
      const std::function<bool(RobotState*, const JointModelGroup*, const double*)>& constraint);

  // ---- transforms ----
  // Brings link and collision-body transforms up to date; force recomputes all.
  void update(bool force = false);
  void updateLinkTransforms();
  void updateCollisionBodyTransforms();
  // Gives the link exactly this transform and moves the links below it along;
  // with backward also the links above it (and their other branches). A null
  // link or a transform that is not a finite rigid motion throws std::invalid_argument.
  void updateStateWithLinkAt(const LinkModel* link, const Eigen::Isometry3d& transform, bool backward = false);

  bool checkJointTransforms(const JointModel* joint) const;
  bool checkLinkTransforms() const;
  bool checkCollisionTransforms() const;

  // Joint and link arguments of the transform and value operations must be
  // the model's own: null or foreign ones throw std::invalid_argument.
  // Recomputed when its joint is dirty.
  const Eigen::Isometry3d& getJointTransform(const JointModel* joint);
  // Requires the joint to be up to date.
  const Eigen::Isometry3d& getJointTransform(const JointModel* joint) const;
  // Updates the link transforms first.
  const Eigen::Isometry3d& getGlobalLinkTransform(const LinkModel* link);
  // Requires current link transforms.
  const Eigen::Isometry3d& getGlobalLinkTransform(const LinkModel* link) const;
  // Shape `index` of the link (std::out_of_range beyond its shapes); requires
  // current collision-body transforms.
  const Eigen::Isometry3d& getCollisionBodyTransform(const LinkModel* link, size_t index) const;

  // A link name (leading slashes ignored) or the model frame; an unknown name
  // gives the identity with frame_found false. Needs current link transforms.
  const Eigen::Isometry3d& getFrameInfo(const std::string& frame_id, const LinkModel*& robot_link,
                                        bool& frame_found) const;
  // Without a flag pointer an unknown frame is reported on standard output.
  const Eigen::Isometry3d& getFrameTransform(const std::string& frame_id, bool* frame_found = nullptr) const;
  // Updates the link transforms first.
  const Eigen::Isometry3d& getFrameTransform(const std::string& frame_id, bool* frame_found = nullptr);
  // Links and attached bodies with at least one shape (leading slashes ignored).
  bool knowsFrameTransform(const std::string& frame_id) const;

  // ---- attached bodies ----
  // Takes ownership; a body of the same id is replaced. A body without a link
  // throws std::runtime_error("Invalid link.") and leaves the state as it was.
  void attachBody(std::unique_ptr<AttachedBody> attached_body);
  bool hasAttachedBody(const std::string& id) const;
  // Null (with a printed line) for an unknown id.
  const AttachedBody* getAttachedBody(const std::string& id) const;
  // All bodies in id order.
  void getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies) const;
  void getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies, const LinkModel* link) const;
  void getAttachedBodies(std::vector<const AttachedBody*>& attached_bodies, const JointModelGroup* group) const;
  bool clearAttachedBody(const std::string& id);
  void clearAttachedBodies();
  void clearAttachedBodies(const JointModelGroup* group);
  void clearAttachedBodies(const LinkModel* link);
  // Called with (body, true) after an attach and (body, false) before a removal.
  void setAttachedBodyUpdateCallback(const AttachedBodyCallback& callback) { attached_body_callback_ = callback; }

 private:
  struct FreeBlock {
    void operator()(void* block) const;
  };
  using AttachedBodyMap = std::map<std::string, std::unique_ptr<AttachedBody>>;

  void allocMemory();
  void initTransforms();
  void copyFrom(const RobotState& other);
  void requireSameModel(const RobotState& other, const char* operation) const;
  bool ownsLink(const LinkModel* link) const;
  void requireOwnLink(const LinkModel* link, const char* operation) const;
  void requireOwnJoint(const JointModel* joint, const char* operation) const;
  void requireOwnGroup(const JointModelGroup* group, const char* operation) const;

  // Dirty bookkeeping.
  void markDirtyJointTransforms(const JointModel* joint);
  void markDirtyJointTransforms(const JointModelGroup* group);
  void markAllDirty();
  void widenDirtyLinkRoot(const JointModel* joint);
  // Positions of the joints that mimic this one follow it; each is marked dirty.
  void updateMimicJoint(const JointModel* joint);
  void updateGroupMimicJoints(const JointModelGroup* group);

  // Transforms.
  // getJointTransform without the argument check.
  const Eigen::Isometry3d& jointTransform(const JointModel* joint);
  void updateLinkTransformsInternal(const JointModel* start);
  void updateLinkTransform(const LinkModel* link);
  // Link transforms of the joint's child link and every link below it.
  void recomputeLinksBelow(const JointModel* start);
  void updateCollisionBodies(const LinkModel* link);
  void updateAttachedBodyTransforms();
  size_t transformCount() const;
  size_t dirtyByteDoubles() const;

  // Value helpers. Velocity, acceleration and effort writers check their
  // input, mark their array as in use, then write.
  using MarkArray = void (RobotState::*)();
  // Writes one position, marks its joint dirty and moves the joint's followers.
  void writeVariablePosition(size_t index, double value);
  void setVariableValues(MarkArray mark, double* values, const std::vector<std::string>& names,
                         const std::vector<double>& given, const char* size_condition, const char* operation);
  void setVariableValues(MarkArray mark, double* values, const std::map<std::string, double>& variable_map,
                         const char* operation);
  void setJointGroupValues(MarkArray mark, double* values, const JointModelGroup* group, const double* gstate,
                           const char* operation);
  void setJointGroupValues(MarkArray mark, double* values, const JointModelGroup* group, const Eigen::VectorXd& gstate,
                           const char* operation);
  void scatterGroupValues(const JointModelGroup* group, const double* gstate, double* values);
  void gatherGroupValues(const JointModelGroup* group, const double* values, double* gstate) const;
  void checkGroupArray(const JointModelGroup* group, const double* gstate, const char* operation) const;
  void checkGroupVector(const JointModelGroup* group, const Eigen::VectorXd& values, const char* operation) const;
  void copyJointGroupValues(const JointModelGroup* group, const double* values, double* gstate,
                            const char* operation) const;
  void copyJointGroupValues(const JointModelGroup* group, const double* values, Eigen::VectorXd& gstate,
                            const char* operation) const;
  void setActiveJointPositions(const JointModelGroup* group, const double* values);
  void finishGroupPositionWrite(const JointModelGroup* group);
  random_numbers::RandomNumberGenerator& ownRandomNumberGenerator();
  void setGroupRandomPositionsNearBy(const JointModelGroup* group, const RobotState& seed,
                                     const std::vector<double>& distances, random_numbers::RandomNumberGenerator& rng);
  bool satisfiesJointBounds(const std::vector<const JointModel*>& joints, double margin) const;
  void enforceJointBounds(const std::vector<const JointModel*>& joints);
  void harmonizeJointPositions(const std::vector<const JointModel*>& joints);

  // Attached bodies.
  template <typename Predicate>
  void clearAttachedBodiesIf(const Predicate& predicate);
  void reportRemoval(AttachedBody* body) const;

  ModelConstPtr model_;
  std::unique_ptr<void, FreeBlock> block_;
  double* positions_ = nullptr;
  double* velocities_ = nullptr;
  double* accelerations_ = nullptr;
  double* efforts_ = nullptr;
  bool has_velocities_ = false;
  bool has_accelerations_ = false;
  bool has_efforts_ = false;
  const JointModel* dirty_link_root_ = nullptr;
  const JointModel* dirty_collision_root_ = nullptr;
  Eigen::Isometry3d* joint_transforms_ = nullptr;
  Eigen::Isometry3d* link_transforms_ = nullptr;
  Eigen::Isometry3d* collision_transforms_ = nullptr;
  unsigned char* dirty_joints_ = nullptr;
  AttachedBodyMap attached_bodies_;
  AttachedBodyCallback attached_body_callback_;
  std::unique_ptr<random_numbers::RandomNumberGenerator> rng_;
};

}  // namespace core
}  // namespace moveit
