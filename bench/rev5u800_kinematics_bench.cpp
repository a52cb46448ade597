// The REV5-U800 arm's all-solutions inverse kinematics with a reference (closed
// form, then a numeric refinement of every candidate) against one numeric KDL
// Levenberg-Marquardt solve, per call over seeded random poses. Counters give
// the median and 99th percentile in microseconds.
#include <cstdlib>
#include <random>
#include <string>
#include <vector>

#include <benchmark/benchmark.h>

#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "per_call_timing.h"

namespace {

constexpr int kPoses = 500;

struct Case {
  Eigen::Matrix4d pose;
  std::vector<double> reference;
};

const std::vector<Case>& cases() {
  static const std::vector<Case> seeded = [] {
    std::mt19937_64 engine(99);
    std::uniform_real_distribution<double> angle(-M_PI, M_PI);
    std::vector<Case> made;
    for (const Eigen::Matrix4d& pose : bench_support::seededPoses(98, kPoses)) {
      std::vector<double> reference(6);
      for (double& value : reference) value = angle(engine);
      made.push_back({pose, reference});
    }
    return made;
  }();
  return seeded;
}

Rev5U800Kinematics& fixtureArm() {
  static Rev5U800Kinematics arm;
  static const int loaded = [] {
    setenv("AMENT_PREFIX_PATH", BRAMLOCK_TEST_FIXTURES_DIR "/ament_prefix", 1);
    return arm.setMdhPara({0.328, 0, 0, 0.4, -0.136, 0.1035}, {0, 0, 0.40310999864793257, -0.05, 0, 0},
                          {0, -M_PI / 2, M_PI, -M_PI / 2, M_PI / 2, -M_PI / 2},
                          {0, -1.4464444615013292, -1.4464444615013292, 0, 0, 0});
  }();
  benchmark::DoNotOptimize(loaded);
  return arm;
}

void BM_Rev5U800AllSolutionsWithReference(benchmark::State& state) {
  Rev5U800Kinematics& arm = fixtureArm();
  std::vector<std::vector<double>> solutions;
  bench_support::timePerCall(state, cases(), [&](const Case& c) {
    benchmark::DoNotOptimize(arm.inverseKinematics(c.pose, c.reference, solutions));
  });
}

void BM_Rev5U800OneNumericSolve(benchmark::State& state) {
  Rev5U800Kinematics& arm = fixtureArm();
  std::vector<double> q;
  bench_support::timePerCall(
      state, cases(), [&](const Case& c) { benchmark::DoNotOptimize(arm.inverseKinematics(c.pose, c.reference, q)); });
}

}  // namespace

BENCHMARK(BM_Rev5U800AllSolutionsWithReference)->UseManualTime()->Iterations(1000);
BENCHMARK(BM_Rev5U800OneNumericSolve)->UseManualTime()->Iterations(1000);

BENCHMARK_MAIN();
