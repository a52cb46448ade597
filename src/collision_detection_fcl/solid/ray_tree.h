// Rays to infinity through a tree of oriented boxes, for points in cubes
// crowded with long triangles.
#pragma once

#include <cstdint>
#include <vector>

#include <Eigen/Core>

#include "edge_table.h"

namespace bramlock {
namespace internal {

// A tree of oriented boxes over triangles, for listing the triangles a ray
// along an axis may meet. Oriented boxes stay thin around a fan's spokes or
// a band of slivers, where boxes along the axes would each reach across the
// whole fan, so a ray passing a dense vertex opens only the few boxes near
// its path.
class RayTree {
 public:
  RayTree(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles);
  bool empty() const { return nodes_.empty(); }

  // Adds to `listed` every triangle whose box the ray from `start` along
  // `axis`, towards +infinity where `sign` is positive and -infinity where it
  // is negative, meets (and maybe a few more). False, with `listed`
  // incomplete, where that would open more than `budget` boxes.
  bool listAlongRay(const Eigen::Vector3d& start, int axis, int sign, std::size_t budget,
                    std::vector<std::uint32_t>& listed) const;

 private:
  // An oriented box: the rows of `axes` its directions, `half` its half
  // sides along them; a leaf's triangles are order_[first, last), an inner
  // node's children follow it, the second at `second`.
  struct Node {
    Eigen::Matrix3d axes;
    Eigen::Vector3d centre;
    Eigen::Vector3d half;
    std::uint32_t first;
    std::uint32_t last;
    std::uint32_t second;
  };
  std::uint32_t build(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
                      const std::vector<Eigen::Vector3d>& centres, std::uint32_t first, std::uint32_t last,
                      const Eigen::Matrix3d& parent_axes);
  bool meetsRay(const Node& node, const Eigen::Vector3d& start, int axis, int sign) const;

  std::vector<std::uint32_t> order_;
  std::vector<Node> nodes_;
};

}  // namespace internal
}  // namespace bramlock
