// Cracks closed, triangles paired around crowded edges, and each part wound
// one way and turned outwards (or kept a cavity) by its own volume.
#include "part_orientation.h"

#include <algorithm>
#include <array>
#include <cmath>
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
// Rim vertices each compared with this many nearest others, and the leaf size of their k-d tree.
constexpr std::size_t kNearest = 16;
constexpr std::size_t kLeafSize = 16;
// The turns tried around an edge of an odd number of triangles (each leaves
// another one out), and the runs of copies whose order is tried both ways.
constexpr std::size_t kMostTriedTurns = 15;
constexpr std::size_t kMostReorderedRuns = 3;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// One end of a rim edge: the rim runs along `along` there, its triangle
// lies towards `into` (in its plane, square to the edge), and the edge is
// `length` long.
struct RimEnd {
  std::uint32_t vertex;
  Eigen::Vector3d along;
  Eigen::Vector3d into;
  double length;
};

// Sorted by vertex, so that the ends at one vertex stand side by side.
std::vector<RimEnd> rimEndsOf(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                              const EdgeTable& edges) {
  std::vector<RimEnd> ends;
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        if (last - first != 1) return;
        const Corners& corners = faces[first->face];
        const bool forward = direction(corners, lower, upper) > 0;
        const std::uint32_t from = forward ? lower : upper, to = forward ? upper : lower;
        const Eigen::Vector3d edge = points[to] - points[from];
        const Eigen::Vector3d along = edge.normalized();
        const Eigen::Vector3d third = points[thirdCorner(corners, lower, upper)] - points[from];
        const Eigen::Vector3d into = (third - third.dot(along) * along).normalized();
        ends.push_back(RimEnd{from, along, into, edge.norm()});
        ends.push_back(RimEnd{to, along, into, edge.norm()});
      });
  std::stable_sort(ends.begin(), ends.end(), [](const RimEnd& a, const RimEnd& b) { return a.vertex < b.vertex; });
  return ends;
}

// The rims of the mesh as written: vertices joined by rim edges are of one rim.
Roots rimsOf(std::size_t vertex_count, const EdgeTable& edges) {
  Roots rims(vertex_count);
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        if (last - first == 1) rims.join(lower, upper);
      });
  return rims;
}

// Whether a vertex `offset` away lies across a gap from the end's triangle,
// not ahead over the triangle's own side, as the far side of a narrow strip
// does; a vertex so near that it plainly copies the end's is always across.
bool acrossGap(const RimEnd& end, const Eigen::Vector3d& offset) {
  const double apart = offset.norm();
  return apart < kCopyShare * end.length || offset.dot(end.into) <= kIntoShare * apart;
}

// Whether the rims at two vertices run opposite ways as the two sides of a
// crack do. Within one rim they must also face each other across the gap.
bool faceEachOther(const RimEnd* a_first, const RimEnd* a_last, const RimEnd* b_first, const RimEnd* b_last,
                   const Eigen::Vector3d& offset, bool one_rim) {
  for (const RimEnd* a = a_first; a != a_last; ++a) {
    for (const RimEnd* b = b_first; b != b_last; ++b) {
      if (a->along.dot(b->along) >= kFacingCosine) continue;
      if (!one_rim || (acrossGap(*a, offset) && acrossGap(*b, -offset))) return true;
    }
  }
  return false;
}

// Pairs of rim vertices within reach, nearest first: each with at most
// kNearest others, found through a k-d tree, so that many rim ends at one
// place cost no more than as many elsewhere.
struct NearPair {
  double squared_distance;
  std::uint32_t a;
  std::uint32_t b;
};

struct RimCloud {
  const std::vector<Eigen::Vector3d>& points;
  const std::vector<std::uint32_t>& vertices;
  std::size_t kdtree_get_point_count() const { return vertices.size(); }
  double kdtree_get_pt(std::size_t index, std::size_t axis) const { return points[vertices[index]][axis]; }
  template <typename Box>
  bool kdtree_get_bbox(Box&) const {
    return false;
  }
};

std::vector<NearPair> nearPairs(const std::vector<Eigen::Vector3d>& points, const std::vector<std::uint32_t>& vertices,
                                double reach) {
  using Tree =
      nanoflann::KDTreeSingleIndexAdaptor<nanoflann::L2_Simple_Adaptor<double, RimCloud>, RimCloud, 3, std::uint32_t>;
  const RimCloud cloud{points, vertices};
  Tree tree(3, cloud, nanoflann::KDTreeSingleIndexAdaptorParams(kLeafSize));
  tree.buildIndex();
  std::vector<NearPair> pairs;
  std::array<std::uint32_t, kNearest + 1> found;
  std::array<double, kNearest + 1> squared;
  for (const std::uint32_t vertex : vertices) {
    const std::size_t count = tree.knnSearch(points[vertex].data(), kNearest + 1, found.data(), squared.data());
    for (std::size_t k = 0; k < count; ++k) {
      const std::uint32_t other = vertices[found[k]];
      if (other == vertex || (points[other] - points[vertex]).cwiseAbs().maxCoeff() > reach) continue;
      pairs.push_back(NearPair{squared[k], std::min(vertex, other), std::max(vertex, other)});
    }
  }
  const auto order = [](const NearPair& x, const NearPair& y) {
    return std::tie(x.squared_distance, x.a, x.b) < std::tie(y.squared_distance, y.a, y.b);
  };
  std::sort(pairs.begin(), pairs.end(), order);
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

// Pairs of rim vertices within reach whose rims face each other are joined
// nearest first, each join kept only where no edge of the mesh would fall
// within one group.
std::vector<std::uint32_t> crackJoinedVertices(const std::vector<Eigen::Vector3d>& points,
                                               const std::vector<Corners>& faces, const EdgeTable& edges,
                                               double reach) {
  const std::vector<RimEnd> ends = rimEndsOf(points, faces, edges);
  if (ends.size() < 4 || !(reach > 0.0)) return {};
  std::vector<std::uint32_t> vertices, first_end;
  for (std::uint32_t k = 0; k < ends.size(); ++k) {
    if (k > 0 && ends[k].vertex == ends[k - 1].vertex) continue;
    vertices.push_back(ends[k].vertex);
    first_end.push_back(k);
  }
  first_end.push_back(static_cast<std::uint32_t>(ends.size()));
  const auto endsOf = [&](std::uint32_t vertex) {
    const std::size_t at = std::lower_bound(vertices.begin(), vertices.end(), vertex) - vertices.begin();
    return std::make_pair(ends.data() + first_end[at], ends.data() + first_end[at + 1]);
  };
  Roots rims = rimsOf(points.size(), edges);
  ApartGroups groups(faces, points.size());
  bool joined = false;
  for (const NearPair& pair : nearPairs(points, vertices, reach)) {
    const auto [a_first, a_last] = endsOf(pair.a);
    const auto [b_first, b_last] = endsOf(pair.b);
    const bool one_rim = rims.of(pair.a) == rims.of(pair.b);
    if (faceEachOther(a_first, a_last, b_first, b_last, points[pair.b] - points[pair.a], one_rim)) {
      joined |= groups.join(pair.a, pair.b);
    }
  }
  if (!joined) return {};
  std::vector<std::uint32_t> joined_vertices(points.size());
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) joined_vertices[vertex] = groups.of(vertex);
  return joined_vertices;
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
