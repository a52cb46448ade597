// The example host's check of its TOPP-RA trajectory: the trajectory is
// sampled densely, the scene is asked about the samples, and a sample in
// collision fails the run with its time in the summary.

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/plan_scene_interface.h"
#include "bramlock_arm_planning_core/toppra/geometric_path/piecewise_poly_path.h"
#include "demo_toppra.h"

namespace plan_demo {
namespace {

// Two joints in [-2, 2]; states whose first joint lies inside the blocked
// band collide. Remembers the samples it was asked about.
class BandScene : public PlanSceneInterface {
 public:
  explicit BandScene(std::pair<double, double> blocked) : blocked_(blocked) {}

  int getPlanSpaceBounds(std::vector<std::pair<double, double>>& bounds) override {
    bounds.assign(2, {-2.0, 2.0});
    return 2;
  }
  int getVmaxAndAmax(std::vector<double>& vmax, std::vector<double>& amax) override {
    vmax.assign(2, 1.0);
    amax.assign(2, 2.0);
    return 2;
  }
  bool isValid(double* joints) override { return !(joints[0] > blocked_.first && joints[0] < blocked_.second); }
  bool isValidSimplify(double* joints) override { return isValid(joints); }
  bool checkMotion(double* from, double* to) override { return isValid(to); }
  bool checkMotionSimplify(double* from, double* to) override { return isValid(to); }
  double getMaximumExtent() override { return 4.0 * std::sqrt(2.0); }
  bool checkSampledMotion(const std::vector<std::vector<double>>& samples, std::size_t* failing_index) override {
    checked = samples;
    return PlanSceneInterface::checkSampledMotion(samples, failing_index);
  }

  std::vector<std::vector<double>> checked;

 private:
  std::pair<double, double> blocked_;
};

// The summary lines written while it lives.
class CapturedSummary {
 public:
  CapturedSummary() : file_(std::tmpfile()), summary_(file_) {}
  ~CapturedSummary() { std::fclose(file_); }
  Summary& summary() { return summary_; }
  std::string text() {
    std::rewind(file_);
    std::string text;
    for (int c = std::fgetc(file_); c != EOF; c = std::fgetc(file_)) text.push_back(static_cast<char>(c));
    return text;
  }

 private:
  FILE* file_;
  Summary summary_;
};

const Path kPath = {{-1.0, 0.0}, {0.0, 0.5}, {1.0, 0.0}};
const std::vector<double> kVmax = {1.0, 1.0};
const std::vector<double> kAmax = {2.0, 2.0};

TEST(PlanDemoToppraCheck, EverySampleOfAFreeTrajectoryIsCheckedCloseToTheNext) {
  BandScene scene({5.0, 6.0});
  CapturedSummary captured;
  std::vector<std::string> checks;
  ASSERT_TRUE(timeWithToppra(kPath, kVmax, kAmax, scene, captured.summary(), checks)) << captured.text();
  ASSERT_GT(scene.checked.size(), 2000u);  // more than two seconds of motion, every millisecond
  EXPECT_EQ(scene.checked.front(), kPath.front());
  for (std::size_t k = 1; k < scene.checked.size(); ++k) {
    for (std::size_t j = 0; j < 2; ++j) {
      EXPECT_LE(std::abs(scene.checked[k][j] - scene.checked[k - 1][j]), kMaxJointStep * 1.01) << k;
    }
  }
  EXPECT_NEAR(scene.checked.back()[0], kPath.back()[0], 1e-9);
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].rfind("TOPP-RA: samples passed the scene's collision check (" +
                                std::to_string(scene.checked.size()) + " samples, at most 1 ms and 0.002 rad apart)",
                            0),
            0u)
      << checks[0];
}

TEST(PlanDemoToppraCheck, ASampleInCollisionFailsTheRunNamingItsTime) {
  // Every waypoint lies outside the band; the motion between them crosses it.
  BandScene scene({-0.55, -0.45});
  CapturedSummary captured;
  std::vector<std::string> checks;
  EXPECT_FALSE(timeWithToppra(kPath, kVmax, kAmax, scene, captured.summary(), checks));
  const std::string summary = captured.text();
  EXPECT_NE(summary.find("TOPP-RA:"), std::string::npos) << summary;
  EXPECT_NE(summary.find("; in collision at 0."), std::string::npos) << summary;
  ASSERT_EQ(checks.size(), 1u);
  EXPECT_EQ(checks[0].rfind("TOPP-RA: FAILED the collision check of its samples: in collision at 0.", 0), 0u)
      << checks[0];
}

TEST(PlanDemoToppraCheck, SamplesComeEveryPeriodAndCloserWhereJointsMoveFast) {
  // A straight path of 15 rad over 1 s of its parameter, read as time: 15 rad/s.
  const toppra::PiecewisePolyPath fast = toppra::PiecewisePolyPath::CubicHermiteSpline(
      {toppra::Vector::Constant(1, 0.0), toppra::Vector::Constant(1, 15.0)},
      {toppra::Vector::Constant(1, 15.0), toppra::Vector::Constant(1, 15.0)}, {0.0, 1.0});
  const TimedSamples samples = sampleDensely(fast, 1.0);
  ASSERT_EQ(samples.times.size(), samples.positions.size());
  EXPECT_EQ(samples.times.front(), 0.0);
  EXPECT_EQ(samples.times.back(), 1.0);
  EXPECT_EQ(samples.times.size(), 8001u);  // 1000 periods of 15 mrad, each in eight steps
  for (std::size_t k = 1; k < samples.times.size(); ++k) {
    EXPECT_LE(samples.times[k] - samples.times[k - 1], kSamplePeriod + 1e-12);
    EXPECT_LE(std::abs(samples.positions[k][0] - samples.positions[k - 1][0]), kMaxJointStep + 1e-9);
  }
}

}  // namespace
}  // namespace plan_demo
