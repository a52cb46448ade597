#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "fake_box_scene.h"
#include "planner_test_helpers.h"

using fake_scene::FakeBoxScene;
using planner_test::kInf;
using planner_test::kNaN;
using planner_test::Path;

namespace {

constexpr double kSampleStep = 0.001;
// The optimiser stops once no sampled ratio exceeds its limit by 1 %; finite
// differences of the millisecond samples see a little more than its samples.
constexpr double kLimitSlack = 1.03;

const std::vector<double> kVmax = {1.0, 1.2, 1.5, 2.0, 2.0, 2.5};
const std::vector<double> kAmax = {3.0, 3.0, 4.0, 5.0, 5.0, 6.0};

Path seededPath(unsigned seed, int waypoints) {
  std::mt19937 engine(seed);
  std::uniform_real_distribution<double> move(-0.6, 0.6);
  Path path(1, {0.1, -0.4, 0.8, 0.0, 0.5, -0.2});
  for (int i = 1; i < waypoints; ++i) {
    std::vector<double> next = path.back();
    for (double& value : next) value += move(engine);
    path.push_back(next);
  }
  return path;
}

std::vector<ArmMDHParams> sixJointMdh() {
  std::vector<ArmMDHParams> params(6);
  for (ArmMDHParams& joint : params) joint.valid = true;
  return params;
}

// Waypoints in order, the dense samples on the first; finite differences of
// the samples within the limits.
void expectLimitedSampledTrajectory(const Path& path, const std::vector<TrajectoryData>& out) {
  ASSERT_EQ(out.size(), path.size());
  for (std::size_t i = 0; i < out.size(); ++i) {
    EXPECT_EQ(out[i].positions, path[i]);
    if (i > 0) {
      EXPECT_GT(out[i].time, out[i - 1].time);
      EXPECT_TRUE(out[i].children.empty());
    }
  }
  const std::vector<TrajectoryData>& samples = out[0].children;
  ASSERT_GE(samples.size(), 3u);
  EXPECT_NEAR(static_cast<double>(samples.size() - 1) * kSampleStep, out.back().time, 2 * kSampleStep);
  for (std::size_t j = 0; j < 6; ++j) {
    EXPECT_NEAR(samples.front().positions[j], path.front()[j], 1e-9);
    // The last sample may fall up to 1 ms short of the goal, where the arm is stopping.
    EXPECT_NEAR(samples.back().positions[j], path.back()[j], kAmax[j] * kSampleStep * kSampleStep);
  }
  double fastest = 0.0;
  for (std::size_t k = 1; k + 1 < samples.size(); ++k) {
    for (std::size_t j = 0; j < 6; ++j) {
      const double before = samples[k - 1].positions[j];
      const double here = samples[k].positions[j];
      const double after = samples[k + 1].positions[j];
      const double velocity = (after - here) / kSampleStep;
      const double acceleration = (after - 2 * here + before) / (kSampleStep * kSampleStep);
      fastest = std::max(fastest, std::abs(velocity) / kVmax[j]);
      ASSERT_LE(std::abs(velocity), kVmax[j] * kLimitSlack) << "sample " << k << " joint " << j;
      ASSERT_LE(std::abs(acceleration), kAmax[j] * kLimitSlack) << "sample " << k << " joint " << j;
    }
  }
  // Timed near the limits, not merely under them.
  EXPECT_GT(fastest, 0.3);
}

struct SplineRun {
  int code;
  std::vector<TrajectoryData> out;
  std::string log;
};

SplineRun runWithUniformLimits(TrajectoryGenerator& generator, const Path& path, const double* vmax,
                               const double* amax) {
  SplineRun run;
  run.out.resize(2);
  bramlock_test::OutputCapture capture;
  run.code = generator.generateTrajectoryData(path, vmax, amax, run.out, false, CartesianConstraints());
  run.log = capture.out();
  return run;
}

SplineRun runWithWaypointLimits(TrajectoryGenerator& generator, const Path& path,
                                const std::vector<WaypointConstraints>& constraints) {
  SplineRun run;
  run.out.resize(2);
  bramlock_test::OutputCapture capture;
  run.code = generator.generateTrajectoryData(path, constraints, run.out, false);
  run.log = capture.out();
  return run;
}

std::vector<WaypointConstraints> uniformConstraints(std::size_t waypoints) {
  WaypointConstraints limits;
  limits.vmax = kVmax;
  limits.amax = kAmax;
  return std::vector<WaypointConstraints>(waypoints, limits);
}

}  // namespace

class SplineRoad : public ::testing::TestWithParam<const char*> {
 protected:
  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
  FakeBoxScene scene_{fake_scene::symmetricBounds(6), {}};
};

TEST_P(SplineRoad, BothFormsGiveMillisecondSamplesWithinTheLimits) {
  TrajectoryGenerator generator(&scene_);
  {
    bramlock_test::OutputCapture quiet;
    generator.setTrajectoryType(GetParam());
  }
  const Path path = seededPath(11, 6);
  const SplineRun uniform = runWithUniformLimits(generator, path, kVmax.data(), kAmax.data());
  ASSERT_EQ(uniform.code, 0) << uniform.log;
  expectLimitedSampledTrajectory(path, uniform.out);
  EXPECT_NE(uniform.log.find("Use_Time generateTrajectoryData cost "), std::string::npos);
  EXPECT_NE(uniform.log.find("goal size is 6"), std::string::npos);

  const SplineRun per_waypoint = runWithWaypointLimits(generator, path, uniformConstraints(path.size()));
  ASSERT_EQ(per_waypoint.code, 0) << per_waypoint.log;
  expectLimitedSampledTrajectory(path, per_waypoint.out);
  EXPECT_EQ(per_waypoint.out.back().time, uniform.out.back().time);
}

TEST_P(SplineRoad, BadInputFailsWithAnEmptyResult) {
  TrajectoryGenerator generator(&scene_);
  {
    bramlock_test::OutputCapture quiet;
    generator.setTrajectoryType(GetParam());
  }
  const Path path = seededPath(5, 3);
  const std::vector<double> zero = {1, 1, 1, 1, 1, 0};
  const std::vector<double> nan = {1, 1, kNaN, 1, 1, 1};
  const std::vector<double> inf = {kInf, 1, 1, 1, 1, 1};
  const std::vector<double> huge = std::vector<double>(6, 1e308);
  struct Case {
    std::string name;
    Path path;
    const double* vmax;
    const double* amax;
  };
  const std::vector<Case> cases = {
      {"null vmax", path, nullptr, kAmax.data()},
      {"null amax", path, kVmax.data(), nullptr},
      {"zero limit", path, kVmax.data(), zero.data()},
      {"NaN limit", path, nan.data(), kAmax.data()},
      {"infinite limit", path, kVmax.data(), inf.data()},
      {"empty path", {}, kVmax.data(), kAmax.data()},
      {"one waypoint", {path[0]}, kVmax.data(), kAmax.data()},
      {"NaN waypoint", {path[0], {0, 0, kNaN, 0, 0, 0}}, kVmax.data(), kAmax.data()},
      {"short waypoint", {path[0], {0.0, 0.0}}, kVmax.data(), kAmax.data()},
      // Durations capped at 10 s per segment cannot cover it.
      {"huge distance", {path[0], huge}, kVmax.data(), kAmax.data()},
  };
  for (const Case& each : cases) {
    const SplineRun run = runWithUniformLimits(generator, each.path, each.vmax, each.amax);
    EXPECT_EQ(run.code, -1) << each.name;
    EXPECT_TRUE(run.out.empty()) << each.name;
  }
  // Five joints throughout, limits included: the planner times it, but the scene reads six.
  Path five_joints = path;
  std::vector<WaypointConstraints> five_limits = uniformConstraints(path.size());
  for (std::vector<double>& waypoint : five_joints) waypoint.pop_back();
  for (WaypointConstraints& limits : five_limits) {
    limits.vmax.pop_back();
    limits.amax.pop_back();
  }
  const SplineRun narrower = runWithWaypointLimits(generator, five_joints, five_limits);
  EXPECT_EQ(narrower.code, -1);
  EXPECT_TRUE(narrower.out.empty());
  EXPECT_NE(narrower.log.find("采样点有5个关节值，场景需要6个"), std::string::npos) << narrower.log;
  std::vector<WaypointConstraints> one_short = uniformConstraints(path.size() - 1);
  const SplineRun mismatched = runWithWaypointLimits(generator, path, one_short);
  EXPECT_EQ(mismatched.code, -1);
  EXPECT_TRUE(mismatched.out.empty());
  EXPECT_NE(mismatched.log.find("generateTrajectoryData 失败：轨迹优化未收敛"), std::string::npos);
}

// The distance from q to the straight segment from a to b.
double distanceToSegment(const std::vector<double>& q, const std::vector<double>& a, const std::vector<double>& b) {
  double along = 0.0, length = 0.0;
  for (std::size_t j = 0; j < q.size(); ++j) {
    along += (q[j] - a[j]) * (b[j] - a[j]);
    length += (b[j] - a[j]) * (b[j] - a[j]);
  }
  const double t = length > 0.0 ? std::clamp(along / length, 0.0, 1.0) : 0.0;
  double sum = 0.0;
  for (std::size_t j = 0; j < q.size(); ++j) sum += std::pow(q[j] - (a[j] + t * (b[j] - a[j])), 2);
  return std::sqrt(sum);
}

// The sample farthest from the path's straight segments.
std::vector<double> farthestFromPath(const Path& path, const std::vector<TrajectoryData>& trajectory,
                                     double& distance) {
  distance = -1.0;
  std::vector<double> farthest;
  for (const TrajectoryData& sample : trajectory.front().children) {
    double nearest = std::numeric_limits<double>::infinity();
    for (std::size_t s = 1; s < path.size(); ++s) {
      nearest = std::min(nearest, distanceToSegment(sample.positions, path[s - 1], path[s]));
    }
    if (nearest > distance) {
      distance = nearest;
      farthest = sample.positions;
    }
  }
  return farthest;
}

// A right-angle turn in joints 0 and 1: the splines round it off the straight segments. A box
// around the sample farthest from them, clear of the segments, is in the way of the unmended
// trajectory only; the middle waypoint has tighter limits than the ends.
TEST_P(SplineRoad, SamplesInAnObstacleOffTheStraightPathAreMendedWithWaypointsOnIt) {
  const Path path = {{0, 0, 0, 0, 0, 0}, {1.2, 0, 0, 0, 0, 0}, {1.2, 1.2, 0, 0, 0, 0}};
  std::vector<WaypointConstraints> constraints = uniformConstraints(path.size());
  for (double& limit : constraints[1].vmax) limit *= 0.8;
  TrajectoryGenerator free_road(&scene_);
  {
    bramlock_test::OutputCapture quiet;
    free_road.setTrajectoryType(GetParam());
  }
  const SplineRun unmended = runWithWaypointLimits(free_road, path, constraints);
  ASSERT_EQ(unmended.code, 0) << unmended.log;
  double distance = 0.0;
  const std::vector<double> centre = farthestFromPath(path, unmended.out, distance);
  ASSERT_GT(distance, 0.02);
  fake_scene::Box box{centre, centre};
  for (std::size_t j = 0; j < centre.size(); ++j) {
    box.lo[j] -= 0.4 * distance;
    box.hi[j] += 0.4 * distance;
  }
  FakeBoxScene blocked(fake_scene::symmetricBounds(6), {box});
  for (std::size_t s = 1; s < path.size(); ++s) ASSERT_TRUE(blocked.motionFree(path[s - 1], path[s], false, 0.0));
  ASSERT_FALSE(blocked.stateFree(centre));

  TrajectoryGenerator road(&blocked);
  {
    bramlock_test::OutputCapture quiet;
    road.setTrajectoryType(GetParam());
  }
  const SplineRun run = runWithWaypointLimits(road, path, constraints);
  EXPECT_NE(run.log.find("个路径点后重新规划"), std::string::npos) << run.log;
  ASSERT_EQ(run.code, 0) << run.log;
  // One record per given waypoint; the samples run through the added ones.
  ASSERT_EQ(run.out.size(), path.size());
  for (std::size_t i = 0; i < path.size(); ++i) EXPECT_EQ(run.out[i].positions, path[i]);
  for (const TrajectoryData& sample : run.out.front().children) {
    ASSERT_TRUE(blocked.stateFree(sample.positions)) << sample.time << " s";
  }
}

// The same turn with the box over its corner waypoint: no waypoint on the straight path helps.
TEST_P(SplineRoad, SamplesInAnObstacleOnTheStraightPathFailAfterTheMendingRounds) {
  const Path path = {{0, 0, 0, 0, 0, 0}, {1.2, 0, 0, 0, 0, 0}, {1.2, 1.2, 0, 0, 0, 0}};
  fake_scene::Box box{{1.1, -0.1, -1, -1, -1, -1}, {1.3, 0.1, 1, 1, 1, 1}};
  FakeBoxScene blocked(fake_scene::symmetricBounds(6), {box});
  TrajectoryGenerator road(&blocked);
  {
    bramlock_test::OutputCapture quiet;
    road.setTrajectoryType(GetParam());
  }
  const SplineRun run = runWithUniformLimits(road, path, kVmax.data(), kAmax.data());
  EXPECT_EQ(run.code, -1);
  EXPECT_TRUE(run.out.empty());
  EXPECT_NE(run.log.find("generateTrajectoryData：第5轮"), std::string::npos) << run.log;
  EXPECT_EQ(run.log.find("第6轮"), std::string::npos) << run.log;
  EXPECT_NE(run.log.find("处未通过场景的碰撞检测 (isValid)"), std::string::npos) << run.log;
}

INSTANTIATE_TEST_SUITE_P(BothPlanners, SplineRoad, ::testing::Values("cubic_spline", "quintic_spline"));

TEST(SplineRoadPlanner, TypeNamesSelectThePlannerAndUnknownOnesFallBackToCubic) {
  FakeBoxScene scene(fake_scene::symmetricBounds(6), {});
  TrajectoryGenerator generator(&scene);
  const Path one_point = {std::vector<double>(6, 0.0)};
  std::vector<TrajectoryData> out;
  const auto log_of = [&](const std::string& type) {
    bramlock_test::OutputCapture capture;
    generator.setTrajectoryType(type);
    generator.generateTrajectoryData(one_point, kVmax.data(), kAmax.data(), out, false, CartesianConstraints());
    return capture.out();
  };
  const std::string quintic = log_of("quintic_spline");
  EXPECT_NE(quintic.find("轨迹规划器：quintic_spline（五次样条）"), std::string::npos);
  EXPECT_NE(quintic.find("QuinticSpline: 路径点不足"), std::string::npos);
  const std::string unknown = log_of("linear");
  EXPECT_NE(unknown.find("未知轨迹规划器类型 \"linear\"，使用默认 cubic_spline"), std::string::npos);
  EXPECT_NE(unknown.find("轨迹规划器：cubic_spline（三次样条）"), std::string::npos);
  EXPECT_NE(unknown.find("路径点数量不足"), std::string::npos);
  EXPECT_EQ(unknown.find("QuinticSpline"), std::string::npos);
  const std::string cubic = log_of("cubic_spline");
  EXPECT_EQ(cubic.find("未知"), std::string::npos);
  // No MDH parameters were given: no model is looked for.
  EXPECT_EQ((quintic + unknown + cubic).find("功能包"), std::string::npos);
}

// Enabled Cartesian limits without a usable model are reported by the planner.
bool warnsOfMissingModel(TrajectoryGenerator& generator) {
  CartesianConstraints cartesian;
  cartesian.enabled = true;
  cartesian.frame_id = 1;
  std::vector<TrajectoryData> out;
  bramlock_test::OutputCapture capture;
  generator.generateTrajectoryData(seededPath(3, 2), kVmax.data(), kAmax.data(), out, false, cartesian);
  return capture.out().find("笛卡尔约束已启用但未设置机器人模型") != std::string::npos;
}

TEST(SplineRoadPlanner, MdhParametersLoadTheDescriptionsModelIntoEveryNewPlanner) {
  bramlock_test::ScopedEnvironment environment({{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}});
  FakeBoxScene scene(fake_scene::symmetricBounds(6), {});
  TrajectoryGenerator generator(&scene);
  EXPECT_TRUE(warnsOfMissingModel(generator));
  {
    bramlock_test::OutputCapture quiet;
    generator.setMdhParams(sixJointMdh());
  }
  EXPECT_FALSE(warnsOfMissingModel(generator));
  {
    bramlock_test::OutputCapture quiet;
    generator.setTrajectoryType("quintic_spline");
  }
  EXPECT_FALSE(warnsOfMissingModel(generator));
}

TEST(SplineRoadPlanner, WithoutTheDescriptionPackageTheGeneratorGoesOnWithoutAModel) {
  bramlock_test::TempDir empty_prefix;
  for (const bramlock_test::Environment& missing :
       {bramlock_test::Environment{{"AMENT_PREFIX_PATH", empty_prefix.path().string()}},
        bramlock_test::Environment{{"AMENT_PREFIX_PATH", std::nullopt}}}) {
    bramlock_test::ScopedEnvironment environment(missing);
    FakeBoxScene scene(fake_scene::symmetricBounds(6), {});
    TrajectoryGenerator generator(&scene);
    bramlock_test::OutputCapture capture;
    generator.setMdhParams(sixJointMdh());
    generator.setTrajectoryType("quintic_spline");
    const std::string log = capture.out();
    EXPECT_EQ(
        planner_test::occurrences(log, "[INFO] 找不到功能包 bramlock_arm_description，轨迹规划器不加载动力学模型"), 2u)
        << log;
    EXPECT_TRUE(warnsOfMissingModel(generator));
    const Path path = seededPath(7, 4);
    std::vector<TrajectoryData> out;
    EXPECT_EQ(generator.generateTrajectoryData(path, kVmax.data(), kAmax.data(), out, false, CartesianConstraints()),
              0);
    EXPECT_EQ(out.size(), path.size());
  }
}
