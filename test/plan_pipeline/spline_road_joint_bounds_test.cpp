// The spline road hands back a trajectory only when every millisecond sample and every waypoint
// record lies inside the scene's joint bounds; the scene arm (the demo arm) set up as the README's
// host does it.
#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <random>
#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "fake_box_scene.h"
#include "scene_arm.h"
#include "spline_test_helpers.h"

namespace {

using Path = std::vector<std::vector<double>>;
using Bounds = std::vector<std::pair<double, double>>;

// The demo arm with its own limits and the README host's obstacle, planned for by a pipeline
// (which owns the scene) and timed by a spline generator of each kind borrowing the scene.
class DemoArm {
 public:
  DemoArm() {
    bramlock_test::OutputCapture quiet;
    scene_ = bramlock_test::makeSceneArm().release();
    bramlock_test::setOctree(*scene_, {octomap::point3d(0.55f, 0.0f, 0.48f)});
    pipeline_ = std::make_unique<PathPlanAndPostProcessing>(scene_);
    scene_->getPlanSpaceBounds(bounds_);
    scene_->getVmaxAndAmax(vmax_, amax_);
    for (const char* type : {"cubic_spline", "quintic_spline"}) {
      splines_.push_back(std::make_unique<TrajectoryGenerator>(scene_));
      splines_.back()->setMdhParams(scene_->getArmMdhParams());
      splines_.back()->setTrajectoryType(type);
    }
  }

  const Bounds& bounds() const { return bounds_; }

  // The spline road's result code; out holds the trajectory, log the library's output.
  int time(const std::string& type, const Path& path, std::vector<TrajectoryData>& out, std::string* log = nullptr) {
    TrajectoryGenerator& generator = *splines_[type == "cubic_spline" ? 0 : 1];
    bramlock_test::OutputCapture capture;
    const int code =
        generator.generateTrajectoryData(path, vmax_.data(), amax_.data(), out, false, CartesianConstraints());
    if (log != nullptr) *log = capture.out();
    return code;
  }

  // A collision-free path between two random joint vectors inside the bounds; empty when none was found.
  Path plannedPath(std::mt19937& rng) {
    std::vector<double> ends[2];
    for (std::vector<double>& end : ends) {
      for (const auto& [low, high] : bounds_) end.push_back(std::uniform_real_distribution<double>(low, high)(rng));
    }
    std::vector<TrajectoryData> points;
    bramlock_test::OutputCapture quiet;
    if (pipeline_->runPlanPipeline(ends[0], ends[1], points, false) != 0) return {};
    Path path;
    for (const TrajectoryData& point : points) path.push_back(point.positions);
    return path;
  }

 private:
  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
  ManipulatorPlanScene* scene_ = nullptr;
  std::unique_ptr<PathPlanAndPostProcessing> pipeline_;
  Bounds bounds_;
  std::vector<double> vmax_, amax_;
  std::vector<std::unique_ptr<TrajectoryGenerator>> splines_;  // declared last: destroyed before the scene
};

::testing::AssertionResult inside(const std::vector<double>& q, const Bounds& bounds, double time) {
  for (std::size_t j = 0; j < bounds.size(); ++j) {
    if (!(q[j] >= bounds[j].first && q[j] <= bounds[j].second)) {
      return ::testing::AssertionFailure() << "joint " << j << " at " << q[j] << " at " << time << " s";
    }
  }
  return ::testing::AssertionSuccess();
}

// Every sample and every waypoint record inside the bounds.
::testing::AssertionResult allInside(const std::vector<TrajectoryData>& out, const Bounds& bounds) {
  for (const std::vector<TrajectoryData>* points : {&out, &out.front().children}) {
    for (const TrajectoryData& point : *points) {
      const ::testing::AssertionResult result = inside(point.positions, bounds, point.time);
      if (!result) return result;
    }
  }
  return ::testing::AssertionSuccess();
}

// A point at most `reach` from the middle of every joint's bounds.
std::vector<double> middlePoint(std::mt19937& rng, const Bounds& bounds, double reach) {
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  std::vector<double> point;
  for (const auto& [low, high] : bounds) point.push_back(0.5 * (low + high) + reach * unit(rng));
  return point;
}

// Five waypoints within 0.5 rad of the middle of the bounds.
Path middlePath(unsigned seed, const Bounds& bounds) {
  std::mt19937 rng(seed);
  Path path;
  while (path.size() < 5) path.push_back(middlePoint(rng, bounds, 0.5));
  return path;
}

// Four to six waypoints; an inner one takes a joint to 0.01 to 0.2 rad inside one of its bounds
// and the next turns back towards the middle.
Path nearBoundPath(unsigned seed, const Bounds& bounds) {
  std::mt19937 rng(seed);
  const int count = std::uniform_int_distribution<int>(4, 6)(rng);
  const int turn = std::uniform_int_distribution<int>(1, count - 2)(rng);
  const std::size_t joint = std::uniform_int_distribution<std::size_t>(0, bounds.size() - 1)(rng);
  const double gap = std::uniform_real_distribution<double>(0.01, 0.2)(rng);
  const bool upper = std::uniform_int_distribution<int>(0, 1)(rng) == 1;
  Path path;
  for (int i = 0; i < count; ++i) path.push_back(middlePoint(rng, bounds, 1.0));
  path[turn][joint] = upper ? bounds[joint].second - gap : bounds[joint].first + gap;
  return path;
}

class SplineRoadJointBounds : public ::testing::TestWithParam<const char*> {};

// A pause at -2.85 rad, 0.05 rad inside joint 2's lower bound, before a long move of joint 2: the
// splines reached below -2.9 (and joint 0 past 1.3 rad between two waypoints at 0.8 rad). Waypoints
// added on the straight segments around the overshoot bring the samples back inside; what fails
// after that is the scene's check of the samples.
TEST_P(SplineRoadJointBounds, DemoArmPathThatLeftTheBoundsIsMendedInsideThenMeetsTheScenesCheck) {
  DemoArm arm;
  const Path path = {{0, 0, -2.5, 0, 0, 0}, {0, 0, -2.85, 0, 0, 0}, {0.8, 0, -2.85, 0, 0, 0}, {0.8, 0, 1.0, 0, 0, 0}};
  std::vector<TrajectoryData> out(2);
  std::string log;
  const int code = arm.time(GetParam(), path, out, &log);
  EXPECT_NE(log.find("generateTrajectoryData：第1轮在1个路径段上加入"), std::string::npos) << log;
  EXPECT_EQ(log.find("的位置范围"), std::string::npos) << log;
  if (code == 0) {
    EXPECT_TRUE(allInside(out, arm.bounds()));
  } else {
    EXPECT_TRUE(out.empty());
    const std::regex line("generateTrajectoryData 失败：轨迹在 [0-9.]+ s 处未通过场景的碰撞检测 \\(isValid\\)\n$");
    EXPECT_TRUE(std::regex_search(log, line)) << log;
  }
}

// A waypoint 0.05 rad below joint 2's lower bound: no added waypoint brings the path inside.
TEST_P(SplineRoadJointBounds, DemoArmPathWithAWaypointOutsideTheBoundsFailsNamingTheJoint) {
  DemoArm arm;
  const Path path = {{0, 0, -2.5, 0, 0, 0}, {0, 0, -2.95, 0, 0, 0}, {0.8, 0, -2.5, 0, 0, 0}};
  std::vector<TrajectoryData> out(2);
  std::string log;
  EXPECT_EQ(arm.time(GetParam(), path, out, &log), -1);
  EXPECT_TRUE(out.empty());
  EXPECT_EQ(log.find("加入路径点"), std::string::npos) << log;
  // One line names the joint, the time and the excess.
  const std::regex line("generateTrajectoryData 失败：轨迹在 [0-9.]+ s 处超出关节2的位置范围 [0-9.]+ rad\n$");
  EXPECT_TRUE(std::regex_search(log, line)) << log;
}

// What the successes of a sweep added up to: their count, total durations and sample positions.
struct SweepSums {
  int succeeded = 0;
  double durations = 0.0;
  double positions = 0.0;
};

void add(const std::vector<TrajectoryData>& out, SweepSums& sums) {
  ++sums.succeeded;
  sums.durations += out.back().time;
  for (const TrajectoryData& sample : out.front().children) {
    for (double q : sample.positions) sums.positions += q;
  }
}

// Times seeds [first, last] of the paths make(seed, bounds) gives; every success must lie inside.
template <class MakePath>
SweepSums expectOnlyInsideSuccesses(const char* type, unsigned first, unsigned last, MakePath make) {
  DemoArm arm;
  SweepSums sums;
  for (unsigned seed = first; seed <= last; ++seed) {
    std::vector<TrajectoryData> out;
    if (arm.time(type, make(seed, arm.bounds()), out) == 0) {
      EXPECT_TRUE(allInside(out, arm.bounds())) << type << " seed " << seed;
      add(out, sums);
    } else {
      EXPECT_TRUE(out.empty()) << type << " seed " << seed;
    }
  }
  std::printf("[ counts   ] %s: %d of %u succeeded\n", type, sums.succeeded, last - first + 1);
  return sums;
}

// The successes of seeds 1 to 20 in the middle lay inside the bounds when trajectories leaving them
// still succeeded, and their samples pass the scene's check: they stay as they were. Those of seeds
// 1 to 64 near a bound (of which 3 cubic and 14 quintic ones left the bounds, 61 and 50 succeeding
// then) were recorded anew once samples had to pass the scene's check too (tested at the scene's
// motion-check step): these waypoints are drawn without asking the scene, and about half of the
// paths now fail there.
struct Recorded {
  SweepSums near_bound;
  SweepSums middle;
};

Recorded recorded(const std::string& type) {
  if (type == "cubic_spline")
    return {{31, 124.53396565232181, 26523.019005325019}, {20, 42.779458109167507, 2065.7381628784774}};
  return {{31, 128.5799537778758, 27333.315611535152}, {20, 42.255456700419117, 1051.5258677155252}};
}

void expectSums(const SweepSums& sums, const SweepSums& expected) {
  EXPECT_EQ(sums.succeeded, expected.succeeded);
  EXPECT_EQ(sums.durations, expected.durations);
  EXPECT_EQ(sums.positions, expected.positions);
}

TEST_P(SplineRoadJointBounds, PathsTurningNearABoundSucceedOnlyInside) {
  expectSums(expectOnlyInsideSuccesses(GetParam(), 1, 64, nearBoundPath), recorded(GetParam()).near_bound);
}

TEST_P(SplineRoadJointBounds, SlowPathsTurningNearABoundSucceedOnlyInside) {
  expectOnlyInsideSuccesses(GetParam(), 65, 1000, nearBoundPath);
}

TEST_P(SplineRoadJointBounds, PathsInTheMiddleKeepTheirTrajectories) {
  expectSums(expectOnlyInsideSuccesses(GetParam(), 1, 20, middlePath), recorded(GetParam()).middle);
}

// Whether the planner's own trajectory of the path (as the road took it before mending) has a
// sample outside the bounds.
bool plannerLeavesBounds(const std::string& type, const Path& path, const Bounds& bounds) {
  const std::vector<TrajectoryData> trajectory = spline_test::plannerTrajectory(
      type, path, bramlock_test::sceneArmVelocityLimits(), bramlock_test::sceneArmAccelerationLimits());
  return !trajectory.empty() && !allInside(trajectory, bounds);
}

// With nothing to collide with (a scene of the scene arm's bounds and no obstacles), every path
// turning near a bound is timed: where the splines overshoot the bound, waypoints added on the
// straight segments around the overshoot bring the samples back inside.
TEST_P(SplineRoadJointBounds, PathsTurningNearABoundInAnEmptySceneAreBroughtBackInside) {
  const Bounds bounds = bramlock_test::sceneArmBounds();
  fake_scene::FakeBoxScene scene(bounds, {});
  TrajectoryGenerator generator(&scene);
  {
    bramlock_test::OutputCapture quiet;
    generator.setTrajectoryType(GetParam());
  }
  const std::vector<double> vmax = bramlock_test::sceneArmVelocityLimits();
  const std::vector<double> amax = bramlock_test::sceneArmAccelerationLimits();
  int brought_back = 0;
  for (unsigned seed = 1; seed <= 100; ++seed) {
    const Path path = nearBoundPath(seed, bounds);
    std::vector<TrajectoryData> out;
    int code;
    {
      bramlock_test::OutputCapture quiet;
      code = generator.generateTrajectoryData(path, vmax.data(), amax.data(), out, false, CartesianConstraints());
    }
    ASSERT_EQ(code, 0) << "seed " << seed;
    EXPECT_TRUE(allInside(out, bounds)) << "seed " << seed;
    brought_back += plannerLeavesBounds(GetParam(), path, bounds);
  }
  std::printf("[ counts   ] %s: %d of 100 brought back inside\n", GetParam(), brought_back);
  EXPECT_GT(brought_back, 0);
}

INSTANTIATE_TEST_SUITE_P(BothPlanners, SplineRoadJointBounds, ::testing::Values("cubic_spline", "quintic_spline"));

// Paths the pipeline plans between random joint vectors, timed by both planners.
TEST(SplineRoadJointBoundsPlanned, SlowPlannedPathsSucceedOnlyInside) {
  DemoArm arm;
  std::mt19937 rng(2024);
  int planned = 0, inside = 0, failed = 0;
  while (planned < 1000) {
    const Path path = arm.plannedPath(rng);
    if (path.empty()) continue;
    ++planned;
    for (const char* type : {"cubic_spline", "quintic_spline"}) {
      std::vector<TrajectoryData> out;
      if (arm.time(type, path, out) == 0) {
        ++inside;
        EXPECT_TRUE(allInside(out, arm.bounds())) << type << " path " << planned;
      } else {
        ++failed;
      }
    }
  }
  std::printf("[ counts   ] planned: %d inside, %d failed\n", inside, failed);
}

}  // namespace
