#pragma once

#include <optional>

#include <fcl/narrowphase/collision_object.h>

namespace bramlock {
namespace internal {

// True when one of the two objects is an octree and none of the occupied
// leaves that FCL's collision-only octree test can reach (those under
// occupied nodes) comes near the other object's local bounding box placed at
// its pose: FCL would then find no contact, so the costly narrow phase can be
// left out. False whenever that cannot be proven cheaply (no octree, two
// octrees, unbounded or non-finite geometry, non-rigid poses).
bool provablyClearOfOctree(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2);

// True when the two objects' local bounding boxes, placed at their poses,
// lie apart by more than the same margin: no narrow phase of FCL finds a
// contact between them, in either order. False whenever that cannot be
// proven cheaply (non-rigid poses, unbounded or non-finite boxes).
bool provablyApart(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2);

// FCL's collision-only answer for an octree against a triangle mesh, reached
// without FCL's descent through the whole octree: only the occupied leaves
// near the mesh's placed bounding box are tested against the mesh's volume
// tree, each leaf/triangle pair with FCL's own box-against-triangle test.
// With `count_inside`, a leaf whose centre lies inside the mesh's inside (a
// checker's closed mesh, before padding) is a contact too: a leaf that meets
// no triangle lies wholly inside or wholly outside a closed mesh. Nothing
// when the pair is not an octree with a mesh or cannot be placed as above
// (FCL then answers).
std::optional<bool> octreeMeshCollision(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2,
                                        bool count_inside);

// Whether an occupied leaf that the descent above reaches has its centre
// inside the mesh's inside; false for any other pair or one that cannot be placed.
bool octreeLeafInsideMesh(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2);

}  // namespace internal
}  // namespace bramlock
