#pragma once

#include <memory>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>
#include <kdl/frames.hpp>

#include "bramlock_arm_planning_core/export.h"
#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"

namespace bramlock {
namespace dynamics {

// Linear velocity of a frame's origin and its angular velocity, both in axes aligned with the root.
struct BRAMLOCK_EXPORT FrameVelocity {
  Eigen::Vector3d linear = Eigen::Vector3d::Zero();
  Eigen::Vector3d angular = Eigen::Vector3d::Zero();
};

// Work data of one Model: buffers of the algorithms in arm_dynamics.h. It keeps
// its model alive; one planner owns one, so it is not copyable.
class BRAMLOCK_EXPORT Data {
 public:
  // Throws std::invalid_argument for a null model.
  explicit Data(std::shared_ptr<const Model> model);
  Data(const Data&) = delete;
  Data& operator=(const Data&) = delete;

  const Model& model() const { return *model_; }

 private:
  friend void forwardKinematics(const Model&, Data&, const Eigen::VectorXd&);
  friend void forwardKinematics(const Model&, Data&, const Eigen::VectorXd&, const Eigen::VectorXd&);
  friend Eigen::Isometry3d framePlacement(const Model&, const Data&, FrameIndex);
  friend FrameVelocity frameVelocity(const Model&, const Data&, FrameIndex);
  friend const Eigen::VectorXd& rnea(const Model&, Data&, const Eigen::VectorXd&, const Eigen::VectorXd&,
                                     const Eigen::VectorXd&);

  std::shared_ptr<const Model> model_;
  Eigen::VectorXd tau_;
  // Inverse dynamics, per joint in its own frame (index 0 the universe): placement in the
  // parent joint's frame, velocity, acceleration and the wrench the joint transmits.
  std::vector<KDL::Frame> local_placements_;
  std::vector<KDL::Twist> local_velocities_;
  std::vector<KDL::Twist> local_accelerations_;
  std::vector<KDL::Wrench> wrenches_;
  std::vector<KDL::Frame> joint_placements_;  // world placement of each joint frame, index 0 the universe
  std::vector<KDL::Twist> joint_twists_;      // world axes, reference point at the world origin
  bool placements_valid_ = false;
  bool twists_valid_ = false;
};

}  // namespace dynamics
}  // namespace bramlock
