// Crack joining against plain counts: which written vertex each group of
// joined vertices copies, and which edges stay open once they are joined.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <limits>
#include <map>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include "collision_detection_fcl/solid/mesh_solid.h"
#include "collision_detection_fcl/solid/part_orientation.h"
#include "solid_mesh_makers.h"

using bramlock::internal::Corners;
using bramlock::internal::crackJoinedVertices;
using bramlock::internal::crackReach;
using bramlock::internal::EdgeTable;
using namespace bramlock_test;

namespace {

std::vector<Corners> cornersOf(const TriangleMesh& mesh) {
  std::vector<Corners> faces;
  for (const fcl::Triangle& t : mesh.triangles) {
    faces.push_back(
        {static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]), static_cast<std::uint32_t>(t[2])});
  }
  return faces;
}

std::vector<std::uint32_t> joinedOf(const TriangleMesh& mesh, double reach) {
  const std::vector<Corners> faces = cornersOf(mesh);
  return crackJoinedVertices(mesh.points, faces, EdgeTable(faces, mesh.points.size()), reach);
}

double reachOf(const TriangleMesh& mesh) {
  Eigen::AlignedBox3d bounds;
  for (const Eigen::Vector3d& p : mesh.points) bounds.extend(p);
  return crackReach(bounds);
}

// The soup's copies of each written vertex are joined, and nothing else: a
// group holds copies of one written vertex, and all of them.
TEST(CrackJoin, JoinsTheCopiesOfARoundedApartConeAndNothingElse) {
  for (const int segments : {2048, 8192}) {
    SCOPED_TRACE(segments);
    const TriangleMesh cone = coneMesh(0.06, 0.02, segments, 1);
    std::mt19937_64 engine(segments);
    const TriangleMesh soup = roundedApartSoup(cone, 1e-6, engine);
    // Ring vertices 2 pi r / segments apart, within the reach from 2,048 segments on.
    ASSERT_LT(2 * M_PI * 0.02 / segments, 1.1 * reachOf(soup));
    const std::vector<std::uint32_t> joined = joinedOf(soup, reachOf(soup));
    ASSERT_EQ(joined.size(), soup.points.size());
    const auto written = [&](std::uint32_t copy) { return cone.triangles[copy / 3][copy % 3]; };
    std::map<std::size_t, std::uint32_t> group_of_written;
    for (std::uint32_t copy = 0; copy < soup.points.size(); ++copy) {
      ASSERT_EQ(written(joined[copy]), written(copy)) << "copy " << copy;
      const auto [group, first] = group_of_written.emplace(written(copy), joined[copy]);
      ASSERT_EQ(group->second, joined[copy]) << "copies of vertex " << written(copy) << " left apart";
    }
    EXPECT_EQ(group_of_written.size(), cone.points.size());
  }
}

// Every edge of the joined mesh has two triangles running it opposite ways,
// and the joined box has the vertices of a closed surface of its grids.
TEST(CrackJoin, ABoxWrittenFaceByFaceWithCracksCloses) {
  const Eigen::Vector3d low(-0.03, -0.03, -0.06), high(0.03, 0.03, 0.06);
  for (const double crack : {1e-6, 1e-5, 1e-4}) {
    for (const int grid : {1, 2, 3}) {
      SCOPED_TRACE(std::to_string(crack) + " of the longest side, grid " + std::to_string(grid));
      const TriangleMesh box = perFaceBox(low, high, crack * 0.12, grid);
      const std::vector<std::uint32_t> joined = joinedOf(box, reachOf(box));
      ASSERT_EQ(joined.size(), box.points.size());
      std::map<std::pair<std::uint32_t, std::uint32_t>, int> runs;
      std::map<std::uint32_t, int> vertices;
      for (const fcl::Triangle& t : box.triangles) {
        for (int k = 0; k < 3; ++k) {
          const std::uint32_t from = joined[t[k]], to = joined[t[(k + 1) % 3]];
          ASSERT_NE(from, to);
          ++runs[{from, to}];
          ++vertices[from];
        }
      }
      for (const auto& [edge, count] : runs) {
        EXPECT_EQ(count, 1) << edge.first << " to " << edge.second;
        EXPECT_EQ(runs.count({edge.second, edge.first}), 1u) << edge.first << " to " << edge.second << " open";
      }
      EXPECT_EQ(vertices.size(), static_cast<std::size_t>(6 * grid * grid + 2));
    }
  }
}

// A strip narrower than the reach, vertices a tenth of the reach apart along
// it: its two sides run opposite ways within reach, across its own surface.
TEST(CrackJoin, TwoSidesOfOneRimAreJoinedAcrossAGapAndNeverAcrossTheirSurface) {
  constexpr double kReach = 1e-3;
  const TriangleMesh strip =
      gridSurface(1, 100, [](double u, double v) { return Eigen::Vector3d(10 * kReach * v, 0.6 * kReach * u, 0.0); });
  EXPECT_TRUE(joinedOf(strip, kReach).empty());

  // A tube of 500 rows whose seam's sides lie 0.3 of the reach apart, more
  // than a quarter of a row: its one rim faces itself across the seam.
  constexpr int kRows = 500, kColumns = 64;
  constexpr double kRadius = 0.02, kGap = 0.3 * kReach;
  const TriangleMesh tube = gridSurface(kRows, kColumns, [&](double u, double v) {
    const double angle = v * (2 * M_PI - kGap / kRadius);
    return Eigen::Vector3d(kRadius * std::cos(angle), kRadius * std::sin(angle), 0.2 * kReach * kRows * u);
  });
  const std::vector<std::uint32_t> joined = joinedOf(tube, kReach);
  ASSERT_EQ(joined.size(), tube.points.size());
  for (std::uint32_t vertex = 0; vertex < tube.points.size(); ++vertex) {
    const std::uint32_t column = vertex % (kColumns + 1), row_start = vertex - column;
    const std::uint32_t expected = column == kColumns ? row_start : vertex;
    ASSERT_EQ(joined[vertex], expected) << "row " << vertex / (kColumns + 1) << ", column " << column;
  }
}

// A flat ring narrower than the reach, its segments far longer: its inner
// and outer rims run opposite ways within reach of each other, but the
// ring's own edges join them, so nothing is joined.
TEST(CrackJoin, VerticesThatTheMeshsOwnEdgesJoinStayApart) {
  constexpr double kReach = 1e-3;
  const TriangleMesh ring = gridSurface(1, 64, [](double u, double v) {
    const double radius = 0.1 + 0.5 * kReach * u, angle = 2 * M_PI * v;
    return Eigen::Vector3d(radius * std::cos(angle), radius * std::sin(angle), 0.0);
  });
  // Its seam welded: the last column is the first.
  TriangleMesh welded = ring;
  for (fcl::Triangle& t : welded.triangles) {
    for (int k = 0; k < 3; ++k) {
      if (t[k] % 65 == 64) t[k] -= 64;
    }
  }
  EXPECT_TRUE(joinedOf(welded, kReach).empty());
}

// Meshes whose vertices the joining must gather from many copies: every
// triangle written three to five times with mixed windings, or one in eight
// flipped, then unshared and rounded apart beyond the weld; lids lifted and
// shifted; boxes written face by face and rounded apart.
std::vector<std::pair<std::string, TriangleMesh>> gatheredMeshes() {
  std::mt19937_64 engine(101);
  std::vector<std::pair<std::string, TriangleMesh>> meshes;
  for (int k = 0; k < 6; ++k) {
    TriangleMesh repeated = icosphere(Eigen::Vector3d::Zero(), 0.1, 2);
    const std::size_t written = repeated.triangles.size();
    for (std::size_t t = 0; t < written; ++t) {
      for (int copy = 0; copy < 2 + k % 3; ++copy) {
        fcl::Triangle again = repeated.triangles[t];
        if (engine() % 3 == 0) std::swap(again[1], again[2]);
        repeated.triangles.push_back(again);
      }
    }
    meshes.emplace_back("repeated " + std::to_string(k), roundedApartSoup(repeated, 2e-6, engine));
    TriangleMesh flipped = icosphere(Eigen::Vector3d::Zero(), 1.0, 2 + k % 2);
    for (fcl::Triangle& t : flipped.triangles) {
      if (engine() % 8 == 0) std::swap(t[1], t[2]);
    }
    meshes.emplace_back("flipped " + std::to_string(k), roundedApartSoup(flipped, k % 2 ? 3e-6 : 1e-5, engine));
    const Eigen::Vector3d high(0.1, 0.06, 0.04);
    TriangleMesh lid;
    const double lift = 1e-4 * (k + 1) * 0.1, shift = (k % 3 - 1) * 2e-5;
    lid.points = {{shift, shift, high.z() + lift},
                  {high.x() + shift, shift, high.z() + lift},
                  {high.x() + shift, high.y() + shift, high.z() + lift},
                  {shift, high.y() + shift, high.z() + lift}};
    lid.triangles = {{0, 1, 2}, {0, 2, 3}};
    meshes.emplace_back("lid " + std::to_string(k), appended(lidlessBoxMesh(Eigen::Vector3d::Zero(), high), lid));
    meshes.emplace_back(
        "box " + std::to_string(k),
        roundedApartSoup(perFaceBox(Eigen::Vector3d::Zero(), high, 1e-5 * (k + 1), 1 + k % 3), 1e-6 * k, engine));
  }
  return meshes;
}

// FNV-1a over the answers at points drawn in the mesh's box grown by a tenth each way.
std::uint64_t answersDigest(const TriangleMesh& mesh, std::uint64_t seed) {
  const bramlock::internal::MeshSolid solid(mesh.points, mesh.triangles);
  Eigen::AlignedBox3d box;
  for (const Eigen::Vector3d& p : mesh.points) box.extend(p);
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> share(-0.1, 1.1);
  std::uint64_t digest = 14695981039346656037ull;
  for (int i = 0; i < 2000; ++i) {
    const Eigen::Vector3d p =
        box.min() + box.sizes().cwiseProduct(Eigen::Vector3d(share(engine), share(engine), share(engine)));
    digest = (digest ^ (solid.contains(p) ? 1u : 0u)) * 1099511628211ull;
  }
  return digest;
}

// The answers the joining of every facing pair within reach gave (with the
// written triangles' guard), which the joining through k-d trees keeps.
TEST(CrackJoin, MeshesGatheredFromManyCopiesAnswerAsRecorded) {
  const std::map<std::string, std::uint64_t> recorded = {
      {"repeated 0", 16071999155155428826ull}, {"flipped 0", 2569096874128797085ull},
      {"lid 0", 11511878388459537495ull},      {"box 0", 5717856813341351274ull},
      {"repeated 1", 18237209142157425885ull}, {"flipped 1", 10873237281139570841ull},
      {"lid 1", 5717856813341351274ull},       {"box 1", 5717856813341351274ull},
      {"repeated 2", 14961668887477944388ull}, {"flipped 2", 8180397535908754068ull},
      {"lid 2", 8769046624697939177ull},       {"box 2", 5717856813341351274ull},
      {"repeated 3", 10266738096255143240ull}, {"flipped 3", 16142445871997191389ull},
      {"lid 3", 11511878388459537495ull},      {"box 3", 4335961856578049375ull},
      {"repeated 4", 15586153781828204990ull}, {"flipped 4", 8180397535908754068ull},
      {"lid 4", 5717856813341351274ull},       {"box 4", 5717856813341351274ull},
      {"repeated 5", 12523483433041632084ull}, {"flipped 5", 13367281662171103250ull},
      {"lid 5", 8769046624697939177ull},       {"box 5", 5717856813341351274ull}};
  for (const auto& [name, mesh] : gatheredMeshes()) {
    const std::uint64_t digest = answersDigest(mesh, 7);
    ASSERT_EQ(recorded.count(name), 1u) << name;
    EXPECT_EQ(digest, recorded.at(name)) << name;
  }
}

// Vertices that are not finite are never joined; a reach that is not a
// positive number joins nothing, and an infinite one ends.
TEST(CrackJoin, BadNumbersJoinNothingThatIsNotFinite) {
  const double nan = std::numeric_limits<double>::quiet_NaN(), inf = std::numeric_limits<double>::infinity();
  TriangleMesh box = perFaceBox(Eigen::Vector3d::Zero(), Eigen::Vector3d::Ones(), 1e-4, 2);
  const std::vector<Eigen::Vector3d> bad = {{nan, 0, 0}, {inf, 0, 0}, {0, -inf, 0}, {1e300, 1e300, 1e300}};
  for (std::size_t k = 0; k < bad.size(); ++k) box.points[9 * k] = bad[k];
  for (const double reach : {nan, -1.0, 0.0}) EXPECT_TRUE(joinedOf(box, reach).empty()) << reach;
  for (const double reach : {1e-3, inf}) {
    const std::vector<std::uint32_t> joined = joinedOf(box, reach);
    for (std::uint32_t vertex = 0; vertex < joined.size(); ++vertex) {
      if (!box.points[vertex].allFinite() || !box.points[joined[vertex]].allFinite()) {
        EXPECT_EQ(joined[vertex], vertex) << reach;
      }
    }
  }
  EXPECT_TRUE(joinedOf(TriangleMesh{}, 1e-3).empty());
}

}  // namespace
