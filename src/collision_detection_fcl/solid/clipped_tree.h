// Paths along the axes through a cube crowded with long triangles, over a
// tree of oriented boxes of the triangles' parts within the cube.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "edge_table.h"

namespace bramlock {
namespace internal {

// A tree of oriented boxes over triangles clipped to a box, for listing the
// triangles a segment along an axis within that box may meet. Oriented boxes
// stay thin around a fan's spokes or a band of slivers, where boxes along the
// axes would each reach across the whole fan; clipped, a spoke's box is no
// wider than the spoke within the box, so near a fan's apex, where the
// spokes narrow, a segment opens only the few boxes near its path.
class ClippedTree {
 public:
  // Over the triangles [first, last) of `triangles`, each clipped to `clip`.
  ClippedTree(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
              const std::uint32_t* first, const std::uint32_t* last, const Eigen::AlignedBox3d& clip);

  // Adds to `listed` every triangle whose clipped part's box the segment from
  // `start` along `axis` to the coordinate `to` meets (and maybe a few
  // more), and tells how many boxes it opened.
  std::size_t listAlongSegment(const Eigen::Vector3d& start, int axis, double to,
                               std::vector<std::uint32_t>& listed) const;

 private:
  // An oriented box: the rows of `axes` its directions, `half` its half
  // sides along them; a leaf's parts are order_[first, last), an inner
  // node's children follow it, the second at `second`.
  struct Node {
    Eigen::Matrix3d axes;
    Eigen::Vector3d centre;
    Eigen::Vector3d half;
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t second;
  };
  // The corners of part `k`.
  const Eigen::Vector3d* cornersBegin(std::uint32_t k) const { return corners_.data() + corner_starts_[k]; }
  const Eigen::Vector3d* cornersEnd(std::uint32_t k) const { return corners_.data() + corner_starts_[k + 1]; }
  std::uint32_t build(const std::vector<Eigen::Vector3d>& centres, std::uint32_t first, std::uint32_t last,
                      const Eigen::Matrix3d& parent_axes);
  bool meetsSegment(const Node& node, const Eigen::Vector3d& start, int axis, double length) const;

  // Per clipped part: its triangle, and its corners in corners_ from corner_starts_.
  std::vector<std::uint32_t> triangle_of_;
  std::vector<Eigen::Vector3d> corners_;
  std::vector<std::uint32_t> corner_starts_;
  std::vector<std::uint32_t> order_;
  std::vector<Node> nodes_;
};

}  // namespace internal
}  // namespace bramlock
