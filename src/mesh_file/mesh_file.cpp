#include "mesh_file.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <optional>
#include <string_view>
#include <utility>

#include <resource_retriever/retriever.h>
#include <ament_index_cpp/get_package_share_directory.hpp>

#include "collada_reader.h"
#include "gltf_reader.h"
#include "obj_reader.h"
#include "off_reader.h"
#include "ply_reader.h"
#include "stl_reader.h"

namespace bramlock {
namespace internal {

namespace {

const std::string kFilePrefix = "file://";
const std::string kPackagePrefix = "package://";

enum class Format { kStl, kObj, kPly, kOff, kCollada, kGltf, kGlb, kUnknown };

// "name/rest" below the share directory of the installed package `name`.
std::optional<std::string> packageFile(const std::string& reference) {
  const std::size_t slash = reference.find('/');
  if (slash == 0 || slash == std::string::npos) return std::nullopt;
  try {
    return ament_index_cpp::get_package_share_directory(reference.substr(0, slash)) + reference.substr(slash);
  } catch (const std::exception&) {
    return std::nullopt;
  }
}

MeshFile notLoaded(const std::string& reason) { return {MeshFile::Outcome::kNotLoaded, nullptr, reason}; }

MeshFile refused(const std::string& reason) { return {MeshFile::Outcome::kRefused, nullptr, reason}; }

// The extension of the file a path or URI names, in lower case.
std::string extensionOf(const std::string& path) {
  const std::size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
  std::string extension = path.substr(dot + 1);
  std::transform(extension.begin(), extension.end(), extension.begin(),
                 [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
  return extension;
}

// The content decides where it tells the format unmistakably (a PLY file
// named otherwise is read as PLY), else the extension.
Format formatOf(std::string_view data, const std::string& extension) {
  if (looksLikePly(data)) return Format::kPly;
  static const std::pair<const char*, Format> kExtensions[] = {
      {"stl", Format::kStl},     {"obj", Format::kObj},   {"ply", Format::kPly}, {"off", Format::kOff},
      {"dae", Format::kCollada}, {"gltf", Format::kGltf}, {"glb", Format::kGlb}};
  for (const auto& [name, format] : kExtensions) {
    if (extension == name) return format;
  }
  if (isBinaryStl(data) || data.substr(0, 6) == "solid ") return Format::kStl;
  if (looksLikeOff(data)) return Format::kOff;
  return Format::kUnknown;
}

std::optional<MeshSurface> surfaceOf(Format format, std::string_view data, const std::string& directory,
                                     std::string& refusal) {
  switch (format) {
    case Format::kStl:
      return readStl(data, refusal);
    case Format::kObj:
      return readObj(data, refusal);
    case Format::kPly:
      return readPly(data, refusal);
    case Format::kOff:
      return readOff(data, refusal);
    case Format::kCollada:
      return readCollada(data, refusal);
    case Format::kGltf:
    case Format::kGlb:
      return readGltf(data, directory, refusal);
    case Format::kUnknown:
      break;
  }
  return std::nullopt;
}

const char* formatName(Format format) {
  static const char* kNames[] = {"STL", "OBJ", "PLY", "OFF", "Collada", "glTF", "GLB", ""};
  return kNames[static_cast<int>(format)];
}

std::shared_ptr<shapes::Mesh> meshOf(const MeshSurface& surface, const Eigen::Vector3d& scale) {
  const auto vertex_count = static_cast<unsigned int>(surface.vertices.size() / 3);
  const auto triangle_count = static_cast<unsigned int>(surface.triangles.size() / 3);
  auto mesh = std::make_shared<shapes::Mesh>(vertex_count, triangle_count);
  for (unsigned int i = 0; i < vertex_count; ++i) {
    for (int axis = 0; axis < 3; ++axis) mesh->vertices[3 * i + axis] = surface.vertices[3 * i + axis] * scale[axis];
  }
  std::copy(surface.triangles.begin(), surface.triangles.end(), mesh->triangles);
  mesh->computeTriangleNormals();
  mesh->computeVertexNormals();
  return mesh;
}

// The mesh the bytes of a file hold, read by the reader of its format.
MeshFile meshFromBytes(std::string_view data, const std::string& name, const std::string& directory,
                       const Eigen::Vector3d& scale) {
  if (data.empty()) return notLoaded("is empty");
  const std::string extension = extensionOf(name);
  const Format format = formatOf(data, extension);
  if (format == Format::kUnknown) {
    return notLoaded((extension.empty() ? "is of a format not told by its name or content"
                                        : "is a ." + extension + " file, a format not read") +
                     std::string(" (read are STL, OBJ, PLY, OFF, DAE, glTF and GLB)"));
  }
  std::string reason;
  const std::optional<MeshSurface> surface = surfaceOf(format, data, directory, reason);
  if (!surface) return refused(std::string("is not a readable ") + formatName(format) + " file: " + reason);
  if (surface->triangles.empty()) return refused(std::string("is a ") + formatName(format) + " file with no triangles");
  std::shared_ptr<shapes::Mesh> mesh = meshOf(*surface, scale);
  if (!Eigen::Map<const Eigen::ArrayXd>(mesh->vertices, 3 * static_cast<Eigen::Index>(mesh->vertex_count))
           .allFinite()) {
    return refused("has a vertex that is not finite at the scale it is given");
  }
  return {MeshFile::Outcome::kLoaded, mesh, ""};
}

// A URI of another scheme (http://, ...), fetched as geometric_shapes fetched it.
MeshFile fetchedMesh(const std::string& uri, const Eigen::Vector3d& scale) {
  resource_retriever::MemoryResource resource;
  try {
    resource = resource_retriever::Retriever().get(uri);
  } catch (const std::exception& error) {
    return notLoaded(std::string("cannot be fetched: ") + error.what());
  }
  const std::string_view data(reinterpret_cast<const char*>(resource.data.get()), resource.size);
  return meshFromBytes(data, uri, "", scale);
}

// The stream's bytes, sized once where the stream tells its length (a
// growing string would hold up to twice the file for a while).
std::optional<std::string> wholeContent(std::ifstream& stream) {
  stream.seekg(0, std::ios::end);
  const std::streamoff size = stream.tellg();
  stream.seekg(0, std::ios::beg);
  if (size < 0) {
    stream.clear();
    std::string data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
    return stream.bad() ? std::nullopt : std::optional<std::string>(std::move(data));
  }
  std::string data(static_cast<std::size_t>(size), '\0');
  if (!stream.read(data.data(), size)) return std::nullopt;
  return data;
}

std::string directoryOf(const std::string& path) {
  const std::size_t slash = path.find_last_of('/');
  return slash == std::string::npos ? "." : path.substr(0, slash + 1);
}

}  // namespace

MeshFile loadMeshFile(const std::string& resource, const Eigen::Vector3d& scale) {
  std::string path = resource;
  if (path.compare(0, kFilePrefix.size(), kFilePrefix) == 0) {
    path = path.substr(kFilePrefix.size());
  } else if (path.compare(0, kPackagePrefix.size(), kPackagePrefix) == 0) {
    const std::optional<std::string> found = packageFile(path.substr(kPackagePrefix.size()));
    if (!found) return notLoaded("names a package that is not installed");
    path = *found;
  } else if (path.find("://") != std::string::npos) {
    return fetchedMesh(resource, scale);
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return notLoaded("cannot be opened");
  const std::optional<std::string> data = wholeContent(stream);
  if (!data) return notLoaded("cannot be read");
  return meshFromBytes(*data, path, directoryOf(path), scale);
}

}  // namespace internal
}  // namespace bramlock
