#include "motion_sweep.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <optional>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/robot_model/joint_model.h"
#include "bramlock_arm_planning_core/robot_model/joint_model_group.h"
#include "bramlock_arm_planning_core/robot_model/link_model.h"
#include "bramlock_arm_planning_core/robot_model/prismatic_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"

namespace bramlock {
namespace internal {
namespace {

using moveit::core::JointModel;
using moveit::core::LinkModel;

constexpr double kUnbounded = std::numeric_limits<double>::infinity();
constexpr std::size_t kNoBox = std::numeric_limits<std::size_t>::max();

bool isDescendant(const LinkModel& link, const LinkModel& ancestor) {
  for (const LinkModel* at = &link; at; at = at->getParentLinkModel()) {
    if (at == &ancestor) return true;
  }
  return false;
}

// A ball that holds part of a link's geometry, in the link frame.
struct Ball {
  Eigen::Vector3d centre;
  double radius;
};

void appendShapeBalls(const shapes::Shape& shape, const Eigen::Isometry3d& pose, std::vector<Ball>& balls) {
  switch (shape.type) {
    case shapes::MESH: {
      const auto& mesh = static_cast<const shapes::Mesh&>(shape);
      for (unsigned int i = 0; i < mesh.vertex_count; ++i) {
        balls.push_back(
            {pose * Eigen::Vector3d(mesh.vertices[3 * i], mesh.vertices[3 * i + 1], mesh.vertices[3 * i + 2]), 0.0});
      }
      return;
    }
    case shapes::BOX: {
      const double* size = static_cast<const shapes::Box&>(shape).size;
      balls.push_back({pose.translation(), 0.5 * std::sqrt(size[0] * size[0] + size[1] * size[1] + size[2] * size[2])});
      return;
    }
    case shapes::SPHERE:
      balls.push_back({pose.translation(), static_cast<const shapes::Sphere&>(shape).radius});
      return;
    case shapes::CYLINDER: {
      const auto& cylinder = static_cast<const shapes::Cylinder&>(shape);
      balls.push_back({pose.translation(), std::hypot(cylinder.radius, 0.5 * cylinder.length)});
      return;
    }
    case shapes::CONE: {
      const auto& cone = static_cast<const shapes::Cone&>(shape);
      balls.push_back({pose.translation(), std::hypot(cone.radius, 0.5 * cone.length)});
      return;
    }
    default:
      balls.push_back({pose.translation(), kUnbounded});
  }
}

}  // namespace

double geometryReach(const shapes::Shape& shape, const Eigen::Isometry3d& pose) {
  std::vector<Ball> balls;
  appendShapeBalls(shape, pose, balls);
  double reach = 0.0;
  for (const Ball& ball : balls) {
    const double distance = ball.centre.norm() + ball.radius;
    // NaN compares false: it counts as unbounded.
    if (!(distance <= reach)) reach = std::isnan(distance) ? kUnbounded : distance;
  }
  return reach;
}

namespace {

// How far a joint can carry its child frame's origin away from where it sits at zero.
double travel(const JointModel& joint) {
  switch (joint.getType()) {
    case JointModel::FIXED:
    case JointModel::REVOLUTE:
      return 0.0;
    case JointModel::PRISMATIC: {
      const auto& bounds = joint.getVariableBounds().front();
      return std::max(std::abs(bounds.min_position_), std::abs(bounds.max_position_));
    }
    default:
      return kUnbounded;
  }
}

double axisDistance(const Eigen::Vector3d& point, const Eigen::Vector3d& axis) {
  return (point - axis * axis.dot(point)).norm();
}

// Per link, the balls of its own geometry and the radius around its frame's
// origin that holds everything it carries.
class LinkReach {
 public:
  LinkReach(const moveit::core::RobotModel& model, const std::vector<const moveit::core::AttachedBody*>& bodies)
      : balls_(model.getLinkModelCount()), reach_(model.getLinkModelCount(), -1.0) {
    for (const LinkModel* link : model.getLinkModels()) {
      const auto& shapes = link->getShapes();
      for (std::size_t i = 0; i < shapes.size(); ++i) {
        if (shapes[i])
          appendShapeBalls(*shapes[i], link->getCollisionOriginTransforms()[i], balls_[link->getLinkIndex()]);
      }
    }
    for (const moveit::core::AttachedBody* body : bodies) {
      if (!body->getAttachedLink()) continue;
      const auto& shapes = body->getShapes();
      for (std::size_t i = 0; i < shapes.size(); ++i) {
        appendShapeBalls(*shapes[i], body->getFixedTransforms()[i], balls_[body->getAttachedLink()->getLinkIndex()]);
      }
    }
  }

  // The largest distance from the axis (a unit vector through the link frame's
  // origin) of anything the link carries.
  double aroundAxis(const LinkModel& link, const Eigen::Vector3d& axis) {
    double radius = 0.0;
    for (const Ball& ball : balls_[link.getLinkIndex()]) {
      radius = std::max(radius, axisDistance(ball.centre, axis) + ball.radius);
    }
    for (const JointModel* child : link.getChildJointModels()) {
      const LinkModel& next = *child->getChildLinkModel();
      radius = std::max(radius, axisDistance(next.getJointOriginTransform().translation(), axis) + travel(*child) +
                                    aroundOrigin(next));
    }
    return radius;
  }

  double aroundOrigin(const LinkModel& link) {
    double& reach = reach_[link.getLinkIndex()];
    if (reach < 0.0) reach = aroundAxis(link, Eigen::Vector3d::Zero());
    return reach;
  }

  // The corners of a box around the link's balls; none for a link without geometry.
  std::optional<std::array<Eigen::Vector3d, 8>> boxCorners(const LinkModel& link) const {
    const std::vector<Ball>& balls = balls_[link.getLinkIndex()];
    if (balls.empty()) return std::nullopt;
    Eigen::Vector3d low = Eigen::Vector3d::Constant(kUnbounded);
    Eigen::Vector3d high = -low;
    for (const Ball& ball : balls) {
      low = low.cwiseMin(ball.centre - Eigen::Vector3d::Constant(ball.radius));
      high = high.cwiseMax(ball.centre + Eigen::Vector3d::Constant(ball.radius));
    }
    std::array<Eigen::Vector3d, 8> corners;
    for (int i = 0; i < 8; ++i) {
      corners[i] = Eigen::Vector3d(i & 1 ? high.x() : low.x(), i & 2 ? high.y() : low.y(), i & 4 ? high.z() : low.z());
    }
    return corners;
  }

 private:
  std::vector<std::vector<Ball>> balls_;
  std::vector<double> reach_;
};

}  // namespace

MotionSweep::MotionSweep(const moveit::core::RobotModel& model, const moveit::core::JointModelGroup& group,
                         const std::vector<const moveit::core::AttachedBody*>& bodies) {
  LinkReach reach(model, bodies);
  std::vector<std::size_t> box_of(model.getLinkModelCount(), kNoBox);
  for (const LinkModel* link : model.getLinkModels()) {
    if (auto corners = reach.boxCorners(*link)) {
      box_of[link->getLinkIndex()] = boxes_.size();
      boxes_.push_back({link, *corners});
    }
  }
  for (const JointModel* joint : group.getJointModels()) {
    if (joint->getVariableCount() != 1) continue;
    const int variable = group.getVariableGroupIndex(joint->getVariableNames().front());
    if (variable < 0) continue;
    JointSweep sweep{static_cast<std::size_t>(variable),
                     joint->getType() == JointModel::PRISMATIC,
                     kUnbounded,
                     joint->getChildLinkModel(),
                     Eigen::Vector3d::Zero(),
                     {},
                     {}};
    if (joint->getType() == JointModel::REVOLUTE) {
      sweep.axis = static_cast<const moveit::core::RevoluteJointModel*>(joint)->getAxis().normalized();
      sweep.radius_over_all_poses = reach.aroundAxis(*sweep.child, sweep.axis);
    }
    // The joint moves its own child link too, which the model's descendants leave out.
    const auto carry = [&](const LinkModel* link) {
      if (box_of[link->getLinkIndex()] != kNoBox) sweep.carried_boxes.push_back(box_of[link->getLinkIndex()]);
    };
    carry(sweep.child);
    for (const LinkModel* link : joint->getDescendantLinkModels()) carry(link);
    sweeps_.push_back(std::move(sweep));
  }
  // Group joints come parents first; a joint is beyond another when its child link is carried by it.
  for (std::size_t i = 0; i < sweeps_.size(); ++i) {
    for (std::size_t k = i + 1; k < sweeps_.size(); ++k) {
      if (isDescendant(*sweeps_[k].child, *sweeps_[i].child)) sweeps_[i].joints_beyond.push_back(k);
    }
  }
}

double MotionSweep::reachPerUnit(const JointSweep& sweep) {
  return sweep.prismatic ? 1.0 : sweep.radius_over_all_poses;
}

std::vector<Eigen::Vector3d> MotionSweep::placedCorners(const moveit::core::RobotState& state) const {
  std::vector<Eigen::Vector3d> placed;
  placed.reserve(8 * boxes_.size());
  for (const LinkBox& box : boxes_) {
    const Eigen::Isometry3d& pose = state.getGlobalLinkTransform(box.link);
    for (const Eigen::Vector3d& corner : box.corners) placed.push_back(pose * corner);
  }
  return placed;
}

// The largest of the squared distances, rooted once: the root keeps their order.
double MotionSweep::radiusAt(const JointSweep& sweep, const moveit::core::RobotState& state,
                             const std::vector<Eigen::Vector3d>& placed) const {
  const Eigen::Isometry3d& child = state.getGlobalLinkTransform(sweep.child);
  const Eigen::Vector3d origin = child.translation();
  const Eigen::Vector3d axis = child.linear() * sweep.axis;
  double squared = 0.0;
  for (const std::size_t index : sweep.carried_boxes) {
    for (std::size_t k = 8 * index; k < 8 * index + 8; ++k) {
      const Eigen::Vector3d point = placed[k] - origin;
      squared = std::max(squared, (point - axis * axis.dot(point)).squaredNorm());
    }
  }
  return std::sqrt(squared);
}

double MotionSweep::boundFromPose(const double* from, const double* to, const moveit::core::RobotState& at_from) const {
  std::vector<double> reach(sweeps_.size());
  // Each box is placed once, for all the joints that carry it.
  std::vector<Eigen::Vector3d> placed;
  double sum = 0.0;
  for (std::size_t i = sweeps_.size(); i-- > 0;) {
    const JointSweep& sweep = sweeps_[i];
    reach[i] = reachPerUnit(sweep);
    if (!std::isfinite(reach[i])) return kUnbounded;
    const double change = std::abs(to[sweep.variable] - from[sweep.variable]);
    // A joint that does not move adds nothing, here or to the joints before it.
    if (change == 0.0) continue;
    if (!sweep.prismatic) {
      double carried_away = 0.0;
      for (const std::size_t k : sweep.joints_beyond) {
        carried_away += reach[k] * std::abs(to[sweeps_[k].variable] - from[sweeps_[k].variable]);
      }
      if (placed.empty()) placed = placedCorners(at_from);
      reach[i] = std::min(reach[i], radiusAt(sweep, at_from, placed) + carried_away);
    }
    sum += reach[i] * change;
  }
  return sum;
}

double MotionSweep::boundOverAllPoses(const double* from, const double* to) const {
  double sum = 0.0;
  for (const JointSweep& sweep : sweeps_) {
    const double change = std::abs(to[sweep.variable] - from[sweep.variable]);
    if (change > 0.0) sum += reachPerUnit(sweep) * change;
  }
  return sum;
}

}  // namespace internal
}  // namespace bramlock
