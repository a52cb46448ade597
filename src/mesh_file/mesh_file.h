#pragma once

#include <memory>
#include <string>

#include <geometric_shapes/shapes.h>
#include <Eigen/Core>

namespace bramlock {
namespace internal {

// What became of a mesh file: loaded, not loaded (missing, unreadable, of a
// format not read), or refused as corrupt; `reason` says why not.
struct MeshFile {
  enum class Outcome { kLoaded, kNotLoaded, kRefused };
  Outcome outcome = Outcome::kNotLoaded;
  std::shared_ptr<shapes::Mesh> mesh;
  std::string reason;
};

// Loads the mesh a "file://" or "package://" URI or a path names (a URI of
// another scheme is fetched as geometric_shapes fetches it), scaled per axis
// in its own frame. Every file is read by the library's own reader of its
// format (STL, OBJ, PLY, OFF), told by its content where that is
// unmistakable and else by its extension; no bytes of it reach a general
// loader. A file of another format is not loaded; one its reader refuses,
// or that holds no triangle, is refused with the reason.
MeshFile loadMeshFile(const std::string& resource, const Eigen::Vector3d& scale = Eigen::Vector3d::Ones());

}  // namespace internal
}  // namespace bramlock
