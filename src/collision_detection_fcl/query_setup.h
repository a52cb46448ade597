#pragma once

#include <memory>
#include <set>
#include <string>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"
#include "bramlock_arm_planning_core/collision_detection/collision_request.h"
#include "bramlock_arm_planning_core/collision_detection/collision_result.h"
#include "bramlock_arm_planning_core/collision_detection/collision_robot.h"
#include "bramlock_arm_planning_core/collision_detection/distance_request.h"
#include "bramlock_arm_planning_core/collision_detection/distance_result.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"
#include "placed_blocks.h"

namespace moveit {
namespace core {
class LinkModel;
class RobotModel;
class RobotState;
}  // namespace core
}  // namespace moveit

namespace bramlock {
namespace internal {

using LinkModelSet = std::set<const moveit::core::LinkModel*>;

// The links the named group moves, or null (every link) when the model has
// no such group.
const LinkModelSet* groupLinks(const std::shared_ptr<const moveit::core::RobotModel>& model,
                               const std::string& group_name);

// The distance query that follows a collision query asking for distances:
// the global minimum over the same links and matrix, without a threshold.
collision_detection::DistanceRequest distanceRequestFor(const collision_detection::CollisionRequest& req,
                                                        const collision_detection::AllowedCollisionMatrix* acm,
                                                        const LinkModelSet* active_links);

// False when an object's pose is not finite (a state whose joint values were
// written straight into its array as NaN or infinity) or lies beyond 1e100 m
// (a huge attached offset or root position), where the sizes of bounding
// boxes overflow. FCL's broad phase cannot order such boxes (building its
// tree then reads out of bounds), so those objects are never handed to it.
bool posesArePlaceable(const std::vector<fcl::CollisionObjectd*>& objects);
bool posesArePlaceable(const collision_detection::FCLObject& objects);
// The robot's objects at the state (robot must be a CollisionRobotFCL); false
// when they cannot be placed.
bool placeRobotObjects(const collision_detection::CollisionRobot& robot, const moveit::core::RobotState& state,
                       PlacedRobot& objects);

// Each of the objects against the manager's, until the callback stops the
// query; the callback is handed `data`, which carries cdata.
void collideObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    const collision_detection::CollisionData& cdata, void* data,
                    fcl::CollisionCallBack<double> callback);
// The same with the plain collision callback.
void collideObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    collision_detection::CollisionData& cdata);
void measureObjects(fcl::BroadPhaseCollisionManagerd& manager, const std::vector<fcl::CollisionObjectd*>& objects,
                    const collision_detection::DistanceRequest& req, collision_detection::DistanceResult& res);

// A state that cannot be placed is never reported free: the answer is a
// collision at distance 0, with a printed line.
void reportUnplacedState(collision_detection::CollisionResult& res);
void reportUnplacedState(collision_detection::DistanceResult& res);

// Prints that queries over a motion between two states are not available.
void reportContinuousUnsupported();

}  // namespace internal
}  // namespace bramlock
