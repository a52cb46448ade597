#pragma once

#include <vector>

namespace bramlock {
namespace internal {

// A mesh file's surface as written: the vertices' x, y, z in file order (in
// metres, every transform and unit of the file applied) and its faces split
// into triangles as fans from their first corner.
struct MeshSurface {
  std::vector<double> vertices;         // x, y, z per vertex
  std::vector<unsigned int> triangles;  // three vertex indices per triangle
};

}  // namespace internal
}  // namespace bramlock
