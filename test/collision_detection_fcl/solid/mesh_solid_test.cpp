// Closed meshes as solids: the inside test against an independent oracle (the
// generalized winding number, see solid_mesh_oracle.h).
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <functional>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>

#include "collision_detection_fcl/link_tree_batch.h"
#include "collision_detection_fcl/solid/mesh_solid.h"
#include "collision_detection_fcl/solid_mesh_model.h"
#include "solid_mesh_makers.h"
#include "solid_mesh_oracle.h"
#include "test_support.h"

using bramlock::internal::MeshSolid;
using namespace bramlock_test;

namespace {

// A sphere of 20 * 4^levels triangles about the origin, wound counter-clockwise seen from outside.
TriangleMesh sphereMesh(double radius, int levels) { return icosphere(Eigen::Vector3d::Zero(), radius, levels); }

MeshSolid solidOf(const TriangleMesh& mesh) { return MeshSolid(mesh.points, mesh.triangles); }

Eigen::Vector3d uniformIn(std::mt19937_64& engine, const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  return low + (high - low).cwiseProduct(Eigen::Vector3d(unit(engine), unit(engine), unit(engine)));
}

// A UV sphere drawn the obvious way: rings of vertices from pole to pole, each
// running from longitude 0 to 2 pi, so that its last vertex misses its first
// in the last bits; each pole a vertex per segment, some of them differing in
// the last bits too, and the triangles at the poles degenerate.
TriangleMesh uvSphereMesh(double radius, int rings, int segments) {
  TriangleMesh mesh;
  for (int i = 0; i <= rings; ++i) {
    const double polar = i * M_PI / rings;
    for (int j = 0; j <= segments; ++j) {
      const double azimuth = j * 2.0 * M_PI / segments;
      mesh.points.emplace_back(radius * std::sin(polar) * std::cos(azimuth),
                               radius * std::sin(polar) * std::sin(azimuth), radius * std::cos(polar));
    }
  }
  const auto at = [segments](int ring, int segment) { return ring * (segments + 1) + segment; };
  for (int i = 0; i < rings; ++i) {
    for (int j = 0; j < segments; ++j) {
      mesh.triangles.emplace_back(at(i, j), at(i + 1, j), at(i + 1, j + 1));
      mesh.triangles.emplace_back(at(i, j), at(i + 1, j + 1), at(i, j + 1));
    }
  }
  return mesh;
}

// Every triangle with corners of its own, each coordinate of each copy moved
// by one or two units in the last place, as a file of unshared triangles
// written by rounding differently may hold them.
TriangleMesh soupOffInTheLastBits(const TriangleMesh& mesh, std::mt19937_64& engine) {
  return soupOf(mesh, [&engine](Eigen::Vector3d p, size_t, size_t) {
    for (int axis = 0; axis < 3; ++axis) {
      const double towards = (engine() % 2 ? 1.0 : -1.0) * std::numeric_limits<double>::infinity();
      for (int step = 0, steps = 1 + static_cast<int>(engine() % 2); step < steps; ++step) {
        p[axis] = std::nextafter(p[axis], towards);
      }
    }
    return p;
  });
}

// A star of `points` tips around the origin, the first tip on the x axis; the
// rim closed by a copy of its first point.
std::vector<Eigen::Vector2d> starRim(int points, double outer, double inner) {
  std::vector<Eigen::Vector2d> rim;
  for (int k = 0; k < 2 * points; ++k) {
    const double angle = k * M_PI / points;
    const double radius = k % 2 ? inner : outer;
    rim.emplace_back(radius * std::cos(angle), radius * std::sin(angle));
  }
  rim.push_back(rim.front());
  return rim;
}

using Cell = std::array<int, 3>;

// Cubes of side `side` at the cells of a lattice: each a closed box of its
// own, their shared faces twice and facing apart, or (welded) one surface
// around their union, its vertices shared.
TriangleMesh latticeMesh(const std::vector<Cell>& cells, double side, bool welded) {
  TriangleMesh mesh;
  std::map<Cell, size_t> vertex_at;
  // Neighbours across the faces, in the order of boxMesh's faces.
  const int across[6][3] = {{0, 0, -1}, {0, 0, 1}, {0, -1, 0}, {0, 1, 0}, {-1, 0, 0}, {1, 0, 0}};
  for (const Cell& cell : cells) {
    const Eigen::Vector3d low = side * Eigen::Vector3d(cell[0], cell[1], cell[2]);
    const TriangleMesh box = boxMesh(low, low + Eigen::Vector3d::Constant(side));
    if (!welded) {
      mesh = appended(mesh, box);
      continue;
    }
    const auto vertex = [&](size_t corner) {
      const Cell at{cell[0] + static_cast<int>(corner & 1), cell[1] + static_cast<int>((corner >> 1) & 1),
                    cell[2] + static_cast<int>((corner >> 2) & 1)};
      const auto [found, added] = vertex_at.emplace(at, mesh.points.size());
      if (added) mesh.points.push_back(box.points[corner]);
      return found->second;
    };
    for (int face = 0; face < 6; ++face) {
      const Cell next{cell[0] + across[face][0], cell[1] + across[face][1], cell[2] + across[face][2]};
      if (std::find(cells.begin(), cells.end(), next) != cells.end()) continue;
      for (const fcl::Triangle& t : {box.triangles[2 * face], box.triangles[2 * face + 1]}) {
        mesh.triangles.emplace_back(vertex(t[0]), vertex(t[1]), vertex(t[2]));
      }
    }
  }
  return mesh;
}

// ---- comparing contains() with the winding number ----

LocalMesh oracleMesh(const TriangleMesh& mesh) {
  LocalMesh local;
  local.vertices = mesh.points;
  local.bounds.setEmpty();
  for (const Eigen::Vector3d& p : mesh.points) local.bounds.extend(p);
  for (const fcl::Triangle& t : mesh.triangles) {
    local.triangles.push_back(
        {static_cast<unsigned int>(t[0]), static_cast<unsigned int>(t[1]), static_cast<unsigned int>(t[2])});
  }
  return local;
}

double distanceToSegment(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b) {
  const Eigen::Vector3d ab = b - a;
  const double length = ab.squaredNorm();
  const double t = length > 0.0 ? std::clamp((p - a).dot(ab) / length, 0.0, 1.0) : 0.0;
  return (a + t * ab - p).norm();
}

// To the triangle's plane where the point lies over the triangle, else to its nearest edge.
double distanceToTriangle(const Eigen::Vector3d& p, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                          const Eigen::Vector3d& c) {
  const Eigen::Vector3d normal = (b - a).cross(c - a);
  const bool over = normal.squaredNorm() > 0.0 && normal.dot((b - a).cross(p - a)) >= 0.0 &&
                    normal.dot((c - b).cross(p - b)) >= 0.0 && normal.dot((a - c).cross(p - c)) >= 0.0;
  if (over) return std::abs(normal.normalized().dot(p - a));
  return std::min({distanceToSegment(p, a, b), distanceToSegment(p, b, c), distanceToSegment(p, c, a)});
}

double distanceToSurface(const TriangleMesh& mesh, const Eigen::Vector3d& p) {
  double nearest = std::numeric_limits<double>::infinity();
  for (const fcl::Triangle& t : mesh.triangles) {
    nearest = std::min(nearest, distanceToTriangle(p, mesh.points[t[0]], mesh.points[t[1]], mesh.points[t[2]]));
  }
  return nearest;
}

struct Agreement {
  int compared = 0;
  int inside = 0;
  int wrong = 0;
  std::string first_wrong;
};

// Inside where the winding number has a magnitude of 0.5 or more: each closed
// part counts, whichever way it is wound. Points nearer the surface than
// `clearance` are left out.
Agreement compareWithWinding(const TriangleMesh& mesh, const MeshSolid& solid,
                             const std::vector<Eigen::Vector3d>& points, double clearance) {
  const LocalMesh oracle = oracleMesh(mesh);
  Agreement agreement;
  for (const Eigen::Vector3d& p : points) {
    if (distanceToSurface(mesh, p) < clearance) continue;
    const double winding = windingNumber(oracle, p);
    const bool inside = std::abs(winding) >= 0.5;
    ++agreement.compared;
    agreement.inside += inside;
    if (solid.contains(p) == inside) continue;
    if (agreement.wrong++ == 0) {
      std::ostringstream text;
      text.precision(17);
      text << "(" << p.transpose() << ") with winding number " << winding;
      agreement.first_wrong = text.str();
    }
  }
  return agreement;
}

std::vector<Eigen::Vector3d> pointsIn(std::mt19937_64& engine, const Eigen::Vector3d& low, const Eigen::Vector3d& high,
                                      int count) {
  std::vector<Eigen::Vector3d> points;
  for (int i = 0; i < count; ++i) points.push_back(uniformIn(engine, low, high));
  return points;
}

// The mesh is a solid, and on points drawn in its box (grown by a tenth of its
// diagonal on each side), and the extra ones, contains() says what the winding
// number says; enough of them are inside for that to mean something.
void expectInsideWhereWound(const TriangleMesh& mesh, std::uint64_t seed,
                            const std::vector<Eigen::Vector3d>& extra = {}) {
  const MeshSolid solid = solidOf(mesh);
  EXPECT_TRUE(solid.isSolid());
  Eigen::Vector3d low = mesh.points.front(), high = low;
  for (const Eigen::Vector3d& p : mesh.points) low = low.cwiseMin(p), high = high.cwiseMax(p);
  const double diagonal = (high - low).norm();
  const Eigen::Vector3d margin = Eigen::Vector3d::Constant(0.1 * diagonal);
  std::mt19937_64 engine(seed);
  std::vector<Eigen::Vector3d> points = pointsIn(engine, low - margin, high + margin, 1000);
  points.insert(points.end(), extra.begin(), extra.end());
  const Agreement agreement = compareWithWinding(mesh, solid, points, 1e-9 * diagonal);
  EXPECT_EQ(agreement.wrong, 0) << agreement.wrong << " of " << agreement.compared
                                << " points answered against the winding number, the first " << agreement.first_wrong;
  EXPECT_GE(agreement.inside, agreement.compared / 50) << "of " << agreement.compared;
}

// ---- the inside test ----

TEST(MeshSolid, PublishedArmMeshesHoldExactlyThePointsTheirWindingNumberPutsInside) {
  std::mt19937_64 engine(47);
  for (const std::string link : {"base_link", "link1", "link2", "link3", "link4", "link5", "link6"}) {
    SCOPED_TRACE(link);
    const shapes::ShapeConstPtr shape(shapes::createMeshFromResource(
        "file://" + fixturePath("realman/rm_description/meshes/rm_65_arm/" + link + ".STL")));
    const std::optional<bramlock::internal::MeshTreeInput> input =
        bramlock::internal::linkMeshTreeInput(shape, 1.0, 0.0);
    ASSERT_TRUE(input);
    const TriangleMesh mesh{input->points, input->triangles};
    const LocalMesh oracle = localMesh(static_cast<const shapes::Mesh&>(*shape));
    const MeshSolid solid = solidOf(mesh);
    ASSERT_TRUE(solid.isSolid());
    Eigen::Vector3d low = mesh.points.front(), high = low;
    for (const Eigen::Vector3d& p : mesh.points) low = low.cwiseMin(p), high = high.cwiseMax(p);
    int inside = 0;
    for (int i = 0; i < 300; ++i) {
      const Eigen::Vector3d q = uniformIn(engine, low, high);
      const double winding = windingNumber(oracle, q);
      if (winding > kOutsideWinding && winding < kInsideWinding) continue;
      ASSERT_EQ(solid.contains(q), winding > 0.5) << q.transpose() << " winding " << winding;
      inside += winding > 0.5;
    }
    EXPECT_GT(inside, 30);
  }
}

TEST(MeshSolid, AClosedMeshStaysSolidWithATriangleMissingWoundEitherWayOrOverlappingItself) {
  std::mt19937_64 engine(3);
  TriangleMesh holed = sphereMesh(0.1, 3);
  holed.triangles.erase(holed.triangles.begin() + 100);
  TriangleMesh inward = inverted(sphereMesh(0.1, 3));
  for (const TriangleMesh* mesh : {&holed, &inward}) {
    const MeshSolid solid = solidOf(*mesh);
    ASSERT_TRUE(solid.isSolid());
    for (int i = 0; i < 2000; ++i) {
      const Eigen::Vector3d q = uniformIn(engine, Eigen::Vector3d::Constant(-0.15), Eigen::Vector3d::Constant(0.15));
      // Away from the surface, and so from the hole, by more than a cell.
      if (std::abs(q.norm() - 0.1) < 0.03) continue;
      ASSERT_EQ(solid.contains(q), q.norm() < 0.1) << q.transpose();
    }
  }

  // Two closed boxes overlapping: their overlap winds twice and is inside.
  const TriangleMesh pair = appended(boxMesh({0, 0, 0}, {0.2, 0.1, 0.1}), boxMesh({0.1, 0.05, 0.05}, {0.3, 0.2, 0.2}));
  const MeshSolid solid = solidOf(pair);
  ASSERT_TRUE(solid.isSolid());
  EXPECT_TRUE(solid.contains({0.15, 0.07, 0.07}));  // in both
  EXPECT_TRUE(solid.contains({0.05, 0.05, 0.05}));  // in the first only
  EXPECT_TRUE(solid.contains({0.25, 0.15, 0.15}));  // in the second only
  EXPECT_FALSE(solid.contains({0.05, 0.15, 0.15}));
  EXPECT_EQ(solid.pieceVertices().size(), 2u);
}

TEST(MeshSolid, AnOpenSurfaceHasNoInside) {
  TriangleMesh plate;
  plate.points = {{0, 0, 0}, {0.2, 0, 0}, {0.2, 0.2, 0}, {0, 0.2, 0}};
  plate.triangles = {{0, 1, 2}, {0, 2, 3}};
  // A sphere without its lower half: a bowl.
  TriangleMesh bowl = sphereMesh(0.1, 2);
  std::vector<fcl::Triangle> upper;
  for (const fcl::Triangle& t : bowl.triangles) {
    if (bowl.points[t[0]].z() + bowl.points[t[1]].z() + bowl.points[t[2]].z() > 0.0) upper.push_back(t);
  }
  bowl.triangles = upper;
  std::mt19937_64 engine(5);
  for (const TriangleMesh* mesh : {&plate, &bowl}) {
    const MeshSolid solid = solidOf(*mesh);
    EXPECT_FALSE(solid.isSolid());
    for (int i = 0; i < 200; ++i) {
      EXPECT_FALSE(solid.contains(uniformIn(engine, Eigen::Vector3d::Constant(-0.1), Eigen::Vector3d::Constant(0.2))));
    }
  }
}

// Whatever a bad number reaches (a vertex, a triangle's corner, the scale, a
// point asked about), nothing is inside because of it and nothing aborts.
TEST(MeshSolid, BadNumbersMakeNothingInside) {
  using bramlock::internal::attachSolid;
  using bramlock::internal::Cavities;
  using bramlock::internal::insideOf;
  using bramlock::internal::meshSolidOf;
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  const TriangleMesh box = boxMesh(Eigen::Vector3d::Constant(-0.1), Eigen::Vector3d::Constant(0.1));
  const std::vector<Eigen::Vector3d> queries = {
      Eigen::Vector3d::Zero(), {0.05, -0.05, 0.05}, Eigen::Vector3d::Constant(nan), {0.0, nan, 0.0},
      {inf, 0.0, 0.0},         {-inf, 0.0, 0.0},    Eigen::Vector3d::Constant(inf), {1e300, 0.0, 0.0}};
  const auto expectNothingInside = [&](const MeshSolid& solid) {
    EXPECT_FALSE(solid.isSolid());
    for (const Eigen::Vector3d& q : queries) {
      EXPECT_FALSE(solid.contains(q)) << q.transpose();
      for (std::size_t piece = 0; piece <= solid.pieceVertices().size(); ++piece) {
        EXPECT_FALSE(solid.containsInPiece(q, piece)) << q.transpose() << " piece " << piece;
      }
    }
  };
  // The checker's tree of the shape, or of the box where the shape is refused
  // (FCL reports the boxes it cannot fit around absurdly far vertices).
  const shapes::ShapeConstPtr box_shape = meshShape(box);
  const auto treeOf = [&](const shapes::ShapeConstPtr& shape) {
    OutputCapture quiet;
    const auto input = bramlock::internal::linkMeshTreeInput(shape, 1.0, 0.0);
    return bramlock::internal::buildLinkMeshTree(input ? *input
                                                       : *bramlock::internal::linkMeshTreeInput(box_shape, 1.0, 0.0));
  };
  std::vector<std::pair<std::string, TriangleMesh>> broken;
  for (const double bad : {nan, inf, -inf, 1e300, -1e300}) {
    TriangleMesh mesh = box;
    mesh.points[5].y() = bad;
    broken.emplace_back("a corner at " + std::to_string(bad), mesh);
    for (Eigen::Vector3d& p : mesh.points) p = Eigen::Vector3d::Constant(bad);
    broken.emplace_back("every corner at " + std::to_string(bad), mesh);
  }
  broken.emplace_back("a box 1e300 across",
                      boxMesh(Eigen::Vector3d::Constant(-1e300), Eigen::Vector3d::Constant(1e300)));
  TriangleMesh beyond = box;
  for (fcl::Triangle& t : beyond.triangles) t[2] += 8;
  broken.emplace_back("every triangle naming a vertex beyond the points", beyond);
  broken.emplace_back("no points", TriangleMesh{{}, box.triangles});
  broken.emplace_back("no triangles", TriangleMesh{box.points, {}});
  broken.emplace_back("nothing", TriangleMesh{});
  TriangleMesh coincident = box;
  for (Eigen::Vector3d& p : coincident.points) p = Eigen::Vector3d(0.05, -0.05, 0.05);
  broken.emplace_back("every corner at one point", coincident);
  for (const auto& [name, mesh] : broken) {
    SCOPED_TRACE(name);
    const shapes::ShapeConstPtr shape = meshShape(mesh);
    const std::shared_ptr<fcl::CollisionGeometryd> tree = treeOf(shape);
    for (const Cavities cavities : {Cavities::kSolid, Cavities::kHollow}) {
      expectNothingInside(MeshSolid(mesh.points, mesh.triangles, cavities));
      const std::shared_ptr<const MeshSolid> shared = meshSolidOf(shape, 1.0, cavities);
      if (shared) expectNothingInside(*shared);
      attachSolid(*tree, shape, 1.0, cavities);
      EXPECT_EQ(insideOf(tree.get()), nullptr);
    }
  }

  // Beside a closed box, a triangle naming a missing vertex, an unused vertex
  // that is not finite and triangles of one point change nothing, with or
  // without a fin that has the written triangles asked too.
  TriangleMesh kept = box;
  kept.triangles.emplace_back(0, 1, 99);
  kept.points.push_back(Eigen::Vector3d::Constant(nan));
  kept.points.push_back(Eigen::Vector3d::Zero());
  kept.triangles.emplace_back(kept.points.size() - 1, kept.points.size() - 1, kept.points.size() - 1);
  kept.points.push_back(Eigen::Vector3d::Zero());
  kept.triangles.emplace_back(kept.points.size() - 2, kept.points.size() - 1, kept.points.size() - 2);
  TriangleMesh finned = kept;
  finned.points.push_back(Eigen::Vector3d(-0.1, -0.2, -0.2));
  finned.triangles.emplace_back(0, 1, finned.points.size() - 1);
  for (const auto& [mesh, cavities] : {std::make_pair(kept, Cavities::kSolid), std::make_pair(kept, Cavities::kHollow),
                                       std::make_pair(finned, Cavities::kSolid)}) {
    const MeshSolid solid(mesh.points, mesh.triangles, cavities);
    ASSERT_TRUE(solid.isSolid());
    EXPECT_TRUE(solid.contains(queries[1]));
    EXPECT_TRUE(solid.containsInPiece(queries[1], 0));
    for (std::size_t k = 2; k < queries.size(); ++k) {
      EXPECT_FALSE(solid.contains(queries[k])) << queries[k].transpose();
      EXPECT_FALSE(solid.containsInPiece(queries[k], 0)) << queries[k].transpose();
    }
    EXPECT_FALSE(solid.containsInPiece(queries[1], solid.pieceVertices().size()));
  }

  // A scale that is not finite gives no inside, even once the shape's inside
  // at scale 1 is held; nor does one that makes the vertices absurdly far.
  const std::shared_ptr<const MeshSolid> held = meshSolidOf(box_shape, 1.0);
  ASSERT_TRUE(held && held->isSolid());
  const std::shared_ptr<fcl::CollisionGeometryd> tree = treeOf(box_shape);
  for (const double scale : {nan, inf, -inf, 1e300}) {
    SCOPED_TRACE(scale);
    for (const Cavities cavities : {Cavities::kSolid, Cavities::kHollow}) {
      const std::shared_ptr<const MeshSolid> scaled = meshSolidOf(box_shape, scale, cavities);
      if (scaled) expectNothingInside(*scaled);
      attachSolid(*tree, box_shape, scale, cavities);
      EXPECT_EQ(insideOf(tree.get()), nullptr);
    }
  }
  attachSolid(*tree, box_shape, 1.0);
  ASSERT_NE(insideOf(tree.get()), nullptr);
  EXPECT_TRUE(insideOf(tree.get())->contains(queries[1]));
}

// An opening counts by the area it leaves open, not by the length of its
// rim: a round hole with the jagged rim of the triangles it cuts through
// leaves a sphere solid below a hundredth of its area and opens it above.
TEST(MeshSolid, AHoleOpensAMeshByTheAreaItLeavesOpen) {
  const auto holed = [](double share) {
    TriangleMesh sphere = sphereMesh(1.0, 4);
    const double lowest_z = 1.0 - 2.0 * share;
    std::vector<fcl::Triangle> kept;
    for (const fcl::Triangle& t : sphere.triangles) {
      if (centreOf(sphere, t).normalized().z() < lowest_z) kept.push_back(t);
    }
    sphere.triangles = kept;
    return sphere;
  };
  const MeshSolid small = solidOf(holed(0.007));
  ASSERT_TRUE(small.isSolid());
  std::mt19937_64 engine(83);
  for (const Eigen::Vector3d& q :
       pointsIn(engine, Eigen::Vector3d::Constant(-1.2), Eigen::Vector3d::Constant(1.2), 2000)) {
    if (std::abs(q.norm() - 1.0) < 0.05 || q.z() > 0.8) continue;
    ASSERT_EQ(small.contains(q), q.norm() < 1.0) << q.transpose();
  }
  EXPECT_FALSE(solidOf(holed(0.03)).isSolid());
}

// Large enough to be divided on several threads, wound inward, with a small
// box far off: inside exactly within the sphere's inscribed ball and the box,
// nowhere between them, and the same on a second build.
TEST(MeshSolid, ALargeMeshWithAFarPieceIsInsideExactlyWithinItsParts) {
  const double radius = 0.05;
  const TriangleMesh sphere = inverted(sphereMesh(radius, 7));
  ASSERT_GT(sphere.triangles.size(), 300000u);
  const Eigen::Vector3d box_low(2.0, 0.5, -0.01), box_high(2.02, 0.52, 0.01);
  const TriangleMesh mesh = appended(sphere, boxMesh(box_low, box_high));
  const MeshSolid solid = solidOf(mesh);
  const MeshSolid again = solidOf(mesh);
  ASSERT_TRUE(solid.isSolid());
  // The flat triangles' planes stay within 0.1 % of the radius at this fineness.
  const double inscribed = 0.999 * radius;
  std::mt19937_64 engine(29);
  int inside = 0;
  for (int i = 0; i < 20000; ++i) {
    Eigen::Vector3d q =
        uniformIn(engine, Eigen::Vector3d::Constant(-1.2 * radius), Eigen::Vector3d::Constant(1.2 * radius));
    if (i % 4 == 1)
      q = uniformIn(engine, box_low - Eigen::Vector3d::Constant(0.005), box_high + Eigen::Vector3d::Constant(0.005));
    if (i % 4 == 2) q = uniformIn(engine, Eigen::Vector3d(-0.1, -0.1, -0.1), Eigen::Vector3d(2.1, 0.6, 0.1));
    const double distance = q.norm();
    if (distance > inscribed && distance < radius) continue;
    const bool in_box = (q.array() > box_low.array()).all() && (q.array() < box_high.array()).all();
    const bool expected = distance <= inscribed || in_box;
    ASSERT_EQ(solid.contains(q), expected) << q.transpose();
    ASSERT_EQ(again.contains(q), expected) << q.transpose();
    inside += expected;
  }
  EXPECT_GT(inside, 2000);
}

// Each closed part is inside whichever way it is wound, the smaller part
// against the larger's sign as much as with it.
TEST(MeshSolid, ClosedPartsWoundOppositeWaysAreEachInside) {
  const TriangleMesh smaller = boxMesh({-0.06, -0.02, -0.02}, {-0.02, 0.02, 0.02});
  const TriangleMesh larger = boxMesh({0.02, -0.03, -0.03}, {0.08, 0.03, 0.03});
  const std::vector<std::pair<std::string, TriangleMesh>> meshes = {
      {"the larger wound inward", appended(smaller, inverted(larger))},
      {"the smaller wound inward", appended(inverted(smaller), larger)},
  };
  for (const auto& [name, mesh] : meshes) {
    SCOPED_TRACE(name);
    expectInsideWhereWound(mesh, 11);
    const MeshSolid solid = solidOf(mesh);
    EXPECT_TRUE(solid.contains({-0.04, 0.0, 0.0}));
    EXPECT_TRUE(solid.contains({0.05, 0.0, 0.0}));
    EXPECT_FALSE(solid.contains({0.0, 0.0, 0.0}));
  }
}

// Vertices a mesh repeats where its drawing closes (a seam at 2 pi, a pole
// per segment) or where it does not share them at all miss each other by a
// rounding; they are one vertex, and the mesh is closed.
TEST(MeshSolid, VerticesThatMissEachOtherByARoundingAreOne) {
  const std::vector<Eigen::Vector2d> rim = circleRimWithSeam(0.02, 32);
  ASSERT_NE(rim.front(), rim.back());
  std::mt19937_64 engine(13);
  const std::vector<std::pair<std::string, TriangleMesh>> meshes = {
      {"cylinder of 32 sides", prismMesh(rim, 0.02, 0.15)},
      {"UV sphere", uvSphereMesh(0.1, 12, 24)},
      {"unshared triangles", soupOffInTheLastBits(sphereMesh(0.1, 2), engine)},
  };
  for (const auto& [name, mesh] : meshes) {
    SCOPED_TRACE(name);
    expectInsideWhereWound(mesh, 17);
  }
}

// A few small holes far apart do not make one large one: each is small
// beside the surface, and the sphere keeps its inside.
TEST(MeshSolid, ScatteredSmallHolesLeaveTheInside) {
  std::mt19937_64 engine(19);
  for (const auto& [levels, holes] : {std::pair<int, size_t>{3, 3}, {4, 6}}) {
    const TriangleMesh sphere = sphereMesh(1.0, levels);
    const TriangleMesh holed = withScatteredHoles(sphere, holes, 0.5);
    ASSERT_EQ(holed.triangles.size(), sphere.triangles.size() - holes);
    SCOPED_TRACE(std::to_string(holed.triangles.size()) + " triangles left");
    const MeshSolid solid = solidOf(holed);
    EXPECT_TRUE(solid.isSolid());
    if (!solid.isSolid()) continue;
    int inside = 0;
    for (const Eigen::Vector3d& q :
         pointsIn(engine, Eigen::Vector3d::Constant(-1.5), Eigen::Vector3d::Constant(1.5), 2000)) {
      // Away from the surface, and so from the holes, by more than a few triangles.
      if (std::abs(q.norm() - 1.0) < 0.3) continue;
      ASSERT_EQ(solid.contains(q), q.norm() < 1.0) << q.transpose();
      inside += q.norm() < 1.0;
    }
    EXPECT_GT(inside, 100);
  }
}

// Meshes whose faces, edges or vertices lie where the grid's planes or the
// rays' lines pass, so that ties decide: recorded cases.
TEST(MeshSolid, TiesWithTheGridAreDecidedAsTheWindingNumberSays) {
  {
    SCOPED_TRACE("a slab and a box above it");
    expectInsideWhereWound(
        appended(boxMesh({0, 0, 0}, {1, 1, 0.1}), boxMesh({0.10883796788680206, 0.16918105442465387, 0.5},
                                                          {0.30883796788680207, 0.36918105442465388, 0.9})),
        23);
  }
  {
    SCOPED_TRACE("a star prism");
    const std::vector<Eigen::Vector2d> rim = starRim(14, 1.0, 0.45);
    const TriangleMesh star = prismMesh(rim, 0.0, 0.2);
    // Above the top, in the plane of the side from the first tip to the last inner corner.
    const Eigen::Vector3d above(0.77540283182680048, -0.040068788275178686, 0.200001);
    const Eigen::Vector2d tip = rim.front(), corner = rim[rim.size() - 2];
    ASSERT_EQ((corner - tip).x() * (above.y() - tip.y()) - (corner - tip).y() * (above.x() - tip.x()), 0.0);
    EXPECT_FALSE(solidOf(star).contains(above));
    expectInsideWhereWound(star, 29, {above, {above.x(), above.y(), 0.1}, {above.x(), above.y(), -0.000001}});
  }
  {
    SCOPED_TRACE("a sphere far from the origin");
    const Eigen::Vector3d centre(1e6, -1e6, 1e6);
    const TriangleMesh far = translated(sphereMesh(1.0, 3), centre);
    EXPECT_TRUE(solidOf(far).contains(centre));
    expectInsideWhereWound(far, 31, {centre});
  }
}

// Boxes on a dyadic lattice share the planes of their faces: a U, a T and
// boxes stacked on a slab, each drawn as closed boxes of one cube each
// (touching faces twice, facing apart) and as one welded surface.
TEST(MeshSolid, BoxesOnALatticeSharingPlanesAreSolids) {
  const std::vector<std::pair<std::string, std::vector<Cell>>> shapes = {
      {"U", {{0, 0, 0}, {1, 0, 0}, {2, 0, 0}, {0, 0, 1}, {2, 0, 1}, {0, 0, 2}, {2, 0, 2}}},
      {"T", {{0, 0, 2}, {1, 0, 2}, {2, 0, 2}, {1, 0, 1}, {1, 0, 0}}},
      {"stacked", {{0, 0, 0}, {1, 0, 0}, {0, 1, 0}, {1, 1, 0}, {0, 0, 1}, {0, 0, 2}}},
  };
  constexpr double kSide = 0.25;
  // Points on the lattice's planes and halfway between them, the faces' own left out.
  std::vector<Eigen::Vector3d> on_planes;
  for (int x = -2; x <= 14; ++x) {
    for (int y = -2; y <= 14; ++y) {
      for (int z = -2; z <= 14; ++z) on_planes.emplace_back(kSide / 4 * Eigen::Vector3d(x, y, z));
    }
  }
  for (const auto& [name, cells] : shapes) {
    for (const bool welded : {false, true}) {
      SCOPED_TRACE(name + (welded ? ", welded" : ", of separate boxes"));
      expectInsideWhereWound(latticeMesh(cells, kSide, welded), 37, on_planes);
    }
  }
}

// ---- meshes as exporters write them ----

// An octahedron of radius 1 (each face its own corners) whose apexes on the
// negative axes are moved by `shift` towards the middle of each face's
// opposite edge: copies that miss each other by a rounding, into the faces
// (shift > 0) or out of them.
TriangleMesh octahedronWithNearMisses(double radius, double shift) {
  TriangleMesh octahedron;
  for (int axis = 0; axis < 3; ++axis) {
    octahedron.points.push_back(radius * Eigen::Vector3d::Unit(axis));
    octahedron.points.push_back(-radius * Eigen::Vector3d::Unit(axis));
  }
  for (int sx = 0; sx < 2; ++sx) {
    for (int sy = 0; sy < 2; ++sy) {
      for (int sz = 0; sz < 2; ++sz) {
        const size_t x = sx, y = 2 + sy, z = 4 + sz;
        // Counter-clockwise from outside where an odd number of signs are negative.
        if ((sx + sy + sz) % 2 == 0)
          octahedron.triangles.emplace_back(x, y, z);
        else
          octahedron.triangles.emplace_back(x, z, y);
      }
    }
  }
  return soupOf(octahedron, [&](const Eigen::Vector3d& p, size_t b, size_t c) {
    if (p.sum() >= 0.0) return p;
    const Eigen::Vector3d towards = 0.5 * (octahedron.points[b] + octahedron.points[c]) - p;
    return Eigen::Vector3d(p + shift * towards.normalized());
  });
}

TriangleMesh withTriangle(TriangleMesh mesh, const Eigen::Vector3d& a, const Eigen::Vector3d& b,
                          const Eigen::Vector3d& c) {
  const size_t first = mesh.points.size();
  mesh.points.insert(mesh.points.end(), {a, b, c});
  mesh.triangles.emplace_back(first, first + 1, first + 2);
  return mesh;
}

// Watertight, however their triangles meet: each inside exactly where the
// winding number says, at points of the box and around it.
TEST(MeshSolid, WatertightMeshesWithNonManifoldTopologyAreSolids) {
  const TriangleMesh box = boxMesh(Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones());
  TriangleMesh doubled = box;
  doubled.triangles.push_back(box.triangles[7]);
  TriangleMesh plated = withTriangle(box, {0, 0, 0.5}, {1, 0, 0.5}, {1, 1, 0.5});
  plated = withTriangle(plated, {0, 0, 0.5}, {1, 1, 0.5}, {0, 1, 0.5});
  TriangleMesh slivers = box;
  for (const auto& [a, b] : {std::pair<int, int>{0, 1}, {1, 5}, {3, 7}}) {
    slivers = withTriangle(slivers, box.points[a], 0.5 * (box.points[a] + box.points[b]), box.points[b]);
  }
  const std::vector<std::pair<std::string, TriangleMesh>> meshes = {
      {"a T-junction and a gridded top", boxWithTJunctions(4)},
      {"a triangle written twice", doubled},
      {"two halves sharing their inner wall",
       appended(boxMesh({0, 0, 0}, {0.5, 1, 1}), boxMesh({0.5, 0, 0}, {1, 1, 1}))},
      {"an inner plate", plated},
      {"triangles without area on its edges", slivers},
      {"a fin on an edge", withTriangle(box, {1, 0, 0}, {1.6, -0.6, 0.5}, {1, 0, 1})},
  };
  for (const auto& [name, mesh] : meshes) {
    SCOPED_TRACE(name);
    expectInsideWhereWound(mesh, 41, {{0.5, 0.5, 0.25}, {0.5, 0.5, 0.75}, {0.1, 0.9, 0.9}});
  }
}

// Copies of a vertex a rounding apart, as float exporters and scanners write
// them, never turn the inside out or empty it.
TEST(MeshSolid, CopiesOfAVertexARoundingApartKeepTheInside) {
  std::mt19937_64 engine(43);
  for (const double shift : {2e-9, -2e-9}) {
    SCOPED_TRACE(shift);
    const TriangleMesh octahedron = octahedronWithNearMisses(1.0, shift);
    const MeshSolid solid = solidOf(octahedron);
    EXPECT_TRUE(solid.contains(Eigen::Vector3d::Zero()));
    EXPECT_FALSE(solid.contains(Eigen::Vector3d::Constant(0.6)));
    expectInsideWhereWound(octahedron, 47);
    expectInsideWhereWound(octahedronWithNearMisses(0.05, 0.1 * shift), 53);
  }
  const TriangleMesh cylinder = prismMesh(circleRimWithSeam(0.02, 256), -0.05, 0.05);
  expectInsideWhereWound(floatSoup(cylinder, engine), 59, {Eigen::Vector3d::Zero(), {0.0, 0.0, 0.049}});
  expectInsideWhereWound(floatSoup(sphereMesh(0.1, 3), engine), 61);
  std::uniform_real_distribution<double> jitter(-2.5e-7, 2.5e-7);
  expectInsideWhereWound(
      soupOf(sphereMesh(1.0, 3),
             [&](const Eigen::Vector3d& p, size_t, size_t) {
               return Eigen::Vector3d(p + 2.0 * Eigen::Vector3d(jitter(engine), jitter(engine), jitter(engine)));
             }),
      67);
}

// A closed cone written as unshared triangles rounded apart by up to 1e-6 m,
// its base ring finer than the crack joining's reach: points on its axis and
// beside it answer as the written triangles' winding number says (at least
// 0.9 inside, at most 0.1 outside).
TEST(MeshSolid, ARoundedApartConeFinerThanTheJoiningReachKeepsItsInside) {
  const std::vector<Eigen::Vector3d> probes = {{0, 0, 0.01},   {0, 0, 0.03},  {0.005, 0.005, 0.02}, {0, 0, 0.055},
                                               {0, 0, -0.005}, {0, 0, 0.065}, {0.025, 0, 0.01},     {0.012, 0, 0.03}};
  for (const int segments : {2048, 8192, 32768, 65536}) {
    SCOPED_TRACE(std::to_string(segments) + " segments");
    std::mt19937_64 engine(segments);
    const TriangleMesh soup = roundedApartSoup(coneMesh(0.06, 0.02, segments, 1), 1e-6, engine);
    const MeshSolid solid = solidOf(soup);
    const LocalMesh oracle = oracleMesh(soup);
    int inside = 0;
    for (const Eigen::Vector3d& p : probes) {
      const double winding = std::abs(windingNumber(oracle, p));
      ASSERT_TRUE(winding >= 0.9 || winding <= 0.1) << p.transpose() << ": " << winding;
      EXPECT_EQ(solid.contains(p), winding >= 0.9) << p.transpose() << " with winding number " << winding;
      inside += winding >= 0.9;
    }
    EXPECT_EQ(inside, 4);
  }
}

// A cavity is solid even where it meets its shell at a vertex: each closed
// part is turned outwards on its own.
TEST(MeshSolid, ACavitySharingAVertexWithItsShellIsSolid) {
  const TriangleMesh shell = appended(boxMesh(Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones()),
                                      inverted(boxMesh(Eigen::Vector3d::Constant(0.5), Eigen::Vector3d::Ones())));
  const MeshSolid solid = solidOf(shell);
  ASSERT_TRUE(solid.isSolid());
  std::mt19937_64 engine(71);
  for (const Eigen::Vector3d& q :
       pointsIn(engine, Eigen::Vector3d::Constant(-0.5), Eigen::Vector3d::Constant(1.5), 2000)) {
    const double from_faces = (q.array() - q.array().round()).abs().minCoeff();
    if (from_faces < 0.01 || std::abs(q.x() - 0.5) < 0.01) continue;
    ASSERT_EQ(solid.contains(q), (q.array() > 0.0).all() && (q.array() < 1.0).all()) << q.transpose();
  }
}

// A few flipped triangles, as scans have them, change the answers only near them.
TEST(MeshSolid, AFewFlippedTrianglesChangeOnlyWhatLiesNearThem) {
  std::mt19937_64 engine(73);
  TriangleMesh sphere = sphereMesh(1.0, 4);
  std::vector<Eigen::Vector3d> flipped_centres;
  for (fcl::Triangle& t : sphere.triangles) {
    if (engine() % 20 != 0) continue;
    std::swap(t[1], t[2]);
    flipped_centres.push_back(centreOf(sphere, t));
  }
  ASSERT_GT(flipped_centres.size(), 200u);
  const MeshSolid solid = solidOf(sphere);
  ASSERT_TRUE(solid.isSolid());
  const LocalMesh oracle = oracleMesh(sphere);
  int compared = 0;
  for (const Eigen::Vector3d& q :
       pointsIn(engine, Eigen::Vector3d::Constant(-1.2), Eigen::Vector3d::Constant(1.2), 3000)) {
    const bool near_flipped = std::any_of(flipped_centres.begin(), flipped_centres.end(),
                                          [&q](const Eigen::Vector3d& c) { return (c - q).norm() < 0.08; });
    if (near_flipped || std::abs(q.norm() - 1.0) < 0.01) continue;
    ++compared;
    ASSERT_EQ(solid.contains(q), windingNumber(oracle, q) >= 0.5) << q.transpose();
    ASSERT_EQ(solid.contains(q), q.norm() < 0.99) << q.transpose();
  }
  EXPECT_GT(compared, 1000);
}

// ---- features decided where they lie ----

// The triangles of the mesh whose centres `keep` takes, with vertices of their own moved by `move`.
template <typename Keep, typename Move>
TriangleMesh patchOf(const TriangleMesh& mesh, const Keep& keep, const Move& move) {
  TriangleMesh patch;
  std::map<size_t, size_t> copied;
  for (const fcl::Triangle& t : mesh.triangles) {
    if (!keep(centreOf(mesh, t))) continue;
    size_t corners[3];
    for (int k = 0; k < 3; ++k) {
      const auto [found, added] = copied.emplace(t[k], patch.points.size());
      if (added) patch.points.push_back(move(mesh.points[t[k]]));
      corners[k] = found->second;
    }
    patch.triangles.emplace_back(corners[0], corners[1], corners[2]);
  }
  return patch;
}

// A cylinder along z written as three parts apart: its side, and each cap a
// fan of `cap_sides` (else `sides`) rim segments, `crack` short of the side.
TriangleMesh perFaceCylinder(double radius, double height, int sides, double crack, int cap_sides = 0) {
  const auto ring = [&](double u) { return Eigen::Vector2d(std::cos(2 * M_PI * u), std::sin(2 * M_PI * u)); };
  TriangleMesh side = gridSurface(1, sides, [&](double u, double v) {
    const Eigen::Vector2d at = radius * ring(v);
    return Eigen::Vector3d(at.x(), at.y(), (u - 0.5) * height);
  });
  TriangleMesh mesh = inverted(side);
  for (const double z : {-0.5 * height, 0.5 * height}) {
    TriangleMesh cap = gridSurface(1, cap_sides > 0 ? cap_sides : sides, [&](double u, double v) {
      const Eigen::Vector2d at = u * (radius - crack) * ring(v);
      return Eigen::Vector3d(at.x(), at.y(), z);
    });
    mesh = appended(mesh, z > 0 ? cap : inverted(cap));
  }
  return mesh;
}

// contains() against the winding number of the solid the mesh means, at
// points drawn in the box around both and at points off the mesh's surface
// by more than `clearance`; enough of them inside and outside.
void expectTheIntendedSolid(const TriangleMesh& mesh, const TriangleMesh& intended, std::uint64_t seed,
                            double clearance, bool hollow = false) {
  const MeshSolid solid(mesh.points, mesh.triangles,
                        hollow ? bramlock::internal::Cavities::kHollow : bramlock::internal::Cavities::kSolid);
  EXPECT_TRUE(solid.isSolid());
  const LocalMesh oracle = oracleMesh(intended);
  Eigen::Vector3d low = oracle.bounds.min(), high = oracle.bounds.max();
  for (const Eigen::Vector3d& p : mesh.points) low = low.cwiseMin(p), high = high.cwiseMax(p);
  const Eigen::Vector3d margin = 0.1 * (high - low);
  std::mt19937_64 engine(seed);
  int inside = 0, outside = 0, wrong = 0;
  std::string first_wrong;
  for (const Eigen::Vector3d& p : pointsIn(engine, low - margin, high + margin, 1500)) {
    if (distanceToSurface(mesh, p) < clearance || distanceToSurface(intended, p) < clearance) continue;
    const double winding = windingNumber(oracle, p);
    const bool expected = winding >= 0.5;
    (expected ? inside : outside) += 1;
    if (solid.contains(p) != expected && wrong++ == 0) {
      std::ostringstream text;
      text << "(" << p.transpose() << ") with the intended solid's winding number " << winding;
      first_wrong = text.str();
    }
  }
  EXPECT_EQ(wrong, 0) << wrong << " of " << inside + outside << " points wrong, the first " << first_wrong;
  EXPECT_GE(inside, 30);
  EXPECT_GE(outside, 30);
}

// A curved fin on the box's edge from (h, h, -l) to (h, h, l): a fan from
// each end of the edge over a bent arc outwards, sharing the edge itself.
TriangleMesh curvedFinOnEdge(double h, double l) {
  TriangleMesh fin;
  fin.points = {{h, h, -l}, {h, h, l}};
  const Eigen::Vector3d out = Eigen::Vector3d(1, 1, 0).normalized(), side = Eigen::Vector3d(1, -1, 0).normalized();
  constexpr int kArc = 16;
  for (int j = 0; j <= kArc; ++j) {
    const double t = static_cast<double>(j) / kArc;
    fin.points.push_back(Eigen::Vector3d(h, h, (2 * t - 1) * 0.9 * l) + (0.2 * h + 0.6 * h * std::sin(M_PI * t)) * out +
                         0.3 * h * std::pow(std::sin(M_PI * t), 2) * side);
  }
  fin.triangles.emplace_back(0, 1, 2 + kArc / 2);
  for (int j = 0; j < kArc / 2; ++j) fin.triangles.emplace_back(0, 2 + j + 1, 2 + j);
  for (int j = kArc / 2; j < kArc; ++j) fin.triangles.emplace_back(1, 2 + j + 1, 2 + j);
  return fin;
}

// A sheet, a patch copied beside the surface, a bowl or an open half decides
// nothing about the closed part around or beside it: the part stays solid,
// the sheet adds no inside of its own, and open halves that overlap into one
// closed surface are a solid together.
TEST(MeshSolid, SheetsAndPatchesBesideAClosedPartLeaveItSolid) {
  const TriangleMesh box = boxMesh({-0.03, -0.03, -0.06}, {0.03, 0.03, 0.06});
  const TriangleMesh sphere = sphereMesh(1.0, 3);
  const auto sphere_top = [](const Eigen::Vector3d& c) { return c.z() > 0.9; };
  const TriangleMesh top_outward = patchOf(sphere, sphere_top, [](const Eigen::Vector3d& p) { return p * 1.003; });
  const TriangleMesh lower_half = patchOf(
      sphere, [](const Eigen::Vector3d& c) { return c.z() < 0.15; }, [](const Eigen::Vector3d& p) { return p; });
  TriangleMesh bowl = patchOf(
      sphereMesh(0.3, 3), [](const Eigen::Vector3d& c) { return c.z() < 0.0; },
      [](const Eigen::Vector3d& p) { return p; });
  const std::vector<std::tuple<std::string, TriangleMesh, TriangleMesh>> cases = {
      {"a curved sheet inside", appended(box, halfCylinderSheet({0, 0, 0}, 0.01, 0.04)), box},
      {"a curved sheet inside, wound the other way", appended(box, inverted(halfCylinderSheet({0, 0, 0}, 0.01, 0.04))),
       box},
      {"a curved sheet 5 mm beside", appended(box, halfCylinderSheet({0, 0, 0.065}, 0.01, 0.04)), box},
      {"a curved sheet crossing a wall", appended(box, halfCylinderSheet({0, 0, 0.055}, 0.01, 0.04)), box},
      {"a curved fin on an edge", appended(box, curvedFinOnEdge(0.03, 0.06)), box},
      {"a copy of the top 0.3 % out", appended(sphere, top_outward), sphere},
      {"a copy of the top 0.3 % in",
       appended(sphere, patchOf(sphere, sphere_top, [](const Eigen::Vector3d& p) { return p * 0.997; })), sphere},
      {"a bowl inside", appended(sphere, bowl), sphere},
      {"two overlapping open halves",
       appended(patchOf(
                    sphere, [](const Eigen::Vector3d& c) { return c.z() > -0.15; },
                    [](const Eigen::Vector3d& p) { return p; }),
                lower_half),
       sphere},
  };
  for (const auto& [name, mesh, intended] : cases) {
    SCOPED_TRACE(name);
    const double size = (oracleMesh(intended).bounds.sizes()).maxCoeff();
    expectTheIntendedSolid(mesh, intended, 83, 0.01 * size);
  }
  // Alone, the sheet and the bowl are surfaces.
  EXPECT_FALSE(solidOf(halfCylinderSheet({0, 0, 0}, 0.01, 0.04)).isSolid());
  EXPECT_FALSE(solidOf(bowl).isSolid());
  EXPECT_FALSE(solidOf(lower_half).isSolid());
}

// Flat pages hung inside a closed box on one of its edges add winding of less
// than a half each, which their number sums into anything: every point of the
// box is inside, however near a page, but where the triangles as written
// wind less than 0.1 a centimetre or more from all of them.
TEST(MeshSolid, PagesInsideAClosedCoverLeaveItSolid) {
  const Eigen::Vector3d low(0.001, 0.001, 0.001), high(0.099, 0.059, 0.039);
  for (const int pages : {16, 64, 256}) {
    SCOPED_TRACE(std::to_string(pages) + " pages");
    const TriangleMesh book = bookMesh(pages);
    const MeshSolid solid(book.points, book.triangles);
    const LocalMesh written = oracleMesh(book);
    std::mt19937_64 engine(pages);
    int wrong = 0, asked = 0;
    for (const Eigen::Vector3d& p : pointsIn(engine, low, high, 1500)) {
      if (std::abs(windingNumber(written, p)) < 0.1 && distanceToSurface(book, p) >= 0.01) continue;
      ++asked;
      wrong += !solid.contains(p);
    }
    EXPECT_EQ(wrong, 0) << " of " << asked;
    EXPECT_GE(asked, 1000);
  }
}

// A closed surface written face by face with cracks between its faces, a
// mirrored half sharing a face with its original, one flipped triangle on a
// coarse mesh and a small opening in a far piece each leave the solid meant.
TEST(MeshSolid, CracksMirroredHalvesFlippedTrianglesAndSmallOpeningsKeepTheSolidMeant) {
  const Eigen::Vector3d low(-0.03, -0.03, -0.06), high(0.03, 0.03, 0.06);
  const TriangleMesh box = boxMesh(low, high);
  std::vector<std::tuple<std::string, TriangleMesh, TriangleMesh>> cases;
  for (const double crack : {1e-6, 1e-5, 1e-4}) {
    for (const int grid : {1, 2}) {
      cases.emplace_back("box of faces " + std::to_string(crack) + " apart, grid " + std::to_string(grid),
                         perFaceBox(low, high, crack, grid), box);
    }
    cases.emplace_back("cylinder of faces " + std::to_string(crack) + " apart", perFaceCylinder(0.03, 0.1, 48, crack),
                       perFaceCylinder(0.03, 0.1, 48, 0.0));
  }
  cases.emplace_back("a mirrored half wound inwards sharing a face",
                     appended(boxMesh({0, 0, 0}, {0.5, 1, 1}), inverted(boxMesh({0.5, 0, 0}, {1, 1, 1}))),
                     boxMesh({0, 0, 0}, {1, 1, 1}));
  for (const size_t flipped : {size_t{0}, size_t{5}, size_t{11}}) {
    TriangleMesh coarse = box;
    std::swap(coarse.triangles[flipped][1], coarse.triangles[flipped][2]);
    cases.emplace_back("a box with triangle " + std::to_string(flipped) + " flipped", coarse, box);
  }
  TriangleMesh icosahedron = sphereMesh(1.0, 1);
  std::swap(icosahedron.triangles[17][1], icosahedron.triangles[17][2]);
  cases.emplace_back("an 80-triangle sphere with one triangle flipped", icosahedron, sphereMesh(1.0, 1));
  for (const auto& [name, mesh, intended] : cases) {
    SCOPED_TRACE(name);
    const double size = (oracleMesh(intended).bounds.sizes()).maxCoeff();
    expectTheIntendedSolid(mesh, intended, 89, 0.01 * size);
  }

  // A sphere of radius 0.05, 30 of its radii out, with 5 % of its area open
  // facing away: inside it, away from the opening, is inside.
  const Eigen::Vector3d far(1.5, 0.0, 0.0);
  const TriangleMesh small =
      translated(patchOf(
                     sphereMesh(0.05, 3), [](const Eigen::Vector3d& c) { return c.x() < 0.9 * 0.05; },
                     [](const Eigen::Vector3d& p) { return p; }),
                 far);
  const MeshSolid with_far_piece = solidOf(appended(sphereMesh(1.0, 3), small));
  ASSERT_TRUE(with_far_piece.isSolid());
  std::mt19937_64 engine(97);
  for (int i = 0; i < 300; ++i) {
    const Eigen::Vector3d offset = uniformIn(engine, Eigen::Vector3d::Constant(-0.05), Eigen::Vector3d::Constant(0.05));
    if (offset.norm() > 0.045 || offset.x() > 0.02) continue;
    EXPECT_TRUE(with_far_piece.contains(far + offset)) << offset.transpose();
    EXPECT_FALSE(with_far_piece.contains(far + 1.2 * offset + Eigen::Vector3d(0, 0, 0.1))) << offset.transpose();
  }
}

// A tube open at both ends, two radii long, is an open surface however far
// apart its seam's two sides lie: its triangles wind about 0.7 at its centre.
TEST(MeshSolid, ATubeOpenAtBothEndsIsASurfaceWhateverItsSeam) {
  for (const double seam : {0.0, 1.5e-6, 5e-6, 8e-6}) {
    SCOPED_TRACE(seam);
    const TriangleMesh tube = gridSurface(8, 64, [seam](double u, double v) {
      const double angle = 2 * M_PI * v - (v == 1.0 ? seam / 0.02 : 0.0);
      return Eigen::Vector3d(0.02 * std::cos(angle), 0.02 * std::sin(angle), 0.04 * u);
    });
    const MeshSolid solid = solidOf(tube);
    EXPECT_FALSE(solid.isSolid());
    EXPECT_FALSE(solid.contains({0.0, 0.0, 0.02}));
  }
}

// In the world a closed part inside another and wound against it is a
// cavity; the arm's own meshes keep it solid.
TEST(MeshSolid, ACavityIsHollowOnlyWhereCavitiesAreAskedHollow) {
  const TriangleMesh outer = boxMesh(Eigen::Vector3d::Constant(-1.5), Eigen::Vector3d::Constant(1.5));
  const TriangleMesh inner = boxMesh(Eigen::Vector3d::Constant(-1.4), Eigen::Vector3d::Constant(1.4));
  const TriangleMesh room = appended(outer, inverted(inner));
  const TriangleMesh ball = sphereMesh(0.3, 2);
  // Written inside out, the outermost part is still turned, and the cavity with it.
  for (const TriangleMesh& mesh : {room, inverted(room)}) {
    expectTheIntendedSolid(mesh, room, 101, 0.01, true);
    const MeshSolid solid(mesh.points, mesh.triangles);
    EXPECT_TRUE(solid.contains(Eigen::Vector3d::Zero()));
  }
  // A ball standing in the room is solid, and so is a ball in the wall's cavity turned outwards.
  expectTheIntendedSolid(appended(room, ball), appended(room, ball), 103, 0.01, true);
  const MeshSolid nested(appended(outer, inner).points, appended(outer, inner).triangles,
                         bramlock::internal::Cavities::kHollow);
  EXPECT_TRUE(nested.contains(Eigen::Vector3d::Zero()));
}

// Fans of long triangles to one vertex, bands of slivers and long strips
// list thousands of triangles in the cubes about them: points there, and
// near the dense vertices above all, are inside exactly where the shape is.
TEST(MeshSolid, FansSliversAndStripsAnswerAsTheirShapes) {
  constexpr int kSides = 4096;
  struct Shape {
    std::string name;
    TriangleMesh mesh;
    std::function<bool(const Eigen::Vector3d&)> inside;
    std::function<double(const Eigen::Vector3d&)> clearance;
    std::vector<Eigen::Vector3d> dense;
  };
  const double radius = 0.05, height = 0.2;
  const auto rim = circleRimWithSeam(radius, kSides);
  const auto radial = [](const Eigen::Vector3d& p) { return std::hypot(p.x(), p.y()); };
  std::vector<Shape> shapes = {
      {"a cylinder of fanned ends and sliver sides",
       prismMesh(rim, 0.0, height),
       [&](const Eigen::Vector3d& p) { return radial(p) < radius && p.z() > 0.0 && p.z() < height; },
       [&](const Eigen::Vector3d& p) {
         return std::min({std::abs(radial(p) - radius), std::abs(p.z()), std::abs(p.z() - height)});
       },
       {{0, 0, 0}, {0, 0, height}}},
      {"a cone fanned to its tip",
       coneMesh(0.02, 0.01, kSides, 1),
       [&](const Eigen::Vector3d& p) { return p.z() > 0.0 && radial(p) < 0.01 * (1.0 - p.z() / 0.02); },
       [&](const Eigen::Vector3d& p) {
         return std::min(std::abs(p.z()), std::abs(radial(p) - 0.01 * (1.0 - p.z() / 0.02)) * 0.8);
       },
       {{0, 0, 0.02}, {0, 0, 0}}},
      {"a slab of long strips",
       stripSlab(0.2, 0.1, 0.01, kSides),
       [](const Eigen::Vector3d& p) { return (p.array() > 0.0).all() && p.x() < 0.2 && p.y() < 0.1 && p.z() < 0.01; },
       [](const Eigen::Vector3d& p) {
         return std::min({std::abs(p.x()), std::abs(p.x() - 0.2), std::abs(p.y()), std::abs(p.y() - 0.1),
                          std::abs(p.z()), std::abs(p.z() - 0.01)});
       },
       {{0.1, 0.05, 0.0}, {0.0, 0.05, 0.005}}},
  };
  std::mt19937_64 engine(107);
  for (const Shape& shape : shapes) {
    SCOPED_TRACE(shape.name);
    const MeshSolid solid = solidOf(shape.mesh);
    ASSERT_TRUE(solid.isSolid());
    const LocalMesh oracle = oracleMesh(shape.mesh);
    std::vector<Eigen::Vector3d> points = pointsIn(engine, oracle.bounds.min() - Eigen::Vector3d::Constant(0.01),
                                                   oracle.bounds.max() + Eigen::Vector3d::Constant(0.01), 400);
    for (const Eigen::Vector3d& dense : shape.dense) {
      for (int i = 0; i < 200; ++i) {
        points.push_back(dense +
                         uniformIn(engine, Eigen::Vector3d::Constant(-0.003), Eigen::Vector3d::Constant(0.003)));
      }
    }
    int inside = 0;
    for (const Eigen::Vector3d& p : points) {
      if (shape.clearance(p) < 1e-5) continue;
      ASSERT_EQ(solid.contains(p), shape.inside(p)) << p.transpose();
      inside += shape.inside(p);
    }
    EXPECT_GT(inside, 100);
  }
}

// ---- what the triangles as written clearly say ----

// The winding number of the triangles as written: each one's solid angle
// (Van Oosterom and Strackee) summed in long double, over 4 pi.
long double writtenWinding(const TriangleMesh& mesh, const Eigen::Vector3d& p) {
  using Vector = Eigen::Matrix<long double, 3, 1>;
  long double angle = 0.0L;
  for (const fcl::Triangle& t : mesh.triangles) {
    const Vector a = (mesh.points[t[0]] - p).cast<long double>(), b = (mesh.points[t[1]] - p).cast<long double>(),
                 c = (mesh.points[t[2]] - p).cast<long double>();
    const long double la = a.norm(), lb = b.norm(), lc = c.norm();
    angle += 2.0L * std::atan2(a.dot(b.cross(c)), la * lb * lc + a.dot(b) * lc + a.dot(c) * lb + b.dot(c) * la);
  }
  return angle / (4.0L * static_cast<long double>(M_PI));
}

// The mesh with its copies of a vertex (equal coordinates) made one vertex.
TriangleMesh sharedByPosition(const TriangleMesh& mesh) {
  TriangleMesh shared;
  std::map<std::tuple<double, double, double>, size_t> index_of;
  std::vector<size_t> to;
  for (const Eigen::Vector3d& p : mesh.points) {
    const auto [found, added] = index_of.emplace(std::make_tuple(p.x(), p.y(), p.z()), shared.points.size());
    if (added) shared.points.push_back(p);
    to.push_back(found->second);
  }
  for (const fcl::Triangle& t : mesh.triangles) shared.triangles.emplace_back(to[t[0]], to[t[1]], to[t[2]]);
  return shared;
}

using bramlock::internal::Cavities;

// contains() where the written triangles are clear, at points drawn in
// their box grown by 3 cm and the extra ones: inside where they wind at
// least 0.9 either way, outside where they wind less than 0.1 a centimetre
// or more from every one of them (0.91 and 0.09 here, past the sums' error);
// asked piece by piece, the same, and the pieces' boxes hold every point inside.
void expectWhatTheWrittenTrianglesClearlySay(const TriangleMesh& mesh, Cavities cavities, std::uint64_t seed,
                                             const std::vector<Eigen::Vector3d>& extra = {}, int least = 10) {
  const MeshSolid solid(mesh.points, mesh.triangles, cavities);
  const std::vector<Eigen::AlignedBox3d> boxes = solid.pieceBoxesMovedTo(mesh.points.data(), mesh.points.size());
  const Eigen::AlignedBox3d bounds = oracleMesh(mesh).bounds;
  std::mt19937_64 engine(seed);
  const Eigen::Vector3d margin = Eigen::Vector3d::Constant(0.03);
  std::vector<Eigen::Vector3d> points = pointsIn(engine, bounds.min() - margin, bounds.max() + margin, 400);
  points.insert(points.end(), extra.begin(), extra.end());
  int inside = 0, outside = 0, wrong = 0;
  std::string first_wrong;
  for (const Eigen::Vector3d& p : points) {
    const long double winding = writtenWinding(mesh, p);
    const bool clearly_inside = std::abs(winding) >= 0.91L;
    if (!clearly_inside && !(std::abs(winding) < 0.09L && distanceToSurface(mesh, p) >= 0.0101)) continue;
    (clearly_inside ? inside : outside) += 1;
    bool in_piece = false;
    for (std::size_t piece = 0; piece < solid.pieceVertices().size(); ++piece) {
      in_piece = in_piece || solid.containsInPiece(p, piece);
    }
    const bool boxed = boxes.empty() || std::any_of(boxes.begin(), boxes.end(),
                                                    [&](const Eigen::AlignedBox3d& box) { return box.contains(p); });
    if ((solid.contains(p) == clearly_inside && in_piece == clearly_inside && (boxed || !clearly_inside)) ||
        wrong++ > 0) {
      continue;
    }
    std::ostringstream text;
    text << "(" << p.transpose() << ") with written winding number " << static_cast<double>(winding);
    first_wrong = text.str();
  }
  EXPECT_EQ(wrong, 0) << wrong << " of " << inside + outside << " clear points wrong, the first " << first_wrong;
  EXPECT_GE(inside, least);
  EXPECT_GE(outside, least);
}

// A box of 100 x 60 x 40 mm whose faces are each a grid of their own (1 to 5
// cells a side), so that vertices of one face lie mid-edge on the next.
TriangleMesh gridFacedBox(std::mt19937_64& engine) {
  std::array<std::array<int, 2>, 6> grids;
  for (auto& grid : grids) grid = {1 + static_cast<int>(engine() % 5), 1 + static_cast<int>(engine() % 5)};
  return perFaceBox({-0.05, -0.03, -0.02}, {0.05, 0.03, 0.02}, 0.0, grids);
}

TriangleMesh soup(const TriangleMesh& mesh) {
  return soupOf(mesh, [](const Eigen::Vector3d& p, size_t, size_t) { return p; });
}

// T-junctions, zero-area triangles, finer caps, fins and open surfaces deep
// enough: the written triangles' answer wherever it is clear.
TEST(MeshSolid, WhatTheWrittenTrianglesClearlyEncloseIsInsideWhateverTheirConnectivity) {
  std::vector<std::pair<std::string, TriangleMesh>> meshes;
  std::mt19937_64 engine(109);
  for (int seed = 0; seed < 12; ++seed) {
    const TriangleMesh box = gridFacedBox(engine);
    meshes.emplace_back("grid-faced box as a soup " + std::to_string(seed), soup(box));
    meshes.emplace_back("grid-faced box indexed " + std::to_string(seed), sharedByPosition(box));
  }
  meshes.emplace_back("a cylinder whose caps have twice the side's rim segments",
                      perFaceCylinder(0.03, 0.08, 16, 0.0, 32));
  const Eigen::Vector3d low(-0.05, -0.03, -0.02), high(0.05, 0.03, 0.02);
  TriangleMesh zero_area = boxMesh(low, high);
  for (int a = 0; a < 8; ++a) {
    for (int axis = 0; axis < 3; ++axis) {
      if (a & (1 << axis)) continue;
      zero_area.points.push_back(0.5 * (zero_area.points[a] + zero_area.points[a | (1 << axis)]));
      zero_area.triangles.emplace_back(a, zero_area.points.size() - 1, a | (1 << axis));
    }
  }
  meshes.emplace_back("a box with a zero-area triangle on every edge", zero_area);
  const TriangleMesh finned = boxWithEdgeFins(low, high, 0.015);
  meshes.emplace_back("a box with a fin on every edge", finned);
  meshes.emplace_back("a box with a fin on every edge as a soup", soup(finned));
  for (const auto& [name, mesh] : meshes) {
    SCOPED_TRACE(name);
    expectWhatTheWrittenTrianglesClearlySay(mesh, Cavities::kSolid, 113, {Eigen::Vector3d::Zero()});
  }
  // Open surfaces wind 0.9 only where they are deep: a lidless cube near its
  // floor's corners, a tube ten radii long around its axis.
  const TriangleMesh lidless = lidlessBoxMesh(Eigen::Vector3d::Zero(), Eigen::Vector3d::Constant(0.1));
  const TriangleMesh tube = gridSurface(8, 64, [](double u, double v) {
    return Eigen::Vector3d(0.02 * std::cos(2 * M_PI * v), 0.02 * std::sin(2 * M_PI * v), 0.2 * u);
  });
  std::vector<Eigen::Vector3d> corners;
  for (const double x : {0.004, 0.096}) {
    for (const double y : {0.004, 0.096}) corners.emplace_back(x, y, 0.004);
  }
  const TriangleMesh cups = appended(lidless, translated(lidless, Eigen::Vector3d::Ones()));
  std::vector<Eigen::Vector3d> both_cups = corners;
  for (const Eigen::Vector3d& corner : corners) both_cups.push_back(corner + Eigen::Vector3d::Ones());
  for (const auto& [mesh, extra] :
       {std::make_pair(lidless, corners), std::make_pair(tube, corners), std::make_pair(cups, both_cups)}) {
    expectWhatTheWrittenTrianglesClearlySay(mesh, Cavities::kSolid, 127, extra, 3);
  }
  EXPECT_TRUE(solidOf(tube).contains({0.0, 0.0, 0.1}));
  EXPECT_FALSE(solidOf(lidless).contains({0.05, 0.05, 0.08}));
}

// An L-shaped bracket of 8 cm arms, 1 cm thick and 5 cm wide, written as ten
// rectangles each `crack` short of every side.
TriangleMesh crackedBracket(double crack) {
  struct Rectangle {
    Eigen::Vector3d corner, u, v;  // u x v points outwards
  };
  const double t = 0.01, w = 0.05, l = 0.08;
  const Eigen::Vector3d x = Eigen::Vector3d::UnitX(), y = Eigen::Vector3d::UnitY(), z = Eigen::Vector3d::UnitZ();
  const std::vector<Rectangle> rectangles = {{{0, 0, 0}, w * y, l * x},       {{t, 0, t}, (l - t) * x, w * y},
                                             {{l, 0, 0}, w * y, t * z},       {{0, 0, 0}, l * z, w * y},
                                             {{t, 0, t}, w * y, (l - t) * z}, {{0, 0, l}, t * x, w * y},
                                             {{0, 0, 0}, l * x, t * z},       {{0, 0, t}, t * x, (l - t) * z},
                                             {{0, w, 0}, t * z, l * x},       {{0, w, t}, (l - t) * z, t * x}};
  TriangleMesh mesh;
  for (const Rectangle& r : rectangles) {
    const Eigen::Vector3d du = crack * r.u.normalized(), dv = crack * r.v.normalized();
    const size_t first = mesh.points.size();
    mesh.points.push_back(r.corner + du + dv);
    mesh.points.push_back(r.corner + r.u - du + dv);
    mesh.points.push_back(r.corner + r.u + r.v - du - dv);
    mesh.points.push_back(r.corner + r.v + du - dv);
    mesh.triangles.emplace_back(first, first + 1, first + 2);
    mesh.triangles.emplace_back(first, first + 2, first + 3);
  }
  return mesh;
}

// Cracks and a lid's gap wider than the joining reach (a thousandth of the
// longest side): the written triangles still wind about 0.99 inside.
TEST(MeshSolid, CracksAndLidGapsBeyondTheJoiningReachKeepTheWrittenInside) {
  const Eigen::Vector3d low(-0.05, -0.03, -0.02), high(0.05, 0.03, 0.02);
  // In the middle of each of the bracket's plates.
  std::vector<Eigen::Vector3d> bracket_deep;
  for (double along = 0.02; along < 0.075; along += 0.01) {
    for (const double across : {0.01, 0.025, 0.04}) {
      bracket_deep.emplace_back(along, across, 0.005);
      bracket_deep.emplace_back(0.005, across, along);
    }
  }
  for (const double share : {1.1e-3, 2e-3, 5e-3}) {
    SCOPED_TRACE(share);
    TriangleMesh lidded = lidlessBoxMesh(low, high);
    const double lid = high.z() + share * 0.1;
    lidded.points.insert(
        lidded.points.end(),
        {{low.x(), low.y(), lid}, {high.x(), low.y(), lid}, {high.x(), high.y(), lid}, {low.x(), high.y(), lid}});
    const size_t first = lidded.points.size() - 4;
    lidded.triangles.emplace_back(first, first + 1, first + 2);
    lidded.triangles.emplace_back(first, first + 2, first + 3);
    const std::vector<Eigen::Vector3d> deep = {{0.0, 0.0, 0.01}, {-0.02, 0.01, -0.005}};
    const std::vector<std::tuple<std::string, TriangleMesh, std::vector<Eigen::Vector3d>>> meshes = {
        {"a box", perFaceBox(low, high, share * 0.1, 2), deep},
        {"a 16-sided cylinder", perFaceCylinder(0.03, 0.08, 16, share * 0.08), deep},
        {"a 64-sided cylinder", perFaceCylinder(0.03, 0.08, 64, share * 0.08), deep},
        {"an L-shaped bracket", crackedBracket(share * 0.08), bracket_deep},
        {"a lid lifted", lidded, deep},
    };
    for (const auto& [name, mesh, extra] : meshes) {
      SCOPED_TRACE(name);
      expectWhatTheWrittenTrianglesClearlySay(mesh, Cavities::kSolid, 131, extra);
    }
  }
}

// World meshes: a box wound inwards overlapping a shell, in either order of
// their triangles; two boxes sharing a face, one wound inwards; a room of six
// closed wall panels overlapping at its edges (the room itself encloses
// nothing); and a hollow room, its inner shell wound inwards.
TEST(MeshSolid, WorldMeshesWoundEitherWayHoldWhatTheirTrianglesClearlySay) {
  const TriangleMesh shell = boxMesh({0.0, 0.0, 0.0}, {0.2, 0.2, 0.2});
  const TriangleMesh inward = inverted(boxMesh({0.1, 0.05, 0.05}, {0.3, 0.15, 0.15}));
  const TriangleMesh beside = inverted(boxMesh({0.2, 0.0, 0.0}, {0.4, 0.2, 0.2}));
  TriangleMesh panels;
  for (int axis = 0; axis < 3; ++axis) {
    for (const double side : {-1.0, 1.0}) {
      Eigen::Vector3d low = Eigen::Vector3d::Constant(-1.1), high = Eigen::Vector3d::Constant(1.1);
      (side < 0 ? high : low)[axis] = side;
      panels = appended(panels, boxMesh(low, high));
    }
  }
  std::mt19937_64 engine(137);
  std::vector<Eigen::Vector3d> in_the_room =
      pointsIn(engine, Eigen::Vector3d::Constant(-0.55), Eigen::Vector3d::Constant(0.55), 50);
  const std::vector<std::tuple<std::string, TriangleMesh, std::vector<Eigen::Vector3d>>> meshes = {
      {"an inward box overlapping a shell", appended(shell, inward), {}},
      {"a shell overlapped by an inward box", appended(inward, shell), {}},
      {"two boxes sharing a face, one inward", appended(shell, beside), {}},
      {"a room of overlapping panels", panels, in_the_room},
      {"a hollow room", roomMesh(Eigen::Vector3d::Constant(-1.1), Eigen::Vector3d::Constant(1.1), 0.1), in_the_room},
  };
  for (const auto& [name, mesh, extra] : meshes) {
    SCOPED_TRACE(name);
    expectWhatTheWrittenTrianglesClearlySay(mesh, Cavities::kHollow, 139, extra);
  }
}

}  // namespace
