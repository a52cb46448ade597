#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstddef>
#include <limits>
#include <string>
#include <utility>
#include <vector>

#include "fixed_random_draws.h"
#include "planner_test_helpers.h"

using fake_scene::Box;
using fake_scene::FakeBoxScene;
using fake_scene::kPi;
using planner_test::Path;
using planner_test::planOnce;
using planner_test::PlanOutcome;

namespace {

const std::string kInvalidEnds = "\033[41m ERROR: Start point or goal point is invalid\033[0m\n";
const std::string kStartOutOfRange = "\033[41m ERROR: Start Point is out of the range\033[0m\n";

// Two joints in [-pi, pi], one obstacle around (1, 1) and one outside the bounds around (4, 0).
FakeBoxScene twoObstacleScene() {
  return FakeBoxScene(fake_scene::symmetricBounds(2), {Box{{0.9, 0.9}, {1.1, 1.1}}, Box{{3.9, -0.1}, {4.1, 0.1}}});
}

struct EndCase {
  std::vector<double> start;
  std::vector<double> goal;
  int code;
  std::string expected_output;
  std::string absent_output;
};

// Keeps every motion that passed a check, under either checker.
class PassedMotionsScene : public FakeBoxScene {
 public:
  using FakeBoxScene::FakeBoxScene;
  bool checkMotion(double* from, double* to) override { return kept(from, to, FakeBoxScene::checkMotion(from, to)); }
  bool checkMotionSimplify(double* from, double* to) override {
    return kept(from, to, FakeBoxScene::checkMotionSimplify(from, to));
  }

  // Both states lie on one motion that passed.
  bool onPassedMotion(const std::vector<double>& a, const std::vector<double>& b) const {
    for (const auto& motion : passed_) {
      if (liesOn(a, motion.first, motion.second) && liesOn(b, motion.first, motion.second)) return true;
    }
    return false;
  }

 private:
  bool kept(const double* from, const double* to, bool free) {
    if (free) passed_.emplace_back(std::vector<double>(from, from + dof()), std::vector<double>(to, to + dof()));
    return free;
  }

  static bool liesOn(const std::vector<double>& q, const std::vector<double>& from, const std::vector<double>& to) {
    double along = 0.0;
    double squared_length = 0.0;
    for (std::size_t j = 0; j < q.size(); ++j) {
      along += (q[j] - from[j]) * (to[j] - from[j]);
      squared_length += (to[j] - from[j]) * (to[j] - from[j]);
    }
    const double t = squared_length > 0.0 ? along / squared_length : 0.0;
    if (t < -1e-9 || t > 1.0 + 1e-9) return false;
    double off = 0.0;
    for (std::size_t j = 0; j < q.size(); ++j) off += std::pow(from[j] + t * (to[j] - from[j]) - q[j], 2);
    return std::sqrt(off) <= 1e-9 * (1.0 + std::sqrt(squared_length));
  }

  std::vector<std::pair<std::vector<double>, std::vector<double>>> passed_;
};

// Motion checks coarse enough for the search to step over a thin wall, and
// dense from the first simplify check on (as when a scene is told more about
// its obstacles while the path is processed): the path as searched and
// processed then crosses the wall on a segment the final check rejects.
class TighteningScene : public FakeBoxScene {
 public:
  explicit TighteningScene(bool with_gap) : FakeBoxScene(fake_scene::symmetricBounds(2), thinWall(with_gap)) {
    resolution = 0.5;
  }
  bool isValidSimplify(double* joints) override {
    resolution = kDenseCheckTolerance;
    return FakeBoxScene::isValidSimplify(joints);
  }

 private:
  // A wall across joint 0 (|q0| <= 0.1), thinner than a search step, with or without a gap 1 < q1 < 2.
  static std::vector<Box> thinWall(bool with_gap) {
    if (!with_gap) return {fake_scene::slab(2, {{0, {-0.1, 0.1}}})};
    return {fake_scene::slab(2, {{0, {-0.1, 0.1}}, {1, {-100.0, 1.0}}}),
            fake_scene::slab(2, {{0, {-0.1, 0.1}}, {1, {2.0, 100.0}}})};
  }
};

const std::string kSearchedAgain = " fails the motion check, searching it again\n";

}  // namespace

TEST(RrtConnectResultCodes, EndTestsRunInTheirFixedOrder) {
  const double below_minimum = std::nextafter(-kPi, -10.0);
  const std::vector<EndCase> cases = {
      {{0.0, 0.0, 0.0}, {0.5, 0.5}, -1, kInvalidEnds, "range"},
      {{0.0, 0.0}, {0.5}, -1, kInvalidEnds, "range"},
      // A start in collision wins over a goal in collision and over its own bounds.
      {{1.0, 1.0}, {1.0, 1.0}, -1, "[ERROR] Start Point 1,1 is in the obstacle\n", "Goal Point"},
      {{4.0, 0.0}, {0.5, 0.5}, -1, "[ERROR] Start Point 4,0 is in the obstacle\n", "range"},
      {{0.5, 0.5}, {1.0, 1.05}, -2, "[ERROR] Goal Point 1,1.05 is in the obstacle\n", "range"},
      // A goal in collision wins over a start out of bounds.
      {{3.5, 0.0}, {1.0, 1.0}, -2, "Goal Point 1,1 is in the obstacle", "range"},
      {{below_minimum, 0.0},
       {0.5, 0.5},
       -3,
       "range i is wrong: 0\nrange: -3.14159, 3.14159\n" + kStartOutOfRange,
       "Goal Point"},
      {{0.0, 3.5}, {0.0, 3.6}, -3, "range i is wrong: 1\nrange: -3.14159, 3.14159\n" + kStartOutOfRange, "Goal"},
      {{0.5, 0.5},
       {0.0, -3.5},
       -4,
       "range i is wrong: 1\nrange: -3.14159, 3.14159\n",
       "Start Point is out of the range"},
  };
  for (const EndCase& each : cases) {
    FakeBoxScene scene = twoObstacleScene();
    RRTConnect planner(&scene);
    planner.setStepSizeAndSampleRate(0.04, 15);
    planner.setStartAndGoal(each.start, each.goal);
    Path path = {{7.0, 7.0}};
    const auto [code, out] = planner_test::withCapturedOutput([&] { return planner.planning(path); });
    EXPECT_EQ(code, each.code) << out;
    EXPECT_NE(out.find(each.expected_output), std::string::npos) << out;
    EXPECT_EQ(out.find(each.absent_output), std::string::npos) << out;
    EXPECT_EQ(path, (Path{{7.0, 7.0}})) << "a failure leaves the caller's path alone";
    EXPECT_EQ(scene.counts.check_motion, 0);
  }
}

TEST(RrtConnectResultCodes, GoalOutOfRangeIsLoggedAndJointsOnTheirBoundsAreInside) {
  FakeBoxScene scene = twoObstacleScene();
  PlanOutcome outcome = planOnce(scene, {0.0, 0.0}, {0.0, -3.5});
  EXPECT_EQ(outcome.code, -4);
  EXPECT_NE(outcome.out.find("[ERROR]  Goal Point is out of the range\n"), std::string::npos) << outcome.out;

  outcome = planOnce(scene, {-kPi, kPi}, {kPi, -kPi});
  EXPECT_EQ(outcome.code, 0) << outcome.out;
}

TEST(RrtConnectResultCodes, SceneWithoutBoundsFailsEverySearchWithMinusOne) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  scene.answerBoundsWith(-2);
  const PlanOutcome outcome = planOnce(scene, {0.0, 0.0}, {0.5, 0.5});
  EXPECT_EQ(outcome.code, -1);
  EXPECT_NE(outcome.out.find(kInvalidEnds), std::string::npos);
}

TEST(RrtConnectResultCodes, PlanningBeforeStartAndGoalOrWithoutStepIsRejected) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), fake_scene::wallWithGap(2));
  RRTConnect planner(&scene);
  Path path;
  const auto plan = [&] { return planner.planning(path); };
  const auto before_ends = planner_test::withCapturedOutput(plan);
  EXPECT_EQ(before_ends.first, -1);
  EXPECT_NE(before_ends.second.find(kInvalidEnds), std::string::npos);
  planner.setStartAndGoal(fake_scene::leftOfWall(2), fake_scene::rightOfWall(2));
  const auto without_step = planner_test::withCapturedOutput(plan);
  EXPECT_EQ(without_step.first, -1);
  EXPECT_NE(without_step.second.find("Step size 0 is not positive"), std::string::npos) << without_step.second;
  EXPECT_TRUE(path.empty());
}

TEST(RrtConnectResultCodes, EnclosedGoalFailsAfterTenThousandIterations) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), fake_scene::shellAroundGoal());
  const PlanOutcome outcome = planOnce(scene, {-2.0, -2.0}, {2.0, 2.0});
  EXPECT_EQ(outcome.code, -5);
  EXPECT_EQ(outcome.iterations, 10000);
  EXPECT_TRUE(outcome.path.empty());
  EXPECT_TRUE(planner_test::matchesWithNumbers(planner_test::lastLines(outcome.out, 1),
                                               "\033[33mPlanning total cost: #ms (failed)\033[0m\n"))
      << planner_test::lastLines(outcome.out, 3);
}

TEST(RrtConnectResultCodes, SlowSearchTimesOutAfterFifteenSeconds) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), fake_scene::shellAroundGoal());
  scene.state_delay = std::chrono::milliseconds(2);
  const auto started = std::chrono::steady_clock::now();
  const PlanOutcome outcome = planOnce(scene, {-2.0, -2.0}, {2.0, 2.0});
  const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  EXPECT_EQ(outcome.code, -6);
  EXPECT_LT(outcome.iterations, 10000);
  EXPECT_GE(seconds, 15.0);
  // Wide: a loaded machine stretches the last iterations, not the time-out.
  EXPECT_LT(seconds, 60.0);
  EXPECT_NE(outcome.out.find("\033[31m ERROR: Time out for 15s ! \033[0m\n\033[33mPlanning total cost: "),
            std::string::npos);
  EXPECT_NE(outcome.out.find("ms (timeout)\033[0m\n"), std::string::npos);
}

TEST(RrtConnectSearch, DirectMotionGivesTwoPointsWithoutPostProcessing) {
  FakeBoxScene scene(fake_scene::symmetricBounds(6), fake_scene::wallWithGap(6));
  const std::vector<double> start = {0.5, 1.0, 2.0, -1.0, 0.0, 3.0};
  const std::vector<double> goal = {2.5, -1.0, 0.0, 1.0, 0.5, -3.0};
  const PlanOutcome outcome = planOnce(scene, start, goal);
  EXPECT_EQ(outcome.code, 0);
  EXPECT_EQ(outcome.path, (Path{start, goal}));
  EXPECT_TRUE(planner_test::matchesWithNumbers(outcome.out, "\033[33mPlanning total cost: #ms (direct)\033[0m\n"))
      << outcome.out;
  EXPECT_EQ(scene.counts.check_motion, 1);
  EXPECT_EQ(scene.counts.check_motion_simplify, 0);
}

// Planner seeds come from the random device, so each scene is planned 20 times
// and the invariants are checked on every result.
TEST(RrtConnectSearch, PathsThroughWallsRunFromStartToGoalAlongFreeSegments) {
  struct SceneCase {
    int dof;
    std::vector<Box> obstacles;
  };
  // The narrow passages fail now and then (see the benchmark), so they are not asserted on here.
  const std::vector<SceneCase> cases = {{2, fake_scene::wallWithGap(2)}, {6, fake_scene::wallWithGap(6)}};
  for (const SceneCase& each : cases) {
    for (int run = 0; run < 20; ++run) {
      FakeBoxScene scene(fake_scene::symmetricBounds(each.dof), each.obstacles, 0.05);
      const std::vector<double> start = fake_scene::leftOfWall(each.dof);
      const std::vector<double> goal = fake_scene::rightOfWall(each.dof);
      const PlanOutcome outcome = planOnce(scene, start, goal);
      ASSERT_EQ(outcome.code, 0) << "dof " << each.dof << " run " << run;
      ASSERT_GE(outcome.path.size(), 3u);
      EXPECT_EQ(outcome.path.front(), start);
      EXPECT_EQ(outcome.path.back(), goal);
      EXPECT_TRUE(planner_test::everySegmentFree(scene, outcome.path));
      for (std::size_t i = 0; i < outcome.path.size(); ++i) {
        EXPECT_EQ(outcome.path[i].size(), static_cast<std::size_t>(each.dof));
        EXPECT_TRUE(planner_test::insideBounds(scene, outcome.path[i]));
        if (i > 0) {
          EXPECT_NE(outcome.path[i], outcome.path[i - 1]);
        }
      }
      EXPECT_NE(outcome.out.find("reaches the goal!\nfinish path_list built,  size:  "), std::string::npos);
      EXPECT_TRUE(planner_test::matchesWithNumbers(
          planner_test::lastLines(outcome.out, 3),
          "distance all: #\nStep size is: #\n\033[33mPlanning total cost: #ms\033[0m\n"));
      EXPECT_GT(scene.counts.check_motion_simplify, 0) << "clearance and the second pass ask the simplify checker";
    }
  }
}

// Motion checks are discrete: with checks coarser than the obstacles a
// returned segment passes the scene's check as it stands and can still cross
// an obstacle between its tested states. What no step may do is change the
// path without a passed check behind the new segment.
TEST(RrtConnectSearch, EverySegmentOfAPlanLiesOnAMotionThatPassedACheck) {
  int runs_with_blocked_segment = 0;
  int runs_with_failed_clearance = 0;
  for (int run = 0; run < 40; ++run) {
    PassedMotionsScene scene(fake_scene::symmetricBounds(6), fake_scene::wallWithGap(6), 0.05);
    scene.resolution = 0.5;  // coarser than the 0.4 rad thick wall
    const PlanOutcome outcome = planOnce(scene, fake_scene::leftOfWall(6), fake_scene::rightOfWall(6));
    ASSERT_EQ(outcome.code, 0) << "run " << run;
    bool blocked = false;
    for (std::size_t i = 1; i < outcome.path.size(); ++i) {
      EXPECT_TRUE(scene.onPassedMotion(outcome.path[i - 1], outcome.path[i])) << "run " << run << " segment " << i - 1;
      blocked = blocked || !scene.motionFree(outcome.path[i - 1], outcome.path[i], false, 0.0);
    }
    runs_with_blocked_segment += blocked;
    runs_with_failed_clearance += outcome.out.find("times but failed for the new waypoint") != std::string::npos;
  }
  EXPECT_GT(runs_with_blocked_segment, 0) << "the coarse checks should let some pieces through";
  EXPECT_GT(runs_with_failed_clearance, 0);
}

TEST(RrtConnectMending, AFailingPieceOfTheProcessedPathIsSearchedAgain) {
  TighteningScene scene(true);
  // Draws with which the search steps over the wall instead of finding the gap.
  const PlanOutcome outcome = bramlock_test::withFixedDraws(
      1, [&] { return planOnce(scene, fake_scene::leftOfWall(2), fake_scene::rightOfWall(2)); });
  ASSERT_EQ(outcome.code, 0) << outcome.out;
  EXPECT_NE(outcome.out.find(kSearchedAgain), std::string::npos) << outcome.out;
  EXPECT_EQ(outcome.path.front(), fake_scene::leftOfWall(2));
  EXPECT_EQ(outcome.path.back(), fake_scene::rightOfWall(2));
  for (std::size_t i = 1; i < outcome.path.size(); ++i) {
    std::vector<double> from = outcome.path[i - 1];
    std::vector<double> to = outcome.path[i];
    EXPECT_TRUE(scene.checkMotion(from.data(), to.data())) << "segment " << i - 1;
  }
}

TEST(RrtConnectMending, WithoutAnySoundPathThePlanFailsNamingTheSegment) {
  TighteningScene scene(false);
  const PlanOutcome outcome = planOnce(scene, fake_scene::leftOfWall(2), fake_scene::rightOfWall(2));
  EXPECT_EQ(outcome.code, -5);
  EXPECT_TRUE(outcome.path.empty());
  EXPECT_NE(outcome.out.find(kSearchedAgain), std::string::npos) << outcome.out;
  EXPECT_NE(outcome.out.find("Falling back to the path of the search\n"), std::string::npos) << outcome.out;
  EXPECT_TRUE(planner_test::matchesWithNumbers(
      planner_test::lastLines(outcome.out, 2),
      "\033[33mPlanning total cost: #ms (failed)\033[0m\n\033[31m ERROR: No valid path found again for segment # "
      "(waypoints # to #)\033[0m\n"))
      << outcome.out;
}

TEST(RrtConnectSteps, SteerTakesOneStepInRadiansOrLandsOnTheTarget) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Node from{{0.0, 0.0}, nullptr};
  const Node to{{3.0, 4.0}, nullptr};

  const Node* step = planner.steer(&from, &to, 0.1, 2);
  EXPECT_EQ(step->parent, &from);
  EXPECT_NEAR(step->state[0], 0.06, 1e-15);
  EXPECT_NEAR(step->state[1], 0.08, 1e-15);
  EXPECT_NEAR(planner.distance(from.state, step->state), 0.1, 1e-15);

  EXPECT_EQ(planner.steer(&from, &to, 5.0, 2)->state, to.state);
  EXPECT_EQ(planner.steer(&from, &to, 7.0, 2)->state, to.state);
  EXPECT_EQ(scene.counts.is_valid + scene.counts.check_motion, 0) << "steering asks the scene nothing";
}

TEST(RrtConnectSteps, AdaptiveStepIsTheSetStepCutToTheDistanceOrAFreeFractionOfIt) {
  FakeBoxScene open(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&open);
  const Node origin{{0.0, 0.0}, nullptr};
  const Node far{{3.0, 0.0}, nullptr};
  const Node near{{0.05, 0.0}, nullptr};

  planner.setStepSize(0.1, false);
  EXPECT_DOUBLE_EQ(planner.adaptiveStepSize(&origin, &far), 0.1);
  EXPECT_DOUBLE_EQ(planner.adaptiveStepSize(&origin, &near), 0.05);
  EXPECT_EQ(planner.adaptiveStepSize(&origin, &origin), 0.02);

  planner.setStepSize(0.04, true);
  EXPECT_DOUBLE_EQ(planner.adaptiveStepSize(&origin, &far), 0.04 * std::sqrt(2.0) * 2.0 * kPi);
  planner.setStepSizeAndSampleRate(0.1, 15);
  EXPECT_DOUBLE_EQ(planner.adaptiveStepSize(&origin, &far), 0.1 * std::sqrt(2.0) * 2.0 * kPi);

  // Obstacle from q0 = 0.05 on: 0.5, 0.25, 0.125, 0.0625 are blocked, 0.03125 is free.
  FakeBoxScene blocked(fake_scene::symmetricBounds(2), {Box{{0.05, -10.0}, {10.0, 10.0}}});
  RRTConnect bisecting(&blocked);
  bisecting.setStepSize(0.5, false);
  EXPECT_DOUBLE_EQ(bisecting.adaptiveStepSize(&origin, &far), 0.03125 * 0.8);
  EXPECT_EQ(blocked.counts.is_valid, 5);
  EXPECT_EQ(blocked.counts.check_motion, 0) << "only states are tested";

  // Nothing free ahead: the minimum step.
  FakeBoxScene wall(fake_scene::symmetricBounds(2), {Box{{1e-4, -10.0}, {10.0, 10.0}}});
  RRTConnect stuck(&wall);
  stuck.setStepSize(0.5, false);
  EXPECT_EQ(stuck.adaptiveStepSize(&origin, &far), 0.02);
}

TEST(RrtConnectSteps, NearestNodeKeepsTheFirstOfEqualDistances) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Node a{{1.0, 0.0}, nullptr}, b{{0.0, 1.0}, nullptr}, c{{-1.0, 0.0}, nullptr}, d{{0.5, 0.5}, nullptr};
  const Node query{{0.0, 0.0}, nullptr};
  EXPECT_EQ(planner.getNearestNode({&a, &b, &c}, &query, 0), 0);
  EXPECT_EQ(planner.getNearestNode({&b, &a, &c}, &query, 0), 0);
  EXPECT_EQ(planner.getNearestNode({&a, &b, &c, &d}, &query, 99), 3);
  EXPECT_EQ(planner.getNearestNode({}, &query, 2), -1);
}

TEST(RrtConnectSteps, DistanceAndInterpolationWorkEntryByEntry) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  EXPECT_DOUBLE_EQ(planner.distance({0.0, 0.0}, {3.0, 4.0}), 5.0);
  EXPECT_DOUBLE_EQ(planner.distance({1.0}, {4.0, 100.0}), 3.0);
  EXPECT_EQ(planner.interpolate({0.0, 2.0}, {1.0, -2.0}, 0.25), (std::vector<double>{0.25, 1.0}));
}

TEST(RrtConnectSampling, SamplesStayInTheBoundsAndTheGoalBiasIsOutOfTwoToThe31) {
  FakeBoxScene scene({{-1.0, 2.0}, {0.0, 0.5}}, {});
  RRTConnect planner(&scene);
  const std::vector<double> goal = {1.5, 0.25};
  planner.setStartAndGoal({0.0, 0.0}, goal);

  planner.setStepSizeAndSampleRate(0.04, 2147483647);
  for (int i = 0; i < 100; ++i) EXPECT_EQ(planner.sampleRandom().state, goal);

  planner.setStepSizeAndSampleRate(0.04, 15);
  for (int i = 0; i < 2000; ++i) {
    const Node sample = planner.sampleRandom();
    EXPECT_EQ(sample.parent, nullptr);
    ASSERT_EQ(sample.state.size(), 2u);
    EXPECT_NE(sample.state, goal);
    EXPECT_TRUE(sample.state[0] >= -1.0 && sample.state[0] < 2.0) << sample.state[0];
    EXPECT_TRUE(sample.state[1] >= 0.0 && sample.state[1] < 0.5) << sample.state[1];
  }
}

TEST(RrtConnectSampling, SecondAndThirdJointsRarelyFallInTheAvoidedRegion) {
  FakeBoxScene scene(fake_scene::symmetricBounds(3), {});
  RRTConnect planner(&scene);
  planner.setStartAndGoal({0.0, 0.0, 0.0}, {1.0, 1.0, 1.0});
  planner.setStepSizeAndSampleRate(0.04, 15);
  int inside = 0;
  const int samples = 3000;
  for (int i = 0; i < samples; ++i) {
    const std::vector<double> q = planner.sampleRandom().state;
    if (q[1] <= 0.5 && q[2] >= -0.5) ++inside;
  }
  // Without the rule a third of the samples would lie there; with it about one in 2000.
  EXPECT_LE(inside, 10);
}

TEST(VectorToString, JoinsTheFirstValuesWithDefaultFormatting) {
  const double values[] = {1.0, 2.5, -3.0, 1.23456789};
  EXPECT_EQ(vectorToString(values, 4, ","), "1,2.5,-3,1.23457");
  EXPECT_EQ(vectorToString(values, 2, " | "), "1 | 2.5");
  EXPECT_EQ(vectorToString(values, 0, ","), "");
  EXPECT_EQ(vectorToString(values, -1, ","), "");
}
