// The weld, the open edges and their rims, the caps over them, and the tree
// through which a point sums only the caps near it.
#include "closed_chain.h"

#include <algorithm>
#include <cassert>
#include <cmath>
#include <limits>
#include <tuple>
#include <utility>

#include "common/roots.h"

namespace bramlock {
namespace internal {

namespace {

// Vertices this close, as a share of the longest side, are one vertex.
constexpr double kWeldShare = 1e-6;
// Beyond this many radii a cap's winding number is its vector area's.
constexpr double kFarCapRadii = 8.0;
// Beyond this many radii a node's vector area and its moments stand for its
// caps, within a few thousandths of a winding number; roughly, within a few
// hundredths, which is taken for a margin several times as wide.
constexpr double kFarNodeRadii = 2.0;
constexpr double kRoughNodeRadii = 1.2;
constexpr double kRoughMargin = 0.1;
// A rim is parted into loops of at most this many edges where it can be; a
// cap of more is parted into pieces of its fan of at most as many.
constexpr std::uint32_t kLeafCapEdges = 8;
constexpr std::uint32_t kNone = std::numeric_limits<std::uint32_t>::max();

// Whether two of the triangles around an edge share their third corner: copies of one triangle.
bool sharesThirdCorner(const std::vector<Corners>& faces, std::uint32_t lower, std::uint32_t upper,
                       const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
  if (last - first < 2) return false;
  if (last - first == 2) {
    return thirdCorner(faces[first->face], lower, upper) == thirdCorner(faces[(first + 1)->face], lower, upper);
  }
  std::vector<std::uint32_t> thirds;
  for (const EdgeTable::Entry* entry = first; entry != last; ++entry) {
    thirds.push_back(thirdCorner(faces[entry->face], lower, upper));
  }
  std::sort(thirds.begin(), thirds.end());
  return std::adjacent_find(thirds.begin(), thirds.end()) != thirds.end();
}

// Copies all facing one way are kept once in each part they belong to, so
// that a part stays closed whatever becomes of the others.
void keepOnePerPart(const std::pair<std::uint32_t, std::uint32_t>* first,
                    const std::pair<std::uint32_t, std::uint32_t>* last, const std::vector<std::uint32_t>& part_of_face,
                    std::vector<char>& cancelled) {
  for (const auto* copy = first; copy != last; ++copy) {
    const std::uint32_t part = part_of_face[copy->second];
    const bool earlier =
        std::any_of(first, copy, [&](const auto& other) { return part_of_face[other.second] == part; });
    if (!earlier) cancelled[copy->second] = 0;
  }
}

Eigen::Vector3d nearestOnSegment(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  const Eigen::Vector3d ab = b - a;
  const double length = ab.squaredNorm();
  return length > 0.0 ? Eigen::Vector3d(a + std::clamp((p - a).dot(ab) / length, 0.0, 1.0) * ab) : a;
}

// The nearest point of the triangle to p (Ericson, Real-Time Collision
// Detection 5.1.5), by the region of the triangle's plane p lies over.
Eigen::Vector3d nearestOnTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                                  const Eigen::Vector3d& c) {
  const Eigen::Vector3d ab = b - a, ac = c - a, ap = p - a;
  const double d1 = ab.dot(ap), d2 = ac.dot(ap);
  if (d1 <= 0.0 && d2 <= 0.0) return a;
  const Eigen::Vector3d bp = p - b;
  const double d3 = ab.dot(bp), d4 = ac.dot(bp);
  if (d3 >= 0.0 && d4 <= d3) return b;
  const double vc = d1 * d4 - d3 * d2;
  if (vc <= 0.0 && d1 >= 0.0 && d3 <= 0.0) return a + d1 / (d1 - d3) * ab;
  const Eigen::Vector3d cp = p - c;
  const double d5 = ab.dot(cp), d6 = ac.dot(cp);
  if (d6 >= 0.0 && d5 <= d6) return c;
  const double vb = d5 * d2 - d1 * d6;
  if (vb <= 0.0 && d2 >= 0.0 && d6 <= 0.0) return a + d2 / (d2 - d6) * ac;
  const double va = d3 * d6 - d5 * d4;
  if (va <= 0.0 && d4 - d3 >= 0.0 && d5 - d6 >= 0.0) return b + (d4 - d3) / ((d4 - d3) + (d5 - d6)) * (c - b);
  const double sum = va + vb + vc;
  if (sum > 0.0) return a + (vb / sum) * ab + (vc / sum) * ac;
  // A triangle with no area (or lost to rounding) is its edges.
  Eigen::Vector3d nearest = nearestOnSegment(p, a, b);
  for (const Eigen::Vector3d& on : {nearestOnSegment(p, b, c), nearestOnSegment(p, c, a)}) {
    if ((on - p).squaredNorm() < (nearest - p).squaredNorm()) nearest = on;
  }
  return nearest;
}

}  // namespace

double distanceToTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                          const Eigen::Vector3d& c) {
  return (nearestOnTriangle(p, a, b, c) - p).norm();
}

double coneVolume(const std::vector<Eigen::Vector3d>& points, const Corners& corners, const Eigen::Vector3d& centre) {
  const Eigen::Vector3d a = points[corners[0]] - centre;
  return a.dot((points[corners[1]] - centre).cross(points[corners[2]] - centre));
}

double weldReach(const Eigen::AlignedBox3d& bounds) {
  const double longest = bounds.sizes().maxCoeff();
  const double largest = std::max(bounds.min().cwiseAbs().maxCoeff(), bounds.max().cwiseAbs().maxCoeff());
  return kWeldShare * longest + 4.0 * std::numeric_limits<double>::epsilon() * largest;
}

// Vertices are sorted into cells one welding distance wide. The vertices of
// a cell within reach of its first one form a cluster, one group at once
// (rounding may leave a few more clusters in a cell).
// Clusters are then joined where any of their vertices lie within reach:
// those of one bin of 64 cells, and those of neighbouring bins where a
// cluster lies near the bins' face; in a bin crowded with clusters (many
// copies of a vertex rounded apart by more than the reach), only those of
// the cells near the cluster. A pair of clusters already in one group,
// or whose boxes lie out of reach, is passed over, and a search stops at the
// first vertex pair within reach, so many copies of one vertex cost about
// as much as one.
std::vector<std::uint32_t> weldedVertices(const std::vector<Eigen::Vector3d>& points,
                                          const std::vector<Corners>& triangles, const Eigen::AlignedBox3d& bounds,
                                          double reach) {
  const Eigen::Vector3d low = bounds.min();
  const double cell = reach > 0.0 ? reach : 1.0 / 64.0;
  constexpr int kCellBits = 6;  // a bin is 64 cells wide
  // Beyond this many clusters a bin is searched cell by cell.
  constexpr std::size_t kCrowdedBin = 64;
  constexpr int kBitsPerAxis = 21;
  constexpr std::int64_t kLastCell = (std::int64_t{1} << (kBitsPerAxis + kCellBits)) - 1;
  using Index = CellIndex;
  const auto cellOf = [&](const Eigen::Vector3d& p) { return cellHolding(p, low, cell, kLastCell); };
  const auto binKey = [](const Index& cells) {
    std::uint64_t key = 0;
    for (int axis = 0; axis < 3; ++axis) {
      key |= static_cast<std::uint64_t>(cells[axis] >> kCellBits) << (axis * kBitsPerAxis);
    }
    return key;
  };
  const auto cellInBin = [](const Index& cells) {
    std::uint32_t key = 0;
    for (int axis = 0; axis < 3; ++axis) key |= static_cast<std::uint32_t>(cells[axis] & 63) << (axis * kCellBits);
    return key;
  };
  // A slot holds a vertex (its bin, its cell in the bin, its index) until
  // the vertices are clustered, then a cluster (its bin, its first member in
  // `members`, whose members run to the next cluster's first, and the index
  // of its box, or kNone for a lone vertex, its own box): clusters never
  // outnumber the vertices read, so they take the sorted vertices' slots.
  struct Slot {
    std::uint64_t bin;
    std::uint32_t cell_or_first;
    std::uint32_t vertex_or_box;
    bool operator<(const Slot& other) const {
      return std::tie(bin, cell_or_first, vertex_or_box) <
             std::tie(other.bin, other.cell_or_first, other.vertex_or_box);
    }
  };
  std::vector<bool> used(points.size(), false);
  for (const Corners& corners : triangles) {
    for (const std::uint32_t vertex : corners) used[vertex] = true;
  }
  std::vector<Slot> slots;
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) {
    if (!used[vertex]) continue;
    const Index cells = cellOf(points[vertex]);
    slots.push_back(Slot{binKey(cells), cellInBin(cells), vertex});
  }
  std::sort(slots.begin(), slots.end());
  Roots roots(points.size());
  const auto near = [&](const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
    return (a - b).cwiseAbs().maxCoeff() <= reach;
  };
  // Out of reach of every point of the box: each coordinate difference is
  // at least the box's, rounded the same way.
  const auto outOfReach = [&](const Eigen::Vector3d& a_low, const Eigen::Vector3d& a_high, const Eigen::Vector3d& b_low,
                              const Eigen::Vector3d& b_high) {
    return (a_low - b_high).maxCoeff() > reach || (b_low - a_high).maxCoeff() > reach;
  };
  std::vector<std::uint32_t> members(slots.size());
  std::vector<Eigen::AlignedBox3d> boxes;
  std::size_t clusters = 0;
  // Of the cell at hand: its vertices, its clusters' first vertices and
  // boxes, and each vertex's cluster.
  std::vector<std::uint32_t> cell_vertices, cell_firsts, cluster_of;
  // Each cluster's cell in its bin.
  std::vector<std::uint32_t> cluster_cells;
  std::vector<Eigen::AlignedBox3d> cell_boxes;
  for (std::size_t begin = 0, end = 0; begin < slots.size(); begin = end) {
    const std::uint64_t bin = slots[begin].bin;
    cell_vertices.clear();
    for (end = begin;
         end < slots.size() && slots[end].bin == bin && slots[end].cell_or_first == slots[begin].cell_or_first; ++end) {
      cell_vertices.push_back(slots[end].vertex_or_box);
    }
    const std::uint32_t cell_in_bin = slots[begin].cell_or_first;
    cell_firsts.clear();
    cell_boxes.clear();
    cluster_of.clear();
    for (const std::uint32_t vertex : cell_vertices) {
      std::size_t found = 0;
      while (found < cell_firsts.size() && !near(points[cell_firsts[found]], points[vertex])) ++found;
      if (found == cell_firsts.size()) {
        cell_firsts.push_back(vertex);
        cell_boxes.emplace_back(points[vertex]);
      }
      roots.join(cell_firsts[found], vertex);
      cell_boxes[found].extend(points[vertex]);
      cluster_of.push_back(static_cast<std::uint32_t>(found));
    }
    // Each cluster's vertices laid out in a row.
    auto next = static_cast<std::uint32_t>(begin);
    for (std::size_t c = 0; c < cell_firsts.size(); ++c) {
      const std::uint32_t first = next;
      for (std::size_t k = 0; k < cell_vertices.size(); ++k) {
        if (cluster_of[k] == c) members[next++] = cell_vertices[k];
      }
      std::uint32_t box = kNone;
      if (next - first > 1) {
        box = static_cast<std::uint32_t>(boxes.size());
        boxes.push_back(cell_boxes[c]);
      }
      slots[clusters++] = Slot{bin, first, box};
      cluster_cells.push_back(cell_in_bin);
    }
  }
  slots.resize(clusters);
  const std::vector<Slot>& cluster_slots = slots;
  struct Span {
    std::uint32_t first;
    std::uint32_t last;
    Eigen::Vector3d low;
    Eigen::Vector3d high;
  };
  const auto spanOf = [&](std::size_t c) {
    const std::uint32_t first = cluster_slots[c].cell_or_first, box = cluster_slots[c].vertex_or_box;
    const auto last =
        static_cast<std::uint32_t>(c + 1 < clusters ? cluster_slots[c + 1].cell_or_first : members.size());
    if (box == kNone) return Span{first, last, points[members[first]], points[members[first]]};
    return Span{first, last, boxes[box].min(), boxes[box].max()};
  };
  const auto joinIfNear = [&](const Span& a, const Span& b) {
    const std::uint32_t a_root = roots.of(members[a.first]), b_root = roots.of(members[b.first]);
    if (a_root == b_root || outOfReach(a.low, a.high, b.low, b.high)) return;
    for (std::uint32_t i = a.first; i < a.last; ++i) {
      const Eigen::Vector3d& p = points[members[i]];
      if (outOfReach(p, p, b.low, b.high)) continue;
      for (std::uint32_t j = b.first; j < b.last; ++j) {
        if (near(p, points[members[j]])) return roots.join(a_root, b_root);
      }
    }
  };
  // A margin past reach that no rounding of the cell arithmetic crosses.
  const Eigen::Vector3d margin = Eigen::Vector3d::Constant(1.5 * reach);
  // The clusters of a bin, [begin, end), lie in the order of their cells. A
  // cluster meets each of a bin of few clusters, and of a crowded bin (a
  // cluster of many copies rounded apart) only those of the cells in its
  // margin, so that many clusters at one place cost near-linear time.
  const auto joinWithBin = [&](const Span& span, std::size_t begin, std::size_t end, const Index& near_low,
                               const Index& near_high) {
    if (end - begin <= kCrowdedBin) {
      for (std::size_t other = begin; other < end; ++other) joinIfNear(span, spanOf(other));
      return;
    }
    const std::uint64_t bin = cluster_slots[begin].bin;
    const auto first = cluster_cells.begin() + begin, last = cluster_cells.begin() + end;
    Index cell;
    for (cell[2] = near_low[2]; cell[2] <= near_high[2]; ++cell[2]) {
      for (cell[1] = near_low[1]; cell[1] <= near_high[1]; ++cell[1]) {
        for (cell[0] = near_low[0]; cell[0] <= near_high[0]; ++cell[0]) {
          if (binKey(cell) != bin) continue;
          const auto [from, to] = std::equal_range(first, last, cellInBin(cell));
          for (auto other = from; other != to; ++other) joinIfNear(span, spanOf(other - cluster_cells.begin()));
        }
      }
    }
  };
  const auto binEnd = [&](std::size_t begin) {
    const std::uint64_t bin = cluster_slots[begin].bin;
    return static_cast<std::size_t>(std::partition_point(cluster_slots.begin() + begin, cluster_slots.end(),
                                                         [bin](const Slot& slot) { return slot.bin == bin; }) -
                                    cluster_slots.begin());
  };
  for (std::size_t bin_start = 0, bin_end = 0, c = 0; c < clusters; ++c) {
    if (c == bin_end) bin_start = c, bin_end = binEnd(c);
    const Span span = spanOf(c);
    const std::uint64_t own = cluster_slots[c].bin;
    const Index near_low = cellOf(span.low - margin), near_high = cellOf(span.high + margin);
    joinWithBin(span, bin_start, bin_end - bin_start > kCrowdedBin ? bin_end : c, near_low, near_high);
    if (binKey(near_low) == binKey(near_high)) continue;
    Index bin;
    for (bin[2] = near_low[2] >> kCellBits; bin[2] <= near_high[2] >> kCellBits; ++bin[2]) {
      for (bin[1] = near_low[1] >> kCellBits; bin[1] <= near_high[1] >> kCellBits; ++bin[1]) {
        for (bin[0] = near_low[0] >> kCellBits; bin[0] <= near_high[0] >> kCellBits; ++bin[0]) {
          const Index cells{bin[0] << kCellBits, bin[1] << kCellBits, bin[2] << kCellBits};
          const std::uint64_t key = binKey(cells);
          if (key == own) continue;
          const auto other = std::lower_bound(cluster_slots.begin(), cluster_slots.end(), key,
                                              [](const Slot& a, std::uint64_t k) { return a.bin < k; });
          if (other == cluster_slots.end() || other->bin != key) continue;
          const auto begin = static_cast<std::size_t>(other - cluster_slots.begin());
          joinWithBin(span, begin, binEnd(begin), near_low, near_high);
        }
      }
    }
  }
  std::vector<std::uint32_t> welded(points.size());
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) welded[vertex] = roots.of(vertex);
  return welded;
}
TangledEdges::TangledEdges(const std::vector<Corners>& faces, const EdgeTable& edges) {
  edges.forEachEdge(
      [&](std::uint32_t lower, std::uint32_t upper, const EdgeTable::Entry* first, const EdgeTable::Entry* last) {
        int net = 0;
        for (const EdgeTable::Entry* entry = first; entry != last; ++entry)
          net += direction(faces[entry->face], lower, upper);
        // Where more than two triangles meet, parts may leave the edge open each
        // though the triangles close it together.
        if (net == 0 && last - first <= 2 && !sharesThirdCorner(faces, lower, upper, first, last)) return;
        const auto listed = static_cast<std::uint32_t>(faces_.size());
        for (const EdgeTable::Entry* entry = first; entry != last; ++entry) faces_.push_back(entry->face);
        edges_.push_back(Edge{lower, upper, listed, static_cast<std::uint32_t>(faces_.size())});
      });
}

std::vector<char> TangledEdges::cancelRepeats(std::vector<Corners>& faces,
                                              const std::vector<std::uint32_t>* part_of_face) const {
  std::vector<char> cancelled(faces.size(), 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> thirds;  // (third corner, triangle)
  // Each set of copies meets once, at the edge of its two lower corners.
  for (const Edge& edge : edges_) {
    if (edge.last - edge.first < 2) continue;
    thirds.clear();
    for (std::uint32_t k = edge.first; k < edge.last; ++k) {
      const std::uint32_t third = thirdCorner(faces[faces_[k]], edge.lower, edge.upper);
      if (third > edge.upper) thirds.emplace_back(third, faces_[k]);
    }
    std::sort(thirds.begin(), thirds.end());
    for (std::size_t begin = 0, end = 0; begin < thirds.size(); begin = end) {
      int net = 0;
      for (end = begin; end < thirds.size() && thirds[end].first == thirds[begin].first; ++end) {
        net += direction(faces[thirds[end].second], edge.lower, edge.upper);
        if (end > begin) cancelled[thirds[end].second] = 1;
      }
      if (end - begin < 2) continue;
      const std::uint32_t kept = thirds[begin].second, third = thirds[begin].first;
      if (net == 0) cancelled[kept] = 1;
      faces[kept] = net > 0 ? Corners{edge.lower, edge.upper, third} : Corners{edge.upper, edge.lower, third};
      if (part_of_face && static_cast<std::size_t>(std::abs(net)) == end - begin) {
        keepOnePerPart(thirds.data() + begin, thirds.data() + end, *part_of_face, cancelled);
      }
    }
  }
  return cancelled;
}

std::vector<OpenEdge> TangledEdges::openEdges(const std::vector<Corners>& faces, const std::vector<char>& left_out,
                                              const std::vector<std::uint32_t>* part_of_face) const {
  std::vector<OpenEdge> open;
  std::vector<std::pair<std::uint32_t, int>> nets;  // (part, net)
  for (const Edge& edge : edges_) {
    nets.clear();
    for (std::uint32_t k = edge.first; k < edge.last; ++k) {
      const std::uint32_t face = faces_[k];
      if (left_out[face]) continue;
      const std::uint32_t part = part_of_face ? (*part_of_face)[face] : 0;
      auto net = std::find_if(nets.begin(), nets.end(), [part](const auto& entry) { return entry.first == part; });
      if (net == nets.end()) net = nets.insert(nets.end(), {part, 0});
      net->second += direction(faces[face], edge.lower, edge.upper);
    }
    for (const auto& [part, net] : nets) {
      if (net > 0) open.push_back(OpenEdge{edge.lower, edge.upper, static_cast<std::uint32_t>(net), part});
      if (net < 0) open.push_back(OpenEdge{edge.upper, edge.lower, static_cast<std::uint32_t>(-net), part});
    }
  }
  return open;
}

// Rims join at shared vertices within a part: each (part, vertex) gets a
// number of its own, so the rims of every part are found in one pass.
std::vector<std::size_t> sortIntoRims(std::vector<OpenEdge>& open) {
  const auto keyOf = [](std::uint32_t part, std::uint32_t vertex) {
    return static_cast<std::uint64_t>(part) << 32 | vertex;
  };
  std::vector<std::uint64_t> ends;
  ends.reserve(2 * open.size());
  for (const OpenEdge& edge : open) {
    ends.push_back(keyOf(edge.part, edge.from));
    ends.push_back(keyOf(edge.part, edge.to));
  }
  std::sort(ends.begin(), ends.end());
  ends.erase(std::unique(ends.begin(), ends.end()), ends.end());
  const auto numberOf = [&](std::uint32_t part, std::uint32_t vertex) {
    return static_cast<std::uint32_t>(std::lower_bound(ends.begin(), ends.end(), keyOf(part, vertex)) - ends.begin());
  };
  Roots rims(ends.size());
  for (const OpenEdge& edge : open) rims.join(numberOf(edge.part, edge.from), numberOf(edge.part, edge.to));
  std::vector<std::pair<std::uint32_t, std::uint32_t>> order;  // (rim, edge)
  order.reserve(open.size());
  for (std::uint32_t k = 0; k < open.size(); ++k) order.emplace_back(rims.of(numberOf(open[k].part, open[k].from)), k);
  std::sort(order.begin(), order.end());
  std::vector<OpenEdge> sorted;
  sorted.reserve(open.size());
  std::vector<std::size_t> starts;
  for (std::size_t k = 0; k < order.size(); ++k) {
    if (k == 0 || order[k].first != order[k - 1].first) starts.push_back(k);
    sorted.push_back(open[order[k].second]);
  }
  starts.push_back(sorted.size());
  open = std::move(sorted);
  return starts;
}

namespace {

// The fan from the centroid of the edges' starts; `ends` tells an edge's
// start, end and how often it runs.
template <typename Iterator, typename Ends>
RimCap fanOver(const std::vector<Eigen::Vector3d>& points, Iterator first, Iterator last, Ends ends) {
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  double count = 0.0;
  for (Iterator edge = first; edge != last; ++edge) {
    const auto [from, to, times] = ends(*edge);
    sum += times * points[from];
    count += times;
  }
  RimCap cap;
  cap.apex = sum / count;
  cap.vector_area.setZero();
  for (Iterator edge = first; edge != last; ++edge) {
    const auto [from, to, times] = ends(*edge);
    const Eigen::Vector3d start = points[from] - cap.apex, end = points[to] - cap.apex;
    cap.vector_area += 0.5 * times * start.cross(end);
    cap.radius = std::max(cap.radius, start.norm());
  }
  return cap;
}

}  // namespace

RimCap rimCapOf(const std::vector<Eigen::Vector3d>& points, const OpenEdge* first, const OpenEdge* last) {
  return fanOver(points, first, last, [](const OpenEdge& edge) {
    return std::tuple<std::uint32_t, std::uint32_t, double>(edge.from, edge.to, edge.times);
  });
}

namespace {

using Edge = std::array<std::uint32_t, 2>;

// The longest side of the box of the places of [first, last).
template <typename Iterator, typename Place>
int longestSideOf(Iterator first, Iterator last, const Place& place) {
  Eigen::AlignedBox3d box;
  for (Iterator item = first; item != last; ++item) box.extend(place(*item));
  int axis = 0;
  box.sizes().maxCoeff(&axis);
  return axis;
}

// Orders [first, last) so that the first half's places lie below the rest's
// across the longest side of their box; where the halves part.
template <typename Iterator, typename Place>
Iterator halvedAcrossLongestSide(Iterator first, Iterator last, const Place& place) {
  const int axis = longestSideOf(first, last, place);
  const Iterator middle = first + (last - first) / 2;
  std::nth_element(first, middle, last, [&](const auto& a, const auto& b) { return place(a)[axis] < place(b)[axis]; });
  return middle;
}

// The edges halved across the longest side of their midpoints' box.
template <typename Iterator>
Iterator halvedAcrossLongestSide(const std::vector<Eigen::Vector3d>& points, Iterator first, Iterator last) {
  return halvedAcrossLongestSide(
      first, last, [&](const Edge& edge) { return Eigen::Vector3d(0.5 * (points[edge[0]] + points[edge[1]])); });
}

// A vertex the cut leaves open, once for each edge it lacks: `surplus` where
// more edges of the lower half end at it than leave it.
struct OpenEnd {
  std::uint32_t vertex;
  bool surplus;
};

// Pairs surplus ends with lacking ones, each with the nearest left; where
// many are left (both halves lacking the same way), in their order along the
// longest side of their box, so that pairing stays near-linear.
void pairNearest(const std::vector<Eigen::Vector3d>& points, std::vector<OpenEnd>& ends, std::vector<OpenEnd>& unpaired,
                 std::vector<Edge>& chords) {
  constexpr std::size_t kPairedNearest = 64;
  if (ends.size() > kPairedNearest) {
    const auto place = [&](const OpenEnd& end) -> const Eigen::Vector3d& { return points[end.vertex]; };
    const int axis = longestSideOf(ends.begin(), ends.end(), place);
    std::stable_sort(ends.begin(), ends.end(),
                     [&](const OpenEnd& a, const OpenEnd& b) { return place(a)[axis] < place(b)[axis]; });
    std::vector<std::uint32_t> surplus, lacking;
    for (const OpenEnd& end : ends) (end.surplus ? surplus : lacking).push_back(end.vertex);
    const std::size_t pairs = std::min(surplus.size(), lacking.size());
    for (std::size_t k = 0; k < pairs; ++k) chords.push_back({surplus[k], lacking[k]});
    for (std::size_t k = pairs; k < surplus.size(); ++k) unpaired.push_back({surplus[k], true});
    for (std::size_t k = pairs; k < lacking.size(); ++k) unpaired.push_back({lacking[k], false});
    return;
  }
  std::vector<char> paired(ends.size(), 0);
  for (std::size_t a = 0; a < ends.size(); ++a) {
    if (paired[a] || !ends[a].surplus) continue;
    std::size_t nearest = ends.size();
    double nearest_distance = std::numeric_limits<double>::infinity();
    for (std::size_t b = 0; b < ends.size(); ++b) {
      if (paired[b] || ends[b].surplus) continue;
      const double distance = (points[ends[a].vertex] - points[ends[b].vertex]).squaredNorm();
      if (distance < nearest_distance) nearest_distance = distance, nearest = b;
    }
    if (nearest == ends.size()) break;
    paired[a] = paired[nearest] = 1;
    chords.push_back({ends[a].vertex, ends[nearest].vertex});
  }
  for (std::size_t k = 0; k < ends.size(); ++k) {
    if (!paired[k]) unpaired.push_back(ends[k]);
  }
}

// Chords pairing each open end with one lacking the other way, nearest
// first within halves of halves, so that a chord spans about the gap between
// its ends along the cut rather than the whole cut: a fan over a chord
// across a part's middle would lie in every cube there. What a half cannot
// pair goes up to be paired with the other half's.
void pairOpenEnds(const std::vector<Eigen::Vector3d>& points, std::vector<OpenEnd>::iterator first,
                  std::vector<OpenEnd>::iterator last, std::vector<OpenEnd>& unpaired, std::vector<Edge>& chords) {
  constexpr std::ptrdiff_t kPairedDirectly = 8;
  std::vector<OpenEnd> ends;
  if (last - first <= kPairedDirectly) {
    ends.assign(first, last);
  } else {
    const auto middle = halvedAcrossLongestSide(
        first, last, [&](const OpenEnd& end) -> const Eigen::Vector3d& { return points[end.vertex]; });
    pairOpenEnds(points, first, middle, ends, chords);
    pairOpenEnds(points, middle, last, ends, chords);
  }
  pairNearest(points, ends, unpaired, chords);
}

// Halves a rim's edges across the longest side of their midpoints until each
// part has few; each half is closed by chords between the vertices the cut
// leaves open (see pairOpenEnds), run both ways, so the halves' fans close
// each other. A part's fan then lies near its own edges, where one fan over a
// long slit's rim would reach across the whole slit and every point near it
// would sum it. A rim the cut crosses often keeps one fan.
void partIntoLoops(const std::vector<Eigen::Vector3d>& points, std::vector<Edge> edges,
                   std::vector<std::vector<Edge>>& loops) {
  if (edges.size() <= kLeafCapEdges) {
    loops.push_back(std::move(edges));
    return;
  }
  const auto middle = halvedAcrossLongestSide(points, edges.begin(), edges.end()) - edges.begin();
  // Each vertex's edges of the lower half ending at it, less those leaving it.
  std::vector<std::pair<std::uint32_t, int>> ends;
  for (auto edge = edges.begin(); edge != edges.begin() + middle; ++edge) {
    ends.emplace_back((*edge)[0], -1);
    ends.emplace_back((*edge)[1], 1);
  }
  std::sort(ends.begin(), ends.end());
  std::vector<OpenEnd> open;
  for (std::size_t k = 0; k < ends.size();) {
    const std::uint32_t vertex = ends[k].first;
    int net = 0;
    for (; k < ends.size() && ends[k].first == vertex; ++k) net += ends[k].second;
    open.insert(open.end(), static_cast<std::size_t>(std::abs(net)), OpenEnd{vertex, net > 0});
  }
  if (4 * open.size() >= edges.size()) {
    loops.push_back(std::move(edges));
    return;
  }
  std::vector<Edge> chords;
  std::vector<OpenEnd> unpaired;
  pairOpenEnds(points, open.begin(), open.end(), unpaired, chords);
  assert(unpaired.empty());
  std::vector<Edge> lower(edges.begin(), edges.begin() + middle), upper(edges.begin() + middle, edges.end());
  for (const Edge& chord : chords) {
    lower.push_back(chord);
    upper.push_back({chord[1], chord[0]});
  }
  partIntoLoops(points, std::move(lower), loops);
  partIntoLoops(points, std::move(upper), loops);
}

}  // namespace

// Each rim is capped by fans over parts of it (see partIntoLoops), each from
// its part's centroid, which the closed surface takes wound against the rim.
// A rim no wider than `reach` (the slit a T-junction or a crack leaves) caps
// nothing a point away from it could see: its caps' own winding number is
// left out.
ClosedChain closedChainOf(const std::vector<Eigen::Vector3d>& points, std::vector<Corners> triangles,
                          std::vector<OpenEdge> open, double reach, RimFans fans) {
  ClosedChain chain;
  chain.points = points;
  chain.triangles = std::move(triangles);
  const std::vector<std::size_t> starts = sortIntoRims(open);
  std::vector<std::vector<Edge>> loops;
  for (std::size_t rim = 0; rim + 1 < starts.size(); ++rim) {
    const OpenEdge* first = open.data() + starts[rim];
    const OpenEdge* last = open.data() + starts[rim + 1];
    std::vector<Edge> edges;
    double length = 0.0;
    for (const OpenEdge* edge = first; edge != last; ++edge) {
      length += edge->times * (chain.points[edge->to] - chain.points[edge->from]).norm();
      edges.insert(edges.end(), edge->times, Edge{edge->from, edge->to});
    }
    const bool kept = rimCapOf(chain.points, first, last).vector_area.norm() > reach * length;
    loops.clear();
    if (fans == RimFans::kLocal) {
      partIntoLoops(chain.points, std::move(edges), loops);
    } else {
      loops.push_back(std::move(edges));
    }
    for (const std::vector<Edge>& loop : loops) {
      RimCap cap = fanOver(chain.points, loop.begin(), loop.end(), [](const Edge& edge) {
        return std::tuple<std::uint32_t, std::uint32_t, double>(edge[0], edge[1], 1.0);
      });
      const auto apex = static_cast<std::uint32_t>(chain.points.size());
      chain.points.push_back(cap.apex);
      for (const Edge& edge : loop) chain.triangles.push_back({apex, edge[1], edge[0]});
      auto& edges_kept = kept ? chain.cap_edges : chain.slit_cap_edges;
      cap.first_edge = static_cast<std::uint32_t>(edges_kept.size());
      edges_kept.insert(edges_kept.end(), loop.begin(), loop.end());
      cap.last_edge = static_cast<std::uint32_t>(edges_kept.size());
      if (kept) {
        chain.caps.push_back(cap);
      } else {
        chain.slit_caps.push_back(cap);
      }
    }
  }
  chain.caps.arrange(chain.points, chain.cap_edges);
  return chain;
}

double solidAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c) {
  const double la = a.norm(), lb = b.norm(), lc = c.norm();
  const double spanned = a.dot(b.cross(c));
  const double below = la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la;
  return 2.0 * std::atan2(spanned, below);
}

void RimCaps::arrange(const std::vector<Eigen::Vector3d>& points, Edges& cap_edges) {
  far_.clear();
  weights_.clear();
  boxes_.clear();
  fans_.clear();
  std::vector<Node> leaves;
  // The leaf of a cap's fan over edges [first, last), about the centre.
  const auto fan = [&](const RimCap& cap, std::uint32_t first, std::uint32_t last, const Eigen::Vector3d& centre,
                       double radius) {
    Node leaf;
    leaf.centre = centre;
    leaf.radius = radius;
    leaf.vector_area.setZero();
    leaf.apex = cap.apex;
    leaf.first = first;
    leaf.last = last;
    leaf.box.extend(cap.apex);
    for (std::uint32_t edge = first; edge < last; ++edge) {
      const Eigen::Vector3d from = points[cap_edges[edge][0]], to = points[cap_edges[edge][1]];
      leaf.box.extend(from);
      leaf.box.extend(to);
      const Eigen::Vector3d area = 0.5 * (from - cap.apex).cross(to - cap.apex);
      leaf.vector_area += area;
      leaf.weight += area.norm();
      // A triangle's mean offset and mean square offset from the centre.
      const Eigen::Vector3d a = cap.apex - centre, b = from - centre, c = to - centre, sum = a + b + c;
      const Eigen::Matrix3d square =
          (a * a.transpose() + b * b.transpose() + c * c.transpose() + sum * sum.transpose()) / 12.0;
      leaf.moment += area * (sum / 3.0).transpose();
      for (int i = 0; i < 3; ++i) leaf.spread[i] += area[i] * square;
    }
    return leaf;
  };
  std::vector<std::pair<std::uint32_t, std::uint32_t>> pieces;
  for (const RimCap& cap : caps_) {
    if (cap.last_edge - cap.first_edge <= kLeafCapEdges) {
      leaves.push_back(fan(cap, cap.first_edge, cap.last_edge, cap.apex, cap.radius));
      continue;
    }
    // The fan halved across the longest side of its edges' midpoints until each piece is small.
    pieces.assign(1, {cap.first_edge, cap.last_edge});
    while (!pieces.empty()) {
      const auto [first, last] = pieces.back();
      pieces.pop_back();
      Eigen::AlignedBox3d box(cap.apex);
      for (std::uint32_t edge = first; edge < last; ++edge) {
        box.extend(points[cap_edges[edge][0]]);
        box.extend(points[cap_edges[edge][1]]);
      }
      if (last - first <= kLeafCapEdges) {
        leaves.push_back(fan(cap, first, last, box.center(), 0.5 * box.diagonal().norm()));
        continue;
      }
      const auto middle = static_cast<std::uint32_t>(
          halvedAcrossLongestSide(points, cap_edges.begin() + first, cap_edges.begin() + last) - cap_edges.begin());
      pieces.emplace_back(first, middle);
      pieces.emplace_back(middle, last);
    }
  }
  if (leaves.empty()) return;
  std::vector<Node> nodes;
  nodes.reserve(2 * leaves.size());
  build(leaves, nodes, 0, leaves.size());
  // The products of three coordinates, i <= j <= k, in the order they are summed.
  const auto product = [](int i, int j, int k) {
    std::array<int, 3> sorted{i, j, k};
    std::sort(sorted.begin(), sorted.end());
    constexpr int kFirst[3] = {0, 6, 9};  // where the products starting with x, y, z begin
    const int rest = sorted[0] == 0 ? (sorted[1] == 0   ? sorted[2]
                                       : sorted[1] == 1 ? 2 + sorted[2]
                                                        : 5)
                                    : (sorted[1] == 1 ? sorted[2] - 1 : 2);
    return sorted[0] == 2 ? 9 : kFirst[sorted[0]] + rest;
  };
  for (const Node& node : nodes) {
    Far far{};
    for (int i = 0; i < 3; ++i) {
      far.centre[i] = node.centre[i];
      far.area[i] = static_cast<float>(node.vector_area[i]);
      far.moment[i] = static_cast<float>(node.moment(i, i));
      double turn = node.spread[i].trace();
      for (int j = 0; j < 3; ++j) turn += 2.0 * node.spread[j](j, i);
      far.turn[i] = static_cast<float>(turn);
    }
    far.radius = node.radius;
    far.moment[3] = static_cast<float>(node.moment(0, 1) + node.moment(1, 0));
    far.moment[4] = static_cast<float>(node.moment(0, 2) + node.moment(2, 0));
    far.moment[5] = static_cast<float>(node.moment(1, 2) + node.moment(2, 1));
    std::array<double, 10> spread{};
    for (int i = 0; i < 3; ++i) {
      for (int j = 0; j < 3; ++j) {
        for (int k = 0; k < 3; ++k) spread[product(i, j, k)] += node.spread[i](j, k);
      }
    }
    for (int m = 0; m < 10; ++m) far.spread[m] = static_cast<float>(spread[m]);
    far.second = node.leaf ? 0 : node.last;
    far.fan = node.leaf ? static_cast<std::uint32_t>(fans_.size()) : kNone;
    if (node.leaf) fans_.push_back(Fan{node.apex, node.first, node.last});
    far_.push_back(far);
    weights_.push_back(node.weight);
    boxes_.push_back(node.box);
  }
}

// Halves the leaves across the longest side of their centres'; an inner
// node's centre is its children's weighted by their triangles' areas.
std::uint32_t RimCaps::build(std::vector<Node>& leaves, std::vector<Node>& nodes, std::size_t begin, std::size_t end) {
  const auto at = static_cast<std::uint32_t>(nodes.size());
  if (end - begin == 1) {
    nodes.push_back(leaves[begin]);
    return at;
  }
  Eigen::AlignedBox3d box;
  for (std::size_t k = begin; k < end; ++k) box.extend(leaves[k].centre);
  int axis = 0;
  box.sizes().maxCoeff(&axis);
  const std::size_t middle = begin + (end - begin) / 2;
  std::nth_element(leaves.begin() + begin, leaves.begin() + middle, leaves.begin() + end,
                   [axis](const Node& a, const Node& b) { return a.centre[axis] < b.centre[axis]; });
  nodes.emplace_back();
  build(leaves, nodes, begin, middle);
  const std::uint32_t second = build(leaves, nodes, middle, end);
  Node& node = nodes[at];
  const Node& a = nodes[at + 1];
  const Node& b = nodes[second];
  node.leaf = false;
  node.last = second;
  node.box = a.box.merged(b.box);
  node.weight = a.weight + b.weight;
  node.vector_area = a.vector_area + b.vector_area;
  node.centre = node.weight > 0.0 ? Eigen::Vector3d((a.weight * a.centre + b.weight * b.centre) / node.weight)
                                  : Eigen::Vector3d(0.5 * (a.centre + b.centre));
  node.radius = std::max((a.centre - node.centre).norm() + a.radius, (b.centre - node.centre).norm() + b.radius);
  node.moment.setZero();
  for (int i = 0; i < 3; ++i) node.spread[i].setZero();
  // Each child's moments moved to the node's centre.
  for (const Node* child : {&a, &b}) {
    const Eigen::Vector3d shift = child->centre - node.centre;
    node.moment += child->moment + child->vector_area * shift.transpose();
    for (int i = 0; i < 3; ++i) {
      const Eigen::Vector3d mean = child->moment.row(i).transpose();
      node.spread[i] += child->spread[i] + mean * shift.transpose() + shift * mean.transpose() +
                        child->vector_area[i] * shift * shift.transpose();
    }
  }
  return at;
}

bool RimCaps::reaches(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges, const Eigen::Vector3d& point,
                      double least, bool magnitude) const {
  const auto measure = [magnitude](double w) { return magnitude ? std::abs(w) : w; };
  const double rough = measure(winding(points, cap_edges, point, true));
  if (std::abs(rough - least) > kRoughMargin) return rough >= least;
  return measure(winding(points, cap_edges, point)) >= least;
}

bool RimCaps::allFartherThan(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges,
                             const Eigen::Vector3d& point, double distance) const {
  const auto apart = [&](std::uint32_t index) { return boxes_[index].exteriorDistance(point); };
  bool farther = true;
  // One triangle within the distance ends the search, so the nearer child is searched first.
  walk(
      [&](std::uint32_t index, const Far& node) {
        if (apart(index) >= distance) return Step::kSkip;
        if (node.fan == kNone) return Step::kOpen;
        const Fan& fan = fans_[node.fan];
        for (std::uint32_t edge = fan.first; edge < fan.last && farther; ++edge) {
          farther =
              distanceToTriangle(point, fan.apex, points[cap_edges[edge][0]], points[cap_edges[edge][1]]) >= distance;
        }
        return farther ? Step::kSkip : Step::kStop;
      },
      [&](std::uint32_t first, std::uint32_t second) { return apart(second) < apart(first); });
  return farther;
}

bool RimCaps::boundedBelow(const Eigen::Vector3d& centre, double radius, double limit) const {
  // Solid angles, and a node taken whole where it spans this share of the limit at most.
  const double most = 4.0 * M_PI * limit;
  const double node_share = 1.0 / 16.0;
  double spanned = 0.0;
  walk([&](std::uint32_t index, const Far& node) {
    const double apart =
        (Eigen::Vector3d(node.centre[0], node.centre[1], node.centre[2]) - centre).norm() - radius - node.radius;
    const double at_most = apart > 0.0 ? weights_[index] / (apart * apart) : std::numeric_limits<double>::infinity();
    if (!(at_most <= node_share * most) && node.fan == kNone) return Step::kOpen;
    spanned += at_most;
    return spanned < most ? Step::kSkip : Step::kStop;
  });
  return spanned < most;
}

double RimCaps::winding(const std::vector<Eigen::Vector3d>& points, const Edges& cap_edges,
                        const Eigen::Vector3d& point, bool rough) const {
  const double node_radii = rough ? kRoughNodeRadii : kFarNodeRadii;
  double angle = 0.0;
  walk([&](std::uint32_t, const Far& node) {
    const double x = node.centre[0] - point.x(), y = node.centre[1] - point.y(), z = node.centre[2] - point.z();
    const double square = x * x + y * y + z * z;
    // Roughly, a cap's own vector area and moments stand for it as a node's do for its caps.
    const double reach = (node.fan == kNone ? node_radii : rough ? kFarNodeRadii : kFarCapRadii) * node.radius;
    if (square > reach * reach) {
      // Each fan triangle's term taken at the node's centre, with its change
      // over the triangle to first and second order.
      const double distance = std::sqrt(square), cube = square * distance;
      const float* m = node.moment;
      const float* s = node.spread;
      const double dipole = node.area[0] * x + node.area[1] * y + node.area[2] * z;
      const double quadratic = m[0] * x * x + m[1] * y * y + m[2] * z * z + m[3] * x * y + m[4] * x * z + m[5] * y * z;
      const double first = (m[0] + m[1] + m[2]) - 3.0 * quadratic / square;
      const double cubic = x * (x * (s[0] * x + s[1] * y + s[2] * z) + y * (s[3] * y + s[4] * z) + s[5] * z * z) +
                           y * y * (s[6] * y + s[7] * z) + z * z * (s[8] * y + s[9] * z);
      const double turned = node.turn[0] * x + node.turn[1] * y + node.turn[2] * z;
      const double second = 0.5 * (15.0 * cubic / (square * square) - 3.0 * turned / square);
      angle += (dipole + first + second) / cube;
    } else if (node.fan != kNone) {
      const Fan& fan = fans_[node.fan];
      const Eigen::Vector3d apex = fan.apex - point;
      for (std::uint32_t edge = fan.first; edge < fan.last; ++edge) {
        angle += solidAngle(apex, points[cap_edges[edge][0]] - point, points[cap_edges[edge][1]] - point);
      }
    } else {
      return Step::kOpen;
    }
    return Step::kSkip;
  });
  return angle / (4.0 * M_PI);
}

double capWinding(const std::vector<Eigen::Vector3d>& points, const RimCaps& caps,
                  const std::vector<std::array<std::uint32_t, 2>>& cap_edges, const Eigen::Vector3d& point) {
  return caps.winding(points, cap_edges, point);
}

}  // namespace internal
}  // namespace bramlock
