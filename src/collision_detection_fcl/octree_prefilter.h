#pragma once

#include <fcl/narrowphase/collision_object.h>

namespace collision_detection {

// True when one of the two objects is an octree and none of the occupied
// leaves that FCL's collision-only octree test can reach (those under
// occupied nodes) comes near the other object's local bounding box placed at
// its pose: FCL would then find no contact, so the costly narrow phase can be
// left out. False whenever that cannot be proven cheaply (no octree, two
// octrees, unbounded or non-finite geometry, non-rigid poses).
bool provablyClearOfOctree(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2);

}  // namespace collision_detection
