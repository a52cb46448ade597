#pragma once

// Closed triangle meshes for the benchmarks of the inside test of meshes:
// icospheres, rods and their unions, with welded vertices and every triangle
// wound outwards.

#include <array>
#include <cmath>
#include <cstdint>
#include <filesystem>
#include <unordered_map>
#include <vector>

#include <Eigen/Core>

#include "heavy_mesh_arm.h"

namespace closed_meshes {

struct IndexedMesh {
  std::vector<Eigen::Vector3d> vertices;
  std::vector<std::array<std::uint32_t, 3>> triangles;

  // The other mesh's pieces join this one's as separate pieces of one mesh.
  void append(const IndexedMesh& other) {
    const auto offset = static_cast<std::uint32_t>(vertices.size());
    vertices.insert(vertices.end(), other.vertices.begin(), other.vertices.end());
    for (const auto& t : other.triangles) triangles.push_back({t[0] + offset, t[1] + offset, t[2] + offset});
  }
};

// A unit icosahedron about the origin.
inline IndexedMesh icosahedron() {
  const double g = (1.0 + std::sqrt(5.0)) / 2.0;
  IndexedMesh mesh;
  for (const auto& v : std::vector<Eigen::Vector3d>{{-1, g, 0},
                                                    {1, g, 0},
                                                    {-1, -g, 0},
                                                    {1, -g, 0},
                                                    {0, -1, g},
                                                    {0, 1, g},
                                                    {0, -1, -g},
                                                    {0, 1, -g},
                                                    {g, 0, -1},
                                                    {g, 0, 1},
                                                    {-g, 0, -1},
                                                    {-g, 0, 1}}) {
    mesh.vertices.push_back(v.normalized());
  }
  mesh.triangles = {{0, 11, 5},  {0, 5, 1},  {0, 1, 7},  {0, 7, 10}, {0, 10, 11}, {1, 5, 9}, {5, 11, 4},
                    {11, 10, 2}, {10, 7, 6}, {7, 1, 8},  {3, 9, 4},  {3, 4, 2},   {3, 2, 6}, {3, 6, 8},
                    {3, 8, 9},   {4, 9, 5},  {2, 4, 11}, {6, 2, 10}, {8, 6, 7},   {9, 8, 1}};
  return mesh;
}

// Every triangle split in four at its edge midpoints, pushed out to the unit sphere.
inline IndexedMesh subdivided(const IndexedMesh& mesh) {
  IndexedMesh finer;
  finer.vertices = mesh.vertices;
  finer.triangles.reserve(4 * mesh.triangles.size());
  std::unordered_map<std::uint64_t, std::uint32_t> midpoints;
  midpoints.reserve(2 * mesh.triangles.size());
  const auto midpoint = [&](std::uint32_t a, std::uint32_t b) {
    const std::uint64_t key = (static_cast<std::uint64_t>(std::min(a, b)) << 32) | std::max(a, b);
    const auto [found, added] = midpoints.emplace(key, static_cast<std::uint32_t>(finer.vertices.size()));
    if (added) finer.vertices.push_back((finer.vertices[a] + finer.vertices[b]).normalized());
    return found->second;
  };
  for (const auto& t : mesh.triangles) {
    const std::uint32_t ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]), ca = midpoint(t[2], t[0]);
    finer.triangles.push_back({t[0], ab, ca});
    finer.triangles.push_back({ab, t[1], bc});
    finer.triangles.push_back({ca, bc, t[2]});
    finer.triangles.push_back({ab, bc, ca});
  }
  return finer;
}

// 20 * 4^rounds triangles: 81,920 for 6 rounds, 1,310,720 for 8.
inline IndexedMesh icosphere(const Eigen::Vector3d& centre, double radius, int rounds) {
  IndexedMesh mesh = icosahedron();
  for (int round = 0; round < rounds; ++round) mesh = subdivided(mesh);
  for (Eigen::Vector3d& v : mesh.vertices) v = centre + radius * v;
  return mesh;
}

// A cylinder with flat ends from `from` to `to`, its sides in `sides` quads.
inline IndexedMesh rod(const Eigen::Vector3d& from, const Eigen::Vector3d& to, double radius, int sides) {
  const Eigen::Vector3d axis = (to - from).normalized();
  const Eigen::Vector3d u = axis.unitOrthogonal(), w = axis.cross(u);
  IndexedMesh mesh;
  for (const Eigen::Vector3d& end : {from, to}) {
    for (int k = 0; k < sides; ++k) {
      const double angle = 2.0 * M_PI * k / sides;
      mesh.vertices.push_back(end + radius * (std::cos(angle) * u + std::sin(angle) * w));
    }
  }
  const auto low_centre = static_cast<std::uint32_t>(mesh.vertices.size());
  mesh.vertices.push_back(from);
  mesh.vertices.push_back(to);
  const auto n = static_cast<std::uint32_t>(sides);
  for (std::uint32_t k = 0; k < n; ++k) {
    const std::uint32_t next = (k + 1) % n;
    mesh.triangles.push_back({k, next, n + next});
    mesh.triangles.push_back({k, n + next, n + k});
    mesh.triangles.push_back({low_centre, next, k});
    mesh.triangles.push_back({low_centre + 1, n + k, n + next});
  }
  return mesh;
}

inline void writeBinaryStl(const std::filesystem::path& file, const IndexedMesh& mesh) {
  std::vector<heavy_mesh_arm::Triangle> triangles;
  triangles.reserve(mesh.triangles.size());
  const auto corner = [&](std::uint32_t index) {
    const Eigen::Vector3d& v = mesh.vertices[index];
    return heavy_mesh_arm::Vertex{static_cast<float>(v.x()), static_cast<float>(v.y()), static_cast<float>(v.z())};
  };
  for (const auto& t : mesh.triangles) triangles.push_back({corner(t[0]), corner(t[1]), corner(t[2])});
  heavy_mesh_arm::writeBinaryStl(file, triangles);
}

}  // namespace closed_meshes
