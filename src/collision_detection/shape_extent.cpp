#include "shape_extent.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <initializer_list>
#include <limits>

#include <octomap/OcTree.h>
#include <Eigen/Core>

namespace bramlock {
namespace internal {

namespace {

bool isWithin(double value, double limit) { return std::isfinite(value) && std::fabs(value) <= limit; }

bool allWithin(const double* values, std::size_t count, double limit) {
  return std::all_of(values, values + count, [limit](double value) { return isWithin(value, limit); });
}

// Sizes, radii and lengths: a negative one gives FCL a shape it misjudges
// (a box or sphere of negative size meets nothing).
bool sizesWithin(std::initializer_list<double> sizes, double limit) {
  return std::all_of(sizes.begin(), sizes.end(), [limit](double size) { return size >= 0.0 && isWithin(size, limit); });
}

// FCL reads the vertices a triangle names without checking them, and a mesh
// without triangles gives its broad phase a bounding volume tree with no node.
bool meshWithin(const shapes::Mesh& mesh, double limit) {
  if (mesh.triangle_count == 0 || !mesh.triangles || (mesh.vertex_count > 0 && !mesh.vertices)) return false;
  const unsigned int* const corners = mesh.triangles;
  const bool corners_known = std::all_of(corners, corners + 3 * static_cast<std::size_t>(mesh.triangle_count),
                                         [&mesh](unsigned int corner) { return corner < mesh.vertex_count; });
  return corners_known && allWithin(mesh.vertices, 3 * static_cast<std::size_t>(mesh.vertex_count), limit);
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

bool isCheckableWithin(const shapes::Shape& shape, double limit) {
  switch (shape.type) {
    case shapes::SPHERE:
      return sizesWithin({static_cast<const shapes::Sphere&>(shape).radius}, limit);
    case shapes::CYLINDER: {
      const auto& cylinder = static_cast<const shapes::Cylinder&>(shape);
      return sizesWithin({cylinder.radius, cylinder.length}, limit);
    }
    case shapes::CONE: {
      const auto& cone = static_cast<const shapes::Cone&>(shape);
      return sizesWithin({cone.radius, cone.length}, limit);
    }
    case shapes::BOX: {
      const double* size = static_cast<const shapes::Box&>(shape).size;
      return sizesWithin({size[0], size[1], size[2]}, limit);
    }
    case shapes::PLANE:
      return planeWithin(static_cast<const shapes::Plane&>(shape), limit);
    case shapes::MESH:
      return meshWithin(static_cast<const shapes::Mesh&>(shape), limit);
    case shapes::OCTREE: {
      const auto& tree = static_cast<const shapes::OcTree&>(shape).octree;
      return !tree || octreeWithin(*tree, limit);
    }
    default:
      return true;
  }
}

bool isCheckable(const shapes::Shape& shape) {
  return isCheckableWithin(shape, std::numeric_limits<double>::infinity());
}

}  // namespace internal
}  // namespace bramlock
