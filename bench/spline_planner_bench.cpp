// Planning times of both spline planners on one 10-waypoint 6-joint path of the REV5-U800
// arm: under joint limits only (target: below 20 ms per plan), and under joint, tool-speed and
// torque limits; and on a 5-waypoint path with a segment of several seconds under tool-speed
// limits, whose speed peaks between the optimiser's check points. Counters: the median per plan
// and the optimiser iterations it takes (per run: a run that ends unconverged gets a second).
#include <cstdlib>
#include <random>
#include <string>
#include <utility>
#include <vector>

#include <benchmark/benchmark.h>

#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "per_call_timing.h"
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

}  // namespace

int main(int argc, char** argv) {
  // Log statements below the warning level cost nothing and print nothing.
  setenv("SPDLOG_LEVEL", "warning", 0);
  registerPlans<CubicSplineTrajectory>("CubicSplineTrajectory");
  registerPlans<QuinticSplineTrajectory>("QuinticSplineTrajectory");
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
