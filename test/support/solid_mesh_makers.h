#pragma once

// Triangle meshes drawn in code, for the inside test of meshes and, written
// as STL files, for tools and links of the scene.

#include <array>
#include <cstddef>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <fcl/math/triangle.h>
#include <Eigen/Core>

namespace shapes {
class Mesh;
}

namespace bramlock_test {

struct TriangleMesh {
  std::vector<Eigen::Vector3d> points;
  std::vector<fcl::Triangle> triangles;
};

// An axis-aligned box of eight shared vertices, wound counter-clockwise seen from outside.
TriangleMesh boxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high);

// The box without its top face (z = high): an open surface.
TriangleMesh lidlessBoxMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high);

// A sphere of 20 * 4^rounds triangles (an icosahedron split `rounds` times,
// midpoints shared), wound counter-clockwise seen from outside.
TriangleMesh icosphere(const Eigen::Vector3d& centre, double radius, int rounds);

// The mesh with every triangle wound the other way.
TriangleMesh inverted(TriangleMesh mesh);

// The mesh moved by `offset`.
TriangleMesh translated(TriangleMesh mesh, const Eigen::Vector3d& offset);

// Both meshes as one, the second's vertices after the first's.
TriangleMesh appended(TriangleMesh mesh, const TriangleMesh& more);

Eigen::Vector3d centreOf(const TriangleMesh& mesh, const fcl::Triangle& t);

// The mesh without up to `count` of its triangles (fewer where no more lie
// far enough apart), their centres at least `apart` from each other.
TriangleMesh withScatteredHoles(TriangleMesh mesh, std::size_t count, double apart);

// A sphere of `rings` rings of `segments` quads, drawn as the UV sphere is,
// cut along `slits` meridians spread evenly: the quads right of a cut start
// `gap` radians after it, from the second ring to the last but one, so
// that each cut leaves a slit nearly from pole to pole.
TriangleMesh slitSphere(double radius, int rings, int segments, int slits, double gap);

// A closed box [0, 0.1] x [0, 0.06] x [0, 0.04] with `pages` single
// triangles hinged on its top edge along x at y = 0 (a spine all pages
// share), fanned inside the box over the quarter turn from +y to -z, each
// 0.03 long.
TriangleMesh bookMesh(int pages);

// The mesh followed by a copy of it, each of the copy's triangles wound
// either way at random.
TriangleMesh writtenTwice(const TriangleMesh& mesh, std::mt19937_64& engine);

// A prism from z = low to z = high over a rim in the xy plane, running
// counter-clockwise around the origin, which every rim point must see: a side
// of two triangles between each rim point and the next, and each cap a fan
// from the origin over the same steps. The rim closes only where its last
// point lies where its first does; each rim point is a vertex of its own.
TriangleMesh prismMesh(const std::vector<Eigen::Vector2d>& rim, double low, double high);

// A circle's rim drawn the obvious way: angles i * 2 pi / sides for i = 0 to
// sides, so that the last point misses the first by the rounding of sin(2 pi).
std::vector<Eigen::Vector2d> circleRimWithSeam(double radius, int sides);

// Every triangle with corners of its own, each moved by `move`: a file of
// unshared triangles. `move` takes a corner and the indices of the
// triangle's two other corners, in winding order.
template <typename Move>
TriangleMesh soupOf(const TriangleMesh& mesh, const Move& move) {
  TriangleMesh soup;
  for (const fcl::Triangle& t : mesh.triangles) {
    for (int k = 0; k < 3; ++k) soup.points.push_back(move(mesh.points[t[k]], t[(k + 1) % 3], t[(k + 2) % 3]));
    const std::size_t first = soup.points.size() - 3;
    soup.triangles.emplace_back(first, first + 1, first + 2);
  }
  return soup;
}

// Single-precision coordinates, each copy rounded up or down by up to two
// float units in the last place, as exporters computing in float write them.
TriangleMesh floatSoup(const TriangleMesh& mesh, std::mt19937_64& engine);

// Every copy moved by up to `apart` along each axis, drawn uniformly: a file
// of unshared triangles rounded apart by more than a weld joins.
TriangleMesh roundedApartSoup(const TriangleMesh& mesh, double apart, std::mt19937_64& engine);

// The unit box [0, 1]^3 with one edge split for the triangles on one side of
// it only (a T-junction), and with its top drawn as a grid of n x n squares
// whose sides meet the walls' edges nowhere but at the corners.
TriangleMesh boxWithTJunctions(int grid);

// A cone from `apex` (on the origin's z axis at height `apex_z`) to a base
// circle of `radius` at z = 0 drawn as a fan: its side cut into `rings`
// rings of `sides` quads (one ring: a fan of long triangles to the apex).
TriangleMesh coneMesh(double apex_z, double radius, int sides, int rings);

// A slab [0, length] x [0, width] x [0, height] whose top and bottom are
// `strips` long strips along x, each of two triangles, and whose ends are
// ladders of small triangles.
TriangleMesh stripSlab(double length, double width, double height, int strips);

// A surface of rows x columns quads through f(u, v), u and v from 0 to 1.
template <typename Surface>
TriangleMesh gridSurface(int rows, int columns, const Surface& f) {
  TriangleMesh mesh;
  for (int i = 0; i <= rows; ++i) {
    for (int j = 0; j <= columns; ++j) mesh.points.push_back(f(double(i) / rows, double(j) / columns));
  }
  const auto at = [columns](int i, int j) { return static_cast<size_t>(i * (columns + 1) + j); };
  for (int i = 0; i < rows; ++i) {
    for (int j = 0; j < columns; ++j) {
      mesh.triangles.emplace_back(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      mesh.triangles.emplace_back(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  return mesh;
}

// Half a cylinder's side (no caps) along x, bulging towards +z from `centre`: a sheet.
TriangleMesh halfCylinderSheet(const Eigen::Vector3d& centre, double radius, double length);

// A box written face by face: each face its own grid x grid squares (or
// grids[face], in boxMesh's order of faces), drawn `crack` short of every
// edge it shares. With no crack, a face's grid vertices on an edge lie
// exactly on the neighbouring face's edge: T-junctions where grids differ.
TriangleMesh perFaceBox(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double crack, int grid);
TriangleMesh perFaceBox(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double crack,
                        const std::array<std::array<int, 2>, 6>& grids);

// The box with a fin on each of its twelve edges: a triangle sharing the
// edge's two vertices, its third corner `length` outwards from the edge's
// middle, halfway between the two faces' normals.
TriangleMesh boxWithEdgeFins(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double length);

// A room written as one mesh: the box from low to high wound outwards, and
// within it the box `wall` inside each face wound inwards.
TriangleMesh roomMesh(const Eigen::Vector3d& low, const Eigen::Vector3d& high, double wall);

// The mesh as a shape the checkers and the scene take.
std::shared_ptr<shapes::Mesh> meshShape(const TriangleMesh& mesh);

// The mesh as an ASCII STL file, its coordinates in full precision.
std::string asciiStl(const TriangleMesh& mesh);

}  // namespace bramlock_test
