#include "piece_splitter.h"

#include <cstdint>
#include <vector>

#include <fcl/geometry/bvh/detail/BV_splitter.h>
#include <Eigen/Geometry>

#include "common/roots.h"

namespace bramlock {
namespace internal {

namespace {

// Meshes of more pieces than this (a file of unshared triangles) keep FCL's rule.
constexpr std::size_t kMostPieces = 65536;
// A piece of fewer triangles than this is never parted on its own.
constexpr std::uint32_t kLeastPartedTriangles = 4;

class PieceSplitter final : public fcl::detail::BVSplitterBase<fcl::OBBRSSd> {
 public:
  PieceSplitter(std::vector<std::uint32_t> piece_of_triangle, std::vector<std::uint32_t> piece_sizes,
                std::vector<Eigen::AlignedBox3d> piece_boxes)
      : piece_of_triangle_(std::move(piece_of_triangle)),
        piece_sizes_(std::move(piece_sizes)),
        piece_boxes_(std::move(piece_boxes)) {}

  void set(fcl::Vector3d* vertices, fcl::Triangle* triangles, fcl::BVHModelType type) override {
    vertices_ = vertices;
    triangles_ = triangles;
    mean_.set(vertices, triangles, type);
  }

  // The node's largest piece, where it holds half of the node's triangles or
  // more, is parted from the rest by its box, where the box leaves out some
  // of the node's triangle centres; many like pieces split as FCL splits.
  void computeRule(const fcl::OBBRSSd& bv, unsigned int* primitives, int count) override {
    parting_ = false;
    std::uint32_t largest = piece_of_triangle_[primitives[0]];
    bool several = false;
    for (int k = 1; k < count; ++k) {
      const std::uint32_t piece = piece_of_triangle_[primitives[k]];
      several = several || piece != largest;
      if (piece_sizes_[piece] > piece_sizes_[largest]) largest = piece;
    }
    if (several && piece_sizes_[largest] >= kLeastPartedTriangles) {
      int of_largest = 0, held = 0;
      box_ = piece_boxes_[largest];
      for (int k = 0; k < count; ++k) {
        of_largest += piece_of_triangle_[primitives[k]] == largest;
        held += box_.contains(centreOf(primitives[k]));
      }
      parting_ = 2 * of_largest >= count && held < count;
    }
    if (!parting_) mean_.computeRule(bv, primitives, count);
  }

  bool apply(const fcl::Vector3d& centre) const override {
    return parting_ ? !box_.contains(centre) : mean_.apply(centre);
  }

  void clear() override {
    vertices_ = nullptr;
    triangles_ = nullptr;
    mean_.clear();
  }

 private:
  // As FCL's tree build takes a triangle's centre.
  fcl::Vector3d centreOf(unsigned int triangle) const {
    const fcl::Triangle& t = triangles_[triangle];
    fcl::Vector3d centre;
    centre.noalias() = (vertices_[t[0]] + vertices_[t[1]] + vertices_[t[2]]) / 3.0;
    return centre;
  }

  std::vector<std::uint32_t> piece_of_triangle_;
  std::vector<std::uint32_t> piece_sizes_;
  std::vector<Eigen::AlignedBox3d> piece_boxes_;
  fcl::detail::BVSplitter<fcl::OBBRSSd> mean_{fcl::detail::SPLIT_METHOD_MEAN};
  fcl::Vector3d* vertices_ = nullptr;
  fcl::Triangle* triangles_ = nullptr;
  bool parting_ = false;
  Eigen::AlignedBox3d box_;
};

}  // namespace

std::shared_ptr<fcl::detail::BVSplitterBase<fcl::OBBRSSd>> pieceSplitterFor(const MeshTreeInput& input) {
  Roots roots(input.points.size());
  for (const fcl::Triangle& t : input.triangles) {
    roots.join(static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]));
    roots.join(static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[2]));
  }
  std::vector<std::uint32_t> piece_of_root(input.points.size(), 0);
  std::vector<std::uint32_t> piece_of_triangle(input.triangles.size());
  std::vector<std::uint32_t> piece_sizes;
  std::vector<Eigen::AlignedBox3d> piece_boxes;
  for (std::size_t k = 0; k < input.triangles.size(); ++k) {
    const fcl::Triangle& t = input.triangles[k];
    std::uint32_t& piece = piece_of_root[roots.of(static_cast<std::uint32_t>(t[0]))];
    if (piece == 0) {
      if (piece_sizes.size() == kMostPieces) return nullptr;
      piece_sizes.push_back(0);
      piece_boxes.emplace_back();
      piece = static_cast<std::uint32_t>(piece_sizes.size());
    }
    piece_of_triangle[k] = piece - 1;
    ++piece_sizes[piece - 1];
    for (int corner = 0; corner < 3; ++corner) piece_boxes[piece - 1].extend(input.points[t[corner]]);
  }
  if (piece_sizes.size() < 2) return nullptr;
  return std::make_shared<PieceSplitter>(std::move(piece_of_triangle), std::move(piece_sizes), std::move(piece_boxes));
}

}  // namespace internal
}  // namespace bramlock
