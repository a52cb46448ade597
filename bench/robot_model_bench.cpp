// Per-joint transform cost against Eigen's angle-axis rotation, whole-state
// operations of the test arm model and the model's construction time.
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

std::unique_ptr<moveit::core::RobotModel> loadTestArm() {
  SilencedStdout silence;
  return std::make_unique<moveit::core::RobotModel>(kTestArmDirectory, "test_arm.urdf", "test_arm.srdf");
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
BENCHMARK(ModelConstructionFromFiles)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
