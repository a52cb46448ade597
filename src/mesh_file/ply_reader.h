#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace bramlock {
namespace internal {

// A PLY file's surface as written: the vertices' x, y, z in file order and
// its faces split into triangles as fans from their first corner (faces of
// fewer than three corners are no surface and are left out).
struct PlySurface {
  bool ascii = false;
  std::vector<double> vertices;         // x, y, z per vertex
  std::vector<unsigned int> triangles;  // three vertex indices per triangle
};

// Whether the data starts as a PLY file does.
bool looksLikePly(std::string_view data);

// Reads a PLY file (ASCII, binary little or big endian) whole. A file whose
// header is malformed, whose data is shorter or longer than its header
// declares, whose vertices are not finite or whose faces name vertices it
// does not have gives nothing, with the reason in `refusal`.
std::optional<PlySurface> readPly(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
