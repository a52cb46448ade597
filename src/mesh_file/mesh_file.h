#pragma once

#include <memory>
#include <string>

#include <geometric_shapes/shapes.h>
#include <Eigen/Core>

namespace bramlock {
namespace internal {

// What became of a mesh file: loaded, not loaded (missing, unreadable, of a
// format the loader does not know), or refused as corrupt with the reason.
struct MeshFile {
  enum class Outcome { kLoaded, kNotLoaded, kRefused };
  Outcome outcome = Outcome::kNotLoaded;
  std::shared_ptr<shapes::Mesh> mesh;
  std::string reason;
};

// Loads the mesh a "file://" or "package://" URI or a path names (other
// URIs the loader fetches unchecked, as before), scaled per axis in its own
// frame. Every file is checked whole before the loader's post-processing
// sees it, which would crash on faces naming missing vertices and join a
// vertex that is not finite with another. Binary PLY files are read here
// (the loader loses their first data byte when it is a line feed); ASCII PLY
// files are checked here and loaded by the loader as before.
MeshFile loadMeshFile(const std::string& resource, const Eigen::Vector3d& scale = Eigen::Vector3d::Ones());

}  // namespace internal
}  // namespace bramlock
