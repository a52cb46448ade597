#include "ply_reader.h"

#include <array>
#include <cctype>
#include <cerrno>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <sstream>
#include <stdexcept>
#include <utility>

#include "text_reading.h"

namespace bramlock {
namespace internal {

namespace {

enum class Format { kAscii, kLittleEndian, kBigEndian };

enum class Scalar { kInt8, kUint8, kInt16, kUint16, kInt32, kUint32, kFloat32, kFloat64 };

struct Property {
  std::string name;
  Scalar type = Scalar::kFloat32;
  bool list = false;
  Scalar count_type = Scalar::kUint8;
};

struct Element {
  std::string name;
  std::uint64_t count = 0;
  std::vector<Property> properties;
};

// Whether PLY knows the type name, and which type it is.
bool scalarNamed(const std::string& name, Scalar& type) {
  static const std::pair<const char*, Scalar> kNames[] = {
      {"char", Scalar::kInt8},      {"int8", Scalar::kInt8},       {"uchar", Scalar::kUint8},
      {"uint8", Scalar::kUint8},    {"short", Scalar::kInt16},     {"int16", Scalar::kInt16},
      {"ushort", Scalar::kUint16},  {"uint16", Scalar::kUint16},   {"int", Scalar::kInt32},
      {"int32", Scalar::kInt32},    {"uint", Scalar::kUint32},     {"uint32", Scalar::kUint32},
      {"float", Scalar::kFloat32},  {"float32", Scalar::kFloat32}, {"double", Scalar::kFloat64},
      {"float64", Scalar::kFloat64}};
  for (const auto& [known, known_type] : kNames) {
    if (name != known) continue;
    type = known_type;
    return true;
  }
  return false;
}

size_t sizeOf(Scalar type) {
  switch (type) {
    case Scalar::kInt8:
    case Scalar::kUint8:
      return 1;
    case Scalar::kInt16:
    case Scalar::kUint16:
      return 2;
    case Scalar::kInt32:
    case Scalar::kUint32:
    case Scalar::kFloat32:
      return 4;
    case Scalar::kFloat64:
      return 8;
  }
  return 8;
}

bool isInteger(Scalar type) { return type != Scalar::kFloat32 && type != Scalar::kFloat64; }

struct Header {
  Format format = Format::kAscii;
  std::vector<Element> elements;
  size_t data_start = 0;
};

// The header's lines end with "\n" (or "\r\n"); the data begins right after
// the line "end_header", whatever its first byte is.
Header readHeader(std::string_view data) {
  Header header;
  bool format_seen = false;
  size_t at = 0;
  bool first = true;
  while (true) {
    const size_t end = data.find('\n', at);
    if (end == std::string_view::npos) throw Malformed("its header has no end_header line");
    std::string_view line = data.substr(at, end - at);
    at = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::istringstream words{std::string(line)};
    std::string keyword;
    words >> keyword;
    if (first) {
      if (keyword != "ply") {
        throw Malformed("it does not start with the line \"ply\" (its first line is \"" +
                        std::string(line.substr(0, 20)) + "\")");
      }
      first = false;
      continue;
    }
    if (keyword.empty() || keyword == "comment" || keyword == "obj_info") continue;
    if (keyword == "end_header") break;
    if (keyword == "format") {
      std::string name, version;
      words >> name >> version;
      if (name == "ascii") {
        header.format = Format::kAscii;
      } else if (name == "binary_little_endian") {
        header.format = Format::kLittleEndian;
      } else if (name == "binary_big_endian") {
        header.format = Format::kBigEndian;
      } else {
        throw Malformed("its format \"" + name + "\" is not ascii, binary_little_endian or binary_big_endian");
      }
      format_seen = true;
    } else if (keyword == "element") {
      Element element;
      std::string count;
      words >> element.name >> count;
      char* count_end = nullptr;
      errno = 0;
      element.count = std::strtoull(count.c_str(), &count_end, 10);
      if (element.name.empty() || count.empty() || count[0] == '-' || *count_end != '\0' || errno != 0) {
        throw Malformed("its header line \"" + std::string(line) + "\" has no element count");
      }
      header.elements.push_back(element);
    } else if (keyword == "property") {
      if (header.elements.empty()) throw Malformed("its header names a property before any element");
      Property property;
      std::string type;
      words >> type;
      bool known = false;
      if (type == "list") {
        std::string count_type, item_type;
        words >> count_type >> item_type;
        known = scalarNamed(count_type, property.count_type) && isInteger(property.count_type) &&
                scalarNamed(item_type, property.type);
        property.list = true;
      } else {
        known = scalarNamed(type, property.type);
      }
      words >> property.name;
      if (!known || property.name.empty()) {
        throw Malformed("its header line \"" + std::string(line) + "\" is not a property PLY knows");
      }
      header.elements.back().properties.push_back(property);
    } else {
      throw Malformed("its header line \"" + std::string(line) + "\" is not PLY");
    }
  }
  if (!format_seen) throw Malformed("its header has no format line");
  header.data_start = at;
  return header;
}

// The values of the data in the order written, whatever the format.
class ValueReader {
 public:
  ValueReader(std::string_view data, Format format) : data_(data), format_(format), words_(data) {}

  double next(Scalar type) { return format_ == Format::kAscii ? nextText(type) : nextBinary(type); }

  // Whether anything but white space (ASCII) or any byte (binary) is left.
  bool anythingLeft() const {
    if (format_ != Format::kAscii) return at_ < data_.size();
    TextWords rest = words_;
    return !rest.next().empty();
  }

  size_t bytesLeft() const { return format_ == Format::kAscii ? words_.bytesLeft() : data_.size() - at_; }

 private:
  double nextText(Scalar type) {
    const std::string word(words_.next());
    if (word.empty()) throw Malformed("its data ends before all the elements its header declares");
    if (isInteger(type)) return static_cast<double>(wholeNumber(word, "a value of an integer property"));
    char* word_end = nullptr;
    const double value = std::strtod(word.c_str(), &word_end);
    if (*word_end != '\0') throw Malformed("its data holds \"" + word.substr(0, 40) + "\" where a number is due");
    // As its binary twin holds it.
    return type == Scalar::kFloat32 ? static_cast<float>(value) : value;
  }

  double nextBinary(Scalar type) {
    const size_t size = sizeOf(type);
    if (data_.size() - at_ < size) throw Malformed("its data ends before all the elements its header declares");
    unsigned char bytes[8];
    for (size_t i = 0; i < size; ++i) {
      // Assembled little endian, as this machine holds its numbers.
      bytes[i] = static_cast<unsigned char>(data_[at_ + (format_ == Format::kBigEndian ? size - 1 - i : i)]);
    }
    at_ += size;
    return decoded(type, bytes);
  }

  template <typename T>
  static double as(const unsigned char* bytes) {
    T value;
    std::memcpy(&value, bytes, sizeof(T));
    return static_cast<double>(value);
  }

  static double decoded(Scalar type, const unsigned char* bytes) {
    switch (type) {
      case Scalar::kInt8:
        return as<std::int8_t>(bytes);
      case Scalar::kUint8:
        return as<std::uint8_t>(bytes);
      case Scalar::kInt16:
        return as<std::int16_t>(bytes);
      case Scalar::kUint16:
        return as<std::uint16_t>(bytes);
      case Scalar::kInt32:
        return as<std::int32_t>(bytes);
      case Scalar::kUint32:
        return as<std::uint32_t>(bytes);
      case Scalar::kFloat32:
        return as<float>(bytes);
      case Scalar::kFloat64:
        return as<double>(bytes);
    }
    return 0.0;
  }

  std::string_view data_;
  Format format_;
  size_t at_ = 0;    // binary
  TextWords words_;  // ASCII
};

bool isFaceList(const Property& property) {
  return property.list && (property.name == "vertex_indices" || property.name == "vertex_index");
}

int propertyIndex(const Element& element, const std::string& name) {
  for (size_t i = 0; i < element.properties.size(); ++i) {
    if (element.properties[i].name == name && !element.properties[i].list) return static_cast<int>(i);
  }
  return -1;
}

// The vertex count the header declares; any element may come first.
std::uint64_t vertexCount(const Header& header) {
  const Element* vertices = nullptr;
  for (const Element& element : header.elements) {
    if (element.name != "vertex") continue;
    if (vertices) throw Malformed("its header declares two vertex elements");
    vertices = &element;
  }
  if (!vertices) throw Malformed("it has no vertex element");
  return vertices->count;
}

// Where x, y and z lie among the vertex element's properties.
std::array<int, 3> axesOf(const Element& element) {
  std::array<int, 3> axes;
  const char* names[3] = {"x", "y", "z"};
  for (int axis = 0; axis < 3; ++axis) {
    axes[axis] = propertyIndex(element, names[axis]);
    if (axes[axis] < 0) throw Malformed(std::string("its vertices have no property ") + names[axis]);
  }
  return axes;
}

// One list value of item `item`: a face's corners are fanned into the
// surface, any other list is read past.
void readList(ValueReader& values, const Property& property, bool face_corners, std::uint64_t item,
              std::uint64_t vertex_count, std::vector<unsigned int>& corners, MeshSurface& surface) {
  const double count = values.next(property.count_type);
  if (count < 0.0) throw Malformed("item " + std::to_string(item) + " has a negative count of values");
  if (count > static_cast<double>(values.bytesLeft())) {
    throw Malformed("its data ends before all the elements its header declares");
  }
  corners.clear();
  for (std::uint64_t k = 0; k < static_cast<std::uint64_t>(count); ++k) {
    const double index = values.next(property.type);
    if (face_corners) corners.push_back(vertexIndex(index, vertex_count, item));
  }
  appendFan(corners, surface.triangles);
}

void readElement(const Element& element, std::uint64_t vertex_count, ValueReader& values, MeshSurface& surface) {
  const bool is_vertex = element.name == "vertex";
  const bool is_face = element.name == "face";
  const std::array<int, 3> axes = is_vertex ? axesOf(element) : std::array<int, 3>{-1, -1, -1};
  // Every value takes a byte at least: a count beyond the data is corrupt,
  // and must not size the vectors below.
  if (element.properties.empty()) return;
  if (element.count > values.bytesLeft()) {
    throw Malformed("its header declares more " + element.name + " elements than its data holds");
  }
  if (is_vertex) surface.vertices.reserve(3 * element.count);
  std::vector<unsigned int> corners;
  for (std::uint64_t item = 0; item < element.count; ++item) {
    double point[3] = {0.0, 0.0, 0.0};
    for (size_t p = 0; p < element.properties.size(); ++p) {
      const Property& property = element.properties[p];
      if (property.list) {
        readList(values, property, is_face && isFaceList(property), item, vertex_count, corners, surface);
        continue;
      }
      const double value = values.next(property.type);
      for (int axis = 0; axis < 3; ++axis) {
        if (static_cast<int>(p) == axes[axis]) point[axis] = value;
      }
    }
    if (!is_vertex) continue;
    if (!std::isfinite(point[0]) || !std::isfinite(point[1]) || !std::isfinite(point[2])) {
      throw Malformed("vertex " + std::to_string(item) + " is not finite");
    }
    surface.vertices.insert(surface.vertices.end(), point, point + 3);
  }
}

MeshSurface readSurface(std::string_view data) {
  const Header header = readHeader(data);
  const std::uint64_t vertex_count = vertexCount(header);
  ValueReader values(data.substr(header.data_start), header.format);
  MeshSurface surface;
  for (const Element& element : header.elements) readElement(element, vertex_count, values, surface);
  if (values.anythingLeft()) throw Malformed("its data is longer than the elements its header declares");
  return surface;
}

}  // namespace

bool looksLikePly(std::string_view data) {
  if (data.size() < 4) return false;
  for (int i = 0; i < 3; ++i) {
    if (std::tolower(static_cast<unsigned char>(data[i])) != "ply"[i]) return false;
  }
  return std::isspace(static_cast<unsigned char>(data[3]));
}

std::optional<MeshSurface> readPly(std::string_view data, std::string& refusal) {
  return surfaceOrRefusal([data] { return readSurface(data); }, refusal);
}

}  // namespace internal
}  // namespace bramlock
