#pragma once

#include <memory>

#include "bramlock_arm_planning_core/collision_detection/collision_robot.h"
#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/export.h"

namespace collision_detection {

// A robot checked against the objects of a World. Backends implement the
// robot-against-world, world-against-world and distance queries.
class BRAMLOCK_EXPORT CollisionWorld {
 public:
  using RobotState = moveit::core::RobotState;

  // A new empty World.
  CollisionWorld();
  explicit CollisionWorld(const WorldPtr& world);
  // For a backend's copy, which reads other itself.
  CollisionWorld(const CollisionWorld& other, const WorldPtr& world);
  CollisionWorld(const CollisionWorld&) = delete;
  CollisionWorld& operator=(const CollisionWorld&) = delete;
  virtual ~CollisionWorld();

  // The robot's self check first, then, unless that already settled the
  // query, the robot against the world, into the same result.
  virtual void checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                              const RobotState& state) const;
  virtual void checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                              const RobotState& state, const AllowedCollisionMatrix& acm) const;
  virtual void checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                              const RobotState& state1, const RobotState& state2) const;
  virtual void checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                              const RobotState& state1, const RobotState& state2,
                              const AllowedCollisionMatrix& acm) const;

  // The robot against the world only.
  virtual void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                   const RobotState& state) const = 0;
  virtual void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                   const RobotState& state, const AllowedCollisionMatrix& acm) const = 0;
  virtual void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                   const RobotState& state1, const RobotState& state2) const = 0;
  virtual void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                   const RobotState& state1, const RobotState& state2,
                                   const AllowedCollisionMatrix& acm) const = 0;

  virtual void checkWorldCollision(const CollisionRequest& req, CollisionResult& res,
                                   const CollisionWorld& other_world) const = 0;
  virtual void checkWorldCollision(const CollisionRequest& req, CollisionResult& res, const CollisionWorld& other_world,
                                   const AllowedCollisionMatrix& acm) const = 0;

  virtual void distanceRobot(const DistanceRequest& req, DistanceResult& res, const CollisionRobot& robot,
                             const RobotState& state) const = 0;
  virtual void distanceWorld(const DistanceRequest& req, DistanceResult& res,
                             const CollisionWorld& other_world) const = 0;

  // A null world is replaced by a new empty one.
  virtual void setWorld(const WorldPtr& world);

 protected:
  WorldPtr world;
  WorldConstPtr world_const;  // the same World, read-only
};

using CollisionWorldPtr = std::shared_ptr<CollisionWorld>;
using CollisionWorldConstPtr = std::shared_ptr<const CollisionWorld>;

}  // namespace collision_detection
