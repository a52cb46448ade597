#include <algorithm>
#include <clocale>
#include <cmath>
#include <filesystem>
#include <fstream>
#include <limits>
#include <locale>
#include <random>
#include <sstream>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/planner/arm_dynamics.h"
#include "bramlock_arm_planning_core/planner/constraint_evaluators.h"
#include "bramlock_arm_planning_core/planner/cubic_spline_trajectory.h"
#include "bramlock_arm_planning_core/planner/quintic_spline_trajectory.h"
#include "spline_test_helpers.h"

namespace {

using Path = std::vector<std::vector<double>>;

template <class Planner>
class Probe : public Planner {
 public:
  using Planner::computeInitialTimeIntervals;
  using Planner::computeSegmentConstraints;
  using Planner::generateTrajectory;
  using Planner::initialize;
  using Planner::max_iterations_;
  using Planner::model_;
  using Planner::optimizeTimeIntervals;
  using Planner::tolerance_;
  using Planner::writeTrajectoryCsv;

  // The steps of a planning call up to the optimisation, with the defaults of a call.
  std::vector<double> prepare(const Path& points, const std::vector<WaypointConstraints>& constraints) {
    EXPECT_TRUE(initialize(points, constraints));
    computeSegmentConstraints();
    return computeInitialTimeIntervals();
  }
};

struct CubicTexts {
  using Planner = CubicSplineTrajectory;
  static constexpr bool kJerk = false;
  static constexpr double kRestPeak = 1.5;  // peak over mean speed of 3 s^2 - 2 s^3
  static constexpr const char* kConvergedAtTwo = "优化收敛，迭代次数: 2, 总时间: 0.0020s, 最大约束违反: 0.000000";
  static constexpr const char* kIterationLimitStart = "达到最大迭代次数: 1, 最终总时间: ";
  static constexpr const char* kTimeStart = "优化时间间隔用时 ";
  static constexpr const char* kNotConverged = "轨迹优化失败：达到最大迭代次数仍未收敛";
  static constexpr const char* kInitFailed = "轨迹生成器初始化失败";
  static constexpr const char* kInvalidPoints = "无效的路径点数据";
  static constexpr const char* kCsvPrefix = "trajectory_";
  static constexpr const char* kCsvFailedStart = "无法写入轨迹文件 ";
  static constexpr const char* kModelMismatch = "动力学模型关节数(6)与路径点关节数(2)不一致，按未加载模型规划";
  // 0 -> 1 at rest in 2.5 ms: 3 s^2 - 2 s^3 of s = t / 0.0025, sampled up to 2 ms.
  static constexpr const char* kSmallCsv =
      "time,j0_pos,j0_vel,j0_acc\n"
      "0,0,0,960000\n"
      "0.001,0.352,576,192000\n"
      "0.002,0.896,384,-576000\n";
};

struct QuinticTexts {
  using Planner = QuinticSplineTrajectory;
  static constexpr bool kJerk = true;
  static constexpr double kRestPeak = 1.875;  // peak over mean speed of 10 s^3 - 15 s^4 + 6 s^5
  static constexpr const char* kConvergedAtTwo = "QuinticSpline: 优化收敛, iter=2, T=0.0020s, maxErr=0.000000";
  static constexpr const char* kIterationLimitStart = "QuinticSpline: 达到最大迭代 1, T=";
  static constexpr const char* kTimeStart = "QuinticSpline: 优化耗时 ";
  static constexpr const char* kNotConverged = "QuinticSpline: 优化未收敛";
  static constexpr const char* kInitFailed = "QuinticSpline: 初始化失败";
  static constexpr const char* kInvalidPoints = "QuinticSpline: 无效路径点";
  static constexpr const char* kCsvPrefix = "quintic_trajectory_";
  static constexpr const char* kCsvFailedStart = "QuinticSpline: 无法写入轨迹文件 ";
  static constexpr const char* kModelMismatch = "QuinticSpline: 模型关节数6与路径点关节数2不一致，忽略模型";
  // 0 -> 1 at rest in 2.5 ms: 10 s^3 - 15 s^4 + 6 s^5 of s = t / 0.0025, sampled up to 2 ms.
  static constexpr const char* kSmallCsv =
      "time,j0_pos,j0_vel,j0_acc,j0_jerk\n"
      "0,0,0,0,3.84e+09\n"
      "0.001,0.31744,691.2,460800,-1.6896e+09\n"
      "0.002,0.94208,307.2,-921600,1.536e+08\n";
};

bool startsWith(const std::string& text, const std::string& start) { return text.rfind(start, 0) == 0; }

std::vector<WaypointConstraints> uniform(std::size_t points, const WaypointConstraints& record) {
  return std::vector<WaypointConstraints>(points, record);
}

// A random walk of six joints from the origin.
Path randomPath(unsigned seed, int count) {
  std::mt19937 rng(seed);
  std::uniform_real_distribution<double> step(-0.8, 0.8);
  Path path(1, std::vector<double>(6, 0.0));
  for (int i = 1; i < count; ++i) {
    std::vector<double> next = path.back();
    for (double& q : next) q += step(rng);
    path.push_back(next);
  }
  return path;
}

std::string readFile(const std::filesystem::path& path) {
  std::ifstream file(path);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

Eigen::VectorXd asVector(const std::vector<double>& values) {
  return Eigen::Map<const Eigen::VectorXd>(values.data(), static_cast<Eigen::Index>(values.size()));
}

// Central differences of the millisecond samples at sample k (1 .. size - 2).
struct Differences {
  Eigen::VectorXd q, v, a;
};
Differences differencesAt(const std::vector<TrajectoryData>& samples, std::size_t k) {
  const Eigen::VectorXd before = asVector(samples[k - 1].positions);
  const Eigen::VectorXd here = asVector(samples[k].positions);
  const Eigen::VectorXd after = asVector(samples[k + 1].positions);
  return {here, (after - before) / 0.002, (after - 2.0 * here + before) / 1e-6};
}

template <class Texts>
class SplineOptimisation : public spline_test::ProbedPlanner<Probe, Texts> {};

using Flavours = ::testing::Types<CubicTexts, QuinticTexts>;
TYPED_TEST_SUITE(SplineOptimisation, Flavours);

TYPED_TEST(SplineOptimisation, LimitsMetByTheInitialDurationsConvergeAtTheSecondIteration) {
  const Path path = {std::vector<double>(6, 0.0), std::vector<double>(6, 1e-8), std::vector<double>(6, 2e-8)};
  const auto limits = uniform(3, spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0)));
  const std::vector<double> initial = this->planner.prepare(path, limits);
  EXPECT_EQ(initial, std::vector<double>({0.001, 0.001}));
  TrajectoryResult result;
  const auto lines =
      this->logged([&] { result = this->planner.generateTimeOptimalTrajectory(path, limits, 0.01, 1000, false); });
  ASSERT_TRUE(result.success);
  ASSERT_EQ(lines.size(), 2u);
  EXPECT_EQ(lines[0], TypeParam::kConvergedAtTwo);
  EXPECT_TRUE(startsWith(lines[1], TypeParam::kTimeStart)) << lines[1];
  ASSERT_EQ(result.trajectory.size(), 3u);
  EXPECT_DOUBLE_EQ(result.trajectory[1].time, 0.001);
  EXPECT_DOUBLE_EQ(result.trajectory[2].time, 0.002);
}

TYPED_TEST(SplineOptimisation, TooFewIterationsFailWithTheNoConvergenceMessage) {
  const Path path = {std::vector<double>(6, 0.0), std::vector<double>(6, 1.0)};
  const auto limits = uniform(2, spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0)));
  TrajectoryResult result{true, {TrajectoryData()}};
  auto lines = this->logged([&] { result = this->planner.generateTimeOptimalTrajectory(path, limits, 0.01, 1, true); });
  EXPECT_FALSE(result.success);
  EXPECT_TRUE(result.trajectory.empty());
  // The second run, that spares the neighbours of violating segments, fails the same way.
  ASSERT_EQ(lines.size(), 5u);
  for (std::size_t run = 0; run < 2; ++run) {
    EXPECT_TRUE(startsWith(lines[2 * run], TypeParam::kIterationLimitStart)) << lines[2 * run];
    EXPECT_TRUE(startsWith(lines[2 * run + 1], TypeParam::kTimeStart)) << lines[2 * run + 1];
  }
  EXPECT_EQ(lines[4], TypeParam::kNotConverged);

  lines = this->logged([&] { result = this->planner.generateTimeOptimalTrajectory(path, limits, 0.01, 0, true); });
  EXPECT_FALSE(result.success);
  ASSERT_EQ(lines.size(), 3u);
  EXPECT_EQ(lines[2], TypeParam::kNotConverged);
}

TYPED_TEST(SplineOptimisation, ViolatingSegmentsGrowByTheirExcessAndLendItToCalmNeighbours) {
  auto& planner = this->planner;
  planner.tolerance_ = 0.01;
  planner.max_iterations_ = 1;
  const auto once = [&](const std::vector<double>& durations) {
    std::vector<double> grown;
    this->logged([&] { grown = planner.optimizeTimeIntervals(durations); });
    return grown;
  };
  // One joint from rest to rest in 1.25 s at 1 rad/s: the peak velocity is kRestPeak / 1.25 (the
  // 21 checked points fall just short of it); the excess lies in [0.05, 0.5], a step of 0.3.
  planner.prepare({{0.0}, {1.0}}, uniform(2, spline_test::limits({1.0}, {100.0})));
  const double growth = once({1.25})[0] / 1.25 - 1.0;
  EXPECT_NEAR(growth, 0.3 * (TypeParam::kRestPeak / 1.25 - 1.0), 0.3 * 0.01);

  // The same excess in one of six joints adds one sixth to the increment.
  std::vector<double> end(6, 0.0);
  end[2] = 1.0;
  planner.prepare({std::vector<double>(6, 0.0), end},
                  uniform(2, spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 100.0))));
  EXPECT_NEAR(once({1.25})[0] / 1.25 - 1.0, growth / 6.0, 1e-12);

  // Only the middle segment has a frame to limit (a segment with one enabled end takes that
  // waypoint's frame, here none): its tool is too fast, and the calm outer segments take 40 % of
  // its increment.
  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  WaypointConstraints loose = spline_test::limits(std::vector<double>(6, 100.0), std::vector<double>(6, 1000.0));
  WaypointConstraints slow_tool = loose;
  slow_tool.cartesian.enabled = true;
  slow_tool.cartesian.max_linear_velocity = 0.1;
  std::vector<double> turned(6, 0.0);
  turned[0] = 1.0;
  planner.prepare({std::vector<double>(6, 0.0), std::vector<double>(6, 0.0), turned, turned},
                  {loose, slow_tool, slow_tool, loose});
  const std::vector<double> three = once({2.0, 1.0, 2.0});
  const double middle = three[1] - 1.0;
  EXPECT_GT(middle, 0.1);
  EXPECT_NEAR(three[0] / 2.0 - 1.0, 0.4 * middle, 1e-12);
  EXPECT_NEAR(three[2] / 2.0 - 1.0, 0.4 * middle, 1e-12);
}

TYPED_TEST(SplineOptimisation, DurationsStayWithinTheirBoundsAndOverlongSegmentsFail) {
  // Nine radians at 0.1 rad/s need 90 s, more than one segment may take.
  const Path path = {{0.0}, {9.0}};
  const auto limits = uniform(2, spline_test::limits({0.1}, {1.0}));
  EXPECT_EQ(this->planner.prepare(path, limits), std::vector<double>({10.0}));
  TrajectoryResult result;
  this->logged([&] { result = this->planner.generateTimeOptimalTrajectory(path, limits, 0.01, 200, false); });
  EXPECT_FALSE(result.success);
}

TYPED_TEST(SplineOptimisation, RandomPathsMeetTheJointLimitsAtEveryMillisecond) {
  std::uniform_real_distribution<double> vlim(0.5, 3.0), alim(1.0, 8.0);
  for (int trial = 0; trial < 8; ++trial) {
    const Path path = randomPath(100 + trial, 3 + trial);
    std::mt19937 rng(trial);
    std::vector<double> vmax(6), amax(6);
    for (int j = 0; j < 6; ++j) {
      vmax[j] = vlim(rng);
      amax[j] = alim(rng);
    }
    TrajectoryResult result;
    this->logged([&] {
      result = this->planner.generateTimeOptimalTrajectory(path, vmax, amax, 0.01, 1000, false, CartesianConstraints());
    });
    ASSERT_TRUE(result.success) << trial;
    ASSERT_EQ(result.trajectory.size(), path.size());
    EXPECT_EQ(result.trajectory.front().time, 0.0);
    for (std::size_t i = 0; i < path.size(); ++i) {
      const TrajectoryData& point = result.trajectory[i];
      EXPECT_EQ(point.positions, path[i]);
      ASSERT_EQ(point.velocities.size(), 6u);
      ASSERT_EQ(point.accelerations.size(), 6u);
      EXPECT_EQ(point.children.empty(), i > 0);
      if (i > 0) {
        const double duration = point.time - result.trajectory[i - 1].time;
        EXPECT_GE(duration, 0.001);
        EXPECT_LE(duration, 10.0);
      }
    }
    EXPECT_EQ(result.trajectory.front().velocities, std::vector<double>(6, 0.0));
    EXPECT_EQ(result.trajectory.back().velocities, std::vector<double>(6, 0.0));

    const auto& samples = result.trajectory.front().children;
    const double total = result.trajectory.back().time;
    ASSERT_EQ(samples.size(), static_cast<std::size_t>(std::floor(total * 1000.0)) + 1) << total;
    EXPECT_NEAR(samples.back().time, (samples.size() - 1) * 0.001, 1e-9);
    EXPECT_EQ(samples.front().positions, path.front());
    for (std::size_t k = 0; k < samples.size(); ++k) {
      ASSERT_EQ(samples[k].positions.size(), 6u);
      ASSERT_NEAR(samples[k].time, k * 0.001, 1e-9);
    }
    // Within half a millisecond of each knot the samples are at most half a millisecond of travel away.
    for (std::size_t i = 0; i < path.size(); ++i) {
      const std::size_t k =
          std::min(samples.size() - 1, static_cast<std::size_t>(std::lround(result.trajectory[i].time / 0.001)));
      const double offset = std::fabs(result.trajectory[i].time - samples[k].time);
      for (int j = 0; j < 6; ++j) {
        EXPECT_LE(std::fabs(samples[k].positions[j] - path[i][j]), 1.02 * vmax[j] * offset + 1e-12) << i << " " << j;
      }
      // The waypoint's velocity and acceleration are those of the samples around it.
      if (k == 0 || k + 1 == samples.size()) continue;
      const Differences d = differencesAt(samples, k);
      for (int j = 0; j < 6; ++j) {
        // The nearest sample lies up to half a millisecond off the knot.
        EXPECT_NEAR(d.v[j], result.trajectory[i].velocities[j], 1.01 * amax[j] * offset + 0.002 * vmax[j])
            << i << " " << j;
        EXPECT_NEAR(d.a[j], result.trajectory[i].accelerations[j], 0.01 * amax[j]) << i << " " << j;
      }
    }
    // Every sample keeps the limits within the tolerance of 1 % (differences add a little error).
    for (std::size_t k = 1; k + 1 < samples.size(); ++k) {
      const Differences d = differencesAt(samples, k);
      for (int j = 0; j < 6; ++j) {
        ASSERT_LE(std::fabs(d.v[j]), 1.012 * vmax[j]) << trial << " " << k << " " << j;
        ASSERT_LE(std::fabs(d.a[j]), 1.012 * amax[j]) << trial << " " << k << " " << j;
      }
    }
  }
}

TYPED_TEST(SplineOptimisation, SamplesRunEveryMillisecondUpToTheTotalTime) {
  auto& planner = this->planner;
  planner.prepare({{0.0, 1.0}, {1.0, -1.0}, {2.0, 0.5}}, uniform(3, spline_test::limits({1.0, 1.0}, {1.0, 1.0})));
  const auto count = [&](std::vector<double> durations) {
    return planner.generateTrajectory(durations, false).front().children;
  };
  // Repeated addition drifts past 1 s; the last instant is then evaluated at the end.
  auto samples = count({0.4, 0.6});
  ASSERT_EQ(samples.size(), 1001u);
  EXPECT_EQ(samples.back().time, 1.0);
  EXPECT_NEAR(samples.back().positions[0], 2.0, 1e-12);
  EXPECT_NEAR(samples.back().positions[1], 0.5, 1e-12);
  samples = count({1.5, 0.5});
  ASSERT_EQ(samples.size(), 2001u);
  EXPECT_NEAR(samples.back().time, 2.0, 1e-9);
  EXPECT_EQ(count({0.0015, 0.001}).size(), 3u);
}

TYPED_TEST(SplineOptimisation, ToolSpeedStaysWithinTheCartesianLimit) {
  ASSERT_TRUE(this->planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  const auto model = this->planner.model_;
  bramlock::dynamics::Data data(model);
  CartesianConstraints cartesian;
  cartesian.enabled = true;
  cartesian.max_linear_velocity = 0.5;
  cartesian.max_angular_velocity = 2.0;
  for (unsigned seed : {201u, 202u, 203u}) {
    const Path path = randomPath(seed, 5);
    TrajectoryResult result;
    this->logged([&] {
      result = this->planner.generateTimeOptimalTrajectory(path, std::vector<double>(6, 3.0),
                                                           std::vector<double>(6, 10.0), 0.01, 1000, false, cartesian);
    });
    ASSERT_TRUE(result.success) << seed;
    const auto& samples = result.trajectory.front().children;
    std::vector<Eigen::Isometry3d> tool;
    for (const TrajectoryData& sample : samples) {
      bramlock::dynamics::forwardKinematics(*model, data, asVector(sample.positions));
      tool.push_back(bramlock::dynamics::framePlacement(*model, data, 15));
    }
    double linear = 0.0, angular = 0.0;
    for (std::size_t k = 1; k < tool.size(); ++k) {
      linear = std::max(linear, (tool[k].translation() - tool[k - 1].translation()).norm() / 0.001);
      angular = std::max(
          angular, bramlock::dynamics::rotationAngle(tool[k - 1].linear().transpose() * tool[k].linear()) / 0.001);
    }
    // Every sample keeps the limit within the tolerance of 1 % (differences add a little error).
    EXPECT_LE(linear, 0.5 * 1.012) << seed;
    EXPECT_GT(linear, 0.5 * 0.9) << seed;
    EXPECT_LE(angular, 2.0 * 1.012) << seed;
  }
}

TYPED_TEST(SplineOptimisation, InverseDynamicsOfTheSamplesStaysWithinTheTorqueLimits) {
  ASSERT_TRUE(this->planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  this->logged([&] { this->planner.enableTorqueConstraints(true); });
  const auto model = this->planner.model_;
  bramlock::dynamics::Data data(model);
  WaypointConstraints limits = spline_test::limits(std::vector<double>(6, 3.0), std::vector<double>(6, 10.0));
  limits.torque_max = {120, 90, 60, 20, 20, 10};
  for (unsigned seed : {301u, 302u}) {
    const Path path = randomPath(seed, 4);
    TrajectoryResult result;
    this->logged([&] {
      result = this->planner.generateTimeOptimalTrajectory(path, uniform(path.size(), limits), 0.01, 1000, false);
    });
    ASSERT_TRUE(result.success) << seed;
    const auto& samples = result.trajectory.front().children;
    Eigen::VectorXd worst = Eigen::VectorXd::Zero(6);
    for (std::size_t k = 1; k + 1 < samples.size(); ++k) {
      const Differences d = differencesAt(samples, k);
      worst = worst.cwiseMax(bramlock::dynamics::rnea(*model, data, d.q, d.v, d.a).cwiseAbs());
    }
    // Every sample keeps the limits within the tolerance of 1 % (differences add a little error).
    for (int j = 0; j < 6; ++j) EXPECT_LE(worst[j], 1.012 * limits.torque_max[j]) << seed << " " << j;
    EXPECT_GT(worst[1], 0.9 * limits.torque_max[1]) << seed;
  }
}

// A locale that writes decimal commas, as some hosts' locales do.
struct DecimalComma : std::numpunct<char> {
  char do_decimal_point() const override { return ','; }
};

// Restores the process-wide C++ locale.
class ScopedGlobalLocale {
 public:
  explicit ScopedGlobalLocale(const std::locale& locale) : previous_(std::locale::global(locale)) {}
  ~ScopedGlobalLocale() { std::locale::global(previous_); }
  ScopedGlobalLocale(const ScopedGlobalLocale&) = delete;
  ScopedGlobalLocale& operator=(const ScopedGlobalLocale&) = delete;

 private:
  std::locale previous_;
};

TYPED_TEST(SplineOptimisation, CsvOfASmallCaseHoldsEveryMillisecondWithItsDerivatives) {
  auto& planner = this->planner;
  planner.prepare({{0.0}, {1.0}}, uniform(2, spline_test::limits({1.0}, {1.0})));
  bramlock_test::TempDir directory;
  std::string path;
  {
    const ScopedGlobalLocale commas(std::locale(std::locale::classic(), new DecimalComma));
    path = planner.writeTrajectoryCsv(directory.path().string(), {0.0025});
  }
  ASSERT_FALSE(path.empty());
  EXPECT_EQ(readFile(path), TypeParam::kSmallCsv);
  const std::string name = std::filesystem::path(path).filename().string();
  ASSERT_TRUE(startsWith(name, TypeParam::kCsvPrefix)) << name;
  const std::string stamp = name.substr(std::string(TypeParam::kCsvPrefix).size());
  ASSERT_EQ(stamp.size(), std::string("20261207_101500.csv").size()) << name;
  EXPECT_EQ(stamp[8], '_');
  EXPECT_EQ(stamp.substr(15), ".csv");
}

TYPED_TEST(SplineOptimisation, CsvFilesOfTheSameSecondAreNumbered) {
  auto& planner = this->planner;
  planner.prepare({{0.0}, {1.0}}, uniform(2, spline_test::limits({1.0}, {1.0})));
  bramlock_test::TempDir directory;
  for (int attempt = 0; attempt < 3; ++attempt) {
    const std::string first = planner.writeTrajectoryCsv(directory.path().string(), {0.0025});
    const std::string second = planner.writeTrajectoryCsv(directory.path().string(), {0.002});
    const std::string third = planner.writeTrajectoryCsv(directory.path().string(), {0.001});
    const std::string base = first.substr(0, first.size() - 4);
    if (second.rfind(base, 0) != 0 || third.rfind(base, 0) != 0) {
      continue;  // the clock passed a second between the files
    }
    EXPECT_EQ(second, base + "_1.csv");
    EXPECT_EQ(third, base + "_2.csv");
    EXPECT_EQ(readFile(first), TypeParam::kSmallCsv);
    return;
  }
  FAIL() << "three files never fell into one second";
}

TYPED_TEST(SplineOptimisation, UnwritableCsvIsLoggedAndPlanningStillSucceeds) {
  auto& planner = this->planner;
  planner.prepare({{0.0}, {1.0}}, uniform(2, spline_test::limits({1.0}, {1.0})));
  bramlock_test::TempDir directory;
  const std::string missing = (directory.path() / "missing").string();
  std::string path = "unset";
  auto lines = this->logged([&] { path = planner.writeTrajectoryCsv(missing, {0.003}); });
  EXPECT_EQ(path, "");
  ASSERT_EQ(lines.size(), 1u);
  const std::string expected_start = std::string(TypeParam::kCsvFailedStart) + missing + "/" + TypeParam::kCsvPrefix;
  EXPECT_TRUE(startsWith(lines[0], expected_start)) << lines[0];
  EXPECT_NE(lines[0].find(".csv: No such file or directory"), std::string::npos) << lines[0];
  EXPECT_TRUE(std::filesystem::is_empty(directory.path()));

  if (std::filesystem::exists("/home/bramlock/trajectory")) {
    return;  // a host that has the trajectory directory would get a file
  }
  TrajectoryResult result;
  lines = this->logged([&] {
    result =
        planner.generateTimeOptimalTrajectory({{0.0}, {1.0}}, {1.0}, {1.0}, 0.01, 1000, true, CartesianConstraints());
  });
  EXPECT_TRUE(result.success);
  ASSERT_FALSE(lines.empty());
  EXPECT_TRUE(startsWith(
      lines.back(), std::string(TypeParam::kCsvFailedStart) + "/home/bramlock/trajectory/" + TypeParam::kCsvPrefix))
      << lines.back();
}

TYPED_TEST(SplineOptimisation, CsvTorqueColumnsHoldTheInverseDynamicsOfEachRow) {
  auto& planner = this->planner;
  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  this->logged([&] { planner.enableTorqueConstraints(true); });
  const Path path = randomPath(401, 3);
  planner.prepare(path, uniform(3, spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0))));
  bramlock_test::TempDir directory;
  const std::string file = planner.writeTrajectoryCsv(directory.path().string(), {0.2, 0.3});
  std::istringstream text(readFile(file));
  std::string header;
  std::getline(text, header);
  const int per_joint = TypeParam::kJerk ? 4 : 3;
  std::string expected_header = "time";
  for (int j = 0; j < 6; ++j) {
    expected_header += ",j" + std::to_string(j) + "_pos,j" + std::to_string(j) + "_vel,j" + std::to_string(j) + "_acc";
    if (TypeParam::kJerk) expected_header += ",j" + std::to_string(j) + "_jerk";
  }
  for (int j = 0; j < 6; ++j) expected_header += ",j" + std::to_string(j) + "_torque";
  EXPECT_EQ(header, expected_header);
  bramlock::dynamics::Data data(planner.model_);
  int rows = 0;
  for (std::string row; std::getline(text, row); ++rows) {
    std::vector<double> values;
    std::istringstream cells(row);
    for (std::string cell; std::getline(cells, cell, ',');) values.push_back(std::stod(cell));
    ASSERT_EQ(values.size(), 1u + 6u * per_joint + 6u);
    EXPECT_NEAR(values[0], rows * 0.001, 1e-9);
    Eigen::VectorXd q(6), v(6), a(6);
    for (int j = 0; j < 6; ++j) {
      q[j] = values[1 + j * per_joint];
      v[j] = values[2 + j * per_joint];
      a[j] = values[3 + j * per_joint];
    }
    const Eigen::VectorXd tau = bramlock::dynamics::rnea(*planner.model_, data, q, v, a);
    for (int j = 0; j < 6; ++j) {
      // The file holds six significant digits of each input.
      ASSERT_NEAR(values[1 + 6 * per_joint + j], tau[j], 1e-3 * (1.0 + std::fabs(tau[j]))) << rows << " " << j;
    }
  }
  EXPECT_EQ(rows, 501);
}

TYPED_TEST(SplineOptimisation, AModelOfAnotherJointCountIsIgnoredForTheCall) {
  auto& planner = this->planner;
  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  this->logged([&] { planner.enableTorqueConstraints(true); });
  WaypointConstraints two = spline_test::limits({1.0, 1.0}, {1.0, 1.0}, {5.0, 5.0});
  two.cartesian.enabled = true;
  two.cartesian.max_linear_velocity = 1e-6;
  TrajectoryResult result;
  const auto lines = this->logged([&] {
    result = planner.generateTimeOptimalTrajectory({{0.0, 0.0}, {1.0, -1.0}}, uniform(2, two), 0.01, 1000, false);
  });
  ASSERT_TRUE(result.success);
  ASSERT_GE(lines.size(), 2u);
  EXPECT_EQ(lines[0], TypeParam::kModelMismatch);
  EXPECT_EQ(std::count(lines.begin(), lines.end(), std::string(TypeParam::kModelMismatch)), 1);
  // Timed by the joint limits alone.
  EXPECT_LT(result.trajectory.back().time, 5.0);
  bramlock_test::TempDir directory;
  const std::string file = planner.writeTrajectoryCsv(directory.path().string(), {1.0});
  EXPECT_EQ(readFile(file).substr(0, readFile(file).find('\n')),
            TypeParam::kJerk ? "time,j0_pos,j0_vel,j0_acc,j0_jerk,j1_pos,j1_vel,j1_acc,j1_jerk"
                             : "time,j0_pos,j0_vel,j0_acc,j1_pos,j1_vel,j1_acc");
}

TYPED_TEST(SplineOptimisation, BadNumbersFailOrGiveFiniteTrajectories) {
  auto& planner = this->planner;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const auto plan = [&](const Path& path, const std::vector<double>& vmax, const std::vector<double>& amax,
                        double tolerance, const CartesianConstraints& cartesian) {
    TrajectoryResult result;
    this->logged(
        [&] { result = planner.generateTimeOptimalTrajectory(path, vmax, amax, tolerance, 200, false, cartesian); });
    return result;
  };
  const std::vector<double> one = {1.0, 1.0};
  const CartesianConstraints off;
  for (const Path& path : {Path{{0.0, nan}, {1.0, 1.0}}, Path{{0.0, 0.0}, {inf, 1.0}}, Path{{0.0, 0.0}, {1.0}}}) {
    std::vector<std::string> lines;
    lines = this->logged(
        [&] { EXPECT_FALSE(planner.generateTimeOptimalTrajectory(path, one, one, 0.01, 200, false, off).success); });
    EXPECT_EQ(lines.back(), TypeParam::kInitFailed);
  }
  EXPECT_FALSE(plan({{0.0, 0.0}, {1e300, -1e300}}, one, one, 0.01, off).success);
  EXPECT_FALSE(plan({{0.0, 0.0}, {1.0, 1.0}}, one, one, nan, off).success);
  EXPECT_FALSE(plan({{0.0, 0.0}, {1.0, 1.0}}, {1.0, nan}, one, 0.01, off).success);
  EXPECT_FALSE(plan({{0.0, 0.0}, {1.0, 1.0}}, one, {1.0}, 0.01, off).success);

  ASSERT_TRUE(planner.setRobotModel(spline_test::armUrdfPath(), "end_effector"));
  CartesianConstraints unknown_speed;
  unknown_speed.enabled = true;
  unknown_speed.max_linear_velocity = nan;
  const Path six = randomPath(501, 3);
  EXPECT_FALSE(plan(six, std::vector<double>(6, 1.0), std::vector<double>(6, 1.0), 0.01, unknown_speed).success);

  // A waypoint's own frame index that the model lacks limits nothing.
  WaypointConstraints beyond = spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0));
  beyond.cartesian.enabled = true;
  beyond.cartesian.frame_id = 999;
  const WaypointConstraints plain = spline_test::limits(std::vector<double>(6, 1.0), std::vector<double>(6, 1.0));
  TrajectoryResult framed;
  this->logged([&] { framed = planner.generateTimeOptimalTrajectory(six, {beyond, plain, plain}, 0.01, 1000, false); });
  EXPECT_TRUE(framed.success);

  // Unlimited joints take the shortest segments; the samples stay finite.
  const TrajectoryResult unlimited = plan({{0.0, 0.0}, {1.0, -1.0}, {2.0, 3.0}}, {inf, 1e300}, {inf, inf}, 0.01, off);
  ASSERT_TRUE(unlimited.success);
  EXPECT_DOUBLE_EQ(unlimited.trajectory.back().time, 0.002);
  for (const TrajectoryData& sample : unlimited.trajectory.front().children) {
    for (double q : sample.positions) EXPECT_TRUE(std::isfinite(q));
  }
}

}  // namespace
