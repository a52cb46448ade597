#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <string>
#include <vector>

#include "planner_test_helpers.h"

using fake_scene::Box;
using fake_scene::FakeBoxScene;
using planner_test::occurrences;
using planner_test::Path;

namespace {

const std::vector<double> kBadPoint = {1.0, 0.0};

// Everything is free except what the simplify predicates reject; they see the
// number of simplify state tests made so far.
class ScriptedScene : public FakeBoxScene {
 public:
  ScriptedScene() : FakeBoxScene(fake_scene::symmetricBounds(2, 5.0), {}) {}
  bool isValidSimplify(double* joints) override {
    ++state_tests;
    return state_rule(std::vector<double>(joints, joints + 2), state_tests);
  }
  bool checkMotionSimplify(double* from, double* to) override {
    return motion_rule(std::vector<double>(from, from + 2), std::vector<double>(to, to + 2));
  }
  std::function<bool(const std::vector<double>&, int)> state_rule = [](const std::vector<double>&, int) {
    return true;
  };
  std::function<bool(const std::vector<double>&, const std::vector<double>&)> motion_rule =
      [](const std::vector<double>&, const std::vector<double>&) { return true; };
  int state_tests = 0;
};

std::string candidateLine(int candidates, const std::string& outcome, std::size_t point) {
  return "Try \033[33m" + std::to_string(candidates) + "\033[0m" + outcome + std::to_string(point) + "\n";
}

const std::string kFailed = " times but failed for the new waypoint :-(, No.";
const std::string kSucceeded = " times successfully for the new waypoint :-), No.";

std::size_t indexOf(const Path& path, const std::vector<double>& point) {
  for (std::size_t i = 0; i < path.size(); ++i) {
    if (path[i] == point) return i;
  }
  return path.size();
}

// Clearance of a path that needs no move: densified, nothing printed, true.
void expectOnlyDensified(RRTConnect& planner, Path path) {
  Path densified = path;
  planner.ntimesdivide(densified);
  const auto cleared = planner_test::withCapturedOutput([&] { return planner.awayFromObstacle(path); });
  EXPECT_TRUE(cleared.first);
  EXPECT_EQ(path, densified);
  EXPECT_EQ(cleared.second, "");
}

}  // namespace

TEST(PathDensification, CutsSegmentsLongerThanASixthOfThePathIntoEqualPieces) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Path path = {{0.0, 0.0}, {3.5, 0.0}, {4.5, 0.0}, {6.0, 0.0}};
  planner.ntimesdivide(path);
  const Path expected = {{0.0, 0.0}, {0.875, 0.0}, {1.75, 0.0}, {2.625, 0.0},
                         {3.5, 0.0}, {4.5, 0.0},   {5.25, 0.0}, {6.0, 0.0}};
  ASSERT_EQ(path.size(), expected.size());
  for (std::size_t i = 0; i < path.size(); ++i) {
    EXPECT_NEAR(path[i][0], expected[i][0], 1e-12) << i;
    EXPECT_EQ(path[i][1], 0.0);
  }

  Path same = {{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}};
  planner.ntimesdivide(same);
  EXPECT_EQ(same, (Path{{1.0, 1.0}, {1.0, 1.0}, {1.0, 1.0}}));
  Path single = {{1.0, 1.0}};
  planner.ntimesdivide(single);
  EXPECT_EQ(single.size(), 1u);
}

TEST(ObstacleClearance, TwoPointPathsAreLeftAlone) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Path path = {{0.0, 0.0}, {2.0, 0.0}};
  const auto cleared = planner_test::withCapturedOutput([&] { return planner.awayFromObstacle(path); });
  EXPECT_FALSE(cleared.first);
  EXPECT_EQ(cleared.second, "\033[33mNo need to away from obstacle~ \033[0m\n");
  EXPECT_EQ(path, (Path{{0.0, 0.0}, {2.0, 0.0}}));
}

TEST(ObstacleClearance, AFreePathIsOnlyDensified) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), fake_scene::wallWithGap(2), 0.05);
  RRTConnect planner(&scene);
  expectOnlyDensified(planner, {{-2.0, 0.0}, {-1.0, 1.5}, {1.0, 1.5}, {2.0, 0.0}});
}

// Points hugging the gap's edge pass the regular checker but not the inflated one.
TEST(ObstacleClearance, MovedPointsStayWithinAFifthOfARadianAndInsideTheBounds) {
  struct ClearanceCase {
    FakeBoxScene scene;
    Path path;
  };
  std::vector<ClearanceCase> cases;
  cases.push_back({FakeBoxScene(fake_scene::symmetricBounds(2), fake_scene::wallWithGap(2), 0.1),
                   {{-2.0, 0.0}, {-0.3, 1.05}, {0.3, 1.05}, {2.0, 0.0}}});
  // Near the upper bound: candidates must be clipped to q1 <= 1.
  cases.push_back({FakeBoxScene(fake_scene::symmetricBounds(2, 1.0), {Box{{-0.6, 0.5}, {0.6, 0.85}}}, 0.12),
                   {{-0.9, 0.9}, {0.0, 0.95}, {0.9, 0.9}}});
  for (ClearanceCase& each : cases) {
    int moved = 0;
    for (int run = 0; run < 20; ++run) {
      RRTConnect planner(&each.scene);
      Path path = each.path;
      Path densified = path;
      planner.ntimesdivide(densified);
      const auto [cleared, out] = planner_test::withCapturedOutput([&] { return planner.awayFromObstacle(path); });
      ASSERT_EQ(path.size(), densified.size());
      EXPECT_EQ(path.front(), densified.front());
      EXPECT_EQ(path.back(), densified.back());
      for (std::size_t i = 0; i < path.size(); ++i) {
        EXPECT_TRUE(planner_test::insideBounds(each.scene, path[i]));
        for (std::size_t j = 0; j < path[i].size(); ++j) EXPECT_LE(std::fabs(path[i][j] - densified[i][j]), 0.2);
        if (path[i] != densified[i]) ++moved;
      }
      EXPECT_TRUE(planner_test::everySegmentFree(each.scene, path)) << "moves keep the regular checker satisfied";
      EXPECT_EQ(cleared, occurrences(out, kFailed) == 0) << out;
    }
    EXPECT_GT(moved, 0);
  }
}

TEST(ObstacleClearance, ATwentiethCandidateThatIsGoodIsStillTakenButReportedAsAFailure) {
  for (const bool twentieth_is_good : {true, false}) {
    ScriptedScene scene;
    RRTConnect planner(&scene);
    Path path = {{0.0, 0.0}, kBadPoint, {2.0, 0.0}};
    Path densified = path;
    planner.ntimesdivide(densified);
    const std::size_t bad = indexOf(densified, kBadPoint);
    ASSERT_GE(bad, 2u);
    ASSERT_LT(bad + 1, densified.size());
    const int initial_tests = static_cast<int>(densified.size());
    scene.state_rule = [&](const std::vector<double>& q, int test) {
      if (test <= initial_tests) return q != kBadPoint;
      return twentieth_is_good && test == initial_tests + 20;
    };
    const auto [cleared, out] = planner_test::withCapturedOutput([&] { return planner.awayFromObstacle(path); });
    EXPECT_FALSE(cleared);
    EXPECT_EQ(out, candidateLine(20, kFailed, bad) +
                       (twentieth_is_good ? candidateLine(20, kSucceeded, bad) : std::string()));
    EXPECT_EQ(scene.state_tests, initial_tests + 20);
    if (twentieth_is_good) {
      EXPECT_NE(path[bad], kBadPoint);
      EXPECT_LE(std::fabs(path[bad][0] - 1.0), 0.2);
      EXPECT_LE(std::fabs(path[bad][1]), 0.2);
    } else {
      EXPECT_EQ(path, densified);
    }
  }
}

TEST(ObstacleClearance, FirstInteriorPointIsJudgedByItsOwnFlagAlone) {
  ScriptedScene scene;
  RRTConnect planner(&scene);
  const std::vector<double> start = {0.0, 0.0};
  scene.motion_rule = [&](const std::vector<double>& from, const std::vector<double>&) { return from != start; };
  expectOnlyDensified(planner, {start, {1.0, 0.0}, {2.0, 0.0}});
}

// The flags are not refreshed after a move: the point after a moved one is
// judged by the segment flag from before the move.
TEST(ObstacleClearance, ThePointAfterAMovedOneIsJudgedByTheStaleSegmentFlag) {
  ScriptedScene scene;
  RRTConnect planner(&scene);
  scene.state_rule = [](const std::vector<double>& q, int) { return q != kBadPoint; };
  scene.motion_rule = [](const std::vector<double>& from, const std::vector<double>& to) {
    return from != kBadPoint && to != kBadPoint;
  };
  Path path = {{0.0, 0.0}, kBadPoint, {2.0, 0.0}};
  Path densified = path;
  planner.ntimesdivide(densified);
  const std::size_t bad = indexOf(densified, kBadPoint);
  const auto [cleared, out] = planner_test::withCapturedOutput([&] { return planner.awayFromObstacle(path); });
  EXPECT_TRUE(cleared);
  EXPECT_EQ(out, candidateLine(1, kSucceeded, bad) + candidateLine(1, kSucceeded, bad + 1));
  EXPECT_NE(path[bad], densified[bad]);
  EXPECT_NE(path[bad + 1], densified[bad + 1]);
}
