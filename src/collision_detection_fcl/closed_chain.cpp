#include "closed_chain.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <utility>

namespace bramlock {
namespace internal {

namespace {

// Vertices this close, as a share of the longest side, are one vertex.
constexpr double kWeldShare = 1e-6;
// Beyond this many radii a cap's winding number is its vector area's.
constexpr double kFarCapRadii = 8.0;
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

}  // namespace

double coneVolume(const std::vector<Eigen::Vector3d>& points, const Corners& corners, const Eigen::Vector3d& centre) {
  const Eigen::Vector3d a = points[corners[0]] - centre;
  return a.dot((points[corners[1]] - centre).cross(points[corners[2]] - centre));
}

double weldReach(const Eigen::AlignedBox3d& bounds) {
  const double longest = bounds.sizes().maxCoeff();
  const double largest = std::max(bounds.min().cwiseAbs().maxCoeff(), bounds.max().cwiseAbs().maxCoeff());
  return kWeldShare * longest + 4.0 * std::numeric_limits<double>::epsilon() * largest;
}

// Vertices are binned in cubes of many welding distances; a vertex looks
// into its own bin and, where it lies within the welding distance of a bin's
// face, into the neighbours across it.
std::vector<std::uint32_t> weldedVertices(const std::vector<Eigen::Vector3d>& points,
                                          const std::vector<Corners>& triangles, const Eigen::AlignedBox3d& bounds,
                                          double reach) {
  const Eigen::Vector3d low = bounds.min();
  const double bin = reach > 0.0 ? 64.0 * reach : 1.0;
  constexpr int kBitsPerAxis = 21;
  constexpr std::int64_t kLastBin = (1 << kBitsPerAxis) - 1;
  using BinIndex = std::array<std::int64_t, 3>;
  const auto binOf = [&](const Eigen::Vector3d& p) {
    BinIndex index;
    for (int axis = 0; axis < 3; ++axis) {
      index[axis] =
          std::clamp(static_cast<std::int64_t>(std::floor((p[axis] - low[axis]) / bin)), std::int64_t{0}, kLastBin);
    }
    return index;
  };
  const auto keyOf = [](const BinIndex& index) {
    return static_cast<std::uint64_t>(index[0] | index[1] << kBitsPerAxis | index[2] << (2 * kBitsPerAxis));
  };
  std::vector<bool> used(points.size(), false);
  for (const Corners& corners : triangles) {
    for (const std::uint32_t vertex : corners) used[vertex] = true;
  }
  std::vector<std::pair<std::uint64_t, std::uint32_t>> binned;
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) {
    if (used[vertex]) binned.emplace_back(keyOf(binOf(points[vertex])), vertex);
  }
  std::sort(binned.begin(), binned.end());
  Roots roots(points.size());
  const auto weldIfNear = [&](std::uint32_t a, std::uint32_t b) {
    if ((points[a] - points[b]).cwiseAbs().maxCoeff() <= reach) roots.join(a, b);
  };
  const auto weldWithBin = [&](std::uint32_t vertex, std::uint64_t key) {
    auto other = std::lower_bound(binned.begin(), binned.end(), std::make_pair(key, std::uint32_t{0}));
    for (; other != binned.end() && other->first == key; ++other) weldIfNear(vertex, other->second);
  };
  std::size_t run = 0;
  for (std::size_t k = 0; k < binned.size(); ++k) {
    const auto [key, vertex] = binned[k];
    if (binned[run].first != key) run = k;
    for (std::size_t earlier = run; earlier < k; ++earlier) weldIfNear(vertex, binned[earlier].second);
    // The neighbouring bins within reach: per axis the step (-1, 0 or +1) across a near face.
    const BinIndex near_low = binOf(points[vertex] - Eigen::Vector3d::Constant(reach));
    const BinIndex near_high = binOf(points[vertex] + Eigen::Vector3d::Constant(reach));
    if (near_low == near_high) continue;
    BinIndex index;
    for (index[2] = near_low[2]; index[2] <= near_high[2]; ++index[2]) {
      for (index[1] = near_low[1]; index[1] <= near_high[1]; ++index[1]) {
        for (index[0] = near_low[0]; index[0] <= near_high[0]; ++index[0]) {
          if (keyOf(index) != key) weldWithBin(vertex, keyOf(index));
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

RimCap rimCapOf(const std::vector<Eigen::Vector3d>& points, const OpenEdge* first, const OpenEdge* last) {
  Eigen::Vector3d sum = Eigen::Vector3d::Zero();
  double count = 0.0;
  for (const OpenEdge* edge = first; edge != last; ++edge) {
    sum += edge->times * points[edge->from];
    count += edge->times;
  }
  RimCap cap;
  cap.apex = sum / count;
  cap.vector_area.setZero();
  for (const OpenEdge* edge = first; edge != last; ++edge) {
    const Eigen::Vector3d from = points[edge->from] - cap.apex, to = points[edge->to] - cap.apex;
    cap.vector_area += 0.5 * edge->times * from.cross(to);
    cap.radius = std::max(cap.radius, from.norm());
  }
  return cap;
}

// Each rim is capped by a fan from its centroid, which the closed surface
// takes wound against the rim. A rim no wider than `reach` (the slit a
// T-junction or a crack leaves) caps nothing a point away from it could see:
// its cap's own winding number is left out.
ClosedChain closedChainOf(const std::vector<Eigen::Vector3d>& points, std::vector<Corners> triangles,
                          std::vector<OpenEdge> open, double reach) {
  ClosedChain chain;
  chain.points = points;
  chain.triangles = std::move(triangles);
  const std::vector<std::size_t> starts = sortIntoRims(open);
  for (std::size_t rim = 0; rim + 1 < starts.size(); ++rim) {
    const OpenEdge* first = open.data() + starts[rim];
    const OpenEdge* last = open.data() + starts[rim + 1];
    RimCap cap = rimCapOf(chain.points, first, last);
    const auto apex = static_cast<std::uint32_t>(chain.points.size());
    const std::size_t first_edge = chain.cap_edges.size();
    double length = 0.0;
    for (const OpenEdge* edge = first; edge != last; ++edge) {
      length += edge->times * (chain.points[edge->to] - chain.points[edge->from]).norm();
      for (std::uint32_t time = 0; time < edge->times; ++time) {
        chain.cap_edges.push_back({edge->from, edge->to});
        chain.triangles.push_back({apex, edge->to, edge->from});
      }
    }
    chain.points.push_back(cap.apex);
    if (!(cap.vector_area.norm() > reach * length)) {
      chain.cap_edges.resize(first_edge);
      continue;
    }
    cap.first_edge = static_cast<std::uint32_t>(first_edge);
    cap.last_edge = static_cast<std::uint32_t>(chain.cap_edges.size());
    chain.caps.push_back(cap);
  }
  return chain;
}

double solidAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c) {
  const double la = a.norm(), lb = b.norm(), lc = c.norm();
  const double spanned = a.dot(b.cross(c));
  const double below = la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la;
  return 2.0 * std::atan2(spanned, below);
}

double capWinding(const std::vector<Eigen::Vector3d>& points, const std::vector<RimCap>& caps,
                  const std::vector<std::array<std::uint32_t, 2>>& cap_edges, const Eigen::Vector3d& point) {
  double angle = 0.0;
  for (const RimCap& cap : caps) {
    const Eigen::Vector3d apex = cap.apex - point;
    const double distance = apex.norm();
    if (distance > kFarCapRadii * cap.radius) {
      angle += cap.vector_area.dot(apex) / (distance * distance * distance);
      continue;
    }
    for (std::uint32_t edge = cap.first_edge; edge < cap.last_edge; ++edge) {
      angle += solidAngle(apex, points[cap_edges[edge][0]] - point, points[cap_edges[edge][1]] - point);
    }
  }
  return angle / (4.0 * M_PI);
}

}  // namespace internal
}  // namespace bramlock
