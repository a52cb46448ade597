// The inside rule: whether a point lies within a triangle mesh, decided from
// what lies near the point. The mesh is mended part by part (copies of a
// vertex welded, cracks closed, each part wound one way and turned outwards by
// its own volume, repeated triangles kept once, open surfaces left out); a
// point is inside where the mended mesh's winding number is at least one half,
// counted exactly on the mesh closed by caps over its rims, plus the caps' own
// winding number summed through a tree, and wherever the triangles as written
// wind at least 0.9. This header is the folder's one
// door: the collision checkers include it and nothing else of the folder, and
// nothing here includes theirs (what both use lives in src/common).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <vector>

#include <fcl/math/triangle.h>
#include <Eigen/Core>
#include <Eigen/Geometry>

#include "clipped_tree.h"
#include "closed_chain.h"
#include "common/box_set.h"
#include "part_orientation.h"
#include "written_winding.h"

namespace bramlock {
namespace internal {

// The inside of a triangle mesh, for telling whether a point lies within it.
//
// A point is inside wherever the triangles as written (copies of a vertex
// welded, nothing else changed) wind at least 0.9 around it either way, and
// where the mending below puts it inside, except a centimetre or more from
// every triangle where they wind less than 0.1 (but for a cavity the arm's
// meshes keep solid): see written_winding.h. Where the mending changed
// nothing, its answer is the written triangles' own and no more is asked;
// where it did, only points in cubes that what it changed (triangles and
// caps) may move by 0.4 or more ask the written triangles.
//
// By the mending, a point is inside where the mesh's winding number (the
// solid angles of its triangles summed, over 4 pi) is at least one half,
// after the mesh has been mended part by part (see part_orientation.h):
// copies of a vertex welded, cracks between faces written apart closed, each
// part wound one way and turned outwards by its own volume (cavities stay
// solid, or hollow where asked), copies of a triangle kept once per part or cancelled where they
// face apart, parts that are open surfaces left out, and flat parts with the
// rest solid on both of their sides left out. No feature of the
// mesh decides anything farther from it than its own part.
//
// It is taken in two parts (see closed_chain.h): the mended mesh with its
// open edges capped, a closed surface whose winding number is an integer
// counted exactly along a short path, and the caps' own winding number,
// summed directly. The closed surface's bounding cube is divided into
// eighths wherever a cube meets many triangles that are small beside it, so
// the cost of a point follows the detail near it; each cube's centre keeps
// its winding number, the middle of three routes from its parent's centre
// (which agree on a closed surface). A point is judged from the centre of the
// smallest cube holding it, by the crossings of a path inside that cube;
// where that cube lists very many long triangles (a fan's apex, a band of
// slivers), the path meets only those a tree of oriented boxes over their
// parts within the cube lists (clipped_tree.h). Every
// test of a point against a triangle has an exact sign, and points exactly on
// a face, edge or vertex count as if moved by the same infinitesimal step, so
// ties never make two tests disagree. A point outside the boxes of the mesh's
// pieces is outside at once.
//
// A part is an open surface where a rim of it leaves open more than a
// hundredth of the mesh's area, no triangle covers the rim's cap, and the cap
// has the inside on one side and the outside on the other among such parts.
// A mesh whose parts are all open surfaces, or that encloses nothing, is no
// solid (isSolid() false): only what its triangles clearly enclose is
// inside. One with vertices that are not finite or absurdly far has no
// inside at all. Triangles naming a vertex the mesh lacks
// are left out, vertices no triangle names are not read, and a point that is
// not finite is never inside.
class MeshSolid {
 public:
  // Vertices and triangles in the mesh's own frame.
  MeshSolid(const std::vector<Eigen::Vector3d>& points, const std::vector<fcl::Triangle>& triangles,
            Cavities cavities = Cavities::kSolid);

  // Whether the mended mesh is a solid.
  bool isSolid() const { return solid_; }
  // Whether any point may lie inside: a solid, or triangles as written that
  // the mending changed, which may enclose points though they are no solid.
  bool hasInside() const { return solid_ || written_; }
  // Whether the point (in the mesh's frame) lies inside.
  bool contains(const Eigen::Vector3d& point) const;
  // Whether the point lies inside and in the box of that piece. Every point
  // inside lies in some piece's box, so asking for each piece whose box may
  // hold the point answers as contains() does, without a search of the boxes.
  bool containsInPiece(const Eigen::Vector3d& point, std::size_t piece) const;
  // One vertex of each connected piece of the mesh: a piece that meets no
  // other surface lies inside a solid exactly when this vertex does.
  const std::vector<std::uint32_t>& pieceVertices() const { return piece_vertices_; }
  // The piece of each of the mesh's vertices, where it has several pieces (else empty).
  const std::vector<std::uint32_t>& pieceOfVertex() const { return piece_of_vertex_; }
  // The boxes of the pieces, in the order of pieceVertices(), for the same
  // mesh with its vertices moved (padding keeps their order): each grown by
  // the farthest move along any axis. None for another count of vertices,
  // where every part of the mesh was left out as an open surface, or where
  // the written triangles may enclose what no piece's box holds (a box
  // written face by face with cracks is six flat pieces); a point is then
  // asked about as in piece 0, the box of the whole mesh.
  std::vector<Eigen::AlignedBox3d> pieceBoxesMovedTo(const Eigen::Vector3d* vertices, std::size_t count) const;

 private:
  using TriangleList = std::vector<std::uint32_t>;
  // A cube of the division: eight children in a row from `children`, or,
  // for a leaf (children negative), the triangles meeting it at its tree's
  // listed[first, last); a leaf listing very many has children -2 - its
  // crowded leaf's number.
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
    // Per node, once a point has asked (0 until then): whether the caps are
    // far enough from the cube to change no answer in it (kCapsFar) or not.
    std::unique_ptr<std::atomic<std::uint8_t>[]> caps_reach;
    // The same for the guard of the written triangles (see WrittenWinding).
    std::unique_ptr<std::atomic<std::uint8_t>[]> written_reach;
    // Whether every point of the cube lies within the clearance of a written triangle.
    std::unique_ptr<std::atomic<std::uint8_t>[]> written_near;
  };
  using Reach = std::unique_ptr<std::atomic<std::uint8_t>[]>;
  // The leaf of the division holding a point, with its cube.
  struct LeafHolding {
    const Tree* tree;
    std::uint32_t node;
    Cube cube;
  };

  // The closed surface alone, for judging openings.
  explicit MeshSolid(ClosedChain chain);
  void adopt(ClosedChain chain);
  bool verticesAreUsable(const std::vector<Eigen::Vector3d>& points) const;
  bool keepsPartsInwards(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                         const Parts& parts) const;
  // Where the mending changed the winding: its answers held to the written
  // triangles', and where the mended mesh is a solid, what the mending
  // changed kept to bound it per cube (the triangles changed and the caps
  // of the slits, which are not summed back).
  void guardWithWritten(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& written,
                        const std::vector<Corners>& changed, std::vector<RimCap> slit_caps,
                        RimCaps::Edges slit_cap_edges);
  bool insideAsWritten(const Eigen::Vector3d& point) const;
  // The pieces of the welded mesh, their vertices and boxes.
  void findPieces(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
                  const std::vector<std::uint32_t>& welded);
  // Leaves out the triangles of parts that are no solids.
  void leaveOutOpenParts(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                         const Parts& parts, const TangledEdges& tangled, double reach,
                         std::vector<char>& left_out) const;
  static void leaveOutParts(const Parts& parts, const std::vector<char>& marked, std::vector<char>& left_out);
  // The closed surface of the parts chosen, each rim capped by one fan.
  static MeshSolid closedPartsOf(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                 const Parts& parts, const std::vector<char>& chosen, const TangledEdges& tangled,
                                 double reach, const std::vector<char>& left_out);
  // Leaves out the triangles of sheets lying within the rest of the mesh.
  void leaveOutSheetsWithin(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                            const Parts& parts, const TangledEdges& tangled, double reach,
                            std::vector<char>& left_out) const;
  // Whether the cap has the inside on one side and the outside on the other.
  bool leavesOpening(const RimCap& cap) const;
  bool enclosesVolume() const;
  // The winding number of the mended, closed surface: an integer.
  int closedWinding(const Eigen::Vector3d& point) const;
  // For a point within the root cube.
  LeafHolding leafHolding(const Eigen::Vector3d& point) const;
  int closedWindingIn(const LeafHolding& leaf, const Eigen::Vector3d& point) const;
  // Whether the fans' winding number is too small anywhere in the leaf's
  // cube to change whether a point there is inside, kept per leaf.
  template <typename Fans>
  bool farFrom(const LeafHolding& leaf, const Fans& fans, Reach Tree::*reaches) const;
  bool withinClearance(const LeafHolding& leaf) const;
  // What `decide` tells of the leaf's cube, worked out on the first ask and kept in `known_in`.
  template <typename Decide>
  bool leafKnows(const LeafHolding& leaf, Reach Tree::*known_in, const Decide& decide) const;
  // The change of the winding number along the segment within a crowded
  // leaf (see windingChange), by the triangles its tree lists.
  int crowdedWindingChange(const LeafHolding& holding, int axis, const Eigen::Vector3d& from, double to) const;
  std::array<Tree*, 9> allTrees() {
    return {&top_, &below_[0], &below_[1], &below_[2], &below_[3], &below_[4], &below_[5], &below_[6], &below_[7]};
  }
  // Numbers the cubes of the division that list very many triangles.
  void numberCrowdedLeaves();
  // Divides the bounding cube and tells whether the centres' routes agree
  // often enough for a solid.
  bool divideBoundingCube();
  using ChildLists = std::array<TriangleList, 8>;
  using RouteChanges = std::array<std::array<int, 3>, 8>;
  // Lists the cube's triangles for its children and gives them their winding
  // numbers; false where the cube is made a leaf instead.
  bool split(Tree& tree, std::uint32_t node, const Cube& cube, const TriangleList& triangles, int depth,
             ChildLists& lists) const;
  // Whether most of the cube's triangles are many of its sides long.
  bool mostlyLong(const TriangleList& triangles, const Cube& cube) const;
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

  // The mended and capped surface (see closed_chain.h): the mesh's points
  // first, so the pieces' vertices index both.
  std::vector<Eigen::Vector3d> points_;
  std::vector<Corners> triangles_;
  RimCaps caps_;
  std::vector<std::array<std::uint32_t, 2>> cap_edges_;
  Eigen::AlignedBox3d bounds_;
  Cube root_{Eigen::Vector3d::Zero(), 0.0};
  // The root cube, and where it is divided, a tree for each of its children.
  Tree top_;
  std::array<Tree, 8> below_;
  // The mesh's own vertices: how many, and which its triangles use.
  std::size_t mesh_vertex_count_ = 0;
  std::vector<bool> used_;
  std::vector<std::uint32_t> piece_vertices_;
  std::vector<std::uint32_t> piece_of_vertex_;
  BoxSet piece_boxes_;
  // Per crowded leaf, built by the first point in it that needs it: most
  // such cubes never see one.
  struct LazyClippedTree {
    std::once_flag built;
    std::optional<ClippedTree> tree;
  };
  std::unique_ptr<LazyClippedTree[]> crowded_trees_;
  std::unique_ptr<const WrittenWinding> written_;
  bool solid_cavities_ = true;
  bool solid_ = false;
};

}  // namespace internal
}  // namespace bramlock
