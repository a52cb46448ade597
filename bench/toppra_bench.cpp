// TOPP-RA on a 6-joint cubic-spline path under joint velocity and
// acceleration limits, for two grid sizes: the setup that evaluates the path
// and the constraints on the grid, and the controllable-set and forward passes.

#include <benchmark/benchmark.h>

#include <memory>
#include <random>

#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_acceleration.h"
#include "bramlock_arm_planning_core/toppra/constraint/linear_joint_velocity.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"
#include "bramlock_arm_planning_core/toppra/toppra_algorithm.h"

namespace {

using toppra::Vector;

std::shared_ptr<toppra::PiecewisePolyPath> sixJointSpline() {
  std::mt19937 engine(42);
  std::uniform_real_distribution<double> angle(-2.0, 2.0);
  const int points = 8;
  toppra::Vectors positions;
  Vector times(points);
  for (int k = 0; k < points; ++k) {
    positions.push_back(Vector::NullaryExpr(6, [&] { return angle(engine); }));
    times[k] = k;
  }
  return std::make_shared<toppra::PiecewisePolyPath>(toppra::PiecewisePolyPath::CubicSpline(
      positions, times, {toppra::BoundaryCond("clamped"), toppra::BoundaryCond("clamped")}));
}

toppra::LinearConstraintPtrs jointLimits() {
  Vector vmax(6), amax(6);
  vmax << 3.1, 3.1, 3.9, 3.9, 4.3, 4.3;
  amax << 8.0, 8.0, 10.0, 10.0, 12.0, 12.0;
  return {std::make_shared<toppra::constraint::LinearJointVelocity>(-vmax, vmax),
          std::make_shared<toppra::constraint::LinearJointAcceleration>(-amax, amax)};
}

void twoGridSizes(benchmark::internal::Benchmark* bench) {
  bench->Arg(100)
      ->Arg(1000)
      ->Unit(benchmark::kMicrosecond)
      ->Repetitions(10)
      ->ReportAggregatesOnly(true)
      ->Complexity(benchmark::oN);
}

void BM_ToppraSetup(benchmark::State& state) {
  const toppra::LinearConstraintPtrs constraints = jointLimits();
  const auto path = sixJointSpline();
  for (auto _ : state) {
    toppra::algorithm::TOPPRA algorithm(constraints, path);
    algorithm.setN(static_cast<int>(state.range(0)));
    algorithm.initialize();
    benchmark::DoNotOptimize(algorithm.getGridpoints().data());
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ToppraSetup)->Apply(twoGridSizes);

void BM_ToppraPasses(benchmark::State& state) {
  toppra::algorithm::TOPPRA algorithm(jointLimits(), sixJointSpline());
  algorithm.setN(static_cast<int>(state.range(0)));
  // The first run evaluates the constraints on the grid; the timed runs
  // repeat only the two passes.
  if (algorithm.computePathParametrization(0, 0) != 0) {
    state.SkipWithError("parameterisation failed");
    return;
  }
  for (auto _ : state) {
    benchmark::DoNotOptimize(algorithm.computePathParametrization(0, 0));
    benchmark::ClobberMemory();
  }
  state.SetComplexityN(state.range(0));
}

BENCHMARK(BM_ToppraPasses)->Apply(twoGridSizes);

}  // namespace

BENCHMARK_MAIN();
