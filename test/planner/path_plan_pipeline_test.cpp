#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <type_traits>
#include <vector>

#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "expect_throw_message.h"
#include "limited_box_scene.h"
#include "planner_test_helpers.h"

using fake_scene::Box;
using fake_scene::LimitedBoxScene;
using planner_test::kInf;
using planner_test::kNaN;
using planner_test::Path;

namespace {

std::string planErrorLine(int code) {
  return "[path_plan_and_post_processing]path plan error!,error ocde=" + std::to_string(code) + "\n";
}

struct PipelineRun {
  int code;
  std::vector<TrajectoryData> points;
  std::string out;
};

// One pipeline run; out starts with a stale record that every run must clear.
PipelineRun runOnce(PathPlanAndPostProcessing& pipeline, const std::vector<double>& start,
                    const std::vector<double>& goal, bool report_segments = false) {
  PipelineRun run;
  run.points.resize(1);
  bramlock_test::OutputCapture capture;
  run.code = report_segments ? pipeline.runPlanPipeline(start, goal, run.points, PaddingType::kGripper, false)
                             : pipeline.runPlanPipeline(start, goal, run.points, false);
  run.out = capture.out();
  return run;
}

Path positionsOf(const std::vector<TrajectoryData>& points) {
  Path path;
  for (const TrajectoryData& point : points) path.push_back(point.positions);
  return path;
}

}  // namespace

TEST(PlanPipeline, PlannerCodesPassThroughWithoutAskingForLimits) {
  // Two joints; an obstacle around (1, 1).
  struct Case {
    std::vector<double> start;
    std::vector<double> goal;
    int code;
  };
  const std::vector<Case> cases = {
      {{0.0, 0.0, 0.0}, {0.5, 0.5}, -1},
      {{1.0, 1.0}, {0.5, 0.5}, -1},
      {{0.5, 0.5}, {1.0, 1.0}, -2},
      {{4.0, 0.0}, {0.5, 0.5}, -3},
      {{0.5, 0.5}, {0.0, -4.0}, -4},
      // Values that are not finite lie in no bounds.
      {{kNaN, 0.0}, {0.5, 0.5}, -3},
      {{0.0, -kInf}, {0.5, 0.5}, -3},
      {{0.0, 0.0}, {kInf, 0.5}, -4},
      {{0.0, 0.0}, {0.0, kNaN}, -4},
      {{1e300, 0.0}, {0.5, 0.5}, -3},
      {{}, {}, -1},
  };
  for (const Case& each : cases) {
    auto* scene =
        new LimitedBoxScene(fake_scene::symmetricBounds(2), {Box{{0.9, 0.9}, {1.1, 1.1}}}, {1.0, 1.0}, {1.0, 1.0});
    PathPlanAndPostProcessing pipeline(scene);
    const PipelineRun run = runOnce(pipeline, each.start, each.goal);
    EXPECT_EQ(run.code, each.code) << run.out;
    EXPECT_NE(run.out.find(planErrorLine(each.code)), std::string::npos) << run.out;
    EXPECT_TRUE(run.points.empty());
    EXPECT_EQ(scene->limit_requests, 0);
  }
}

TEST(PlanPipeline, MissingOrTooFewLimitsGiveMinusSix) {
  for (const int reply : {0, -1, 1}) {
    auto* scene = fake_scene::newLimitedScene(2, {}, 1.0, 1.0);
    scene->answerLimitsWith(reply);
    PathPlanAndPostProcessing pipeline(scene);
    const PipelineRun run = runOnce(pipeline, {0.0, 0.0}, {1.0, 1.0});
    EXPECT_EQ(run.code, -6) << "reply " << reply;
    EXPECT_NE(run.out.find("getVmaxAndAmax error!\n"), std::string::npos);
    EXPECT_TRUE(run.points.empty());
    EXPECT_EQ(scene->limit_requests, 1);
  }
  // A count beyond the lists the scene filled.
  auto* scene = fake_scene::newLimitedScene(2, {}, 1.0, 1.0);
  scene->answerLimitsWith(3);
  PathPlanAndPostProcessing pipeline(scene);
  EXPECT_EQ(runOnce(pipeline, {0.0, 0.0}, {1.0, 1.0}).code, -6);
}

TEST(PlanPipeline, UnusableLimitsFailTheTiming) {
  for (const double bad : {0.0, -1.0, kNaN, kInf}) {
    PathPlanAndPostProcessing pipeline(fake_scene::newLimitedScene(2, {}, bad, 1.0));
    const PipelineRun run = runOnce(pipeline, {0.0, 0.0}, {1.0, 1.0});
    EXPECT_EQ(run.code, -7) << bad;
    EXPECT_TRUE(run.points.empty());
  }
}

TEST(PlanPipeline, DirectMotionGivesTwoRecords) {
  PathPlanAndPostProcessing pipeline(fake_scene::newLimitedScene(3, {}, 2.0, 5.0));
  const PipelineRun run = runOnce(pipeline, {0.0, 0.0, 0.0}, {1.0, -1.0, 0.5});
  ASSERT_EQ(run.code, 0) << run.out;
  ASSERT_EQ(run.points.size(), 2u);
  EXPECT_EQ(positionsOf(run.points), (Path{{0.0, 0.0, 0.0}, {1.0, -1.0, 0.5}}));
  EXPECT_EQ(run.points[0].time, 0.0);
  EXPECT_GT(run.points[1].time, 0.5);
  EXPECT_EQ(run.out.find("check_motion_flag"), std::string::npos);
}

TEST(PlanPipeline, PathThroughAWallIsTimedAtEveryWaypoint) {
  const int dof = 6;
  for (int trial = 0; trial < 3; ++trial) {
    auto* scene = fake_scene::newLimitedScene(dof, fake_scene::wallWithGap(dof), 1.5, 4.0);
    PathPlanAndPostProcessing pipeline(scene);
    const PipelineRun run = runOnce(pipeline, fake_scene::leftOfWall(dof), fake_scene::rightOfWall(dof));
    ASSERT_EQ(run.code, 0) << planner_test::lastLines(run.out, 5);
    ASSERT_GE(run.points.size(), 3u);
    const Path path = positionsOf(run.points);
    EXPECT_EQ(path.front(), fake_scene::leftOfWall(dof));
    EXPECT_EQ(path.back(), fake_scene::rightOfWall(dof));
    EXPECT_TRUE(planner_test::everySegmentFree(*scene, path));
    for (std::size_t i = 1; i < run.points.size(); ++i) EXPECT_GT(run.points[i].time, run.points[i - 1].time);
    EXPECT_EQ(run.points.front().velocities, std::vector<double>(dof, 0.0));
    EXPECT_EQ(run.points.back().velocities, std::vector<double>(dof, 0.0));
  }
}

TEST(PlanPipeline, SegmentReportFormPrintsOneFlagPerSegmentAndAnswersAlike) {
  PathPlanAndPostProcessing direct(fake_scene::newLimitedScene(2, {}, 1.0, 1.0));
  const PipelineRun two_points = runOnce(direct, {0.0, 0.0}, {1.0, 1.0}, true);
  EXPECT_EQ(two_points.code, 0);
  EXPECT_EQ(planner_test::occurrences(two_points.out, "check_motion_flag:"), 1u);
  EXPECT_NE(two_points.out.find("check_motion_flag:1\n"), std::string::npos);

  PathPlanAndPostProcessing walled(fake_scene::newLimitedScene(2, fake_scene::wallWithGap(2), 1.0, 1.0));
  const PipelineRun around = runOnce(walled, fake_scene::leftOfWall(2), fake_scene::rightOfWall(2), true);
  ASSERT_EQ(around.code, 0);
  EXPECT_EQ(planner_test::occurrences(around.out, "check_motion_flag:"), around.points.size() - 1);

  EXPECT_EQ(runOnce(walled, {4.0, 0.0}, {-2.0, 0.0}, true).code, -3);
}

TEST(PlanPipeline, OwnsTheSceneAndDestroysItOnce) {
  int destroyed = 0;
  {
    PathPlanAndPostProcessing pipeline(fake_scene::newLimitedScene(2, {}, 1.0, 1.0, &destroyed));
    EXPECT_EQ(runOnce(pipeline, {0.0, 0.0}, {1.0, 1.0}).code, 0);
    EXPECT_EQ(runOnce(pipeline, {1.0, 1.0}, {0.0, 0.5}).code, 0);
    EXPECT_EQ(destroyed, 0);
  }
  EXPECT_EQ(destroyed, 1);
  { PathPlanAndPostProcessing unused(fake_scene::newLimitedScene(2, {}, 1.0, 1.0, &destroyed)); }
  EXPECT_EQ(destroyed, 2);
  EXPECT_THROW_MESSAGE(PathPlanAndPostProcessing(nullptr), std::invalid_argument,
                       "^PathPlanAndPostProcessing needs a scene$");
  static_assert(!std::is_copy_constructible_v<PathPlanAndPostProcessing>);
  static_assert(!std::is_move_constructible_v<PathPlanAndPostProcessing>);
  static_assert(!std::is_copy_assignable_v<PathPlanAndPostProcessing>);
  static_assert(!std::is_move_assignable_v<PathPlanAndPostProcessing>);
}

TEST(PlanPipeline, SimulationOnlyLogs) {
  PathPlanAndPostProcessing pipeline(fake_scene::newLimitedScene(2, {}, 1.0, 1.0));
  std::vector<TrajectoryData> out(2);
  out[1].time = 3.0;
  bramlock_test::OutputCapture capture;
  EXPECT_EQ(pipeline.runPlanPipelineSimulation({kNaN}, {}, out), 0);
  EXPECT_NE(capture.out().find("[INFO] runPlanPipelineSimulation!!!"), std::string::npos);
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out[1].time, 3.0);
}
