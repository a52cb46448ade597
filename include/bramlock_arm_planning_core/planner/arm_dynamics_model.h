#pragma once

#include <cstddef>
#include <memory>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <kdl/segment.hpp>
#include <kdl/tree.hpp>

#include "bramlock_arm_planning_core/export.h"

namespace bramlock {
namespace dynamics {

// Frame kinds; masks combine them with bitwise or.
enum FrameType : unsigned {
  kOperationalFrame = 0x1,
  kJointFrame = 0x2,
  kFixedJointFrame = 0x4,
  kBodyFrame = 0x8,
};
constexpr unsigned kAnyFrameType = kOperationalFrame | kJointFrame | kFixedJointFrame | kBodyFrame;

using FrameIndex = std::size_t;
using JointIndex = int;  // 0 is the universe, movable joints follow from 1 in depth-first order

struct BRAMLOCK_EXPORT Frame {
  std::string name;
  FrameType type = kOperationalFrame;
  JointIndex parent_joint = 0;
  FrameIndex previous_frame = 0;
  KDL::Frame placement;  // relative to the parent joint's frame
};

// One movable joint: its frame at q is parent joint frame * parent_offset * segment.pose(q).
struct BRAMLOCK_EXPORT MovableJoint {
  std::string name;
  JointIndex parent = 0;
  KDL::Frame parent_offset;  // the segment's root link relative to the parent joint's frame
  KDL::Segment segment;
  KDL::Twist motion;              // joint frame motion per unit joint rate, in the joint frame
  KDL::RigidBodyInertia inertia;  // the child link and every link fixed to it, in the joint frame
  double effort_limit = 0.0;
};

// Rigid-body model of a fixed-base arm read from a URDF: the whole kinematic tree,
// one configuration and one velocity coordinate per movable joint, and a list of
// named frames. Frame numbering: 0 the universe, 1 the root joint, 2 the root
// link, then for each joint in depth-first order its joint frame and its child
// link's frame; frames added later come last.
class BRAMLOCK_EXPORT Model {
 public:
  // Throws std::runtime_error when the file cannot be read or holds a floating or planar joint.
  static std::shared_ptr<Model> fromUrdfFile(const std::string& path);

  // Shared by its work data objects (arm_dynamics_data.h), never copied.
  Model(const Model&) = delete;
  Model& operator=(const Model&) = delete;

  int nq() const { return static_cast<int>(joints_.size()); }
  int nv() const { return nq(); }
  std::size_t nframes() const { return frames_.size(); }
  const std::vector<Frame>& frames() const { return frames_; }
  const std::vector<MovableJoint>& joints() const { return joints_; }  // entry k is joint k + 1
  const KDL::Tree& tree() const { return tree_; }
  const Eigen::Vector3d& gravity() const { return gravity_; }
  // Per velocity coordinate, +inf where the URDF gives none.
  Eigen::VectorXd effortLimit() const;

  bool existFrame(const std::string& name, unsigned type_mask = kAnyFrameType) const;
  // The index of the one frame of that name, or nframes() when there is none.
  // Throws std::invalid_argument when several frames match.
  FrameIndex getFrameId(const std::string& name, unsigned type_mask = kAnyFrameType) const;
  bool isFrameIndex(long long index) const { return index >= 0 && static_cast<std::size_t>(index) < frames_.size(); }
  // Throws std::invalid_argument when the parent joint or previous frame is missing or the
  // placement is not finite.
  FrameIndex addFrame(const Frame& frame);

 private:
  Model() = default;
  void addSubtree(KDL::SegmentMap::const_iterator element, JointIndex parent, const KDL::Frame& offset,
                  FrameIndex previous_frame);

  KDL::Tree tree_;
  std::vector<MovableJoint> joints_;
  std::vector<Frame> frames_;
  Eigen::Vector3d gravity_{0.0, 0.0, -9.81};
};

}  // namespace dynamics
}  // namespace bramlock
