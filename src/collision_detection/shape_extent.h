#pragma once

#include <geometric_shapes/shapes.h>

namespace bramlock {
namespace internal {

// Whether the checkers can see the shape: every size, radius and length is
// finite and between 0 and `limit`, every vertex coordinate and plane offset
// finite and at most `limit` in magnitude, every triangle of a mesh names
// vertices the mesh has, a plane has a finite non-zero normal, and an
// octree's cells are of a finite positive size and lie within `limit` of the
// origin. A shape this cannot judge (an unknown type, an octree shape
// without a tree) passes.
bool isCheckableWithin(const shapes::Shape& shape, double limit);

// The same without a limit on the magnitudes: what the checkers can build
// geometry for at all. FCL takes a negative size as a shape that meets
// nothing, reads beyond a mesh's vertices for a triangle naming one it
// lacks and builds no tree over a mesh without triangles; non-finite sizes put NaN or infinite boxes into the broad
// phase.
bool isCheckable(const shapes::Shape& shape);

}  // namespace internal
}  // namespace bramlock
