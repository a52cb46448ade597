#include <gtest/gtest.h>

#include <functional>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "planner_test_helpers.h"

using fake_scene::Box;
using fake_scene::FakeBoxScene;
using planner_test::Path;
using planner_test::pathLength;

namespace {

const std::string kNoNeed = "\033[33mNo need to Simplify the Path~ \033[0m\n";

// A free path through the wall's gap with many wobbling points (and some
// repeated ones), free under the simplify checker and so under both.
Path jaggedPathThroughGap(const FakeBoxScene& scene, std::mt19937& random) {
  const int dof = scene.dof();
  std::vector<double> through_gap(dof, 0.0);
  through_gap[1] = 1.5;
  Path corners = {fake_scene::leftOfWall(dof), through_gap, through_gap, through_gap, fake_scene::rightOfWall(dof)};
  corners[1][0] = -1.0;
  corners[3][0] = 1.0;
  std::uniform_real_distribution<double> wobble(-0.3, 0.3);
  std::bernoulli_distribution repeat(0.1);
  Path path = {corners[0]};
  for (std::size_t c = 1; c < corners.size(); ++c) {
    for (int k = 1; k < 6; ++k) {
      for (int attempt = 0; attempt < 50; ++attempt) {
        std::vector<double> q(dof);
        for (int j = 0; j < dof; ++j)
          q[j] = corners[c - 1][j] + (corners[c][j] - corners[c - 1][j]) * k / 6.0 + wobble(random);
        if (scene.motionFree(path.back(), q, true, 0.0) && scene.motionFree(q, corners[c], true, 0.0)) {
          path.push_back(q);
          if (repeat(random)) path.push_back(q);
          break;
        }
      }
    }
    path.push_back(corners[c]);
  }
  return path;
}

struct Operation {
  std::string name;
  std::function<void(RRTConnect&, Path&)> run;
  bool simplify_checker;
};

class RecordingScene : public FakeBoxScene {
 public:
  using FakeBoxScene::FakeBoxScene;
  bool checkMotion(double* from, double* to) override {
    motions.emplace_back(std::vector<double>(from, from + dof()), std::vector<double>(to, to + dof()));
    return FakeBoxScene::checkMotion(from, to);
  }
  std::vector<std::pair<std::vector<double>, std::vector<double>>> motions;
};

}  // namespace

TEST(PathSimplification, NeverLengthensKeepsTheEndsAndLeavesEverySegmentFree) {
  const std::vector<Operation> operations = {
      {"Simplify", [](RRTConnect& p, Path& path) { EXPECT_TRUE(p.Simplify(path)); }, false},
      {"SimplifyAfter", [](RRTConnect& p, Path& path) { EXPECT_TRUE(p.SimplifyAfter(path)); }, true},
      {"shortcutPath", [](RRTConnect& p, Path& path) { p.shortcutPath(path, 0.33, 0.005); }, false},
      {"shortcutPathSimplify", [](RRTConnect& p, Path& path) { p.shortcutPathSimplify(path, 0.33, 0.005); }, true},
      {"reduceVertices", [](RRTConnect& p, Path& path) { p.reduceVertices(path, 0.33); }, false},
      {"reduceVerticesSimplify", [](RRTConnect& p, Path& path) { p.reduceVerticesSimplify(path, 0.33); }, true},
      {"collapseCloseVertices", [](RRTConnect& p, Path& path) { p.collapseCloseVertices(path); }, false},
      {"smoothBSpline", [](RRTConnect& p, Path& path) { p.smoothBSpline(path, 3, 0.0); }, false},
  };
  std::mt19937 random(20261207);
  for (const Operation& operation : operations) {
    double shortened = 0.0;
    for (int dof : {2, 6}) {
      for (int run = 0; run < 20; ++run) {
        FakeBoxScene scene(fake_scene::symmetricBounds(dof), fake_scene::wallWithGap(dof), 0.05);
        RRTConnect planner(&scene);
        Path path = jaggedPathThroughGap(scene, random);
        const Path before = path;
        {
          bramlock_test::OutputCapture capture;
          operation.run(planner, path);
        }
        SCOPED_TRACE(operation.name + " dof " + std::to_string(dof) + " run " + std::to_string(run));
        EXPECT_LE(pathLength(path), pathLength(before) + 1e-9);
        EXPECT_EQ(path.front(), before.front());
        EXPECT_EQ(path.back(), before.back());
        EXPECT_TRUE(planner_test::everySegmentFree(scene, path, operation.simplify_checker));
        if (operation.simplify_checker) {
          EXPECT_EQ(scene.counts.check_motion, 0);
        } else {
          EXPECT_EQ(scene.counts.check_motion_simplify, 0);
        }
        shortened += pathLength(before) - pathLength(path);
      }
    }
    EXPECT_GT(shortened, 1.0) << operation.name << " should shorten wobbling paths";
  }
}

TEST(PathSimplification, PathsOfTwoPointsAreLeftAlone) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  const Path two = {{0.0, 0.0}, {1.0, 1.0}};
  Path path = two;
  const auto [changes, out] = planner_test::withCapturedOutput([&] {
    std::vector<bool> results = {planner.Simplify(path), planner.SimplifyAfter(path),
                                 planner.shortcutPath(path, 0.33, 0.005), planner.reduceVerticesSimplify(path, 0.33),
                                 planner.collapseCloseVertices(path)};
    planner.smoothBSpline(path, 5, 0.0);
    return results;
  });
  EXPECT_EQ(changes, std::vector<bool>(5, false));
  EXPECT_EQ(out, kNoNeed + kNoNeed);
  EXPECT_EQ(path, two);
  EXPECT_EQ(scene.counts.check_motion + scene.counts.check_motion_simplify, 0);
}

TEST(PathSimplification, DirectMotionReplacesTheWholePath) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Path path = {{0.0, 0.0}, {1.0, 2.0}, {0.5, -1.0}, {2.0, 0.0}, {3.0, 1.0}};
  const auto [simplified, out] = planner_test::withCapturedOutput([&] { return planner.Simplify(path); });
  EXPECT_TRUE(simplified);
  EXPECT_EQ(path, (Path{{0.0, 0.0}, {3.0, 1.0}}));
  EXPECT_TRUE(planner_test::matchesWithNumbers(
      out, "\033[42m Ready to begin path simplify\033[0m\n\033[33mSimplify Path direct cost:#us\033[0m\n"))
      << out;
  EXPECT_EQ(scene.counts.check_motion, 1);
}

TEST(PathSimplification, ReduceVerticesDropsTheMiddleOfAThreePointPath) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  const Path three = {{0.0, 0.0}, {1.0, 2.0}, {2.0, 0.0}};
  Path path = three;
  // A call whose three random draws all pick the middle point changes nothing (1 in 27).
  for (int call = 0; call < 10 && path.size() == 3; ++call) {
    const bool changed = planner.reduceVertices(path, 0.33);
    EXPECT_EQ(path, changed ? (Path{three.front(), three.back()}) : three);
  }
  EXPECT_EQ(path, (Path{{0.0, 0.0}, {2.0, 0.0}}));
}

TEST(PathSimplification, CollapseTriesTheClosestPairsFirstAndEachPairOnce) {
  // A post at (0, 0.5) blocks the straight motions from the first point up the q1 axis.
  RecordingScene scene(fake_scene::symmetricBounds(2), {Box{{-0.05, 0.45}, {0.05, 0.55}}});
  RRTConnect planner(&scene);
  const std::vector<double> p0 = {0.0, 0.0}, p1 = {1.0, 0.0}, p2 = {1.0, 1.0}, p3 = {0.0, 1.1}, p4 = {0.0, 3.0};
  Path path = {p0, p1, p2, p3, p4};
  EXPECT_TRUE(planner.collapseCloseVertices(path));
  EXPECT_EQ(path, (Path{p0, p2, p4}));
  const std::vector<std::pair<std::vector<double>, std::vector<double>>> expected = {
      {p0, p3}, {p0, p2}, {p2, p4}, {p0, p4}};
  EXPECT_EQ(scene.motions, expected);
}

TEST(PathSimplification, CollapseHandlesRepeatedPoints) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {Box{{0.45, -0.05}, {0.55, 0.05}}});
  RRTConnect planner(&scene);
  const std::vector<double> a = {0.0, 0.0}, b = {0.5, 1.0}, c = {1.0, 0.0};
  Path path = {a, b, c, b, a, b, c};
  EXPECT_TRUE(planner.collapseCloseVertices(path));
  EXPECT_EQ(path.front(), a);
  EXPECT_EQ(path.back(), c);
  EXPECT_TRUE(planner_test::everySegmentFree(scene, path));
  EXPECT_EQ(path, (Path{a, b, c}));
}

TEST(PathSimplification, SubdivideInsertsEveryMidpoint) {
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  Path path = {{0.0, 0.0}, {2.0, 0.0}, {2.0, 4.0}};
  planner.subdivide(path);
  EXPECT_EQ(path, (Path{{0.0, 0.0}, {1.0, 0.0}, {2.0, 0.0}, {2.0, 2.0}, {2.0, 4.0}}));
  Path single = {{1.0, 1.0}};
  planner.subdivide(single);
  EXPECT_EQ(single.size(), 1u);
}

TEST(PathSimplification, SmoothingWithBlockedCornersOnlySubdivides) {
  // Small obstacles sit where the two corners of the subdivided path would be cut to.
  FakeBoxScene scene(fake_scene::symmetricBounds(2), {Box{{0.1, 0.85}, {0.15, 0.9}}, Box{{0.85, 0.85}, {0.9, 0.9}}});
  RRTConnect planner(&scene);
  Path path = {{0.0, 0.0}, {0.0, 1.0}, {1.0, 1.0}, {1.0, 0.0}};
  Path expected = path;
  planner.subdivide(expected);
  planner.smoothBSpline(path, 4, 0.0);
  EXPECT_EQ(path, expected);
  EXPECT_EQ(scene.counts.check_motion, 2);
}

TEST(PathSimplification, SecondPassEndsQuietlyOnAnInvalidArgumentFromTheScene) {
  // Shortcuts are refused; the vertex removal's motion between the two ends throws.
  class ThrowingScene : public FakeBoxScene {
   public:
    using FakeBoxScene::FakeBoxScene;
    bool checkMotionSimplify(double* from, double* to) override {
      if (from[0] == 0.0 && to[0] == 2.0) {
        ++throws;
        throw std::invalid_argument("refused");
      }
      return false;
    }
    int throws = 0;
  };
  ThrowingScene scene(fake_scene::symmetricBounds(2), {});
  RRTConnect planner(&scene);
  const Path three = {{0.0, 0.0}, {1.0, 1.0}, {2.0, 0.0}};
  Path path = three;
  // A pass whose random draws never pick the two ends does not reach the throw.
  for (int pass = 0; pass < 20 && scene.throws == 0; ++pass) {
    EXPECT_TRUE(planner.SimplifyAfter(path));
    EXPECT_EQ(path, three);
  }
  EXPECT_EQ(scene.throws, 1);
}
