// A mesh's parts and the way each is wound, each found from the part itself,
// never from the whole mesh.
#pragma once

#include <cstdint>
#include <limits>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "edge_table.h"

namespace bramlock {
namespace internal {

// What a closed part inside another and wound against it is: solid, as the
// arm's own meshes keep it (a cavity is still part of the body), or hollow,
// as a world mesh written as one solid with a room inside means it.
enum class Cavities { kSolid, kHollow };

// How far apart the two sides of a crack may lie: a thousandth of the mesh's
// longest side, the gaps a file written face by face leaves between faces.
double crackReach(const Eigen::AlignedBox3d& bounds);

// Rim vertices (on edges of one triangle) joined across cracks: the lowest
// index of each group, each other vertex its own; empty where nothing is
// joined. Each rim edge is matched with at most one rim edge running the
// other way whose ends lie within `reach` of its own, and their ends are
// joined; vertices with an edge left unmatched are then joined with those
// within reach where their rims run opposite ways (a crack whose sides are
// divided differently), as are plain copies of one vertex (nearer than a
// quarter of their shortest rim edge). Nearer pairs come first, and a join
// that would put both ends of an edge of the mesh in one group is passed
// over, so the vertices of a ring finer than the reach stay apart. Two
// vertices of one rim are joined only where the rim faces itself across a
// gap (a seam), never across its own surface (a strip narrower than the
// reach). A rim running along itself (a fine rim) is never joined. Many
// rim ends at one place cost O(N log N): each is compared with a bounded
// number of nearest others, found through k-d trees.
std::vector<std::uint32_t> crackJoinedVertices(const std::vector<Eigen::Vector3d>& points,
                                               const std::vector<Corners>& faces, const EdgeTable& edges, double reach);

// The parts of a mesh and the part of each triangle. A part is what its
// triangles join into across edges that two of them share, and across edges
// that more share where the triangles around the edge pair off as the
// surfaces they belong to meet there (a fin or a sheet on an edge stays a
// part of its own, and so does each of two closed parts sharing a face).
struct Parts {
  std::vector<std::uint32_t> of_face;
  std::uint32_t count = 0;
};

// Winds each part one way, as most of its triangles run (a triangle wound
// against its neighbours is turned to them), then turns each part outwards
// by its own volume capped from its centre, never by the whole mesh's. With
// hollow cavities, a part inside another keeps its winding against it and
// turns only with the outermost part holding it.
Parts orientedParts(const std::vector<Eigen::Vector3d>& points, std::vector<Corners>& faces, const EdgeTable& edges,
                    Cavities cavities);

// Each part's area, area-weighted centre and box, and the six-fold volume of
// its triangles as cones from that centre: its volume with every rim capped
// by a fan from there. Triangles left out count for no part.
struct PartShape {
  Eigen::Vector3d centre = Eigen::Vector3d::Zero();
  double area = 0.0;
  double volume = 0.0;
  Eigen::AlignedBox3d box;
  std::uint32_t first_face = std::numeric_limits<std::uint32_t>::max();
};
std::vector<PartShape> partShapes(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                  const Parts& parts, const std::vector<char>* left_out = nullptr);

}  // namespace internal
}  // namespace bramlock
