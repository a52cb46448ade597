// The inside test built for meshes where many rim ends meet at one place,
// whose crack joining should cost near-linear time: a star of triangles
// sharing only one vertex, a book of pages on one spine (both 10,000 and
// 100,000 triangles), and a closed one-ring cone (radius 2 cm, height 6 cm)
// of 16,384 and 65,536 segments written as unshared triangles rounded apart
// by up to 1e-6 m on each axis, whose apex and base centre are each copied
// once per triangle within the joining reach.
#include <cmath>
#include <random>

#include <benchmark/benchmark.h>

#include "collision_detection_fcl/solid/mesh_solid.h"
#include "solid_mesh_makers.h"

namespace {

using bramlock_test::TriangleMesh;

// Triangles fanned around the origin in the xy plane, each spanning half of
// its share of the turn, so that no two share an edge: only the origin.
TriangleMesh star(int triangles) {
  TriangleMesh mesh;
  mesh.points.emplace_back(0.0, 0.0, 0.0);
  const double step = 2.0 * M_PI / triangles;
  for (int k = 0; k < triangles; ++k) {
    for (const double angle : {k * step, (k + 0.5) * step})
      mesh.points.emplace_back(std::cos(angle), std::sin(angle), 0.0);
    mesh.triangles.emplace_back(0, 2 * k + 1, 2 * k + 2);
  }
  return mesh;
}

// Pages of two triangles each on the spine from the origin to (0, 0, 0.3),
// spread over half a turn, 0.2 m wide.
TriangleMesh book(int triangles) {
  TriangleMesh mesh;
  mesh.points = {{0.0, 0.0, 0.0}, {0.0, 0.0, 0.3}};
  const int pages = triangles / 2;
  for (int k = 0; k < pages; ++k) {
    const double angle = M_PI * k / pages;
    const Eigen::Vector3d out(0.2 * std::cos(angle), 0.2 * std::sin(angle), 0.0);
    const std::size_t first = mesh.points.size();
    mesh.points.push_back(out);
    mesh.points.push_back(out + Eigen::Vector3d(0.0, 0.0, 0.3));
    mesh.triangles.emplace_back(0, first, first + 1);
    mesh.triangles.emplace_back(0, first + 1, 1);
  }
  return mesh;
}

TriangleMesh roundedApartCone(int segments) {
  std::mt19937_64 engine(segments);
  return bramlock_test::roundedApartSoup(bramlock_test::coneMesh(0.06, 0.02, segments, 1), 1e-6, engine);
}

// The inside test built from the mesh per iteration; counter solid: whether it took the mesh for one.
void build(benchmark::State& state, const TriangleMesh& mesh) {
  bool solid = true;
  for (auto _ : state) {
    bramlock::internal::MeshSolid inside(mesh.points, mesh.triangles);
    solid = inside.isSolid();
    benchmark::DoNotOptimize(inside);
  }
  state.counters["triangles"] = static_cast<double>(mesh.triangles.size());
  state.counters["solid"] = solid;
}

void StarBuild(benchmark::State& state) { build(state, star(static_cast<int>(state.range(0)))); }
BENCHMARK(StarBuild)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void BookBuild(benchmark::State& state) { build(state, book(static_cast<int>(state.range(0)))); }
BENCHMARK(BookBuild)->Arg(10000)->Arg(100000)->Unit(benchmark::kMillisecond)->MinTime(0.5);

void RoundedApartConeBuild(benchmark::State& state) {
  build(state, roundedApartCone(static_cast<int>(state.range(0))));
}
BENCHMARK(RoundedApartConeBuild)->Arg(16384)->Arg(65536)->Unit(benchmark::kMillisecond)->MinTime(0.5);

}  // namespace

BENCHMARK_MAIN();
