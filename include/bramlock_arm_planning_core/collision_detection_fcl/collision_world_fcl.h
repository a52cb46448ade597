#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include <fcl/broadphase/broadphase_collision_manager.h>

#include "bramlock_arm_planning_core/collision_detection/collision_world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"
#include "bramlock_arm_planning_core/export.h"

namespace bramlock {
namespace internal {
class PairVerdictCache;
struct PlacedRobot;
}  // namespace internal
}  // namespace bramlock

namespace collision_detection {

// The name under which the FCL checkers are offered.
struct BRAMLOCK_EXPORT CollisionDetectorAllocatorFCL {
  static const std::string NAME;
};

// The world checker on FCL: every object of the World mirrored as collision
// objects in one long-lived dynamic AABB-tree broad phase, kept current by a
// World observer.
class BRAMLOCK_EXPORT CollisionWorldFCL : public CollisionWorld {
 public:
  CollisionWorldFCL();
  // Mirrors every object the World already holds; a null World is replaced
  // by a new empty one.
  explicit CollisionWorldFCL(const WorldPtr& world);
  // Shares other's collision objects, observing world (a null World is
  // replaced by a new empty one).
  CollisionWorldFCL(const CollisionWorldFCL& other, const WorldPtr& world);
  ~CollisionWorldFCL() override;

  void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                           const RobotState& state) const override;
  void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                           const RobotState& state, const AllowedCollisionMatrix& acm) const override;
  void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                           const RobotState& state1, const RobotState& state2) const override;
  void checkRobotCollision(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                           const RobotState& state1, const RobotState& state2,
                           const AllowedCollisionMatrix& acm) const override;
  void checkWorldCollision(const CollisionRequest& req, CollisionResult& res,
                           const CollisionWorld& other_world) const override;
  void checkWorldCollision(const CollisionRequest& req, CollisionResult& res, const CollisionWorld& other_world,
                           const AllowedCollisionMatrix& acm) const override;
  void distanceRobot(const DistanceRequest& req, DistanceResult& res, const CollisionRobot& robot,
                     const RobotState& state) const override;
  void distanceWorld(const DistanceRequest& req, DistanceResult& res, const CollisionWorld& other_world) const override;

  // Drops the mirror of the current World and mirrors the new one; nothing
  // happens for the current World.
  void setWorld(const WorldPtr& world) override;

 protected:
  void constructFCLObject(const World::Object* obj, FCLObject& fcl_obj) const;
  void updateFCLObject(const std::string& id);
  void checkRobotCollisionHelper(const CollisionRequest& req, CollisionResult& res, const CollisionRobot& robot,
                                 const RobotState& state, const AllowedCollisionMatrix* acm) const;
  void checkWorldCollisionHelper(const CollisionRequest& req, CollisionResult& res, const CollisionWorld& other_world,
                                 const AllowedCollisionMatrix* acm) const;

  std::unique_ptr<fcl::BroadPhaseCollisionManagerd> manager;
  std::map<std::string, FCLObject> objects_by_id;

 private:
  void notifyObjectChange(const World::ObjectConstPtr& obj, World::Action action);
  void observe();
  // After a change of the mirrored objects: the listing is out of date and
  // the verdicts on their pairs are forgotten.
  void objectsChanged();
  // The mirrored objects by address, listed anew by the first query after a
  // change, so objects added one by one are not listed once per add.
  const std::vector<fcl::CollisionObjectd*>& listedObjects() const;
  // The robot's objects of the query against the mirrored ones, with the
  // verdicts on their pairs remembered across queries.
  BRAMLOCK_HIDDEN void collideByVerdicts(const bramlock::internal::PlacedRobot& robot_objects,
                                         CollisionData& cdata) const;

  World::ObserverHandle observer_handle;
  // The mirrored objects by address (the rows of the verdict tables), whether
  // that listing is current, and the number drawn when they last changed.
  // Concurrent queries list them under the mutex.
  mutable std::vector<fcl::CollisionObjectd*> listed_objects;
  mutable std::atomic<bool> listing_current{false};
  mutable std::mutex listing_mutex;
  std::uint64_t owners_revision = 0;
  std::unique_ptr<bramlock::internal::PairVerdictCache> verdicts;
};

}  // namespace collision_detection
