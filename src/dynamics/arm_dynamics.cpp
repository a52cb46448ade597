#include "bramlock_arm_planning_core/planner/arm_dynamics.h"

#include <cmath>
#include <stdexcept>
#include <string>

#include "common/rotation_math.h"

namespace bramlock {
namespace dynamics {
namespace {

KDL::Vector toKdl(const Eigen::Vector3d& v) { return KDL::Vector(v.x(), v.y(), v.z()); }
Eigen::Vector3d toEigen(const KDL::Vector& v) { return Eigen::Vector3d(v.x(), v.y(), v.z()); }

Eigen::Isometry3d toEigen(const KDL::Frame& frame) {
  Eigen::Isometry3d result = Eigen::Isometry3d::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) {
      result.linear()(r, c) = frame.M(r, c);
    }
  }
  result.translation() = toEigen(frame.p);
  return result;
}

void requirePair(const Model& model, const Data& data) {
  if (&data.model() != &model) {
    throw std::invalid_argument("dynamics data was made for another model");
  }
}

void requireSize(const Model& model, const Eigen::VectorXd& vector, const char* what) {
  if (vector.size() != model.nq()) {
    throw std::invalid_argument(std::string(what) + " has " + std::to_string(vector.size()) +
                                " entries, the model has " + std::to_string(model.nq()) + " joints");
  }
}

void requireFrame(const Model& model, FrameIndex frame) {
  if (frame >= model.nframes()) {
    throw std::invalid_argument("frame index " + std::to_string(frame) + " is beyond the model's " +
                                std::to_string(model.nframes()) + " frames");
  }
}

// Every buffer is sized from the model, so a missing one is refused before any is made.
std::shared_ptr<const Model> requireModel(std::shared_ptr<const Model> model) {
  if (!model) {
    throw std::invalid_argument("dynamics data needs a model");
  }
  return model;
}

}  // namespace

Data::Data(std::shared_ptr<const Model> model)
    : model_(requireModel(std::move(model))),
      tau_(Eigen::VectorXd::Zero(model_->nq())),
      local_placements_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Frame::Identity()),
      local_velocities_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Twist::Zero()),
      local_accelerations_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Twist::Zero()),
      wrenches_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Wrench::Zero()),
      joint_placements_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Frame::Identity()),
      joint_twists_(static_cast<std::size_t>(model_->nq()) + 1, KDL::Twist::Zero()) {}

void forwardKinematics(const Model& model, Data& data, const Eigen::VectorXd& q) {
  requirePair(model, data);
  requireSize(model, q, "the joint position vector");
  for (std::size_t k = 0; k < model.joints().size(); ++k) {
    const MovableJoint& joint = model.joints()[k];
    data.joint_placements_[k + 1] = data.joint_placements_[static_cast<std::size_t>(joint.parent)] *
                                    joint.parent_offset * joint.segment.pose(q[static_cast<Eigen::Index>(k)]);
  }
  data.placements_valid_ = true;
  data.twists_valid_ = false;
}

void forwardKinematics(const Model& model, Data& data, const Eigen::VectorXd& q, const Eigen::VectorXd& v) {
  requireSize(model, q, "the joint position vector");
  requireSize(model, v, "the joint velocity vector");
  forwardKinematics(model, data, q);
  for (std::size_t k = 0; k < model.joints().size(); ++k) {
    const MovableJoint& joint = model.joints()[k];
    // The joint's own motion, moved to root axes with its reference point at the root origin.
    const KDL::Twist relative = data.joint_placements_[k + 1] * (joint.motion * v[static_cast<Eigen::Index>(k)]);
    data.joint_twists_[k + 1] = data.joint_twists_[static_cast<std::size_t>(joint.parent)] + relative;
  }
  data.twists_valid_ = true;
}

Eigen::Isometry3d framePlacement(const Model& model, const Data& data, FrameIndex frame) {
  requirePair(model, data);
  requireFrame(model, frame);
  if (!data.placements_valid_) {
    throw std::logic_error("frame placement asked before forward kinematics");
  }
  const Frame& record = model.frames()[frame];
  return toEigen(data.joint_placements_[static_cast<std::size_t>(record.parent_joint)] * record.placement);
}

FrameVelocity frameVelocity(const Model& model, const Data& data, FrameIndex frame) {
  requirePair(model, data);
  requireFrame(model, frame);
  if (!data.twists_valid_) {
    throw std::logic_error("frame velocity asked before forward kinematics with velocities");
  }
  const Frame& record = model.frames()[frame];
  const std::size_t joint = static_cast<std::size_t>(record.parent_joint);
  const KDL::Vector origin = data.joint_placements_[joint] * record.placement.p;
  const KDL::Twist& twist = data.joint_twists_[joint];
  FrameVelocity velocity;
  velocity.linear = toEigen(twist.vel + twist.rot * origin);
  velocity.angular = toEigen(twist.rot);
  return velocity;
}

const Eigen::VectorXd& rnea(const Model& model, Data& data, const Eigen::VectorXd& q, const Eigen::VectorXd& v,
                            const Eigen::VectorXd& a) {
  requirePair(model, data);
  requireSize(model, q, "the joint position vector");
  requireSize(model, v, "the joint velocity vector");
  requireSize(model, a, "the joint acceleration vector");
  // Recursive Newton-Euler: velocities and accelerations outwards, wrenches back in. The
  // base accelerates against gravity so that every link feels its weight.
  const std::size_t joints = model.joints().size();
  data.local_accelerations_[0] = KDL::Twist(-toKdl(model.gravity()), KDL::Vector::Zero());
  data.wrenches_[0] = KDL::Wrench::Zero();
  for (std::size_t k = 1; k <= joints; ++k) {
    const MovableJoint& joint = model.joints()[k - 1];
    const std::size_t parent = static_cast<std::size_t>(joint.parent);
    const Eigen::Index coordinate = static_cast<Eigen::Index>(k - 1);
    const KDL::Frame& placement = data.local_placements_[k] = joint.parent_offset * joint.segment.pose(q[coordinate]);
    const KDL::Twist joint_velocity = joint.motion * v[coordinate];
    const KDL::Twist& velocity = data.local_velocities_[k] =
        placement.Inverse(data.local_velocities_[parent]) + joint_velocity;
    const KDL::Twist& acceleration = data.local_accelerations_[k] =
        placement.Inverse(data.local_accelerations_[parent]) + joint.motion * a[coordinate] + velocity * joint_velocity;
    data.wrenches_[k] = joint.inertia * acceleration + velocity * (joint.inertia * velocity);
  }
  for (std::size_t k = joints; k >= 1; --k) {
    const MovableJoint& joint = model.joints()[k - 1];
    data.tau_[static_cast<Eigen::Index>(k - 1)] = KDL::dot(joint.motion, data.wrenches_[k]);
    data.wrenches_[static_cast<std::size_t>(joint.parent)] += data.local_placements_[k] * data.wrenches_[k];
  }
  return data.tau_;
}

double rotationAngle(const Eigen::Matrix3d& rotation) { return internal::rotation_math::rotationAngle(rotation); }

}  // namespace dynamics
}  // namespace bramlock
