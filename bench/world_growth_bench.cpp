// Adding world objects one by one with an FCL checker watching the World: 1 cm
// boxes, each its own object, as a host fills a scene from a list of
// obstacles, scattered over a 2 m cube or in rows of a 2 cm grid. The time per
// run covers all the adds, so the rows for 1,000 and 10,000 boxes show how
// the total grows. In the grid the broad phase's tree (FCL's, whose shape
// the order of the checks follows) grows deeper than among scattered boxes.
#include <benchmark/benchmark.h>

#include <memory>
#include <random>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "silenced_stdout.h"

namespace cd = collision_detection;

namespace {

void addBoxes(benchmark::State& state, bool grid) {
  const int count = static_cast<int>(state.range(0));
  const auto box = std::make_shared<const shapes::Box>(0.01, 0.01, 0.01);
  std::vector<std::string> ids;
  std::vector<Eigen::Isometry3d> poses;
  std::mt19937 draws(7);
  std::uniform_real_distribution<double> coordinate(-1.0, 1.0);
  for (int i = 0; i < count; ++i) {
    ids.push_back("box" + std::to_string(i));
    const Eigen::Vector3d at = grid ? Eigen::Vector3d(0.02 * (i % 50), 0.02 * (i / 50 % 50), 0.02 * (i / 2500))
                                    : Eigen::Vector3d(coordinate(draws), coordinate(draws), coordinate(draws));
    poses.push_back(Eigen::Isometry3d(Eigen::Translation3d(at)));
  }
  bench_support::SilencedStdout quiet;
  for (auto _ : state) {
    state.PauseTiming();
    {
      auto world = std::make_shared<cd::World>();
      auto checker = std::make_unique<cd::CollisionWorldFCL>(world);
      state.ResumeTiming();
      for (int i = 0; i < count; ++i) world->addToObject(ids[i], box, poses[i]);
      state.PauseTiming();
    }
    state.ResumeTiming();
  }
  state.counters["per_add"] = benchmark::Counter(
      static_cast<double>(count), benchmark::Counter::kIsIterationInvariantRate | benchmark::Counter::kInvert);
}
void AddBoxesOneByOne(benchmark::State& state) { addBoxes(state, false); }
BENCHMARK(AddBoxesOneByOne)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

void AddGridBoxesOneByOne(benchmark::State& state) { addBoxes(state, true); }
BENCHMARK(AddGridBoxesOneByOne)->Arg(1000)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
