#include "padded_clearance.h"

#include <algorithm>
#include <cmath>
#include <optional>

#include <fcl/fcl.h>
#include <geometric_shapes/shapes.h>

#include "collision_detection_fcl/link_tree_batch.h"

namespace bramlock {
namespace internal {
namespace {

using Tree = std::shared_ptr<const fcl::CollisionGeometryd>;

// The checkers' own build, so a mesh they would refuse gets no tree here either.
Tree builtTree(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding) {
  const std::optional<MeshTreeInput> input = linkMeshTreeInput(shape, scale, padding);
  return input ? buildLinkMeshTree(*input) : nullptr;
}

// The checkers hold the trees of a scene's link meshes, built from the same
// vertices as here: taking theirs spares building two trees per mesh, which
// costs far more than the queries and leaves its memory behind.
Tree originalTree(const std::shared_ptr<const shapes::Shape>& shape) {
  Tree held = heldPlainLinkTree(shape);
  return held ? held : builtTree(shape, 1.0, 0.0);
}

Tree paddedTree(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding) {
  Tree held = heldScaledLinkTree(shape, scale, padding);
  return held ? held : builtTree(shape, scale, padding);
}

// The gap between the two surfaces, 0 where they cross: a collision query
// finds a crossing at a small share of a distance query's cost.
double clearanceBetween(const fcl::CollisionGeometryd& mesh, const fcl::CollisionGeometryd& padded) {
  const fcl::Transform3d same_frame = fcl::Transform3d::Identity();
  fcl::CollisionRequestd collision_request;
  fcl::CollisionResultd collision_result;
  if (fcl::collide(&mesh, same_frame, &padded, same_frame, collision_request, collision_result) > 0) return 0.0;
  fcl::DistanceRequestd distance_request;
  fcl::DistanceResultd distance_result;
  return std::max(0.0, fcl::distance(&mesh, same_frame, &padded, same_frame, distance_request, distance_result));
}

// Meshes are padded by moving each vertex away from the vertices' centroid,
// not along the surface normal: where the surface runs along that direction it
// hardly moves, and on concave meshes the padded surface can cross the mesh.
// The gap between the two surfaces is what the padding really keeps.
double meshClearance(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding) {
  const auto& mesh = static_cast<const shapes::Mesh&>(*shape);
  if (mesh.triangle_count == 0 || !(scale >= 1.0) || !(padding >= 0.0)) return 0.0;
  const Tree original = originalTree(shape);
  const Tree padded = paddedTree(shape, scale, padding);
  return original && padded ? clearanceBetween(*original, *padded) : 0.0;
}

}  // namespace

double paddedClearance(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding) {
  double clearance = 0.0;
  switch (shape->type) {
    case shapes::MESH:
      return meshClearance(shape, scale, padding);
    case shapes::BOX: {
      const double* size = static_cast<const shapes::Box&>(*shape).size;
      clearance = 0.5 * std::min({(scale - 1.0) * size[0], (scale - 1.0) * size[1], (scale - 1.0) * size[2]}) + padding;
      break;
    }
    case shapes::SPHERE:
      clearance = (scale - 1.0) * static_cast<const shapes::Sphere&>(*shape).radius + padding;
      break;
    case shapes::CYLINDER: {
      const auto& cylinder = static_cast<const shapes::Cylinder&>(*shape);
      clearance = std::min((scale - 1.0) * cylinder.radius, 0.5 * (scale - 1.0) * cylinder.length) + padding;
      break;
    }
    default:
      return 0.0;
  }
  return std::isfinite(clearance) ? std::max(0.0, clearance) : 0.0;
}

double PaddedClearances::of(const std::shared_ptr<const shapes::Shape>& shape, double scale, double padding) {
  const auto key = std::make_tuple(shape.get(), scale, padding);
  const auto known = known_.find(key);
  if (known != known_.end()) return known->second;
  return known_[key] = paddedClearance(shape, scale, padding);
}

double attachedClearance(const shapes::Shape& padded_shape, double padding) {
  switch (padded_shape.type) {
    case shapes::BOX:
    case shapes::SPHERE:
    case shapes::CYLINDER:
      return std::max(0.0, padding);
    default:
      return 0.0;
  }
}

}  // namespace internal
}  // namespace bramlock
