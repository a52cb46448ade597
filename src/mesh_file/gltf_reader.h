#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Reads a glTF 2.0 file, as JSON (.gltf) or in its binary container (.glb,
// told apart by its magic bytes), and gives the triangles of its meshes as
// its nodes place them (matrix or translation, rotation and scale, from the
// default scene's root nodes, else from every node that is no other's child;
// without nodes every mesh as written). Buffers come from the GLB's BIN
// chunk, from base64 data URIs or from files in `directory` or below it.
// Triangle lists, strips and fans are read; points and lines are left out. A
// file whose container, JSON, buffers, views or accessors are malformed or do
// not fit one another, whose indices name missing vertices, whose vertices
// are not finite, or that needs an extension or a buffer file it lacks gives
// nothing, with the reason in `refusal`.
std::optional<MeshSurface> readGltf(std::string_view data, const std::string& directory, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
