#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Reads a Collada (.dae) file's triangles as its visual scene places them:
// the scene <scene> names (else the first), every node's transforms in order
// from the topmost down, geometries and nodes it instances, and the unit of
// its root <asset> (the up axis stays as written). Without a visual scene
// every geometry is taken as written. Triangles, polylists, polygons, fans and
// strips are read; lines and points are left out. A file that is not
// well-formed, whose counts disagree with its data, whose numbers or indices
// are not written whole, whose indices name missing vertices, whose vertices
// are not finite, whose unit is not a finite positive length, or that places
// skinned or morphed meshes (controllers) gives nothing, with the reason in
// `refusal`.
std::optional<MeshSurface> readCollada(std::string_view data, std::string& refusal);

}  // namespace internal
}  // namespace bramlock
