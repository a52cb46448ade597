#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/planner/path_plan_and_post_processing.h"
#include "scene_arm.h"

namespace {

// The arm reaching forward at shoulder height, turned to either side of the front.
std::vector<double> reachingForward(double turn) { return {turn, -0.8, -0.6, 0.0, 0.0, 0.0}; }

// A wall in front of the arm (0.25 m to 0.75 m ahead, up to 0.7 m high) that
// the arm reaching forward cannot swing through.
std::shared_ptr<const octomap::OcTree> wallAhead() {
  constexpr double kResolution = 0.02;
  auto tree = std::make_shared<octomap::OcTree>(kResolution);
  for (double x = 0.25; x <= 0.75; x += kResolution) {
    for (double z = 0.01; z <= 0.7; z += kResolution) {
      for (const double y : {-0.01, 0.01}) tree->updateNode(octomap::point3d(x, y, z), true);
    }
  }
  return tree;
}

struct PipelineOnSceneArm : ::testing::Test {
  // The pipeline owns the scene; scene_ is only looked at while it lives.
  PipelineOnSceneArm() : scene_(bramlock_test::makeSceneArm().release()), pipeline_(scene_) {}

  int plan(std::vector<TrajectoryData>& out) {
    bramlock_test::OutputCapture capture;
    const int code = pipeline_.runPlanPipeline(start_, goal_, out, false);
    output_ = capture.out();
    return code;
  }

  std::string tail() const { return output_.substr(output_.size() > 600 ? output_.size() - 600 : 0); }

  ManipulatorPlanScene* scene_;
  PathPlanAndPostProcessing pipeline_;
  std::vector<double> start_ = reachingForward(-1.2);
  std::vector<double> goal_ = reachingForward(1.2);
  std::string output_;
};

}  // namespace

TEST_F(PipelineOnSceneArm, WallBetweenStartAndGoalIsPassedOnAFreeTimedPath) {
  ASSERT_EQ(scene_->updateWorldOctomap(wallAhead()), 0);
  ASSERT_FALSE(scene_->checkMotion(start_.data(), goal_.data())) << "the wall must stand in the way";
  std::vector<TrajectoryData> out;
  ASSERT_EQ(plan(out), 0) << tail();
  ASSERT_GE(out.size(), 3u);
  EXPECT_EQ(out.front().positions, start_);
  EXPECT_EQ(out.back().positions, goal_);
  // The path passes the scene's own checks as returned.
  for (std::size_t i = 0; i < out.size(); ++i) {
    std::vector<double> here = out[i].positions;
    EXPECT_TRUE(scene_->isValid(here.data())) << "waypoint " << i;
    if (i == 0) continue;
    std::vector<double> before = out[i - 1].positions;
    EXPECT_TRUE(scene_->checkMotion(before.data(), here.data())) << "segment " << i - 1;
    EXPECT_GT(out[i].time, out[i - 1].time);
  }
  EXPECT_EQ(out.front().velocities, std::vector<double>(6, 0.0));
  EXPECT_EQ(out.back().velocities, std::vector<double>(6, 0.0));
}

TEST_F(PipelineOnSceneArm, FreeSwingGivesTwoRecords) {
  std::vector<TrajectoryData> out;
  ASSERT_EQ(plan(out), 0) << tail();
  ASSERT_EQ(out.size(), 2u);
  EXPECT_EQ(out.front().positions, start_);
  EXPECT_EQ(out.back().positions, goal_);
  // The slowest joint turns 2.4 rad at 3.1 rad/s at most.
  EXPECT_GE(out.back().time, 2.4 / 3.1);
}

TEST(PipelineOnSwitchedScene, AGroupSwitchedUnderThePipelineFailsInsteadOfReadingPastItsStates) {
  // Made for the one-joint hand, then switched to the six-joint arm: the
  // scene would read six values from the planner's one-value states.
  auto scene = bramlock_test::makeSceneArm("hand");
  ManipulatorPlanScene* hand_scene = scene.get();
  PathPlanAndPostProcessing pipeline(scene.release());
  std::vector<TrajectoryData> out;
  std::string output;
  {
    bramlock_test::OutputCapture capture;
    ASSERT_EQ(hand_scene->setPlannedJointGroup("arm"), 0);
    EXPECT_EQ(pipeline.runPlanPipeline({0.0}, {0.03}, out, false), -1);
    output = capture.out();
  }
  EXPECT_TRUE(out.empty());
  EXPECT_NE(output.find("The scene plans 6 joints now, this planner was made for 1"), std::string::npos) << output;
  {
    bramlock_test::OutputCapture quiet;
    ASSERT_EQ(hand_scene->setPlannedJointGroup("hand"), 0);
    EXPECT_EQ(pipeline.runPlanPipeline({0.0}, {0.03}, out, false), 0) << "switched back, it plans again";
  }
  EXPECT_EQ(out.size(), 2u);
}
