#include <cmath>
#include <limits>
#include <memory>
#include <random>
#include <string>

#include <geometric_shapes/mesh_operations.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <octomap/OcTree.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "expect_throw_message.h"
#include "planar_arm.h"

namespace cd = collision_detection;
using namespace bramlock_test;
using ::testing::HasSubstr;

namespace {

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
constexpr double kFolded = 3.0;  // elbow angle at which upper_link and fore_link overlap
const char* const kUpdateLine = "CollisionWorldFCL::updateFCLObject\n";
const char* const kContinuous = "collision_detection.fcl----FCL continuous collision checking not yet implemented";

shapes::ShapeConstPtr ball(double radius) { return std::make_shared<shapes::Sphere>(radius); }

int count(const std::string& text, const std::string& part) {
  int n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

class FclCheckerTest : public ::testing::Test {
 protected:
  std::shared_ptr<const moveit::core::RobotModel> model = loadPlanarArm();
  cd::AllowedCollisionMatrix acm = planarArmMatrix(*model);
  cd::CollisionRobotFCL robot{model};
  std::shared_ptr<cd::World> world = std::make_shared<cd::World>();
  cd::CollisionWorldFCL world_checker{world};

  cd::CollisionResult selfCheck(const moveit::core::RobotState& state, cd::CollisionRequest req = {}) const {
    cd::CollisionResult res;
    robot.checkSelfCollision(req, res, state, acm);
    return res;
  }

  cd::CollisionResult worldCheck(const cd::CollisionRobotFCL& checker, const moveit::core::RobotState& state,
                                 cd::CollisionRequest req = {}) const {
    cd::CollisionResult res;
    world_checker.checkRobotCollision(req, res, checker, state, acm);
    return res;
  }

  void addObject(const std::string& id, const shapes::ShapeConstPtr& shape, const Eigen::Isometry3d& pose) {
    OutputCapture quiet;
    world->addToObject(id, shape, pose);
  }

  void attach(moveit::core::RobotState& state, const std::string& id, const shapes::ShapeConstPtr& shape,
              const Eigen::Isometry3d& offset, const std::set<std::string>& touch_links = {}) {
    OutputCapture quiet;
    state.attachBody(std::make_unique<moveit::core::AttachedBody>(
        model->getLinkModel("hand_link"), id, moveit::core::AttachedBody::ShapeList{shape},
        moveit::core::vector_Isometry3d{offset}, touch_links));
    state.update();
  }
};

// ---- the robot's own links ----

TEST_F(FclCheckerTest, MatrixDefaultsDecidersAndGroupsFilterSelfCollisions) {
  ASSERT_LT(planarArmSelfGap(0.0, kFolded, 0.0), 0.0);
  auto folded = planarArmState(model, 0.0, kFolded, 0.0);
  EXPECT_TRUE(selfCheck(*folded).collision);
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  EXPECT_FALSE(selfCheck(*straight).collision);

  cd::CollisionRequest req;
  req.group_name = "arm";
  EXPECT_TRUE(selfCheck(*folded, req).collision);
  // The hand group moves neither of the two overlapping links.
  req.group_name = "hand";
  EXPECT_FALSE(selfCheck(*folded, req).collision);

  const cd::AllowedCollisionMatrix planar = acm;
  acm.setEntry("upper_link", "fore_link", true);
  EXPECT_FALSE(selfCheck(*folded).collision);
  acm = planar;
  acm.setDefaultEntry("fore_link", true);
  EXPECT_FALSE(selfCheck(*folded).collision);

  // A conditional pair with a decider is not tested, and says so when verbose.
  acm = planar;
  int decider_calls = 0;
  acm.setEntry("upper_link", "fore_link", [&](cd::Contact&) { return ++decider_calls > 0; });
  cd::CollisionRequest verbose;
  verbose.verbose = true;
  OutputCapture capture;
  EXPECT_FALSE(selfCheck(*folded, verbose).collision);
  EXPECT_THAT(capture.out(), HasSubstr("' is conditionally allowed\n"));
  EXPECT_EQ(decider_calls, 0);
}

TEST_F(FclCheckerTest, PaddingMakesANearTouchCollideExactlyWhenTwicePaddingExceedsTheGap) {
  // Bisect the elbow angle for a gap of 1 cm between the folded links.
  const double target = 0.01;
  double low = 2.0, high = kFolded;
  for (int i = 0; i < 100; ++i) {
    const double mid = 0.5 * (low + high);
    (planarArmSelfGap(0.0, mid, 0.0) > target ? low : high) = mid;
  }
  auto state = planarArmState(model, 0.0, low, 0.0);
  const double g = planarArmSelfGap(0.0, low, 0.0);
  ASSERT_NEAR(g, target, 1e-9);
  cd::CollisionRequest req;
  req.compute_distance = true;
  const cd::CollisionResult unpadded = selfCheck(*state, req);
  EXPECT_FALSE(unpadded.collision);
  EXPECT_NEAR(unpadded.distance, g, 1e-6);

  for (double margin : {-1e-5, 1e-5}) {
    cd::CollisionRobotFCL padded(model, g / 2 + margin);
    cd::CollisionResult res;
    padded.checkSelfCollision(cd::CollisionRequest(), res, *state, acm);
    EXPECT_EQ(res.collision, margin > 0) << margin;
  }

  // Padding one link moves only that link's surface: it must exceed the whole gap.
  OutputCapture quiet;
  robot.setLinkPadding("fore_link", g - 1e-5);
  EXPECT_FALSE(selfCheck(*state).collision);
  robot.setLinkPadding("fore_link", g + 1e-5);
  EXPECT_TRUE(selfCheck(*state).collision);
  robot.setLinkPadding("fore_link", 0.0);
  EXPECT_FALSE(selfCheck(*state).collision);
}

TEST_F(FclCheckerTest, PaddingUpdatesRebuildOnlyKnownLinks) {
  OutputCapture capture;
  robot.setLinkPadding("no_such_link", 0.1);
  EXPECT_THAT(capture.out(),
              HasSubstr("collision_detection.fcl----Updating padding or scaling for unknown link: 'no_such_link'"));
}

TEST_F(FclCheckerTest, DistanceRecordsFollowTheRequestType) {
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  const auto balls = planarArmBalls(0.0, 0.0, 0.0);  // upper, fore, fore, hand
  cd::DistanceRequest dreq;
  dreq.acm = &acm;

  cd::DistanceResult global;
  robot.distanceSelf(dreq, global, *straight);
  EXPECT_TRUE(global.distances.empty());
  EXPECT_NEAR(global.minimum_distance.distance, planarArmSelfGap(0.0, 0.0, 0.0), 1e-6);
  EXPECT_FALSE(global.collision);

  dreq.type = cd::ONE_PER_PAIR;
  cd::DistanceResult one;
  robot.distanceSelf(dreq, one, *straight);
  // base/fore, base/hand, fore/hand, fore/upper, hand/upper; base/upper is allowed.
  ASSERT_EQ(one.distances.size(), 5u);
  const auto& upper_fore = one.distances.at({"fore_link", "upper_link"});
  ASSERT_EQ(upper_fore.size(), 1u);
  EXPECT_NEAR(upper_fore[0].distance, gap(balls[0], balls[1]), 1e-6);
  EXPECT_EQ(one.distances.count({"base_link", "upper_link"}), 0u);

  dreq.type = cd::ALL_PER_PAIR;
  cd::DistanceResult all;
  robot.distanceSelf(dreq, all, *straight);
  EXPECT_EQ(all.distances.at({"fore_link", "upper_link"}).size(), 2u);  // one per fore sphere

  dreq.type = cd::LIMITED_PER_PAIR;
  dreq.max_contacts_per_body = 1;
  cd::DistanceResult limited;
  robot.distanceSelf(dreq, limited, *straight);
  EXPECT_EQ(limited.distances.at({"fore_link", "upper_link"}).size(), 1u);
  dreq.max_contacts_per_body = std::numeric_limits<size_t>::max();
  cd::DistanceResult unlimited;
  robot.distanceSelf(dreq, unlimited, *straight);
  EXPECT_EQ(unlimited.distances.at({"fore_link", "upper_link"}).size(), 2u);

  // Only pairs closer than the threshold are recorded; a NaN threshold records none.
  dreq.type = cd::ALL_PER_PAIR;
  for (double threshold : {0.2, kNaN, -kInf}) {
    dreq.distance_threshold = threshold;
    cd::DistanceResult near;
    robot.distanceSelf(dreq, near, *straight);
    for (const auto& pair : near.distances) {
      for (const auto& record : pair.second) EXPECT_LT(record.distance, 0.2);
    }
    if (!(threshold > 0.0)) {
      EXPECT_TRUE(near.distances.empty());
      EXPECT_EQ(near.minimum_distance.distance, std::numeric_limits<double>::max());
    }
  }
}

TEST_F(FclCheckerTest, SignedDistanceGivesThePenetrationDepthWithoutStopping) {
  auto folded = planarArmState(model, 0.0, kFolded, 0.0);
  cd::DistanceRequest dreq;
  dreq.acm = &acm;
  dreq.signed_distance = true;
  dreq.type = cd::ALL_PER_PAIR;
  cd::DistanceResult res;
  robot.distanceSelf(dreq, res, *folded);
  EXPECT_TRUE(res.collision);
  EXPECT_NEAR(res.minimum_distance.distance, planarArmSelfGap(0.0, kFolded, 0.0), 1e-6);
  // Not stopped at the collision: every pair was measured, both fore spheres against the upper one.
  EXPECT_EQ(res.distances.size(), 5u);
  EXPECT_EQ(res.distances.at({"fore_link", "upper_link"}).size(), 2u);
}

TEST_F(FclCheckerTest, TwoStateQueriesOnlyReportThatTheyAreMissing) {
  auto state = planarArmState(model, 0.0, kFolded, 0.0);
  cd::CollisionResult res;
  OutputCapture capture;
  robot.checkSelfCollision(cd::CollisionRequest(), res, *state, *state);
  robot.checkSelfCollision(cd::CollisionRequest(), res, *state, *state, acm);
  robot.checkOtherCollision(cd::CollisionRequest(), res, *state, *state, robot, *state, *state);
  robot.checkOtherCollision(cd::CollisionRequest(), res, *state, *state, robot, *state, *state, acm);
  world_checker.checkRobotCollision(cd::CollisionRequest(), res, robot, *state, *state);
  world_checker.checkRobotCollision(cd::CollisionRequest(), res, robot, *state, *state, acm);
  EXPECT_EQ(count(capture.out(), kContinuous), 6);
  EXPECT_FALSE(res.collision);
}

TEST_F(FclCheckerTest, StatesWrittenWithValuesThatAreNotNumbersAreReportedAsCollisions) {
  addObject("far_ball", ball(0.05), at(5.0, 5.0, 5.0));
  const auto free = planarArmState(model, 0.0, 0.0, 0.0);
  for (double bad : {kNaN, kInf}) {
    // The setters refuse such values; the raw array does not.
    auto state = planarArmState(model, 0.0, 0.0, 0.0);
    state->getVariablePositions()[1] = bad;
    state->update(true);
    OutputCapture capture;
    cd::CollisionRequest req;
    req.compute_distance = true;
    cd::CollisionResult self, other, other_way, in_world;
    robot.checkSelfCollision(req, self, *state, acm);
    robot.checkOtherCollision(req, other, *state, robot, *free, acm);
    robot.checkOtherCollision(req, other_way, *free, robot, *state, acm);
    world_checker.checkRobotCollision(req, in_world, robot, *state, acm);
    for (const cd::CollisionResult* res : {&self, &other, &other_way, &in_world}) {
      EXPECT_TRUE(res->collision) << bad;
      EXPECT_EQ(res->distance, 0.0) << bad;
    }
    cd::DistanceResult self_distance, world_distance;
    robot.distanceSelf(cd::DistanceRequest(), self_distance, *state);
    world_checker.distanceRobot(cd::DistanceRequest(), world_distance, robot, *state);
    for (const cd::DistanceResult* res : {&self_distance, &world_distance}) {
      EXPECT_TRUE(res->collision) << bad;
      EXPECT_EQ(res->minimum_distance.distance, 0.0) << bad;
    }
    EXPECT_THAT(capture.out(), HasSubstr("collision_detection.fcl----Robot state has poses that are not finite"));
  }
  EXPECT_FALSE(selfCheck(*free).collision);
  EXPECT_FALSE(worldCheck(robot, *free).collision);
}

TEST_F(FclCheckerTest, BodiesSoFarOutThatTheirBoxSizesOverflowAreReportedAsCollisions) {
  auto state = planarArmState(model, 0.0, 0.0, 0.0);
  attach(*state, "far", ball(0.05), at(1e200, 0.0, 0.0));
  OutputCapture capture;
  robot.updatedAttachBodyGeometry(*state);
  EXPECT_TRUE(selfCheck(*state).collision);
  EXPECT_TRUE(worldCheck(robot, *state).collision);
  EXPECT_THAT(capture.out(), HasSubstr("not finite or too far out: reported as a collision"));
  // A thousand kilometres out is still a place.
  auto near_enough = planarArmState(model, 0.0, 0.0, 0.0);
  attach(*near_enough, "far", ball(0.05), at(1e6, 0.0, 0.0));
  robot.updatedAttachBodyGeometry(*near_enough);
  EXPECT_FALSE(selfCheck(*near_enough).collision);
}

TEST_F(FclCheckerTest, RobotAgainstRobotMatchesClosedFormGaps) {
  std::mt19937 rng(7);
  std::uniform_real_distribution<double> angle(-3.0, 3.0);
  int collisions = 0;
  for (int sample = 0; sample < 60; ++sample) {
    const double a[3] = {angle(rng), angle(rng), angle(rng)};
    const double b[3] = {angle(rng), angle(rng), angle(rng)};
    auto state_a = planarArmState(model, a[0], a[1], a[2]);
    auto state_b = planarArmState(model, b[0], b[1], b[2]);
    // Bodies of one link are one body in both robots: only pairs of different links count.
    GapMinimum oracle;
    const AxisBox base = planarArmBase();
    for (const Ball& first : planarArmBalls(a[0], a[1], a[2])) {
      oracle.add(base.name, first.link, gap(base, first));
      for (const Ball& second : planarArmBalls(b[0], b[1], b[2]))
        oracle.add(first.link, second.link, gap(first, second));
    }
    for (const Ball& second : planarArmBalls(b[0], b[1], b[2])) oracle.add(base.name, second.link, gap(base, second));
    if (std::abs(oracle.min_gap) < 1e-6) continue;

    cd::CollisionRequest req;
    req.compute_distance = true;
    cd::CollisionResult res;
    robot.checkOtherCollision(req, res, *state_a, robot, *state_b);
    EXPECT_EQ(res.collision, oracle.min_gap < 0.0) << sample;
    if (oracle.min_gap > 0.0) {
      EXPECT_NEAR(res.distance, oracle.min_gap, 1e-6) << sample;
    }
    collisions += oracle.min_gap < 0.0;
  }
  EXPECT_GT(collisions, 5);
  EXPECT_LT(collisions, 55);
}

TEST_F(FclCheckerTest, BadConstructionInputIsRefusedOrReplaced) {
  EXPECT_THROW_MESSAGE(cd::CollisionRobotFCL(nullptr), std::invalid_argument,
                       "^collision_detection---Robot model must not be null$");
  OutputCapture quiet;
  cd::CollisionRobotFCL sanitised(model, kNaN, kInf);
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  cd::CollisionRequest req;
  req.compute_distance = true;
  cd::CollisionResult res;
  sanitised.checkSelfCollision(req, res, *straight, acm);
  EXPECT_FALSE(res.collision);
  EXPECT_NEAR(res.distance, planarArmSelfGap(0.0, 0.0, 0.0), 1e-6);

  cd::CollisionWorldFCL from_null(nullptr);
  cd::CollisionResult world_res;
  from_null.checkRobotCollision(req, world_res, robot, *straight);
  EXPECT_FALSE(world_res.collision);
  EXPECT_EQ(world_res.distance, std::numeric_limits<double>::max());
}

TEST(FclCheckerWithoutGeometryTest, ARobotWithoutCollisionShapesNeverCollides) {
  TempDir dir;
  writeFile(dir.path() / "bare.urdf", R"(<robot name="bare"><link name="a"/><link name="b"/>
    <joint name="j" type="revolute"><parent link="a"/><child link="b"/><axis xyz="0 0 1"/>
    <limit lower="-1" upper="1" effort="1" velocity="1"/></joint></robot>)");
  writeFile(dir.path() / "bare.srdf", R"(<robot name="bare"><group name="all"><joint name="j"/></group></robot>)");
  std::shared_ptr<const moveit::core::RobotModel> bare;
  {
    OutputCapture quiet;
    bare = std::make_shared<const moveit::core::RobotModel>(dir.path().string() + "/", "bare.urdf", "bare.srdf");
  }
  ASSERT_EQ(bare->getLinkGeometryCount(), 0u);
  cd::CollisionRobotFCL checker(bare);
  moveit::core::RobotState state(bare);
  state.setToDefaultValues();
  state.update();
  cd::CollisionRequest req;
  req.compute_distance = true;
  cd::CollisionResult res;
  checker.checkSelfCollision(req, res, state);
  EXPECT_FALSE(res.collision);
  EXPECT_EQ(res.distance, std::numeric_limits<double>::max());
}

// ---- attached bodies ----

TEST_F(FclCheckerTest, AttachedBodiesTakePartWhetherOrNotTheirGeometryIsUpdated) {
  auto state = planarArmState(model, 0.0, 0.0, 0.0);
  // The hand link ends at x = 1.0 on the straight arm; a target sits just beyond it.
  addObject("target", ball(0.05), at(1.05, 0.0, 0.0));
  EXPECT_FALSE(worldCheck(robot, *state).collision);
  attach(*state, "cup", ball(0.05), at(0.25, 0.0, 0.0));
  EXPECT_TRUE(worldCheck(robot, *state).collision);

  robot.updatedAttachBodyGeometry(*state);
  EXPECT_TRUE(worldCheck(robot, *state).collision);
  const cd::CollisionRobotFCL copy(robot);
  EXPECT_TRUE(worldCheck(copy, *state).collision);

  // Removed without telling the checker: neither a crash nor a report.
  ASSERT_TRUE(state->clearAttachedBody("cup"));
  EXPECT_FALSE(worldCheck(robot, *state).collision);
  cd::CollisionRequest req;
  req.compute_distance = true;
  EXPECT_GT(worldCheck(robot, *state, req).distance, 0.0);
}

// The object kept for an attached mesh is moved with its body: on states
// alternating between two poses, the checker told of the body and one that
// builds its geometry per query answer as the poses say.
TEST_F(FclCheckerTest, AttachedMeshAnswersFollowItsBodyFromStateToState) {
  // A 4 cm mesh cube 0.1 m beyond the hand's frame and 0.15 m below the arm's
  // plane: on the straight arm it reaches a target ball; with the elbow
  // folded and the wrist turned back it sits in the base box.
  const shapes::ShapeConstPtr cube(shapes::createMeshFromShape(shapes::Box(0.04, 0.04, 0.04)));
  addObject("target", ball(0.03), at(0.85, 0.0, -0.19));
  acm.setEntry("upper_link", "fore_link", true);
  auto state = planarArmState(model, 0.0, 0.0, 0.0);
  attach(*state, "cube", cube, at(0.1, 0.0, -0.15));
  robot.updatedAttachBodyGeometry(*state);
  const cd::CollisionRobotFCL per_query(model);
  const std::vector<const cd::CollisionRobotFCL*> checkers = {&robot, &per_query};
  const auto move = [&](double elbow, double wrist) {
    const double values[3] = {0.0, elbow, wrist};
    state->setJointGroupPositions(model->getJointModelGroup("arm"), values);
    state->update();
  };
  for (int round = 0; round < 3; ++round) {
    for (const bool straight : {true, false}) {
      straight ? move(0.0, 0.0) : move(kFolded, 1.5);
      for (const cd::CollisionRobotFCL* checker : checkers) {
        cd::CollisionResult self;
        checker->checkSelfCollision(cd::CollisionRequest(), self, *state, acm);
        EXPECT_EQ(self.collision, !straight) << "round " << round;
        EXPECT_EQ(worldCheck(*checker, *state).collision, straight) << "round " << round;
      }
    }
  }
}

TEST_F(FclCheckerTest, ARemainingBodyNeverGetsTheShapesOfARemovedOne) {
  auto state = planarArmState(model, 0.0, 0.0, 0.0);
  addObject("target", ball(0.05), at(1.05, 0.0, 0.0));
  attach(*state, "a_cup", ball(0.05), at(0.25, 0.0, 0.0));    // touches the target
  attach(*state, "b_probe", ball(0.01), at(-0.2, 0.3, 0.0));  // far from everything
  robot.updatedAttachBodyGeometry(*state);
  EXPECT_TRUE(worldCheck(robot, *state).collision);

  ASSERT_TRUE(state->clearAttachedBody("a_cup"));
  EXPECT_FALSE(worldCheck(robot, *state).collision);
  cd::DistanceRequest dreq;
  dreq.type = cd::ONE_PER_PAIR;
  cd::DistanceResult dres;
  world_checker.distanceRobot(dreq, dres, robot, *state);
  EXPECT_EQ(dres.distances.count({"a_cup", "target"}), 0u);
  // The probe is measured at its own place, with its own radius.
  ASSERT_EQ(dres.distances.count({"b_probe", "target"}), 1u);
  const Eigen::Vector3d probe(0.75 - 0.2, 0.3, 0.0);  // hand_link's frame sits at x = 0.75
  EXPECT_NEAR(dres.distances.at({"b_probe", "target"})[0].distance,
              (probe - Eigen::Vector3d(1.05, 0.0, 0.0)).norm() - 0.06, 1e-6);
}

TEST_F(FclCheckerTest, TouchLinksAndSharedLinksExemptAttachedBodies) {
  auto state = planarArmState(model, 0.0, 0.0, 0.0);
  // A sleeve around the outer fore_link sphere (x = 0.65), carried by the hand.
  attach(*state, "sleeve", ball(0.05), at(-0.1, 0.0, 0.0));
  robot.updatedAttachBodyGeometry(*state);
  EXPECT_TRUE(selfCheck(*state).collision);

  attach(*state, "sleeve", ball(0.05), at(-0.1, 0.0, 0.0), {"fore_link"});
  robot.updatedAttachBodyGeometry(*state);
  EXPECT_FALSE(selfCheck(*state).collision);
  cd::DistanceRequest dreq;
  dreq.type = cd::ONE_PER_PAIR;
  dreq.acm = &acm;
  cd::DistanceResult touching;
  robot.distanceSelf(dreq, touching, *state);
  EXPECT_EQ(touching.distances.count({"fore_link", "sleeve"}), 0u);

  // Two bodies on one link overlap: never collision-tested, but measured.
  auto fresh = planarArmState(model, 0.0, 0.0, 0.0);
  attach(*fresh, "left", ball(0.03), at(0.3, 0.0, 0.0));
  attach(*fresh, "right", ball(0.03), at(0.32, 0.0, 0.0));
  robot.updatedAttachBodyGeometry(*fresh);
  EXPECT_FALSE(selfCheck(*fresh).collision);
  cd::DistanceResult shared;
  robot.distanceSelf(dreq, shared, *fresh);
  EXPECT_TRUE(shared.collision);
  EXPECT_EQ(shared.distances.count({"left", "right"}), 1u);
}

// ---- the world mirror ----

TEST_F(FclCheckerTest, WorldChangesReachTheCheckerOneObjectAtATime) {
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  {
    OutputCapture capture;
    world->addToObject("box", std::make_shared<shapes::Box>(0.1, 0.1, 0.1), at(0.5, 0.0, 0.0));
    EXPECT_EQ(capture.out(), kUpdateLine);
  }
  EXPECT_TRUE(worldCheck(robot, *straight).collision);
  {
    OutputCapture capture;
    EXPECT_TRUE(world->moveObject("box", at(0.0, 0.5, 0.0)));
    EXPECT_EQ(capture.out(), kUpdateLine);
  }
  EXPECT_FALSE(worldCheck(robot, *straight).collision);
  {
    // A replaced shape reaches the checker too: a ball big enough to reach the arm.
    OutputCapture capture;
    EXPECT_EQ(world->updateToObject("box", ball(0.5), at(0.0, 0.5, 0.0), 0), 0);
    EXPECT_THAT(capture.out(), HasSubstr(kUpdateLine));
  }
  EXPECT_TRUE(worldCheck(robot, *straight).collision);
  {
    OutputCapture capture;
    EXPECT_TRUE(world->removeObject("box"));
    EXPECT_EQ(capture.out(), "");
  }
  EXPECT_FALSE(worldCheck(robot, *straight).collision);

  // The matrix can allow a link against a world object.
  addObject("box", std::make_shared<shapes::Box>(0.1, 0.1, 0.1), at(0.5, 0.0, 0.0));
  acm.setEntry("fore_link", "box", true);
  EXPECT_FALSE(worldCheck(robot, *straight).collision);
}

TEST_F(FclCheckerTest, SetWorldSwitchesTheMirror) {
  auto other = std::make_shared<cd::World>();
  other->addToObject("a", ball(0.1), at(0.5, 0.0, 0.0));
  other->addToObject("b", ball(0.1), at(5.0, 0.0, 0.0));
  other->addToObject("c", ball(0.1), at(-5.0, 0.0, 0.0));
  {
    OutputCapture capture;
    cd::CollisionWorldFCL mirror(other);
    EXPECT_EQ(count(capture.out(), kUpdateLine), 3);
  }
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  {
    OutputCapture capture;
    world_checker.setWorld(world);
    EXPECT_EQ(capture.out(), "");
  }
  EXPECT_FALSE(worldCheck(robot, *straight).collision);
  {
    OutputCapture capture;
    world_checker.setWorld(other);
    EXPECT_EQ(count(capture.out(), kUpdateLine), 3);
  }
  EXPECT_TRUE(worldCheck(robot, *straight).collision);
  {
    // The old World is no longer observed.
    OutputCapture capture;
    world->addToObject("late", ball(0.1), at(0.2, 0.0, 0.0));
    EXPECT_EQ(capture.out(), "");
  }
  EXPECT_TRUE(other->removeObject("a"));
  EXPECT_FALSE(worldCheck(robot, *straight).collision);

  world_checker.setWorld(nullptr);
  EXPECT_FALSE(worldCheck(robot, *straight).collision);
}

TEST_F(FclCheckerTest, CopiedWorldCheckerSharesTheMirror) {
  addObject("box", std::make_shared<shapes::Box>(0.1, 0.1, 0.1), at(0.5, 0.0, 0.0));
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  const cd::CollisionWorldFCL copy(world_checker, world);
  cd::CollisionResult res;
  copy.checkRobotCollision(cd::CollisionRequest(), res, robot, *straight);
  EXPECT_TRUE(res.collision);
}

TEST_F(FclCheckerTest, OctreeVoxelsNearAndFar) {
  auto straight = planarArmState(model, 0.0, 0.0, 0.0);
  auto tree = std::make_shared<octomap::OcTree>(0.1);
  // The voxel [0.9, 1.0] x [0.5, 0.6] x [0, 0.1]: 0.5 - 0.045 from the hand sphere at (0.9, 0, 0).
  tree->updateNode(octomap::point3d(0.95f, 0.55f, 0.05f), true);
  addObject("octomap", std::make_shared<shapes::OcTree>(tree), Eigen::Isometry3d::Identity());
  cd::CollisionRequest req;
  req.compute_distance = true;
  cd::CollisionResult far = worldCheck(robot, *straight, req);
  EXPECT_FALSE(far.collision);
  EXPECT_NEAR(far.distance, 0.5 - 0.045, 1e-6);

  // A voxel with a corner at the hand sphere's centre.
  auto near_tree = std::make_shared<octomap::OcTree>(*tree);
  near_tree->updateNode(octomap::point3d(0.95f, 0.05f, 0.05f), true);
  addObject("octomap", std::make_shared<shapes::OcTree>(near_tree), Eigen::Isometry3d::Identity());
  EXPECT_TRUE(worldCheck(robot, *straight).collision);

  // FCL cannot measure against an octree without nodes; such an object is skipped.
  world->removeObject("octomap");
  addObject("empty", std::make_shared<shapes::OcTree>(std::make_shared<octomap::OcTree>(0.1)),
            Eigen::Isometry3d::Identity());
  cd::CollisionResult empty = worldCheck(robot, *straight, req);
  EXPECT_FALSE(empty.collision);
  EXPECT_EQ(empty.distance, std::numeric_limits<double>::max());
}

// Two worlds of one object each, a known gap apart.
TEST_F(FclCheckerTest, KnownGapsBetweenBoxesSpheresCylindersAndMeshes) {
  const std::shared_ptr<shapes::Mesh> mesh(shapes::createMeshFromShape(shapes::Box(1.0, 1.0, 1.0)));
  struct Case {
    const char* name;
    shapes::ShapeConstPtr first, second;
    Eigen::Isometry3d second_pose;
    double gap;
  };
  const Case cases[] = {
      {"sphere-box", ball(0.1), std::make_shared<shapes::Box>(0.2, 0.2, 0.2), at(0.5, 0.0, 0.0), 0.3},
      {"sphere-cylinder", ball(0.1), std::make_shared<shapes::Cylinder>(0.05, 0.4), at(0.0, 0.4, 0.0), 0.25},
      {"sphere-mesh", ball(0.1), mesh, at(0.0, 0.0, -1.0), 0.4},
      {"box-box", std::make_shared<shapes::Box>(0.2, 0.2, 0.2), std::make_shared<shapes::Box>(0.2, 0.2, 0.2),
       at(0.3, 0.3, 0.0), std::sqrt(0.02)},
      {"cylinder-mesh", std::make_shared<shapes::Cylinder>(0.1, 0.2), mesh, at(0.0, 0.75, 0.0), 0.15},
      {"sphere-sphere", ball(0.1), ball(0.2), at(0.0, 0.0, 0.5), 0.2},
  };
  for (const Case& c : cases) {
    OutputCapture quiet;
    auto first = std::make_shared<cd::World>();
    auto second = std::make_shared<cd::World>();
    first->addToObject("first", c.first, Eigen::Isometry3d::Identity());
    second->addToObject("second", c.second, c.second_pose);
    cd::CollisionWorldFCL first_checker(first), second_checker(second);
    cd::CollisionRequest req;
    req.compute_distance = true;
    cd::CollisionResult res;
    first_checker.checkWorldCollision(req, res, second_checker);
    quiet.out();
    EXPECT_FALSE(res.collision) << c.name;
    EXPECT_NEAR(res.distance, c.gap, 1e-6) << c.name;

    // Moved 5 cm past contact, they collide (a mesh is a surface: it must be crossed).
    const Eigen::Vector3d step = -c.second_pose.translation().normalized() * (c.gap + 0.05);
    {
      OutputCapture quiet_move;
      second->moveObject("second", at(step.x(), step.y(), step.z()));
    }
    cd::CollisionResult touching;
    first_checker.checkWorldCollision(cd::CollisionRequest(), touching, second_checker, acm);
    EXPECT_TRUE(touching.collision) << c.name;
  }
}

}  // namespace
