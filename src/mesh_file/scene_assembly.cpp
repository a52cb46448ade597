#include "scene_assembly.h"

#include <cmath>
#include <limits>
#include <utility>

namespace bramlock {
namespace internal {

namespace {

// What the output may take: a file's own geometry expands at most about 12x
// (a one-byte strip index becomes a triangle of three 4-byte indices), so
// this leaves room for modest instancing and refuses a few kilobytes of
// nodes that would place a mesh millions of times.
constexpr size_t kOutputBytesBase = size_t{16} << 20;
constexpr size_t kOutputBytesPerInputByte = 16;
// Deep enough for any real scene graph, shallow enough for the stack.
constexpr size_t kMaxNodeDepth = 128;
constexpr size_t kMaxNodeVisits = 100000;
constexpr size_t kMaxQuotedLength = 80;

}  // namespace

std::string quotedForRefusal(std::string_view text) {
  std::string shown = "\"";
  for (size_t i = 0; i < text.size() && i < kMaxQuotedLength; ++i) {
    const unsigned char c = static_cast<unsigned char>(text[i]);
    shown.push_back(c < 0x20 || c == 0x7F ? '?' : text[i]);
  }
  if (text.size() > kMaxQuotedLength) shown += "...";
  return shown + "\"";
}

void appendStrip(const std::vector<unsigned int>& corners, std::vector<unsigned int>& triangles) {
  for (size_t k = 2; k < corners.size(); ++k) {
    if (k % 2 == 0) {
      triangles.insert(triangles.end(), {corners[k - 2], corners[k - 1], corners[k]});
    } else {
      triangles.insert(triangles.end(), {corners[k - 1], corners[k - 2], corners[k]});
    }
  }
}

SceneAssembly::SceneAssembly(size_t input_bytes) : output_budget_(kOutputBytesBase) { addInput(input_bytes); }

void SceneAssembly::addInput(size_t bytes) {
  const size_t room = std::numeric_limits<size_t>::max() - output_budget_;
  output_budget_ += bytes > room / kOutputBytesPerInputByte ? room : bytes * kOutputBytesPerInputByte;
}

void SceneAssembly::enterNode(size_t depth) {
  if (depth > kMaxNodeDepth) throw Malformed("its nodes nest deeper than " + std::to_string(kMaxNodeDepth) + " levels");
  if (++node_visits_ > kMaxNodeVisits) {
    throw Malformed("its scene visits more than " + std::to_string(kMaxNodeVisits) + " nodes");
  }
}

void SceneAssembly::place(const MeshSurface& part, const Eigen::Affine3d& pose) {
  output_bytes_ += part.vertices.size() * sizeof(double) + part.triangles.size() * sizeof(unsigned int);
  if (output_bytes_ > output_budget_) {
    throw Malformed("its scene places more than " + std::to_string(output_budget_ >> 20) +
                    " MB of geometry, more than a file of its size can describe");
  }
  const size_t first = surface_.vertices.size() / 3;
  if (part.vertices.size() / 3 > std::numeric_limits<unsigned int>::max() - first) {
    throw Malformed("its scene has more vertices than a mesh can index");
  }
  for (size_t i = 0; i < part.vertices.size(); i += 3) {
    const Eigen::Vector3d placed = pose * Eigen::Vector3d(part.vertices[i], part.vertices[i + 1], part.vertices[i + 2]);
    surface_.vertices.insert(surface_.vertices.end(), {placed.x(), placed.y(), placed.z()});
  }
  for (unsigned int index : part.triangles) surface_.triangles.push_back(static_cast<unsigned int>(first + index));
}

MeshSurface SceneAssembly::finish(double scale) {
  for (size_t i = 0; i < surface_.vertices.size(); ++i) {
    surface_.vertices[i] *= scale;
    if (!std::isfinite(surface_.vertices[i])) {
      throw Malformed("its vertex " + std::to_string(i / 3) + " is not finite where the scene places it");
    }
  }
  return std::move(surface_);
}

}  // namespace internal
}  // namespace bramlock
