// The mended mesh closed by caps over its rims, and the caps' own winding
// number: together they give the mesh's winding number at any point.
#pragma once

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <numeric>
#include <vector>

#include <Eigen/Core>
#include <Eigen/Geometry>

#include "edge_table.h"

namespace bramlock {
namespace internal {

// The cube of a grid of side `side` from `low` that holds the point, each
// index clamped to [0, last].
using CellIndex = std::array<std::int64_t, 3>;
inline CellIndex cellHolding(const Eigen::Vector3d& point, const Eigen::Vector3d& low, double side, std::int64_t last) {
  CellIndex cell;
  for (int axis = 0; axis < 3; ++axis) {
    cell[axis] =
        std::clamp(static_cast<std::int64_t>(std::floor((point[axis] - low[axis]) / side)), std::int64_t{0}, last);
  }
  return cell;
}

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

// A fan from a centroid over a closed loop of edges: a rim of the mesh's
// open edges, or a part of one closed by chords.
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

// An edge that the triangles of one part leave open, `times` over, run from `from` to `to`.
struct OpenEdge {
  std::uint32_t from;
  std::uint32_t to;
  std::uint32_t times;
  std::uint32_t part;
};

// The edges of a mesh that its triangles do not simply close, with those
// triangles: every other edge has two triangles running it opposite ways, so
// it stays closed whatever is turned or left out, as long as both are kept.
class TangledEdges {
 public:
  TangledEdges(const std::vector<Corners>& faces, const EdgeTable& edges);
  // Triangles on the same three vertices are one triangle, wound as most of
  // them are (once per part where all face one way and parts are given);
  // copies facing apart in equal numbers (a wall two closed parts share)
  // cancel. Tells which triangles are left out.
  std::vector<char> cancelRepeats(std::vector<Corners>& faces,
                                  const std::vector<std::uint32_t>* part_of_face = nullptr) const;
  // The edges the triangles not left out leave open, per part (all of part 0 without parts).
  std::vector<OpenEdge> openEdges(const std::vector<Corners>& faces, const std::vector<char>& left_out,
                                  const std::vector<std::uint32_t>* part_of_face = nullptr) const;

 private:
  struct Edge {
    std::uint32_t lower;
    std::uint32_t upper;
    std::uint32_t first;  // its triangles: faces_[first, last)
    std::uint32_t last;
  };
  std::vector<Edge> edges_;
  std::vector<std::uint32_t> faces_;
};

// The open edges sorted rim by rim (edges of one part that meet), and where
// each rim's edges begin, the end last.
std::vector<std::size_t> sortIntoRims(std::vector<OpenEdge>& open);

// The fan over the rim's edges from their centroid (without its edges' places).
RimCap rimCapOf(const std::vector<Eigen::Vector3d>& points, const OpenEdge* first, const OpenEdge* last);

// The caps with a tree over them, so that a point sums exactly only the
// caps near it (Barill et al. 2018, fast winding numbers). A node keeps the
// vector area of its caps' triangles about a centre, with its moments of
// first and second order, and a radius; beyond a few radii these stand for
// all its caps, and beyond kFarCapRadii radii of a cap its vector area stands
// for it. A leaf is a cap, or for a cap of many edges (a rim the cut could
// not part), a few neighbouring triangles of its fan.
class RimCaps {
 public:
  using Edges = std::vector<std::array<std::uint32_t, 2>>;

  bool empty() const { return caps_.empty(); }
  std::size_t size() const { return caps_.size(); }
  const RimCap& operator[](std::size_t cap) const { return caps_[cap]; }
  std::vector<RimCap>::const_iterator begin() const { return caps_.begin(); }
  std::vector<RimCap>::const_iterator end() const { return caps_.end(); }
  void push_back(const RimCap& cap) { caps_.push_back(cap); }

  // Builds the tree once every cap is in; orders each cap's edges among
  // themselves so that a leaf's lie together.
  void arrange(const std::vector<Eigen::Vector3d>& points, Edges& cap_edges);
  // The caps' winding number about the point (see capWinding); `rough`
  // lets nodes stand for their caps from nearer, and caps for their fans
  // from as near as nodes otherwise do, within a few hundredths.
  double winding(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges, const Eigen::Vector3d& point,
                 bool rough = false) const;
  // Whether the caps' winding number about the point (its magnitude, where
  // asked) is at least `least`: told roughly where it is far from it.
  bool reaches(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges, const Eigen::Vector3d& point,
               double least, bool magnitude = false) const;
  // Whether every fan triangle lies at least `distance` from the point.
  bool allFartherThan(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges, const Eigen::Vector3d& point,
                      double distance) const;
  // Whether the caps' winding number stays below `limit` in magnitude at
  // every point within `radius` of `centre`: a triangle seen from at least
  // a distance d spans at most its area over d squared of solid angle.
  bool boundedBelow(const Eigen::Vector3d& centre, double radius, double limit) const;

 private:
  // A node as the tree is built.
  struct Node {
    Eigen::Vector3d centre;
    double radius = 0.0;
    Eigen::Vector3d vector_area;
    // Of its fan triangles: their areas summed, which weigh the centres of
    // nodes; the sums of each one's vector area times its mean offset from
    // the centre (moment(i, j) = sum of area i * offset j), and times the
    // mean square of the offset (spread[i](j, k) = sum of area i * mean of
    // offset j * offset k), for the terms of first and second order.
    double weight = 0.0;
    Eigen::Matrix3d moment = Eigen::Matrix3d::Zero();
    std::array<Eigen::Matrix3d, 3> spread{Eigen::Matrix3d::Zero(), Eigen::Matrix3d::Zero(), Eigen::Matrix3d::Zero()};
    // A leaf's fan: its apex and edges [first, last); an inner node's
    // second child at `last` (its first follows it).
    Eigen::Vector3d apex;
    std::uint32_t first = 0;
    std::uint32_t last = 0;
    bool leaf = true;
    // The box of its fan triangles.
    Eigen::AlignedBox3d box;
  };
  // What a point reads of a node: its centre and radius in double
  // precision, and in single precision, plenty for the far field, its vector
  // area, its moment made symmetric (the diagonal, then xy, xz, yz each
  // taken twice) and of its spread what the term of second order takes:
  // sum over i of 2 spread[i](i, j) + spread[j](k, k), and the sums over the
  // orderings of each product of three coordinates.
  struct Far {
    double centre[3];
    double radius;
    float area[3];
    float moment[6];
    float turn[3];
    float spread[10];
    // An inner node's second child (its first follows it), or a leaf's fan.
    std::uint32_t second;
    std::uint32_t fan;
  };
  struct Fan {
    Eigen::Vector3d apex;
    std::uint32_t first;
    std::uint32_t last;
  };
  static std::uint32_t build(std::vector<Node>& leaves, std::vector<Node>& nodes, std::size_t begin, std::size_t end);
  // Visits the nodes from the root, depth first: into a node's children
  // where `visit` opens it, and no further once it stops.
  // `second_first` tells, for an inner node, whether its second child is
  // to be visited before its first.
  enum class Step { kSkip, kOpen, kStop };
  template <typename Visit, typename SecondFirst>
  void walk(Visit visit, SecondFirst second_first) const {
    // The tree is balanced: its depth is about the logarithm of its leaves.
    std::array<std::uint32_t, 64> stack;
    std::size_t depth = 0;
    if (!far_.empty()) stack[depth++] = 0;
    while (depth > 0) {
      const std::uint32_t index = stack[--depth];
      const Step step = visit(index, far_[index]);
      if (step == Step::kStop) return;
      if (step == Step::kOpen) {
        const bool swap = second_first(index + 1, far_[index].second);
        stack[depth++] = swap ? index + 1 : far_[index].second;
        stack[depth++] = swap ? far_[index].second : index + 1;
      }
    }
  }
  template <typename Visit>
  void walk(Visit visit) const {
    walk(visit, [](std::uint32_t, std::uint32_t) { return false; });
  }

  std::vector<RimCap> caps_;
  std::vector<Far> far_;
  // Each node's fan triangles' areas summed, for bounds (apart from the
  // nodes a point reads).
  std::vector<double> weights_;
  // Each node's box, for telling how near its triangles may come.
  std::vector<Eigen::AlignedBox3d> boxes_;
  std::vector<Fan> fans_;
};

// A closed surface: the mended triangles with every rim of open edges capped
// by fans over parts of it. The mesh's winding number is the closed surface's, an exact
// integer that any path counts alike, plus the caps' own winding number,
// which takes them back.
struct ClosedChain {
  // The mesh's points, then the caps' apexes.
  std::vector<Eigen::Vector3d> points;
  // The mended triangles, then the caps wound against their rims.
  std::vector<Corners> triangles;
  RimCaps caps;
  std::vector<std::array<std::uint32_t, 2>> cap_edges;
  // The caps of rims no wider than the reach, which `caps` leaves out.
  std::vector<RimCap> slit_caps;
  std::vector<std::array<std::uint32_t, 2>> slit_cap_edges;
};

// How rims are capped: by fans over parts of each, which lie near their
// edges (a point pays for the caps near it), or by one fan from each rim's
// centroid, whose sides tell what the rim opens.
enum class RimFans { kLocal, kOnePerRim };

// The triangles with their open edges capped. The caps kept are those of rims
// wider than `reach`: a slit's cap shows only within about its width.
ClosedChain closedChainOf(const std::vector<Eigen::Vector3d>& points, std::vector<Corners> triangles,
                          std::vector<OpenEdge> open, double reach, RimFans fans = RimFans::kLocal);

// The solid angle of the triangle (corners relative to the point it is seen
// from), signed positive from behind it (Van Oosterom and Strackee).
double solidAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c);

// The distance from the point to the nearest point of the triangle.
double distanceToTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                          const Eigen::Vector3d& c);

// The winding number of the caps, as the mesh has them (the closed surface's
// cap triangles wound back), about the point.
double capWinding(const std::vector<Eigen::Vector3d>& points, const RimCaps& caps,
                  const std::vector<std::array<std::uint32_t, 2>>& cap_edges, const Eigen::Vector3d& point);

}  // namespace internal
}  // namespace bramlock
