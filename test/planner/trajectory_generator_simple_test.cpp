#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <limits>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "expect_throw_message.h"
#include "fake_box_scene.h"
#include "planner_test_helpers.h"

using fake_scene::FakeBoxScene;
using planner_test::kInf;
using planner_test::kNaN;
using planner_test::Path;

namespace {

constexpr double kTimeOffset = 0.0001;

FakeBoxScene openScene(int dof) { return FakeBoxScene(fake_scene::symmetricBounds(dof), {}); }

// Segment durations read back from the point times (the first is offset by 0.1 ms).
std::vector<double> durationsOf(const std::vector<TrajectoryData>& points) {
  std::vector<double> durations;
  for (std::size_t i = 1; i < points.size(); ++i) {
    durations.push_back(points[i].time - points[i - 1].time - (i == 1 ? kTimeOffset : 0.0));
  }
  return durations;
}

// The second difference quotient at waypoint i, the missing neighbour mirrored at the ends.
double estimate(const Path& path, const std::vector<double>& durations, std::size_t i, std::size_t j) {
  const std::size_t last = path.size() - 1;
  const double before = i == 0 ? path[1][j] : path[i - 1][j];
  const double after = i == last ? path[last - 1][j] : path[i + 1][j];
  const double t1 = i == 0 ? durations[0] : durations[i - 1];
  const double t2 = i == last ? durations[last - 1] : durations[i];
  if (t1 < 1e-8 || t2 < 1e-8) return 0.0;
  return 2.0 * ((after - path[i][j]) / t2 - (path[i][j] - before) / t1) / (t1 + t2);
}

Path randomPath(std::mt19937& engine, int waypoints, int dof, double step) {
  std::uniform_real_distribution<double> move(-step, step);
  Path path(1, std::vector<double>(dof, 0.0));
  for (int i = 1; i < waypoints; ++i) {
    std::vector<double> next = path.back();
    for (double& value : next) value += move(engine);
    path.push_back(next);
  }
  return path;
}

struct Timed {
  int code;
  std::vector<TrajectoryData> points;
  std::string out;
};

Timed timeSimply(int dof, const Path& path, const std::vector<double>& vmax, const std::vector<double>& amax) {
  FakeBoxScene scene = openScene(dof);
  TrajectoryGenerator generator(&scene);
  Timed timed;
  bramlock_test::OutputCapture capture;
  timed.code = generator.generateTrajectoryDataSimple(path, vmax.data(), amax.data(), timed.points, false);
  timed.out = capture.out();
  return timed;
}

}  // namespace

TEST(SimpleTiming, TwoWaypointsTakeTheSlowestJointsTimeAndRestAtBothEnds) {
  const Path path = {{0.0, 0.0, 0.0}, {1.0, -2.0, 0.5}};
  const Timed timed = timeSimply(3, path, {1.0, 4.0, 0.25}, {100.0, 100.0, 100.0});
  ASSERT_EQ(timed.code, 0) << timed.out;
  ASSERT_EQ(timed.points.size(), 2u);
  const double duration = 2.0;  // joint 2: 0.5 rad at 0.25 rad/s
  EXPECT_EQ(timed.points[0].time, 0.0);
  EXPECT_DOUBLE_EQ(timed.points[1].time, duration + kTimeOffset);
  for (std::size_t i = 0; i < 2; ++i) {
    EXPECT_EQ(timed.points[i].positions, path[i]);
    EXPECT_EQ(timed.points[i].velocities, std::vector<double>(3, 0.0));
    EXPECT_TRUE(timed.points[i].children.empty());
  }
  // Every joint, not only the first, accelerates at the start and stops at the goal.
  for (std::size_t j = 0; j < 3; ++j) {
    const double mirrored = 2.0 * (path[1][j] - path[0][j]) / (duration * duration);
    EXPECT_DOUBLE_EQ(timed.points[0].accelerations[j], mirrored) << "joint " << j;
    EXPECT_DOUBLE_EQ(timed.points[1].accelerations[j], -mirrored) << "joint " << j;
  }
}

TEST(SimpleTiming, IdenticalWaypointsGiveZeroDurationAndRest) {
  const Timed timed = timeSimply(2, {{0.3, 0.3}, {0.3, 0.3}}, {1.0, 1.0}, {1.0, 1.0});
  ASSERT_EQ(timed.code, 0);
  EXPECT_EQ(timed.points[0].time, 0.0);
  EXPECT_DOUBLE_EQ(timed.points[1].time, kTimeOffset);
  for (const TrajectoryData& point : timed.points) {
    EXPECT_EQ(point.velocities, std::vector<double>(2, 0.0));
    EXPECT_EQ(point.accelerations, std::vector<double>(2, 0.0));
  }
}

TEST(SimpleTiming, RandomPathsMeetTheLimitsInBothDirectionsWithIncreasingTimes) {
  std::mt19937 engine(23);
  std::uniform_real_distribution<double> speed(0.5, 3.0);
  std::uniform_real_distribution<double> acceleration(3.0, 10.0);
  std::uniform_int_distribution<int> waypoints(2, 12);
  for (int trial = 0; trial < 40; ++trial) {
    const Path path = randomPath(engine, waypoints(engine), 6, 0.5);
    std::vector<double> vmax(6), amax(6);
    for (int j = 0; j < 6; ++j) {
      vmax[j] = speed(engine);
      amax[j] = acceleration(engine);
    }
    const Timed timed = timeSimply(6, path, vmax, amax);
    ASSERT_EQ(timed.code, 0) << timed.out;
    ASSERT_EQ(timed.points.size(), path.size());
    const std::vector<double> durations = durationsOf(timed.points);
    for (std::size_t i = 0; i < path.size(); ++i) {
      if (i > 0) {
        EXPECT_GT(timed.points[i].time, timed.points[i - 1].time);
      }
      for (std::size_t j = 0; j < 6; ++j) {
        if (i + 1 < path.size()) {
          EXPECT_LE(std::abs(path[i + 1][j] - path[i][j]) / durations[i], vmax[j] * (1 + 1e-9));
        }
        const double a = estimate(path, durations, i, j);
        // Decelerations count as much as accelerations.
        EXPECT_LE(std::abs(a), amax[j] + 0.01 + 1e-9) << "trial " << trial << " waypoint " << i << " joint " << j;
        EXPECT_NEAR(timed.points[i].accelerations[j], a, 1e-6 * (1 + std::abs(a)));
      }
    }
    EXPECT_EQ(timed.points.front().velocities, std::vector<double>(6, 0.0));
    EXPECT_EQ(timed.points.back().velocities, std::vector<double>(6, 0.0));
  }
}

TEST(SimpleTiming, LimitsAlreadyMetKeepTheVelocityDurations) {
  const Path path = {{0.0}, {0.1}, {0.2}, {0.3}};
  const Timed timed = timeSimply(1, path, {1.0}, {1000.0});
  ASSERT_EQ(timed.code, 0);
  for (const double duration : durationsOf(timed.points)) EXPECT_NEAR(duration, 0.1, 1e-12);
  EXPECT_NEAR(timed.points[1].velocities[0], 1.0, 1e-12);
}

// The step alone adds at most 10 ms per visit, so a far too small limit ends
// after 100 sweeps with the durations grown by a bounded amount and
// violations left; the simple road goes on until the limits hold.
TEST(SimpleTiming, HugeViolationsStopTheStepAfterAHundredSweepsButNotTheRoad) {
  const Path path = {{0.0, 0.0}, {1.0, -1.0}, {0.0, 0.0}};
  const std::vector<double> vmax = {1.0, 1.0}, amax = {1e-6, 1e-6};
  FakeBoxScene scene = openScene(2);
  TrajectoryGenerator generator(&scene);
  Path stepped = path;
  std::vector<double> durations = {1.0, 1.0};
  generator.applyAccelerationConstraints(stepped, durations, amax.data());
  for (const double duration : durations) {
    EXPECT_GT(duration, 1.0);
    EXPECT_LE(duration, 1.0 + 100 * 2 * 2 * 0.01 + 1e-9);
  }
  EXPECT_GT(std::abs(estimate(path, durations, 1, 0)), 1e-6 + 0.01);

  const auto started = std::chrono::steady_clock::now();
  const Timed timed = timeSimply(2, path, vmax, amax);
  EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(5));
  ASSERT_EQ(timed.code, 0) << timed.out;
  for (const TrajectoryData& point : timed.points) {
    for (const double a : point.accelerations) EXPECT_LE(std::abs(a), 1e-6 + 0.01);
  }
}

TEST(SimpleTiming, BadInputIsRejectedAndLeavesTheOutputAlone) {
  const Path good = {{0.0, 0.0}, {1.0, 1.0}};
  const std::vector<double> limits = {1.0, 1.0};
  struct Case {
    std::string name;
    Path path;
    std::vector<double> vmax;
    std::vector<double> amax;
    std::string output;
  };
  const std::vector<Case> cases = {
      {"empty path", {}, limits, limits, "size of sjt is 0!!!\n"},
      {"one waypoint", {{0.0, 0.0}}, limits, limits, "size of sjt is 0!!!\n"},
      {"short waypoint", {{0.0, 0.0}, {1.0}}, limits, limits, "只有1个关节值"},
      {"NaN waypoint", {{0.0, kNaN}, {1.0, 1.0}}, limits, limits, "无效的关节值"},
      {"infinite waypoint", {{0.0, 0.0}, {kInf, 1.0}}, limits, limits, "无效的关节值"},
      {"zero vmax", good, {1.0, 0.0}, limits, "速度上限无效"},
      {"negative vmax", good, {-1.0, 1.0}, limits, "速度上限无效"},
      {"NaN vmax", good, {kNaN, 1.0}, limits, "速度上限无效"},
      {"infinite vmax", good, {kInf, 1.0}, limits, "速度上限无效"},
      {"zero amax", good, limits, {1.0, 0.0}, "加速度上限无效"},
      {"negative amax", good, limits, {-1.0, 1.0}, "加速度上限无效"},
      {"NaN amax", good, limits, {1.0, kNaN}, "加速度上限无效"},
      // Finite values whose distance overflows.
      {"huge waypoints", {{-1e308, 0.0}, {1e308, 0.0}}, limits, limits, "时间间隔无效"},
      {"huge total time", {{0.0, 0.0}, {1e300, 0.0}, {2e300, 0.0}}, {1e-8, 1.0}, limits, "轨迹总时间溢出"},
  };
  for (const Case& each : cases) {
    FakeBoxScene scene = openScene(2);
    TrajectoryGenerator generator(&scene);
    std::vector<TrajectoryData> out(1);
    out[0].time = 42.0;
    bramlock_test::OutputCapture capture;
    const int code = generator.generateTrajectoryDataSimple(each.path, each.vmax.data(), each.amax.data(), out, true);
    const std::string text = capture.out();
    EXPECT_EQ(code, -1) << each.name;
    EXPECT_NE(text.find(each.output), std::string::npos) << each.name << ": " << text;
    ASSERT_EQ(out.size(), 1u) << each.name;
    EXPECT_EQ(out[0].time, 42.0) << each.name;
  }
}

TEST(SimpleTiming, MissingLimitArraysOrJointsAreRejected) {
  FakeBoxScene scene = openScene(2);
  TrajectoryGenerator generator(&scene);
  const Path path = {{0.0, 0.0}, {1.0, 1.0}};
  const double limits[] = {1.0, 1.0};
  std::vector<TrajectoryData> out;
  bramlock_test::OutputCapture capture;
  EXPECT_EQ(generator.generateTrajectoryDataSimple(path, nullptr, limits, out, false), -1);
  EXPECT_EQ(generator.generateTrajectoryDataSimple(path, limits, nullptr, out, false), -1);

  FakeBoxScene without_bounds = openScene(2);
  without_bounds.answerBoundsWith(-1);
  TrajectoryGenerator no_joints(&without_bounds);
  EXPECT_EQ(no_joints.generateTrajectoryDataSimple(path, limits, limits, out, false), -1);
  EXPECT_NE(capture.out().find("关节数无效: -1"), std::string::npos);
  EXPECT_TRUE(out.empty());
  EXPECT_THROW_MESSAGE(TrajectoryGenerator(nullptr), std::invalid_argument, "^TrajectoryGenerator needs a scene$");
}

TEST(SimpleTiming, HugeLimitsGiveFiniteTimes) {
  const Timed timed = timeSimply(2, {{0.0, 0.0}, {1.0, 1.0}, {2.0, 0.0}}, {1e308, 1e308}, {1e308, 1e308});
  ASSERT_EQ(timed.code, 0);
  for (const TrajectoryData& point : timed.points) {
    EXPECT_TRUE(std::isfinite(point.time));
    for (const double v : point.velocities) EXPECT_TRUE(std::isfinite(v));
    for (const double a : point.accelerations) EXPECT_TRUE(std::isfinite(a));
  }
}

TEST(SimpleTimingSteps, DurationSearchStopsOneStepBeyondTheFirstDurationWithinTheLimit) {
  FakeBoxScene scene = openScene(1);
  const TrajectoryGenerator generator(&scene);
  const double d1 = 1.0, d2 = -1.0, t1 = 0.5, t2 = 0.5, amax = 2.0;
  const auto within = [&](double a1, double a2) { return std::abs(2.0 * (d2 / a2 - d1 / a1) / (a1 + a2)) <= amax; };
  const double grown_t2 = generator.findT2(d1, d2, t1, t2, amax);
  EXPECT_TRUE(within(t1, grown_t2 / 1.01));
  EXPECT_FALSE(within(t1, grown_t2 / 1.01 / 1.01));
  const double grown_t1 = generator.findT1(d1, d2, t1, t2, amax);
  EXPECT_TRUE(within(grown_t1 / 1.01, t2));
  EXPECT_FALSE(within(grown_t1 / 1.01 / 1.01, t2));
  // Nothing to grow, or no limit that a duration could meet.
  EXPECT_EQ(generator.findT2(d1, d2, t1, t2, 100.0), t2);
  for (const double bad : {0.0, -1.0, kNaN}) {
    EXPECT_EQ(generator.findT1(d1, d2, t1, t2, bad), t1);
    EXPECT_EQ(generator.findT2(d1, d2, t1, t2, bad), t2);
  }
  EXPECT_EQ(generator.findT2(d1, d2, t1, 0.0, amax), 0.0);
  EXPECT_EQ(generator.findT2(kNaN, d2, t1, t2, amax), t2);
}

TEST(SimpleTimingSteps, StepsIgnoreInputTheSimpleRoadRejects) {
  FakeBoxScene scene = openScene(2);
  TrajectoryGenerator generator(&scene);
  Path path = {{0.0, 0.0}, {1.0, 1.0}};
  const double limits[] = {1.0, 1.0};
  const double bad_limits[] = {1.0, kNaN};
  std::vector<double> durations = {0.0};
  std::vector<double> too_few;
  std::vector<TrajectoryData> out;
  bramlock_test::OutputCapture capture;
  generator.applyVelocityConstraints(path, too_few, limits);
  generator.applyVelocityConstraints(path, durations, bad_limits);
  generator.applyAccelerationConstraints(path, durations, nullptr);
  EXPECT_EQ(durations, std::vector<double>{0.0});
  EXPECT_TRUE(too_few.empty());
  EXPECT_EQ(generator.updateTrajectory(path, {kInf}, out), -1);
  EXPECT_EQ(generator.updateTrajectory(path, {1.0, 1.0}, out), -1);
  EXPECT_EQ(generator.updateTrajectory(path, {-1.0}, out), -1);
  EXPECT_TRUE(out.empty());
}

// A move between two distinct waypoints cannot take no time; a pause at one waypoint can.
TEST(SimpleTimingSteps, UpdateTrajectoryRefusesNoTimeBetweenDistinctWaypoints) {
  FakeBoxScene scene = openScene(2);
  TrajectoryGenerator generator(&scene);
  const Path path = {{0.0, 0.0}, {0.0, 1.0}, {0.0, 1.0}};
  std::vector<TrajectoryData> out(1);
  out[0].time = 7.0;
  bramlock_test::OutputCapture capture;
  for (const double no_time : {0.0, -0.0}) {
    EXPECT_EQ(generator.updateTrajectory(path, {no_time, 1.0}, out), -1) << no_time;
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0].time, 7.0);
    EXPECT_TRUE(out[0].positions.empty());
  }
  for (const double pause : {0.0, -0.0}) {
    EXPECT_EQ(generator.updateTrajectory(path, {1.0, pause}, out), 0) << pause;
    ASSERT_EQ(out.size(), 3u);
    EXPECT_EQ(out[2].time, 1.0 + kTimeOffset);
  }
}

TEST(PathUtilities, GuaranteePathNumDensifiesShortPathsToFiveWaypoints) {
  FakeBoxScene scene = openScene(1);
  TrajectoryGenerator generator(&scene);
  Path two = {{0.0}, {4.0}};
  EXPECT_EQ(generator.guaranteePathNum(two), 0);
  EXPECT_EQ(two, (Path{{0.0}, {1.0}, {2.0}, {3.0}, {4.0}}));
  Path three = {{0.0, 2.0}, {2.0, 2.0}, {2.0, 0.0}};
  EXPECT_EQ(generator.guaranteePathNum(three), 0);
  EXPECT_EQ(three, (Path{{0.0, 2.0}, {1.0, 2.0}, {2.0, 2.0}, {2.0, 1.0}, {2.0, 0.0}}));
  Path four = {{0.0}, {1.0}, {5.0}, {2.0}};
  EXPECT_EQ(generator.guaranteePathNum(four), 0);
  EXPECT_EQ(four.size(), 4u);
  Path huge = {{1e308}, {1e308}};
  EXPECT_EQ(generator.guaranteePathNum(huge), 0);
  for (const auto& waypoint : huge) EXPECT_EQ(waypoint[0], 1e308);

  bramlock_test::OutputCapture capture;
  for (Path bad : {Path{}, Path{{1.0}}, Path{{0.0}, {1.0, 2.0}}, Path{{0.0}, {kNaN}}, Path{{kInf}, {0.0}, {1.0}}}) {
    const Path before = bad;
    EXPECT_EQ(generator.guaranteePathNum(bad), -1);
    EXPECT_EQ(bad.size(), before.size());
  }
  EXPECT_EQ(planner_test::occurrences(capture.out(), "Only one point in the Path!!!\n"), 2u);
}

TEST(PathUtilities, ExcessiveDifferenceLooksAtEveryPairOfWaypoints) {
  FakeBoxScene scene = openScene(1);
  TrajectoryGenerator generator(&scene);
  // Neighbours differ by 0.3 at most, the ends by 0.9.
  const Path drifting = {{0.0, 0.0}, {0.3, 0.0}, {0.6, 0.0}, {0.9, 0.0}};
  bramlock_test::OutputCapture capture;
  EXPECT_TRUE(generator.hasExcessiveJointAngleDifference(drifting, 0.8));
  EXPECT_FALSE(generator.hasExcessiveJointAngleDifference(drifting, 0.9));
  EXPECT_FALSE(generator.hasExcessiveJointAngleDifference({{0.0}}, 0.0));
  // Only the first six joints count, and only those both waypoints have.
  EXPECT_FALSE(generator.hasExcessiveJointAngleDifference({{0, 0, 0, 0, 0, 0, 0}, {0, 0, 0, 0, 0, 0, 5}}, 1.0));
  EXPECT_FALSE(generator.hasExcessiveJointAngleDifference({{0.0}, {0.5, 9.0}}, 1.0));
  EXPECT_TRUE(generator.hasExcessiveJointAngleDifference({{0.0}, {kNaN}}, 1.0));
  EXPECT_TRUE(generator.hasExcessiveJointAngleDifference({{-1e308}, {1e308}}, 1e308));
  EXPECT_NE(capture.out().find("diff is 0.9"), std::string::npos);
  try {
    generator.hasExcessiveJointAngleDifference(drifting, -0.1);
    ADD_FAILURE() << "a negative threshold must throw";
  } catch (const std::invalid_argument& error) {
    EXPECT_STREQ(error.what(), "Max error threshold cannot be negative");
  }
  EXPECT_THROW_MESSAGE(generator.hasExcessiveJointAngleDifference(drifting, kNaN), std::invalid_argument,
                       "^Max error threshold is not a number$");
}
