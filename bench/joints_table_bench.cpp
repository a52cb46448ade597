// Cost of loading a pose-sample table and of one neighbour query.
#include <benchmark/benchmark.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <string>

#include "bramlock_arm_planning_core/kinematics/joints_table.h"

namespace {

constexpr int kSampleCount = 20000;

// A throw-away ament prefix whose planning package holds kSampleCount random samples in a 1 m cube.
std::string writeRandomSampleTable() {
  std::string pattern = (std::filesystem::temp_directory_path() / "bramlock_bench_XXXXXX").string();
  if (::mkdtemp(pattern.data()) == nullptr) std::abort();
  const std::filesystem::path prefix(pattern);
  std::filesystem::create_directories(prefix / "share/ament_index/resource_index/packages");
  std::ofstream(prefix / "share/ament_index/resource_index/packages/bramlock_arm_planning");
  std::filesystem::create_directories(prefix / "share/bramlock_arm_planning/config");
  std::ofstream samples(prefix / "share/bramlock_arm_planning/config/robot_pose_samples.txt");
  std::mt19937 random(3);
  std::uniform_real_distribution<double> joint(-3.1, 3.1), coordinate(-0.5, 0.5);
  for (int i = 0; i < kSampleCount; ++i) {
    for (int j = 0; j < 6; ++j) samples << joint(random) << ' ';
    for (int j = 0; j < 3; ++j) samples << coordinate(random) << ' ';
    samples << "1 0 0 0\n";
  }
  return prefix.string();
}

// Selected through AMENT_PREFIX_PATH on first use; removed at exit.
struct SamplePrefix {
  SamplePrefix() : path(writeRandomSampleTable()) { ::setenv("AMENT_PREFIX_PATH", path.c_str(), 1); }
  ~SamplePrefix() { std::filesystem::remove_all(path); }
  const std::string path;
};

void samplePrefix() { static const SamplePrefix prefix; }

void BM_JointsTableLoad(benchmark::State& state) {
  samplePrefix();
  for (auto _ : state) {
    JointsTable table;
    benchmark::DoNotOptimize(&table);
  }
}
BENCHMARK(BM_JointsTableLoad)->Unit(benchmark::kMillisecond);

void BM_JointsTableGetNeighbors(benchmark::State& state) {
  samplePrefix();
  JointsTable table;
  std::mt19937 random(5);
  std::uniform_real_distribution<double> coordinate(-0.5, 0.5);
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  for (auto _ : state) {
    pose.topRightCorner<3, 1>() = Eigen::Vector3d(coordinate(random), coordinate(random), coordinate(random));
    benchmark::DoNotOptimize(table.getNeighbors(pose, 0));
  }
}
BENCHMARK(BM_JointsTableGetNeighbors)->Unit(benchmark::kMicrosecond);

}  // namespace

BENCHMARK_MAIN();
