#include "solid_mesh_model.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <mutex>
#include <optional>
#include <tuple>

#include "link_tree_batch.h"

namespace bramlock {
namespace internal {

namespace {

// Insides by shape and scale, for as long as a geometry holds them: the four
// checkers of a scene, whichever thread builds them, share one per mesh.
class MeshSolids {
 public:
  std::shared_ptr<const MeshSolid> held(const shapes::ShapeConstPtr& shape, double scale) {
    const std::lock_guard<std::mutex> lock(mutex_);
    const auto entry = entries_.find(Key{shape, scale});
    return entry == entries_.end() ? nullptr : entry->second.lock();
  }

  // The one kept for the shape and scale: this one, unless another thread kept one first.
  std::shared_ptr<const MeshSolid> keep(const shapes::ShapeConstPtr& shape, double scale,
                                        std::shared_ptr<const MeshSolid> solid) {
    const std::lock_guard<std::mutex> lock(mutex_);
    std::weak_ptr<const MeshSolid>& slot = entries_[Key{shape, scale}];
    if (std::shared_ptr<const MeshSolid> first = slot.lock()) return first;
    slot = solid;
    if (entries_.size() >= sweep_size_) sweep();
    return solid;
  }

 private:
  struct Key {
    std::weak_ptr<const shapes::Shape> shape;
    double scale;
  };
  struct KeyLess {
    bool operator()(const Key& a, const Key& b) const {
      const std::owner_less<std::weak_ptr<const shapes::Shape>> shape_less;
      if (shape_less(a.shape, b.shape)) return true;
      if (shape_less(b.shape, a.shape)) return false;
      return a.scale < b.scale;
    }
  };
  static constexpr size_t kMinSweepSize = 64;

  // Sweeping again only once the map has doubled keeps the cost per entry constant.
  void sweep() {
    for (auto entry = entries_.begin(); entry != entries_.end();) {
      const bool vanished = entry->first.shape.expired() || entry->second.expired();
      entry = vanished ? entries_.erase(entry) : std::next(entry);
    }
    sweep_size_ = std::max(kMinSweepSize, 2 * entries_.size());
  }

  std::mutex mutex_;
  std::map<Key, std::weak_ptr<const MeshSolid>, KeyLess> entries_;
  size_t sweep_size_ = kMinSweepSize;
};

MeshSolids& meshSolids() {
  static MeshSolids solids;
  return solids;
}

}  // namespace

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
