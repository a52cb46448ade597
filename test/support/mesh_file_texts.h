#pragma once

// The PLY box of ply_files.h written in the other formats the core reads,
// and the surface of any loaded mesh as its triangles' corner points, which
// files that number or join their vertices differently share.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <sstream>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>

#include "ply_files.h"

namespace bramlock_test {

using TrianglePoints = std::vector<std::array<double, 9>>;

inline TrianglePoints trianglePoints(const shapes::Mesh& mesh) {
  TrianglePoints points;
  for (unsigned int t = 0; t < mesh.triangle_count; ++t) {
    std::array<double, 9> triangle;
    for (int k = 0; k < 9; ++k) triangle[k] = mesh.vertices[3 * mesh.triangles[3 * t + k / 3] + k % 3];
    points.push_back(triangle);
  }
  return points;
}

// Whether two surfaces have the same triangles in the same order, corners
// within `tolerance` (text holds floats to 9 digits, which a double reads
// a little off the float).
inline bool sameTriangles(const TrianglePoints& a, const TrianglePoints& b, double tolerance = 1e-8) {
  if (a.size() != b.size()) return false;
  for (size_t t = 0; t < a.size(); ++t) {
    for (int k = 0; k < 9; ++k) {
      if (!(std::fabs(a[t][k] - b[t][k]) <= tolerance)) return false;
    }
  }
  return true;
}

// The box's triangles as the fans of its quads from their first corners.
inline TrianglePoints boxTrianglePoints(const PlyBox& box = plyBox()) {
  TrianglePoints points;
  for (const std::vector<int>& face : box.faces) {
    for (size_t k = 2; k < face.size(); ++k) {
      std::array<double, 9> triangle;
      const int corners[3] = {face[0], face[k - 1], face[k]};
      for (int c = 0; c < 9; ++c) triangle[c] = box.vertices[3 * corners[c / 3] + c % 3];
      points.push_back(triangle);
    }
  }
  return points;
}

inline std::string floatText(float value) {
  std::ostringstream text;
  text.precision(9);
  text << value;
  return text.str();
}

inline std::string boxObj(const PlyBox& box = plyBox()) {
  std::string text = "# a box\nmtllib box.mtl\no box\n";
  for (size_t i = 0; i < box.vertices.size(); i += 3) {
    text += "v " + floatText(box.vertices[i]) + " " + floatText(box.vertices[i + 1]) + " " +
            floatText(box.vertices[i + 2]) + "\n";
  }
  text += "vn 0 0 1\nvt 0 0\ng sides\nusemtl grey\ns off\n";
  for (const std::vector<int>& face : box.faces) {
    text += "f";
    for (int index : face) text += " " + std::to_string(index + 1) + "/1/1";
    text += "\n";
  }
  return text;
}

inline std::string boxOff(const PlyBox& box = plyBox()) {
  std::string text =
      "OFF\n# a box\n" + std::to_string(box.vertices.size() / 3) + " " + std::to_string(box.faces.size()) + " 0\n";
  for (size_t i = 0; i < box.vertices.size(); i += 3) {
    text +=
        floatText(box.vertices[i]) + " " + floatText(box.vertices[i + 1]) + " " + floatText(box.vertices[i + 2]) + "\n";
  }
  for (const std::vector<int>& face : box.faces) {
    text += std::to_string(face.size());
    for (int index : face) text += " " + std::to_string(index);
    text += "\n";
  }
  return text;
}

inline std::string boxAsciiStl(const PlyBox& box = plyBox()) {
  std::string text = "solid box\n";
  for (const auto& triangle : boxTrianglePoints(box)) {
    text += "facet normal 0 0 0\nouter loop\n";
    for (int k = 0; k < 9; k += 3) {
      text += "vertex " + floatText(static_cast<float>(triangle[k])) + " " +
              floatText(static_cast<float>(triangle[k + 1])) + " " + floatText(static_cast<float>(triangle[k + 2])) +
              "\n";
    }
    text += "endloop\nendfacet\n";
  }
  return text + "endsolid box\n";
}

inline std::string boxBinaryStl(const PlyBox& box = plyBox()) {
  const TrianglePoints triangles = boxTrianglePoints(box);
  std::string data(80, ' ');
  appendBinary(data, static_cast<std::uint32_t>(triangles.size()), PlyFormat::kLittleEndian);
  for (const auto& triangle : triangles) {
    for (int k = 0; k < 3; ++k) appendBinary(data, 0.0f, PlyFormat::kLittleEndian);
    for (double value : triangle) appendBinary(data, static_cast<float>(value), PlyFormat::kLittleEndian);
    appendBinary(data, std::uint16_t{0}, PlyFormat::kLittleEndian);
  }
  return data;
}

}  // namespace bramlock_test
