#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include <Eigen/Geometry>

namespace shapes {
class Shape;
}

namespace moveit {
namespace core {
class AttachedBody;
class JointModelGroup;
class LinkModel;
class RobotModel;
class RobotState;
}  // namespace core
}  // namespace moveit

namespace bramlock {
namespace internal {

// The farthest any point of the shape, placed at pose, lies from the frame's
// origin (metres); infinite when a vertex, size or the pose is not finite.
double geometryReach(const shapes::Shape& shape, const Eigen::Isometry3d& pose);

// A bound on how far any point of an arm's collision geometry (link shapes
// and attached bodies, as the checkers hold them) moves for a change of the
// planned group's joints: per group joint the largest distance from its axis
// of all geometry it carries (a prismatic joint: the change itself), summed
// over the joints times their change. Holds for any pose of the arm, so it
// bounds every straight motion in joint values as well as any curve through
// close samples.
class MotionSweep {
 public:
  MotionSweep(const moveit::core::RobotModel& model, const moveit::core::JointModelGroup& group,
              const std::vector<const moveit::core::AttachedBody*>& bodies);

  // Metres; from and to in the group's layout (all variables, mimic joints
  // set), at_from a state of the model whose link transforms are those at
  // from. The radius of each joint is taken where the motion starts, plus
  // what the joints beyond it can carry the geometry away from its axis
  // during the motion, and never above the radius over all poses. Not finite
  // when some geometry can move without bound (a planar or floating joint
  // downstream).
  double boundFromPose(const double* from, const double* to, const moveit::core::RobotState& at_from) const;
  // The same with the radii over all poses: looser, but it needs no poses.
  double boundOverAllPoses(const double* from, const double* to) const;

 private:
  // What one group joint moves: its child link, everything beyond it and
  // the bodies attached to any of those links.
  struct JointSweep {
    std::size_t variable;  // in the group's layout
    bool prismatic;        // every point it carries moves by its change
    // Revolute: the largest distance from the axis of anything it carries, over
    // all poses (metres per radian); infinite where that has no bound.
    double radius_over_all_poses;
    const moveit::core::LinkModel* child;
    Eigen::Vector3d axis;                    // revolute: unit vector in the child's frame
    std::vector<std::size_t> carried_boxes;  // the child link's box and the boxes beyond it
    std::vector<std::size_t> joints_beyond;  // indices into sweeps_
  };
  // A link's geometry (its shapes and attached bodies) inside the corners of a box in its frame.
  struct LinkBox {
    const moveit::core::LinkModel* link;
    std::array<Eigen::Vector3d, 8> corners;
  };
  // Metres moved per unit change of the joint, over all poses.
  static double reachPerUnit(const JointSweep& sweep);
  // The corners of every box at the state, eight per box in the boxes' order.
  std::vector<Eigen::Vector3d> placedCorners(const moveit::core::RobotState& state) const;
  double radiusAt(const JointSweep& sweep, const moveit::core::RobotState& state,
                  const std::vector<Eigen::Vector3d>& placed) const;

  std::vector<JointSweep> sweeps_;
  std::vector<LinkBox> boxes_;
};

}  // namespace internal
}  // namespace bramlock
