#include "mesh_file.h"

#include <algorithm>
#include <cctype>
#include <cmath>
#include <fstream>
#include <iterator>
#include <optional>
#include <sstream>

#include <assimp/scene.h>
#include <geometric_shapes/mesh_operations.h>
#include <ament_index_cpp/get_package_share_directory.hpp>
#include <assimp/Importer.hpp>

#include "ply_reader.h"

namespace bramlock {
namespace internal {

namespace {

const std::string kFilePrefix = "file://";
const std::string kPackagePrefix = "package://";

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

// The loader is told the format by the file's extension.
std::string formatHint(const std::string& path) {
  const size_t dot = path.find_last_of('.');
  if (dot == std::string::npos || path.find('/', dot) != std::string::npos) return "";
  std::string hint = path.substr(dot + 1);
  std::transform(hint.begin(), hint.end(), hint.begin(), [](unsigned char c) { return std::tolower(c); });
  return hint;
}

// The scene as the loader reads it, before any post-processing: every face
// names vertices of its mesh and every vertex is finite, or the reason why not.
std::string firstFault(const aiScene& scene) {
  for (unsigned int m = 0; m < scene.mNumMeshes; ++m) {
    const aiMesh* mesh = scene.mMeshes[m];
    if (!mesh) continue;
    if (mesh->mNumVertices > 0 && !mesh->mVertices)
      return "has a mesh without vertex data (mesh " + std::to_string(m) + ")";
    for (unsigned int v = 0; v < mesh->mNumVertices; ++v) {
      const aiVector3D& vertex = mesh->mVertices[v];
      if (!std::isfinite(vertex.x) || !std::isfinite(vertex.y) || !std::isfinite(vertex.z)) {
        return "has a vertex that is not finite (vertex " + std::to_string(v) + " of mesh " + std::to_string(m) + ")";
      }
    }
    if (mesh->mNumFaces > 0 && !mesh->mFaces) return "has a mesh without face data (mesh " + std::to_string(m) + ")";
    for (unsigned int f = 0; f < mesh->mNumFaces; ++f) {
      const aiFace& face = mesh->mFaces[f];
      if (face.mNumIndices > 0 && !face.mIndices)
        return "has a face without vertex indices (face " + std::to_string(f) + ")";
      for (unsigned int k = 0; k < face.mNumIndices; ++k) {
        if (face.mIndices[k] < mesh->mNumVertices) continue;
        return "has a face naming vertex " + std::to_string(face.mIndices[k]) + " of " +
               std::to_string(mesh->mNumVertices) + " (face " + std::to_string(f) + " of mesh " + std::to_string(m) +
               ")";
      }
    }
  }
  return "";
}

std::shared_ptr<shapes::Mesh> meshOf(const PlySurface& surface, const Eigen::Vector3d& scale) {
  const unsigned int vertex_count = static_cast<unsigned int>(surface.vertices.size() / 3);
  const unsigned int triangle_count = static_cast<unsigned int>(surface.triangles.size() / 3);
  auto mesh = std::make_shared<shapes::Mesh>(vertex_count, triangle_count);
  for (unsigned int i = 0; i < vertex_count; ++i) {
    for (int axis = 0; axis < 3; ++axis) mesh->vertices[3 * i + axis] = surface.vertices[3 * i + axis] * scale[axis];
  }
  std::copy(surface.triangles.begin(), surface.triangles.end(), mesh->triangles);
  mesh->computeTriangleNormals();
  mesh->computeVertexNormals();
  return mesh;
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
    // Other schemes are fetched by the loader as they always were.
    std::shared_ptr<shapes::Mesh> mesh(shapes::createMeshFromResource(resource, scale));
    if (!mesh) return notLoaded("is not a mesh the loader fetches");
    return {MeshFile::Outcome::kLoaded, mesh, ""};
  }
  std::ifstream stream(path, std::ios::binary);
  if (!stream) return notLoaded("cannot be opened");
  const std::string data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
  if (stream.bad()) return notLoaded("cannot be read");
  if (data.empty()) return notLoaded("is empty");

  if (looksLikePly(data)) {
    std::string reason;
    const std::optional<PlySurface> surface = readPly(data, reason);
    if (!surface) return refused("is not a readable PLY file: " + reason);
    if (!surface->ascii) return {MeshFile::Outcome::kLoaded, meshOf(*surface, scale), ""};
  }

  const std::string hint = formatHint(path);
  {
    Assimp::Importer importer;
    const aiScene* scene = importer.ReadFileFromMemory(data.data(), data.size(), 0, hint.c_str());
    if (!scene) return notLoaded(std::string("is not a mesh the loader reads: ") + importer.GetErrorString());
    const std::string fault = firstFault(*scene);
    if (!fault.empty()) return refused(fault);
  }
  std::shared_ptr<shapes::Mesh> mesh(shapes::createMeshFromBinary(data.data(), data.size(), scale, hint));
  if (!mesh) return notLoaded("is not a mesh the loader reads");
  return {MeshFile::Outcome::kLoaded, mesh, ""};
}

}  // namespace internal
}  // namespace bramlock
