// Cracks closed, triangles paired around crowded edges, and each part wound
// one way and turned outwards (or kept a cavity) by its own volume.
#include "part_orientation.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <iterator>
#include <limits>
#include <numeric>
#include <tuple>
#include <utility>

#include <nanoflann.hpp>

#include "closed_chain.h"
#include "common/box_set.h"
#include "common/roots.h"

namespace bramlock {
namespace internal {

namespace {

constexpr double kCrackShare = 1e-3;
// Rim edges this near opposite directions face each other across a crack.
constexpr double kFacingCosine = -0.7;
// A vertex nearer a rim end than this share of its edge copies it; farther,
// within one rim, it must not lie more than 60 degrees into the end's
// triangle's side.
constexpr double kCopyShare = 0.25;
constexpr double kIntoShare = 0.5;
// Rim edges, and rim vertices (among many copies of a vertex, only some of
// which face each other), each compared with this many nearest others; the
// leaf size of their k-d trees.
constexpr std::size_t kNearestEdges = 8;
constexpr std::size_t kNearestVertices = 32;
constexpr std::size_t kLeafSize = 16;
// The turns tried around an edge of an odd number of triangles (each leaves
// another one out), and the runs of copies whose order is tried both ways.
constexpr std::size_t kMostTriedTurns = 15;
constexpr std::size_t kMostReorderedRuns = 3;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// An edge of one triangle, as the triangle runs it from `from` to `to`:
// along `along`, `length` long, the triangle lying towards `into` (in its
// plane, square to the edge).
struct RimEdge {
  std::uint32_t from;
  std::uint32_t to;
  Eigen::Vector3d along;
  Eigen::Vector3d into;
  double length;
};

std::vector<RimEdge> rimEdgesOf(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                const EdgeTable& edges) {
  std::vector<RimEdge> rim;
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        if (last - first != 1) return;
        const Corners& corners = faces[first->face];
        const bool forward = direction(corners, lower, upper) > 0;
        const std::uint32_t from = forward ? lower : upper, to = forward ? upper : lower;
        const Eigen::Vector3d edge = points[to] - points[from];
        const Eigen::Vector3d along = edge.normalized();
        const Eigen::Vector3d third = points[thirdCorner(corners, lower, upper)] - points[from];
        rim.push_back(RimEdge{from, to, along, (third - third.dot(along) * along).normalized(), edge.norm()});
      });
  return rim;
}

// The rims of the mesh as written: vertices joined by rim edges are of one rim.
Roots rimsOf(std::size_t vertex_count, const std::vector<RimEdge>& rim) {
  Roots rims(vertex_count);
  for (const RimEdge& edge : rim) rims.join(edge.from, edge.to);
  return rims;
}

// Whether a vertex `offset` away from an end of the edge lies across a gap
// from the edge's triangle, not ahead over the triangle's own side, as the
// far side of a narrow strip does; a vertex so near that it plainly copies
// the end's is always across.
bool acrossGap(const RimEdge& edge, const Eigen::Vector3d& offset) {
  const double apart = offset.norm();
  return apart < kCopyShare * edge.length || offset.dot(edge.into) <= kIntoShare * apart;
}

// Two vertices, a < b (two rim vertices, or two rim edges), and how far
// apart they lie, squared.
struct NearPair {
  double squared_distance;
  std::uint32_t a;
  std::uint32_t b;
};

// Points of `Dimensions` coordinates, as nanoflann reads them.
template <int Dimensions, typename Coordinate>
struct Cloud {
  std::size_t count;
  Coordinate coordinate;
  std::size_t kdtree_get_point_count() const { return count; }
  double kdtree_get_pt(std::size_t index, std::size_t axis) const { return coordinate(index, axis); }
  template <typename Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

constexpr double kFarApart = std::numeric_limits<double>::infinity();

// The nearest points found, at most `Most` and none as far as `bound`
// (squared), in the form nanoflann fills: bounded, a search far from every
// point ends at once instead of seeking its nearest ones far away.
template <std::size_t Most>
class NearestWithin {
 public:
  explicit NearestWithin(double bound) : bound_(bound) {}
  std::size_t size() const { return count_; }
  bool full() const { return count_ == found_.size(); }
  double worstDist() const { return full() ? squared_.back() : bound_; }
  bool addPoint(double squared, std::uint32_t index) {
    if (!(squared < worstDist())) return true;
    std::size_t at = full() ? count_ - 1 : count_++;
    for (; at > 0 && squared_[at - 1] > squared; --at) {
      squared_[at] = squared_[at - 1];
      found_[at] = found_[at - 1];
    }
    squared_[at] = squared;
    found_[at] = index;
    return true;
  }
  std::uint32_t index(std::size_t k) const { return found_[k]; }

 private:
  double bound_;
  std::size_t count_ = 0;
  std::array<double, Most> squared_;
  std::array<std::uint32_t, Most> found_;
};

// Pairs of each of the `count` points with at most `Nearest` others nearest
// to where it looks (`looking`, in the points' coordinates) and within
// `reach` on each axis, those that `apart` (squared, the same both ways)
// puts nearer than kFarApart, nearest first and each pair once: found
// through a k-d tree, so that many points at one place cost no more than as
// many elsewhere.
template <int Dimensions, std::size_t Nearest, typename Coordinate, typename Looking, typename Apart>
std::vector<NearPair> nearestPairs(std::size_t count, const Coordinate& coordinate, const Looking& looking,
                                   double reach, const Apart& apart) {
  using Points = Cloud<Dimensions, Coordinate>;
  using Tree = nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, Points>, Points, Dimensions,
                                                   std::uint32_t>;
  const Points cloud{count, coordinate};
  Tree tree(Dimensions, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(kLeafSize));
  tree.buildIndex();
  // What `reach` on every axis adds up to, with a margin over rounding.
  const double bound = (1.0 + 1e-9) * Dimensions * reach * reach;
  std::vector<NearPair> pairs;
  std::array<double, Dimensions> query;
  for (std::uint32_t index = 0; index < count; ++index) {
    for (int axis = 0; axis < Dimensions; ++axis) query[axis] = looking(index, axis);
    NearestWithin<Nearest + 1> nearest(bound);
    tree.findNeighbors(nearest, query.data(), nanoflann::SearchParams());
    for (std::size_t k = 0; k < nearest.size(); ++k) {
      const std::uint32_t other = nearest.index(k);
      const double distance = other == index ? kFarApart : apart(index, other);
      if (distance < kFarApart) pairs.push_back(NearPair{distance, std::min(index, other), std::max(index, other)});
    }
  }
  std::sort(pairs.begin(), pairs.end(), [](const NearPair& x, const NearPair& y) {
    return std::tie(x.squared_distance, x.a, x.b) < std::tie(y.squared_distance, y.a, y.b);
  });
  pairs.erase(std::unique(pairs.begin(), pairs.end(),
                          [](const NearPair& x, const NearPair& y) { return x.a == y.a && x.b == y.b; }),
              pairs.end());
  return pairs;
}

// Groups of joined vertices that never take in both ends of an edge of the
// mesh: the mesh keeps those apart itself.
class ApartGroups {
 public:
  ApartGroups(const std::vector<Corners>& faces, std::size_t vertex_count)
      : roots_(vertex_count),
        first_neighbour_(vertex_count + 1, 0),
        next_member_(vertex_count),
        size_(vertex_count, 1) {
    std::iota(next_member_.begin(), next_member_.end(), 0u);
    for (const Corners& corners : faces) {
      for (const std::uint32_t vertex : corners) first_neighbour_[vertex + 1] += 2;
    }
    std::partial_sum(first_neighbour_.begin(), first_neighbour_.end(), first_neighbour_.begin());
    neighbours_.resize(first_neighbour_.back());
    std::vector<std::uint32_t> filled(first_neighbour_.begin(), first_neighbour_.end() - 1);
    for (const Corners& corners : faces) {
      for (int k = 0; k < 3; ++k) {
        neighbours_[filled[corners[k]]++] = corners[(k + 1) % 3];
        neighbours_[filled[corners[k]]++] = corners[(k + 2) % 3];
      }
    }
  }

  std::uint32_t of(std::uint32_t vertex) { return roots_.of(vertex); }

  // Joins the groups of a and b unless an edge runs between them; the
  // smaller group's edges are searched.
  bool join(std::uint32_t a, std::uint32_t b) {
    a = roots_.of(a);
    b = roots_.of(b);
    if (a == b) return false;
    if (size_[a] > size_[b]) std::swap(a, b);
    if (edgeBetween(a, b)) return false;
    std::swap(next_member_[a], next_member_[b]);
    const std::uint32_t size = size_[a] + size_[b];
    roots_.join(a, b);
    size_[roots_.of(a)] = size;
    return true;
  }

 private:
  bool edgeBetween(std::uint32_t group, std::uint32_t other) {
    std::uint32_t member = group;
    do {
      for (std::uint32_t k = first_neighbour_[member]; k < first_neighbour_[member + 1]; ++k) {
        if (roots_.of(neighbours_[k]) == other) return true;
      }
      member = next_member_[member];
    } while (member != group);
    return false;
  }

  Roots roots_;
  std::vector<std::uint32_t> first_neighbour_;
  std::vector<std::uint32_t> neighbours_;
  // Each group's members in a ring.
  std::vector<std::uint32_t> next_member_;
  std::vector<std::uint32_t> size_;
};

// Both ends of the listed rim edges, by vertex: the rim vertices in order,
// and the ends of vertices[k] at ends[first_end[k], first_end[k + 1]).
struct RimEnd {
  std::uint32_t vertex;
  std::uint32_t edge;
};
struct RimEnds {
  RimEnds(const std::vector<RimEdge>& rim, const std::vector<std::uint32_t>& listed) {
    for (const std::uint32_t edge : listed) {
      ends.push_back(RimEnd{rim[edge].from, edge});
      ends.push_back(RimEnd{rim[edge].to, edge});
    }
    std::sort(ends.begin(), ends.end(),
              [](const RimEnd& a, const RimEnd& b) { return std::tie(a.vertex, a.edge) < std::tie(b.vertex, b.edge); });
    for (std::uint32_t k = 0; k < ends.size(); ++k) {
      if (k > 0 && ends[k].vertex == ends[k - 1].vertex) continue;
      vertices.push_back(ends[k].vertex);
      first_end.push_back(k);
    }
    first_end.push_back(static_cast<std::uint32_t>(ends.size()));
  }
  std::vector<RimEnd> ends;
  std::vector<std::uint32_t> vertices;
  std::vector<std::uint32_t> first_end;
};

// The two passes of crack joining over a mesh's rim edges (see
// crackJoinedVertices). Rim edges with an end that is not finite take no part.
class CrackJoining {
 public:
  CrackJoining(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
               const std::vector<RimEdge>& rim, double reach)
      : points_(points),
        rim_(rim),
        reach_(reach),
        rims_(rimsOf(points.size(), rim)),
        groups_(faces, points.size()),
        matched_(rim.size(), 0) {
    for (std::uint32_t edge = 0; edge < rim.size(); ++edge) {
      if (points[rim[edge].from].allFinite() && points[rim[edge].to].allFinite()) finite_.push_back(edge);
    }
  }

  // Each rim edge with the nearest free edge running the other way whose
  // ends lie within reach of its own; the pair counts as matched only where
  // both joins of their ends hold.
  void matchEdges() {
    const auto end = [&](std::size_t index, std::size_t axis, bool reversed) {
      const RimEdge& edge = rim_[finite_[index]];
      return points_[(axis < 3) != reversed ? edge.from : edge.to][axis % 3];
    };
    const auto apart = [&](std::uint32_t i, std::uint32_t j) {
      const RimEdge &e = rim_[finite_[i]], &f = rim_[finite_[j]];
      return withinReach(e.from, f.to) && withinReach(e.to, f.from)
                 ? (points_[e.from] - points_[f.to]).squaredNorm() + (points_[e.to] - points_[f.from]).squaredNorm()
                 : kFarApart;
    };
    const auto pairs = nearestPairs<6, kNearestEdges>(
        finite_.size(), [&](std::size_t index, std::size_t axis) { return end(index, axis, false); },
        [&](std::size_t index, std::size_t axis) { return end(index, axis, true); }, reach_, apart);
    for (const NearPair& pair : pairs) {
      const std::uint32_t e = finite_[pair.a], f = finite_[pair.b];
      if (matched_[e] || matched_[f]) continue;
      const RimEdge &one = rim_[e], &other = rim_[f];
      if (!faceEachOther(one, one.from, other, other.to) || !faceEachOther(one, one.to, other, other.from)) continue;
      join(one.from, other.to);
      join(one.to, other.from);
      const bool closed = groups_.of(one.from) == groups_.of(other.to) && groups_.of(one.to) == groups_.of(other.from);
      matched_[e] = matched_[f] = closed;
    }
  }

  // Rim vertices joined where the rims at them run opposite ways along an
  // edge that found no match on either side, or along any edges where they
  // lie so near that they plainly copy one vertex (a soup of triangles
  // written several times).
  void joinVerticesLeftOpen() {
    const RimEnds rim_ends(rim_, finite_);
    const std::vector<RimEnd>& ends = rim_ends.ends;
    const std::vector<std::uint32_t>& vertices = rim_ends.vertices;
    const std::vector<std::uint32_t>& first_end = rim_ends.first_end;
    const auto coordinate = [&](std::size_t index, std::size_t axis) { return points_[vertices[index]][axis]; };
    const auto apart = [&](std::uint32_t i, std::uint32_t j) {
      return withinReach(vertices[i], vertices[j]) ? (points_[vertices[i]] - points_[vertices[j]]).squaredNorm()
                                                   : kFarApart;
    };
    std::vector<double> shortest(vertices.size(), kFarApart);
    for (std::size_t k = 0; k < vertices.size(); ++k) {
      for (std::uint32_t end = first_end[k]; end < first_end[k + 1]; ++end) {
        shortest[k] = std::min(shortest[k], rim_[ends[end].edge].length);
      }
    }
    for (const NearPair& pair :
         nearestPairs<3, kNearestVertices>(vertices.size(), coordinate, coordinate, reach_, apart)) {
      const std::uint32_t u = vertices[pair.a], v = vertices[pair.b];
      const double copy_reach = kCopyShare * std::min(shortest[pair.a], shortest[pair.b]);
      const bool copies = pair.squared_distance < copy_reach * copy_reach;
      const auto faces = [&](const RimEnd& a) {
        return std::any_of(ends.begin() + first_end[pair.b], ends.begin() + first_end[pair.b + 1],
                           [&](const RimEnd& b) {
                             return (copies || !matched_[a.edge] || !matched_[b.edge]) &&
                                    faceEachOther(rim_[a.edge], u, rim_[b.edge], v);
                           });
      };
      if (std::any_of(ends.begin() + first_end[pair.a], ends.begin() + first_end[pair.a + 1], faces)) join(u, v);
    }
  }

  // The lowest index of each group, or nothing where nothing was joined.
  std::vector<std::uint32_t> joined() {
    if (!joined_) return {};
    std::vector<std::uint32_t> groups(points_.size());
    for (std::uint32_t vertex = 0; vertex < points_.size(); ++vertex) groups[vertex] = groups_.of(vertex);
    return groups;
  }

 private:
  bool withinReach(std::uint32_t a, std::uint32_t b) const {
    return (points_[a] - points_[b]).cwiseAbs().maxCoeff() <= reach_;
  }

  // Whether the vertex `a` of edge `e` and the vertex `b` of edge `f` lie on
  // the two sides of a crack: the edges run opposite ways, and within one
  // rim each vertex lies across a gap from the other's triangle.
  bool faceEachOther(const RimEdge& e, std::uint32_t a, const RimEdge& f, std::uint32_t b) {
    if (e.along.dot(f.along) >= kFacingCosine) return false;
    if (rims_.of(a) != rims_.of(b)) return true;
    const Eigen::Vector3d offset = points_[b] - points_[a];
    return acrossGap(e, offset) && acrossGap(f, -offset);
  }

  void join(std::uint32_t a, std::uint32_t b) { joined_ = groups_.join(a, b) || joined_; }

  const std::vector<Eigen::Vector3d>& points_;
  const std::vector<RimEdge>& rim_;
  const double reach_;
  Roots rims_;
  ApartGroups groups_;
  std::vector<std::uint32_t> finite_;
  std::vector<char> matched_;
  bool joined_ = false;
};

// Union-find over triangles that also keeps whether each is wound against
// its set's root, so that joining two triangles across an edge fixes how
// every triangle of the one set winds against every one of the other.
class WindingRoots {
 public:
  explicit WindingRoots(std::size_t count) : parent_(count), against_(count, 0) {
    std::iota(parent_.begin(), parent_.end(), 0u);
  }

  std::pair<std::uint32_t, bool> of(std::uint32_t index) {
    std::uint32_t root = index;
    bool against = false;
    while (parent_[root] != root) {
      against ^= against_[root] != 0;
      root = parent_[root];
    }
    for (bool remaining = against; parent_[index] != index;) {
      const std::uint32_t next = parent_[index];
      const bool step = against_[index] != 0;
      parent_[index] = root;
      against_[index] = remaining;
      remaining ^= step;
      index = next;
    }
    return {root, against};
  }

  // `against`: whether b is to be wound against a. A set that cannot be
  // wound one way (a Moebius strip) keeps the first word.
  void join(std::uint32_t a, std::uint32_t b, bool against) {
    const auto [root_a, against_a] = of(a);
    const auto [root_b, against_b] = of(b);
    if (root_a == root_b) return;
    const bool relation = against_a ^ against_b ^ against;
    parent_[std::max(root_a, root_b)] = std::min(root_a, root_b);
    against_[std::max(root_a, root_b)] = relation;
  }

 private:
  std::vector<std::uint32_t> parent_;
  std::vector<char> against_;
};

// A triangle around an edge: the angle of its third corner about the edge,
// and the way it runs the edge.
struct AroundEdge {
  double angle;
  std::uint32_t face;
  int runs;
};

// How well two triangles next to each other around an edge pair: best where
// they belong to one part already and wind as it does, then where they run
// the edge opposite ways, as the two sides of one surface do.
int pairScore(const AroundEdge& a, const AroundEdge& b, WindingRoots& roots) {
  const auto [root_a, against_a] = roots.of(a.face);
  const auto [root_b, against_b] = roots.of(b.face);
  const bool opposite = a.runs != b.runs;
  if (root_a == root_b) return opposite != (against_a != against_b) ? 3 : 0;
  return opposite ? 2 : 1;
}

// Tries each turn of the triangles' order around the edge (and each order of
// the first few runs of copies at one angle), pairing neighbours, and keeps
// the pairing that scores best.
std::vector<std::pair<std::uint32_t, std::uint32_t>> bestPairing(std::vector<AroundEdge>& around, WindingRoots& roots) {
  const std::size_t count = around.size();
  std::vector<std::pair<std::size_t, std::size_t>> runs;
  for (std::size_t begin = 0, end = 0; begin < count; begin = end) {
    for (end = begin + 1; end < count && around[end].angle == around[begin].angle;) ++end;
    if (end - begin > 1 && runs.size() < kMostReorderedRuns) runs.emplace_back(begin, end);
  }
  const std::size_t turns = count % 2 == 1 && count <= kMostTriedTurns ? count : 2;
  int best_score = -1;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> best;
  for (std::size_t order = 0; order < (std::size_t{1} << runs.size()); ++order) {
    std::vector<AroundEdge> tried = around;
    for (std::size_t run = 0; run < runs.size(); ++run) {
      if ((order >> run) & 1) std::reverse(tried.begin() + runs[run].first, tried.begin() + runs[run].second);
    }
    for (std::size_t turn = 0; turn < turns; ++turn) {
      int score = 0;
      for (std::size_t pair = 0; pair < count / 2; ++pair) {
        score += pairScore(tried[(turn + 2 * pair) % count], tried[(turn + 2 * pair + 1) % count], roots);
      }
      if (score <= best_score) continue;
      best_score = score;
      best.clear();
      for (std::size_t pair = 0; pair < count / 2; ++pair) {
        const AroundEdge& a = tried[(turn + 2 * pair) % count];
        const AroundEdge& b = tried[(turn + 2 * pair + 1) % count];
        if (pairScore(a, b, roots) >= 2) best.emplace_back(a.face, b.face);
      }
    }
  }
  return best;
}

// The triangles around an edge that more than two share pair off as the
// surfaces they belong to meet: neighbours around the edge, the pairing that
// keeps parts whole and windings as written.
void pairAroundEdge(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces, std::uint32_t lower,
                    std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last,
                    WindingRoots& roots) {
  const Eigen::Vector3d& origin = points[lower];
  const Eigen::Vector3d axis = (points[upper] - origin).normalized();
  const Eigen::Vector3d u = axis.unitOrthogonal(), v = axis.cross(u);
  std::vector<AroundEdge> around;
  for (const EdgeTable::Entry* entry = first; entry != last; ++entry) {
    const Eigen::Vector3d third = points[thirdCorner(faces[entry->face], lower, upper)] - origin;
    around.push_back(
        AroundEdge{std::atan2(third.dot(v), third.dot(u)), entry->face, direction(faces[entry->face], lower, upper)});
  }
  std::sort(around.begin(), around.end(), [](const AroundEdge& a, const AroundEdge& b) {
    return a.angle < b.angle || (a.angle == b.angle && a.face < b.face);
  });
  for (const auto& [a, b] : bestPairing(around, roots)) {
    roots.join(a, b, direction(faces[a], lower, upper) == direction(faces[b], lower, upper));
  }
}

// Whether the part's triangles wind about the point (at least one half,
// either way).
bool partHolds(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
               const std::vector<std::uint32_t>& part_faces, const Eigen::Vector3d& point) {
  double angle = 0.0;
  for (const std::uint32_t face : part_faces) {
    const Corners& c = faces[face];
    angle += solidAngle(points[c[0]] - point, points[c[1]] - point, points[c[2]] - point);
  }
  return std::abs(angle) >= 2.0 * M_PI;
}

// Which parts to turn where cavities are hollow: an outermost part wound
// inwards, and with it every part it holds, so that those keep their
// windings against it. Only parts wound inwards are searched for a holder.
std::vector<char> turnsKeepingCavities(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                       const Parts& parts, const std::vector<PartShape>& shapes) {
  std::vector<std::vector<std::uint32_t>> faces_of(parts.count);
  for (std::uint32_t face = 0; face < faces.size(); ++face) faces_of[parts.of_face[face]].push_back(face);
  std::vector<Eigen::AlignedBox3d> boxes;
  std::vector<Eigen::Vector3d> probes;
  for (const PartShape& shape : shapes) {
    boxes.push_back(shape.box);
    const Corners& c = faces[shape.first_face];
    probes.emplace_back((points[c[0]] + points[c[1]] + points[c[2]]) / 3.0);
  }
  const BoxSet boxed(boxes);
  const auto holds = [&](std::uint32_t holder, std::uint32_t held) {
    return holder != held && partHolds(points, faces, faces_of[holder], probes[held]);
  };
  std::vector<char> turn(parts.count, 0);
  for (std::uint32_t part = 0; part < parts.count; ++part) {
    if (!(shapes[part].volume < 0.0)) continue;
    const bool held = boxed.anyVisitedNear([&](const Eigen::AlignedBox3d& box) { return box.contains(probes[part]); },
                                           [&](std::uint32_t holder) { return holds(holder, part); });
    if (held) continue;
    turn[part] = 1;
    boxed.anyVisitedNear([&](const Eigen::AlignedBox3d& box) { return box.intersects(boxes[part]); },
                         [&](std::uint32_t inner) {
                           if (boxes[part].contains(boxes[inner]) && holds(part, inner)) turn[inner] = 1;
                           return false;
                         });
  }
  return turn;
}

void turnOutwards(const std::vector<Eigen::Vector3d>& points, std::vector<Corners>& faces, const Parts& parts,
                  Cavities cavities) {
  const std::vector<PartShape> shapes = partShapes(points, faces, parts);
  std::vector<char> turn(parts.count, 0);
  if (cavities == Cavities::kHollow) {
    turn = turnsKeepingCavities(points, faces, parts, shapes);
  } else {
    for (std::uint32_t part = 0; part < parts.count; ++part) turn[part] = shapes[part].volume < 0.0;
  }
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (turn[parts.of_face[face]]) std::swap(faces[face][1], faces[face][2]);
  }
}

}  // namespace

std::vector<PartShape> partShapes(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                  const Parts& parts, const std::vector<char>* left_out) {
  std::vector<PartShape> shapes(parts.count);
  const auto counts = [left_out](std::uint32_t face) { return !left_out || !(*left_out)[face]; };
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (!counts(face)) continue;
    PartShape& shape = shapes[parts.of_face[face]];
    const Eigen::Vector3d &a = points[faces[face][0]], &b = points[faces[face][1]], &c = points[faces[face][2]];
    const double area = 0.5 * (b - a).cross(c - a).norm();
    shape.centre += area * (a + b + c) / 3.0;
    shape.area += area;
    shape.box.extend(a);
    shape.box.extend(b);
    shape.box.extend(c);
    if (shape.first_face == kNone) shape.first_face = face;
  }
  for (PartShape& shape : shapes) {
    shape.centre = shape.area > 0.0 ? Eigen::Vector3d(shape.centre / shape.area) : shape.box.center();
  }
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (counts(face))
      shapes[parts.of_face[face]].volume += coneVolume(points, faces[face], shapes[parts.of_face[face]].centre);
  }
  return shapes;
}

double crackReach(const Eigen::AlignedBox3d& bounds) {
  return std::max(kCrackShare * bounds.sizes().maxCoeff(), weldReach(bounds));
}

// Rim edges are matched first, so that each faces at most one other across
// a crack, then vertices left open are joined.
std::vector<std::uint32_t> crackJoinedVertices(const std::vector<Eigen::Vector3d>& points,
                                               const std::vector<Corners>& faces, const EdgeTable& edges,
                                               double reach) {
  const std::vector<RimEdge> rim = rimEdgesOf(points, faces, edges);
  if (rim.size() < 2 || !(reach > 0.0)) return {};
  CrackJoining joining(points, faces, rim, reach);
  joining.matchEdges();
  joining.joinVerticesLeftOpen();
  return joining.joined();
}

Parts orientedParts(const std::vector<Eigen::Vector3d>& points, std::vector<Corners>& faces, const EdgeTable& edges,
                    Cavities cavities) {
  WindingRoots roots(faces.size());
  struct Crowded {
    std::uint32_t lower;
    std::uint32_t upper;
    const EdgeTable::Entry* first;
    const EdgeTable::Entry* last;
  };
  std::vector<Crowded> crowded;
  // Edges of two triangles first, so that the pairing around crowded edges
  // knows the parts they make.
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        if (last - first == 2) {
          const std::uint32_t a = first->face, b = (first + 1)->face;
          roots.join(a, b, direction(faces[a], lower, upper) == direction(faces[b], lower, upper));
        } else if (last - first > 2) {
          crowded.push_back(Crowded{lower, upper, first, last});
        }
      });
  for (const Crowded& edge : crowded)
    pairAroundEdge(points, faces, edge.lower, edge.upper, edge.first, edge.last, roots);
  Parts parts;
  parts.of_face.resize(faces.size());
  std::vector<std::uint32_t> number(faces.size(), kNone);
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    const auto [root, against] = roots.of(face);
    if (against) std::swap(faces[face][1], faces[face][2]);
    if (number[root] == kNone) number[root] = parts.count++;
    parts.of_face[face] = number[root];
  }
  turnOutwards(points, faces, parts, cavities);
  return parts;
}

}  // namespace internal
}  // namespace bramlock
