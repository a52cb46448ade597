// The oriented boxes' tree, built over the triangles once, and the listing of
// the triangles a ray along an axis may meet.
#include "ray_tree.h"

#include <algorithm>
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
// so that rounding never keeps a ray from a triangle it touches.
constexpr double kGrowth = 1e-9;

}  // namespace

RayTree::RayTree(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles)
    : order_(triangles.size()) {
  std::iota(order_.begin(), order_.end(), 0u);
  nodes_.reserve(2 * triangles.size() / kLeafTriangles + 1);
  std::vector<Eigen::Vector3d> centres;
  centres.reserve(triangles.size());
  for (const Corners& c : triangles) centres.push_back((points[c[0]] + points[c[1]] + points[c[2]]) / 3.0);
  if (!triangles.empty()) {
    build(points, triangles, centres, 0, static_cast<std::uint32_t>(triangles.size()), Eigen::Matrix3d::Identity());
  }
}

// The box's directions are those of the spread of the corners, so a node of
// a fan's neighbouring spokes is a thin wedge (a small node keeps its
// parent's, which fit it closely enough); the triangles part at the median
// of their centres along the box's direction in which the centres vary the
// most. Not along its longest side: along a fan's spokes the centres lie at
// about one place, and parting them there by their angle from the middle
// spoke leaves nodes of both flanks, each as wide as the fan at its apex.
std::uint32_t RayTree::build(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
                             const std::vector<Eigen::Vector3d>& centres, std::uint32_t first, std::uint32_t last,
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
      for (const std::uint32_t corner : triangles[order_[k]]) {
        const Eigen::Vector3d offset = points[corner] - mean;
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
  // The centres' squared offsets from their mean, nine times over (their
  // offsets are the sums of their corners').
  Eigen::Vector3d spread = Eigen::Vector3d::Zero();
  for (std::uint32_t k = first; k < last; ++k) {
    Eigen::Vector3d centre_along = Eigen::Vector3d::Zero();
    for (const std::uint32_t corner : triangles[order_[k]]) {
      const Eigen::Vector3d along = axes * (points[corner] - mean);
      low = low.cwiseMin(along);
      high = high.cwiseMax(along);
      centre_along += along;
    }
    spread += centre_along.cwiseAbs2();
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
  build(points, triangles, centres, first, middle, axes);
  const std::uint32_t second = build(points, triangles, centres, middle, last, axes);
  nodes_[index].second = second;
  return index;
}

// The slabs of the box along its three directions, against the ray's
// parameter from 0 to infinity.
bool RayTree::meetsRay(const Node& node, const Eigen::Vector3d& start, int axis, int sign) const {
  const Eigen::Vector3d from = node.axes * (start - node.centre);
  const Eigen::Vector3d along = sign * node.axes.col(axis);
  double enter = 0.0, leave = std::numeric_limits<double>::infinity();
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

bool RayTree::listAlongRay(const Eigen::Vector3d& start, int axis, int sign, std::size_t budget,
                           std::vector<std::uint32_t>& listed) const {
  if (nodes_.empty()) return true;
  std::uint32_t pending[64];
  int count = 0;
  pending[count++] = 0;
  std::size_t opened = 0;
  while (count > 0) {
    const std::uint32_t index = pending[--count];
    const Node& node = nodes_[index];
    if (++opened > budget) return false;
    if (!meetsRay(node, start, axis, sign)) continue;
    if (node.second == 0) {
      listed.insert(listed.end(), order_.begin() + node.first, order_.begin() + node.last);
      continue;
    }
    pending[count++] = node.second;
    pending[count++] = index + 1;
  }
  return true;
}

}  // namespace internal
}  // namespace bramlock
