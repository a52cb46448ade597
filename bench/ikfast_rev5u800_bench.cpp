// All closed-form solutions of one REV5-U800 pose against one numeric KDL
// Levenberg-Marquardt solve of the same pose, over seeded random poses. Each
// call is timed on its own; the counters give the median and the 99th
// percentile in microseconds.
#include <vector>

#include <benchmark/benchmark.h>
#include <kdl/chainiksolverpos_lma.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"
#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_solver.h"
#include "per_call_timing.h"

namespace {

constexpr int kPoses = 2000;

const std::vector<Eigen::Matrix4d>& poses() {
  static const std::vector<Eigen::Matrix4d> seeded = bench_support::seededPoses(20261207, kPoses);
  return seeded;
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

void BM_IkfastAllSolutions(benchmark::State& state) {
  IkfastSolver solver;
  std::vector<std::vector<double>> solutions;
  bench_support::timePerCall(state, poses(), [&](const Eigen::Matrix4d& pose) {
    solutions.clear();
    benchmark::DoNotOptimize(solver.ikfastComputeIk(pose, solutions));
  });
}

void BM_KdlLevenbergMarquardtOneSolve(benchmark::State& state) {
  const KDL::Chain chain = fixtureChain();
  KDL::ChainIkSolverPos_LMA solver(chain, 1e-9, 1000, 1e-15);
  const KDL::JntArray seed(6);
  KDL::JntArray result(6);
  bench_support::timePerCall(state, poses(), [&](const Eigen::Matrix4d& pose) {
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
