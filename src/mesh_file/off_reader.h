#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Whether the data starts as an OFF file does (OFF, COFF, NOFF, STOFF ...).
bool looksLikeOff(std::string_view data);

// Reads an ASCII OFF file: the header word (OFF with any of ST, C, N before
// it), the vertex, face and edge counts, then a line per vertex (x y z, what
// follows left out) and per face (its corner count, the corners, a colour
// left out), fanned from the first corner; `#` starts a comment anywhere. A
// file whose data does not hold exactly what the counts declare, whose faces
// name vertices it lacks or whose vertices are not finite gives nothing,
// with the reason in `refusal`.
std::optional<MeshSurface> readOff(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
