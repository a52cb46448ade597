// Mesh files are read as written or refused: binary PLY whatever its first
// data byte, corrupt PLY and STL files refused with the reason, package URIs
// below the package's share directory, and STL as the general loader gave it.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>

#include "mesh_file/mesh_file.h"
#include "ply_files.h"
#include "scene_arm.h"
#include "test_support.h"

namespace {

using bramlock::internal::loadMeshFile;
using bramlock::internal::MeshFile;
using namespace bramlock_test;

std::vector<double> verticesOf(const shapes::Mesh& mesh) {
  return std::vector<double>(mesh.vertices, mesh.vertices + 3 * mesh.vertex_count);
}

std::vector<unsigned int> trianglesOf(const shapes::Mesh& mesh) {
  return std::vector<unsigned int>(mesh.triangles, mesh.triangles + 3 * mesh.triangle_count);
}

std::string written(const TempDir& dir, const std::string& name, const std::string& content) {
  const std::string path = (dir.path() / name).string();
  writeFile(path, content);
  return path;
}

// The box's corners as doubles, and its quads as fans from their first corner.
std::vector<double> boxVertices() {
  const PlyBox box = plyBox();
  return std::vector<double>(box.vertices.begin(), box.vertices.end());
}

std::vector<unsigned int> boxTriangles() {
  std::vector<unsigned int> triangles;
  for (const std::vector<int>& face : plyBox().faces) {
    for (size_t k = 2; k < face.size(); ++k) {
      triangles.insert(triangles.end(), {static_cast<unsigned int>(face[0]), static_cast<unsigned int>(face[k - 1]),
                                         static_cast<unsigned int>(face[k])});
    }
  }
  return triangles;
}

TEST(MeshFiles, BinaryPlyLoadsAsWrittenWhateverItsFirstDataByte) {
  TempDir dir;
  const std::string little = plyFile(plyBox(), PlyFormat::kLittleEndian);
  ASSERT_EQ(little[little.find("end_header\n") + 11], '\x0A') << "the data starts with a line feed";
  for (const auto& [name, content] :
       {std::pair{"little.ply", little}, std::pair{"big.ply", plyFile(plyBox(), PlyFormat::kBigEndian)}}) {
    const MeshFile file = loadMeshFile("file://" + written(dir, name, content));
    ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << name << ": " << file.reason;
    EXPECT_EQ(verticesOf(*file.mesh), boxVertices()) << name;
    EXPECT_EQ(trianglesOf(*file.mesh), boxTriangles()) << name;
    ASSERT_NE(file.mesh->triangle_normals, nullptr);
    EXPECT_NEAR(file.mesh->triangle_normals[2], -1.0, 1e-12) << "the first quad faces down";
  }
  // A path without the scheme, and a scale per axis.
  const std::string plain = written(dir, "plain.ply", little);
  const MeshFile scaled = loadMeshFile(plain, Eigen::Vector3d(2.0, 1.0, 10.0));
  ASSERT_EQ(scaled.outcome, MeshFile::Outcome::kLoaded) << scaled.reason;
  EXPECT_DOUBLE_EQ(scaled.mesh->vertices[0], 2.0 * static_cast<double>(-0.02f));
  EXPECT_DOUBLE_EQ(scaled.mesh->vertices[2], 10.0 * static_cast<double>(-0.05f));
  // A scale that leaves a vertex not finite gives no mesh.
  for (const Eigen::Vector3d& bad : {Eigen::Vector3d(kNaN, 1.0, 1.0), Eigen::Vector3d(1.0, -kInf, 1.0)}) {
    const MeshFile file = loadMeshFile(plain, bad);
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << bad.transpose();
    EXPECT_TRUE(contains(file.reason, "not finite at the scale")) << file.reason;
  }
}

TEST(MeshFiles, CorruptPlyAndNanStlAreRefusedWithTheReason) {
  TempDir dir;
  for (const CorruptPly& corrupt : corruptPlyFiles()) {
    const MeshFile file = loadMeshFile("file://" + written(dir, "corrupt.ply", corrupt.content));
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << corrupt.name;
    EXPECT_EQ(file.mesh, nullptr) << corrupt.name;
    EXPECT_FALSE(file.reason.empty()) << corrupt.name;
  }
  const auto reasonFor = [&](const std::string& content) {
    return loadMeshFile(written(dir, "named.ply", content)).reason;
  };
  PlyBox past = plyBox();
  past.faces[0][1] = 100000000;
  EXPECT_TRUE(contains(reasonFor(plyFile(past, PlyFormat::kLittleEndian)), "face 0 names vertex 100000000 of 8"));
  PlyBox negative = plyBox();
  negative.faces[2][0] = -5;
  EXPECT_TRUE(contains(reasonFor(plyFile(negative, PlyFormat::kAscii)), "face 2 names vertex -5 of 8"));
  const std::string header_only = plyFile(plyBox(), PlyFormat::kAscii);
  EXPECT_TRUE(contains(reasonFor(header_only.substr(0, header_only.find("end_header"))), "no end_header"));

  // A binary STL with the first vertex's x not a number: the loader's
  // post-processing would join it with another vertex.
  std::string stl = fileText(fixturePath("scene_arm/scene_arm_description/meshes/box.stl"));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&stl[84 + 12], &nan, sizeof nan);
  const MeshFile file = loadMeshFile("file://" + written(dir, "nan.stl", stl));
  EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused);
  EXPECT_TRUE(contains(file.reason, "vertex 0 is not finite")) << file.reason;
}

TEST(MeshFiles, FilesThatAreNoMeshOrNotThereAreNotLoaded) {
  TempDir dir;
  EXPECT_EQ(loadMeshFile("file:///no/such/dir/tool.stl").outcome, MeshFile::Outcome::kNotLoaded);
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", amentPrefixPath()}});
  EXPECT_EQ(loadMeshFile("package://no_such_package/meshes/tool.stl").outcome, MeshFile::Outcome::kNotLoaded);
  EXPECT_EQ(loadMeshFile(written(dir, "empty.stl", "")).outcome, MeshFile::Outcome::kNotLoaded);
}

// A package:// URI names a file below the package's share directory, read
// and checked as any file.
TEST(MeshFiles, PackageUrisAreReadBelowThePackagesShareDirectory) {
  TempDir prefix;
  writeFile((prefix.path() / "share/ament_index/resource_index/packages/tool_description").string(), "");
  const std::string stl = fileText(fixturePath("scene_arm/scene_arm_description/meshes/box.stl"));
  const std::string path = written(prefix, "share/tool_description/meshes/box.stl", stl);
  std::string corrupt = stl;
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&corrupt[84 + 12], &nan, sizeof nan);
  written(prefix, "share/tool_description/meshes/nan.stl", corrupt);
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", prefix.path().string()}});
  const MeshFile file = loadMeshFile("package://tool_description/meshes/box.stl");
  ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << file.reason;
  const std::unique_ptr<shapes::Mesh> expected(shapes::createMeshFromResource("file://" + path));
  EXPECT_EQ(verticesOf(*file.mesh), verticesOf(*expected));
  EXPECT_EQ(loadMeshFile("package://tool_description/meshes/nan.stl").outcome, MeshFile::Outcome::kRefused);
  EXPECT_EQ(loadMeshFile("package://tool_description/meshes/none.stl").outcome, MeshFile::Outcome::kNotLoaded);
}

// STL writes each triangle's corners anew; joined where they meet, in the
// order they first appear, they give the vertices and triangles the general
// loader gave, so the published arms' links are the meshes they were.
TEST(MeshFiles, StlLoadsAsTheGeneralLoaderJoinedIt) {
  TempDir dir;
  const std::string ascii_stl =
      "solid one\nfacet normal 0 0 1\nouter loop\nvertex 0 0 0\nvertex 1 0 0\nvertex 0 1 0\nendloop\nendfacet\n"
      "facet normal 0 0 1\nouter loop\nvertex 1 0 0\nvertex 1 1 0\nvertex 0 1 0\nendloop\nendfacet\nendsolid one\n";
  std::vector<std::string> uris = {"file://" + written(dir, "one.stl", ascii_stl)};
  // Every link of the published arms and of the scene arm.
  for (const char* meshes : {"realman/rm_description/meshes", "scene_arm/scene_arm_description/meshes"}) {
    for (const auto& entry : std::filesystem::recursive_directory_iterator(fixturePath(meshes))) {
      if (entry.is_regular_file()) uris.push_back("file://" + entry.path().string());
    }
  }
  ASSERT_GT(uris.size(), 14u);
  for (const std::string& uri : uris) {
    const std::string& name = uri;
    for (const Eigen::Vector3d& scale : {Eigen::Vector3d(1.0, 1.0, 1.0), Eigen::Vector3d(0.5, 2.0, 3.0)}) {
      const std::unique_ptr<shapes::Mesh> expected(shapes::createMeshFromResource(uri, scale));
      ASSERT_NE(expected, nullptr) << name;
      const MeshFile file = loadMeshFile(uri, scale);
      ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << name << ": " << file.reason;
      EXPECT_EQ(verticesOf(*file.mesh), verticesOf(*expected)) << name;
      EXPECT_EQ(trianglesOf(*file.mesh), trianglesOf(*expected)) << name;
    }
  }
}

}  // namespace
