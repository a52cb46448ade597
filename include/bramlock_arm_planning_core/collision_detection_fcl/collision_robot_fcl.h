#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include <fcl/narrowphase/collision_object.h>

#include "bramlock_arm_planning_core/collision_detection/collision_robot.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_common.h"
#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {
class AttachedBody;
}
}  // namespace moveit

namespace collision_detection {
class CollisionRobotFCL;
}

namespace bramlock {
namespace internal {
class PairVerdictCache;
class PlacedBlocks;
struct PlacedRobot;
// The robot's objects at the state, as constructFCLObject gives them, held
// without a reference count of their own each.
void placeObjects(const collision_detection::CollisionRobotFCL& robot, const moveit::core::RobotState& state,
                  PlacedRobot& placed);
}  // namespace internal
}  // namespace bramlock

namespace collision_detection {

// The robot checker on FCL: one geometry and one prototype collision object
// per collision shape of the model; each query places copies of them at the
// state's transforms in a dynamic AABB-tree broad phase built for that query.
// A self check remembers which pairs its callback would test (per matrix
// revision, group and owners) and builds the tree only when such a pair may
// touch, so that the tree still orders the pairs it hands to the narrow phase.
class BRAMLOCK_EXPORT CollisionRobotFCL : public CollisionRobot {
 public:
  CollisionRobotFCL(const RobotModelConstPtr& model, double padding = 0.0, double scale = 1.0);
  // Shares the link geometry; attached-body geometry is not copied.
  CollisionRobotFCL(const CollisionRobotFCL& other);
  ~CollisionRobotFCL() override;

  void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state) const override;
  void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                          const AllowedCollisionMatrix& acm) const override;
  void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                          const RobotState& state2) const override;
  void checkSelfCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                          const RobotState& state2, const AllowedCollisionMatrix& acm) const override;
  void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                           const CollisionRobot& other_robot, const RobotState& other_state) const override;
  void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                           const CollisionRobot& other_robot, const RobotState& other_state,
                           const AllowedCollisionMatrix& acm) const override;
  void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                           const RobotState& state2, const CollisionRobot& other_robot, const RobotState& other_state1,
                           const RobotState& other_state2) const override;
  void checkOtherCollision(const CollisionRequest& req, CollisionResult& res, const RobotState& state1,
                           const RobotState& state2, const CollisionRobot& other_robot, const RobotState& other_state1,
                           const RobotState& other_state2, const AllowedCollisionMatrix& acm) const override;
  void distanceSelf(const DistanceRequest& req, DistanceResult& res, const RobotState& state) const override;
  void distanceOther(const DistanceRequest& req, DistanceResult& res, const RobotState& state,
                     const CollisionRobot& other_robot, const RobotState& other_state) const override;

  // Rebuilds the geometry of the state's attached bodies. Until the next
  // call, a body's geometry serves queries only while the state still holds
  // that very body with the same id and shapes; any other body of a queried
  // state (attached without this call) has its geometry built for that query
  // alone: checked just the same, only slower.
  void updatedAttachBodyGeometry(const RobotState& state) override;

  // The state's link shapes and matching attached bodies as collision
  // objects at the state's transforms (which must be current).
  void constructFCLObject(const RobotState& state, FCLObject& fcl_obj) const;
  void getAttachedBodyObjects(const moveit::core::AttachedBody* ab, std::vector<FCLGeometryConstPtr>& geoms) const;
  // The state's objects registered in a new manager; false (nothing
  // registered) when a pose is not finite or lies beyond 1e100 m.
  bool allocSelfCollisionBroadPhase(const RobotState& state, FCLManager& manager) const;

 protected:
  void updatedPaddingOrScaling(const std::vector<std::string>& links) override;

  void checkSelfCollisionHelper(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                const AllowedCollisionMatrix* acm) const;
  void checkOtherCollisionHelper(const CollisionRequest& req, CollisionResult& res, const RobotState& state,
                                 const CollisionRobot& other_robot, const RobotState& other_state,
                                 const AllowedCollisionMatrix* acm) const;

 private:
  // Geometry of one attached body, with what identifies the body it was
  // built for: the geometry's owner tags point at that body. Each geometry
  // has its prototype object, whose copies a query only moves: making an
  // object anew would measure the geometry's box over all its vertices.
  struct AttachedBodyGeometry {
    const moveit::core::AttachedBody* body;
    std::string id;
    std::vector<std::shared_ptr<const shapes::Shape>> shapes;
    std::vector<FCLGeometryConstPtr> geometries;
    std::vector<std::shared_ptr<const fcl::CollisionObjectd>> prototypes;
  };

  void buildLinkGeometry(const moveit::core::LinkModel* link, bool report_failures);
  AttachedBodyGeometry attachedGeometryOf(const moveit::core::AttachedBody* body) const;
  const AttachedBodyGeometry* findAttachedGeometry(const moveit::core::AttachedBody* body) const;
  // True when it built geometry for a body, whose owner records then live for this query alone.
  bool appendAttachedBodyObjects(const RobotState& state, FCLObject& fcl_obj) const;
  // The owners of the objects changed: verdicts remembered for them no longer hold.
  void renewOwners();
  friend void bramlock::internal::placeObjects(const CollisionRobotFCL& robot, const RobotState& state,
                                               bramlock::internal::PlacedRobot& placed);
  BRAMLOCK_HIDDEN void collideSelf(const bramlock::internal::PlacedRobot& placed, CollisionData& cdata) const;

  std::vector<FCLGeometryConstPtr> link_geometries;
  std::vector<std::shared_ptr<const fcl::CollisionObjectd>> link_objects;
  std::vector<AttachedBodyGeometry> attached_geometries;
  std::unique_ptr<bramlock::internal::PlacedBlocks> placed_blocks;
  std::uint64_t owners_revision = 0;
  std::unique_ptr<bramlock::internal::PairVerdictCache> self_verdicts;
};

}  // namespace collision_detection
