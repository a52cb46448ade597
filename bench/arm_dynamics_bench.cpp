// Inverse dynamics and tool-speed costs of the spline planners' dynamics layer on the
// REV5-U800 fixture, with KDL's chain solver on the same arm as the reference.
#include <string>

#include <benchmark/benchmark.h>
#include <kdl/chainidsolver_recursive_newton_euler.hpp>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"

namespace {

const std::string kArmUrdf =
    std::string(BRAMLOCK_TEST_FIXTURES_DIR) +
    "/ament_prefix/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf";

Eigen::VectorXd sampleVector(double scale) {
  return (Eigen::VectorXd(6) << 0.3, -1.1, 0.7, 2.0, -0.4, 1.3).finished() * scale;
}

void LayerInverseDynamics(benchmark::State& state) {
  const auto model = bramlock::dynamics::Model::fromUrdfFile(kArmUrdf);
  bramlock::dynamics::Data data(model);
  const Eigen::VectorXd q = sampleVector(1.0), v = sampleVector(0.5), a = sampleVector(2.0);
  for (auto _ : state) {
    benchmark::DoNotOptimize(bramlock::dynamics::rnea(*model, data, q, v, a).data());
  }
}
BENCHMARK(LayerInverseDynamics);

void KdlChainInverseDynamicsReference(benchmark::State& state) {
  const auto model = bramlock::dynamics::Model::fromUrdfFile(kArmUrdf);
  KDL::Chain chain;
  model->tree().getChain("base_link", "link6", chain);
  KDL::ChainIdSolver_RNE solver(chain, KDL::Vector(0.0, 0.0, -9.81));
  // Copied into KDL's own buffers: moving ours in would hand them to KDL's allocator.
  const Eigen::VectorXd qs = sampleVector(1.0), vs = sampleVector(0.5), as = sampleVector(2.0);
  KDL::JntArray q(6), v(6), a(6), tau(6);
  q.data = qs;
  v.data = vs;
  a.data = as;
  const KDL::Wrenches no_wrenches(chain.getNrOfSegments(), KDL::Wrench::Zero());
  for (auto _ : state) {
    benchmark::DoNotOptimize(solver.CartToJnt(q, v, a, no_wrenches, tau));
  }
}
BENCHMARK(KdlChainInverseDynamicsReference);

void LayerToolSpeedCheck(benchmark::State& state) {
  const auto model = bramlock::dynamics::Model::fromUrdfFile(kArmUrdf);
  bramlock::dynamics::Data data(model);
  CartesianConstraints limits;
  limits.enabled = true;
  limits.frame_id = 14;
  const Eigen::VectorXd q = sampleVector(1.0), v = sampleVector(0.5);
  for (auto _ : state) {
    benchmark::DoNotOptimize(evaluateCartesianConstraints(q, v, limits, *model, data).linear_velocity_ratio);
  }
}
BENCHMARK(LayerToolSpeedCheck);

}  // namespace

BENCHMARK_MAIN();
