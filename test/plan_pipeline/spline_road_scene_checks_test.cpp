// The spline road hands back a trajectory only when every millisecond sample passes the scene's
// checks: its curves leave the straight segments the path planner checked, and where a sample
// fails, waypoints are added on those segments and the path is timed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/planner/trajectory_generator.h"
#include "scene_arm.h"
#include "seeded_worlds.h"
#include "spline_test_helpers.h"

namespace {

using seeded_worlds::Path;

constexpr char kMended[] = "个路径点后重新规划";
const char* const kPlanners[] = {"cubic_spline", "quintic_spline"};

// Index of the first sample the scene's isValid rejects, tested one by one; -1 when none does.
long firstRejectedSample(ManipulatorPlanScene& scene, const std::vector<TrajectoryData>& out) {
  const std::vector<TrajectoryData>& samples = out.front().children;
  for (std::size_t k = 0; k < samples.size(); ++k) {
    std::vector<double> q = samples[k].positions;
    if (!scene.isValid(q.data())) return static_cast<long>(k);
  }
  return -1;
}

// Both spline generators of the scene arm's own limits, borrowing the scene.
class SplineRoads {
 public:
  explicit SplineRoads(ManipulatorPlanScene& scene) {
    bramlock_test::OutputCapture quiet;
    std::vector<std::pair<double, double>> bounds;
    scene.getPlanSpaceBounds(bounds);  // the limits are only given once the bounds were asked for
    scene.getVmaxAndAmax(vmax_, amax_);
    for (const char* type : kPlanners) {
      generators_.push_back(std::make_unique<TrajectoryGenerator>(&scene));
      generators_.back()->setMdhParams(scene.getArmMdhParams());
      generators_.back()->setTrajectoryType(type);
    }
  }

  // The result code; out holds the trajectory, log the library's output.
  int time(std::size_t planner, const Path& path, std::vector<TrajectoryData>& out, std::string& log) {
    bramlock_test::OutputCapture capture;
    const int code = generators_[planner]->generateTrajectoryData(path, vmax_.data(), amax_.data(), out, false,
                                                                  CartesianConstraints());
    log = capture.out();
    return code;
  }

 private:
  bramlock_test::ScopedEnvironment environment_{{{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}}};
  std::vector<double> vmax_, amax_;
  std::vector<std::unique_ptr<TrajectoryGenerator>> generators_;
};

// The first state along the straight segments of the path, at most 1 mrad apart per joint (finer
// than the samples), that the scene's isValid rejects: "" when none does.
std::string straightPathRejection(ManipulatorPlanScene& scene, const Path& path) {
  constexpr double kStep = 0.001;
  for (std::size_t s = 1; s < path.size(); ++s) {
    double widest = 0.0;
    for (std::size_t j = 0; j < path[s].size(); ++j) widest = std::max(widest, std::abs(path[s][j] - path[s - 1][j]));
    const int states = std::max(1, static_cast<int>(std::ceil(widest / kStep)));
    for (int k = 0; k <= states; ++k) {
      std::vector<double> q(path[s].size());
      for (std::size_t j = 0; j < q.size(); ++j) q[j] = path[s - 1][j] + (path[s][j] - path[s - 1][j]) * k / states;
      if (!scene.isValid(q.data()))
        return "segment " + std::to_string(s - 1) + " at " + std::to_string(k) + "/" + std::to_string(states);
    }
  }
  return "";
}

struct SweepCounts {
  int paths = 0;
  int timed[2] = {0, 0};
  int mended[2] = {0, 0};
  int failed[2] = {0, 0};
  // Failures on paths whose straight segments the scene rejects between the states its motion
  // check tests: no waypoint on them keeps the samples free.
  int failed_on_rejected_straight[2] = {0, 0};
  // Successes with a sample that isValid rejects tested alone: the road tests samples at the
  // scene's motion-check step, so a padded sample between two tested ones may touch (the dense
  // re-check sweep holds the unpadded arm to the stated depth).
  int with_rejected_sample[2] = {0, 0};
};

// Times one planned path with both planners.
void timePlannedPath(ManipulatorPlanScene& scene, SplineRoads& roads, const Path& path, const std::string& key,
                     SweepCounts& counts) {
  ++counts.paths;
  for (std::size_t planner = 0; planner < 2; ++planner) {
    std::vector<TrajectoryData> out;
    std::string log;
    if (roads.time(planner, path, out, log) != 0) {
      ++counts.failed[planner];
      EXPECT_TRUE(out.empty()) << key;
      const std::string rejection = straightPathRejection(scene, path);
      counts.failed_on_rejected_straight[planner] += !rejection.empty();
      std::printf("[ failed   ] %s %s (straight path rejected: %s): %s", kPlanners[planner], key.c_str(),
                  rejection.empty() ? "no" : rejection.c_str(),
                  log.substr(log.rfind("generateTrajectoryData")).c_str());
      continue;
    }
    ++counts.timed[planner];
    counts.mended[planner] += log.find(kMended) != std::string::npos;
    ASSERT_EQ(out.size(), path.size()) << key;
    counts.with_rejected_sample[planner] += firstRejectedSample(scene, out) >= 0;
  }
}

// Every sample inside the scene arm's joint bounds: the road's earlier check passed it.
bool samplesInside(const std::vector<TrajectoryData>& trajectory) {
  const std::vector<std::pair<double, double>> bounds = bramlock_test::sceneArmBounds();
  for (const TrajectoryData& sample : trajectory.front().children) {
    for (std::size_t j = 0; j < bounds.size(); ++j) {
      if (!(sample.positions[j] >= bounds[j].first && sample.positions[j] <= bounds[j].second)) return false;
    }
  }
  return true;
}

// A cube of 2 x 2 x 2 voxels (4 cm) around the point.
std::vector<octomap::point3d> blockAround(float x, float y, float z) {
  std::vector<octomap::point3d> voxels;
  for (const float dx : {-0.01f, 0.01f}) {
    for (const float dy : {-0.01f, 0.01f}) {
      for (const float dz : {-0.01f, 0.01f}) voxels.emplace_back(x + dx, y + dy, z + dz);
    }
  }
  return voxels;
}

}  // namespace

// Three waypoints turning at the second (reached after 0.79 s cubic, 0.71 s quintic); a 4 cm block
// lies where both splines swing the tool off the straight path just after the turn (centred on a
// voxel corner, so that its eight voxels are the ones meant).
TEST(SplineRoadSceneChecks, SplinesClippingABlockNearATurnAreMendedOrFail) {
  std::unique_ptr<ManipulatorPlanScene> scene = bramlock_test::makeSceneArm();
  bramlock_test::setOctree(*scene, blockAround(-0.50f, -0.16f, 0.30f));
  const Path path = {
      {-1.15, 0.6, 1.15, -1.15, -0.6, 0.7}, {0, 0.95, 0.9, 0.45, 0.75, 0.2}, {0.4, -0.9, -1.75, -0.45, -0.3, 0.35}};
  for (std::size_t s = 1; s < path.size(); ++s) {
    std::vector<double> from = path[s - 1], to = path[s];
    ASSERT_TRUE(bramlock_test::quietly([&] { return scene->checkMotion(from.data(), to.data()); })) << s;
  }
  ASSERT_EQ(straightPathRejection(*scene, path), "");
  SplineRoads roads(*scene);
  std::vector<double> vmax, amax;
  scene->getVmaxAndAmax(vmax, amax);
  for (std::size_t planner = 0; planner < 2; ++planner) {
    // What the road returned with 0 before: a trajectory with a sample in the block near the turn.
    const std::vector<TrajectoryData> before = spline_test::plannerTrajectory(kPlanners[planner], path, vmax, amax);
    ASSERT_EQ(before.size(), path.size());
    EXPECT_TRUE(samplesInside(before)) << kPlanners[planner];
    const long rejected = firstRejectedSample(*scene, before);
    ASSERT_GE(rejected, 0) << kPlanners[planner];
    EXPECT_NEAR(before.front().children[rejected].time, before[1].time, 0.15) << kPlanners[planner];

    std::vector<TrajectoryData> out;
    std::string log;
    const int code = roads.time(planner, path, out, log);
    EXPECT_NE(log.find(kMended), std::string::npos) << log;
    if (code != 0) {
      EXPECT_EQ(code, -1);
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(out.size(), path.size()) << kPlanners[planner];
    for (std::size_t i = 0; i < path.size(); ++i) EXPECT_EQ(out[i].positions, path[i]);
    EXPECT_EQ(firstRejectedSample(*scene, out), -1) << kPlanners[planner];
    std::printf("[ mended   ] %s: %.3f s instead of %.3f s\n", kPlanners[planner], out.back().time, before.back().time);
  }
}

// Seeded worlds of both kinds (walls with a window, random blocks), paths from runPlanPipeline.
TEST(SplineRoadSceneChecks, SlowPlannedPathsInSeededWorldsAreTimed) {
  constexpr int kWorlds = 30;
  constexpr int kPlansPerWorld = 15;
  SweepCounts counts;
  const auto started = std::chrono::steady_clock::now();
  for (std::uint64_t seed = 101; seed < 101 + kWorlds; ++seed) {
    const auto kind = seed % 2 == 1 ? seeded_worlds::WorldKind::kBlocks : seeded_worlds::WorldKind::kWallWithWindow;
    const seeded_worlds::World world = seeded_worlds::makeWorld(kind, seed, bramlock_test::kSceneArmRobotPadding);
    std::unique_ptr<ManipulatorPlanScene> scene = seeded_worlds::sceneIn(world);
    SplineRoads roads(*scene);
    const auto requests = seeded_worlds::planRequests(*scene, seed, kPlansPerWorld);
    for (int i = 0; i < kPlansPerWorld; ++i) {
      const seeded_worlds::PlanAnswer answer = seeded_worlds::planWithFixedDraws(*scene, requests[i], seed * 1000 + i);
      if (answer.code != 0) continue;
      const std::string key = seeded_worlds::kindName(kind) + " " + std::to_string(seed) + " plan " + std::to_string(i);
      timePlannedPath(*scene, roads, answer.path, key, counts);
    }
  }
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  for (std::size_t planner = 0; planner < 2; ++planner) {
    const int others = counts.failed[planner] - counts.failed_on_rejected_straight[planner];
    std::printf(
        "[ counts   ] %s: %d paths, %d timed (%.1f %%; %d of them mended), %d failed (%d on a straight path the "
        "scene rejects between its motion check's states), %d with a sample isValid rejects alone; %.1f s in "
        "all\n",
        kPlanners[planner], counts.paths, counts.timed[planner], 100.0 * counts.timed[planner] / counts.paths,
        counts.mended[planner], counts.failed[planner], counts.failed_on_rejected_straight[planner],
        counts.with_rejected_sample[planner], seconds);
    EXPECT_GT(counts.mended[planner], 0) << kPlanners[planner];
    EXPECT_GE(counts.timed[planner], 0.98 * counts.paths) << kPlanners[planner];
    EXPECT_LE(others, 0.02 * counts.paths) << kPlanners[planner];
  }
}
