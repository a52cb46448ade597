// The simple road's promise on acceleration limits: whenever it returns 0,
// every written point keeps its joints' limits (with the 0.01 rad/s^2
// margin), and paths that met their limits within the bounded sweeps keep
// the times they always had.
#include <gtest/gtest.h>

#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <map>
#include <random>
#include <vector>

#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "fake_box_scene.h"
#include "test_support.h"

namespace {

using Path = std::vector<std::vector<double>>;

constexpr int kDof = 6;
constexpr double kMargin = 0.01;

struct SimpleCase {
  Path path;
  std::vector<double> vmax;
  std::vector<double> amax;
};

// Waypoints at most 0.4 rad apart per joint, speed limits 0.5 to 3 rad/s,
// acceleration limits spread evenly in log scale from 0.05 to 20 rad/s^2.
SimpleCase seededCase(std::mt19937& engine) {
  std::uniform_int_distribution<int> waypoints(2, 10);
  std::uniform_real_distribution<double> move(-0.4, 0.4), speed(0.5, 3.0);
  std::uniform_real_distribution<double> log_acceleration(std::log(0.05), std::log(20.0));
  SimpleCase c;
  const int n = waypoints(engine);
  c.path.assign(1, std::vector<double>(kDof, 0.0));
  for (int i = 1; i < n; ++i) {
    std::vector<double> next = c.path.back();
    for (double& value : next) value += move(engine);
    c.path.push_back(next);
  }
  for (int j = 0; j < kDof; ++j) {
    c.vmax.push_back(speed(engine));
    c.amax.push_back(std::exp(log_acceleration(engine)));
  }
  return c;
}

// FNV-1a over the bits of every time, velocity and acceleration.
std::uint64_t fingerprint(const std::vector<TrajectoryData>& points) {
  std::uint64_t hash = 1469598103934665603ull;
  const auto add = [&hash](double value) {
    unsigned char bytes[sizeof value];
    std::memcpy(bytes, &value, sizeof value);
    for (unsigned char byte : bytes) hash = (hash ^ byte) * 1099511628211ull;
  };
  for (const TrajectoryData& point : points) {
    add(point.time);
    for (double v : point.velocities) add(v);
    for (double a : point.accelerations) add(a);
  }
  return hash;
}

struct Timed {
  int code;
  std::vector<TrajectoryData> points;
};

Timed timeSimply(const SimpleCase& c) {
  fake_scene::FakeBoxScene scene(fake_scene::symmetricBounds(kDof), {});
  TrajectoryGenerator generator(&scene);
  Timed timed;
  bramlock_test::OutputCapture quiet;
  timed.code = generator.generateTrajectoryDataSimple(c.path, c.vmax.data(), c.amax.data(), timed.points, false);
  return timed;
}

void expectLimitsKept(const SimpleCase& c, const Timed& timed, int index) {
  ASSERT_EQ(timed.points.size(), c.path.size()) << "case " << index;
  for (std::size_t i = 0; i < timed.points.size(); ++i) {
    for (int j = 0; j < kDof; ++j) {
      EXPECT_LE(std::abs(timed.points[i].accelerations[j]), c.amax[j] + kMargin)
          << "case " << index << " point " << i << " joint " << j;
    }
  }
}

}  // namespace

TEST(SimpleTimingLimits, SeededPathsKeepTheAccelerationLimitsOnEveryPoint) {
  std::mt19937 engine(2026);
  for (int k = 0; k < 200; ++k) {
    const SimpleCase c = seededCase(engine);
    const Timed timed = timeSimply(c);
    // Limits in this range are always reachable by longer segments.
    ASSERT_EQ(timed.code, 0) << "case " << k;
    expectLimitsKept(c, timed, k);
  }
}

TEST(SimpleTimingLimits, TinyLimitsAreKeptOrRefused) {
  std::mt19937 engine(7);
  for (const double tiny : {1e-3, 1e-9, 1e-300, std::numeric_limits<double>::denorm_min()}) {
    SimpleCase c = seededCase(engine);
    c.amax.assign(kDof, tiny);
    const Timed timed = timeSimply(c);
    if (timed.code == 0) {
      expectLimitsKept(c, timed, 0);
    } else {
      EXPECT_EQ(timed.code, -1) << tiny;
    }
  }
}

// Fingerprints of the answers these seeded cases got before the road went on
// past the bounded sweeps: each of them met its limits within those sweeps.
TEST(SimpleTimingLimits, PathsThatMetTheirLimitsInTheBoundedSweepsKeepTheirAnswers) {
  const std::map<int, std::uint64_t> recorded = {
      {2, 0x1b2ea8a9065c3b81ull},  {3, 0xf8e585b072dba41cull},  {5, 0x5064397de6932543ull},
      {8, 0xc4d3302f3d7d9c0eull},  {13, 0xa119393512d9265full}, {17, 0x508411a83e16ab62ull},
      {20, 0xba0a767c71bf7524ull}, {21, 0x0044a97a0879f361ull}, {23, 0xd7ce2bda863dcab0ull},
      {25, 0x60a201bad507a739ull}, {26, 0x4cc5ea9321c87c3eull}, {27, 0x6e21bee551252fd2ull},
      {29, 0x8e29063a5b9dba24ull}, {31, 0x0407a39ae058bdefull}, {32, 0x9bdc48a2ba4b788dull},
      {33, 0xaea78dbf41761ecaull}, {36, 0x91e0b15cc4ee54f9ull}, {37, 0xf71513c6e6de7a9bull},
      {42, 0xa1c89b6502775050ull}, {43, 0xbe8ab30994f30ab7ull}, {44, 0x3a7760941ef26d70ull},
      {45, 0x18c7cbae7cd0eabdull}, {46, 0x4c89fa156800ce78ull}, {47, 0xcf261f27e42a9baeull},
      {48, 0x049f58995dfd111cull}, {53, 0x36ed76b5de2bce60ull}, {54, 0xe8bbd0adce6a7a49ull},
      {56, 0x27e852b173ca48d8ull}, {57, 0x0377b14ea1b4fc7full}, {58, 0x3e2aa47be3c71186ull},
      {59, 0x1f07743aaf61a356ull}};
  std::mt19937 engine(2026);
  for (int k = 0; k < 60; ++k) {
    const SimpleCase c = seededCase(engine);
    const auto entry = recorded.find(k);
    if (entry == recorded.end()) continue;
    const Timed timed = timeSimply(c);
    ASSERT_EQ(timed.code, 0) << "case " << k;
    EXPECT_EQ(fingerprint(timed.points), entry->second) << "case " << k;
  }
}
