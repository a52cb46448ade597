#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Reads a Wavefront OBJ file's `v` and `f` lines (every other line, groups
// and objects included, is left out): a vertex's first three numbers, a
// face's corners as `i`, `i/t`, `i//n` or `i/t/n`, counted from 1 or, when
// negative, back from the last vertex written before the face. Faces are
// fanned from their first corner. A corner that is not a whole number or
// names no vertex written before its face, or a vertex that is not finite,
// gives nothing, with the reason in `refusal`.
std::optional<MeshSurface> readObj(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
