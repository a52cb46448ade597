// The robot checkers build their self-check broad phase themselves and answer
// matrix lookups from a memo; FCL's own manager and the matrix's own lookups
// are the oracles here: the same pairs must reach the callbacks in the same
// order, and a matrix change must show in the very next check.
#include <algorithm>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include <fcl/broadphase/broadphase_dynamic_AABB_tree.h>
#include <fcl/geometry/shape/box.h>
#include <gtest/gtest.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "collision_detection_fcl/object_tree.h"
#include "planar_arm.h"
#include "scene_arm.h"

namespace cd = collision_detection;
using namespace bramlock_test;

namespace {

// A decider the checks never ask: a conditional pair with one is left to it.
const cd::ContactDeciderFn kRefuse = [](cd::Contact&) { return false; };

using Pair = std::pair<const fcl::CollisionObjectd*, const fcl::CollisionObjectd*>;

// Records every pair handed over; stops the query after `stop_after` pairs when that is not 0.
struct PairLog {
  std::vector<Pair> pairs;
  size_t stop_after = 0;

  bool add(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2) {
    pairs.emplace_back(o1, o2);
    return stop_after != 0 && pairs.size() >= stop_after;
  }
};

bool logCollision(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data) {
  return static_cast<PairLog*>(data)->add(o1, o2);
}

bool logDistance(fcl::CollisionObjectd* o1, fcl::CollisionObjectd* o2, void* data, double&) {
  return static_cast<PairLog*>(data)->add(o1, o2);
}

// Boxes of random sizes at random places; every few boxes repeats an earlier
// one, so the median split meets equal centres.
std::vector<cd::FCLCollisionObjectPtr> randomBoxes(std::mt19937& rng, size_t count) {
  std::uniform_real_distribution<double> place(-1.0, 1.0), size(0.01, 0.6);
  std::vector<cd::FCLCollisionObjectPtr> objects;
  for (size_t i = 0; i < count; ++i) {
    if (i >= 2 && rng() % 5 == 0) {
      objects.push_back(std::make_shared<fcl::CollisionObjectd>(*objects[rng() % objects.size()]));
      continue;
    }
    auto box = std::make_shared<fcl::Boxd>(size(rng), size(rng), size(rng));
    const fcl::Transform3d pose(
        Eigen::Translation3d(place(rng), place(rng), place(rng)) *
        Eigen::AngleAxisd(place(rng) * M_PI, Eigen::Vector3d(place(rng), 1.0, 0.5).normalized()));
    objects.push_back(std::make_shared<fcl::CollisionObjectd>(box, pose));
  }
  return objects;
}

std::vector<fcl::CollisionObjectd*> rawObjects(const std::vector<cd::FCLCollisionObjectPtr>& objects) {
  std::vector<fcl::CollisionObjectd*> raw;
  for (const cd::FCLCollisionObjectPtr& object : objects) raw.push_back(object.get());
  return raw;
}

TEST(ObjectTree, VisitsThePairsOfAFreshManagerInItsOrder) {
  std::mt19937 rng(20261207);
  bramlock::internal::ObjectTree tree;  // one tree rebuilt again and again, as the checkers use it
  for (int round = 0; round < 300; ++round) {
    const size_t count = 1 + rng() % 40;
    const std::vector<cd::FCLCollisionObjectPtr> objects = randomBoxes(rng, count);
    fcl::DynamicAABBTreeCollisionManagerd manager;
    manager.registerObjects(rawObjects(objects));
    tree.build(rawObjects(objects));

    PairLog expected, actual;
    manager.collide(&expected, &logCollision);
    tree.collide(&actual, &logCollision);
    ASSERT_EQ(actual.pairs, expected.pairs) << "round " << round << ", " << count << " boxes";

    PairLog expected_distance, actual_distance;
    manager.distance(&expected_distance, &logDistance);
    tree.distance(&actual_distance, &logDistance);
    ASSERT_EQ(actual_distance.pairs, expected_distance.pairs) << "round " << round;

    if (expected.pairs.size() < 2) continue;
    PairLog stopped;
    stopped.stop_after = expected.pairs.size() / 2;
    tree.collide(&stopped, &logCollision);
    EXPECT_EQ(stopped.pairs, std::vector<Pair>(expected.pairs.begin(), expected.pairs.begin() + stopped.stop_after));
  }
}

TEST(ObjectTree, WithoutObjectsVisitsNothing) {
  bramlock::internal::ObjectTree tree;
  std::mt19937 rng(7);
  const std::vector<cd::FCLCollisionObjectPtr> boxes = randomBoxes(rng, 5);
  tree.build(rawObjects(boxes));
  tree.build({});
  PairLog log;
  tree.collide(&log, &logCollision);
  tree.distance(&log, &logDistance);
  EXPECT_TRUE(log.pairs.empty());
}

const cd::CollisionGeometryData& ownerOf(const fcl::CollisionObjectd* object) {
  return *static_cast<const cd::CollisionGeometryData*>(object->collisionGeometry()->getUserData());
}

// The lines a verbose check prints for conditional pairs, in the order given.
std::string conditionalLines(const std::vector<Pair>& pairs) {
  std::string lines;
  for (const Pair& pair : pairs) {
    const cd::CollisionGeometryData& a = ownerOf(pair.first);
    const cd::CollisionGeometryData& b = ownerOf(pair.second);
    if (a.sameObject(b)) continue;
    lines += "[collision_common]'" + a.getID() + "' and '" + b.getID() + "' is conditionally allowed\n";
  }
  return lines;
}

// The world checker with its broad phase in view.
class OpenWorldChecker : public cd::CollisionWorldFCL {
 public:
  using CollisionWorldFCL::CollisionWorldFCL;
  fcl::BroadPhaseCollisionManagerd& broadPhase() const { return *manager; }
};

class SceneArmPairOrder : public ::testing::Test {
 protected:
  std::shared_ptr<const moveit::core::RobotModel> model = loadSceneArmModel();
  cd::CollisionRobotFCL robot{model};
  std::vector<std::string> names = model->getLinkModelNamesWithCollisionGeometry();

  // Every state of a seeded sweep over the arm's bounds.
  std::vector<std::unique_ptr<moveit::core::RobotState>> randomStates(unsigned seed, int count) const {
    std::mt19937 rng(seed);
    std::vector<std::unique_ptr<moveit::core::RobotState>> states;
    for (int i = 0; i < count; ++i) {
      std::vector<double> values;
      for (const auto& bound : sceneArmBounds()) {
        values.push_back(std::uniform_real_distribution<double>(bound.first, bound.second)(rng));
      }
      auto state = std::make_unique<moveit::core::RobotState>(model);
      state->setToDefaultValues();
      state->setJointGroupPositions(model->getJointModelGroup("arm"), values.data());
      state->update();
      states.push_back(std::move(state));
    }
    return states;
  }

  // Every pair of the names conditional, with a decider that is never asked.
  static void makeConditional(cd::AllowedCollisionMatrix& acm, const std::vector<std::string>& names1,
                              const std::vector<std::string>& names2) {
    for (const std::string& a : names1) {
      for (const std::string& b : names2) acm.setEntry(a, b, kRefuse);
    }
  }
};

TEST_F(SceneArmPairOrder, SelfCheckHandsOverThePairsOfFclsManagerInItsOrder) {
  cd::AllowedCollisionMatrix acm;
  makeConditional(acm, names, names);
  cd::CollisionRequest verbose;
  verbose.verbose = true;
  for (const auto& state : randomStates(11, 150)) {
    cd::FCLManager manager;
    ASSERT_TRUE(robot.allocSelfCollisionBroadPhase(*state, manager));
    PairLog expected;
    manager.manager->collide(&expected, &logCollision);
    ASSERT_FALSE(expected.pairs.empty());

    cd::CollisionResult res;
    OutputCapture capture;
    robot.checkSelfCollision(verbose, res, *state, acm);
    ASSERT_EQ(capture.out(), conditionalLines(expected.pairs));
    EXPECT_FALSE(res.collision);
  }
}

TEST_F(SceneArmPairOrder, WorldCheckHandsOverThePairsOfTheWorldsManagerInItsOrder) {
  auto world = std::make_shared<cd::World>();
  std::vector<std::string> ids;
  std::mt19937 rng(5);
  std::uniform_real_distribution<double> place(-0.6, 0.6), size(0.1, 0.5);
  OutputCapture quiet;
  for (int i = 0; i < 20; ++i) {
    ids.push_back("box" + std::to_string(i));
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.translation() = Eigen::Vector3d(place(rng), place(rng), 0.5 + place(rng));
    world->addToObject(ids.back(), std::make_shared<shapes::Box>(size(rng), size(rng), size(rng)), pose);
  }
  OpenWorldChecker checker(world);
  quiet.out();
  cd::AllowedCollisionMatrix acm;
  makeConditional(acm, names, ids);
  cd::CollisionRequest verbose;
  verbose.verbose = true;
  size_t pairs = 0;
  for (const auto& state : randomStates(12, 150)) {
    cd::FCLObject objects;
    robot.constructFCLObject(*state, objects);
    PairLog expected;
    for (const cd::FCLCollisionObjectPtr& object : objects.objects) {
      checker.broadPhase().collide(object.get(), &expected, &logCollision);
    }
    pairs += expected.pairs.size();

    cd::CollisionResult res;
    OutputCapture capture;
    checker.checkRobotCollision(verbose, res, robot, *state, acm);
    ASSERT_EQ(capture.out(), conditionalLines(expected.pairs));
    EXPECT_FALSE(res.collision);
  }
  EXPECT_GT(pairs, 1000u);
}

// ---- matrix changes between two checks ----

class MatrixFollowed : public ::testing::Test {
 protected:
  static constexpr double kFolded = 3.0;  // upper_link and fore_link overlap
  std::shared_ptr<const moveit::core::RobotModel> model = loadPlanarArm();
  cd::CollisionRobotFCL robot{model};
  std::unique_ptr<moveit::core::RobotState> folded = planarArmState(model, 0.0, kFolded, 0.0);
  std::shared_ptr<cd::World> world = std::make_shared<cd::World>();
  std::unique_ptr<cd::CollisionWorldFCL> world_checker;

  void SetUp() override {
    ASSERT_LT(planarArmSelfGap(0.0, kFolded, 0.0), 0.0);
    OutputCapture quiet;
    // A ball on the hand, away from the other links.
    const Ball hand = planarArmBalls(0.0, kFolded, 0.0).back();
    Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
    pose.translation() = hand.centre;
    world->addToObject("ball", std::make_shared<shapes::Sphere>(0.02), pose);
    world_checker = std::make_unique<cd::CollisionWorldFCL>(world);
  }

  bool selfCollides(const cd::AllowedCollisionMatrix& acm) const {
    cd::CollisionResult res;
    robot.checkSelfCollision(cd::CollisionRequest(), res, *folded, acm);
    return res.collision;
  }

  bool worldCollides(const cd::AllowedCollisionMatrix& acm) const {
    cd::CollisionResult res;
    world_checker->checkRobotCollision(cd::CollisionRequest(), res, robot, *folded, acm);
    return res.collision;
  }

  // Both checks answer `collides` under the matrix: the self check for
  // upper_link against fore_link, the world check for hand_link against the ball.
  void expectCollisions(const cd::AllowedCollisionMatrix& acm, bool collides) const {
    EXPECT_EQ(selfCollides(acm), collides);
    EXPECT_EQ(worldCollides(acm), collides);
  }
};

TEST_F(MatrixFollowed, PairEntriesTakeEffectInTheNextSelfAndWorldCheck) {
  cd::AllowedCollisionMatrix acm;
  expectCollisions(acm, true);
  for (int round = 0; round < 3; ++round) {
    acm.setEntry("upper_link", "fore_link", true);
    acm.setEntry("hand_link", "ball", true);
    expectCollisions(acm, false);
    acm.setEntry("fore_link", "upper_link", false);
    acm.setEntry("ball", "hand_link", false);
    expectCollisions(acm, true);
    // A conditional pair with a decider is left to the decider, so not reported.
    acm.setEntry("upper_link", "fore_link", kRefuse);
    acm.setEntry("hand_link", "ball", kRefuse);
    expectCollisions(acm, false);
    acm.removeEntry("upper_link", "fore_link");
    acm.removeEntry("ball");
    expectCollisions(acm, true);
    acm.setEntry("upper_link", "fore_link", true);
    acm.setEntry("hand_link", "ball", true);
    acm.setEntry(false);
    expectCollisions(acm, true);
    acm.setEntry(true);
    expectCollisions(acm, false);
    acm.clear();
    expectCollisions(acm, true);
  }
}

TEST_F(MatrixFollowed, DefaultEntriesTakeEffectInTheNextSelfAndWorldCheck) {
  cd::AllowedCollisionMatrix acm;
  acm.setEntry("upper_link", "fore_link", true);
  acm.setEntry("hand_link", "ball", true);
  expectCollisions(acm, false);
  // A default overrides every pair entry of its name.
  acm.setDefaultEntry("fore_link", false);
  acm.setDefaultEntry("ball", false);
  expectCollisions(acm, true);
  acm.setDefaultEntry("fore_link", true);
  acm.setDefaultEntry("ball", true);
  expectCollisions(acm, false);
  // The stricter of two defaults holds.
  acm.setDefaultEntry("upper_link", false);
  acm.setDefaultEntry("hand_link", false);
  expectCollisions(acm, true);
  acm.setDefaultEntry("upper_link", kRefuse);
  acm.setDefaultEntry("hand_link", kRefuse);
  expectCollisions(acm, false);
  acm.clear();
  expectCollisions(acm, true);
}

TEST_F(MatrixFollowed, AssignedCopiedAndAlternatingMatricesAnswerForThemselves) {
  cd::AllowedCollisionMatrix allowing, checking;
  allowing.setEntry("upper_link", "fore_link", true);
  allowing.setEntry("hand_link", "ball", true);
  checking.setEntry("upper_link", "fore_link", false);
  checking.setEntry("hand_link", "ball", false);
  for (int i = 0; i < 4; ++i) {
    expectCollisions(allowing, false);
    expectCollisions(checking, true);
  }
  cd::AllowedCollisionMatrix acm = allowing;
  EXPECT_FALSE(selfCollides(acm));
  acm = checking;
  expectCollisions(acm, true);
  acm = std::move(allowing);
  expectCollisions(acm, false);
  // The moved-from matrix answers by what it still holds, whatever that is.
  cd::AllowedCollision::Type left = cd::AllowedCollision::NEVER;
  allowing.getAllowedCollision("upper_link", "fore_link", left);  // NOLINT(bugprone-use-after-move)
  EXPECT_EQ(selfCollides(allowing), left == cd::AllowedCollision::NEVER);
  // Matrices made one after another in the same place answer by their own contents.
  for (int i = 0; i < 6; ++i) {
    cd::AllowedCollisionMatrix local;
    local.setEntry("upper_link", "fore_link", i % 2 == 0);
    EXPECT_EQ(selfCollides(local), i % 2 == 1) << i;
  }
}

TEST(MatrixAnswers, ManyPairsAndChangingMatricesAnswerAsTheMatrixItself) {
  // Forty overlapping balls owned by world objects: far more pairs (in both
  // orders) than the callbacks remember, so remembered answers are replaced
  // again and again while the matrices change under them.
  constexpr int kOwners = 40;
  std::vector<std::shared_ptr<cd::World::Object>> owners;
  std::vector<cd::FCLGeometryConstPtr> geometries;
  std::vector<fcl::CollisionObjectd> objects;
  objects.reserve(kOwners);
  for (int i = 0; i < kOwners; ++i) {
    owners.push_back(std::make_shared<cd::World::Object>("ball" + std::to_string(i)));
    geometries.push_back(cd::createCollisionGeometry(std::make_shared<shapes::Sphere>(0.1), owners.back().get()));
    objects.emplace_back(geometries.back()->geometry, fcl::Transform3d::Identity());
  }
  // Every ordered pair of the first `count` owners answers as the matrix does.
  const auto expectMatrixAnswers = [&](const cd::AllowedCollisionMatrix& acm, int count, int round) {
    for (int i = 0; i < count; ++i) {
      for (int j = 0; j < count; ++j) {
        if (i == j) continue;
        cd::CollisionRequest req;
        cd::CollisionResult res;
        cd::CollisionData cdata(&req, &res, &acm);
        cd::collisionCallback(&objects[i], &objects[j], &cdata);
        cd::AllowedCollision::Type type = cd::AllowedCollision::NEVER;
        acm.getAllowedCollision(owners[i]->id, owners[j]->id, type);
        ASSERT_EQ(res.collision, type == cd::AllowedCollision::NEVER) << round << ": " << i << ", " << j;
      }
    }
  };
  constexpr int kFew = 8;  // their pairs fit in what is remembered
  std::mt19937 rng(42);
  cd::AllowedCollisionMatrix matrices[2];
  for (int round = 0; round < 30; ++round) {
    cd::AllowedCollisionMatrix& acm = matrices[round % 2];
    expectMatrixAnswers(acm, kFew, round);
    for (int change = 0; change < 20; ++change) {
      // Half of the changes among the first few owners, whose answers are remembered now.
      const int range = change % 2 == 0 ? kFew : kOwners;
      const std::string a = owners[rng() % range]->id, b = owners[rng() % range]->id;
      switch (rng() % 4) {
        case 0:
          acm.setEntry(a, b, rng() % 2 == 0);
          break;
        case 1:
          acm.setDefaultEntry(a, rng() % 4 != 0);
          break;
        case 2:
          acm.removeEntry(a, b);
          break;
        default:
          acm.setEntry(a, b, kRefuse);
      }
    }
    expectMatrixAnswers(acm, kFew, round);
    expectMatrixAnswers(acm, kOwners, round);
  }
}

// ---- link objects placed in reused blocks ----

// The boxes of the objects, in order.
std::vector<fcl::AABBd> boxesOf(const cd::FCLObject& objects) {
  std::vector<fcl::AABBd> boxes;
  for (const cd::FCLCollisionObjectPtr& object : objects.objects) boxes.push_back(object->getAABB());
  return boxes;
}

bool sameBoxes(const std::vector<fcl::AABBd>& a, const std::vector<fcl::AABBd>& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (a[i].min_ != b[i].min_ || a[i].max_ != b[i].max_) return false;
  }
  return true;
}

TEST_F(SceneArmPairOrder, PlacedObjectsHeldByACallerKeepTheirPoses) {
  const auto states = randomStates(21, 3);
  cd::FCLObject first;
  robot.constructFCLObject(*states[0], first);
  const std::vector<fcl::AABBd> first_boxes = boxesOf(first);
  {
    cd::FCLObject second;
    robot.constructFCLObject(*states[1], second);
    EXPECT_FALSE(sameBoxes(boxesOf(second), first_boxes));
    cd::CollisionResult res;
    robot.checkSelfCollision(cd::CollisionRequest(), res, *states[2]);
  }
  EXPECT_TRUE(sameBoxes(boxesOf(first), first_boxes));
  // A block given back is placed anew at the next state.
  cd::FCLObject again;
  robot.constructFCLObject(*states[1], again);
  cd::FCLObject fresh;
  cd::CollisionRobotFCL(model).constructFCLObject(*states[1], fresh);
  EXPECT_TRUE(sameBoxes(boxesOf(again), boxesOf(fresh)));
}

TEST_F(SceneArmPairOrder, PaddingChangedAfterQueriesShowsInTheNextPlacement) {
  const auto states = randomStates(22, 1);
  cd::FCLObject before;
  robot.constructFCLObject(*states[0], before);
  before = {};
  {
    OutputCapture quiet;
    robot.setPadding(0.05);
  }
  cd::FCLObject padded;
  robot.constructFCLObject(*states[0], padded);
  cd::FCLObject reference;
  cd::CollisionRobotFCL(model, 0.05).constructFCLObject(*states[0], reference);
  EXPECT_TRUE(sameBoxes(boxesOf(padded), boxesOf(reference)));
}

TEST_F(SceneArmPairOrder, OneCheckerOnTwoThreadsAnswersAsOnOne) {
  const auto states = randomStates(23, 200);
  cd::AllowedCollisionMatrix acm(names, false);
  for (const auto& pair : model->getSRDF()->getDisabledCollisionPairs()) acm.setEntry(pair.link1_, pair.link2_, true);
  std::vector<bool> expected;
  for (const auto& state : states) {
    cd::CollisionResult res;
    robot.checkSelfCollision(cd::CollisionRequest(), res, *state, acm);
    expected.push_back(res.collision);
  }
  ASSERT_NE(std::count(expected.begin(), expected.end(), true), 0);
  ASSERT_NE(std::count(expected.begin(), expected.end(), false), 0);
  const auto sweep = [&](std::vector<bool>& answers) {
    for (int round = 0; round < 5; ++round) {
      for (const auto& state : states) {
        cd::CollisionResult res;
        robot.checkSelfCollision(cd::CollisionRequest(), res, *state, acm);
        answers.push_back(res.collision);
      }
    }
  };
  std::vector<bool> first, second;
  std::thread other([&] { sweep(second); });
  sweep(first);
  other.join();
  for (int round = 0; round < 5; ++round) {
    for (size_t i = 0; i < states.size(); ++i) {
      ASSERT_EQ(first[round * states.size() + i], expected[i]) << i;
      ASSERT_EQ(second[round * states.size() + i], expected[i]) << i;
    }
  }
}

}  // namespace
