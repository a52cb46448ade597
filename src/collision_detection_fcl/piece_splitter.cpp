#include "piece_splitter.h"

#include <cstdint>
#include <limits>
#include <vector>

#include <fcl/geometry/bvh/detail/BV_splitter.h>
#include <Eigen/Geometry>

#include "common/roots.h"

namespace bramlock {
namespace internal {

namespace {

// Meshes of more pieces than this (a file of unshared triangles) split as meshes of one piece.
constexpr std::size_t kMostPieces = 65536;
// A piece of fewer triangles than this is never parted on its own.
constexpr std::uint32_t kLeastPartedTriangles = 4;

// As FCL's tree build takes a triangle's centre.
fcl::Vector3d centreOf(const fcl::Vector3d* vertices, const fcl::Triangle& t) {
  fcl::Vector3d centre;
  centre.noalias() = (vertices[t[0]] + vertices[t[1]] + vertices[t[2]]) / 3.0;
  return centre;
}

// FCL's rule splits a node at the mean of its triangles' centres along its
// box's first axis, the one along which the corners vary the most. Along the
// spokes of a fan that is the spokes' length, on which all their centres lie
// at about one place: the least unevenness (a rim vertex the file's reader
// merged with a neighbour) then parts them by their angle from the middle
// spoke, into a middle and both flanks, and each node holding flanks spans
// the fan's whole width up to the apex, so a box near the apex descends most
// of the tree (FCL halves exactly tied centres in their order, which hid this
// on even fans). The mean is taken along the box's axis along which the
// centres vary the most instead, which is the first for most other nodes.
class SpreadSplitter final : public fcl::detail::BVSplitterBase<fcl::OBBRSSd> {
 public:
  void set(fcl::Vector3d* vertices, fcl::Triangle* triangles, fcl::BVHModelType type) override {
    vertices_ = vertices;
    triangles_ = triangles;
    type_ = type;
  }

  void computeRule(const fcl::OBBRSSd& bv, unsigned int* primitives, int count) override {
    const fcl::Matrix3d& axes = bv.obb.axis;
    // Sums of the centres' places and their squares along the box's axes,
    // from the box's centre so that no large offset drowns a small spread.
    Eigen::Array3d sum = Eigen::Array3d::Zero(), squares = Eigen::Array3d::Zero();
    for (int k = 0; k < count; ++k) {
      const Eigen::Array3d along =
          (axes.transpose() * (centreOf(vertices_, triangles_[primitives[k]]) - bv.obb.To)).array();
      sum += along;
      squares += along.square();
    }
    const Eigen::Array3d spread = squares - sum.square() / count;
    int most = 0;
    for (int axis = 1; axis < 3; ++axis) {
      if (spread[axis] > spread[most]) most = axis;
    }
    split_vector_ = axes.col(most);
    fcl::detail::computeSplitValue_mean<double, fcl::OBBRSSd>(bv, vertices_, triangles_, primitives, count, type_,
                                                              split_vector_, split_value_);
  }

  bool apply(const fcl::Vector3d& centre) const override { return split_vector_.dot(centre) > split_value_; }

  void clear() override {
    vertices_ = nullptr;
    triangles_ = nullptr;
  }

 private:
  fcl::Vector3d* vertices_ = nullptr;
  fcl::Triangle* triangles_ = nullptr;
  fcl::BVHModelType type_ = fcl::BVH_MODEL_TRIANGLES;
  fcl::Vector3d split_vector_;
  double split_value_ = 0.0;
};

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
    spread_.set(vertices, triangles, type);
  }

  // The node's largest piece, where it holds half of the node's triangles or
  // more, is parted from the rest by its box, where the box leaves out some
  // of the node's triangle centres; many like pieces split as any mesh does.
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
        held += box_.contains(centreOf(vertices_, triangles_[primitives[k]]));
      }
      parting_ = 2 * of_largest >= count && held < count;
    }
    if (!parting_) spread_.computeRule(bv, primitives, count);
  }

  bool apply(const fcl::Vector3d& centre) const override {
    return parting_ ? !box_.contains(centre) : spread_.apply(centre);
  }

  void clear() override {
    vertices_ = nullptr;
    triangles_ = nullptr;
    spread_.clear();
  }

 private:
  std::vector<std::uint32_t> piece_of_triangle_;
  std::vector<std::uint32_t> piece_sizes_;
  std::vector<Eigen::AlignedBox3d> piece_boxes_;
  SpreadSplitter spread_;
  fcl::Vector3d* vertices_ = nullptr;
  fcl::Triangle* triangles_ = nullptr;
  bool parting_ = false;
  Eigen::AlignedBox3d box_;
};

}  // namespace

std::shared_ptr<fcl::detail::BVSplitterBase<fcl::OBBRSSd>> splitterFor(const MeshTreeInput& input) {
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
      if (piece_sizes.size() == kMostPieces) return std::make_shared<SpreadSplitter>();
      piece_sizes.push_back(0);
      piece_boxes.emplace_back();
      piece = static_cast<std::uint32_t>(piece_sizes.size());
    }
    piece_of_triangle[k] = piece - 1;
    ++piece_sizes[piece - 1];
    for (int corner = 0; corner < 3; ++corner) piece_boxes[piece - 1].extend(input.points[t[corner]]);
  }
  if (piece_sizes.size() < 2) return std::make_shared<SpreadSplitter>();
  return std::make_shared<PieceSplitter>(std::move(piece_of_triangle), std::move(piece_sizes), std::move(piece_boxes));
}

}  // namespace internal
}  // namespace bramlock
