// The oriented boxes' tree over the triangles clipped to a cube, and the
// listing of the triangles a segment along an axis may meet.
#include "clipped_tree.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <limits>
#include <numeric>

#include <Eigen/Eigenvalues>

namespace bramlock {
namespace internal {

namespace {

constexpr std::uint32_t kLeafTriangles = 4;
// Nodes of fewer triangles keep their parent's directions.
constexpr std::uint32_t kLeastFittedTriangles = 32;
// Boxes are grown by this share of their largest side, and a little more,
// so that rounding never keeps a segment from a triangle it touches.
constexpr double kGrowth = 1e-9;
// The clipping box is grown by this share of its largest side, far beyond
// the rounding of the clipped corners.
constexpr double kClipGrowth = 1e-6;

// A triangle clipped by six planes has at most nine corners.
using Polygon = std::array<Eigen::Vector3d, 9>;

// The part of the polygon on the side of the plane along `axis` at `bound`
// towards `sign`: its corners there and where its sides cross the plane.
std::size_t clippedAt(const Polygon& polygon, std::size_t count, int axis, double bound, int sign, Polygon& kept) {
  std::size_t kept_count = 0;
  for (std::size_t k = 0; k < count; ++k) {
    const Eigen::Vector3d& p = polygon[k];
    const Eigen::Vector3d& q = polygon[(k + 1) % count];
    const bool p_in = sign * (p[axis] - bound) >= 0.0, q_in = sign * (q[axis] - bound) >= 0.0;
    if (p_in) kept[kept_count++] = p;
    if (p_in != q_in) {
      Eigen::Vector3d crossing = p + (q - p) * ((bound - p[axis]) / (q[axis] - p[axis]));
      crossing[axis] = bound;
      kept[kept_count++] = crossing;
    }
  }
  return kept_count;
}

// The triangle's corners within the box: none where it misses the box.
std::size_t clippedTriangle(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                            const Eigen::AlignedBox3d& box, Polygon& polygon) {
  polygon[0] = a;
  polygon[1] = b;
  polygon[2] = c;
  std::size_t count = 3;
  Polygon kept;
  for (int axis = 0; axis < 3 && count > 0; ++axis) {
    count = clippedAt(polygon, count, axis, box.min()[axis], 1, kept);
    count = clippedAt(kept, count, axis, box.max()[axis], -1, polygon);
  }
  return count;
}

}  // namespace

ClippedTree::ClippedTree(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
                         const std::uint32_t* first, const std::uint32_t* last, const Eigen::AlignedBox3d& clip) {
  Eigen::AlignedBox3d grown = clip;
  const double growth = kClipGrowth * clip.sizes().maxCoeff();
  grown.min().array() -= growth;
  grown.max().array() += growth;
  corner_starts_.push_back(0);
  std::vector<Eigen::Vector3d> centres;
  Polygon polygon;
  for (; first != last; ++first) {
    const Corners& c = triangles[*first];
    const std::size_t count = clippedTriangle(points[c[0]], points[c[1]], points[c[2]], grown, polygon);
    if (count == 0) continue;
    Eigen::Vector3d centre = Eigen::Vector3d::Zero();
    for (std::size_t k = 0; k < count; ++k) {
      corners_.push_back(polygon[k]);
      centre += polygon[k];
    }
    centres.push_back(centre / static_cast<double>(count));
    corner_starts_.push_back(static_cast<std::uint32_t>(corners_.size()));
    triangle_of_.push_back(*first);
  }
  order_.resize(triangle_of_.size());
  std::iota(order_.begin(), order_.end(), 0u);
  nodes_.reserve(2 * order_.size() / kLeafTriangles + 1);
  if (!order_.empty()) build(centres, 0, static_cast<std::uint32_t>(order_.size()), Eigen::Matrix3d::Identity());
}

// The box's directions are those of the spread of the corners, so a node of
// a fan's neighbouring spokes is a thin wedge (a small node keeps its
// parent's, which fit it closely enough); the triangles part at the median
// of their centres along the box's direction in which the centres vary the
// most. Not along its longest side: along a fan's spokes the centres lie at
// about one place, and parting them there by their angle from the middle
// spoke leaves nodes of both flanks, each as wide as the fan at its apex.
std::uint32_t ClippedTree::build(const std::vector<Eigen::Vector3d>& centres, std::uint32_t first, std::uint32_t last,
                                 const Eigen::Matrix3d& parent_axes) {
  const auto index = static_cast<std::uint32_t>(nodes_.size());
  nodes_.emplace_back();
  Eigen::Vector3d mean = Eigen::Vector3d::Zero();
  for (std::uint32_t k = first; k < last; ++k) mean += centres[order_[k]];
  mean /= static_cast<double>(last - first);
  Eigen::Matrix3d axes = parent_axes;
  if (last - first >= kLeastFittedTriangles) {
    Eigen::Matrix3d spread = Eigen::Matrix3d::Zero();
    for (std::uint32_t k = first; k < last; ++k) {
      for (const Eigen::Vector3d* corner = cornersBegin(order_[k]); corner != cornersEnd(order_[k]); ++corner) {
        const Eigen::Vector3d offset = *corner - mean;
        spread += offset * offset.transpose();
      }
    }
    Eigen::SelfAdjointEigenSolver<Eigen::Matrix3d> directions;
    directions.computeDirect(spread);
    axes = directions.eigenvectors().transpose();
    if (!axes.allFinite()) axes = parent_axes;
  }
  Eigen::Vector3d low = Eigen::Vector3d::Constant(std::numeric_limits<double>::infinity());
  Eigen::Vector3d high = -low;
  // The centres' squared offsets from their mean.
  Eigen::Vector3d spread = Eigen::Vector3d::Zero();
  for (std::uint32_t k = first; k < last; ++k) {
    for (const Eigen::Vector3d* corner = cornersBegin(order_[k]); corner != cornersEnd(order_[k]); ++corner) {
      const Eigen::Vector3d along = axes * (*corner - mean);
      low = low.cwiseMin(along);
      high = high.cwiseMax(along);
    }
    spread += (axes * (centres[order_[k]] - mean)).cwiseAbs2();
  }
  const double growth = kGrowth * (high - low).maxCoeff() + kGrowth * mean.cwiseAbs().maxCoeff();
  {
    Node& node = nodes_[index];
    node.axes = axes;
    node.centre = mean + axes.transpose() * (0.5 * (low + high));
    node.half = 0.5 * (high - low) + Eigen::Vector3d::Constant(growth);
    node.first = first;
    node.last = last;
    node.second = 0;
  }
  if (last - first <= kLeafTriangles) return index;
  int most = 0;
  spread.maxCoeff(&most);
  const Eigen::Vector3d direction = axes.row(most).transpose();
  const std::uint32_t middle = first + (last - first) / 2;
  std::nth_element(
      order_.begin() + first, order_.begin() + middle, order_.begin() + last,
      [&](std::uint32_t a, std::uint32_t b) { return direction.dot(centres[a]) < direction.dot(centres[b]); });
  build(centres, first, middle, axes);
  const std::uint32_t second = build(centres, middle, last, axes);
  nodes_[index].second = second;
  return index;
}

// The slabs of the box along its three directions, against the segment's
// parameter from 0 to its length.
bool ClippedTree::meetsSegment(const Node& node, const Eigen::Vector3d& start, int axis, double length) const {
  const Eigen::Vector3d from = node.axes * (start - node.centre);
  const Eigen::Vector3d along = node.axes.col(axis);
  double enter = 0.0, leave = length;
  for (int k = 0; k < 3; ++k) {
    if (along[k] == 0.0) {
      if (std::abs(from[k]) > node.half[k]) return false;
      continue;
    }
    const double a = (-node.half[k] - from[k]) / along[k];
    const double b = (node.half[k] - from[k]) / along[k];
    enter = std::max(enter, std::min(a, b));
    leave = std::min(leave, std::max(a, b));
    if (enter > leave) return false;
  }
  return true;
}

std::size_t ClippedTree::listAlongSegment(const Eigen::Vector3d& start, int axis, double to,
                                          std::vector<std::uint32_t>& listed) const {
  if (nodes_.empty()) return 0;
  // Run the segment upwards along the axis from its lower end.
  Eigen::Vector3d low = start;
  low[axis] = std::min(start[axis], to);
  const double length = std::abs(to - start[axis]);
  std::uint32_t pending[64];
  int count = 0;
  pending[count++] = 0;
  std::size_t opened = 0;
  while (count > 0) {
    const Node& node = nodes_[pending[--count]];
    ++opened;
    if (!meetsSegment(node, low, axis, length)) continue;
    if (node.second == 0) {
      for (std::uint32_t k = node.first; k < node.last; ++k) listed.push_back(triangle_of_[order_[k]]);
      continue;
    }
    pending[count++] = node.second;
    pending[count++] = static_cast<std::uint32_t>(&node - nodes_.data()) + 1;
  }
  return opened;
}

}  // namespace internal
}  // namespace bramlock
