#include "stl_reader.h"

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <unordered_map>

#include "text_reading.h"

namespace bramlock {
namespace internal {

namespace {

constexpr std::size_t kBinaryHeader = 84;
constexpr std::size_t kBinaryTriangle = 50;

using Point = std::array<double, 3>;

struct PointHash {
  std::size_t operator()(const Point& point) const {
    std::size_t hash = 0;
    for (double value : point) {
      std::uint64_t bits;
      std::memcpy(&bits, &value, sizeof bits);
      hash = (hash ^ bits) * 0x100000001b3ULL;
    }
    return hash;
  }
};

// Corners at one place as one vertex, in the order they first appear.
class JoinedVertices {
 public:
  explicit JoinedVertices(MeshSurface& surface, std::size_t corners) : surface_(surface) {
    indices_.reserve(corners);
    surface_.vertices.reserve(3 * corners);
    surface_.triangles.reserve(corners);
  }

  void addCorner(Point point, std::size_t corner) {
    for (int axis = 0; axis < 3; ++axis) {
      if (!std::isfinite(point[axis])) throw Malformed("vertex " + std::to_string(corner) + " is not finite");
      point[axis] += 0.0;  // -0 and 0 are one place
    }
    const auto [found, added] = indices_.try_emplace(point, static_cast<unsigned int>(indices_.size()));
    if (added) surface_.vertices.insert(surface_.vertices.end(), point.begin(), point.end());
    surface_.triangles.push_back(found->second);
  }

 private:
  MeshSurface& surface_;
  std::unordered_map<Point, unsigned int, PointHash> indices_;
};

std::uint32_t declaredTriangles(std::string_view data) {
  std::uint32_t count = 0;
  std::memcpy(&count, data.data() + 80, sizeof count);
  return count;
}

MeshSurface binarySurface(std::string_view data) {
  const std::uint32_t count = declaredTriangles(data);
  MeshSurface surface;
  JoinedVertices vertices(surface, 3 * static_cast<std::size_t>(count));
  for (std::size_t triangle = 0; triangle < count; ++triangle) {
    // Each triangle: its normal (left out), three corners, two attribute bytes.
    const char* corners = data.data() + kBinaryHeader + kBinaryTriangle * triangle + 12;
    for (int corner = 0; corner < 3; ++corner) {
      float xyz[3];
      std::memcpy(xyz, corners + 12 * corner, sizeof xyz);
      vertices.addCorner({xyz[0], xyz[1], xyz[2]}, 3 * triangle + corner);
    }
  }
  return surface;
}

void expectWord(TextWords& words, std::string_view expected) {
  const std::string_view word = words.next();
  if (word != expected) {
    throw Malformed("line " + std::to_string(words.lineNumber()) + " has \"" + std::string(word.substr(0, 40)) +
                    "\" where \"" + std::string(expected) + "\" is due");
  }
}

// One facet after its "facet" word: a normal, then a loop of corners fanned
// from the first.
void readFacet(TextWords& words, JoinedVertices& vertices, std::size_t& corner_count) {
  expectWord(words, "normal");
  for (int axis = 0; axis < 3; ++axis) words.next();
  expectWord(words, "outer");
  expectWord(words, "loop");
  std::vector<Point> loop;
  std::string_view word = words.next();
  for (; word == "vertex"; word = words.next()) {
    Point point;
    for (double& value : point) {
      value = finiteNumber(words.next(), "a vertex coordinate on line " + std::to_string(words.lineNumber()));
    }
    loop.push_back(point);
  }
  if (word != "endloop")
    throw Malformed("a facet ending on line " + std::to_string(words.lineNumber()) + " has no endloop");
  expectWord(words, "endfacet");
  for (std::size_t k = 2; k < loop.size(); ++k) {
    for (const Point& point : {loop[0], loop[k - 1], loop[k]}) vertices.addCorner(point, corner_count++);
  }
}

MeshSurface textSurface(std::string_view data) {
  MeshSurface surface;
  // A facet takes far more than 50 bytes of text.
  JoinedVertices vertices(surface, data.size() / 50);
  TextWords words(data);
  std::size_t corner_count = 0;
  for (std::string_view word = words.next(); !word.empty(); word = words.next()) {
    if (word != "solid") throw Malformed("line " + std::to_string(words.lineNumber()) + " does not begin a solid");
    words.skipLine();  // the solid's name
    for (word = words.next(); word == "facet"; word = words.next()) readFacet(words, vertices, corner_count);
    if (word != "endsolid")
      throw Malformed("a solid ending on line " + std::to_string(words.lineNumber()) + " has no endsolid");
    words.skipLine();
  }
  return surface;
}

}  // namespace

bool isBinaryStl(std::string_view data) {
  return data.size() >= kBinaryHeader && (data.size() - kBinaryHeader) / kBinaryTriangle == declaredTriangles(data) &&
         (data.size() - kBinaryHeader) % kBinaryTriangle == 0;
}

std::optional<MeshSurface> readStl(std::string_view data, std::string& refusal) {
  return surfaceOrRefusal(
      [data] {
        if (isBinaryStl(data)) return binarySurface(data);
        if (data.size() >= kBinaryHeader && TextWords(data).next() != "solid") {
          throw Malformed("it is not 84 + 50 x " + std::to_string(declaredTriangles(data)) +
                          " bytes long, as a binary STL file declaring that many triangles is");
        }
        return textSurface(data);
      },
      refusal);
}

}  // namespace internal
}  // namespace bramlock
