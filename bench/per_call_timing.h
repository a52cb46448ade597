#pragma once

// Helpers of the REV5-U800 benchmarks: seeded random poses and a per-call
// timer whose counters give the median and 99th percentile in microseconds.
#include <algorithm>
#include <chrono>
#include <random>
#include <vector>

#include <benchmark/benchmark.h>
#include <Eigen/Dense>

#include "bramlock_arm_planning_core/kinematics/ikfast/ikfast_rev5u800.h"

namespace bench_support {

// Tool poses of joint vectors uniform in [-pi, pi]^6.
inline std::vector<Eigen::Matrix4d> seededPoses(unsigned seed, int count) {
  std::mt19937_64 engine(seed);
  std::uniform_real_distribution<double> angle(-M_PI, M_PI);
  std::vector<Eigen::Matrix4d> poses;
  for (int i = 0; i < count; ++i) {
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

// Times call(item) once per iteration, cycling through the items.
template <typename Item, typename Call>
void timePerCall(benchmark::State& state, const std::vector<Item>& items, const Call& call) {
  std::vector<double> micros;
  size_t next = 0;
  for (auto _ : state) {
    const Item& item = items[next++ % items.size()];
    const auto start = std::chrono::steady_clock::now();
    call(item);
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    state.SetIterationTime(elapsed.count());
    micros.push_back(elapsed.count() * 1e6);
  }
  std::sort(micros.begin(), micros.end());
  state.counters["median_us"] = micros[micros.size() / 2];
  state.counters["p99_us"] = micros[micros.size() * 99 / 100];
}

}  // namespace bench_support
