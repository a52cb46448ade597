// Forward and all-solutions inverse kinematics of the closed-form arms, with
// KDL's recursive forward kinematics on the same MDH chains as the reference.
// The solvers print their solutions (RML63-B also its working and an INFO log),
// so standard output goes to /dev/null while a benchmark runs; the printing is
// part of the measured cost.
#include <benchmark/benchmark.h>

#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "kinematics_test_helpers.h"
#include "silenced_stdout.h"

namespace {

using kinematics_test::MdhTable;

const MdhTable kRealmanTable = {{0.2405, 0, 0, 0.210, 0, 0.144},
                                {0, 0, 0.256, 0, 0, 0},
                                {0.0, M_PI_2, 0.0, M_PI_2, -M_PI_2, M_PI_2},
                                {0, M_PI_2, M_PI_2, 0, 0, 0}};
const MdhTable kKestrelTable = {
    {0.2, 0, 0, 0, 0.1}, {0, 0.05, 0.3, 0.25, 0.03}, {0.0, M_PI_2, 0.0, 0.0, -M_PI_2}, {0.2, -0.3, 0.4, 0.1, -0.5}};
const MdhTable kRml63BTable = {{0.172, 0, 0, 0.40581, 0, 0.115289},
                               {0, -0.085659, 0.381051, 0.071459, 0, 0},
                               {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2},
                               {0, -1.57413, 1.571861, 0.010472, 3.145607, M_PI}};
const std::vector<double> kRealmanJoints = {0.3, 0.4, 0.5, 0.6, 0.7, 0.8};
const std::vector<double> kKestrelJoints = {0.3, 0.4, 0.5, 0.6, 0.7};

using bench_support::SilencedStdout;

template <typename Arm>
Arm configured(const MdhTable& table) {
  SilencedStdout quiet;
  Arm arm;
  arm.setMdhPara(table.zd, table.xa, table.alpha, table.qzero);
  return arm;
}

template <typename Arm>
void forward(benchmark::State& state, const MdhTable& table, const std::vector<double>& q) {
  Arm arm = configured<Arm>(table);
  for (auto _ : state) {
    benchmark::DoNotOptimize(arm.forwardKinematics(q));
  }
}

void kdlForward(benchmark::State& state, const MdhTable& table, const std::vector<double>& q) {
  const KDL::Chain chain = kinematics_test::mdhChain(table);
  KDL::ChainFkSolverPos_recursive solver(chain);
  KDL::JntArray joints(q.size());
  for (size_t i = 0; i < q.size(); ++i) joints(i) = q[i];
  KDL::Frame frame;
  for (auto _ : state) {
    solver.JntToCart(joints, frame);
    benchmark::DoNotOptimize(frame);
  }
}

// The pose every arm's all-solutions form solves for: the forward kinematics,
// less the RML63-B arm's tool offset.
template <typename Arm>
Eigen::MatrixXd solvedPose(Arm& arm, const std::vector<double>& q) {
  return arm.forwardKinematics(q);
}
template <>
Eigen::MatrixXd solvedPose(Rml63BKinematics& arm, const std::vector<double>& q) {
  return arm.forwardKinematics(q) * kinematics_test::transZ(-0.17);
}

template <typename Arm>
void allSolutions(benchmark::State& state, const MdhTable& table, const std::vector<double>& q) {
  Arm arm = configured<Arm>(table);
  const Eigen::MatrixXd T = solvedPose(arm, q);
  std::vector<std::vector<double>> solutions;
  SilencedStdout quiet;
  for (auto _ : state) {
    benchmark::DoNotOptimize(arm.inverseKinematics(T, solutions));
  }
  state.counters["solutions"] = static_cast<double>(solutions.size());
}

void BM_RealmanForward(benchmark::State& state) { forward<RealmanKinematics>(state, kRealmanTable, kRealmanJoints); }
void BM_KdlForwardRealmanChain(benchmark::State& state) { kdlForward(state, kRealmanTable, kRealmanJoints); }
void BM_KestrelBotV3Forward(benchmark::State& state) {
  forward<KestrelBotV3Kinematics>(state, kKestrelTable, kKestrelJoints);
}
void BM_KdlForwardKestrelBotV3Chain(benchmark::State& state) { kdlForward(state, kKestrelTable, kKestrelJoints); }
void BM_RealmanAllSolutions(benchmark::State& state) {
  allSolutions<RealmanKinematics>(state, kRealmanTable, kRealmanJoints);
}
void BM_KestrelBotV3AllSolutions(benchmark::State& state) {
  allSolutions<KestrelBotV3Kinematics>(state, kKestrelTable, kKestrelJoints);
}
void BM_Rml63BForward(benchmark::State& state) { forward<Rml63BKinematics>(state, kRml63BTable, kRealmanJoints); }
void BM_KdlForwardRml63BChain(benchmark::State& state) { kdlForward(state, kRml63BTable, kRealmanJoints); }
void BM_Rml63BAllSolutions(benchmark::State& state) {
  allSolutions<Rml63BKinematics>(state, kRml63BTable, kRealmanJoints);
}

}  // namespace

BENCHMARK(BM_RealmanForward);
BENCHMARK(BM_KdlForwardRealmanChain);
BENCHMARK(BM_KestrelBotV3Forward);
BENCHMARK(BM_KdlForwardKestrelBotV3Chain);
BENCHMARK(BM_RealmanAllSolutions)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_KestrelBotV3AllSolutions)->Repetitions(5)->ReportAggregatesOnly(true);
BENCHMARK(BM_Rml63BForward);
BENCHMARK(BM_KdlForwardRml63BChain);
BENCHMARK(BM_Rml63BAllSolutions)->Repetitions(5)->ReportAggregatesOnly(true);

BENCHMARK_MAIN();
