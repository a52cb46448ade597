#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <Eigen/Geometry>

#include "mesh_surface.h"
#include "text_reading.h"

namespace bramlock {
namespace internal {

// Text taken from a file, quoted for a refusal: cut short, control bytes shown
// as '?', so a hostile file cannot flood or garble the message.
std::string quotedForRefusal(std::string_view text);

// Appends the triangles of a strip over the corners, every second turned to
// keep the winding (fans: appendFan).
void appendStrip(const std::vector<unsigned int>& corners, std::vector<unsigned int>& triangles);

// Gathers the surfaces a scene file's nodes place into one, within bounds that
// keep a small file from making the reader recurse, loop or allocate without
// end: nodes nested too deep, too many node visits, or more output than the
// bytes read can justify (instancing multiplies geometry) are refused.
class SceneAssembly {
 public:
  explicit SceneAssembly(size_t input_bytes);
  // Bytes read besides the file itself (a glTF file's separate buffers).
  void addInput(size_t bytes);
  // Counts a visit of a node nested `depth` levels below the scene's roots.
  void enterNode(size_t depth);
  // Appends the part with each of its vertices placed by the pose.
  void place(const MeshSurface& part, const Eigen::Affine3d& pose);
  // The surface gathered, every vertex scaled; refused if a vertex is not finite.
  MeshSurface finish(double scale);

 private:
  size_t output_budget_;
  size_t output_bytes_ = 0;
  size_t node_visits_ = 0;
  MeshSurface surface_;
};

}  // namespace internal
}  // namespace bramlock
