#pragma once

#include <array>
#include <cstdint>
#include <numeric>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

namespace bramlock {
namespace internal {

using Corners = std::array<std::uint32_t, 3>;

// Union-find over indices whose roots are the lowest index of their set.
class Roots {
 public:
  explicit Roots(std::size_t count) : parent_(count) { std::iota(parent_.begin(), parent_.end(), 0u); }
  std::uint32_t of(std::uint32_t index) {
    while (parent_[index] != index) index = parent_[index] = parent_[parent_[index]];
    return index;
  }
  void join(std::uint32_t a, std::uint32_t b) {
    a = of(a);
    b = of(b);
    parent_[std::max(a, b)] = std::min(a, b);
  }

 private:
  std::vector<std::uint32_t> parent_;
};

// Six times the volume of the cone from `centre` over the triangle, signed by its winding.
double coneVolume(const std::vector<Eigen::Vector3d>& points, const Corners& corners, const Eigen::Vector3d& centre);

// How far apart copies of one vertex may lie: a millionth of the mesh's
// longest side, and a few roundings of its largest coordinate.
double weldReach(const Eigen::AlignedBox3d& bounds);

// The lowest index of each vertex's group of used vertices that lie within
// `reach` of each other (by the largest coordinate difference): copies of one
// vertex that a file rounded apart. Unused vertices are their own.
std::vector<std::uint32_t> weldedVertices(const std::vector<Eigen::Vector3d>& points,
                                          const std::vector<Corners>& triangles, const Eigen::AlignedBox3d& bounds,
                                          double reach);

// The fan that caps one rim of the mesh's open edges, from the rim's centroid
// over each of its edges.
struct RimCap {
  Eigen::Vector3d apex;
  // What the rim leaves open, seen along its normal: zero for a slit, such
  // as a T-junction leaves.
  Eigen::Vector3d vector_area;
  // The farthest rim vertex from the apex.
  double radius = 0.0;
  // Its open edges, each as often as it is open, as the mesh runs them.
  std::uint32_t first_edge = 0;
  std::uint32_t last_edge = 0;
};

// A triangle soup made a closed surface: copies of a vertex welded into one,
// triangles without area dropped, each closed part turned outwards, triangles
// written more than once kept once (or not at all where copies facing apart
// cancel), and every rim of open edges capped by a fan. The mesh's winding
// number is the closed surface's, an exact integer that any path counts
// alike, plus the caps' own winding number, which takes them back.
struct ClosedChain {
  // The mesh's points, then the caps' apexes.
  std::vector<Eigen::Vector3d> points;
  // The mended triangles, then the caps wound against their rims.
  std::vector<Corners> triangles;
  std::vector<RimCap> caps;
  std::vector<std::array<std::uint32_t, 2>> cap_edges;
  // The area of the mended triangles.
  double area = 0.0;
};

// From the triangles of `points` welded within `reach` (see weldedVertices).
// The caps kept are those of rims wider than `reach`: a slit's cap shows only
// within about its width.
ClosedChain closedChainOf(const std::vector<Eigen::Vector3d>& points, std::vector<Corners> welded_triangles,
                          const Eigen::Vector3d& centre, double reach);

// The winding number of the caps, as the mesh has them (the closed surface's
// cap triangles wound back), about the point.
double capWinding(const std::vector<Eigen::Vector3d>& points, const std::vector<RimCap>& caps,
                  const std::vector<std::array<std::uint32_t, 2>>& cap_edges, const Eigen::Vector3d& point);

}  // namespace internal
}  // namespace bramlock
