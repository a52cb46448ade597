#pragma once

// What the mesh file readers share: the fault they throw while reading, the
// words of a text file, numbers and vertex indices checked as they are read,
// and polygons split into triangles.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include "mesh_surface.h"

namespace bramlock {
namespace internal {

// Thrown while reading a file; the reader's entry point turns it into the refusal.
struct Malformed : std::runtime_error {
  using std::runtime_error::runtime_error;
};

// The surface `read` gives, or nothing with the fault in `refusal`.
template <typename Read>
std::optional<MeshSurface> surfaceOrRefusal(Read read, std::string& refusal) {
  try {
    return read();
  } catch (const Malformed& fault) {
    refusal = fault.what();
    return std::nullopt;
  }
}

// The words of a text separated by white space (a carriage return is white
// space too), read within the current line or across lines.
class TextWords {
 public:
  explicit TextWords(std::string_view text) : text_(text) {}

  // The next word of the current line, or empty at its end.
  std::string_view nextOnLine();
  // The next word, past line ends; empty at the end of the text.
  std::string_view next();
  // Moves past the end of the current line; false at the end of the text.
  bool skipLine();
  // The line the reading is on, counted from 1, for refusals.
  std::size_t lineNumber() const { return line_; }
  std::size_t bytesLeft() const { return text_.size() - at_; }

 private:
  std::string_view wordFrom(std::size_t start);

  std::string_view text_;
  std::size_t at_ = 0;
  std::size_t line_ = 1;
};

// The number a word writes whole (after an optional '+'), finite or not; else nothing.
std::optional<double> numberWritten(std::string_view word);

// The number a word writes, finite; else Malformed naming `what`.
double finiteNumber(std::string_view word, const std::string& what);

// The whole number a word writes (digits after an optional sign); else
// Malformed naming `what`.
std::int64_t wholeNumber(std::string_view word, const std::string& what);

// Face `face`'s corner `index` as a vertex of `vertex_count`: a whole number
// from 0 to vertex_count - 1, else Malformed naming the face and the index.
unsigned int vertexIndex(double index, std::uint64_t vertex_count, std::uint64_t face);

// The polygon as triangles fanned from its first corner (none for fewer than three corners).
void appendFan(const std::vector<unsigned int>& corners, std::vector<unsigned int>& triangles);

}  // namespace internal
}  // namespace bramlock
