#include "gltf_reader.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <vector>

#include <Eigen/Geometry>
#include <nlohmann/json.hpp>

#include "scene_assembly.h"

namespace bramlock {
namespace internal {

namespace {

using nlohmann::json;

constexpr std::uint32_t kGlbMagic = 0x46546C67;  // "glTF"
constexpr std::uint32_t kJsonChunk = 0x4E4F534A;
constexpr std::uint32_t kBinChunk = 0x004E4942;
constexpr size_t kGlbHeaderBytes = 12;
constexpr size_t kChunkHeaderBytes = 8;

// glTF nests a few levels (extras a few more); deeper nesting is refused
// before it costs a JSON value per byte.
constexpr int kMaxJsonDepth = 64;

constexpr std::uint64_t kFloat = 5126;
constexpr std::uint64_t kUnsignedByte = 5121;
constexpr std::uint64_t kUnsignedShort = 5123;
constexpr std::uint64_t kUnsignedInt = 5125;

std::uint32_t littleEndian32(std::string_view bytes, size_t at) {
  std::uint32_t value = 0;
  for (size_t i = 0; i < 4; ++i) value |= std::uint32_t{static_cast<unsigned char>(bytes[at + i])} << (8 * i);
  return value;
}

// The JSON and the binary chunk of a GLB container, every length checked
// against the bytes there are before anything is taken.
struct GlbChunks {
  std::string_view json;
  std::optional<std::string_view> bin;
};

GlbChunks glbChunks(std::string_view data) {
  if (data.size() < kGlbHeaderBytes) throw Malformed("its GLB header is cut short");
  const std::uint32_t version = littleEndian32(data, 4);
  if (version != 2) throw Malformed("its GLB version is " + std::to_string(version) + ", not 2");
  const std::uint32_t length = littleEndian32(data, 8);
  if (length != data.size()) {
    throw Malformed("its GLB header declares " + std::to_string(length) + " bytes, but it has " +
                    std::to_string(data.size()));
  }
  GlbChunks chunks;
  bool json_seen = false;
  for (size_t at = kGlbHeaderBytes; at < data.size();) {
    if (data.size() - at < kChunkHeaderBytes) {
      throw Malformed("its GLB chunk at byte " + std::to_string(at) + " is cut short");
    }
    const std::uint32_t chunk_length = littleEndian32(data, at);
    const std::uint32_t type = littleEndian32(data, at + 4);
    at += kChunkHeaderBytes;
    if (chunk_length > data.size() - at) {
      throw Malformed("its GLB chunk at byte " + std::to_string(at - kChunkHeaderBytes) + " declares " +
                      std::to_string(chunk_length) + " bytes, past the end of the file");
    }
    const std::string_view body = data.substr(at, chunk_length);
    at += chunk_length;
    if (!json_seen && type != kJsonChunk) throw Malformed("its first GLB chunk is not JSON");
    if (!json_seen) {
      chunks.json = body;
    } else if (type == kBinChunk && !chunks.bin) {
      chunks.bin = body;
    }
    json_seen = true;
  }
  if (!json_seen) throw Malformed("its GLB holds no chunk");
  return chunks;
}

// What a refusal calls an element of a top-level array: "accessor 3".
std::string named(const char* kind, std::uint64_t index) { return std::string(kind) + " " + std::to_string(index); }

const json* memberOf(const json& object, const char* key) {
  const auto found = object.find(key);
  return found == object.end() ? nullptr : &*found;
}

// A member that must be a whole non-negative number; `fallback` when absent, if the member may be.
std::uint64_t wholeMember(const json& object, const char* key, const std::string& owner,
                          std::optional<std::uint64_t> fallback = std::nullopt) {
  const json* value = memberOf(object, key);
  if (!value && fallback) return *fallback;
  if (!value) throw Malformed("its " + owner + " has no " + key);
  if (!value->is_number_unsigned()) {
    throw Malformed("its " + owner + "'s " + key + " is not a whole non-negative number");
  }
  return value->get<std::uint64_t>();
}

std::string textMember(const json& object, const char* key, const std::string& owner) {
  const json* value = memberOf(object, key);
  if (!value || !value->is_string()) throw Malformed("its " + owner + " has no text " + key);
  return value->get<std::string>();
}

// A member that must be an array of `size` finite numbers, if the object has it.
std::optional<std::vector<double>> numbersMember(const json& object, const char* key, size_t size,
                                                 const std::string& owner) {
  const json* value = memberOf(object, key);
  if (!value) return std::nullopt;
  if (!value->is_array() || value->size() != size) {
    throw Malformed("its " + owner + "'s " + key + " is not " + std::to_string(size) + " numbers");
  }
  std::vector<double> numbers;
  for (const json& number : *value) {
    if (!number.is_number() || !std::isfinite(number.get<double>())) {
      throw Malformed("its " + owner + "'s " + key + " holds a value that is not a finite number");
    }
    numbers.push_back(number.get<double>());
  }
  return numbers;
}

// A top-level array of objects ("accessors", "nodes", ...); empty when absent.
const json& objectsNamed(const json& document, const char* key) {
  static const json kNone = json::array();
  const json* array = memberOf(document, key);
  if (!array) return kNone;
  if (!array->is_array()) throw Malformed(std::string("its ") + key + " are not an array");
  for (const json& object : *array) {
    if (!object.is_object()) throw Malformed(std::string("its ") + key + " hold an entry that is not an object");
  }
  return *array;
}

const json& entry(const json& array, std::uint64_t index, const char* kind, const std::string& referrer) {
  if (index >= array.size()) {
    throw Malformed("its " + referrer + " names " + named(kind, index) + " of " + std::to_string(array.size()));
  }
  return array[index];
}

// The bytes a strict base64 text stands for, or nothing.
std::optional<std::string> base64Decoded(std::string_view text) {
  constexpr std::string_view kAlphabet = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
  if (text.size() % 4 != 0) return std::nullopt;
  const size_t padding = text.size() - std::min(text.size(), text.find_last_not_of('=') + 1);
  if (padding > 2) return std::nullopt;
  std::string bytes;
  bytes.reserve(text.size() / 4 * 3);
  std::uint32_t bits = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const size_t value = i < text.size() - padding ? kAlphabet.find(text[i]) : 0;
    if (value == std::string_view::npos) return std::nullopt;
    bits = bits << 6 | static_cast<std::uint32_t>(value);
    if (i % 4 != 3) continue;
    for (int shift = 16; shift >= 0; shift -= 8) bytes.push_back(static_cast<char>((bits >> shift) & 0xFF));
    bits = 0;
  }
  bytes.resize(bytes.size() - padding);
  return bytes;
}

// A URI's percent escapes decoded; a malformed escape is refused.
std::string percentDecoded(const std::string& uri) {
  std::string decoded;
  for (size_t i = 0; i < uri.size(); ++i) {
    if (uri[i] != '%') {
      decoded.push_back(uri[i]);
      continue;
    }
    if (i + 2 >= uri.size() || !std::isxdigit(static_cast<unsigned char>(uri[i + 1])) ||
        !std::isxdigit(static_cast<unsigned char>(uri[i + 2]))) {
      throw Malformed("its buffer URI " + quotedForRefusal(uri) + " has a malformed escape");
    }
    decoded.push_back(static_cast<char>(std::stoi(uri.substr(i + 1, 2), nullptr, 16)));
    i += 2;
  }
  return decoded;
}

// The glTF's buffers, each read when first needed and exactly as long as it declares.
class GltfBuffers {
 public:
  GltfBuffers(const json& document, std::optional<std::string_view> bin, const std::string& directory,
              SceneAssembly& assembly)
      : buffers_(objectsNamed(document, "buffers")), bin_(bin), directory_(directory), assembly_(assembly) {}

  std::string_view bytes(std::uint64_t index, const std::string& referrer) {
    const auto read = read_.find(index);
    if (read != read_.end()) return read->second;
    const json& buffer = entry(buffers_, index, "buffer", referrer);
    const std::string owner = named("buffer", index);
    const std::uint64_t length = wholeMember(buffer, "byteLength", owner);
    const json* uri = memberOf(buffer, "uri");
    if (!uri) return binBytes(owner, length);
    if (!uri->is_string()) throw Malformed("its " + owner + "'s uri is not text");
    const std::string text = uri->get<std::string>();
    std::string held = text.rfind("data:", 0) == 0 ? dataUriBytes(text, owner, length) : fileBytes(text, owner, length);
    return read_.emplace(index, std::move(held)).first->second;
  }

 private:
  std::string_view binBytes(const std::string& owner, std::uint64_t length) const {
    if (!bin_) throw Malformed("its " + owner + " has no uri, and the file no GLB binary chunk");
    if (length > bin_->size()) {
      throw Malformed("its " + owner + " declares " + std::to_string(length) + " bytes, but the binary chunk holds " +
                      std::to_string(bin_->size()));
    }
    return bin_->substr(0, length);
  }

  static std::string dataUriBytes(const std::string& uri, const std::string& owner, std::uint64_t length) {
    const size_t comma = uri.find(',');
    const size_t base64 = uri.find(";base64,");
    if (comma == std::string::npos || base64 == std::string::npos || base64 + 7 != comma) {
      throw Malformed("its " + owner + "'s data URI is not base64");
    }
    std::optional<std::string> bytes = base64Decoded(std::string_view(uri).substr(comma + 1));
    if (!bytes) throw Malformed("its " + owner + "'s data URI is not valid base64");
    if (bytes->size() < length) {
      throw Malformed("its " + owner + " declares " + std::to_string(length) + " bytes, but its data URI holds " +
                      std::to_string(bytes->size()));
    }
    bytes->resize(length);
    return std::move(*bytes);
  }

  // A buffer file beside the glTF file or below its directory: paths that
  // could reach elsewhere (absolute, "..", other schemes) are refused.
  std::string fileBytes(const std::string& uri, const std::string& owner, std::uint64_t length) {
    const std::filesystem::path relative(percentDecoded(uri));
    bool leaves_directory = relative.empty() || relative.has_root_path() || uri.find(':') != std::string::npos;
    for (const std::filesystem::path& part : relative) leaves_directory = leaves_directory || part == "..";
    if (leaves_directory) {
      throw Malformed("its " + owner + " names " + quotedForRefusal(uri) + ", not a file beside it or below");
    }
    const std::filesystem::path path = std::filesystem::path(directory_) / relative;
    const std::string shown = "its buffer file " + quotedForRefusal(uri);
    std::error_code error;
    if (!std::filesystem::exists(path, error)) {
      throw Malformed(shown + " is missing from " + quotedForRefusal(directory_));
    }
    const std::uintmax_t size = std::filesystem::file_size(path, error);
    if (error) throw Malformed(shown + " cannot be read (" + error.message() + ")");
    if (size < length) {
      throw Malformed(shown + " holds " + std::to_string(size) + " bytes, fewer than the " + std::to_string(length) +
                      " its " + owner + " declares");
    }
    std::string bytes(length, '\0');
    std::ifstream file(path, std::ios::binary);
    if (!file.read(bytes.data(), static_cast<std::streamsize>(length))) throw Malformed(shown + " cannot be read");
    assembly_.addInput(length);
    return bytes;
  }

  const json& buffers_;
  std::optional<std::string_view> bin_;
  std::string directory_;
  SceneAssembly& assembly_;
  std::map<std::uint64_t, std::string> read_;
};

// An accessor's elements as they lie in their buffer: element k starts at
// bytes[k * stride]; every element is checked to lie within its view.
struct AccessorBytes {
  std::string_view bytes;
  std::uint64_t count = 0;
  std::uint64_t stride = 0;
};

class GltfScene {
 public:
  GltfScene(const json& document, GltfBuffers& buffers, SceneAssembly& assembly)
      : document_(document),
        accessors_(objectsNamed(document, "accessors")),
        views_(objectsNamed(document, "bufferViews")),
        meshes_(objectsNamed(document, "meshes")),
        nodes_(objectsNamed(document, "nodes")),
        buffers_(buffers),
        assembly_(assembly) {}

  void placeAll() {
    if (nodes_.empty()) {
      for (std::uint64_t mesh = 0; mesh < meshes_.size(); ++mesh) placeMesh(mesh, Eigen::Affine3d::Identity());
      return;
    }
    for (std::uint64_t root : rootNodes()) placeNode(root, Eigen::Affine3d::Identity(), 0);
  }

 private:
  std::vector<std::uint64_t> indicesIn(const json& object, const char* key, const std::string& owner) const {
    std::vector<std::uint64_t> indices;
    const json* array = memberOf(object, key);
    if (!array) return indices;
    if (!array->is_array()) throw Malformed("its " + owner + "'s " + key + " are not an array");
    for (const json& index : *array) {
      if (!index.is_number_unsigned()) {
        throw Malformed("its " + owner + "'s " + key + " hold a value that is no index");
      }
      indices.push_back(index.get<std::uint64_t>());
    }
    return indices;
  }

  // The default scene's nodes, else every node that is no node's child.
  std::vector<std::uint64_t> rootNodes() const {
    if (memberOf(document_, "scene")) {
      const std::uint64_t scene = wholeMember(document_, "scene", "document");
      return indicesIn(entry(objectsNamed(document_, "scenes"), scene, "scene", "default scene"), "nodes",
                       named("scene", scene));
    }
    std::vector<bool> is_child(nodes_.size(), false);
    for (std::uint64_t node = 0; node < nodes_.size(); ++node) {
      for (std::uint64_t child : indicesIn(nodes_[node], "children", named("node", node))) {
        if (child < is_child.size()) is_child[child] = true;
      }
    }
    std::vector<std::uint64_t> roots;
    for (std::uint64_t node = 0; node < nodes_.size(); ++node) {
      if (!is_child[node]) roots.push_back(node);
    }
    return roots;
  }

  static Eigen::Affine3d poseOf(const json& node, const std::string& owner) {
    Eigen::Affine3d pose = Eigen::Affine3d::Identity();
    if (const std::optional<std::vector<double>> columns = numbersMember(node, "matrix", 16, owner)) {
      for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) pose(r, c) = (*columns)[4 * c + r];
      }
      return pose;
    }
    if (const std::optional<std::vector<double>> t = numbersMember(node, "translation", 3, owner)) {
      pose.translate(Eigen::Vector3d((*t)[0], (*t)[1], (*t)[2]));
    }
    if (const std::optional<std::vector<double>> q = numbersMember(node, "rotation", 4, owner)) {
      const Eigen::Quaterniond rotation((*q)[3], (*q)[0], (*q)[1], (*q)[2]);
      if (!(rotation.norm() > 0)) throw Malformed("its " + owner + "'s rotation is no rotation");
      pose.rotate(rotation.normalized());
    }
    if (const std::optional<std::vector<double>> s = numbersMember(node, "scale", 3, owner)) {
      pose.scale(Eigen::Vector3d((*s)[0], (*s)[1], (*s)[2]));
    }
    return pose;
  }

  void placeNode(std::uint64_t index, const Eigen::Affine3d& parent_pose, size_t depth) {
    assembly_.enterNode(depth);
    const std::string owner = named("node", index);
    const json& node = entry(nodes_, index, "node", depth == 0 ? "scene" : "nodes' children");
    for (std::uint64_t ancestor : path_) {
      if (ancestor == index) throw Malformed("its " + owner + " is its own ancestor");
    }
    path_.push_back(index);
    const Eigen::Affine3d pose = parent_pose * poseOf(node, owner);
    if (memberOf(node, "mesh")) placeMesh(wholeMember(node, "mesh", owner), pose);
    for (std::uint64_t child : indicesIn(node, "children", owner)) placeNode(child, pose, depth + 1);
    path_.pop_back();
  }

  void placeMesh(std::uint64_t index, const Eigen::Affine3d& pose) {
    auto read = read_meshes_.find(index);
    if (read == read_meshes_.end()) read = read_meshes_.emplace(index, surfacesOf(index)).first;
    for (const MeshSurface& primitive : read->second) assembly_.place(primitive, pose);
  }

  std::vector<MeshSurface> surfacesOf(std::uint64_t index) {
    const std::string owner = named("mesh", index);
    const json& mesh = entry(meshes_, index, "mesh", "node");
    const json* primitives = memberOf(mesh, "primitives");
    if (!primitives || !primitives->is_array()) throw Malformed("its " + owner + " has no primitives");
    std::vector<MeshSurface> surfaces;
    for (size_t k = 0; k < primitives->size(); ++k) {
      const json& primitive = (*primitives)[k];
      if (!primitive.is_object()) throw Malformed("its " + owner + " has a primitive that is not an object");
      surfaces.push_back(surfaceOf(primitive, owner + " primitive " + std::to_string(k)));
    }
    return surfaces;
  }

  MeshSurface surfaceOf(const json& primitive, const std::string& owner) {
    const std::uint64_t mode = wholeMember(primitive, "mode", owner, std::optional<std::uint64_t>(4));
    if (mode > 6) throw Malformed("its " + owner + " has mode " + std::to_string(mode) + ", which glTF lacks");
    const json* attributes = memberOf(primitive, "attributes");
    if (!attributes || !attributes->is_object()) throw Malformed("its " + owner + " has no attributes");
    if (mode < 4 || !memberOf(*attributes, "POSITION")) return {};
    MeshSurface surface;
    surface.vertices = positionsOf(wholeMember(*attributes, "POSITION", owner));
    const size_t vertex_count = surface.vertices.size() / 3;
    std::vector<unsigned int> corners;
    if (memberOf(primitive, "indices")) {
      corners = indicesOf(wholeMember(primitive, "indices", owner), vertex_count);
    } else {
      for (size_t i = 0; i < vertex_count; ++i) corners.push_back(static_cast<unsigned int>(i));
    }
    if (mode == 4 && corners.size() % 3 != 0) {
      throw Malformed("its " + owner + " holds corners that are not whole triangles");
    }
    if (mode == 4) surface.triangles = std::move(corners);
    if (mode == 5) appendStrip(corners, surface.triangles);
    if (mode == 6) appendFan(corners, surface.triangles);
    return surface;
  }

  // Where an accessor's elements lie, checked against its view and buffer.
  AccessorBytes accessorBytes(std::uint64_t index, const std::string& owner, std::uint64_t element_size) {
    const json& accessor = entry(accessors_, index, "accessor", "mesh");
    if (memberOf(accessor, "sparse")) throw Malformed("its " + owner + " is sparse, which is not read");
    const std::uint64_t view_index = wholeMember(accessor, "bufferView", owner);
    const std::string view_owner = named("bufferView", view_index);
    const json& view = entry(views_, view_index, "bufferView", owner);
    const std::string_view buffer = buffers_.bytes(wholeMember(view, "buffer", view_owner), view_owner);
    const std::uint64_t view_offset = wholeMember(view, "byteOffset", view_owner, std::optional<std::uint64_t>(0));
    const std::uint64_t view_length = wholeMember(view, "byteLength", view_owner);
    if (view_offset > buffer.size() || view_length > buffer.size() - view_offset) {
      throw Malformed("its " + view_owner + " reaches past the end of its buffer");
    }
    AccessorBytes found;
    found.stride = wholeMember(view, "byteStride", view_owner, element_size);
    found.count = wholeMember(accessor, "count", owner);
    if (found.stride < element_size) {
      throw Malformed("its " + view_owner + "'s byteStride is below its elements' size");
    }
    const std::uint64_t offset = wholeMember(accessor, "byteOffset", owner, std::optional<std::uint64_t>(0));
    if (found.count == 0) return found;
    if (offset > view_length || view_length - offset < element_size ||
        (view_length - offset - element_size) / found.stride < found.count - 1) {
      throw Malformed("its " + owner + " reaches past the end of its bufferView");
    }
    found.bytes = buffer.substr(view_offset + offset, view_length - offset);
    return found;
  }

  void requireType(std::uint64_t index, const std::string& owner, const char* type) const {
    if (textMember(accessors_[index], "type", owner) != type) {
      throw Malformed("its " + owner + " is not of type " + type);
    }
  }

  std::vector<double> positionsOf(std::uint64_t index) {
    const std::string owner = named("accessor", index);
    const AccessorBytes found = accessorBytes(index, owner, 12);
    requireType(index, owner, "VEC3");
    if (wholeMember(accessors_[index], "componentType", owner) != kFloat) {
      throw Malformed("its positions' " + owner + " does not hold floats");
    }
    std::vector<double> positions;
    positions.reserve(3 * found.count);
    for (std::uint64_t k = 0; k < found.count; ++k) {
      for (size_t axis = 0; axis < 3; ++axis) {
        const std::uint32_t bits = littleEndian32(found.bytes, k * found.stride + 4 * axis);
        float value = 0;
        std::memcpy(&value, &bits, sizeof value);
        positions.push_back(value);
      }
    }
    return positions;
  }

  std::vector<unsigned int> indicesOf(std::uint64_t index, size_t vertex_count) {
    const std::string owner = named("accessor", index);
    const std::uint64_t component = wholeMember(entry(accessors_, index, "accessor", "mesh"), "componentType", owner);
    const size_t size = component == kUnsignedByte    ? 1
                        : component == kUnsignedShort ? 2
                        : component == kUnsignedInt   ? 4
                                                      : 0;
    if (size == 0) throw Malformed("its indices' " + owner + " does not hold unsigned bytes, shorts or ints");
    const AccessorBytes found = accessorBytes(index, owner, size);
    requireType(index, owner, "SCALAR");
    std::vector<unsigned int> corners;
    corners.reserve(found.count);
    for (std::uint64_t k = 0; k < found.count; ++k) {
      std::uint32_t corner = 0;
      for (size_t i = 0; i < size; ++i) {
        corner |= std::uint32_t{static_cast<unsigned char>(found.bytes[k * found.stride + i])} << (8 * i);
      }
      if (corner >= vertex_count) {
        throw Malformed("its indices' " + owner + " names vertex " + std::to_string(corner) + " of " +
                        std::to_string(vertex_count));
      }
      corners.push_back(corner);
    }
    return corners;
  }

  const json& document_;
  const json& accessors_;
  const json& views_;
  const json& meshes_;
  const json& nodes_;
  GltfBuffers& buffers_;
  SceneAssembly& assembly_;
  std::map<std::uint64_t, std::vector<MeshSurface>> read_meshes_;
  std::vector<std::uint64_t> path_;  // the nodes being placed, to catch one reached from itself
};

// Refuses JSON nested deeper than glTF needs before the parser builds a
// value per byte of it. Strings are skipped as JSON writes them; where the
// text is malformed the parser refuses it anyway. (The parser's callback
// could count the depth too, but it makes reading arrays of objects take
// the square of their length.)
void requireShallowNesting(std::string_view text) {
  int depth = 0;
  bool in_string = false;
  for (size_t i = 0; i < text.size(); ++i) {
    const char c = text[i];
    if (in_string) {
      if (c == '\\') ++i;
      in_string = c != '"';
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      if (++depth > kMaxJsonDepth) {
        throw Malformed("its JSON nests deeper than " + std::to_string(kMaxJsonDepth) + " levels");
      }
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
}

void requireReadableVersion(const json& document) {
  const json* asset = memberOf(document, "asset");
  if (!asset || !asset->is_object()) throw Malformed("it has no asset");
  const std::string version = textMember(*asset, "version", "asset");
  if (version.rfind("2.", 0) != 0) throw Malformed("its glTF version is " + quotedForRefusal(version) + ", not 2");
  const json* required = memberOf(document, "extensionsRequired");
  if (required && required->is_array() && !required->empty()) {
    const json& first = required->front();
    throw Malformed("it requires the extension " +
                    quotedForRefusal(first.is_string() ? first.get<std::string>() : "?") + ", which is not read");
  }
}

}  // namespace

std::optional<MeshSurface> readGltf(std::string_view data, const std::string& directory, std::string& refusal) {
  try {
    const bool binary = data.size() >= 4 && littleEndian32(data, 0) == kGlbMagic;
    const GlbChunks chunks = binary ? glbChunks(data) : GlbChunks{data, std::nullopt};
    json document;
    try {
      requireShallowNesting(chunks.json);
      document = json::parse(chunks.json.begin(), chunks.json.end());
    } catch (const json::parse_error& error) {
      throw Malformed("its JSON is malformed at byte " + std::to_string(error.byte));
    } catch (const json::out_of_range&) {
      throw Malformed("its JSON holds a number beyond the doubles");
    }
    if (!document.is_object()) throw Malformed("its JSON is not an object");
    requireReadableVersion(document);
    SceneAssembly assembly(data.size());
    GltfBuffers buffers(document, chunks.bin, directory, assembly);
    GltfScene(document, buffers, assembly).placeAll();
    return assembly.finish(1.0);
  } catch (const Malformed& fault) {
    refusal = fault.what();
    return std::nullopt;
  }
}

}  // namespace internal
}  // namespace bramlock
