#pragma once

// A copy of the scene arm whose link meshes are finely tessellated, written
// into a fresh temporary directory: published arms carry thousands of
// triangles per link, where the octree-against-mesh test costs most. Every
// triangle is split at its edge midpoints, so the shapes stay the same.

#include <array>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "scene_arm_workcell.h"

namespace heavy_mesh_arm {

using Vertex = std::array<float, 3>;
using Triangle = std::array<Vertex, 3>;

inline std::vector<Triangle> readBinaryStl(const std::filesystem::path& file) {
  std::ifstream in(file, std::ios::binary);
  char header[80];
  std::uint32_t count = 0;
  in.read(header, sizeof header);
  in.read(reinterpret_cast<char*>(&count), sizeof count);
  std::vector<Triangle> triangles(count);
  for (Triangle& triangle : triangles) {
    float normal[3];
    std::uint16_t attribute = 0;
    in.read(reinterpret_cast<char*>(normal), sizeof normal);
    in.read(reinterpret_cast<char*>(triangle.data()), sizeof(Triangle));
    in.read(reinterpret_cast<char*>(&attribute), sizeof attribute);
  }
  if (!in) throw std::runtime_error("unreadable mesh " + file.string());
  return triangles;
}

inline void writeBinaryStl(const std::filesystem::path& file, const std::vector<Triangle>& triangles) {
  std::ofstream out(file, std::ios::binary);
  const char header[80] = "scene arm test mesh, tessellated";
  const auto count = static_cast<std::uint32_t>(triangles.size());
  out.write(header, sizeof header);
  out.write(reinterpret_cast<const char*>(&count), sizeof count);
  const float normal[3] = {0.0f, 0.0f, 0.0f};
  const std::uint16_t attribute = 0;
  for (const Triangle& triangle : triangles) {
    out.write(reinterpret_cast<const char*>(normal), sizeof normal);
    out.write(reinterpret_cast<const char*>(triangle.data()), sizeof(Triangle));
    out.write(reinterpret_cast<const char*>(&attribute), sizeof attribute);
  }
}

inline Vertex midpoint(const Vertex& a, const Vertex& b) {
  return {0.5f * (a[0] + b[0]), 0.5f * (a[1] + b[1]), 0.5f * (a[2] + b[2])};
}

// Each round splits every triangle into four.
inline std::vector<Triangle> tessellated(std::vector<Triangle> triangles, int rounds) {
  for (int round = 0; round < rounds; ++round) {
    std::vector<Triangle> finer;
    finer.reserve(4 * triangles.size());
    for (const Triangle& t : triangles) {
      const Vertex ab = midpoint(t[0], t[1]), bc = midpoint(t[1], t[2]), ca = midpoint(t[2], t[0]);
      finer.push_back({t[0], ab, ca});
      finer.push_back({ab, t[1], bc});
      finer.push_back({ca, bc, t[2]});
      finer.push_back({ab, bc, ca});
    }
    triangles.swap(finer);
  }
  return triangles;
}

// A directory removed with everything in it when the process ends.
struct TemporaryDirectory {
  std::filesystem::path path;
  ~TemporaryDirectory() {
    std::error_code ignored;
    std::filesystem::remove_all(path, ignored);
  }
};

// The scene arm's description directory with every mesh split four times
// (2,048 to 3,072 triangles per mesh), made once per process.
inline std::string heavyMeshDirectory() {
  namespace fs = std::filesystem;
  constexpr int kRounds = 4;
  static const TemporaryDirectory directory = [] {
    char pattern[] = "/tmp/heavy_scene_arm_XXXXXX";
    if (!mkdtemp(pattern)) throw std::runtime_error("no temporary directory");
    const fs::path target(pattern);
    fs::copy(scene_arm_workcell::sceneArmDirectory(), target, fs::copy_options::recursive);
    for (const auto& entry : fs::recursive_directory_iterator(target)) {
      if (entry.path().extension() == ".stl") {
        writeBinaryStl(entry.path(), tessellated(readBinaryStl(entry.path()), kRounds));
      }
    }
    return TemporaryDirectory{target};
  }();
  return directory.path.string() + "/";
}

}  // namespace heavy_mesh_arm
