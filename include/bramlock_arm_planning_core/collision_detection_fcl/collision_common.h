#pragma once

#include <memory>
#include <set>

#include <fcl/narrowphase/collision_object.h>

#include "bramlock_arm_planning_core/collision_detection/allowed_collision_matrix.h"
#include "bramlock_arm_planning_core/collision_detection/collision_request.h"
#include "bramlock_arm_planning_core/collision_detection/collision_result.h"
#include "bramlock_arm_planning_core/collision_detection/distance_request.h"
#include "bramlock_arm_planning_core/collision_detection/distance_result.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/fcl_geometry.h"
#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {
class RobotModel;
}
}  // namespace moveit

namespace collision_detection {

// What the collision callback works with during one broad-phase query.
struct BRAMLOCK_EXPORT CollisionData {
  CollisionData(const CollisionRequest* request, CollisionResult* result, const AllowedCollisionMatrix* matrix)
      : req(request), res(result), acm(matrix) {}

  // Restricts the query to the links moved by the request's group; every
  // link takes part when the model has no such group.
  void enableGroup(const std::shared_ptr<const moveit::core::RobotModel>& robot_model);

  const CollisionRequest* req;
  const std::set<const moveit::core::LinkModel*>* active_links = nullptr;
  CollisionResult* res;
  const AllowedCollisionMatrix* acm;
  bool done = false;
};

// What the distance callback works with during one broad-phase query.
struct BRAMLOCK_EXPORT DistanceData {
  DistanceData(const DistanceRequest* request, DistanceResult* result) : req(request), res(result) {}

  const DistanceRequest* req;
  DistanceResult* res;
  bool done = false;
};

// Broad-phase callback: tests one candidate pair unless the pair is filtered
// out; true stops the query. data is a CollisionData.
BRAMLOCK_EXPORT bool collisionCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data);

// Broad-phase callback: measures one candidate pair unless it is filtered
// out; true stops the query. data is a DistanceData; min_dist is lowered to
// the smallest distance measured so far.
BRAMLOCK_EXPORT bool distanceCallback(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data,
                                      double& min_dist);

}  // namespace collision_detection
