#pragma once

// A small box written as Collada, glTF and GLB files, for the tests of their
// readers and of the hosts that load them.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <nlohmann/json.hpp>

namespace bramlock_test {

// A 40 x 40 x 100 mm box centred on its origin: corner i has x from bit 0,
// y from bit 1, z from bit 2; its quads wound outwards, and their triangles
// as fans from the first corner, written out.
inline Eigen::Vector3d corner(int i) {
  return Eigen::Vector3d(i & 1 ? 0.02 : -0.02, i & 2 ? 0.02 : -0.02, i & 4 ? 0.05 : -0.05);
}
inline const std::vector<std::vector<int>> kQuads = {{0, 2, 3, 1}, {4, 5, 7, 6}, {0, 1, 5, 4},
                                                     {2, 6, 7, 3}, {0, 4, 6, 2}, {1, 3, 7, 5}};
inline const std::vector<unsigned int> kBoxTriangles = {0, 2, 3, 0, 3, 1, 4, 5, 7, 4, 7, 6, 0, 1, 5, 0, 5, 4,
                                                        2, 6, 7, 2, 7, 3, 0, 4, 6, 0, 6, 2, 1, 3, 7, 1, 7, 5};

// The parts of a Collada box file a test varies.
struct Dae {
  std::string unit = "";  // the <unit> element's meter attribute; none when empty
  double file_units_per_metre = 1.0;
  std::string float_array_count = "count=\"24\"";
  std::string accessor = "count=\"8\" stride=\"3\"";
  std::string primitive;  // the <polylist> of the quads when empty
  std::string scene = "<node id=\"n\"><instance_geometry url=\"#box\"/></node>";  // none when empty
  std::string library_nodes;
};

// The quads as a polylist whose corners interleave a normal index after the vertex's.
inline std::string polylistOfQuads() {
  std::string vcount, p;
  for (const std::vector<int>& quad : kQuads) {
    vcount += "4 ";
    for (int index : quad) p += std::to_string(index) + " 0 ";
  }
  return "<polylist count=\"6\"><input semantic=\"VERTEX\" source=\"#box-v\" offset=\"0\"/>"
         "<input semantic=\"NORMAL\" source=\"#box-n\" offset=\"1\"/><vcount>" +
         vcount + "</vcount><p>" + p + "</p></polylist>";
}

inline std::string daeFile(const Dae& dae) {
  std::string positions;
  for (int i = 0; i < 8; ++i) {
    for (int axis = 0; axis < 3; ++axis) positions += std::to_string(corner(i)[axis] * dae.file_units_per_metre) + " ";
  }
  return "<?xml version=\"1.0\"?>\n<COLLADA xmlns=\"http://www.collada.org/2005/11/COLLADASchema\" version=\"1.4.1\">"
         "<asset>" +
         (dae.unit.empty() ? "" : "<unit meter=\"" + dae.unit + "\" name=\"u\"/>") +
         "<up_axis>Z_UP</up_axis></asset><library_geometries><geometry id=\"box\"><mesh>"
         "<source id=\"box-p\"><float_array id=\"box-pa\" " +
         dae.float_array_count + ">" + positions + "</float_array><technique_common><accessor source=\"#box-pa\" " +
         dae.accessor +
         "><param name=\"X\" type=\"float\"/><param name=\"Y\" type=\"float\"/><param name=\"Z\" type=\"float\"/>"
         "</accessor></technique_common></source>"
         "<source id=\"box-n\"><float_array id=\"box-na\" count=\"3\">0 0 1</float_array><technique_common>"
         "<accessor source=\"#box-na\" count=\"1\" stride=\"3\"/></technique_common></source>"
         "<vertices id=\"box-v\"><input semantic=\"POSITION\" source=\"#box-p\"/></vertices>" +
         (dae.primitive.empty() ? polylistOfQuads() : dae.primitive) + "</mesh></geometry></library_geometries>" +
         (dae.library_nodes.empty() ? "" : "<library_nodes>" + dae.library_nodes + "</library_nodes>") +
         (dae.scene.empty() ? ""
                            : "<library_visual_scenes><visual_scene id=\"s\">" + dae.scene +
                                  "</visual_scene></library_visual_scenes><scene><instance_visual_scene url=\"#s\"/>"
                                  "</scene>") +
         "</COLLADA>";
}

// The box file with the parts a test varies changed.
inline std::string daeWith(const std::function<void(Dae&)>& change) {
  Dae dae;
  change(dae);
  return daeFile(dae);
}

inline void appendLittleEndian(std::string& bytes, std::uint32_t value, size_t size = 4) {
  for (size_t i = 0; i < size; ++i) bytes.push_back(static_cast<char>((value >> (8 * i)) & 0xFF));
}

// The box's buffer: 8 float corners, then 36 unsigned short indices.
inline std::string boxBuffer() {
  std::string bytes;
  for (int i = 0; i < 8; ++i) {
    for (int axis = 0; axis < 3; ++axis) {
      const float value = static_cast<float>(corner(i)[axis]);
      std::uint32_t bits;
      std::memcpy(&bits, &value, 4);
      appendLittleEndian(bytes, bits);
    }
  }
  for (unsigned int index : kBoxTriangles) appendLittleEndian(bytes, index, 2);
  return bytes;
}

inline nlohmann::json gltfBox(const nlohmann::json& buffer) {
  return {{"asset", {{"generator", "the scene tests"}, {"version", "2.0"}}},
          {"scene", 0},
          {"scenes", {{{"nodes", {0}}}}},
          {"nodes", {{{"mesh", 0}}}},
          {"meshes", {{{"primitives", {{{"attributes", {{"POSITION", 0}}}, {"indices", 1}}}}}}},
          {"accessors",
           {{{"bufferView", 0}, {"componentType", 5126}, {"count", 8}, {"type", "VEC3"}},
            {{"bufferView", 1}, {"componentType", 5123}, {"count", 36}, {"type", "SCALAR"}}}},
          {"bufferViews",
           {{{"buffer", 0}, {"byteOffset", 0}, {"byteLength", 96}},
            {{"buffer", 0}, {"byteOffset", 96}, {"byteLength", 72}}}},
          {"buffers", {buffer}}};
}

// The glTF box with its node shifted `y` metres along y by a matrix.
inline nlohmann::json gltfBoxShifted(double y) {
  nlohmann::json document = gltfBox({{"byteLength", 168}});
  document["nodes"][0]["matrix"] = {1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, y, 0, 1};
  return document;
}

inline std::string glbFile(const nlohmann::json& document, std::string bin) {
  std::string text = document.dump();
  text.resize((text.size() + 3) / 4 * 4, ' ');
  bin.resize((bin.size() + 3) / 4 * 4, '\0');
  std::string file = "glTF";
  appendLittleEndian(file, 2);
  appendLittleEndian(file, static_cast<std::uint32_t>(12 + 8 + text.size() + 8 + bin.size()));
  appendLittleEndian(file, static_cast<std::uint32_t>(text.size()));
  file += "JSON" + text;
  appendLittleEndian(file, static_cast<std::uint32_t>(bin.size()));
  file += std::string("BIN\0", 4) + bin;
  return file;
}

inline std::string base64(const std::string& bytes) {
  const char* alphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  std::string text;
  for (size_t i = 0; i < bytes.size(); i += 3) {
    const size_t taken = std::min<size_t>(3, bytes.size() - i);
    std::uint32_t group = 0;
    for (size_t k = 0; k < 3; ++k) group = group << 8 | (k < taken ? static_cast<unsigned char>(bytes[i + k]) : 0);
    for (size_t k = 0; k < 4; ++k) text.push_back(k <= taken ? alphabet[(group >> (18 - 6 * k)) & 63] : '=');
  }
  return text;
}

}  // namespace bramlock_test
