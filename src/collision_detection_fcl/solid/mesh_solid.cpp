// MeshSolid: from raw triangles through the mending to a closed surface, the
// division of its bounding cube, and the point queries.
#include "mesh_solid.h"

#include <malloc.h>

#include <algorithm>
#include <cmath>
#include <exception>
#include <iterator>
#include <limits>
#include <memory>
#include <numeric>
#include <optional>
#include <utility>

#include "common/roots.h"
#include "common/shared_work.h"
#include "exact_sign.h"

namespace bramlock {
namespace internal {

namespace {

// A cube listing more triangles than this is divided, so a point meets only
// a handful of triangles wherever it lies.
constexpr std::size_t kMostLeafTriangles = 16;
// Where many triangles share a vertex no division parts them: a cube whose
// triangles, up to this many, would all go to one child is not divided, and
// the depth is bounded (a millionth of the bounding cube).
constexpr std::size_t kMostUnparted = 64;
constexpr int kDeepest = 20;
// Meshes this large are divided on several threads.
constexpr std::size_t kTrianglesWorthThreads = 100000;
// The written triangles clearly enclose a point they wind about at least
// this much either way, and leave out one they wind about less than this,
// a centimetre or more from every one of them.
constexpr double kClearlyInside = 0.9;
constexpr double kClearlyOutside = 0.1;
constexpr double kClearance = 0.01;
// Caps whose winding number stays below this change no answer: the closed
// surface's is whole.
constexpr double kCapsChangeNothing = 0.4;
// What was found of a cube, once asked.
constexpr std::uint8_t kUnknown = 0;
constexpr std::uint8_t kHolds = 1;
constexpr std::uint8_t kFails = 2;
// Coordinates beyond this leave no room for exact products: no inside.
constexpr double kFarthestCoordinate = 1e15;
// A few disagreeing centres come from a few misturned triangles; many, from
// a mesh with no consistent inside.
constexpr double kMostDisagreement = 0.05;
// A part whose six-fold volume is at most this times its area to the power
// 1.5 encloses nothing: a sheet bent by a millionth of its width at most.
constexpr double kFlatVolume = 1e-6;
// The largest opening, as a share of the surface's area.
constexpr double kMostOpening = 0.01;
// A closed surface enclosing less than this share of its bounding cube
// encloses nothing (a plate capped by itself).
constexpr double kLeastVolume = 1e-9;
// A cube most of whose triangles are this many of its sides long is not
// divided: the division would list them again in every child they cross
// without parting them (the spokes of a fan, the slivers of a cylinder).
constexpr double kLongTriangleSides = 2.0;
// A point in a cube listing more triangles than this (the apex of a large
// fan, a band of slivers) meets only those a tree over the cube's lists.
constexpr std::size_t kMostScannedTriangles = 32;
// Judged on this many of a cube's triangles, the first it lists.
constexpr std::size_t kLongSample = 64;
// Points exactly on a face, edge or vertex count as moved a vanishing step
// this way: a direction along no axis, plane or diagonal meshes are drawn with.
const Eigen::Vector3d kNudge(1.0, 0.6180339887498949, 0.4142135623730950);

// Which side of the edge p->q the point r lies on, seen along the axis: +1
// or -1, and exactly the opposite for q->p, so the two triangles of a shared
// edge never both claim, nor both miss, a line through it.
int sideOf(const Eigen::Vector3d& p, const Eigen::Vector3d& q, double ru, double rv, int u, int v) {
  const int side = orientation2d(p[u], p[v], q[u], q[v], ru, rv);
  if (side != 0) return side;
  const int nudged = signOf((q[u] - p[u]) * kNudge[v] - (q[v] - p[v]) * kNudge[u]);
  if (nudged != 0) return nudged;
  return q[u] > p[u] || (q[u] == p[u] && q[v] > p[v]) ? 1 : -1;
}

// A triangle's extent along the axes that can separate it from axis-aligned
// cubes (its normal, and each edge crossed with each cube axis), taken once
// for all the children of a cube.
class SeparatingAxes {
 public:
  SeparatingAxes(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                 const Eigen::Vector3d& origin) {
    const Eigen::Vector3d v[3] = {a - origin, b - origin, c - origin};
    const Eigen::Vector3d edges[3] = {v[1] - v[0], v[2] - v[1], v[0] - v[2]};
    axes_[0] = edges[0].cross(edges[1]);
    for (int edge = 0; edge < 3; ++edge) {
      for (int axis = 0; axis < 3; ++axis) axes_[1 + 3 * edge + axis] = Eigen::Vector3d::Unit(axis).cross(edges[edge]);
    }
    for (int k = 0; k < kAxes; ++k) {
      const double p0 = axes_[k].dot(v[0]), p1 = axes_[k].dot(v[1]), p2 = axes_[k].dot(v[2]);
      low_[k] = std::min({p0, p1, p2});
      high_[k] = std::max({p0, p1, p2});
      length_[k] = axes_[k].cwiseAbs().sum();
    }
  }
  // Whether the triangle meets the cube (centre relative to the origin, half
  // side), grown a little against rounding.
  bool meetCube(const Eigen::Vector3d& centre, double half) const {
    for (int k = 0; k < kAxes; ++k) {
      const double at = axes_[k].dot(centre);
      const double reach = (half * (1.0 + 1e-9) + 1e-12) * length_[k];
      if (low_[k] - at > reach || high_[k] - at < -reach) return false;
    }
    return true;
  }

 private:
  static constexpr int kAxes = 10;
  std::array<Eigen::Vector3d, kAxes> axes_;
  std::array<double, kAxes> low_, high_, length_;
};

// Whether the box reaches, along two axes or more, one of the planes at the
// cube's centre or a quarter side off it, on which the routes to its
// children's centres run: a box that does not meets no route line.
bool reachesTwoRoutePlanes(const Eigen::Vector3d& cube_centre, double half, const Eigen::Vector3d& low,
                           const Eigen::Vector3d& high) {
  const double quarter = 0.5 * half;
  int axes = 0;
  for (int axis = 0; axis < 3; ++axis) {
    const double centre = cube_centre[axis];
    const bool reaches = (low[axis] <= centre - quarter && high[axis] >= centre - quarter) ||
                         (low[axis] <= centre && high[axis] >= centre) ||
                         (low[axis] <= centre + quarter && high[axis] >= centre + quarter);
    axes += reaches;
  }
  return axes >= 2;
}

// The sign a child lies at from its parent's centre along an axis.
int childSign(int child, int axis) { return (child >> axis) & 1 ? 1 : -1; }

// The segments of the three routes from a cube's centre to its children's:
// along x, y, z; along y, z, x; along z, x, y. A segment along an axis runs
// from the parent's coordinate to the child's, on a line whose other two
// coordinates are offset by -1, 0 or +1 quarter sides; per axis and pair of
// offsets, the (child, route) pairs whose route runs on that line.
struct RouteStep {
  int child;
  int route;
};
using RouteLines = std::array<std::array<std::array<std::vector<RouteStep>, 3>, 3>, 3>;

RouteLines makeRouteLines() {
  RouteLines lines;
  for (int child = 0; child < 8; ++child) {
    for (int route = 0; route < 3; ++route) {
      for (int step = 0; step < 3; ++step) {
        const int axis = (route + step) % 3;
        const auto offset = [&](int other) {
          const int moved_before = (other - route + 3) % 3 < step;
          return moved_before ? childSign(child, other) + 1 : 1;
        };
        lines[axis][offset((axis + 1) % 3)][offset((axis + 2) % 3)].push_back({child, route});
      }
    }
  }
  return lines;
}

const RouteLines& routeLines() {
  static const RouteLines lines = makeRouteLines();
  return lines;
}

double triangleArea(const std::vector<Eigen::Vector3d>& points, const Corners& c) {
  return 0.5 * (points[c[1]] - points[c[0]]).cross(points[c[2]] - points[c[0]]).norm();
}

// Whether the segment from p to q meets the triangle, edges included.
bool segmentMeets(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                  const Eigen::Vector3d& p, const Eigen::Vector3d& q) {
  constexpr double kSlack = 1e-9;
  const Eigen::Vector3d along = q - p, ab = b - a, ac = c - a;
  const Eigen::Vector3d h = along.cross(ac);
  const double det = ab.dot(h);
  if (std::abs(det) <= std::numeric_limits<double>::min()) return false;
  const Eigen::Vector3d s = p - a;
  const double u = s.dot(h) / det;
  if (u < -kSlack || u > 1.0 + kSlack) return false;
  const Eigen::Vector3d sab = s.cross(ab);
  const double v = along.dot(sab) / det;
  if (v < -kSlack || u + v > 1.0 + kSlack) return false;
  const double t = ac.dot(sab) / det;
  return t >= 0.0 && t <= 1.0;
}

// Whether a triangle kept lies across the cap's apex, within the step its
// sides are judged at.
bool capIsCovered(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                  const std::vector<char>& left_out, const RimCap& cap) {
  const double opened = cap.vector_area.norm();
  const Eigen::Vector3d step = 1e-3 * std::sqrt(opened) * cap.vector_area / opened;
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    const Corners& c = faces[face];
    if (!left_out[face] && segmentMeets(points[c[0]], points[c[1]], points[c[2]], cap.apex - step, cap.apex + step)) {
      return true;
    }
  }
  return false;
}

void renumber(std::vector<Corners>& faces, const std::vector<std::uint32_t>& to) {
  for (Corners& corners : faces) {
    for (std::uint32_t& vertex : corners) vertex = to[vertex];
  }
}

// Each triangle's corners in increasing order, with how many more times it
// is written that way than the other way round; those written as often both
// ways are left out.
std::vector<std::pair<Corners, int>> netTriangles(const std::vector<Corners>& faces,
                                                  const std::vector<char>& left_out) {
  std::vector<std::pair<Corners, int>> net;
  for (std::size_t face = 0; face < faces.size(); ++face) {
    if (left_out[face]) continue;
    Corners sorted = faces[face];
    std::sort(sorted.begin(), sorted.end());
    // An even permutation of the sorted corners runs the same way round.
    const Corners& c = faces[face];
    const bool even = (c[0] < c[1]) + (c[1] < c[2]) + (c[2] < c[0]) == 2;
    net.emplace_back(sorted, even ? 1 : -1);
  }
  std::sort(net.begin(), net.end());
  std::size_t kept = 0;
  for (std::size_t begin = 0, end = 0; begin < net.size(); begin = end) {
    int sum = 0;
    for (end = begin; end < net.size() && net[end].first == net[begin].first; ++end) sum += net[end].second;
    if (sum != 0) net[kept++] = {net[begin].first, sum};
  }
  net.resize(kept);
  return net;
}

// The written triangles less the mended ones (those not left out): each
// triangle as often as it is written more times, net, one way round than
// it is kept, wound that way. Nothing where the mending changed no winding,
// as where it cancelled copies facing apart.
std::vector<Corners> netDifference(const std::vector<Corners>& written, const std::vector<Corners>& faces,
                                   const std::vector<char>& left_out) {
  const bool kept_all = std::find(left_out.begin(), left_out.end(), 1) == left_out.end();
  if (kept_all && faces == written) return {};
  std::vector<std::pair<Corners, int>> nets = netTriangles(written, std::vector<char>(written.size(), 0));
  for (auto [corners, net] : netTriangles(faces, left_out)) nets.emplace_back(corners, -net);
  std::sort(nets.begin(), nets.end());
  std::vector<Corners> difference;
  for (std::size_t begin = 0, end = 0; begin < nets.size(); begin = end) {
    int net = 0;
    for (end = begin; end < nets.size() && nets[end].first == nets[begin].first; ++end) net += nets[end].second;
    const Corners& c = nets[begin].first;
    difference.insert(difference.end(), std::abs(net), net > 0 ? c : Corners{c[0], c[2], c[1]});
  }
  return difference;
}

// The triangles whose corners are three vertices.
std::vector<Corners> withArea(const std::vector<Corners>& faces) {
  std::vector<Corners> kept;
  kept.reserve(faces.size());
  std::copy_if(faces.begin(), faces.end(), std::back_inserter(kept),
               [](const Corners& c) { return c[0] != c[1] && c[1] != c[2] && c[2] != c[0]; });
  return kept;
}

}  // namespace

MeshSolid::MeshSolid(const std::vector<Eigen::Vector3d>& points, const std::vector<fcl::Triangle>& triangles,
                     Cavities cavities)
    : mesh_vertex_count_(points.size()), used_(points.size(), false), solid_cavities_(cavities == Cavities::kSolid) {
  std::vector<Corners> indexed;
  indexed.reserve(triangles.size());
  for (const fcl::Triangle& triangle : triangles) {
    const Corners corners{static_cast<std::uint32_t>(triangle[0]), static_cast<std::uint32_t>(triangle[1]),
                          static_cast<std::uint32_t>(triangle[2])};
    if (corners[0] < points.size() && corners[1] < points.size() && corners[2] < points.size()) {
      indexed.push_back(corners);
    }
  }
  if (indexed.empty()) return;
  for (const Corners& corners : indexed) {
    for (const std::uint32_t vertex : corners) {
      used_[vertex] = true;
      bounds_.extend(points[vertex]);
    }
  }
  if (!verticesAreUsable(points)) return;
  std::vector<std::uint32_t> welded = weldedVertices(points, indexed, bounds_, weldReach(bounds_));
  renumber(indexed, welded);
  const double reach = crackReach(bounds_);
  std::vector<Corners> faces = withArea(indexed);
  const std::vector<Corners> written = faces;
  auto edges = std::make_unique<EdgeTable>(faces, points.size());
  const std::vector<std::uint32_t> joined = crackJoinedVertices(points, faces, *edges, reach);
  if (!joined.empty()) {
    for (std::uint32_t& vertex : welded) vertex = joined[vertex];
    renumber(indexed, joined);
    faces = withArea(indexed);
    edges = std::make_unique<EdgeTable>(faces, points.size());
  }
  findPieces(points, indexed, welded);
  std::vector<Corners>().swap(indexed);
  const Parts parts = orientedParts(points, faces, *edges, cavities);
  const TangledEdges tangled(faces, *edges);
  edges.reset();
  std::vector<char> left_out = tangled.cancelRepeats(faces, &parts.of_face);
  leaveOutOpenParts(points, faces, parts, tangled, reach, left_out);
  leaveOutSheetsWithin(points, faces, parts, tangled, reach, left_out);
  std::vector<OpenEdge> open = tangled.openEdges(faces, left_out);
  const std::vector<Corners> changed = netDifference(written, faces, left_out);
  const bool changes_winding = !changed.empty() || keepsPartsInwards(points, faces, parts);
  std::size_t kept = 0;
  for (std::size_t face = 0; face < faces.size(); ++face) {
    if (!left_out[face]) faces[kept++] = faces[face];
  }
  faces.resize(kept);
  std::vector<RimCap> slit_caps;
  RimCaps::Edges slit_cap_edges;
  if (!faces.empty()) {
    ClosedChain chain = closedChainOf(points, std::move(faces), std::move(open), reach);
    slit_caps = std::move(chain.slit_caps);
    slit_cap_edges = std::move(chain.slit_cap_edges);
    adopt(std::move(chain));
    solid_ = divideBoundingCube() && enclosesVolume();
  }
  if (solid_) numberCrowdedLeaves();
  if (solid_ && !caps_.empty()) {
    for (Tree* tree : allTrees()) tree->caps_reach = std::make_unique<std::atomic<std::uint8_t>[]>(tree->nodes.size());
  }
  // Caps over rims wider than the joining reach are summed back, so open
  // edges alone change nothing; what the caps of slits leave is a change.
  if (changes_winding || !slit_caps.empty() || (!solid_ && !written.empty())) {
    guardWithWritten(points, written, changed, std::move(slit_caps), std::move(slit_cap_edges));
  }
}

MeshSolid::MeshSolid(ClosedChain chain) {
  for (const Corners& corners : chain.triangles) {
    for (const std::uint32_t vertex : corners) bounds_.extend(chain.points[vertex]);
  }
  adopt(std::move(chain));
  solid_ = !triangles_.empty() && divideBoundingCube();
}

void MeshSolid::adopt(ClosedChain chain) {
  points_ = std::move(chain.points);
  triangles_ = std::move(chain.triangles);
  caps_ = std::move(chain.caps);
  cap_edges_ = std::move(chain.cap_edges);
}

// Each used vertex, not the bounds: Eigen's minima and maxima pass over NaN,
// so a box extended by it stays as it was.
bool MeshSolid::verticesAreUsable(const std::vector<Eigen::Vector3d>& points) const {
  for (std::size_t vertex = 0; vertex < points.size(); ++vertex) {
    const Eigen::Vector3d& p = points[vertex];
    if (used_[vertex] && !(p.allFinite() && p.cwiseAbs().maxCoeff() <= kFarthestCoordinate)) return false;
  }
  return true;
}

// Pieces join at shared (welded) vertices; each keeps its lowest vertex and
// the box of all its vertices.
void MeshSolid::findPieces(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& triangles,
                           const std::vector<std::uint32_t>& welded) {
  Roots roots(mesh_vertex_count_);
  for (const Corners& corners : triangles) {
    roots.join(welded[corners[0]], welded[corners[1]]);
    roots.join(welded[corners[0]], welded[corners[2]]);
  }
  std::vector<std::uint32_t> piece_of(mesh_vertex_count_, 0);
  for (std::uint32_t vertex = 0; vertex < mesh_vertex_count_; ++vertex) {
    if (!used_[vertex]) continue;
    piece_of[vertex] = roots.of(welded[vertex]);
    if (piece_of[vertex] == welded[vertex] && welded[vertex] == vertex) piece_vertices_.push_back(vertex);
  }
  std::vector<Eigen::AlignedBox3d> boxes(piece_vertices_.size());
  for (std::uint32_t vertex = 0; vertex < mesh_vertex_count_; ++vertex) {
    if (!used_[vertex]) continue;
    const auto piece = std::lower_bound(piece_vertices_.begin(), piece_vertices_.end(), piece_of[vertex]);
    piece_of[vertex] = static_cast<std::uint32_t>(piece - piece_vertices_.begin());
    boxes[piece_of[vertex]].extend(points[vertex]);
  }
  piece_boxes_ = BoxSet(std::move(boxes));
  if (piece_vertices_.size() > 1) piece_of_vertex_ = std::move(piece_of);
}

// A closed part left wound inwards (a cavity kept hollow, or a part wound
// inwards that another was taken to hold) winds the other way than the rule counts.
bool MeshSolid::keepsPartsInwards(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                  const Parts& parts) const {
  if (solid_cavities_) return false;
  const std::vector<PartShape> shapes = partShapes(points, faces, parts);
  return std::any_of(shapes.begin(), shapes.end(), [](const PartShape& shape) { return shape.volume < 0.0; });
}

// What the written triangles clearly enclose may lie outside every piece's
// box (a box written face by face with cracks is six flat pieces): one box
// around them all is asked instead.
void MeshSolid::guardWithWritten(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& written,
                                 const std::vector<Corners>& changed, std::vector<RimCap> caps,
                                 RimCaps::Edges cap_edges) {
  piece_boxes_ = BoxSet({bounds_});
  if (!solid_) {
    written_ = std::make_unique<const WrittenWinding>(points, written);
    return;
  }
  written_ = std::make_unique<const WrittenWinding>(points_, written, changed, std::move(caps), std::move(cap_edges));
  for (Tree* tree : allTrees()) {
    tree->written_reach = std::make_unique<std::atomic<std::uint8_t>[]>(tree->nodes.size());
    tree->written_near = std::make_unique<std::atomic<std::uint8_t>[]>(tree->nodes.size());
  }
}

std::vector<Eigen::AlignedBox3d> MeshSolid::pieceBoxesMovedTo(const Eigen::Vector3d* vertices,
                                                              std::size_t count) const {
  // An inside whose every part was left out kept none of the mesh's vertices.
  if (count != mesh_vertex_count_ || points_.size() < count || written_) return {};
  double farthest = 0.0;
  for (std::size_t vertex = 0; vertex < count; ++vertex) {
    if (used_[vertex]) farthest = std::max(farthest, (vertices[vertex] - points_[vertex]).cwiseAbs().maxCoeff());
  }
  // NaN fails the comparison: no boxes, rather than boxes that hold nothing.
  if (!(farthest <= kFarthestCoordinate)) return {};
  std::vector<Eigen::AlignedBox3d> boxes = piece_boxes_.boxes();
  for (Eigen::AlignedBox3d& box : boxes) {
    box.min().array() -= farthest;
    box.max().array() += farthest;
  }
  return boxes;
}

// A part is an open surface where a rim of it opens more than a hundredth of
// the mesh's area, no triangle covers its cap (a lid written apart from the
// walls closes them), and the cap has the inside on one side and the outside
// on the other. That is judged among the parts with such rims only, so that
// a closed part around or beside a sheet changes nothing, while parts that
// close each other (two overlapping open halves of one scan) stay solids.
void MeshSolid::leaveOutOpenParts(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                  const Parts& parts, const TangledEdges& tangled, double reach,
                                  std::vector<char>& left_out) const {
  double area = 0.0;
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (!left_out[face]) area += triangleArea(points, faces[face]);
  }
  std::vector<OpenEdge> open = tangled.openEdges(faces, left_out, &parts.of_face);
  const std::vector<std::size_t> starts = sortIntoRims(open);
  std::vector<std::pair<std::uint32_t, RimCap>> wide;
  std::vector<char> opened(parts.count, 0);
  for (std::size_t rim = 0; rim + 1 < starts.size(); ++rim) {
    const OpenEdge* first = open.data() + starts[rim];
    const RimCap cap = rimCapOf(points, first, open.data() + starts[rim + 1]);
    if (!(cap.vector_area.norm() > kMostOpening * area) || capIsCovered(points, faces, left_out, cap)) continue;
    wide.emplace_back(first->part, cap);
    opened[first->part] = 1;
  }
  if (wide.empty()) return;
  const MeshSolid among_open = closedPartsOf(points, faces, parts, opened, tangled, reach, left_out);
  std::vector<char> open_surface(parts.count, 0);
  for (const auto& [part, cap] : wide) open_surface[part] |= among_open.leavesOpening(cap);
  leaveOutParts(parts, open_surface, left_out);
}

// Leaves out every triangle of the parts marked.
void MeshSolid::leaveOutParts(const Parts& parts, const std::vector<char>& marked, std::vector<char>& left_out) {
  for (std::size_t face = 0; face < left_out.size(); ++face) {
    if (marked[parts.of_face[face]]) left_out[face] = 1;
  }
}

// The closed surface of the parts chosen (their triangles not left out),
// each rim capped by one fan.
MeshSolid MeshSolid::closedPartsOf(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                   const Parts& parts, const std::vector<char>& chosen, const TangledEdges& tangled,
                                   double reach, const std::vector<char>& left_out) {
  std::vector<char> others_out = left_out;
  std::vector<Corners> kept;
  for (std::uint32_t face = 0; face < faces.size(); ++face) {
    if (!chosen[parts.of_face[face]]) others_out[face] = 1;
    if (!others_out[face]) kept.push_back(faces[face]);
  }
  return MeshSolid(
      closedChainOf(points, std::move(kept), tangled.openEdges(faces, others_out), reach, RimFans::kOnePerRim));
}

// A sheet (a part whose triangles, capped from its centre, span no volume)
// adds a winding number of less than a half either way; many of them, such
// as the pages of a book inside its cover, sum into anything. One lying
// within the rest of the mesh on both of its sides is left out.
void MeshSolid::leaveOutSheetsWithin(const std::vector<Eigen::Vector3d>& points, const std::vector<Corners>& faces,
                                     const Parts& parts, const TangledEdges& tangled, double reach,
                                     std::vector<char>& left_out) const {
  const std::vector<PartShape> shapes = partShapes(points, faces, parts, &left_out);
  std::vector<char> sheet(parts.count, 0);
  for (std::uint32_t part = 0; part < parts.count; ++part) {
    const PartShape& shape = shapes[part];
    sheet[part] = shape.area > 0.0 && std::abs(shape.volume) <= kFlatVolume * std::pow(shape.area, 1.5);
  }
  if (std::find(sheet.begin(), sheet.end(), 1) == sheet.end()) return;
  std::vector<char> others(parts.count);
  std::transform(sheet.begin(), sheet.end(), others.begin(), [](char is_sheet) { return !is_sheet; });
  const MeshSolid rest = closedPartsOf(points, faces, parts, others, tangled, reach, left_out);
  if (!rest.isSolid()) return;
  std::vector<char> within(parts.count, 0);
  for (std::uint32_t part = 0; part < parts.count; ++part) {
    if (!sheet[part]) continue;
    const Corners& corners = faces[shapes[part].first_face];
    const Eigen::Vector3d &a = points[corners[0]], &b = points[corners[1]], &c = points[corners[2]];
    const Eigen::Vector3d normal = (b - a).cross(c - a);
    const Eigen::Vector3d step = 1e-3 * std::sqrt(0.5 * normal.norm()) * normal.normalized();
    const Eigen::Vector3d centre = (a + b + c) / 3.0;
    within[part] = rest.closedWinding(centre + step) > 0 && rest.closedWinding(centre - step) > 0;
  }
  leaveOutParts(parts, within, left_out);
}

// The closed surface's winding number on the two sides of the cap, just off
// its apex along its normal: inside on one side and outside on the other.
bool MeshSolid::leavesOpening(const RimCap& cap) const {
  const double opened = cap.vector_area.norm();
  const Eigen::Vector3d step = 1e-3 * std::sqrt(opened) * cap.vector_area / opened;
  return (closedWinding(cap.apex + step) > 0) != (closedWinding(cap.apex - step) > 0);
}

bool MeshSolid::enclosesVolume() const {
  const Eigen::Vector3d centre = bounds_.center();
  double volume = 0.0;
  for (const Corners& corners : triangles_) volume += coneVolume(points_, corners, centre) / 6.0;
  return volume > kLeastVolume * std::pow(bounds_.sizes().maxCoeff(), 3);
}

// The root's children are divided apart, each into a tree of its own, on
// several threads where the mesh is large.
bool MeshSolid::divideBoundingCube() {
  // A little larger than the box, so that no triangle lies on its faces.
  root_ = Cube{bounds_.center(), 0.5 * std::max(bounds_.sizes().maxCoeff(), 1e-12) * 1.01};
  top_.nodes.emplace_back();
  ChildLists lists;
  bool divided = false;
  {
    TriangleList all(triangles_.size());
    std::iota(all.begin(), all.end(), 0u);
    top_.nodes[0].winding = middleWinding(top_, rayWinding(all, 0, root_.centre), rayWinding(all, 1, root_.centre),
                                          rayWinding(all, 2, root_.centre));
    divided = split(top_, 0, root_, all, 0, lists);
  }
  const auto divideChild = [&](std::size_t child, std::vector<ChildLists>& scratch) {
    // Room for what a finely divided mesh needs, so that the trees seldom
    // grow by copying, which would hold their pages twice.
    const std::size_t held = lists[child].size();
    below_[child].nodes.reserve(held + 1);
    below_[child].listed.reserve(4 * held);
    Cube cube = root_;
    enterChildCube(cube, static_cast<int>(child));
    divide(below_[child], 0, cube, lists[child], 1, scratch);
    TriangleList().swap(lists[child]);
  };
  if (divided) {
    // The children's own nodes head their trees.
    for (std::size_t child = 0; child < 8; ++child) below_[child].nodes.push_back(top_.nodes[1 + child]);
    top_.nodes.resize(1);
  }
  if (divided && triangles_.size() < kTrianglesWorthThreads) {
    std::vector<ChildLists> scratch(kDeepest + 1);
    for (std::size_t child = 0; child < 8; ++child) divideChild(child, scratch);
  } else if (divided) {
    std::array<std::exception_ptr, 8> failures;
    shareWork(8, hardwareThreads(), [&](std::size_t child) {
      try {
        std::vector<ChildLists> scratch(kDeepest + 1);
        divideChild(child, scratch);
      } catch (...) {
        failures[child] = std::current_exception();
      }
    });
    // The helpers' allocator arenas would keep the pages of what they freed.
    malloc_trim(0);
    for (const std::exception_ptr& failure : failures) {
      if (failure) std::rethrow_exception(failure);
    }
  }
  std::size_t inside_centres = top_.inside_centres, disagreeing_centres = top_.disagreeing_centres;
  for (const Tree& tree : below_) {
    inside_centres += tree.inside_centres;
    disagreeing_centres += tree.disagreeing_centres;
  }
  return static_cast<double>(disagreeing_centres) <= kMostDisagreement * static_cast<double>(inside_centres);
}

int MeshSolid::middleWinding(Tree& tree, int a, int b, int c) {
  const int middle = std::max(std::min(a, b), std::min(std::max(a, b), c));
  tree.inside_centres += middle != 0;
  tree.disagreeing_centres += a != b || b != c;
  return middle;
}

void MeshSolid::divide(Tree& tree, std::uint32_t node, const Cube& cube, const TriangleList& triangles, int depth,
                       std::vector<ChildLists>& scratch) const {
  ChildLists& lists = scratch[depth];
  if (!split(tree, node, cube, triangles, depth, lists)) return;
  const std::uint32_t children = static_cast<std::uint32_t>(tree.nodes[node].children);
  for (int child = 0; child < 8; ++child) {
    Cube inner = cube;
    enterChildCube(inner, child);
    divide(tree, children + child, inner, lists[child], depth + 1, scratch);
  }
}

bool MeshSolid::split(Tree& tree, std::uint32_t node, const Cube& cube, const TriangleList& triangles, int depth,
                      ChildLists& lists) const {
  const auto makeLeaf = [&] {
    tree.nodes[node].first = static_cast<std::uint32_t>(tree.listed.size());
    tree.listed.insert(tree.listed.end(), triangles.begin(), triangles.end());
    tree.nodes[node].last = static_cast<std::uint32_t>(tree.listed.size());
    return false;
  };
  if (triangles.size() <= kMostLeafTriangles || depth >= kDeepest) return makeLeaf();
  if (mostlyLong(triangles, cube)) return makeLeaf();
  RouteChanges changes{};
  for (TriangleList& list : lists) list.clear();
  for (const std::uint32_t t : triangles) {
    const Corners& corners = triangles_[t];
    const Eigen::Vector3d low = points_[corners[0]].cwiseMin(points_[corners[1]]).cwiseMin(points_[corners[2]]);
    const Eigen::Vector3d high = points_[corners[0]].cwiseMax(points_[corners[1]]).cwiseMax(points_[corners[2]]);
    if (reachesTwoRoutePlanes(cube.centre, cube.half, low, high)) addRouteChanges(cube, corners, low, high, changes);
    addToChildren(cube, t, low, high, lists);
  }
  const auto unparted = [&](const TriangleList& list) { return list.size() == triangles.size(); };
  if (triangles.size() <= kMostUnparted && std::any_of(lists.begin(), lists.end(), unparted)) return makeLeaf();
  const std::uint32_t children = static_cast<std::uint32_t>(tree.nodes.size());
  const int winding = tree.nodes[node].winding;
  tree.nodes[node].children = static_cast<std::int32_t>(children);
  tree.nodes.resize(tree.nodes.size() + 8);
  for (int child = 0; child < 8; ++child) {
    const std::array<int, 3>& change = changes[child];
    tree.nodes[children + child].winding =
        middleWinding(tree, winding + change[0], winding + change[1], winding + change[2]);
  }
  return true;
}

bool MeshSolid::mostlyLong(const TriangleList& triangles, const Cube& cube) const {
  const double long_side = 2.0 * kLongTriangleSides * cube.half;
  const std::size_t sampled = std::min(triangles.size(), kLongSample);
  std::size_t long_triangles = 0;
  for (std::size_t k = 0; k < sampled; ++k) {
    const Corners& corners = triangles_[triangles[k]];
    const Eigen::Vector3d low = points_[corners[0]].cwiseMin(points_[corners[1]]).cwiseMin(points_[corners[2]]);
    const Eigen::Vector3d high = points_[corners[0]].cwiseMax(points_[corners[1]]).cwiseMax(points_[corners[2]]);
    long_triangles += (high - low).maxCoeff() > long_side;
  }
  return 4 * long_triangles > 3 * sampled;
}

// The triangle's share of the winding number changes along the three routes
// to each child's centre: it is tried only on the route lines its box
// reaches, and on each line it meets only at the three points where routes
// on it start or end.
void MeshSolid::addRouteChanges(const Cube& cube, const Corners& corners, const Eigen::Vector3d& low,
                                const Eigen::Vector3d& high, RouteChanges& changes) const {
  const double quarter = 0.5 * cube.half;
  for (int axis = 0; axis < 3; ++axis) {
    const int u = (axis + 1) % 3, v = (axis + 2) % 3;
    for (int at_u = 0; at_u < 3; ++at_u) {
      const double line_u = cube.centre[u] + (at_u - 1) * quarter;
      if (line_u < low[u] || line_u > high[u]) continue;
      for (int at_v = 0; at_v < 3; ++at_v) {
        const double line_v = cube.centre[v] + (at_v - 1) * quarter;
        Hit crossing;
        if (line_v < low[v] || line_v > high[v] || !hit(corners, axis, line_u, line_v, crossing)) continue;
        std::array<int, 3> below;
        Eigen::Vector3d point;
        point[u] = line_u;
        point[v] = line_v;
        for (int at = 0; at < 3; ++at) {
          point[axis] = cube.centre[axis] + (at - 1) * quarter;
          below[at] = crossingBelow(corners, axis, point, crossing.facing);
        }
        for (const RouteStep& step : routeLines()[axis][at_u][at_v]) {
          changes[step.child][step.route] += crossing.entering * (below[childSign(step.child, axis) + 1] - below[1]);
        }
      }
    }
  }
}

// Lists the triangle for the children it meets, a little more, never fewer.
void MeshSolid::addToChildren(const Cube& cube, std::uint32_t triangle, const Eigen::Vector3d& low,
                              const Eigen::Vector3d& high, ChildLists& lists) const {
  const double quarter = 0.5 * cube.half;
  const double slack = 1e-9 * cube.half;
  // Per half (lower, upper) and axis: whether the triangle's box reaches
  // into it, and whether it lies within it.
  std::array<std::array<bool, 3>, 2> reaches, within;
  int lone_child = 0;
  bool straddles = false;
  for (int axis = 0; axis < 3; ++axis) {
    const double middle = cube.centre[axis];
    reaches[0][axis] = low[axis] <= middle + slack;
    reaches[1][axis] = high[axis] >= middle - slack;
    within[0][axis] = high[axis] <= middle + slack && low[axis] >= middle - cube.half - slack;
    within[1][axis] = low[axis] >= middle - slack && high[axis] <= middle + cube.half + slack;
    straddles = straddles || (reaches[0][axis] && reaches[1][axis]);
    lone_child |= reaches[1][axis] ? 1 << axis : 0;
  }
  // Most triangles are small against the cube and lie in one child.
  if (!straddles) return lists[lone_child].push_back(triangle);
  const Corners& corners = triangles_[triangle];
  std::optional<SeparatingAxes> axes;
  for (int child = 0; child < 8; ++child) {
    int inside_extent = 0;
    bool reached = true;
    for (int axis = 0; axis < 3; ++axis) {
      const int half = childSign(child, axis) > 0;
      reached = reached && reaches[half][axis];
      inside_extent += within[half][axis];
    }
    if (!reached) continue;
    // Within the child's extent along two axes, a triangle that reaches into
    // its third meets it: the box test is the whole test.
    if (inside_extent < 2) {
      if (!axes) axes.emplace(points_[corners[0]], points_[corners[1]], points_[corners[2]], cube.centre);
      const Eigen::Vector3d offset(childSign(child, 0), childSign(child, 1), childSign(child, 2));
      if (!axes->meetCube(quarter * offset, quarter + slack)) continue;
    }
    lists[child].push_back(triangle);
  }
}

// The winding number at the point by a ray from far below it along the axis.
int MeshSolid::rayWinding(const TriangleList& triangles, int axis, const Eigen::Vector3d& point) const {
  // Nothing lies below a start at minus infinity: the change is the winding number.
  Eigen::Vector3d far_below = point;
  far_below[axis] = -std::numeric_limits<double>::infinity();
  return windingChange(triangles.data(), triangles.data() + triangles.size(), axis, far_below, point[axis]);
}

bool MeshSolid::hit(const Corners& corners, int axis, double line_u, double line_v, Hit& crossing) const {
  const int u = (axis + 1) % 3, v = (axis + 2) % 3;
  const Eigen::Vector3d& a = points_[corners[0]];
  const Eigen::Vector3d& b = points_[corners[1]];
  const Eigen::Vector3d& c = points_[corners[2]];
  const int side = sideOf(b, c, line_u, line_v, u, v);
  if (sideOf(c, a, line_u, line_v, u, v) != side || sideOf(a, b, line_u, line_v, u, v) != side) return false;
  // All three sides agree with the triangle's turn seen along the axis,
  // which is the sign of its normal along the axis.
  crossing = Hit{-side, side};
  return true;
}

bool MeshSolid::crossingBelow(const Corners& corners, int axis, const Eigen::Vector3d& point, int facing) const {
  const Eigen::Vector3d& a = points_[corners[0]];
  const Eigen::Vector3d& b = points_[corners[1]];
  const Eigen::Vector3d& c = points_[corners[2]];
  if (std::max({a[axis], b[axis], c[axis]}) < point[axis]) return true;
  if (std::min({a[axis], b[axis], c[axis]}) > point[axis]) return false;
  int side = orientation3d(a.data(), b.data(), c.data(), point.data());
  if (side == 0) side = signOf((b - a).cross(c - a).dot(kNudge));
  return side == 0 || side == facing;
}

int MeshSolid::windingChange(const std::uint32_t* first, const std::uint32_t* last, int axis,
                             const Eigen::Vector3d& from, double to) const {
  const int u = (axis + 1) % 3, v = (axis + 2) % 3;
  const double low = std::min(from[axis], to);
  const double high = std::max(from[axis], to);
  Eigen::Vector3d end = from;
  end[axis] = to;
  int change = 0;
  for (; first != last; ++first) {
    const Corners& corners = triangles_[*first];
    const Eigen::Vector3d& a = points_[corners[0]];
    const Eigen::Vector3d& b = points_[corners[1]];
    const Eigen::Vector3d& c = points_[corners[2]];
    // Off the triangle's box the line cannot meet it, nor the segment cross it.
    if (from[u] < std::min({a[u], b[u], c[u]}) || from[u] > std::max({a[u], b[u], c[u]}) ||
        from[v] < std::min({a[v], b[v], c[v]}) || from[v] > std::max({a[v], b[v], c[v]}) ||
        high < std::min({a[axis], b[axis], c[axis]}) || low > std::max({a[axis], b[axis], c[axis]})) {
      continue;
    }
    Hit crossing;
    if (!hit(corners, axis, from[u], from[v], crossing)) continue;
    change += crossing.entering * (crossingBelow(corners, axis, end, crossing.facing) -
                                   crossingBelow(corners, axis, from, crossing.facing));
  }
  return change;
}

bool MeshSolid::contains(const Eigen::Vector3d& point) const {
  return piece_boxes_.anyHolds(point) && insideAsWritten(point);
}

bool MeshSolid::containsInPiece(const Eigen::Vector3d& point, std::size_t piece) const {
  return piece < piece_boxes_.boxes().size() && piece_boxes_.boxes()[piece].contains(point) && insideAsWritten(point);
}

// The written triangles' winding number is the closed surface's plus the
// guard's (see WrittenWinding); where the mended mesh is no solid, the guard's alone.
bool MeshSolid::insideAsWritten(const Eigen::Vector3d& point) const {
  if (!(solid_ && (point - root_.centre).cwiseAbs().maxCoeff() <= root_.half)) {
    return written_ && written_->reaches(point, kClearlyInside);
  }
  const LeafHolding leaf = leafHolding(point);
  const int closed = closedWindingIn(leaf, point);
  // The closed winding number is whole: caps of less than a half change nothing.
  const bool mended = caps_.empty() || farFrom(leaf, caps_, &Tree::caps_reach)
                          ? closed > 0
                          : caps_.reaches(points_, cap_edges_, point, 0.5 - closed);
  if (!written_) return mended;
  // Where the written triangles wind within 0.4 of the mended mesh, a point
  // it holds (winding at least a half) is not clearly outside, and one it
  // leaves out not clearly inside.
  if (farFrom(leaf, *written_, &Tree::written_reach)) return mended;
  if (!mended) return written_->reaches(point, kClearlyInside);
  // A cavity of the arm's own meshes, wound against its shell as written,
  // lies within two parts turned outwards.
  if (solid_cavities_ && closed >= 2) return true;
  // Nearness first: it is decided once per cube, the winding number per point.
  return withinClearance(leaf) || !written_->fartherThan(point, kClearance) ||
         written_->reaches(point, kClearlyOutside);
}

template <typename Decide>
bool MeshSolid::leafKnows(const LeafHolding& leaf, Reach Tree::*known_in, const Decide& decide) const {
  std::atomic<std::uint8_t>& known = (leaf.tree->*known_in)[leaf.node];
  std::uint8_t answer = known.load(std::memory_order_relaxed);
  if (answer == kUnknown) {
    // Two threads may both work it out; they find the same.
    answer = decide() ? kHolds : kFails;
    known.store(answer, std::memory_order_relaxed);
  }
  return answer == kHolds;
}

template <typename Fans>
bool MeshSolid::farFrom(const LeafHolding& leaf, const Fans& fans, Reach Tree::*reaches) const {
  return leafKnows(leaf, reaches, [&] {
    return fans.boundedBelow(leaf.cube.centre, std::sqrt(3.0) * leaf.cube.half, kCapsChangeNothing);
  });
}

// A written triangle this near the cube's centre is within the clearance of every point of the cube.
bool MeshSolid::withinClearance(const LeafHolding& leaf) const {
  return leafKnows(leaf, &Tree::written_near, [&] {
    const double spare = kClearance - std::sqrt(3.0) * leaf.cube.half;
    return spare > 0.0 && !written_->fartherThan(leaf.cube.centre, spare);
  });
}

void MeshSolid::numberCrowdedLeaves() {
  std::int32_t crowded = 0;
  for (Tree* tree : allTrees()) {
    for (Node& node : tree->nodes) {
      if (node.children < 0 && node.last - node.first > kMostScannedTriangles) node.children = -2 - crowded++;
    }
  }
  if (crowded > 0) crowded_trees_ = std::make_unique<LazyClippedTree[]>(static_cast<std::size_t>(crowded));
}

int MeshSolid::crowdedWindingChange(const LeafHolding& holding, int axis, const Eigen::Vector3d& from,
                                    double to) const {
  const Node& leaf = holding.tree->nodes[holding.node];
  LazyClippedTree& lazy = crowded_trees_[static_cast<std::size_t>(-2 - leaf.children)];
  std::call_once(lazy.built, [&] {
    const std::uint32_t* listed = holding.tree->listed.data();
    const Eigen::Vector3d half = Eigen::Vector3d::Constant(holding.cube.half);
    lazy.tree.emplace(points_, triangles_, listed + leaf.first, listed + leaf.last,
                      Eigen::AlignedBox3d(holding.cube.centre - half, holding.cube.centre + half));
  });
  std::vector<std::uint32_t> met;
  lazy.tree->listAlongSegment(from, axis, to, met);
  return windingChange(met.data(), met.data() + met.size(), axis, from, to);
}

int MeshSolid::closedWinding(const Eigen::Vector3d& point) const {
  if (!((point - root_.centre).cwiseAbs().maxCoeff() <= root_.half)) return 0;
  return closedWindingIn(leafHolding(point), point);
}

MeshSolid::LeafHolding MeshSolid::leafHolding(const Eigen::Vector3d& point) const {
  Cube cube = root_;
  const Tree* tree = &top_;
  std::uint32_t node = 0;
  // The root's children head trees of their own.
  if (top_.nodes[0].children >= 0) tree = &below_[enterChildHolding(cube, point)];
  while (tree->nodes[node].children >= 0) {
    node = static_cast<std::uint32_t>(tree->nodes[node].children + enterChildHolding(cube, point));
  }
  return {tree, node, cube};
}

// From the leaf's centre to the point along x, then y, then z: a path inside
// the leaf, which only its triangles can cross.
int MeshSolid::closedWindingIn(const LeafHolding& holding, const Eigen::Vector3d& point) const {
  const Tree* tree = holding.tree;
  const Node& leaf = tree->nodes[holding.node];
  const std::uint32_t* first = tree->listed.data() + leaf.first;
  const std::uint32_t* last = tree->listed.data() + leaf.last;
  if (first == last) return leaf.winding;
  const auto change = [&](int axis, const Eigen::Vector3d& from, double to) {
    return leaf.children < -1 ? crowdedWindingChange(holding, axis, from, to)
                              : windingChange(first, last, axis, from, to);
  };
  const Eigen::Vector3d& centre = holding.cube.centre;
  return leaf.winding + change(0, centre, point.x()) +
         change(1, Eigen::Vector3d(point.x(), centre.y(), centre.z()), point.y()) +
         change(2, Eigen::Vector3d(point.x(), point.y(), centre.z()), point.z());
}

}  // namespace internal
}  // namespace bramlock
