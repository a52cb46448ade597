#pragma once

// Closed rods for the benchmarks of the inside test of meshes (icospheres
// and unions come from the tests' mesh makers), and the meshes written as
// binary STL files.

#include <cmath>
#include <filesystem>
#include <vector>

#include <Eigen/Core>

#include "heavy_mesh_arm.h"
#include "solid_mesh_makers.h"

namespace closed_meshes {

// A cylinder with flat ends from `from` to `to`, its sides in `sides` quads.
inline bramlock_test::TriangleMesh rod(const Eigen::Vector3d& from, const Eigen::Vector3d& to, double radius,
                                       int sides) {
  const Eigen::Vector3d axis = (to - from).normalized();
  const Eigen::Vector3d u = axis.unitOrthogonal(), w = axis.cross(u);
  bramlock_test::TriangleMesh mesh;
  for (const Eigen::Vector3d& end : {from, to}) {
    for (int k = 0; k < sides; ++k) {
      const double angle = 2.0 * M_PI * k / sides;
      mesh.points.push_back(end + radius * (std::cos(angle) * u + std::sin(angle) * w));
    }
  }
  const size_t low_centre = mesh.points.size();
  mesh.points.push_back(from);
  mesh.points.push_back(to);
  const size_t n = static_cast<size_t>(sides);
  for (size_t k = 0; k < n; ++k) {
    const size_t next = (k + 1) % n;
    mesh.triangles.emplace_back(k, next, n + next);
    mesh.triangles.emplace_back(k, n + next, n + k);
    mesh.triangles.emplace_back(low_centre, next, k);
    mesh.triangles.emplace_back(low_centre + 1, n + k, n + next);
  }
  return mesh;
}

// A cone of height 0.1 m over a base of radius 0.05 m in `segments` sides,
// its base a fan from its centre. Where `copied_apex`, each side triangle has
// its own copy of the apex 1e-9 m from it, towards the triangle's base edge,
// as a file of unshared triangles rounded apart holds them.
inline bramlock_test::TriangleMesh cone(int segments, bool copied_apex) {
  bramlock_test::TriangleMesh mesh = bramlock_test::coneMesh(0.1, 0.05, segments, 1);
  if (!copied_apex) return mesh;
  const Eigen::Vector3d apex = mesh.points[0];
  for (fcl::Triangle& side : mesh.triangles) {
    if (side[0] != 0) continue;
    const Eigen::Vector3d towards = 0.5 * (mesh.points[side[1]] + mesh.points[side[2]]) - apex;
    side[0] = mesh.points.size();
    mesh.points.push_back(apex + 1e-9 * towards.normalized());
  }
  return mesh;
}

inline void writeBinaryStl(const std::filesystem::path& file, const bramlock_test::TriangleMesh& mesh) {
  std::vector<heavy_mesh_arm::Triangle> triangles;
  triangles.reserve(mesh.triangles.size());
  const auto corner = [&](size_t index) {
    const Eigen::Vector3d& v = mesh.points[index];
    return heavy_mesh_arm::Vertex{static_cast<float>(v.x()), static_cast<float>(v.y()), static_cast<float>(v.z())};
  };
  for (const auto& t : mesh.triangles) triangles.push_back({corner(t[0]), corner(t[1]), corner(t[2])});
  heavy_mesh_arm::writeBinaryStl(file, triangles);
}

}  // namespace closed_meshes
