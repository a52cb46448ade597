#include "mesh_solid.h"

#include <algorithm>
#include <cmath>
#include <map>
#include <numeric>
#include <optional>
#include <utility>

namespace bramlock {
namespace internal {

namespace {

// About this many cells per triangle over the mesh's box, within bounds:
// each cell that the surface passes is met by a handful of triangles, which
// is what a point near the surface costs, and the cells take less room than
// the triangles.
constexpr double kCellsPerTriangle = 2.0;
constexpr double kFewestCells = 4096.0;
constexpr double kMostCells = 32768.0;
// The most cells along the longest side, so that a flat mesh gets no
// needlessly fine grid.
constexpr double kMostCellsAlongLongest = 128.0;
// The grid's margin in cells: an irrational fraction, so that the centres
// lie off the axis-aligned faces meshes are drawn with.
constexpr double kMarginInCells = 0.3819660112501051;
// An open surface makes the three ray directions disagree on many centres;
// a few small holes or seams on few.
constexpr double kMostDisagreement = 0.05;
// The most area the holes may take, as a share of the surface: each hole is
// taken as a disc whose rim is all the open edges together.
constexpr double kMostHoleArea = 0.01;

struct Point2 {
  double u;
  double v;
};

bool lexicallyBefore(const Point2& a, const Point2& b) { return a.u < b.u || (a.u == b.u && a.v < b.v); }

// Which side of the edge p->q the point r lies on: +1 or -1, never 0, and
// exactly the opposite for q->p, so that the two triangles of a shared edge
// never both claim, nor both miss, a point on it. Ties are broken as if r
// were moved by (e, e^2) for a vanishing e.
int sideOf(Point2 p, Point2 q, const Point2& r) {
  const bool swapped = lexicallyBefore(q, p);
  if (swapped) std::swap(p, q);
  double area = (q.u - p.u) * (r.v - p.v) - (q.v - p.v) * (r.u - p.u);
  if (area == 0.0) area = q.v != p.v ? p.v - q.v : q.u - p.u;
  const int side = area > 0.0 ? 1 : -1;
  return swapped ? -side : side;
}

double signedArea(const Point2& p, const Point2& q, const Point2& r) {
  return (q.u - p.u) * (r.v - p.v) - (q.v - p.v) * (r.u - p.u);
}

// Where the line along `axis` through r (given in the two other axes, in
// their cyclic order) crosses the triangle: the coordinate along the axis,
// and +1 where the line enters the solid there going up the axis (the
// triangle faces down it), -1 where it leaves.
struct Crossing {
  double at;
  int entering;
};

std::optional<Crossing> lineCrossing(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                                     int axis, const Point2& r) {
  const int u = (axis + 1) % 3;
  const int v = (axis + 2) % 3;
  const Point2 pa{a[u], a[v]}, pb{b[u], b[v]}, pc{c[u], c[v]};
  const int side = sideOf(pb, pc, r);
  if (sideOf(pc, pa, r) != side || sideOf(pa, pb, r) != side) return std::nullopt;
  const double wa = signedArea(pb, pc, r);
  const double wb = signedArea(pc, pa, r);
  const double wc = signedArea(pa, pb, r);
  const double sum = wa + wb + wc;
  const double low = std::min({a[axis], b[axis], c[axis]});
  const double high = std::max({a[axis], b[axis], c[axis]});
  // The side is the sign of the triangle's normal along the axis.
  if (sum == 0.0) return Crossing{0.5 * (low + high), -side};
  return Crossing{std::clamp((wa * a[axis] + wb * b[axis] + wc * c[axis]) / sum, low, high), -side};
}

// Separating-axis test of a triangle against a cube (centre, half side),
// grown a little against rounding: the cube's axes are left to the caller.
bool triangleMeetsCube(const Eigen::Vector3d& a, const Eigen::Vector3d& b, const Eigen::Vector3d& c,
                       const Eigen::Vector3d& centre, double half) {
  const Eigen::Vector3d v[3] = {a - centre, b - centre, c - centre};
  const Eigen::Vector3d edges[3] = {v[1] - v[0], v[2] - v[1], v[0] - v[2]};
  const auto separatedOn = [&](const Eigen::Vector3d& axis) {
    const double p0 = axis.dot(v[0]), p1 = axis.dot(v[1]), p2 = axis.dot(v[2]);
    const double reach = half * axis.cwiseAbs().sum() * (1.0 + 1e-9) + 1e-12 * axis.norm();
    return std::min({p0, p1, p2}) > reach || std::max({p0, p1, p2}) < -reach;
  };
  if (separatedOn(edges[0].cross(edges[1]))) return false;
  for (const Eigen::Vector3d& edge : edges) {
    for (int axis = 0; axis < 3; ++axis) {
      if (separatedOn(Eigen::Vector3d::Unit(axis).cross(edge))) return false;
    }
  }
  return true;
}

int clampedIndex(double value, int count) {
  if (!(value > 0.0)) return 0;
  return value >= count - 1 ? count - 1 : static_cast<int>(value);
}

}  // namespace

MeshSolid::MeshSolid(const std::vector<Eigen::Vector3d>& points, const std::vector<fcl::Triangle>& triangles)
    : points_(points) {
  triangles_.reserve(triangles.size());
  for (const fcl::Triangle& triangle : triangles) {
    const Corners corners{static_cast<std::uint32_t>(triangle[0]), static_cast<std::uint32_t>(triangle[1]),
                          static_cast<std::uint32_t>(triangle[2])};
    const bool indexed = corners[0] < points_.size() && corners[1] < points_.size() && corners[2] < points_.size();
    if (indexed) triangles_.push_back(corners);
  }
  if (triangles_.empty()) return;
  findPieces();
  if (!placeGrid()) return;
  orient();
  listTrianglesPerCell();
  windCentres();
  solid_ = solid_ && holesAreSmall();
}

// Open edges are those of an odd number of triangles, the vertices known by
// their place: a mesh whose triangles do not share vertices is still closed.
bool MeshSolid::holesAreSmall() const {
  std::map<std::array<double, 3>, std::uint32_t> places;
  std::vector<std::uint32_t> place_of(points_.size());
  for (std::uint32_t vertex = 0; vertex < points_.size(); ++vertex) {
    const Eigen::Vector3d& p = points_[vertex];
    place_of[vertex] = places.emplace(std::array<double, 3>{p.x(), p.y(), p.z()}, vertex).first->second;
  }
  std::vector<std::pair<std::uint32_t, std::uint32_t>> edges;
  edges.reserve(3 * triangles_.size());
  double area = 0.0;
  for (const Corners& corners : triangles_) {
    for (int k = 0; k < 3; ++k) {
      const std::uint32_t a = place_of[corners[k]], b = place_of[corners[(k + 1) % 3]];
      if (a != b) edges.emplace_back(std::min(a, b), std::max(a, b));
    }
    area += 0.5 * (points_[corners[1]] - points_[corners[0]]).cross(points_[corners[2]] - points_[corners[0]]).norm();
  }
  std::sort(edges.begin(), edges.end());
  double rim = 0.0;
  for (size_t first = 0; first < edges.size();) {
    size_t last = first;
    while (last < edges.size() && edges[last] == edges[first]) ++last;
    if ((last - first) % 2 == 1) rim += (points_[edges[first].first] - points_[edges[first].second]).norm();
    first = last;
  }
  return rim * rim / (4.0 * M_PI) <= kMostHoleArea * area;
}

void MeshSolid::findPieces() {
  std::vector<std::uint32_t> parent(points_.size());
  std::iota(parent.begin(), parent.end(), 0u);
  const auto root = [&parent](std::uint32_t vertex) {
    while (parent[vertex] != vertex) vertex = parent[vertex] = parent[parent[vertex]];
    return vertex;
  };
  std::vector<bool> used(points_.size(), false);
  for (const Corners& corners : triangles_) {
    for (int k = 0; k < 3; ++k) {
      used[corners[k]] = true;
      const std::uint32_t a = root(corners[k]);
      const std::uint32_t b = root(corners[(k + 1) % 3]);
      parent[std::max(a, b)] = std::min(a, b);
    }
  }
  // The lowest vertex of a piece is its root once every link points down.
  for (std::uint32_t vertex = 0; vertex < points_.size(); ++vertex) {
    if (used[vertex] && root(vertex) == vertex) piece_vertices_.push_back(vertex);
  }
}

bool MeshSolid::placeGrid() {
  Eigen::Vector3d low = points_[triangles_.front()[0]];
  Eigen::Vector3d high = low;
  for (const Corners& corners : triangles_) {
    for (const std::uint32_t vertex : corners) {
      low = low.cwiseMin(points_[vertex]);
      high = high.cwiseMax(points_[vertex]);
    }
  }
  const Eigen::Vector3d extent = high - low;
  const double longest = std::max(extent.maxCoeff(), 1e-9);
  const double finest = longest / kMostCellsAlongLongest;
  const double volume = extent.cwiseMax(finest).prod();
  const double cells = std::clamp(kCellsPerTriangle * static_cast<double>(triangles_.size()), kFewestCells, kMostCells);
  cell_size_ = std::max(std::cbrt(volume / cells), finest);
  const double margin = kMarginInCells * cell_size_;
  // Coordinates so large that the box's volume overflows leave no grid, and no inside.
  if (!std::isfinite(volume) || !(cell_size_ > 0.0) || !std::isfinite(extent.sum() + 2.0 * margin)) return false;
  origin_ = low - Eigen::Vector3d::Constant(margin);
  for (int axis = 0; axis < 3; ++axis) {
    cells_[axis] = std::max(1, static_cast<int>(std::ceil((extent[axis] + 2.0 * margin) / cell_size_)));
  }
  return true;
}

size_t MeshSolid::cellIndex(const std::array<int, 3>& index) const {
  return (static_cast<size_t>(index[2]) * cells_[1] + index[1]) * cells_[0] + index[0];
}

Eigen::Vector3d MeshSolid::centreOf(const std::array<int, 3>& index) const {
  return origin_ + cell_size_ * Eigen::Vector3d(index[0] + 0.5, index[1] + 0.5, index[2] + 0.5);
}

bool MeshSolid::cellOf(const Eigen::Vector3d& point, std::array<int, 3>& index) const {
  for (int axis = 0; axis < 3; ++axis) {
    const double at = (point[axis] - origin_[axis]) / cell_size_;
    if (!(at >= 0.0 && at < cells_[axis])) return false;
    index[axis] = std::min(static_cast<int>(at), cells_[axis] - 1);
  }
  return true;
}

// A triangle is listed for every cell it meets (a little more, never fewer).
void MeshSolid::listTrianglesPerCell() {
  const size_t cell_count = static_cast<size_t>(cells_[0]) * cells_[1] * cells_[2];
  const double slack = 1e-9 * cell_size_;
  std::vector<std::pair<std::uint32_t, std::uint32_t>> met;  // (cell, triangle)
  met.reserve(4 * triangles_.size());
  for (std::uint32_t t = 0; t < triangles_.size(); ++t) {
    const Eigen::Vector3d& a = points_[triangles_[t][0]];
    const Eigen::Vector3d& b = points_[triangles_[t][1]];
    const Eigen::Vector3d& c = points_[triangles_[t][2]];
    std::array<int, 3> first, last;
    for (int axis = 0; axis < 3; ++axis) {
      first[axis] =
          clampedIndex((std::min({a[axis], b[axis], c[axis]}) - slack - origin_[axis]) / cell_size_, cells_[axis]);
      last[axis] =
          clampedIndex((std::max({a[axis], b[axis], c[axis]}) + slack - origin_[axis]) / cell_size_, cells_[axis]);
    }
    // Within one cell along two axes the box test is the whole test.
    const int spread = (first[0] != last[0]) + (first[1] != last[1]) + (first[2] != last[2]);
    std::array<int, 3> index;
    for (index[2] = first[2]; index[2] <= last[2]; ++index[2]) {
      for (index[1] = first[1]; index[1] <= last[1]; ++index[1]) {
        for (index[0] = first[0]; index[0] <= last[0]; ++index[0]) {
          if (spread < 2 || triangleMeetsCube(a, b, c, centreOf(index), 0.5 * cell_size_ + slack)) {
            met.emplace_back(static_cast<std::uint32_t>(cellIndex(index)), t);
          }
        }
      }
    }
  }
  first_.assign(cell_count + 1, 0);
  for (const auto& [cell, triangle] : met) ++first_[cell + 1];
  std::partial_sum(first_.begin(), first_.end(), first_.begin());
  listed_.resize(met.size());
  std::vector<std::uint32_t> filled(first_.begin(), first_.end() - 1);
  for (const auto& [cell, triangle] : met) listed_[filled[cell]++] = triangle;
}

// Per axis, the winding number of each centre: the crossings of a ray from
// far below it up to it, +1 entering, -1 leaving; every crossing changes the
// centres above it along its row. Each centre keeps the middle of the three.
void MeshSolid::windCentres() {
  const size_t cell_count = first_.size() - 1;
  std::array<std::vector<std::int32_t>, 3> winding;
  for (int axis = 0; axis < 3; ++axis) winding[axis] = windAlong(axis);
  centre_winding_.resize(cell_count);
  size_t inside = 0, disagreeing = 0;
  for (size_t cell = 0; cell < cell_count; ++cell) {
    const std::int32_t x = winding[0][cell], y = winding[1][cell], z = winding[2][cell];
    const std::int32_t middle = std::max(std::min(x, y), std::min(std::max(x, y), z));
    centre_winding_[cell] = static_cast<std::int8_t>(std::clamp(orientation_ * middle, -100, 100));
    inside += centre_winding_[cell] >= 1;
    disagreeing += x != y || y != z;
  }
  solid_ = static_cast<double>(disagreeing) <= kMostDisagreement * static_cast<double>(inside);
}

std::vector<std::int32_t> MeshSolid::windAlong(int axis) const {
  const int u = (axis + 1) % 3;
  const int v = (axis + 2) % 3;
  std::vector<std::int32_t> winding(first_.size() - 1, 0);
  std::array<int, 3> index;
  for (const Corners& corners : triangles_) {
    const Eigen::Vector3d& a = points_[corners[0]];
    const Eigen::Vector3d& b = points_[corners[1]];
    const Eigen::Vector3d& c = points_[corners[2]];
    // The rows whose centre lines may pass the triangle, a little more against rounding.
    const auto rowRange = [&](int along, int& first, int& last) {
      const double low = (std::min({a[along], b[along], c[along]}) - origin_[along]) / cell_size_ - 0.5;
      const double high = (std::max({a[along], b[along], c[along]}) - origin_[along]) / cell_size_ - 0.5;
      first = std::max(0, static_cast<int>(std::ceil(low - 1e-6)));
      last = std::min(cells_[along] - 1, static_cast<int>(std::floor(high + 1e-6)));
    };
    int first_u, last_u, first_v, last_v;
    rowRange(u, first_u, last_u);
    rowRange(v, first_v, last_v);
    for (index[u] = first_u; index[u] <= last_u; ++index[u]) {
      for (index[v] = first_v; index[v] <= last_v; ++index[v]) {
        index[axis] = 0;
        const Eigen::Vector3d centre = centreOf(index);
        const std::optional<Crossing> crossing = lineCrossing(a, b, c, axis, Point2{centre[u], centre[v]});
        if (!crossing) continue;
        const double above = std::floor((crossing->at - origin_[axis]) / cell_size_ - 0.5) + 1.0;
        if (above >= cells_[axis]) continue;
        index[axis] = above > 0.0 ? static_cast<int>(above) : 0;
        winding[cellIndex(index)] += crossing->entering;
      }
    }
  }
  for (index[u] = 0; index[u] < cells_[u]; ++index[u]) {
    for (index[v] = 0; index[v] < cells_[v]; ++index[v]) {
      std::int32_t sum = 0;
      for (index[axis] = 0; index[axis] < cells_[axis]; ++index[axis]) {
        std::int32_t& cell = winding[cellIndex(index)];
        sum += cell;
        cell = sum;
      }
    }
  }
  return winding;
}

// Winds the solid positive: triangles wound clockwise seen from outside
// give a negative volume and negative winding numbers inside.
void MeshSolid::orient() {
  double volume = 0.0;
  for (const Corners& corners : triangles_) {
    volume += points_[corners[0]].dot(points_[corners[1]].cross(points_[corners[2]]));
  }
  orientation_ = volume < 0.0 ? -1 : 1;
}

int MeshSolid::windingChange(size_t cell, int axis, const Eigen::Vector3d& from, double to) const {
  const Point2 line{from[(axis + 1) % 3], from[(axis + 2) % 3]};
  const double low = std::min(from[axis], to);
  const double high = std::max(from[axis], to);
  const int direction = to > from[axis] ? 1 : -1;
  int change = 0;
  const int u = (axis + 1) % 3;
  const int v = (axis + 2) % 3;
  for (std::uint32_t k = first_[cell]; k < first_[cell + 1]; ++k) {
    const Corners& corners = triangles_[listed_[k]];
    const Eigen::Vector3d& a = points_[corners[0]];
    const Eigen::Vector3d& b = points_[corners[1]];
    const Eigen::Vector3d& c = points_[corners[2]];
    // Past the triangle's box (the tie rule moves the line up both axes).
    if (line.u < std::min({a[u], b[u], c[u]}) || line.u >= std::max({a[u], b[u], c[u]}) ||
        line.v < std::min({a[v], b[v], c[v]}) || line.v >= std::max({a[v], b[v], c[v]})) {
      continue;
    }
    const std::optional<Crossing> crossing = lineCrossing(a, b, c, axis, line);
    if (crossing && crossing->at > low && crossing->at <= high) change += direction * crossing->entering;
  }
  return change;
}

// From the cell's centre to the point along x, then y, then z: a path inside
// the cell, which only the cell's triangles can cross.
bool MeshSolid::contains(const Eigen::Vector3d& point) const {
  std::array<int, 3> index;
  if (!solid_ || !cellOf(point, index)) return false;
  const size_t cell = cellIndex(index);
  const int centre_winding = centre_winding_[cell];
  if (first_[cell] == first_[cell + 1]) return centre_winding >= 1;
  const Eigen::Vector3d centre = centreOf(index);
  const int change = windingChange(cell, 0, centre, point.x()) +
                     windingChange(cell, 1, Eigen::Vector3d(point.x(), centre.y(), centre.z()), point.y()) +
                     windingChange(cell, 2, Eigen::Vector3d(point.x(), point.y(), centre.z()), point.z());
  return centre_winding + orientation_ * change >= 1;
}

}  // namespace internal
}  // namespace bramlock
