// The robot and world checkers against distances computed from sphere
// centres and box corners in closed form, over seeded random states.
#include <algorithm>
#include <limits>
#include <random>

#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "planar_arm.h"

namespace cd = collision_detection;
using namespace bramlock_test;

namespace {

constexpr double kPadding = 0.02;
constexpr double kTolerance = 1e-6;

const Ball kWorldBall{"ball", Eigen::Vector3d(0.45, 0.45, 0.0), 0.2};
const AxisBox kWorldPost{"post", Eigen::Vector3d(-0.5, 0.1, 0.0), Eigen::Vector3d(0.1, 0.15, 0.2)};

double worldGap(double q1, double q2, double q3) {
  // The group "arm" does not move the base, so its pairs with world objects are not checked.
  GapMinimum oracle;
  for (const Ball& ball : planarArmBalls(q1, q2, q3, kPadding)) {
    oracle.add(ball.link, "ball", gap(ball, kWorldBall));
    oracle.add(ball.link, "post", gap(kWorldPost, ball));
  }
  return oracle.min_gap;
}

void addWorldObstacles(cd::World& world) {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translation() = kWorldBall.centre;
  world.addToObject("ball", std::make_shared<shapes::Sphere>(kWorldBall.radius), pose);
  pose.translation() = kWorldPost.centre;
  const Eigen::Vector3d size = 2.0 * kWorldPost.half;
  world.addToObject("post", std::make_shared<shapes::Box>(size.x(), size.y(), size.z()), pose);
}

struct Outcome {
  bool collision;
  double distance;
};

void expectMatches(const Outcome& got, double oracle_gap, const char* what, int sample) {
  // Touching within the distance tolerance is left out: either answer is right.
  if (std::abs(oracle_gap) < 1e-6) return;
  EXPECT_EQ(got.collision, oracle_gap < 0.0) << what << " sample " << sample << " gap " << oracle_gap;
  if (oracle_gap > 0.0) {
    EXPECT_NEAR(got.distance, oracle_gap, kTolerance) << what << " sample " << sample;
  } else {
    EXPECT_LE(got.distance, 0.0) << what << " sample " << sample;
  }
}

TEST(FclCheckerOracleTest, FiveHundredSeededStatesMatchClosedFormGaps) {
  auto model = loadPlanarArm();
  const cd::AllowedCollisionMatrix acm = planarArmMatrix(*model);
  cd::CollisionRobotFCL self_checker(model);
  cd::CollisionRobotFCL padded_checker(model, kPadding);
  auto world = std::make_shared<cd::World>();
  cd::CollisionWorldFCL world_checker(world);
  {
    OutputCapture quiet;  // each added object prints the checker's update line
    addWorldObstacles(*world);
  }

  std::mt19937 rng(20261207);
  std::uniform_real_distribution<double> angle(-3.0, 3.0);
  int self_collisions = 0, world_collisions = 0;
  constexpr int kSamples = 500;
  for (int sample = 0; sample < kSamples; ++sample) {
    const double q1 = angle(rng), q2 = angle(rng), q3 = angle(rng);
    auto state = planarArmState(model, q1, q2, q3);
    cd::CollisionRequest req;
    req.compute_distance = true;
    req.group_name = "arm";

    cd::CollisionResult self_res;
    self_checker.checkSelfCollision(req, self_res, *state, acm);
    const double self_gap = planarArmSelfGap(q1, q2, q3);
    expectMatches({self_res.collision, self_res.distance}, self_gap, "self", sample);
    self_collisions += self_gap < 0.0;

    cd::CollisionResult world_res;
    world_checker.checkRobotCollision(req, world_res, padded_checker, *state, acm);
    const double world_gap = worldGap(q1, q2, q3);
    expectMatches({world_res.collision, world_res.distance}, world_gap, "world", sample);
    world_collisions += world_gap < 0.0;
  }
  // Both outcomes occur often enough for the comparison to mean something.
  EXPECT_GT(self_collisions, kSamples / 10);
  EXPECT_LT(self_collisions, kSamples * 9 / 10);
  EXPECT_GT(world_collisions, kSamples / 10);
  EXPECT_LT(world_collisions, kSamples * 9 / 10);
}

}  // namespace
