// Setting the six arm joints of the test arm and updating every link and
// collision-body transform, against KDL's recursive forward kinematics of
// the tool link alone (the reference, measured in the same run).
#include <benchmark/benchmark.h>

#include <memory>
#include <string>
#include <vector>

#include <random_numbers/random_numbers.h>
#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "silenced_stdout.h"

namespace {

const std::string kTestArmDirectory = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/test_arm/";
constexpr size_t kSamples = 1024;

// Joint vectors of six values each, back to back.
std::vector<double> jointVectors() {
  random_numbers::RandomNumberGenerator rng(9);
  std::vector<double> values(6 * kSamples);
  for (double& value : values) value = rng.uniformReal(-2.0, 2.0);
  return values;
}

std::shared_ptr<const moveit::core::RobotModel> loadTestArm() {
  bench_support::SilencedStdout silence;
  return std::make_shared<const moveit::core::RobotModel>(kTestArmDirectory, "test_arm.urdf", "test_arm.srdf");
}

void RobotStateSetArmAndUpdateAll(benchmark::State& state) {
  const auto model = loadTestArm();
  const moveit::core::JointModelGroup* arm = model->getJointModelGroup("arm");
  const moveit::core::LinkModel* tool = model->getLinkModel("tool_link");
  moveit::core::RobotState robot_state(model);
  robot_state.setToDefaultValues();
  robot_state.update();
  const std::vector<double> values = jointVectors();
  size_t i = 0;
  for (auto _ : state) {
    robot_state.setJointGroupPositions(arm, &values[6 * (i++ % kSamples)]);
    robot_state.update();
    benchmark::DoNotOptimize(robot_state.getCollisionBodyTransform(tool, 0));
  }
}
BENCHMARK(RobotStateSetArmAndUpdateAll);

void ReferenceKdlTipForwardKinematics(benchmark::State& state) {
  KDL::Tree tree;
  kdl_parser::treeFromFile(kTestArmDirectory + "test_arm.urdf", tree);
  KDL::Chain chain;
  tree.getChain("base_link", "tool_link", chain);
  KDL::ChainFkSolverPos_recursive solver(chain);
  KDL::JntArray joints(chain.getNrOfJoints());
  KDL::Frame tip;
  const std::vector<double> values = jointVectors();
  size_t i = 0;
  for (auto _ : state) {
    const double* q = &values[6 * (i++ % kSamples)];
    for (unsigned j = 0; j < 6; ++j) joints(j) = q[j];
    solver.JntToCart(joints, tip);
    benchmark::DoNotOptimize(tip);
  }
}
BENCHMARK(ReferenceKdlTipForwardKinematics);

}  // namespace

BENCHMARK_MAIN();
