#include "off_reader.h"

#include <cstdint>
#include <vector>

#include "text_reading.h"

namespace bramlock {
namespace internal {

namespace {

// The words of the lines that hold data: comments, from '#' to the line's
// end, and blank lines are left out.
class DataLines {
 public:
  explicit DataLines(std::string_view data) : words_(data) {}

  // The first word of the next line that holds data; empty at the end.
  std::string_view nextLine() {
    if (started_ && !words_.skipLine()) return {};
    started_ = true;
    while (true) {
      const std::string_view word = words_.nextOnLine();
      if (!word.empty() && word[0] != '#') return word;
      if (!words_.skipLine()) return {};
    }
  }

  // The next word of the line, or empty at its end or its comment.
  std::string_view nextOnLine() {
    const std::string_view word = words_.nextOnLine();
    return !word.empty() && word[0] == '#' ? std::string_view() : word;
  }

  std::string where() const { return " on line " + std::to_string(words_.lineNumber()); }
  std::size_t bytesLeft() const { return words_.bytesLeft(); }

 private:
  TextWords words_;
  bool started_ = false;
};

// OFF optionally preceded by ST (texture), C (colour) and N (normal), in that order.
bool isOffKeyword(std::string_view word) {
  for (std::string_view prefix : {"ST", "C", "N"}) {
    if (word.substr(0, prefix.size()) == prefix) word.remove_prefix(prefix.size());
  }
  return word == "OFF";
}

std::uint64_t count(std::string_view word, const std::string& what) {
  const std::int64_t value = wholeNumber(word, what);
  if (value < 0) throw Malformed(what + " is negative");
  return static_cast<std::uint64_t>(value);
}

struct Counts {
  std::uint64_t vertices = 0;
  std::uint64_t faces = 0;
};

Counts readHeader(DataLines& lines) {
  const std::string_view keyword = lines.nextLine();
  if (!isOffKeyword(keyword)) {
    throw Malformed("its header \"" + std::string(keyword.substr(0, 20)) +
                    "\" is not OFF, COFF, NOFF or STOFF (other kinds are not read)");
  }
  std::string_view word = lines.nextOnLine();
  if (word.empty()) word = lines.nextLine();
  Counts counts;
  counts.vertices = count(word, "its vertex count" + lines.where());
  counts.faces = count(lines.nextOnLine(), "its face count" + lines.where());
  // A vertex line takes 6 bytes at least ("0 0 0\n"), a face line 2 ("0\n"),
  // the last line one less.
  const std::uint64_t left = lines.bytesLeft() + 1;
  if (counts.vertices > left / 6 || counts.faces > left / 2 || 6 * counts.vertices + 2 * counts.faces > left) {
    throw Malformed("it declares " + std::to_string(counts.vertices) + " vertices and " + std::to_string(counts.faces) +
                    " faces, more than its " + std::to_string(left) + " bytes of data can hold");
  }
  return counts;
}

std::string_view lineOf(DataLines& lines, const char* kind, std::uint64_t item, std::uint64_t declared) {
  const std::string_view first = lines.nextLine();
  if (first.empty()) {
    throw Malformed("it ends after " + std::to_string(item) + " of the " + std::to_string(declared) + " " + kind +
                    " it declares");
  }
  return first;
}

void readFace(DataLines& lines, std::uint64_t face, const Counts& counts, std::vector<unsigned int>& corners,
              MeshSurface& surface) {
  const std::uint64_t corner_count =
      count(lineOf(lines, "faces", face, counts.faces), "the corner count of face " + std::to_string(face));
  corners.clear();
  for (std::uint64_t k = 0; k < corner_count; ++k) {
    const std::int64_t index =
        wholeNumber(lines.nextOnLine(), "a corner of face " + std::to_string(face) + lines.where());
    corners.push_back(vertexIndex(static_cast<double>(index), counts.vertices, face));
  }
  appendFan(corners, surface.triangles);
}

MeshSurface surfaceOf(std::string_view data) {
  DataLines lines(data);
  const Counts counts = readHeader(lines);
  MeshSurface surface;
  surface.vertices.reserve(3 * counts.vertices);
  for (std::uint64_t vertex = 0; vertex < counts.vertices; ++vertex) {
    std::string_view word = lineOf(lines, "vertices", vertex, counts.vertices);
    for (int axis = 0; axis < 3; ++axis, word = lines.nextOnLine()) {
      surface.vertices.push_back(
          finiteNumber(word, "a coordinate of vertex " + std::to_string(vertex) + lines.where()));
    }
  }
  std::vector<unsigned int> corners;
  for (std::uint64_t face = 0; face < counts.faces; ++face) readFace(lines, face, counts, corners, surface);
  if (!lines.nextLine().empty()) {
    throw Malformed("it holds more than the vertices and faces it declares: more follows" + lines.where());
  }
  return surface;
}

}  // namespace

bool looksLikeOff(std::string_view data) {
  DataLines lines(data);
  return isOffKeyword(lines.nextLine());
}

std::optional<MeshSurface> readOff(std::string_view data, std::string& refusal) {
  return surfaceOrRefusal([data] { return surfaceOf(data); }, refusal);
}

}  // namespace internal
}  // namespace bramlock
