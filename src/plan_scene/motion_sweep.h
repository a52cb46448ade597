#pragma once

#include <array>
#include <cstddef>
#include <memory>
#include <vector>

#include <Eigen/Geometry>

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
  double bound(const double* from, const double* to, const moveit::core::RobotState& at_from) const;
  // The same with the radii over all poses: looser, but it needs no poses.
  double bound(const double* from, const double* to) const;

 private:
  struct Term {
    std::size_t variable;  // in the group's layout
    double radius;         // over all poses: metres per radian, 1 for a prismatic joint
    const moveit::core::LinkModel* child;
    Eigen::Vector3d axis;                 // in the child's frame; zero for a prismatic joint
    std::vector<std::size_t> carried;     // boxes of the geometry beyond the joint
    std::vector<std::size_t> downstream;  // terms of the joints beyond it
  };
  // A link's geometry (its shapes and attached bodies) inside the corners of a box in its frame.
  struct LinkBox {
    const moveit::core::LinkModel* link;
    std::array<Eigen::Vector3d, 8> corners;
  };
  double radiusAt(const Term& term, const moveit::core::RobotState& state) const;

  std::vector<Term> terms_;
  std::vector<LinkBox> boxes_;
};

}  // namespace internal
}  // namespace bramlock
