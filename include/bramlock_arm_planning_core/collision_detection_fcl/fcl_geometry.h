#pragma once

#include <memory>
#include <string>
#include <vector>

#include <fcl/broadphase/broadphase_collision_manager.h>
#include <fcl/geometry/collision_geometry.h>
#include <fcl/narrowphase/collision_object.h>
#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/contact_types.h"
#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/export.h"

namespace moveit {
namespace core {
class LinkModel;
class AttachedBody;
}  // namespace core
}  // namespace moveit

namespace collision_detection {

// Whose geometry an FCL geometry is. The broad-phase callbacks find it
// through the FCL geometry's user data.
struct BRAMLOCK_EXPORT CollisionGeometryData {
  CollisionGeometryData(const moveit::core::LinkModel* link, int index);
  CollisionGeometryData(const moveit::core::AttachedBody* body, int index);
  // World objects have one record per shape, all with index 0.
  explicit CollisionGeometryData(const World::Object* object);

  const moveit::core::LinkModel* link() const;
  const moveit::core::AttachedBody* attachedBody() const;
  const World::Object* worldObject() const;

  // The owner's name: link name, attached body id or world object id.
  const std::string& getID() const;
  // The link carrying the owner: the link itself, the link an attached body
  // hangs on; null for a world object.
  const moveit::core::LinkModel* getLink() const;
  bool sameObject(const CollisionGeometryData& other) const {
    return owner_type == other.owner_type && owner == other.owner;
  }

  BodyType owner_type;
  int shape_index;
  const void* owner;
};

// An FCL geometry and its owner record; the geometry's user data always
// points at the record held here.
class BRAMLOCK_EXPORT FCLGeometry {
 public:
  FCLGeometry(std::shared_ptr<fcl::CollisionGeometryd> geometry, std::shared_ptr<CollisionGeometryData> data);
  FCLGeometry(const FCLGeometry&) = delete;
  FCLGeometry& operator=(const FCLGeometry&) = delete;

  // Re-tags the geometry with another owner.
  void setGeometryData(std::shared_ptr<CollisionGeometryData> data);

  std::shared_ptr<fcl::CollisionGeometryd> geometry;
  std::shared_ptr<CollisionGeometryData> geometry_data;
};
using FCLGeometryConstPtr = std::shared_ptr<const FCLGeometry>;
using FCLCollisionObjectPtr = std::shared_ptr<fcl::CollisionObjectd>;

// Collision objects registered with a broad-phase manager together, and the
// geometries they need kept alive (robot link geometry is kept by the robot
// checker instead, so the two lists need not be parallel).
struct BRAMLOCK_EXPORT FCLObject {
  void registerTo(fcl::BroadPhaseCollisionManagerd* manager);
  void unregisterFrom(fcl::BroadPhaseCollisionManagerd* manager);
  void clear();

  std::vector<FCLCollisionObjectPtr> objects;
  std::vector<FCLGeometryConstPtr> geometries;
};

// A broad-phase manager with the objects registered in it; the manager is
// released before the objects.
struct BRAMLOCK_EXPORT FCLManager {
  FCLObject object;
  std::shared_ptr<fcl::BroadPhaseCollisionManagerd> manager;
};

// FCL geometry of a shape, tagged with its owner, or null for an unsupported
// or degenerate shape (callers skip those). Unscaled, unpadded link shapes
// come from the calling thread's cache; a scaled or padded link shape reuses
// the geometry the calling thread built for the same shape object, scale,
// padding, link and index while anything still holds it; every other call
// builds new geometry. The scale/padding forms work on a clone, never on the
// caller's shape; a non-finite scale or padding yields null.
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape,
                                                            const moveit::core::LinkModel* link, int shape_index);
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale,
                                                            double padding, const moveit::core::LinkModel* link,
                                                            int shape_index);
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape,
                                                            const moveit::core::AttachedBody* body, int shape_index);
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale,
                                                            double padding, const moveit::core::AttachedBody* body,
                                                            int shape_index);
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape,
                                                            const World::Object* object);
BRAMLOCK_EXPORT FCLGeometryConstPtr createCollisionGeometry(const shapes::ShapeConstPtr& shape, double scale,
                                                            double padding, const World::Object* object);

// Drops the calling thread's cached world-object and attached-body geometry
// whose shapes are gone.
BRAMLOCK_EXPORT void cleanCollisionGeometryCache();

}  // namespace collision_detection
