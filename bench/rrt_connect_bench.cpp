// RRT-Connect planning (search, simplification, clearance) on the fake box
// scene of the tests: per plan the wall time, the search iterations and the
// scene calls, as medians over the plans of a run, and the success rate.

#include <benchmark/benchmark.h>

#include <chrono>
#include <vector>

#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "fake_box_scene.h"
#include "planning_bench_support.h"

namespace {

using planning_bench::median;
using planning_bench::obstaclesOf;
using planning_bench::SceneKind;
using planning_bench::SilencedStdout;

void planOnFakeScene(benchmark::State& state, SceneKind kind) {
  const int dof = static_cast<int>(state.range(0));
  std::vector<double> millis, iterations, states, motions, simplify_states, simplify_motions;
  int successes = 0;
  for (auto _ : state) {
    fake_scene::FakeBoxScene scene(fake_scene::symmetricBounds(dof), obstaclesOf(kind, dof), 0.05);
    RRTConnect planner(&scene);
    planner.setStepSizeAndSampleRate(0.04, 15);
    planner.setStartAndGoal(fake_scene::leftOfWall(dof), fake_scene::rightOfWall(dof));
    RRTConnect::Path path;
    const auto started = std::chrono::steady_clock::now();
    int code;
    {
      SilencedStdout silence;
      code = planner.planning(path);
    }
    millis.push_back(std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - started).count());
    if (code == 0) ++successes;
    iterations.push_back(planner.lastSearchIterations());
    states.push_back(static_cast<double>(scene.counts.is_valid));
    motions.push_back(static_cast<double>(scene.counts.check_motion));
    simplify_states.push_back(static_cast<double>(scene.counts.is_valid_simplify));
    simplify_motions.push_back(static_cast<double>(scene.counts.check_motion_simplify));
  }
  state.counters["median_ms"] = median(millis);
  state.counters["median_search_iterations"] = median(iterations);
  state.counters["median_isValid"] = median(states);
  state.counters["median_checkMotion"] = median(motions);
  state.counters["median_isValidSimplify"] = median(simplify_states);
  state.counters["median_checkMotionSimplify"] = median(simplify_motions);
  state.counters["success_rate"] = static_cast<double>(successes) / static_cast<double>(millis.size());
}

void BM_PlanOpenSpace(benchmark::State& state) { planOnFakeScene(state, SceneKind::kOpen); }
void BM_PlanWallWithGap(benchmark::State& state) { planOnFakeScene(state, SceneKind::kWallWithGap); }
void BM_PlanNarrowPassage(benchmark::State& state) { planOnFakeScene(state, SceneKind::kNarrowPassage); }

}  // namespace

BENCHMARK(BM_PlanOpenSpace)->Arg(2)->Arg(6)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanWallWithGap)->Arg(2)->Arg(6)->Iterations(200)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_PlanNarrowPassage)->Arg(2)->Arg(6)->Iterations(200)->Unit(benchmark::kMillisecond);

BENCHMARK_MAIN();
