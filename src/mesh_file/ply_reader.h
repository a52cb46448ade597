#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Whether the data starts as a PLY file does: "ply" in any case, then white
// space (the reader tells what is wrong with a first line that is not "ply").
bool looksLikePly(std::string_view data);

// Reads a PLY file (ASCII, binary little or big endian) whole: the vertices'
// x, y, z in file order, and every "face" element's `vertex_indices` (or
// `vertex_index`) lists fanned from their first corner (faces of fewer than
// three corners are no surface and are left out). ASCII data is read as
// words, however it is laid out over lines. A file whose header is
// malformed, whose data is shorter or longer than its header declares, whose
// vertices are not finite or whose faces name vertices it does not have (an
// index that is not a whole number from 0 to the last vertex) gives nothing,
// with the reason in `refusal`.
std::optional<MeshSurface> readPly(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
