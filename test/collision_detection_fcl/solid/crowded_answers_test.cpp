// The inside test's answers near places where many triangles crowd (a
// one-ring cone's tip and its base's fan, the spine of a book, the pole where
// slits meet, a mesh written twice), held to those the inside test gave
// before it was made faster there (with the written triangles' guard): how
// fast a point is answered must not change what it is answered. The answers are kept as hexadecimal digits,
// four points to a digit, the first point in the lowest bit.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "collision_detection_fcl/solid/mesh_solid.h"
#include "solid_mesh_makers.h"

namespace {

using bramlock::internal::MeshSolid;
using bramlock_test::TriangleMesh;

struct Crowded {
  std::string name;
  TriangleMesh mesh;
  // The places, and how far around them the points lie.
  std::vector<Eigen::Vector3d> places;
  double around;
  std::string answers;
};

// Per place 96 points within `around` of it (a third of them on the line
// through it along z, where rays along the axes pass the crowd), then 64 in
// the mesh's box grown by a tenth.
std::vector<Eigen::Vector3d> seededPoints(const Crowded& crowded) {
  std::mt19937_64 engine(11);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<Eigen::Vector3d> points;
  for (const Eigen::Vector3d& place : crowded.places) {
    for (int k = 0; k < 96; ++k) {
      Eigen::Vector3d off(unit(engine), unit(engine), unit(engine));
      if (k % 3 == 0) off.head<2>().setZero();
      points.push_back(place + crowded.around * off);
    }
  }
  Eigen::AlignedBox3d box;
  for (const Eigen::Vector3d& point : crowded.mesh.points) box.extend(point);
  for (int k = 0; k < 64; ++k) {
    const Eigen::Vector3d share(unit(engine), unit(engine), unit(engine));
    points.push_back(box.center() + 0.6 * box.sizes().cwiseProduct(share));
  }
  return points;
}

std::string answersAt(const MeshSolid& solid, const std::vector<Eigen::Vector3d>& points) {
  std::string digits;
  for (std::size_t first = 0; first < points.size(); first += 4) {
    int digit = 0;
    for (std::size_t k = first; k < first + 4 && k < points.size(); ++k)
      digit |= solid.contains(points[k]) << (k - first);
    digits.push_back("0123456789abcdef"[digit]);
  }
  return digits;
}

TEST(CrowdedAnswers, AreThoseTheInsideTestGaveBeforeItWasMadeFasterThere) {
  std::mt19937_64 engine(7);
  const auto twice = [&](int rounds) {
    return bramlock_test::writtenTwice(bramlock_test::icosphere(Eigen::Vector3d::Zero(), 0.05, rounds), engine);
  };
  const std::vector<Eigen::Vector3d> cone_places = {{0.0, 0.0, 0.04}, {0.0, 0.0, 0.0}};
  const std::vector<Crowded> crowds = {
      {"cone of 1,024 segments", bramlock_test::coneMesh(0.04, 0.01, 1024, 1), cone_places, 0.0015,
       "102900c44102c401420400407445184518725a37b1105db18408201480400802"},
      {"cone of 16,384 segments", bramlock_test::coneMesh(0.04, 0.01, 16384, 1), cone_places, 0.0015,
       "102900c44102c401420400407445184518725a37b1105db18408201480400802"},
      {"book of 1,024 pages",
       bramlock_test::bookMesh(1024),
       {{0.05, 0.0, 0.04}, {0.05, 0.006, 0.034}},
       0.004,
       "106b01e40127e601460440c0ffffffffffffffffffffffffec5ba55fd1fbbf7e"},
      {"book of 4,096 pages",
       bramlock_test::bookMesh(4096),
       {{0.05, 0.0, 0.04}, {0.05, 0.006, 0.034}},
       0.004,
       "106b01e40127e601460440c0ffffffffffffffffffffffffec5ba55fd1fbbf7e"},
      {"16 slits of 32 segments",
       bramlock_test::slitSphere(0.05, 16, 32, 16, 0.0082),
       {{0.0, 0.0, 0.05}},
       0.003,
       "127fb9ee452fe601474450c05018520500cc0886"},
      {"16 slits of 128 segments",
       bramlock_test::slitSphere(0.05, 64, 128, 16, 0.0082),
       {{0.0, 0.0, 0.05}},
       0.003,
       "127fb9ee452fe601674450c05019520500cd0886"},
      {"icosphere of 1,280 written twice",
       twice(3),
       {{0.0, 0.0, 0.05}, {0.05, 0.0, 0.0}},
       0.003,
       "127fb9ee452fe601474450c008d0380b16a4204088618088e419251c40e80c24"},
      {"icosphere of 5,120 written twice",
       twice(4),
       {{0.0, 0.0, 0.05}, {0.0, -0.05, 0.0}},
       0.003,
       "127fb9ee452fe601474450c02182342214196bc6a8624681e419251c40e80c24"},
  };
  for (const Crowded& crowded : crowds) {
    SCOPED_TRACE(crowded.name);
    const MeshSolid solid(crowded.mesh.points, crowded.mesh.triangles);
    EXPECT_EQ(answersAt(solid, seededPoints(crowded)), crowded.answers);
  }
}

}  // namespace
