#pragma once

#include <memory>
#include <vector>

#include <fcl/geometry/bvh/BVH_model.h>
#include <fcl/math/bv/OBBRSS.h>
#include <geometric_shapes/shapes.h>

#include "solid/mesh_solid.h"

namespace bramlock {
namespace internal {

// The checkers' triangle mesh: FCL's tree over the triangles as tested (scaled
// and padded), with the inside of the mesh before padding, which the checks
// against the world count as part of it.
class SolidMeshModel final : public fcl::BVHModel<fcl::OBBRSSd> {
 public:
  // Null where none was given; its pieces' vertices index the triangles as
  // tested too (padding moves vertices, it keeps their order).
  const MeshSolid* meshSolid() const { return solid_.get(); }
  void setSolid(std::shared_ptr<const MeshSolid> solid);
  // Where the mesh has several pieces (else none): for each, in the inside's
  // order, a box holding its triangles as tested and its inside, and the
  // deepest node of the tree whose triangles hold all of its own.
  const BoxSet& pieceBoxes() const { return piece_boxes_; }
  const std::vector<int>& pieceNodes() const { return piece_nodes_; }

 private:
  std::shared_ptr<const MeshSolid> solid_;
  BoxSet piece_boxes_;
  std::vector<int> piece_nodes_;
};

// The geometry as a mesh of the checkers, or null for any other geometry.
inline const SolidMeshModel* solidMeshModelOf(const fcl::CollisionGeometryd* geometry) {
  if (!geometry || geometry->getNodeType() != fcl::BV_OBBRSS) return nullptr;
  // A type comparison, far cheaper than a cross-cast on every pair.
  return typeid(*geometry) == typeid(SolidMeshModel) ? static_cast<const SolidMeshModel*>(geometry) : nullptr;
}

// The inside of the geometry when it is a checker's mesh that may enclose
// points, else null (other geometry, or a mesh that encloses nothing).
inline const MeshSolid* insideOf(const SolidMeshModel* model) {
  const MeshSolid* solid = model ? model->meshSolid() : nullptr;
  return solid && solid->hasInside() ? solid : nullptr;
}
inline const MeshSolid* insideOf(const fcl::CollisionGeometryd* geometry) {
  return insideOf(solidMeshModelOf(geometry));
}

// The inside of the shape (a mesh) at that scale, unpadded: built once and
// shared by every geometry made from the shape while any of them lives;
// null for a shape that is no mesh, a scale that is not finite, a vertex that
// is not finite or a triangle naming a vertex the mesh lacks. Any thread.
std::shared_ptr<const MeshSolid> meshSolidOf(const shapes::ShapeConstPtr& shape, double scale,
                                             Cavities cavities = Cavities::kSolid);

// Gives the geometry, when it is a checker's mesh, the inside of `source` at that scale.
void attachSolid(fcl::CollisionGeometryd& geometry, const shapes::ShapeConstPtr& source, double scale,
                 Cavities cavities = Cavities::kSolid);

}  // namespace internal
}  // namespace bramlock
