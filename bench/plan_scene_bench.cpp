// State and motion checks of the planning scene on the six-axis scene arm, in
// an empty world and on a floor of 1,000 and 100,000 octomap voxels just below
// the base (close to the arm but not touching it, so every check runs to the end),
// and state checks in the workcell of the scene tests on states near the
// straight motions of its detour pairs, where a planner tests most of them.
#include <cmath>
#include <cstdio>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "heavy_mesh_arm.h"
#include "scene_arm_workcell.h"
#include "silenced_stdout.h"

namespace {

const std::string kSceneArm = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/scene_arm/";
constexpr double kResolution = 0.02;

// Start-up prints a report of the model; keep it out of the benchmark output.
using bench_support::SilencedStdout;

// A square floor of about `voxels` voxels centred below the base.
std::shared_ptr<const octomap::OcTree> floorOf(int voxels) {
  auto tree = std::make_shared<octomap::OcTree>(kResolution);
  const int side = static_cast<int>(std::lround(std::sqrt(static_cast<double>(voxels))));
  for (int i = 0; i < side; ++i) {
    for (int j = 0; j < side; ++j) {
      const double x = (i - side / 2 + 0.5) * kResolution;
      const double y = (j - side / 2 + 0.5) * kResolution;
      tree->updateNode(octomap::point3d(x, y, -0.03), true);
    }
  }
  return tree;
}

std::unique_ptr<ManipulatorPlanScene> sceneWithFloor(int voxels) {
  SilencedStdout quiet;
  std::vector<std::vector<double>> table = {{0.2405, 0.0, 0.0, 0.210, 0.0, 0.144},
                                            {0.0, 0.0, 0.256, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, M_PI_2, 0.0, 0.0, 0.0},
                                            {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2}};
  auto scene = std::make_unique<ManipulatorPlanScene>(kSceneArm, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01,
                                                      1.0, "gripper_link", table,
                                                      std::vector<double>{10, 10, 10, 12, 12, 12});
  if (voxels > 0) scene->updateWorldOctomap(floorOf(voxels));
  return scene;
}

std::vector<double> kFrom = {0.3, -0.5, 0.8, 0.0, 0.5, 0.0};
std::vector<double> kTo = {-0.3, 0.2, 0.4, 0.5, -0.3, 0.4};

void IsValid(benchmark::State& state) {
  auto scene = sceneWithFloor(static_cast<int>(state.range(0)));
  std::vector<double> joints = kFrom;
  if (!scene->isValid(joints.data())) state.SkipWithError("the benchmark state collides");
  for (auto _ : state) {
    benchmark::DoNotOptimize(scene->isValid(joints.data()));
  }
}
BENCHMARK(IsValid)->Arg(0)->Arg(1000)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);

void CheckMotion(benchmark::State& state) {
  auto scene = sceneWithFloor(static_cast<int>(state.range(0)));
  std::vector<double> from = kFrom, to = kTo;
  if (!scene->checkMotion(from.data(), to.data())) state.SkipWithError("the benchmark motion collides");
  state.counters["states"] = scene->validSegmentCount(from.data(), to.data());
  for (auto _ : state) {
    benchmark::DoNotOptimize(scene->checkMotion(from.data(), to.data()));
  }
}
BENCHMARK(CheckMotion)->Arg(0)->Arg(1000)->Arg(100000)->Repetitions(5)->ReportAggregatesOnly(true);

// Seeded states on the straight motions of the detour pairs, each joint moved
// by up to 0.2 rad: about half of them collide with the workcell.
std::vector<std::vector<double>> statesNearDetours(int count) {
  std::mt19937_64 engine(11);
  const auto uniform = [&engine](double low, double high) {
    return low + (high - low) * static_cast<double>(engine() >> 11) * 0x1.0p-53;
  };
  const auto pairs = scene_arm_workcell::detourPairs();
  std::vector<std::vector<double>> states;
  for (int i = 0; i < count; ++i) {
    const auto& pair = pairs[static_cast<size_t>(i) % pairs.size()];
    const double t = uniform(0.0, 1.0);
    std::vector<double> q(pair.start.size());
    for (size_t j = 0; j < q.size(); ++j) q[j] = pair.start[j] + t * (pair.goal[j] - pair.start[j]) + uniform(-0.2, 0.2);
    states.push_back(q);
  }
  return states;
}

// One state check per iteration on the planning road (0) or the simplification
// road (1), with the fixture's meshes or (second argument 1) finely tessellated ones.
void WorkcellStateCheck(benchmark::State& state) {
  std::unique_ptr<ManipulatorPlanScene> scene;
  {
    SilencedStdout quiet;
    const bool heavy = state.range(1) == 1;
    scene = scene_arm_workcell::makeWorkcellSceneIn(heavy ? heavy_mesh_arm::heavyMeshDirectory()
                                                          : scene_arm_workcell::sceneArmDirectory());
  }
  auto states = statesNearDetours(4000);
  const bool simplify = state.range(0) == 1;
  size_t next = 0;
  std::int64_t valid = 0;
  for (auto _ : state) {
    double* joints = states[next++ % states.size()].data();
    const bool answer = simplify ? scene->isValidSimplify(joints) : scene->isValid(joints);
    valid += answer;
    benchmark::DoNotOptimize(answer);
  }
  state.counters["valid_share"] = static_cast<double>(valid) / static_cast<double>(state.iterations());
}
BENCHMARK(WorkcellStateCheck)->ArgsProduct({{0, 1}, {0, 1}})->Unit(benchmark::kMicrosecond)->Repetitions(5)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
