// Bad numbers at RRT-Connect: a start or goal value that is not inside its
// bounds (NaN included) is out of range, and bounds that cannot be sampled are
// refused before the search; the planner never returns a path holding NaN.

#include <gtest/gtest.h>

#include <cmath>
#include <utility>
#include <vector>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/planner/rrtc.h"
#include "test_support.h"

namespace {

using robustness::kInf;
using robustness::kNaN;

// A scene that calls every state free, NaN included, and every motion free or
// blocked as asked: only the planner's own checks stand between bad numbers
// and a path.
class CredulousScene : public PlanSceneInterface {
 public:
  CredulousScene(std::vector<std::pair<double, double>> bounds, bool motions_free)
      : bounds_(std::move(bounds)), motions_free_(motions_free) {}

  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    bounds = bounds_;
    return static_cast<int>(bounds_.size());
  }
  int getVmaxAndAmax(std::vector<double>&, std::vector<double>&) override { return 0; }
  bool isValid(double*) override { return true; }
  bool isValidSimplify(double*) override { return true; }
  bool checkMotion(double*, double*) override { return motions_free_; }
  bool checkMotionSimplify(double*, double*) override { return motions_free_; }
  double getMaximumExtent() override { return 1.0; }

 private:
  std::vector<std::pair<double, double>> bounds_;
  bool motions_free_;
};

const std::vector<std::pair<double, double>> kBounds(3, {-M_PI, M_PI});
const std::vector<double> kInside = {0.1, -0.2, 0.3};

int plan(PlanSceneInterface& scene, const std::vector<double>& start, const std::vector<double>& goal,
         RRTConnect::Path& path) {
  RRTConnect planner(&scene);
  planner.setStepSizeAndSampleRate(0.04, 15);
  planner.setStartAndGoal(start, goal);
  bramlock_test::OutputCapture quiet;
  return planner.planning(path);
}

TEST(RrtRobustness, StartOrGoalValuesOutsideTheirBoundsAreOutOfRange) {
  for (bool motions_free : {true, false}) {
    CredulousScene scene(kBounds, motions_free);
    for (size_t i = 0; i < kInside.size(); ++i) {
      for (double bad : robustness::badNumbers()) {
        const RRTConnect::Path untouched = {{9.0}};
        RRTConnect::Path path = untouched;
        EXPECT_EQ(plan(scene, robustness::withEntry(kInside, i, bad), kInside, path), -3)
            << robustness::caseName("start", i, bad);
        EXPECT_EQ(plan(scene, kInside, robustness::withEntry(kInside, i, bad), path), -4)
            << robustness::caseName("goal", i, bad);
        EXPECT_EQ(path, untouched);
      }
    }
  }
}

TEST(RrtRobustness, BoundsThatCannotBeSampledAreRefusedBeforeTheSearch) {
  const std::vector<std::pair<double, double>> unsampleable[] = {
      {{-M_PI, M_PI}, {-kInf, kInf}, {-M_PI, M_PI}},
      {{-M_PI, M_PI}, {-M_PI, M_PI}, {-1e300, 1e300}},
      {{-kInf, M_PI}, {-M_PI, M_PI}, {-M_PI, M_PI}},
  };
  for (const auto& bounds : unsampleable) {
    CredulousScene scene(bounds, false);
    RRTConnect::Path path;
    EXPECT_EQ(plan(scene, kInside, {0.5, 0.5, 0.5}, path), -1) << bounds[0].first << " " << bounds[1].second;
    EXPECT_TRUE(path.empty());
  }
  CredulousScene free_scene({{-M_PI, M_PI}, {-kInf, kInf}, {-M_PI, M_PI}}, true);
  RRTConnect::Path path;
  EXPECT_EQ(plan(free_scene, kInside, {0.5, 0.5, 0.5}, path), 0);  // a direct motion needs no sampling
  EXPECT_TRUE(robustness::allFinite(path));
}

TEST(RrtRobustness, NaNBoundsPutEveryStartOutOfRange) {
  CredulousScene scene({{-M_PI, M_PI}, {kNaN, M_PI}, {-M_PI, M_PI}}, true);
  RRTConnect::Path path;
  EXPECT_EQ(plan(scene, kInside, kInside, path), -3);
}

TEST(RrtRobustness, StepSizesThatAreNotPositiveNumbersAreRefused) {
  CredulousScene scene(kBounds, false);
  for (double bad : {kNaN, -kInf, 0.0, -0.1}) {
    RRTConnect planner(&scene);
    planner.setStepSize(bad, false);
    planner.setStartAndGoal(kInside, {0.5, 0.5, 0.5});
    RRTConnect::Path path;
    bramlock_test::OutputCapture quiet;
    EXPECT_EQ(planner.planning(path), -1) << bad;
  }
}

TEST(RrtRobustness, ShortStartAndGoalAreInvalid) {
  CredulousScene scene(kBounds, true);
  RRTConnect::Path path;
  EXPECT_EQ(plan(scene, {}, kInside, path), -1);
  EXPECT_EQ(plan(scene, kInside, {0.1, 0.2}, path), -1);
  EXPECT_TRUE(path.empty());
}

}  // namespace
