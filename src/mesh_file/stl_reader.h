#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Whether the data is a binary STL file: 84 bytes of header and count, then
// 50 bytes for each of the triangles the count declares.
bool isBinaryStl(std::string_view data);

// Reads an STL file, binary (as isBinaryStl tells) or ASCII ("solid ...
// facet ... outer loop, vertex x y z ... endsolid", any number of solids).
// STL writes every triangle's corners anew: corners at one place become one
// vertex, numbered in the order they first appear. A file that is neither,
// is cut short or holds a vertex that is not finite gives nothing, with the
// reason in `refusal`.
std::optional<MeshSurface> readStl(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
