#pragma once

#include <fcl/narrowphase/collision_object.h>

namespace bramlock {
namespace internal {

// Whether one object of a pair whose surfaces do not meet lies inside the
// other, a checker's closed mesh: an occupied octree leaf whose centre lies
// inside the mesh, or a piece of a shape or mesh that does (a primitive by
// its centre, a mesh by one vertex of each connected piece). Used where the
// robot meets the world: there a closed mesh is a solid, as FCL's primitives are.
bool insideOneAnother(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2);

}  // namespace internal
}  // namespace bramlock
