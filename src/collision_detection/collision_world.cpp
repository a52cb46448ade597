#include "bramlock_arm_planning_core/collision_detection/collision_world.h"

namespace collision_detection {

namespace {

// Whether the self check already answered the query: a collision ends it
// unless more contacts are wanted (counted as pairs of bodies).
bool settledBySelfCheck(const CollisionRequest& req, const CollisionResult& res) {
  return res.collision && (!req.want_contacts || res.contacts.size() >= req.max_contacts);
}

}  // namespace

CollisionWorld::CollisionWorld() : CollisionWorld(std::make_shared<World>()) {}

CollisionWorld::CollisionWorld(const WorldPtr& world) : world(world), world_const(world) {}

CollisionWorld::CollisionWorld(const CollisionWorld& other, const WorldPtr& world) : CollisionWorld(world) {}

CollisionWorld::~CollisionWorld() = default;

void CollisionWorld::checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                    const RobotState& state) const {
  robot.checkSelfCollision(req, res, state);
  if (!settledBySelfCheck(req, res)) checkRobotCollision(req, res, robot, state);
}

void CollisionWorld::checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                    const RobotState& state, const AllowedCollisionMatrix& acm) const {
  robot.checkSelfCollision(req, res, state, acm);
  if (!settledBySelfCheck(req, res)) checkRobotCollision(req, res, robot, state, acm);
}

void CollisionWorld::checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                    const RobotState& state1, const RobotState& state2) const {
  robot.checkSelfCollision(req, res, state1, state2);
  if (!settledBySelfCheck(req, res)) checkRobotCollision(req, res, robot, state1, state2);
}

void CollisionWorld::checkCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                    const RobotState& state1, const RobotState& state2,
                                    const AllowedCollisionMatrix& acm) const {
  robot.checkSelfCollision(req, res, state1, state2, acm);
  if (!settledBySelfCheck(req, res)) checkRobotCollision(req, res, robot, state1, state2, acm);
}

void CollisionWorld::setWorld(const WorldPtr& new_world) {
  world = new_world ? new_world : std::make_shared<World>();
  world_const = world;
}

}  // namespace collision_detection
