#include "solid_mesh_makers.h"

#include <cmath>
#include <limits>
#include <sstream>

namespace bramlock_test {

TriangleMesh boxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  TriangleMesh mesh;
  for (int k = 0; k < 8; ++k) {
    mesh.points.emplace_back(k & 1 ? high.x() : low.x(), k & 2 ? high.y() : low.y(), k & 4 ? high.z() : low.z());
  }
  // Two triangles a face: bottom, top, front, back, left, right.
  const int faces[6][4] = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  for (const auto& f : faces) {
    mesh.triangles.emplace_back(f[0], f[1], f[2]);
    mesh.triangles.emplace_back(f[0], f[2], f[3]);
  }
  return mesh;
}

TriangleMesh lidlessBoxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  TriangleMesh mesh = boxMesh(low, high);
  mesh.triangles.erase(mesh.triangles.begin() + 2, mesh.triangles.begin() + 4);
  return mesh;
}

TriangleMesh inverted(TriangleMesh mesh) {
  for (fcl::Triangle& t : mesh.triangles) std::swap(t[1], t[2]);
  return mesh;
}

TriangleMesh appended(TriangleMesh mesh, const TriangleMesh& more) {
  const size_t offset = mesh.points.size();
  mesh.points.insert(mesh.points.end(), more.points.begin(), more.points.end());
  for (const fcl::Triangle& t : more.triangles)
    mesh.triangles.emplace_back(t[0] + offset, t[1] + offset, t[2] + offset);
  return mesh;
}

TriangleMesh prismMesh(const std::vector<Eigen::Vector2d>& rim, double low, double high) {
  TriangleMesh mesh;
  const size_t n = rim.size();
  for (const Eigen::Vector2d& p : rim) mesh.points.emplace_back(p.x(), p.y(), low);
  for (const Eigen::Vector2d& p : rim) mesh.points.emplace_back(p.x(), p.y(), high);
  const size_t bottom_centre = mesh.points.size();
  mesh.points.emplace_back(0.0, 0.0, low);
  mesh.points.emplace_back(0.0, 0.0, high);
  const size_t top_centre = bottom_centre + 1;
  for (size_t i = 0; i + 1 < n; ++i) {
    const size_t b0 = i, b1 = i + 1, t0 = n + i, t1 = n + i + 1;
    mesh.triangles.emplace_back(b0, b1, t1);
    mesh.triangles.emplace_back(b0, t1, t0);
    mesh.triangles.emplace_back(bottom_centre, b1, b0);
    mesh.triangles.emplace_back(top_centre, t0, t1);
  }
  return mesh;
}

std::vector<Eigen::Vector2d> circleRimWithSeam(double radius, int sides) {
  std::vector<Eigen::Vector2d> rim;
  for (int i = 0; i <= sides; ++i) {
    const double angle = i * 2.0 * M_PI / sides;
    rim.emplace_back(radius * std::cos(angle), radius * std::sin(angle));
  }
  return rim;
}

std::string asciiStl(const TriangleMesh& mesh) {
  std::ostringstream stl;
  stl.precision(std::numeric_limits<double>::max_digits10);
  stl << "solid mesh\n";
  for (const fcl::Triangle& t : mesh.triangles) {
    // Readers take the facing from the order of the corners.
    stl << "facet normal 0 0 0\nouter loop\n";
    for (int k = 0; k < 3; ++k) {
      const Eigen::Vector3d& p = mesh.points[t[k]];
      stl << "vertex " << p.x() << ' ' << p.y() << ' ' << p.z() << '\n';
    }
    stl << "endloop\nendfacet\n";
  }
  stl << "endsolid mesh\n";
  return stl.str();
}

}  // namespace bramlock_test
