#include "solid_mesh_model.h"

#include <mutex>
#include <optional>

#include "link_tree_batch.h"
#include "weak_shape_map.h"

namespace bramlock {
namespace internal {

namespace {

// Insides by shape and scale, for as long as a geometry holds them: the four
// checkers of a scene, whichever thread builds them, share one per mesh.
class MeshSolids {
 public:
  std::shared_ptr<const MeshSolid> held(const shapes::ShapeConstPtr& shape, double scale) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return entries_.held(shape, scale, 0.0);
  }

  // The one kept for the shape and scale: this one, unless another thread kept one first.
  std::shared_ptr<const MeshSolid> keep(const shapes::ShapeConstPtr& shape, double scale,
                                        const std::shared_ptr<const MeshSolid>& solid) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::shared_ptr<const MeshSolid> first = entries_.held(shape, scale, 0.0)) return first;
    entries_.put(shape, scale, 0.0, solid);
    return solid;
  }

 private:
  std::mutex mutex_;
  WeakShapeMap<const MeshSolid> entries_;
};

MeshSolids& meshSolids() {
  static MeshSolids solids;
  return solids;
}

}  // namespace

void SolidMeshModel::setSolid(std::shared_ptr<const MeshSolid> solid) {
  solid_ = std::move(solid);
  piece_boxes_ = BoxSet();
  // One piece's box is the mesh's own, which every check tries first.
  if (!solid_ || solid_->pieceVertices().size() < 2 || num_vertices <= 0) return;
  piece_boxes_ = solid_->pieceBoxesMovedTo(vertices, static_cast<std::size_t>(num_vertices));
}

std::shared_ptr<const MeshSolid> meshSolidOf(const shapes::ShapeConstPtr& shape, double scale) {
  if (!shape || shape->type != shapes::MESH) return nullptr;
  if (std::shared_ptr<const MeshSolid> held = meshSolids().held(shape, scale)) return held;
  // Built unlocked: other threads build the insides of other meshes meanwhile.
  const std::optional<MeshTreeInput> input = linkMeshTreeInput(shape, scale, 0.0);
  if (!input) return nullptr;
  return meshSolids().keep(shape, scale, std::make_shared<const MeshSolid>(input->points, input->triangles));
}

void attachSolid(fcl::CollisionGeometryd& geometry, const shapes::ShapeConstPtr& source, double scale) {
  if (auto* model = dynamic_cast<SolidMeshModel*>(&geometry)) model->setSolid(meshSolidOf(source, scale));
}

}  // namespace internal
}  // namespace bramlock
