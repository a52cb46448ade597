#include "solid_enclosure.h"

#include <vector>

#include "octree_prefilter.h"
#include "solid_mesh_model.h"

namespace bramlock {
namespace internal {

namespace {

bool isPrimitive(fcl::NODE_TYPE type) {
  switch (type) {
    case fcl::GEOM_BOX:
    case fcl::GEOM_SPHERE:
    case fcl::GEOM_ELLIPSOID:
    case fcl::GEOM_CAPSULE:
    case fcl::GEOM_CONE:
    case fcl::GEOM_CYLINDER:
      return true;
    default:
      return false;
  }
}

// Points of the object, in its own frame, one in each piece of it that could
// lie wholly inside something: a primitive's centre, a vertex of each
// connected piece of a checker's mesh; none for unbounded geometry or an octree.
std::vector<Eigen::Vector3d> piecePoints(const fcl::CollisionGeometryd& geometry) {
  if (isPrimitive(geometry.getNodeType())) return {(geometry.aabb_local.min_ + geometry.aabb_local.max_) * 0.5};
  const SolidMeshModel* model = solidMeshModelOf(&geometry);
  if (!model || !model->meshSolid()) return {};
  std::vector<Eigen::Vector3d> points;
  for (const std::uint32_t vertex : model->meshSolid()->pieceVertices()) {
    if (vertex < static_cast<std::uint32_t>(model->num_vertices)) points.push_back(model->vertices[vertex]);
  }
  return points;
}

// Whether a piece of `inner` lies inside the closed mesh `outer`.
bool pieceInside(const fcl::CollisionObjectd& inner, const fcl::CollisionObjectd& outer) {
  const MeshSolid* solid = insideOf(outer.collisionGeometry().get());
  if (!solid) return false;
  const fcl::Transform3d outer_from_inner = outer.getTransform().inverse(Eigen::Isometry) * inner.getTransform();
  for (const Eigen::Vector3d& point : piecePoints(*inner.collisionGeometry())) {
    if (solid->contains(outer_from_inner * point)) return true;
  }
  return false;
}

}  // namespace

bool insideOneAnother(const fcl::CollisionObjectd& o1, const fcl::CollisionObjectd& o2) {
  if (octreeLeafInsideMesh(o1, o2)) return true;
  return pieceInside(o1, o2) || pieceInside(o2, o1);
}

}  // namespace internal
}  // namespace bramlock
