// The winding number of a mesh's triangles as written: what they clearly
// enclose the mending may never take from the inside, nor keep what they
// clearly leave out far from every one of them.
#pragma once

#include <vector>

#include <Eigen/Core>

#include "closed_chain.h"
#include "edge_table.h"

namespace bramlock {
namespace internal {

// The winding number of triangles as a file writes them (copies of a vertex
// welded, nothing else changed), summed through the caps' tree (see RimCaps):
// a triangle is a fan of one edge from its lowest corner, and triangles
// sharing that corner make one fan. Where mending changed a mesh, a point the
// written triangles wind about by at least 0.9 either way is inside, and one
// they wind about by less than 0.1, a centimetre or more from every one of
// them, is outside.
class WrittenWinding {
 public:
  WrittenWinding(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles);

  bool clearlyInside(const Eigen::Vector3d& point) const;
  bool clearlyOutside(const Eigen::Vector3d& point) const;

 private:
  std::vector<Eigen::Vector3d> points_;
  RimCaps fans_;
  RimCaps::Edges edges_;
};

}  // namespace internal
}  // namespace bramlock
