#include "bramlock_arm_planning_core/planner/arm_dynamics_model.h"

#include <cassert>
#include <cmath>
#include <limits>
#include <stdexcept>

#include <urdf/model.h>
#include <kdl_parser/kdl_parser.hpp>

namespace bramlock {
namespace dynamics {
namespace {

// A fixed base and one coordinate per joint: joints with several coordinates do not fit.
void rejectMultiCoordinateJoints(const urdf::Model& urdf_model) {
  for (const auto& entry : urdf_model.joints_) {
    const int type = entry.second->type;
    if (type == urdf::Joint::FLOATING || type == urdf::Joint::PLANAR) {
      throw std::runtime_error("joint \"" + entry.first +
                               "\" is floating or planar; only fixed, revolute, continuous "
                               "and prismatic joints are supported");
    }
  }
}

// Motion of the child frame per unit joint rate, in the child frame (constant for these joints).
KDL::Twist unitMotion(const KDL::Segment& segment) {
  const KDL::Joint& joint = segment.getJoint();
  const KDL::Vector axis = joint.JointAxis();
  KDL::Twist in_parent;  // reference point at the parent link's origin
  if (joint.getType() == KDL::Joint::TransAxis || joint.getType() == KDL::Joint::TransX ||
      joint.getType() == KDL::Joint::TransY || joint.getType() == KDL::Joint::TransZ) {
    in_parent.vel = axis;
  } else {
    in_parent.rot = axis;
    in_parent.vel = joint.JointOrigin() * axis;
  }
  return segment.pose(0.0).Inverse(in_parent);
}

bool isFinite(const KDL::Frame& frame) {
  for (int r = 0; r < 3; ++r) {
    if (!std::isfinite(frame.p(r))) return false;
    for (int c = 0; c < 3; ++c) {
      if (!std::isfinite(frame.M(r, c))) return false;
    }
  }
  return true;
}

double effortLimitOf(const urdf::Model& urdf_model, const std::string& joint_name) {
  const auto joint = urdf_model.getJoint(joint_name);
  if (joint && joint->limits) {
    return joint->limits->effort;
  }
  return std::numeric_limits<double>::infinity();
}

}  // namespace

std::shared_ptr<Model> Model::fromUrdfFile(const std::string& path) {
  urdf::Model urdf_model;
  if (!urdf_model.initFile(path)) {
    throw std::runtime_error("cannot read a URDF model from \"" + path + "\"");
  }
  rejectMultiCoordinateJoints(urdf_model);
  std::shared_ptr<Model> model(new Model());
  if (!kdl_parser::treeFromUrdfModel(urdf_model, model->tree_)) {
    throw std::runtime_error("cannot build the kinematic tree of \"" + path + "\"");
  }
  const auto root = model->tree_.getRootSegment();
  model->frames_.push_back({"universe", kFixedJointFrame, 0, 0, KDL::Frame::Identity()});
  model->frames_.push_back({"root_joint", kFixedJointFrame, 0, 0, KDL::Frame::Identity()});
  model->frames_.push_back({root->first, kBodyFrame, 0, 1, KDL::Frame::Identity()});
  for (const auto& child : GetTreeElementChildren(root->second)) {
    model->addSubtree(child, 0, KDL::Frame::Identity(), 2);
  }
  for (auto& joint : model->joints_) {
    joint.effort_limit = effortLimitOf(urdf_model, joint.name);
  }
  return model;
}

void Model::addSubtree(KDL::SegmentMap::const_iterator element, JointIndex parent, const KDL::Frame& offset,
                       FrameIndex previous_frame) {
  const KDL::Segment& segment = GetTreeElementSegment(element->second);
  const KDL::Joint& kdl_joint = segment.getJoint();
  JointIndex child_parent = parent;
  KDL::Frame child_offset = KDL::Frame::Identity();
  if (kdl_joint.getType() == KDL::Joint::Fixed) {
    child_offset = offset * segment.pose(0.0);
    frames_.push_back({kdl_joint.getName(), kFixedJointFrame, parent, previous_frame, child_offset});
    // A fixed link moves with its joint; links fixed to the base do not move at all.
    if (parent > 0) {
      MovableJoint& carrier = joints_[static_cast<std::size_t>(parent - 1)];
      carrier.inertia = carrier.inertia + child_offset * segment.getInertia();
    }
  } else {
    child_parent = static_cast<JointIndex>(joints_.size()) + 1;
    // The tree numbers its coordinates in the same depth-first order, so q means the same to both.
    assert(GetTreeElementQNr(element->second) == joints_.size());
    joints_.push_back({kdl_joint.getName(), parent, offset, segment, unitMotion(segment), segment.getInertia(), 0.0});
    frames_.push_back({kdl_joint.getName(), kJointFrame, child_parent, previous_frame, KDL::Frame::Identity()});
  }
  const FrameIndex joint_frame = frames_.size() - 1;
  frames_.push_back({segment.getName(), kBodyFrame, child_parent, joint_frame, child_offset});
  const FrameIndex body_frame = frames_.size() - 1;
  for (const auto& child : GetTreeElementChildren(element->second)) {
    addSubtree(child, child_parent, child_offset, body_frame);
  }
}

Eigen::VectorXd Model::effortLimit() const {
  Eigen::VectorXd limits(nv());
  for (int k = 0; k < nv(); ++k) {
    limits[k] = joints_[static_cast<std::size_t>(k)].effort_limit;
  }
  return limits;
}

bool Model::existFrame(const std::string& name, unsigned type_mask) const {
  for (const Frame& frame : frames_) {
    if (frame.name == name && (frame.type & type_mask) != 0) {
      return true;
    }
  }
  return false;
}

FrameIndex Model::getFrameId(const std::string& name, unsigned type_mask) const {
  FrameIndex found = frames_.size();
  for (FrameIndex index = 0; index < frames_.size(); ++index) {
    if (frames_[index].name != name || (frames_[index].type & type_mask) == 0) {
      continue;
    }
    if (found != frames_.size()) {
      throw std::invalid_argument("Several frames match the filter - please specify the FrameType");
    }
    found = index;
  }
  return found;
}

FrameIndex Model::addFrame(const Frame& frame) {
  if (frame.parent_joint < 0 || frame.parent_joint > nq() || frame.previous_frame >= frames_.size()) {
    throw std::invalid_argument("frame \"" + frame.name + "\" refers to a joint or frame the model lacks");
  }
  if (!isFinite(frame.placement)) {
    // Every placement and velocity read through this frame would be not a number.
    throw std::invalid_argument("frame \"" + frame.name + "\" has a placement that is not finite");
  }
  frames_.push_back(frame);
  return frames_.size() - 1;
}

}  // namespace dynamics
}  // namespace bramlock
