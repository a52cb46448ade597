// The winding number of a mesh's triangles as written, and what the mending
// changed about it, for holding the inside to what the triangles as written
// clearly enclose or leave out.
#pragma once

#include <vector>

#include <Eigen/Core>

#include "closed_chain.h"
#include "edge_table.h"

namespace bramlock {
namespace internal {

// The winding number of triangles as a file writes them (copies of a vertex
// welded, nothing else changed), summed through the caps' tree (see
// RimCaps): a triangle is a fan of one edge from its lowest corner, and
// triangles sharing that corner make one fan. Where the mended mesh is a
// solid, also a tree of what takes its winding number back to the written
// triangles' (the written triangles less the mended ones, each as often,
// net, as the two differ, and the caps over slits, which the mended mesh
// keeps closed), for bounding that difference over a cube.
class WrittenWinding {
 public:
  // The points are the closed surface's (the mesh's first) where the changes are given.
  WrittenWinding(std::vector<Eigen::Vector3d> points, const std::vector<Corners>& written,
                 const std::vector<Corners>& changed = {}, std::vector<RimCap> caps = {},
                 RimCaps::Edges cap_edges = {});

  // Whether the written triangles wind about the point at least `least` in magnitude.
  bool reaches(const Eigen::Vector3d& point, double least) const;
  // Whether every written triangle lies at least `distance` from the point.
  bool fartherThan(const Eigen::Vector3d& point, double distance) const;
  // Whether the written triangles' winding number stays within `limit` of
  // the mended mesh's within `radius` of `centre` (never without changes given).
  bool boundedBelow(const Eigen::Vector3d& centre, double radius, double limit) const {
    return has_changes_ && changes_.boundedBelow(centre, radius, limit);
  }

 private:
  std::vector<Eigen::Vector3d> points_;
  RimCaps fans_;
  RimCaps::Edges edges_;
  bool has_changes_ = false;
  RimCaps changes_;
  RimCaps::Edges change_edges_;
};

}  // namespace internal
}  // namespace bramlock
