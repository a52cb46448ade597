// Cracks closed, triangles paired around crowded edges, and each part wound
// one way and turned outwards (or kept a cavity) by its own volume.
#include "part_orientation.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>
#include <utility>

#include "closed_chain.h"
#include "common/box_set.h"
#include "common/roots.h"

namespace bramlock {
namespace internal {

namespace {

constexpr double kCrackShare = 1e-3;
// Rim edges this near opposite directions face each other across a crack.
constexpr double kFacingCosine = -0.7;
// The turns tried around an edge of an odd number of triangles (each leaves
// another one out), and the runs of copies whose order is tried both ways.
constexpr std::size_t kMostTriedTurns = 15;
constexpr std::size_t kMostReorderedRuns = 3;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// One end of a rim edge: the rim runs along `along` there.
struct RimEnd {
  std::uint32_t vertex;
  std::uint32_t other;
  Eigen::Vector3d along;
};

std::vector<RimEnd> rimEndsOf(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                              const EdgeTable& edges) {
  std::vector<RimEnd> ends;
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        if (last - first != 1) return;
        const bool forward = direction(faces[first->face], lower, upper) > 0;
        const std::uint32_t from = forward ? lower : upper, to = forward ? upper : lower;
        const Eigen::Vector3d along = (points[to] - points[from]).normalized();
        ends.push_back(RimEnd{from, to, along});
        ends.push_back(RimEnd{to, from, along});
      });
  return ends;
}

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

// Rim ends are binned in cubes of the reach; an end looks into its own and
// the neighbouring cubes.
std::vector<std::uint32_t> crackJoinedVertices(const std::vector<Eigen::Vector3d>& points,
                                               const std::vector<Corners>& faces, const EdgeTable& edges,
                                               const Eigen::AlignedBox3d& bounds, double reach) {
  const std::vector<RimEnd> ends = rimEndsOf(points, faces, edges);
  if (ends.size() < 4 || !(reach > 0.0)) return {};
  constexpr int kBitsPerAxis = 21;
  constexpr std::int64_t kLastCell = (1 << kBitsPerAxis) - 1;
  using Cell = CellIndex;
  const Eigen::Vector3d low = bounds.min();
  const auto cellOf = [&](const Eigen::Vector3d& p) { return cellHolding(p, low, reach, kLastCell); };
  const auto keyOf = [](const Cell& cell) {
    return static_cast<std::uint64_t>(cell[0] | cell[1] << kBitsPerAxis | cell[2] << (2 * kBitsPerAxis));
  };
  std::vector<std::pair<std::uint64_t, std::uint32_t>> binned;
  binned.reserve(ends.size());
  for (std::uint32_t k = 0; k < ends.size(); ++k) binned.emplace_back(keyOf(cellOf(points[ends[k].vertex])), k);
  std::sort(binned.begin(), binned.end());
  Roots roots(points.size());
  bool joined = false;
  const auto faceEachOther = [&](const RimEnd& a, const RimEnd& b) {
    return a.vertex < b.vertex && b.vertex != a.other && a.vertex != b.other && a.along.dot(b.along) < kFacingCosine &&
           (points[a.vertex] - points[b.vertex]).cwiseAbs().maxCoeff() <= reach;
  };
  for (const RimEnd& end : ends) {
    const Cell cell = cellOf(points[end.vertex]);
    Cell near;
    for (near[2] = cell[2] - 1; near[2] <= cell[2] + 1; ++near[2]) {
      for (near[1] = cell[1] - 1; near[1] <= cell[1] + 1; ++near[1]) {
        for (near[0] = cell[0] - 1; near[0] <= cell[0] + 1; ++near[0]) {
          if (std::any_of(near.begin(), near.end(), [](std::int64_t at) { return at < 0 || at > kLastCell; })) continue;
          const std::uint64_t key = keyOf(near);
          auto other = std::lower_bound(binned.begin(), binned.end(), std::make_pair(key, std::uint32_t{0}));
          for (; other != binned.end() && other->first == key; ++other) {
            if (!faceEachOther(end, ends[other->second])) continue;
            roots.join(end.vertex, ends[other->second].vertex);
            joined = true;
          }
        }
      }
    }
  }
  if (!joined) return {};
  std::vector<std::uint32_t> joined_vertices(points.size());
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) joined_vertices[vertex] = roots.of(vertex);
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
