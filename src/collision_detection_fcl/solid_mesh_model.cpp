#include "solid_mesh_model.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <mutex>
#include <optional>

#include "link_tree_batch.h"
#include "weak_shape_map.h"

namespace bramlock {
namespace internal {

namespace {

// Insides by shape, scale and what cavities are, for as long as a geometry
// holds them: the four checkers of a scene, whichever thread builds them,
// share one per mesh.
class MeshSolids {
 public:
  std::shared_ptr<const MeshSolid> held(const shapes::ShapeConstPtr& shape, double scale, Cavities cavities) {
    const std::lock_guard<std::mutex> lock(mutex_);
    return entries(cavities).held(shape, scale, 0.0);
  }

  // The one kept for the shape and scale: this one, unless another thread kept one first.
  std::shared_ptr<const MeshSolid> keep(const shapes::ShapeConstPtr& shape, double scale, Cavities cavities,
                                        const std::shared_ptr<const MeshSolid>& solid) {
    const std::lock_guard<std::mutex> lock(mutex_);
    if (std::shared_ptr<const MeshSolid> first = entries(cavities).held(shape, scale, 0.0)) return first;
    entries(cavities).put(shape, scale, 0.0, solid);
    return solid;
  }

 private:
  WeakShapeMap<const MeshSolid>& entries(Cavities cavities) { return entries_[cavities == Cavities::kHollow]; }

  std::mutex mutex_;
  std::array<WeakShapeMap<const MeshSolid>, 2> entries_;
};

MeshSolids& meshSolids() {
  static MeshSolids solids;
  return solids;
}

// The piece of the triangle's corners, or none where they lie in different
// pieces or outside the inside's vertices (a tree not made from its mesh).
std::optional<std::uint32_t> pieceOfTriangle(const fcl::Triangle& triangle,
                                             const std::vector<std::uint32_t>& piece_of_vertex, std::size_t pieces) {
  std::array<std::uint32_t, 3> of{};
  for (int corner = 0; corner < 3; ++corner) {
    if (triangle[corner] >= piece_of_vertex.size()) return std::nullopt;
    of[corner] = piece_of_vertex[triangle[corner]];
  }
  if (of[0] != of[1] || of[0] != of[2] || of[0] >= pieces) return std::nullopt;
  return of[0];
}

// The deepest node of the tree whose triangles hold every triangle of each
// piece: the triangles of a node are a run of the tree's order, so a piece's
// node is the deepest whose run holds the piece's first and last place.
std::optional<std::vector<int>> deepestNodesOfPieces(const fcl::BVHModel<fcl::OBBRSSd>& tree,
                                                     const std::vector<std::uint32_t>& piece_of_vertex,
                                                     std::size_t pieces) {
  std::vector<int> first(pieces, std::numeric_limits<int>::max());
  std::vector<int> last(pieces, -1);
  for (int index = 0; index < tree.getNumBVs(); ++index) {
    const fcl::BVNode<fcl::OBBRSSd>& node = tree.getBV(index);
    if (!node.isLeaf()) continue;
    const std::optional<std::uint32_t> of =
        pieceOfTriangle(tree.tri_indices[node.primitiveId()], piece_of_vertex, pieces);
    if (!of) return std::nullopt;
    const std::uint32_t piece = *of;
    first[piece] = std::min(first[piece], node.first_primitive);
    last[piece] = std::max(last[piece], node.first_primitive + node.num_primitives - 1);
  }
  const auto holds = [&tree](int index, int low, int high) {
    const fcl::BVNode<fcl::OBBRSSd>& node = tree.getBV(index);
    return node.first_primitive <= low && high < node.first_primitive + node.num_primitives;
  };
  std::vector<int> nodes(pieces, 0);
  for (std::size_t piece = 0; piece < pieces; ++piece) {
    int& index = nodes[piece];
    while (last[piece] >= 0 && !tree.getBV(index).isLeaf()) {
      const fcl::BVNode<fcl::OBBRSSd>& node = tree.getBV(index);
      if (holds(node.leftChild(), first[piece], last[piece])) {
        index = node.leftChild();
      } else if (holds(node.rightChild(), first[piece], last[piece])) {
        index = node.rightChild();
      } else {
        break;
      }
    }
  }
  return nodes;
}

}  // namespace

void SolidMeshModel::setSolid(std::shared_ptr<const MeshSolid> solid) {
  solid_ = std::move(solid);
  piece_boxes_ = BoxSet();
  piece_nodes_.clear();
  // One piece's box is the mesh's own, which every check tries first.
  if (!solid_ || solid_->pieceVertices().size() < 2 || num_vertices <= 0 || getNumBVs() <= 0) return;
  std::vector<Eigen::AlignedBox3d> boxes = solid_->pieceBoxesMovedTo(vertices, static_cast<std::size_t>(num_vertices));
  if (boxes.empty()) return;
  std::optional<std::vector<int>> nodes = deepestNodesOfPieces(*this, solid_->pieceOfVertex(), boxes.size());
  if (!nodes) return;
  piece_boxes_ = BoxSet(std::move(boxes));
  piece_nodes_ = std::move(*nodes);
}

std::shared_ptr<const MeshSolid> meshSolidOf(const shapes::ShapeConstPtr& shape, double scale, Cavities cavities) {
  // Before the look-up: a NaN scale compares equal to every scale held.
  if (!shape || shape->type != shapes::MESH || !std::isfinite(scale)) return nullptr;
  if (std::shared_ptr<const MeshSolid> held = meshSolids().held(shape, scale, cavities)) return held;
  // Built unlocked: other threads build the insides of other meshes meanwhile.
  const std::optional<MeshTreeInput> input = linkMeshTreeInput(shape, scale, 0.0);
  if (!input) return nullptr;
  return meshSolids().keep(shape, scale, cavities,
                           std::make_shared<const MeshSolid>(input->points, input->triangles, cavities));
}

void attachSolid(fcl::CollisionGeometryd& geometry, const shapes::ShapeConstPtr& source, double scale,
                 Cavities cavities) {
  if (auto* model = dynamic_cast<SolidMeshModel*>(&geometry)) model->setSolid(meshSolidOf(source, scale, cavities));
}

}  // namespace internal
}  // namespace bramlock
