// All closed-form solutions of one REV5-U800 pose against one numeric KDL
// Levenberg-Marquardt solve of the same pose, over seeded random poses. Each
// call is timed on its own; the counters give the median and the 99th
// percentile in microseconds.
#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <kdl/chainiksolverpos_lma.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"

namespace {

constexpr int kPoses = 2000;

std::vector<Eigen::Matrix4d> seededPoses() {
  std::mt19937_64 engine(20261207);
  std::uniform_real_distribution<double> angle(-M_PI, M_PI);
  std::vector<Eigen::Matrix4d> poses;
  for (int i = 0; i < kPoses; ++i) {
    double q[6], trans[3], rot[9];
    for (double& value : q) value = angle(engine);
    ComputeFk(q, trans, rot);
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) pose(row, column) = rot[3 * row + column];
      pose(row, 3) = trans[row];
    }
    poses.push_back(pose);
  }
  return poses;
}

KDL::Chain fixtureChain() {
  KDL::Tree tree;
  kdl_parser::treeFromFile(std::string(BRAMLOCK_TEST_FIXTURES_DIR) +
                               "/ament_prefix/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/"
                               "RAV5-A800-Z4O3V4I.urdf",
                           tree);
  KDL::Chain chain;
  tree.getChain("base_link", "link6", chain);
  return chain;
}

// Times call(pose) once per iteration, cycling through the poses.
template <typename Call>
void timePerCall(benchmark::State& state, const Call& call) {
  static const std::vector<Eigen::Matrix4d> poses = seededPoses();
  std::vector<double> micros;
  size_t next = 0;
  for (auto _ : state) {
    const Eigen::Matrix4d& pose = poses[next++ % poses.size()];
    const auto start = std::chrono::steady_clock::now();
    call(pose);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    micros.push_back(elapsed.count() * 1e6);
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

void BM_IkfastAllSolutions(benchmark::State& state) {
  IkfastSolver solver;
  std::vector<std::vector<double>> solutions;
  timePerCall(state, [&](const Eigen::Matrix4d& pose) {
    solutions.clear();
    benchmark::DoNotOptimize(solver.ikfastComputeIk(pose, solutions));
  });
}

void BM_KdlLevenbergMarquardtOneSolve(benchmark::State& state) {
  const KDL::Chain chain = fixtureChain();
  KDL::ChainIkSolverPos_LMA solver(chain, 1e-9, 1000, 1e-15);
  const KDL::JntArray seed(6);
  KDL::JntArray result(6);
  timePerCall(state, [&](const Eigen::Matrix4d& pose) {
    KDL::Frame target;
    for (int row = 0; row < 3; ++row) {
      for (int column = 0; column < 3; ++column) target.M(row, column) = pose(row, column);
      target.p(row) = pose(row, 3);
    }
    benchmark::DoNotOptimize(solver.CartToJnt(seed, target, result));
  });
}

}  // namespace

BENCHMARK(BM_IkfastAllSolutions)->UseManualTime()->Iterations(20000);
BENCHMARK(BM_KdlLevenbergMarquardtOneSolve)->UseManualTime()->Iterations(20000);

BENCHMARK_MAIN();
