// Planning times of both spline planners on one 10-waypoint 6-joint path of the REV5-U800
// arm: under joint limits only (target: below 20 ms per plan), and under joint, tool-speed and
// torque limits; and on a 5-waypoint path with a segment of several seconds under tool-speed
// limits, whose speed peaks between the optimiser's check points. Counters: the median per plan
// and the optimiser iterations it takes (per run: a run that ends unconverged gets a second).
// And the spline road through TrajectoryGenerator on paths runPlanPipeline plans in the scene
// arm's workcell, for both planners: the paths whose unmended samples the scene's
// checkSampledMotion rejects are counted, and the median times of those and of the others are
// reported apart. Paths are planned with the system's random device; to compare two builds on
// the same paths, run both with LD_PRELOAD=<build>/bench/libfixed_random_device.so.
#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <memory>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "per_call_timing.h"
#include "planning_bench_support.h"
#include "scene_arm_workcell.h"
#include "spline_test_helpers.h"

namespace {

using Path = std::vector<std::vector<double>>;

const std::string kArmUrdf =
    std::string(BRAMLOCK_TEST_FIXTURES_DIR) +
    "/ament_prefix/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";
constexpr int kMaxIterations = 1000;
constexpr double kTolerance = 0.01;

// A random walk of ten waypoints from the arm's zero position.
Path benchPath() {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> step(-0.6, 0.6);
  Path path(1, std::vector<double>(6, 0.0));
  while (path.size() < 10) {
    std::vector<double> next = path.back();
    for (double& q : next) q += step(rng);
    path.push_back(next);
  }
  return path;
}

std::vector<WaypointConstraints> benchLimits(bool with_dynamics) {
  WaypointConstraints limits;
  limits.vmax = {2.0, 2.0, 2.5, 3.0, 3.0, 3.5};
  limits.amax = {6.0, 6.0, 8.0, 10.0, 10.0, 12.0};
  if (with_dynamics) {
    limits.torque_max = {120.0, 90.0, 60.0, 20.0, 20.0, 10.0};
    limits.cartesian.enabled = true;
    limits.cartesian.max_linear_velocity = 1.5;
    limits.cartesian.max_angular_velocity = 4.0;
  }
  return std::vector<WaypointConstraints>(10, limits);
}

std::vector<WaypointConstraints> longSegmentLimits() {
  WaypointConstraints limits;
  limits.vmax = std::vector<double>(6, 3.0);
  limits.amax = {9.8972244405459673, 11.524941476783814, 8.8459460644792056,
                 12.784890087152528, 12.561564403927624, 8.0287709840710466};
  limits.cartesian.enabled = true;
  limits.cartesian.max_linear_velocity = 0.72247630907656213;
  limits.cartesian.max_angular_velocity = 2.1671022361876688;
  return std::vector<WaypointConstraints>(5, limits);
}

enum class Row { kJointLimits, kToolSpeedAndTorque, kLongSegmentToolSpeed };

// The fewest optimiser iterations per run that let the plan converge (0: not within the limit).
int iterationsToConverge(ITrajectoryPlanner& planner, const Path& path,
                         const std::vector<WaypointConstraints>& limits) {
  const auto converges = [&](int iterations) {
    return planner.generateTimeOptimalTrajectory(path, limits, kTolerance, iterations, false).success;
  };
  if (!converges(kMaxIterations)) return 0;
  int low = 0, high = kMaxIterations;  // converges(high), not converges(low)
  while (high - low > 1) {
    const int middle = (low + high) / 2;
    (converges(middle) ? high : low) = middle;
  }
  return high;
}

template <class Planner>
void Plan(benchmark::State& state, Row row) {
  Planner planner;
  if (row != Row::kJointLimits) {
    planner.setRobotModel(kArmUrdf, "end_effector");
  }
  planner.enableTorqueConstraints(row == Row::kToolSpeedAndTorque);
  const bool long_segment = row == Row::kLongSegmentToolSpeed;
  const Path path = long_segment ? spline_test::longSegmentPath() : benchPath();
  const std::vector<WaypointConstraints> limits =
      long_segment ? longSegmentLimits() : benchLimits(row == Row::kToolSpeedAndTorque);
  bool planned = true;
  bench_support::timePerCall(state, std::vector<int>{0}, [&](int) {
    planned &= planner.generateTimeOptimalTrajectory(path, limits, kTolerance, kMaxIterations, false).success;
  });
  state.counters["iterations"] = iterationsToConverge(planner, path, limits);
  if (!planned) state.SkipWithError("the plan did not converge");
}

template <class Planner>
void registerPlans(const std::string& name) {
  const std::pair<Row, const char*> rows[] = {{Row::kJointLimits, "/joint_limits"},
                                              {Row::kToolSpeedAndTorque, "/tool_speed_and_torque_limits"},
                                              {Row::kLongSegmentToolSpeed, "/long_segment_tool_speed_limits"}};
  for (const auto& [row, limits] : rows) {
    benchmark::RegisterBenchmark((name + limits).c_str(), Plan<Planner>, row)
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond);
  }
}

constexpr int kWorkcellRequests = 40;
constexpr int kMaxDrawsPerState = 10000;

// Valid start and goal pairs in the workcell whose direct motion the scene rejects: its detour
// pairs, then seeded draws.
std::vector<scene_arm_workcell::PlanPair> workcellRequests(ManipulatorPlanScene& scene) {
  std::vector<std::pair<double, double>> bounds;
  scene.getPlanSpaceBounds(bounds);
  std::vector<scene_arm_workcell::PlanPair> requests = scene_arm_workcell::detourPairs();
  std::mt19937 rng(11);
  const auto validState = [&] {
    std::vector<double> q(bounds.size());
    for (int draw = 0; draw < kMaxDrawsPerState; ++draw) {
      for (std::size_t j = 0; j < q.size(); ++j)
        q[j] = std::uniform_real_distribution<double>(bounds[j].first, bounds[j].second)(rng);
      if (scene.isValid(q.data())) break;
    }
    return q;
  };
  while (requests.size() < kWorkcellRequests) {
    scene_arm_workcell::PlanPair pair{"drawn", validState(), validState()};
    if (!scene.checkMotion(pair.start.data(), pair.goal.data())) requests.push_back(std::move(pair));
  }
  return requests;
}

// The workcell scene, owned by a pipeline, and the paths it planned.
struct WorkcellPaths {
  WorkcellPaths() {
    planning_bench::SilencedStdout quiet;
    scene = scene_arm_workcell::makeWorkcellScene().release();
    pipeline = std::make_unique<PathPlanAndPostProcessing>(scene);
    for (const scene_arm_workcell::PlanPair& request : workcellRequests(*scene)) {
      std::vector<TrajectoryData> points;
      if (pipeline->runPlanPipeline(request.start, request.goal, points, false) != 0) continue;
      paths.emplace_back();
      for (const TrajectoryData& point : points) paths.back().push_back(point.positions);
    }
    scene->getVmaxAndAmax(vmax, amax);
  }

  ManipulatorPlanScene* scene = nullptr;
  std::unique_ptr<PathPlanAndPostProcessing> pipeline;  // deletes the scene
  std::vector<Path> paths;
  std::vector<double> vmax, amax;
};

// Whether the planner's own trajectory of the path has a sample the scene rejects.
bool needsMending(ITrajectoryPlanner& planner, WorkcellPaths& cell, const Path& path) {
  const TrajectoryResult result = planner.generateTimeOptimalTrajectory(path, cell.vmax, cell.amax, kTolerance,
                                                                        kMaxIterations, false, CartesianConstraints());
  if (!result.success) return false;
  std::vector<std::vector<double>> samples;
  for (const TrajectoryData& sample : result.trajectory.front().children) samples.push_back(sample.positions);
  return !cell.scene->checkSampledMotion(samples, nullptr);
}

template <class Planner>
void TimeWorkcellPaths(benchmark::State& state, const char* type) {
  WorkcellPaths cell;
  if (cell.paths.empty()) {
    state.SkipWithError("no path was planned");
    return;
  }
  Planner planner;
  std::vector<bool> mend;
  for (const Path& path : cell.paths) mend.push_back(needsMending(planner, cell, path));
  TrajectoryGenerator generator(cell.scene);
  generator.setTrajectoryType(type);
  std::vector<double> plain_ms, mended_ms;
  int failed = 0;
  std::size_t next = 0;
  for (auto _ : state) {
    const std::size_t i = next++ % cell.paths.size();
    std::vector<TrajectoryData> out;
    const auto started = std::chrono::steady_clock::now();
    failed += generator.generateTrajectoryData(cell.paths[i], cell.vmax.data(), cell.amax.data(), out, false,
                                               CartesianConstraints()) != 0;
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - started;
    state.SetIterationTime(elapsed.count());
    (mend[i] ? mended_ms : plain_ms).push_back(elapsed.count() * 1e3);
  }
  state.counters["paths"] = static_cast<double>(cell.paths.size());
  state.counters["mended_paths"] = static_cast<double>(std::count(mend.begin(), mend.end(), true));
  state.counters["failed_runs"] = failed;
  state.counters["median_ms_no_mending"] = planning_bench::median(plain_ms);
  state.counters["median_ms_mending"] = planning_bench::median(mended_ms);
}

}  // namespace

int main(int argc, char** argv) {
  // Log statements below the warning level cost nothing and print nothing.
  setenv("SPDLOG_LEVEL", "warning", 0);
  registerPlans<CubicSplineTrajectory>("CubicSplineTrajectory");
  registerPlans<QuinticSplineTrajectory>("QuinticSplineTrajectory");
  for (auto* bench : {benchmark::RegisterBenchmark("TrajectoryGenerator/cubic_spline/workcell_paths",
                                                   TimeWorkcellPaths<CubicSplineTrajectory>, "cubic_spline"),
                      benchmark::RegisterBenchmark("TrajectoryGenerator/quintic_spline/workcell_paths",
                                                   TimeWorkcellPaths<QuinticSplineTrajectory>, "quintic_spline")}) {
    bench->UseManualTime()->Unit(benchmark::kMillisecond)->Iterations(10 * kWorkcellRequests);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
