// The inside test per point near meshes whose triangulation crowds a few
// places: a cylinder's end drawn as a fan (points 2.8 mm under the fan's
// centre), a cone fanned to its tip (points 2 to 10 mm beyond and beside the
// tip), a cylinder's side of slivers spanning its length (points 2 to 10 mm
// off the side) and a slab 10 mm thick of long strips (points within it, 2
// to 8 mm from its strips); and inside, 0.1 to 1 mm from the surface: just
// below a one-ring cone's tip, under the spine of a book whose pages all
// hang on one edge of its closed cover (and between the pages, 2 to 10 mm
// from the spine), below the pole where 16 slits of a sphere nearly meet,
// and in an icosphere written twice (the copy wound at random, and outside
// it 2 to 10 mm too); at 1,024 to 65,536
// segments (pages); each against an icosphere of about as many triangles and
// as large at the same distances, inside for inside and outside for outside
// (the reference rows), and a cone of one ring against the same cone cut
// into 40 rings. Compare each row with its reference in the same run.
#include <cmath>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>

#include "closed_meshes.h"
#include "collision_detection_fcl/solid/mesh_solid.h"

namespace {

using bramlock_test::TriangleMesh;

enum class Crowd {
  kFanEnd,
  kDrillTip,
  kSliverSide,
  kStripSlab,
  kConeTip,
  kUnderSpine,
  kBesidePages,
  kSlitsMeet,
  kWrittenTwice,
  kWrittenTwiceOut
};

constexpr int kPoints = 256;
constexpr double kSphereRadius = 0.05;
// Inside points lie this near the surface, outside points this far.
constexpr double kNearestInside = 1e-4, kNearInside = 1e-3;
constexpr double kNearOutside = 0.002, kFarOutside = 0.01;

Eigen::Vector3d onUnitSphere(std::mt19937_64& engine) {
  std::normal_distribution<double> normal;
  return Eigen::Vector3d(normal(engine), normal(engine), normal(engine)).normalized();
}

double between(std::mt19937_64& engine, double low, double high) {
  return std::uniform_real_distribution<double>(low, high)(engine);
}

// The rounds of an icosphere of about as many triangles as `segments`.
int icosphereRounds(int segments) {
  return static_cast<int>(std::lround(std::log(4.0 * segments / 20.0) / std::log(4.0)));
}

// Points from `low` to `high` off an icosphere's surface (negative inside).
std::vector<Eigen::Vector3d> pointsOffSphere(double low, double high) {
  std::mt19937_64 engine(5);
  std::vector<Eigen::Vector3d> points;
  for (int k = 0; k < kPoints; ++k)
    points.push_back((kSphereRadius + between(engine, low, high)) * onUnitSphere(engine));
  return points;
}

TriangleMesh crowdedMesh(Crowd crowd, int segments) {
  switch (crowd) {
    case Crowd::kConeTip:
      return bramlock_test::coneMesh(0.04, 0.01, segments, 1);
    case Crowd::kUnderSpine:
    case Crowd::kBesidePages:
      return bramlock_test::bookMesh(segments);
    case Crowd::kSlitsMeet: {
      const int around = static_cast<int>(std::lround(std::sqrt(segments)));
      return bramlock_test::slitSphere(kSphereRadius, around / 2, around, 16, 0.0082);
    }
    case Crowd::kWrittenTwice:
    case Crowd::kWrittenTwiceOut: {
      std::mt19937_64 engine(7);
      return bramlock_test::writtenTwice(
          bramlock_test::icosphere(Eigen::Vector3d::Zero(), kSphereRadius, icosphereRounds(segments)), engine);
    }
    case Crowd::kFanEnd:
    case Crowd::kSliverSide:
      return closed_meshes::rod(Eigen::Vector3d::Zero(), Eigen::Vector3d(0.0, 0.0, 0.2), 0.05, segments);
    case Crowd::kDrillTip:
      return bramlock_test::coneMesh(0.04, 0.01, segments, 1);
    case Crowd::kStripSlab:
      return bramlock_test::stripSlab(0.2, 0.1, 0.01, segments);
  }
  return {};
}

std::vector<Eigen::Vector3d> pointsNear(Crowd crowd) {
  if (crowd == Crowd::kWrittenTwice) return pointsOffSphere(-kNearInside, -kNearestInside);
  if (crowd == Crowd::kWrittenTwiceOut) return pointsOffSphere(kNearOutside, kFarOutside);
  std::mt19937_64 engine(5);
  std::vector<Eigen::Vector3d> points;
  for (int k = 0; k < kPoints; ++k) {
    const double distance = between(engine, 0.002, 0.01);
    const double angle = between(engine, 0.0, 2.0 * M_PI);
    switch (crowd) {
      case Crowd::kFanEnd:
        points.emplace_back(0.0005 * std::cos(angle), 0.0005 * std::sin(angle), 0.2 - 0.0028);
        break;
      case Crowd::kDrillTip: {
        // Beside the last 8 mm of the tip, off its side by `distance`.
        const double z = 0.04 - between(engine, 0.0, 0.008);
        const double off = 0.01 * (1.0 - z / 0.04) + distance;
        points.emplace_back(off * std::cos(angle), off * std::sin(angle), z);
        break;
      }
      case Crowd::kSliverSide:
        points.emplace_back((0.05 + distance) * std::cos(angle), (0.05 + distance) * std::sin(angle),
                            between(engine, 0.05, 0.15));
        break;
      case Crowd::kStripSlab:
        points.emplace_back(between(engine, 0.05, 0.15), between(engine, 0.02, 0.08), 0.005 + 0.003 * distance / 0.01);
        break;
      case Crowd::kConeTip: {
        // 1 mm below the tip the cone is 0.25 mm wide.
        const double off = between(engine, 0.0, 0.00015);
        points.emplace_back(off * std::cos(angle), off * std::sin(angle), 0.039);
        break;
      }
      case Crowd::kUnderSpine:
        points.emplace_back(between(engine, 0.02, 0.08), between(engine, kNearestInside, kNearInside),
                            0.04 - between(engine, kNearestInside, kNearInside));
        break;
      case Crowd::kBesidePages: {
        const double turn = angle / 4.0;
        points.emplace_back(between(engine, 0.02, 0.08), distance * std::cos(turn), 0.04 - distance * std::sin(turn));
        break;
      }
      case Crowd::kSlitsMeet: {
        const double off = between(engine, 0.0, 0.0005);
        points.emplace_back(off * std::cos(angle), off * std::sin(angle), kSphereRadius - 0.001);
        break;
      }
      case Crowd::kWrittenTwice:
      case Crowd::kWrittenTwiceOut:
        break;
    }
  }
  return points;
}

void countQueries(benchmark::State& state, const TriangleMesh& mesh, const std::vector<Eigen::Vector3d>& points) {
  const bramlock::internal::MeshSolid inside(mesh.points, mesh.triangles);
  if (!inside.isSolid()) state.SkipWithError("the mesh was not taken for a solid");
  // Once round first: what the first points build on demand (the ray tree)
  // is not a query's cost.
  std::size_t inside_points = 0;
  for (const Eigen::Vector3d& point : points) inside_points += inside.contains(point);
  std::size_t next = 0;
  for (auto _ : state) benchmark::DoNotOptimize(inside.contains(points[next++ % points.size()]));
  state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
  state.counters["inside_share"] = static_cast<double>(inside_points) / static_cast<double>(points.size());
}

// contains() per iteration near the crowded place of a mesh of state.range(0) segments.
void CrowdedQuery(benchmark::State& state, Crowd crowd) {
  countQueries(state, crowdedMesh(crowd, static_cast<int>(state.range(0))), pointsNear(crowd));
}

// The same distances from an icosphere of radius 5 cm and about as many
// triangles: from `low` to `high` off its surface, negative inside.
void IcosphereQuery(benchmark::State& state, double low, double high) {
  const int rounds = icosphereRounds(static_cast<int>(state.range(0)));
  countQueries(state, bramlock_test::icosphere(Eigen::Vector3d::Zero(), kSphereRadius, rounds),
               pointsOffSphere(low, high));
}

// contains() per iteration 2 to 10 mm off the middle of a cone's side, the
// cone of state.range(0) segments and state.range(1) rings.
void ConeSideQuery(benchmark::State& state) {
  std::mt19937_64 engine(5);
  std::vector<Eigen::Vector3d> points;
  for (int k = 0; k < kPoints; ++k) {
    const double angle = between(engine, 0.0, 2.0 * M_PI), off = between(engine, 0.002, 0.01);
    points.emplace_back((0.005 + off) * std::cos(angle), (0.005 + off) * std::sin(angle), 0.02);
  }
  countQueries(state,
               bramlock_test::coneMesh(0.04, 0.01, static_cast<int>(state.range(0)), static_cast<int>(state.range(1))),
               points);
}

void segments(benchmark::internal::Benchmark* bench) {
  for (const int count : {1024, 4096, 16384, 65536}) bench->Arg(count);
  bench->Unit(benchmark::kNanosecond);
}

BENCHMARK_CAPTURE(IcosphereQuery, outside, kNearOutside, kFarOutside)->Apply(segments);
BENCHMARK_CAPTURE(IcosphereQuery, inside, -kNearInside, -kNearestInside)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, fan_end, Crowd::kFanEnd)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, drill_tip, Crowd::kDrillTip)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, sliver_side, Crowd::kSliverSide)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, strip_slab, Crowd::kStripSlab)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, cone_tip_in, Crowd::kConeTip)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, under_spine_in, Crowd::kUnderSpine)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, beside_pages_in, Crowd::kBesidePages)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, slits_meet_in, Crowd::kSlitsMeet)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, written_twice_in, Crowd::kWrittenTwice)->Apply(segments);
BENCHMARK_CAPTURE(CrowdedQuery, written_twice_out, Crowd::kWrittenTwiceOut)->Apply(segments);
BENCHMARK(ConeSideQuery)
    ->Args({500, 40})
    ->Args({500, 1})
    ->Args({2000, 40})
    ->Args({2000, 1})
    ->Args({20000, 1})
    ->Unit(benchmark::kNanosecond);

}  // namespace

BENCHMARK_MAIN();
