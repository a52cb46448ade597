#pragma once

#include <array>
#include <cstdint>
#include <vector>

#include <fcl/math/triangle.h>
#include <Eigen/Core>
#include <Eigen/Geometry>

namespace bramlock {
namespace internal {

// The inside of a triangle mesh, for telling whether a point lies within it.
//
// A point is inside where its winding number is at least 1: the surface
// crossings of a ray from far away to it, +1 where the ray enters the solid
// (the triangle faces against it), -1 where it leaves; overlapping closed
// pieces wind twice. Rays are cast along the three axes once, when the solid
// is built, to the centres of a grid of cells over the mesh's box; each
// centre takes the middle of the three numbers, so a small hole misleads only
// the rows of cells it lies on in one direction. A point is then judged from
// its cell's centre, by the crossings of a short path from the centre to it
// through the triangles that meet the cell. On a closed mesh wound one way
// (either way) that is exact; crossings on shared edges and vertices count
// once (a fixed tie rule), so rays do not slip through seams.
//
// A mesh with large holes (an open surface: a plate, a box without a lid) or
// on whose centres the three directions disagree often (triangles wound
// against the rest) has no inside: isSolid() is false and contains() always
// false.
class MeshSolid {
 public:
  // Vertices and triangles in the mesh's own frame, all finite.
  MeshSolid(const std::vector<Eigen::Vector3d>& points, const std::vector<fcl::Triangle>& triangles);

  bool isSolid() const { return solid_; }
  // Whether the point (in the mesh's frame) lies inside; false for a surface.
  bool contains(const Eigen::Vector3d& point) const;
  // One vertex of each connected piece of the mesh: a piece that meets no
  // other surface lies inside a solid exactly when this vertex does.
  const std::vector<std::uint32_t>& pieceVertices() const { return piece_vertices_; }

 private:
  using Corners = std::array<std::uint32_t, 3>;

  // False where the mesh's box is too large to be divided.
  bool placeGrid();
  void orient();
  void listTrianglesPerCell();
  void windCentres();
  bool holesAreSmall() const;
  std::vector<std::int32_t> windAlong(int axis) const;
  void findPieces();
  // The change of the winding number along the segment along `axis` from
  // `from` to the coordinate `to`, by the triangles listed for cell `cell`.
  int windingChange(size_t cell, int axis, const Eigen::Vector3d& from, double to) const;
  bool cellOf(const Eigen::Vector3d& point, std::array<int, 3>& index) const;
  size_t cellIndex(const std::array<int, 3>& index) const;
  Eigen::Vector3d centreOf(const std::array<int, 3>& index) const;

  std::vector<Eigen::Vector3d> points_;
  std::vector<Corners> triangles_;
  Eigen::Vector3d origin_ = Eigen::Vector3d::Zero();
  double cell_size_ = 1.0;
  std::array<int, 3> cells_{{0, 0, 0}};
  // Triangles meeting each cell: those of cell k at [first_[k], first_[k + 1]).
  std::vector<std::uint32_t> first_;
  std::vector<std::uint32_t> listed_;
  std::vector<std::int8_t> centre_winding_;
  int orientation_ = 1;
  std::vector<std::uint32_t> piece_vertices_;
  bool solid_ = false;
};

}  // namespace internal
}  // namespace bramlock
