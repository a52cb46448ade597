#include "obj_reader.h"

#include <cstdint>
#include <vector>

#include "text_reading.h"

namespace bramlock {
namespace internal {

namespace {

std::string onLine(const TextWords& words) { return " on line " + std::to_string(words.lineNumber()); }

void readVertex(TextWords& words, MeshSurface& surface) {
  for (int axis = 0; axis < 3; ++axis) {
    surface.vertices.push_back(finiteNumber(words.nextOnLine(), "a vertex coordinate" + onLine(words)));
  }
}

// A corner's vertex as written (before its first '/'), from 0.
unsigned int cornerVertex(std::string_view corner, const TextWords& words, std::uint64_t vertex_count,
                          std::uint64_t face) {
  const std::int64_t written = wholeNumber(corner.substr(0, corner.find('/')), "a face corner" + onLine(words));
  // From 1 forwards, or from -1 backwards from the last vertex so far.
  const std::int64_t index = written > 0 ? written - 1 : static_cast<std::int64_t>(vertex_count) + written;
  if (written == 0 || index < 0 || index >= static_cast<std::int64_t>(vertex_count)) {
    throw Malformed("face " + std::to_string(face) + onLine(words) + " names vertex " + std::to_string(written) +
                    " of " + std::to_string(vertex_count) + " written before it");
  }
  return static_cast<unsigned int>(index);
}

void readFace(TextWords& words, MeshSurface& surface, std::uint64_t face, std::vector<unsigned int>& corners) {
  const std::uint64_t vertex_count = surface.vertices.size() / 3;
  corners.clear();
  for (std::string_view corner = words.nextOnLine(); !corner.empty(); corner = words.nextOnLine()) {
    corners.push_back(cornerVertex(corner, words, vertex_count, face));
  }
  appendFan(corners, surface.triangles);
}

MeshSurface surfaceOf(std::string_view data) {
  MeshSurface surface;
  TextWords words(data);
  std::uint64_t face_count = 0;
  std::vector<unsigned int> corners;
  do {
    const std::string_view keyword = words.nextOnLine();
    if (keyword == "v") readVertex(words, surface);
    if (keyword == "f") readFace(words, surface, face_count++, corners);
  } while (words.skipLine());
  return surface;
}

}  // namespace

std::optional<MeshSurface> readObj(std::string_view data, std::string& refusal) {
  return surfaceOrRefusal([data] { return surfaceOf(data); }, refusal);
}

}  // namespace internal
}  // namespace bramlock
