#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "mock_checkers.h"
#include "test_arm.h"

namespace {

using bramlock_test::MockCollisionRobot;
using bramlock_test::MockCollisionWorld;
using collision_detection::AllowedCollisionMatrix;
using collision_detection::CollisionRequest;
using collision_detection::CollisionResult;
using collision_detection::World;
using moveit::core::RobotState;
using ::testing::_;
using ::testing::Ref;
using ::testing::StrictMock;

// How the self check leaves the result.
struct SelfOutcome {
  bool collision;
  size_t pairs;          // entries of contacts
  size_t contact_count;  // not what the stop test reads
};

// Typed reference matchers pick one overload among the four forms.
template <typename T>
::testing::Matcher<const T&> same(const T& object) {
  return Ref(object);
}

void fill(CollisionResult& res, const SelfOutcome& outcome) {
  res.collision = outcome.collision;
  res.contact_count = outcome.contact_count;
  for (size_t i = 0; i < outcome.pairs; ++i) res.contacts[{"a" + std::to_string(i), "b"}].emplace_back();
}

class CollisionWorldTest : public ::testing::Test {
 protected:
  const std::shared_ptr<const moveit::core::RobotModel> model_ = bramlock_test::loadTestArm();
  const RobotState state1_{model_};
  const RobotState state2_{model_};
  const AllowedCollisionMatrix acm_;
  StrictMock<MockCollisionRobot> robot_{model_, 0.0, 1.0};
  StrictMock<MockCollisionWorld> world_;

  // Runs the four checkCollision forms with the self check leaving the
  // outcome; each form must pass its own arguments on, and the world check
  // must run exactly when expected.
  void expectWorldCheck(const CollisionRequest& req, const SelfOutcome& outcome, bool world_check_runs) {
    const int world_calls = world_check_runs ? 1 : 0;
    const auto self = [outcome](const CollisionRequest&, CollisionResult& res, auto&&...) { fill(res, outcome); };
    {
      CollisionResult res;
      EXPECT_CALL(robot_, checkSelfCollision(Ref(req), Ref(res), same(state1_))).WillOnce(self);
      EXPECT_CALL(world_, checkRobotCollision(Ref(req), Ref(res), same<collision_detection::CollisionRobot>(robot_),
                                              same(state1_)))
          .Times(world_calls);
      world_.checkCollision(req, res, robot_, state1_);
    }
    {
      CollisionResult res;
      EXPECT_CALL(robot_, checkSelfCollision(Ref(req), Ref(res), same(state1_), same(acm_))).WillOnce(self);
      EXPECT_CALL(world_, checkRobotCollision(Ref(req), Ref(res), same<collision_detection::CollisionRobot>(robot_),
                                              same(state1_), same(acm_)))
          .Times(world_calls);
      world_.checkCollision(req, res, robot_, state1_, acm_);
    }
    {
      CollisionResult res;
      EXPECT_CALL(robot_, checkSelfCollision(Ref(req), Ref(res), same(state1_), same(state2_))).WillOnce(self);
      EXPECT_CALL(world_, checkRobotCollision(Ref(req), Ref(res), same<collision_detection::CollisionRobot>(robot_),
                                              same(state1_), same(state2_)))
          .Times(world_calls);
      world_.checkCollision(req, res, robot_, state1_, state2_);
    }
    {
      CollisionResult res;
      EXPECT_CALL(robot_, checkSelfCollision(Ref(req), Ref(res), same(state1_), same(state2_), same(acm_)))
          .WillOnce(self);
      EXPECT_CALL(world_, checkRobotCollision(Ref(req), Ref(res), same<collision_detection::CollisionRobot>(robot_),
                                              same(state1_), same(state2_), same(acm_)))
          .Times(world_calls);
      world_.checkCollision(req, res, robot_, state1_, state2_, acm_);
    }
    ::testing::Mock::VerifyAndClearExpectations(&robot_);
    ::testing::Mock::VerifyAndClearExpectations(&world_);
  }
};

TEST_F(CollisionWorldTest, WorldIsCheckedWhenTheSelfCheckFindsNothing) {
  CollisionRequest req;
  expectWorldCheck(req, {false, 0, 0}, true);
  req.want_contacts = true;
  expectWorldCheck(req, {false, 3, 3}, true);
}

TEST_F(CollisionWorldTest, ASelfCollisionEndsTheQueryUnlessMoreContactsAreWanted) {
  CollisionRequest req;
  expectWorldCheck(req, {true, 0, 0}, false);
  expectWorldCheck(req, {true, 5, 5}, false);

  req.want_contacts = true;
  req.max_contacts = 2;
  expectWorldCheck(req, {true, 1, 1}, true);
  // The pairs in the map count, not contact_count.
  expectWorldCheck(req, {true, 1, 9}, true);
  expectWorldCheck(req, {true, 2, 0}, false);
  req.max_contacts = 1;
  expectWorldCheck(req, {true, 1, 1}, false);
  req.max_contacts = 0;
  expectWorldCheck(req, {true, 0, 0}, false);
}

TEST_F(CollisionWorldTest, ConstructionAndSetWorld) {
  ASSERT_TRUE(world_.worldHandle());
  EXPECT_EQ(world_.constWorldHandle(), world_.worldHandle());
  EXPECT_TRUE(world_.worldHandle()->getObjectIds().empty());

  const auto shared = std::make_shared<World>();
  const StrictMock<MockCollisionWorld> on_shared(shared);
  EXPECT_EQ(on_shared.worldHandle(), shared);
  EXPECT_EQ(on_shared.constWorldHandle(), shared);
  const StrictMock<MockCollisionWorld> copy(on_shared, world_.worldHandle());
  EXPECT_EQ(copy.worldHandle(), world_.worldHandle());
  EXPECT_EQ(copy.constWorldHandle(), world_.worldHandle());
  const StrictMock<MockCollisionWorld> on_null(nullptr);  // stored as given
  EXPECT_FALSE(on_null.worldHandle());

  world_.setWorld(shared);
  EXPECT_EQ(world_.worldHandle(), shared);
  EXPECT_EQ(world_.constWorldHandle(), shared);
  world_.setWorld(nullptr);
  ASSERT_TRUE(world_.worldHandle());
  EXPECT_NE(world_.worldHandle(), shared);
  EXPECT_EQ(world_.constWorldHandle(), world_.worldHandle());
  EXPECT_TRUE(world_.worldHandle()->getObjectIds().empty());
}

TEST(CollisionRecords, CostSourcesSortTotallyEvenWithNaN) {
  using collision_detection::CostSource;
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const auto source = [](double cost, double corner) {
    CostSource s;
    s.cost = cost;
    s.aabb_min = {corner, 0.0, 0.0};
    return s;
  };
  std::set<CostSource> sources;
  for (const CostSource& s : {source(nan, 0.0), source(1.0, 0.0), source(3.0, nan), source(3.0, 1.0), source(nan, 0.0),
                              source(3.0, nan), source(1.0, 0.0), source(3.0, -1.0)}) {
    sources.insert(s);
  }
  ASSERT_EQ(sources.size(), 5u);
  std::vector<std::pair<double, double>> order;
  for (const CostSource& s : sources) order.emplace_back(s.cost, s.aabb_min[0]);
  EXPECT_EQ(order[0], std::make_pair(3.0, -1.0));
  EXPECT_EQ(order[1], std::make_pair(3.0, 1.0));
  EXPECT_EQ(order[2].first, 3.0);
  EXPECT_TRUE(std::isnan(order[2].second));
  EXPECT_EQ(order[3], std::make_pair(1.0, 0.0));
  EXPECT_TRUE(std::isnan(order[4].first));
}

}  // namespace
