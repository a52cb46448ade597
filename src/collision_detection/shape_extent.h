#pragma once

#include <geometric_shapes/shapes.h>

namespace bramlock {
namespace internal {

// Whether every size, vertex coordinate and plane offset of the shape is
// finite and at most `limit` in magnitude, a plane has a finite non-zero
// normal, and an octree's cells are of a finite positive size and lie
// within `limit` of the origin. A shape this cannot judge (an unknown type,
// an octree shape without a tree) passes.
bool fitsWithin(const shapes::Shape& shape, double limit);

}  // namespace internal
}  // namespace bramlock
