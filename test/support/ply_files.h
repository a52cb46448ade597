#pragma once

// PLY files written at test time: a 40 x 40 x 100 mm box centred on its
// origin, as ASCII or binary, with faces or data that can be made corrupt.
// In binary little endian its data starts with the byte 0x0A (the low byte
// of the float -0.02), which a reader skipping white space after the header
// loses.

#include <cstdint>
#include <cstring>
#include <limits>
#include <sstream>
#include <string>
#include <vector>

namespace bramlock_test {

enum class PlyFormat { kAscii, kLittleEndian, kBigEndian };

struct PlyBox {
  std::vector<float> vertices;          // x, y, z per corner
  std::vector<std::vector<int>> faces;  // quads wound outwards
};

inline PlyBox plyBox() {
  PlyBox box;
  for (int i = 0; i < 8; ++i) {
    box.vertices.insert(box.vertices.end(), {i & 1 ? 0.02f : -0.02f, i & 2 ? 0.02f : -0.02f, i & 4 ? 0.05f : -0.05f});
  }
  box.faces = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4}, {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
  return box;
}

template <typename T>
void appendBinary(std::string& data, T value, PlyFormat format) {
  char bytes[sizeof(T)];
  std::memcpy(bytes, &value, sizeof(T));
  for (size_t i = 0; i < sizeof(T); ++i) {
    data.push_back(bytes[format == PlyFormat::kBigEndian ? sizeof(T) - 1 - i : i]);
  }
}

// The box as a PLY file: float x, y, z, and faces as uchar counts with int indices.
inline std::string plyFile(const PlyBox& box, PlyFormat format) {
  std::ostringstream header;
  header << "ply\nformat "
         << (format == PlyFormat::kAscii          ? "ascii"
             : format == PlyFormat::kLittleEndian ? "binary_little_endian"
                                                  : "binary_big_endian")
         << " 1.0\ncomment a 40 x 40 x 100 mm box\nelement vertex " << box.vertices.size() / 3
         << "\nproperty float x\nproperty float y\nproperty float z\nelement face " << box.faces.size()
         << "\nproperty list uchar int vertex_indices\nend_header\n";
  std::string data = header.str();
  if (format == PlyFormat::kAscii) {
    std::ostringstream text;
    text.precision(9);
    for (size_t i = 0; i < box.vertices.size(); i += 3) {
      text << box.vertices[i] << ' ' << box.vertices[i + 1] << ' ' << box.vertices[i + 2] << '\n';
    }
    for (const std::vector<int>& face : box.faces) {
      text << face.size();
      for (int index : face) text << ' ' << index;
      text << '\n';
    }
    return data + text.str();
  }
  for (float value : box.vertices) appendBinary(data, value, format);
  for (const std::vector<int>& face : box.faces) {
    appendBinary(data, static_cast<std::uint8_t>(face.size()), format);
    for (int index : face) appendBinary(data, static_cast<std::int32_t>(index), format);
  }
  return data;
}

// Corrupt copies of the box, named: faces naming a vertex past the last or a
// negative one, a vertex not finite, and data shorter or longer than declared.
struct CorruptPly {
  std::string name;
  std::string content;
};

inline std::vector<CorruptPly> corruptPlyFiles() {
  std::vector<CorruptPly> files;
  for (PlyFormat format : {PlyFormat::kAscii, PlyFormat::kLittleEndian}) {
    const std::string kind = format == PlyFormat::kAscii ? "ASCII " : "binary ";
    PlyBox past = plyBox();
    past.faces[3][2] = 100000000;
    files.push_back({kind + "index past the vertices", plyFile(past, format)});
    PlyBox negative = plyBox();
    negative.faces[5][1] = -5;
    files.push_back({kind + "negative index", plyFile(negative, format)});
    PlyBox nan = plyBox();
    nan.vertices[4] = std::numeric_limits<float>::quiet_NaN();
    files.push_back({kind + "NaN vertex", plyFile(nan, format)});
    const std::string whole = plyFile(plyBox(), format);
    files.push_back({kind + "short data", whole.substr(0, whole.size() - 7)});
    files.push_back({kind + "long data", whole + (format == PlyFormat::kAscii ? "3 0 1 2\n" : "\x03")});
  }
  return files;
}

}  // namespace bramlock_test
