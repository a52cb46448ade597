#include "shape_extent.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>

#include <octomap/OcTree.h>
#include <Eigen/Core>

namespace bramlock {
namespace internal {

namespace {

bool isWithin(double value, double limit) { return std::isfinite(value) && std::fabs(value) <= limit; }

bool allWithin(const double* values, std::size_t count, double limit) {
  return std::all_of(values, values + count, [limit](double value) { return isWithin(value, limit); });
}

bool allWithin(std::initializer_list<double> values, double limit) {
  return allWithin(values.begin(), values.size(), limit);
}

// FCL normalises the normal, so a zero or overflowing one gives no plane;
// the offset along the unit normal is the plane's distance from the origin.
bool planeWithin(const shapes::Plane& plane, double limit) {
  const double normal = Eigen::Vector3d(plane.a, plane.b, plane.c).norm();
  return std::isfinite(normal) && normal > 0.0 && isWithin(plane.d / normal, limit);
}

// A cell's centre is its key times the resolution: when the whole key range
// lies within the limit no leaf can lie beyond it, and the leaves need no scan.
bool octreeWithin(const octomap::OcTree& tree, double limit) {
  const double resolution = tree.getResolution();
  if (!(std::isfinite(resolution) && resolution > 0.0 && resolution <= limit)) return false;
  if (std::ldexp(resolution, static_cast<int>(tree.getTreeDepth()) - 1) <= limit) return true;
  double low[3];
  double high[3];
  tree.getMetricMin(low[0], low[1], low[2]);
  tree.getMetricMax(high[0], high[1], high[2]);
  return allWithin(low, 3, limit) && allWithin(high, 3, limit);
}

}  // namespace

bool fitsWithin(const shapes::Shape& shape, double limit) {
  switch (shape.type) {
    case shapes::SPHERE:
      return isWithin(static_cast<const shapes::Sphere&>(shape).radius, limit);
    case shapes::CYLINDER: {
      const auto& cylinder = static_cast<const shapes::Cylinder&>(shape);
      return allWithin({cylinder.radius, cylinder.length}, limit);
    }
    case shapes::CONE: {
      const auto& cone = static_cast<const shapes::Cone&>(shape);
      return allWithin({cone.radius, cone.length}, limit);
    }
    case shapes::BOX:
      return allWithin(static_cast<const shapes::Box&>(shape).size, 3, limit);
    case shapes::PLANE:
      return planeWithin(static_cast<const shapes::Plane&>(shape), limit);
    case shapes::MESH: {
      const auto& mesh = static_cast<const shapes::Mesh&>(shape);
      return allWithin(mesh.vertices, 3 * static_cast<std::size_t>(mesh.vertex_count), limit);
    }
    case shapes::OCTREE: {
      const auto& tree = static_cast<const shapes::OcTree&>(shape).octree;
      return !tree || octreeWithin(*tree, limit);
    }
    default:
      return true;
  }
}

}  // namespace internal
}  // namespace bramlock
