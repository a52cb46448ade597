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
// Vertices closer than a millionth of the mesh's longest side are one vertex,
// so seams that repeat a vertex are closed. Each connected piece is turned
// outwards on its own (by its signed volume), so every closed part counts
// whichever way it was wound, and a part wound against an enclosing one (a
// cavity) counts as solid too. A point is inside where its winding number is
// not zero: the surface crossings of a path from far away to it, +1 where the
// path enters, -1 where it leaves.
//
// The mesh's bounding cube is divided into eighths wherever a cube meets many
// triangles, so the cost of a point follows the detail near it, not the size
// of the mesh; a point outside the boxes of a few pieces is outside at once.
// Large meshes are divided on several threads, which gives the same
// division. Each cube's centre keeps its winding number: the root's is the
// middle of the three axis-ray counts, each child's the middle of three
// routes from its parent's centre, so a small hole misleads only the cubes
// near it. A point is judged from the centre of the smallest cube holding
// it, by the crossings of a path inside that cube. Every test of a point
// against a triangle has an exact sign, and points exactly on a face, edge or
// vertex count as if moved by the same infinitesimal step, so ties never make
// two tests disagree.
//
// A mesh with a large hole (an open surface: a plate, a box without a lid),
// on whose centres the routes disagree often (triangles wound against the
// rest of their piece), or with vertices that are not finite or absurdly
// far, has no inside: isSolid() is false and contains() always false.
class MeshSolid {
 public:
  // Vertices and triangles in the mesh's own frame.
  MeshSolid(const std::vector<Eigen::Vector3d>& points, const std::vector<fcl::Triangle>& triangles);

  bool isSolid() const { return solid_; }
  // Whether the point (in the mesh's frame) lies inside; false for a surface.
  bool contains(const Eigen::Vector3d& point) const;
  // One vertex of each connected piece of the mesh: a piece that meets no
  // other surface lies inside a solid exactly when this vertex does.
  const std::vector<std::uint32_t>& pieceVertices() const { return piece_vertices_; }
  // The boxes of the pieces, where they are few (else none), for the same
  // mesh with its vertices moved (padding keeps their order): each grown by
  // the farthest move along any axis.
  std::vector<Eigen::AlignedBox3d> pieceBoxesMovedTo(const Eigen::Vector3d* vertices, std::size_t count) const;

 private:
  using Corners = std::array<std::uint32_t, 3>;
  using TriangleList = std::vector<std::uint32_t>;
  // A cube of the division: eight children in a row from `children`, or,
  // for a leaf, the triangles meeting it at its tree's listed[first, last).
  struct Node {
    std::int32_t children = -1;
    std::int32_t winding = 0;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
  };
  struct Cube {
    Eigen::Vector3d centre;
    double half;
  };
  // Into the child holding the point, and its number: decided without
  // branches, since for the points asked about the sides of the centre
  // planes are as good as random, and each side moves the centre at once.
  static int enterChildHolding(Cube& cube, const Eigen::Vector3d& point) {
    const double quarter = 0.5 * cube.half;
    int child = 0;
    for (int axis = 0; axis < 3; ++axis) {
      const bool upper = point[axis] >= cube.centre[axis];
      child |= static_cast<int>(upper) << axis;
      cube.centre[axis] += upper ? quarter : -quarter;
    }
    cube.half = quarter;
    return child;
  }
  // Into the child of that number.
  static void enterChildCube(Cube& cube, int child) {
    cube.half *= 0.5;
    for (int axis = 0; axis < 3; ++axis) cube.centre[axis] += (child >> axis) & 1 ? cube.half : -cube.half;
  }
  // Where a line along an axis meets a triangle: +1 where it enters going
  // up the axis, -1 where it leaves; `facing` is the sign of the triangle's
  // normal along the axis.
  struct Hit {
    int entering;
    int facing;
  };

  // The division of a cube: its nodes (the cube's own first), the leaves'
  // triangles, and how many centres are inside and how many disagree.
  struct Tree {
    std::vector<Node> nodes;
    std::vector<std::uint32_t> listed;
    std::size_t inside_centres = 0;
    std::size_t disagreeing_centres = 0;
  };

  bool verticesAreUsable() const;
  // Welds, turns each piece outwards and tells whether its holes are small.
  bool piecesAreClosed();
  std::vector<std::uint32_t> weldedVertices() const;
  std::vector<std::uint32_t> findPieces(const std::vector<std::uint32_t>& welded);
  void boundPieces(const std::vector<std::uint32_t>& piece_of_triangle);
  void orientPieces(const std::vector<std::uint32_t>& piece_of_triangle);
  bool holesAreSmall(const std::vector<std::uint32_t>& welded) const;
  // Divides the bounding cube and tells whether the centres' routes agree
  // often enough for a solid.
  bool divideBoundingCube();
  using ChildLists = std::array<TriangleList, 8>;
  using RouteChanges = std::array<std::array<int, 3>, 8>;
  // Lists the cube's triangles for its children and gives them their winding
  // numbers; false where the cube is made a leaf instead.
  bool split(Tree& tree, std::uint32_t node, const Cube& cube, const TriangleList& triangles, int depth,
             ChildLists& lists) const;
  // The children's lists are kept per depth and reused, so dividing allocates little.
  void divide(Tree& tree, std::uint32_t node, const Cube& cube, const TriangleList& triangles, int depth,
              std::vector<ChildLists>& scratch) const;
  void addRouteChanges(const Cube& cube, const Corners& corners, const Eigen::Vector3d& low,
                       const Eigen::Vector3d& high, RouteChanges& changes) const;
  void addToChildren(const Cube& cube, std::uint32_t triangle, const Eigen::Vector3d& low, const Eigen::Vector3d& high,
                     ChildLists& lists) const;
  // Counts the centre's three winding numbers as agreeing or not and gives their middle.
  static int middleWinding(Tree& tree, int a, int b, int c);
  int rayWinding(const TriangleList& triangles, int axis, const Eigen::Vector3d& point) const;
  bool hit(const Corners& corners, int axis, double line_u, double line_v, Hit& crossing) const;
  // Whether the crossing of the triangle by the line along `axis` through
  // the point lies below the point.
  bool crossingBelow(const Corners& corners, int axis, const Eigen::Vector3d& point, int facing) const;
  // The change of the winding number along the segment along `axis` from
  // `from` to the coordinate `to`, by the listed triangles.
  int windingChange(const std::uint32_t* first, const std::uint32_t* last, int axis, const Eigen::Vector3d& from,
                    double to) const;

  std::vector<Eigen::Vector3d> points_;
  std::vector<Corners> triangles_;
  Eigen::AlignedBox3d bounds_;
  Cube root_{Eigen::Vector3d::Zero(), 0.0};
  // The root cube, and where it is divided, a tree for each of its children.
  Tree top_;
  std::array<Tree, 8> below_;
  std::vector<std::uint32_t> piece_vertices_;
  // The pieces' boxes, where they are few.
  std::vector<Eigen::AlignedBox3d> piece_boxes_;
  bool solid_ = false;
};

}  // namespace internal
}  // namespace bramlock
