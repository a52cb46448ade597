// The parts of the inside test of meshes that need not be exact to the bit
// but must agree with a plain count: the weld of vertices against the union
// of every pair within reach, and the caps' winding number against the sum
// of their triangles' solid angles.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "collision_detection_fcl/solid/closed_chain.h"
#include "common/roots.h"
#include "solid_mesh_makers.h"
#include "solid_mesh_oracle.h"

using bramlock::internal::Corners;
using bramlock::internal::Roots;

namespace {

// Every pair of used vertices within reach joined, one by one.
std::vector<std::uint32_t> weldedPairByPair(const std::vector<Eigen::Vector3d>& points,
                                            const std::vector<Corners>& triangles, double reach) {
  std::vector<bool> used(points.size(), false);
  for (const Corners& corners : triangles) {
    for (const std::uint32_t vertex : corners) used[vertex] = true;
  }
  Roots roots(points.size());
  for (std::uint32_t a = 0; a < points.size(); ++a) {
    for (std::uint32_t b = a + 1; b < points.size(); ++b) {
      if (used[a] && used[b] && (points[a] - points[b]).cwiseAbs().maxCoeff() <= reach) roots.join(a, b);
    }
  }
  std::vector<std::uint32_t> welded(points.size());
  for (std::uint32_t vertex = 0; vertex < points.size(); ++vertex) welded[vertex] = roots.of(vertex);
  return welded;
}

// Points in clusters of many kinds for a weld of `reach`: copies far within
// reach of each other, some of them in the thousands; lattices of steps of a
// sixteenth of reach (exact in binary, so pairs lie exactly at reach apart);
// chains of steps just within and just beyond reach; clusters about the
// faces and corners of cells of reach and of 64 reach from `low`; lone points.
std::vector<Eigen::Vector3d> clusteredPoints(std::mt19937_64& engine, const Eigen::Vector3d& low, double reach,
                                             double extent) {
  std::uniform_real_distribution<double> unit(0.0, 1.0);
  const auto anywhere = [&] {
    return Eigen::Vector3d(low + extent * Eigen::Vector3d(unit(engine), unit(engine), unit(engine)));
  };
  const auto jitter = [&](double size) {
    return Eigen::Vector3d(size * Eigen::Vector3d(unit(engine) - 0.5, unit(engine) - 0.5, unit(engine) - 0.5));
  };
  // A corner of a cell of `cells` reaches near `at`, as the weld counts cells from `low`.
  const auto cellCorner = [&](const Eigen::Vector3d& at, double cells) {
    const double side = cells * reach;
    return Eigen::Vector3d(low + side * ((at - low) / side).array().floor().matrix());
  };
  std::vector<Eigen::Vector3d> points;
  for (int cluster = 0; cluster < 60; ++cluster) {
    const int kind = cluster % 6;
    Eigen::Vector3d at = anywhere();
    if (kind == 0) {
      const int copies = cluster == 0 ? 3000 : 1 + static_cast<int>(engine() % 200);
      for (int k = 0; k < copies; ++k) points.push_back(at + jitter(0.01 * reach));
    } else if (kind == 1) {
      at = cellCorner(at, 1.0);
      for (int k = 0; k < 40; ++k) {
        const Eigen::Vector3d step(static_cast<double>(engine() % 40), static_cast<double>(engine() % 40),
                                   static_cast<double>(engine() % 40));
        points.push_back(at + reach / 16.0 * step);
      }
    } else if (kind == 2) {
      const Eigen::Vector3d direction = Eigen::Vector3d::Unit(static_cast<int>(engine() % 3));
      const double step = (cluster % 4 == 2 ? 0.999 : 1.001) * reach;
      for (int k = 0; k < 150; ++k) points.push_back(at + k * step * direction + jitter(1e-4 * reach));
    } else if (kind == 3) {
      at = cellCorner(at, cluster % 4 == 3 ? 64.0 : 1.0);
      for (int k = 0; k < 150; ++k) points.push_back(at + jitter(2.5 * reach));
    } else if (kind == 4) {
      at = cellCorner(at, 64.0);
      for (int k = 0; k < 150; ++k) points.push_back(at + jitter(0.2 * reach));
    } else {
      for (int k = 0; k < 30; ++k) points.push_back(anywhere());
    }
  }
  std::shuffle(points.begin(), points.end(), engine);
  return points;
}

// Triangles over most of the points, leaving some unused.
std::vector<Corners> trianglesOver(std::mt19937_64& engine, std::size_t count) {
  std::vector<Corners> triangles;
  for (std::uint32_t first = 0; first + 3 <= count; first += 3) {
    if (engine() % 10 == 0) continue;
    triangles.push_back({first, first + 1, first + 2});
  }
  return triangles;
}

// The mesh welded, mended and capped as the inside test takes it.
bramlock::internal::ClosedChain chainOf(const bramlock_test::TriangleMesh& mesh) {
  std::vector<Corners> triangles;
  Eigen::AlignedBox3d bounds;
  for (const fcl::Triangle& t : mesh.triangles) {
    triangles.push_back(
        {static_cast<std::uint32_t>(t[0]), static_cast<std::uint32_t>(t[1]), static_cast<std::uint32_t>(t[2])});
    for (int k = 0; k < 3; ++k) bounds.extend(mesh.points[t[k]]);
  }
  const double reach = bramlock::internal::weldReach(bounds);
  const std::vector<std::uint32_t> welded = bramlock::internal::weldedVertices(mesh.points, triangles, bounds, reach);
  std::vector<Corners> faces;
  for (Corners corners : triangles) {
    for (std::uint32_t& vertex : corners) vertex = welded[vertex];
    if (corners[0] != corners[1] && corners[1] != corners[2] && corners[2] != corners[0]) faces.push_back(corners);
  }
  const bramlock::internal::EdgeTable edges(faces, mesh.points.size());
  const bramlock::internal::TangledEdges tangled(faces, edges);
  const std::vector<char> left_out = tangled.cancelRepeats(faces);
  std::vector<bramlock::internal::OpenEdge> open = tangled.openEdges(faces, left_out);
  std::vector<Corners> kept;
  for (std::size_t face = 0; face < faces.size(); ++face) {
    if (!left_out[face]) kept.push_back(faces[face]);
  }
  return bramlock::internal::closedChainOf(mesh.points, std::move(kept), std::move(open), reach);
}

// The caps' fans as a mesh of their own, for the winding number summed triangle by triangle.
bramlock_test::LocalMesh capFans(const bramlock::internal::ClosedChain& chain) {
  bramlock_test::LocalMesh fans;
  fans.vertices = chain.points;
  for (const bramlock::internal::RimCap& cap : chain.caps) {
    const auto apex = static_cast<unsigned>(fans.vertices.size());
    fans.vertices.push_back(cap.apex);
    for (std::uint32_t edge = cap.first_edge; edge < cap.last_edge; ++edge) {
      fans.triangles.push_back({apex, chain.cap_edges[edge][0], chain.cap_edges[edge][1]});
    }
  }
  return fans;
}

// The mended triangles with the caps wound against their rims.
bramlock_test::LocalMesh closedSurface(const bramlock::internal::ClosedChain& chain) {
  bramlock_test::LocalMesh surface;
  surface.vertices = chain.points;
  for (const Corners& corners : chain.triangles) surface.triangles.push_back({corners[0], corners[1], corners[2]});
  return surface;
}

}  // namespace

TEST(ClosedChain, WeldJoinsExactlyThePairsWithinReach) {
  struct Case {
    std::string name;
    Eigen::Vector3d low;
    double reach;
    double extent;
  };
  // Reach a power of two, so that lattice steps are exact; far from the
  // origin, where rounding is as coarse as reach; and reach from the box.
  const std::vector<Case> cases = {
      {"dyadic reach", Eigen::Vector3d(-0.5, 0.25, 0.0), 1.0 / 1024.0, 0.5},
      {"far from the origin", Eigen::Vector3d(4096.0, -4096.0, 1024.0), 1.0 / 1024.0, 0.3},
      {"reach of the box", Eigen::Vector3d(1.0, 2.0, 3.0), 0.0, 0.2},
  };
  for (std::uint64_t seed = 1; seed <= 3; ++seed) {
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name + ", seed " + std::to_string(seed));
      std::mt19937_64 engine(seed);
      double reach = c.reach > 0.0 ? c.reach : 1e-6 * c.extent;
      const std::vector<Eigen::Vector3d> points = clusteredPoints(engine, c.low, reach, c.extent);
      const std::vector<Corners> triangles = trianglesOver(engine, points.size());
      Eigen::AlignedBox3d bounds;
      for (const Corners& corners : triangles) {
        for (const std::uint32_t vertex : corners) bounds.extend(points[vertex]);
      }
      if (c.reach == 0.0) reach = bramlock::internal::weldReach(bounds);
      const std::vector<std::uint32_t> welded = bramlock::internal::weldedVertices(points, triangles, bounds, reach);
      const std::vector<std::uint32_t> expected = weldedPairByPair(points, triangles, reach);
      std::size_t joined = 0, differing = 0;
      for (std::size_t vertex = 0; vertex < points.size(); ++vertex) {
        joined += expected[vertex] != vertex;
        differing += welded[vertex] != expected[vertex];
      }
      EXPECT_EQ(differing, 0u);
      EXPECT_GT(joined, points.size() / 4);
    }
  }
}

// Near a cap its fan is summed triangle by triangle, far off its tree nodes'
// moments stand for it: within a few thousandths of the full sum (a few
// hundredths for the rough sum), for many small holes, a round opening and a
// long slit, near and far; whether the sum reaches a bound is told alike.
TEST(ClosedChain, CapWindingIsTheSumOfTheCapsFans) {
  using bramlock_test::TriangleMesh;
  TriangleMesh holes = bramlock_test::icosphere(Eigen::Vector3d(0.1, 0.2, 0.3), 0.5, 5);
  for (std::size_t t = 0; t < holes.triangles.size(); t += 5) holes.triangles.erase(holes.triangles.begin() + t);
  TriangleMesh opening = bramlock_test::icosphere(Eigen::Vector3d::Zero(), 1.0, 5);
  opening.triangles.erase(std::remove_if(opening.triangles.begin(), opening.triangles.end(),
                                         [&](const fcl::Triangle& t) { return opening.points[t[0]].z() > 0.7; }),
                          opening.triangles.end());
  const std::vector<std::pair<std::string, TriangleMesh>> meshes = {
      {"holes", holes},
      {"opening", opening},
      {"slit", bramlock_test::slitSphere(1.0, 400, 64, 1, 0.02)},
      {"four slits", bramlock_test::slitSphere(1.0, 100, 64, 4, 0.02)},
      {"16 slits of a coarse sphere", bramlock_test::slitSphere(1.0, 16, 32, 16, 0.0082)}};
  for (const auto& [name, mesh] : meshes) {
    SCOPED_TRACE(name);
    const bramlock::internal::ClosedChain chain = chainOf(mesh);
    ASSERT_FALSE(chain.caps.empty());
    const bramlock_test::LocalMesh fans = capFans(chain);
    const bramlock_test::LocalMesh closed = closedSurface(chain);
    Eigen::AlignedBox3d box;
    for (const Eigen::Vector3d& p : mesh.points) box.extend(p);
    std::mt19937_64 engine(7);
    std::uniform_real_distribution<double> unit(-1.0, 1.0);
    double worst = 0.0, worst_rough = 0.0;
    int bounded = 0;
    for (int k = 0; k < 3000; ++k) {
      // Within the box grown by a half, then out to ten times its size.
      const double scale = k < 2000 ? 1.5 : 10.0;
      const Eigen::Vector3d point =
          box.center() +
          scale * 0.5 * box.sizes().cwiseProduct(Eigen::Vector3d(unit(engine), unit(engine), unit(engine)));
      const double full = bramlock_test::windingNumber(fans, point);
      // The caps, parted or not, close the surface: its winding number is whole.
      if (k % 10 == 0) {
        const double whole = bramlock_test::windingNumber(closed, point);
        ASSERT_NEAR(whole, std::round(whole), 1e-6) << point.transpose();
      }
      const double fast = bramlock::internal::capWinding(chain.points, chain.caps, chain.cap_edges, point);
      const double rough = chain.caps.winding(chain.points, chain.cap_edges, point, true);
      worst = std::max(worst, std::abs(fast - full));
      worst_rough = std::max(worst_rough, std::abs(rough - full));
      // Told roughly only where the rough sum is far from the bound.
      for (const double least : {-0.5, 0.5, 1.5}) {
        if (std::abs(full - least) > 0.02) {
          ASSERT_EQ(chain.caps.reaches(chain.points, chain.cap_edges, point, least), full >= least);
        }
      }
      // A ball the caps are bounded in holds no point where they reach the bound.
      for (const double radius : {0.0, 0.02, 0.2}) {
        const Eigen::Vector3d centre =
            point + radius * Eigen::Vector3d(unit(engine), unit(engine), unit(engine)) / std::sqrt(3.0);
        if (!chain.caps.boundedBelow(centre, radius, 0.4)) continue;
        ASSERT_LT(std::abs(full), 0.4) << point.transpose() << " in the ball of radius " << radius;
        ++bounded;
      }
    }
    EXPECT_GT(bounded, 1000);
    // Just off a cap's apex its fan spans nearly half the sphere of directions.
    for (std::size_t cap = 0; cap < chain.caps.size(); cap += 1 + chain.caps.size() / 200) {
      const bramlock::internal::RimCap& near = chain.caps[cap];
      if (!(near.vector_area.norm() > 0.0)) continue;
      const Eigen::Vector3d point = near.apex + 1e-3 * near.radius * near.vector_area.normalized();
      if (std::abs(bramlock_test::windingNumber(fans, point)) < 0.4) continue;
      EXPECT_FALSE(chain.caps.boundedBelow(point, 0.0, 0.4)) << point.transpose();
    }
    EXPECT_LT(worst, 5e-3);
    // Well within the margin of the rough sum.
    EXPECT_LT(worst_rough, 0.04);
  }
}
