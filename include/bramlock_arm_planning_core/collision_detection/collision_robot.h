#pragma once

#include <map>
#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"
#include "bramlock_arm_planning_core/collision_detection/collision_request.h"
#include "bramlock_arm_planning_core/collision_detection/collision_result.h"
#include "bramlock_arm_planning_core/collision_detection/distance_request.h"
#include "bramlock_arm_planning_core/collision_detection/distance_result.h"
#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {
class RobotModel;
class RobotState;
}  // namespace core
}  // namespace moveit

namespace collision_detection {

// A robot checked against itself or against another robot, with a padding
// and a scale per link. Backends implement the queries; the setters tell them
// through updatedPaddingOrScaling which links changed.
class BRAMLOCK_EXPORT CollisionRobot {
 public:
  using RobotModelConstPtr = std::shared_ptr<const moveit::core::RobotModel>;
  using RobotState = moveit::core::RobotState;

  // Every link with collision geometry gets the padding and the scale. A
  // scale below epsilon or not finite is replaced by 1.0, a negative or
  // non-finite padding by 0.0, each with a message. A null model throws
  // std::invalid_argument.
  CollisionRobot(const RobotModelConstPtr& model, double padding = 0.0, double scale = 1.0);
  CollisionRobot(const CollisionRobot& other);
  CollisionRobot& operator=(const CollisionRobot&) = delete;
  virtual ~CollisionRobot();

  virtual void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state) const = 0;
  virtual void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                  const AllowedCollisionMatrix& acm) const = 0;
  // Continuous forms: the motion from state1 to state2.
  virtual void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                                  const RobotState& state2) const = 0;
  virtual void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                                  const RobotState& state2, const AllowedCollisionMatrix& acm) const = 0;

  virtual void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                   const CollisionRobot& other_robot, const RobotState& other_state) const = 0;
  virtual void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                   const CollisionRobot& other_robot, const RobotState& other_state,
                                   const AllowedCollisionMatrix& acm) const = 0;
  virtual void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                                   const RobotState& state2, const CollisionRobot& other_robot,
                                   const RobotState& other_state1, const RobotState& other_state2) const = 0;
  virtual void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                                   const RobotState& state2, const CollisionRobot& other_robot,
                                   const RobotState& other_state1, const RobotState& other_state2,
                                   const AllowedCollisionMatrix& acm) const = 0;

  virtual void distanceSelf(const DistanceRequest& req, DistanceResult& res, const RobotState& state) const = 0;
  virtual void distanceOther(const DistanceRequest& req, DistanceResult& res, const RobotState& state,
                             const CollisionRobot& other_robot, const RobotState& other_state) const = 0;

  // To be called after a body was attached to the state; does nothing here.
  virtual void updatedAttachBodyGeometry(const RobotState& state);

  const RobotModelConstPtr& getRobotModel() const { return robot_model; }

  // 0.0 for a link without an entry.
  double getLinkPadding(const std::string& link) const;
  const std::map<std::string, double>& getLinkPadding() const { return link_padding; }
  // 1.0 for a link without an entry.
  double getLinkScale(const std::string& link) const;
  const std::map<std::string, double>& getLinkScale() const { return link_scale; }

  // Per-link values: a non-finite padding, or a scale below epsilon or not
  // finite, is refused with a message (a map entry is skipped); a negative
  // padding is stored as given.
  void setLinkPadding(const std::string& link, double padding);
  void setLinkPadding(const std::map<std::string, double>& padding);
  void setLinkScale(const std::string& link, double scale);
  void setLinkScale(const std::map<std::string, double>& scale);

  // For every link with collision geometry; a negative or non-finite padding,
  // or a scale below epsilon or not finite, is refused with a message.
  void setPadding(double padding);
  void setScale(double scale);

 protected:
  // The padding or scale of these links changed; does nothing here.
  virtual void updatedPaddingOrScaling(const std::vector<std::string>& links);

  RobotModelConstPtr robot_model;
  std::map<std::string, double> link_padding;
  std::map<std::string, double> link_scale;

 private:
  void setForEveryCollisionLink(std::map<std::string, double>& values, double value, double absent);
  void setForLinks(std::map<std::string, double>& values, const std::map<std::string, double>& new_values,
                   double absent, bool (*accept)(double));
};

using CollisionRobotPtr = std::shared_ptr<CollisionRobot>;
using CollisionRobotConstPtr = std::shared_ptr<const CollisionRobot>;

}  // namespace collision_detection
