// Per-joint transform cost against Eigen's angle-axis rotation, whole-state
// operations of the test arm model, the model's construction time (groups and
// solver binding included) and the share of it that binding the groups' solvers takes.
#include <benchmark/benchmark.h>

#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "silenced_stdout.h"

namespace {

const std::string kTestArmDirectory = std::string(BRAMLOCK_TEST_FIXTURES_DIR) + "/test_arm/";

std::vector<double> angles() {
  random_numbers::RandomNumberGenerator rng(5);
  std::vector<double> values(1024);
  for (double& value : values) value = rng.uniformReal(-3.0, 3.0);
  return values;
}

void RevoluteComputeTransform(benchmark::State& state) {
  moveit::core::RevoluteJointModel joint("r", 0, 0);
  joint.setAxis(Eigen::Vector3d(0.3, -0.5, 0.8));
  const std::vector<double> values = angles();
  Eigen::Isometry3d transform;
  size_t i = 0;
  for (auto _ : state) {
    joint.computeTransform(&values[i++ & 1023], transform);
    benchmark::DoNotOptimize(transform);
  }
}
BENCHMARK(RevoluteComputeTransform);

void ReferenceEigenAngleAxis(benchmark::State& state) {
  const Eigen::Vector3d axis = Eigen::Vector3d(0.3, -0.5, 0.8).normalized();
  const std::vector<double> values = angles();
  Eigen::Isometry3d transform;
  size_t i = 0;
  for (auto _ : state) {
    transform = Eigen::AngleAxisd(values[i++ & 1023], axis);
    benchmark::DoNotOptimize(transform);
  }
}
BENCHMARK(ReferenceEigenAngleAxis);

using bench_support::SilencedStdout;

// The MDH values the test arm's joint origins follow (rows zd, xa, qzero, alpha).
const moveit::core::MdhTable kTestArmMdhTable = {
    {0.172, 0.0, 0.0, 0.40581, 0.0, 0.115289},
    {0.0, -0.085659, 0.381051, 0.071459, 0.0, 0.0},
    {0.0, -1.57413, 1.571861, 0.010472, 3.145607, 3.141592653589793},
    {0.0, -1.5707963267948966, 0.0, 1.5707963267948966, -1.5707963267948966, -1.5707963267948966}};

std::unique_ptr<moveit::core::RobotModel> loadTestArm() {
  SilencedStdout silence;
  return std::make_unique<moveit::core::RobotModel>(kTestArmDirectory, "test_arm.urdf", "test_arm.srdf",
                                                    kTestArmMdhTable);
}

void ModelDistanceAndInterpolate(benchmark::State& state) {
  const auto model = loadTestArm();
  random_numbers::RandomNumberGenerator rng(6);
  std::vector<double> a(model->getVariableCount()), b(a.size()), mid(a.size());
  model->getVariableRandomPositions(rng, a.data());
  model->getVariableRandomPositions(rng, b.data());
  for (auto _ : state) {
    model->interpolate(a.data(), b.data(), 0.5, mid.data());
    benchmark::DoNotOptimize(model->distance(a.data(), mid.data()));
  }
}
BENCHMARK(ModelDistanceAndInterpolate);

void ModelConstructionFromFiles(benchmark::State& state) {
  for (auto _ : state) benchmark::DoNotOptimize(loadTestArm());
}
BENCHMARK(ModelConstructionFromFiles)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

// The binding step of the construction alone: every group that is not an end
// effector searches the registry and hands its solver the MDH values.
void GroupSolverBinding(benchmark::State& state) {
  const auto model = loadTestArm();
  std::vector<moveit::core::KinematicsSlover> registry = model->getKinematicsSlovers();
  std::vector<moveit::core::JointModelGroup*> groups;
  for (const std::string& name : model->getJointModelGroupNames()) {
    moveit::core::JointModelGroup* group = model->getJointModelGroup(name);
    if (group->getEndEffectorName().empty()) groups.push_back(group);
  }
  SilencedStdout silence;
  for (auto _ : state) {
    for (moveit::core::JointModelGroup* group : groups) group->initKinematicsInstance(registry);
  }
}
BENCHMARK(GroupSolverBinding)->Unit(benchmark::kMicrosecond)->Repetitions(9)->ReportAggregatesOnly(true);

}  // namespace

BENCHMARK_MAIN();
