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

// Each triangle's edges listed under their lower vertex and sorted by the
// upper one, so that the triangles around an edge stand side by side.
class EdgeTable {
 public:
  struct Entry {
    std::uint32_t upper;
    std::uint32_t face;
  };

  EdgeTable(const std::vector<Corners>& faces, std::size_t vertex_count) : first_(vertex_count + 1, 0) {
    for (const Corners& corners : faces) {
      for (int k = 0; k < 3; ++k) ++first_[std::min(corners[k], corners[(k + 1) % 3]) + 1];
    }
    std::partial_sum(first_.begin(), first_.end(), first_.begin());
    entries_.resize(first_.back());
    std::vector<std::uint32_t> filled(first_.begin(), first_.end() - 1);
    for (std::uint32_t face = 0; face < faces.size(); ++face) {
      const Corners& corners = faces[face];
      for (int k = 0; k < 3; ++k) {
        const std::uint32_t a = corners[k], b = corners[(k + 1) % 3];
        entries_[filled[std::min(a, b)]++] = Entry{std::max(a, b), face};
      }
    }
    const auto before = [](const Entry& a, const Entry& b) {
      return a.upper < b.upper || (a.upper == b.upper && a.face < b.face);
    };
    for (std::size_t vertex = 0; vertex + 1 < first_.size(); ++vertex) {
      std::sort(entries_.begin() + first_[vertex], entries_.begin() + first_[vertex + 1], before);
    }
  }

  // visit(lower, upper, first, last) for every edge, with the entries of its triangles.
  template <typename Visit>
  void forEachEdge(const Visit& visit) const {
    for (std::uint32_t lower = 0; lower + 1 < first_.size(); ++lower) {
      const Entry* end = entries_.data() + first_[lower + 1];
      for (const Entry* run = entries_.data() + first_[lower]; run != end;) {
        const Entry* past = run;
        while (past != end && past->upper == run->upper) ++past;
        visit(lower, run->upper, run, past);
        run = past;
      }
    }
  }

 private:
  std::vector<std::uint32_t> first_;
  std::vector<Entry> entries_;
};

using Entry = EdgeTable::Entry;

// +1 where the triangle runs along its edge from `lower` to `upper`, -1 the other way.
int direction(const Corners& corners, std::uint32_t lower, std::uint32_t upper) {
  for (int k = 0; k < 3; ++k) {
    if (corners[k] == lower && corners[(k + 1) % 3] == upper) return 1;
  }
  return -1;
}

std::uint32_t thirdCorner(const Corners& corners, std::uint32_t a, std::uint32_t b) {
  for (const std::uint32_t corner : corners) {
    if (corner != a && corner != b) return corner;
  }
  return a;
}

// Whether two of the triangles around an edge share their third corner: copies of one triangle.
bool sharesThirdCorner(const std::vector<Corners>& faces, std::uint32_t lower, std::uint32_t upper, const Entry* first,
                       const Entry* last) {
  if (last - first < 2) return false;
  if (last - first == 2) {
    return thirdCorner(faces[first->face], lower, upper) == thirdCorner(faces[(first + 1)->face], lower, upper);
  }
  std::vector<std::uint32_t> thirds;
  for (const Entry* entry = first; entry != last; ++entry) {
    thirds.push_back(thirdCorner(faces[entry->face], lower, upper));
  }
  std::sort(thirds.begin(), thirds.end());
  return std::adjacent_find(thirds.begin(), thirds.end()) != thirds.end();
}

// An edge its triangles do not simply close: they run along it more often
// one way than the other, or two of them are copies of one triangle. Only
// such an edge can be left open or meet a copy; every other edge stays
// closed whatever is turned or cancelled, since its triangles turn together
// and none of them is a copy.
struct TangledEdge {
  std::uint32_t lower;
  std::uint32_t upper;
  std::uint32_t first;  // its triangles: faces[first, last) of the survey's list
  std::uint32_t last;
  int net;  // as the triangles were wound before turning
};

// The parts (triangles joined through shared edges) and the tangled edges
// with their triangles, in one pass over the edges.
struct EdgeSurvey {
  explicit EdgeSurvey(std::size_t face_count) : parts(face_count) {}
  Roots parts;
  std::vector<TangledEdge> tangled;
  std::vector<std::uint32_t> faces;
};

EdgeSurvey surveyEdges(const std::vector<Corners>& faces, std::size_t vertex_count) {
  EdgeSurvey survey(faces.size());
  const EdgeTable edges(faces, vertex_count);
  edges.forEachEdge([&](std::uint32_t lower, std::uint32_t upper, const Entry* first, const Entry* last) {
    int net = 0;
    for (const Entry* entry = first; entry != last; ++entry) {
      survey.parts.join(first->face, entry->face);
      net += direction(faces[entry->face], lower, upper);
    }
    if (net == 0 && !sharesThirdCorner(faces, lower, upper, first, last)) return;
    const auto listed = static_cast<std::uint32_t>(survey.faces.size());
    for (const Entry* entry = first; entry != last; ++entry) survey.faces.push_back(entry->face);
    survey.tangled.push_back(TangledEdge{lower, upper, listed, static_cast<std::uint32_t>(survey.faces.size()), net});
  });
  return survey;
}

// What turns as one: a part that is closed on its own turns alone, so a
// cavity touching its shell at a vertex is turned apart from it; parts with
// open edges (a T-junction's slit, a flipped or doubled triangle) turn with
// the open parts they share a vertex with. Each unit is named by one of its
// triangles.
std::vector<std::uint32_t> turningUnits(const std::vector<Corners>& faces, std::size_t vertex_count,
                                        EdgeSurvey& survey) {
  Roots& parts = survey.parts;
  std::vector<std::uint32_t> unit(faces.size());
  std::vector<char> open(faces.size(), 0);
  bool any_open = false;
  for (const TangledEdge& edge : survey.tangled) {
    if (edge.net == 0) continue;
    open[parts.of(survey.faces[edge.first])] = 1;
    any_open = true;
  }
  if (!any_open) {
    for (std::uint32_t face = 0; face < faces.size(); ++face) unit[face] = parts.of(face);
    return unit;
  }
  Roots groups(vertex_count);
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (!open[parts.of(face)]) continue;
    groups.join(faces[face][0], faces[face][1]);
    groups.join(faces[face][0], faces[face][2]);
  }
  std::vector<std::uint32_t> group_face(vertex_count, kNone);
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    const std::uint32_t part = parts.of(face);
    if (!open[part]) {
      unit[face] = part;
      continue;
    }
    std::uint32_t& named = group_face[groups.of(faces[face][0])];
    if (named == kNone) named = face;
    unit[face] = named;
  }
  return unit;
}

// Turns each unit whose signed volume is negative, taken about the mesh's
// centre so that far meshes keep their precision.
void turnOutwards(const std::vector<Eigen::Vector3d>& points, std::vector<Corners>& faces, EdgeSurvey& survey,
                  const Eigen::Vector3d& centre) {
  const std::vector<std::uint32_t> unit = turningUnits(faces, points.size(), survey);
  std::vector<double> volume(faces.size(), 0.0);
  for (std::size_t face = 0; face < faces.size(); ++face) volume[unit[face]] += coneVolume(points, faces[face], centre);
  for (std::size_t face = 0; face < faces.size(); ++face) {
    if (volume[unit[face]] < 0.0) std::swap(faces[face][1], faces[face][2]);
  }
}

// Triangles on the same three vertices are one triangle, wound as most of
// them are; copies facing apart in equal numbers (a wall two closed parts
// share) cancel. Tells which triangles are left out.
std::vector<char> cancelRepeats(std::vector<Corners>& faces, const EdgeSurvey& survey) {
  std::vector<char> cancelled(faces.size(), 0);
  std::vector<std::pair<std::uint32_t, std::uint32_t>> thirds;  // (third corner, triangle)
  // Each set of copies meets once, at the edge of its two lower corners.
  for (const TangledEdge& edge : survey.tangled) {
    if (edge.last - edge.first < 2) continue;
    thirds.clear();
    for (std::uint32_t k = edge.first; k < edge.last; ++k) {
      const std::uint32_t third = thirdCorner(faces[survey.faces[k]], edge.lower, edge.upper);
      if (third > edge.upper) thirds.emplace_back(third, survey.faces[k]);
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
    }
  }
  return cancelled;
}

// An edge the mended triangles leave open, `times` over, run from `from` to `to`.
struct OpenEdge {
  std::uint32_t from;
  std::uint32_t to;
  std::uint32_t times;
};

std::vector<OpenEdge> openEdges(const std::vector<Corners>& faces, const std::vector<char>& cancelled,
                                const EdgeSurvey& survey) {
  std::vector<OpenEdge> open;
  for (const TangledEdge& edge : survey.tangled) {
    int net = 0;
    for (std::uint32_t k = edge.first; k < edge.last; ++k) {
      const std::uint32_t face = survey.faces[k];
      if (!cancelled[face]) net += direction(faces[face], edge.lower, edge.upper);
    }
    if (net > 0) open.push_back(OpenEdge{edge.lower, edge.upper, static_cast<std::uint32_t>(net)});
    if (net < 0) open.push_back(OpenEdge{edge.upper, edge.lower, static_cast<std::uint32_t>(-net)});
  }
  return open;
}

// Open edges that meet rim one hole; each rim is capped by a fan from its
// centroid, which the closed surface takes wound against the rim. A rim no
// wider than the welding distance (the slit a T-junction leaves) caps nothing
// a point away from it could see: its cap's own winding number is left out.
void capRims(ClosedChain& chain, std::vector<OpenEdge> open, double reach) {
  Roots rims(chain.points.size());
  for (const OpenEdge& edge : open) rims.join(edge.from, edge.to);
  std::sort(open.begin(), open.end(), [&rims](const OpenEdge& a, const OpenEdge& b) {
    return std::make_pair(rims.of(a.from), a.from) < std::make_pair(rims.of(b.from), b.from);
  });
  for (std::size_t begin = 0, end = 0; begin < open.size(); begin = end) {
    const std::uint32_t rim = rims.of(open[begin].from);
    Eigen::Vector3d sum = Eigen::Vector3d::Zero();
    double count = 0.0;
    for (end = begin; end < open.size() && rims.of(open[end].from) == rim; ++end) {
      sum += open[end].times * chain.points[open[end].from];
      count += open[end].times;
    }
    RimCap cap;
    cap.apex = sum / count;
    cap.vector_area.setZero();
    const auto apex = static_cast<std::uint32_t>(chain.points.size());
    const std::size_t first_edge = chain.cap_edges.size();
    double length = 0.0;
    for (std::size_t k = begin; k < end; ++k) {
      const OpenEdge& edge = open[k];
      const Eigen::Vector3d from = chain.points[edge.from] - cap.apex, to = chain.points[edge.to] - cap.apex;
      cap.vector_area += 0.5 * edge.times * from.cross(to);
      cap.radius = std::max(cap.radius, from.norm());
      length += edge.times * (to - from).norm();
      for (std::uint32_t time = 0; time < edge.times; ++time) {
        chain.cap_edges.push_back({edge.from, edge.to});
        chain.triangles.push_back({apex, edge.to, edge.from});
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
}

// The solid angle of the triangle (corners relative to the point it is seen
// from), signed positive from behind it (Van Oosterom and Strackee).
double solidAngle(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c) {
  const double la = a.norm(), lb = b.norm(), lc = c.norm();
  const double spanned = a.dot(b.cross(c));
  const double below = la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la;
  return 2.0 * std::atan2(spanned, below);
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

ClosedChain closedChainOf(const std::vector<Eigen::Vector3d>& points, std::vector<Corners> welded_triangles,
                          const Eigen::Vector3d& centre, double reach) {
  std::vector<Corners>& faces = welded_triangles;
  faces.erase(std::remove_if(faces.begin(), faces.end(),
                             [](const Corners& c) { return c[0] == c[1] || c[1] == c[2] || c[2] == c[0]; }),
              faces.end());
  ClosedChain chain;
  std::vector<OpenEdge> open;
  {
    // The table of edges goes before the turning, which needs room of its own.
    EdgeSurvey survey = surveyEdges(faces, points.size());
    turnOutwards(points, faces, survey, centre);
    const std::vector<char> cancelled = cancelRepeats(faces, survey);
    open = openEdges(faces, cancelled, survey);
    std::size_t kept = 0;
    for (std::size_t face = 0; face < faces.size(); ++face) {
      if (!cancelled[face]) faces[kept++] = faces[face];
    }
    faces.resize(kept);
  }
  for (const Corners& c : faces) {
    chain.area += 0.5 * (points[c[1]] - points[c[0]]).cross(points[c[2]] - points[c[0]]).norm();
  }
  chain.points = points;
  chain.triangles = std::move(faces);
  capRims(chain, std::move(open), reach);
  return chain;
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
