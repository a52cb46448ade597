#pragma once

#include <gmock/gmock.h>

#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/collision_robot.h"
#include "bramlock_arm_planning_core/collision_detection/collision_world.h"

namespace bramlock_test {

using collision_detection::AllowedCollisionMatrix;
using collision_detection::CollisionRequest;
using collision_detection::CollisionResult;
using collision_detection::DistanceRequest;
using collision_detection::DistanceResult;
using moveit::core::RobotState;

// A robot checker whose queries and hooks are expectations.
class MockCollisionRobot : public collision_detection::CollisionRobot {
 public:
  using CollisionRobot::CollisionRobot;
  // Copies the base's values; expectations are not copied.
  MockCollisionRobot(const MockCollisionRobot& other) : CollisionRobot(other) {}
  using Robot = collision_detection::CollisionRobot;
  using Acm = AllowedCollisionMatrix;

  MOCK_METHOD(void, checkSelfCollision, (const CollisionRequest&, CollisionResult&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, checkSelfCollision, (const CollisionRequest&, CollisionResult&, const RobotState&, const Acm&),
              (const, override));
  MOCK_METHOD(void, checkSelfCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const RobotState&), (const, override));
  MOCK_METHOD(void, checkSelfCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const RobotState&, const Acm&),
              (const, override));
  MOCK_METHOD(void, checkOtherCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const Robot&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, checkOtherCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const Robot&, const RobotState&,
               const Acm&),
              (const, override));
  MOCK_METHOD(void, checkOtherCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const RobotState&, const Robot&,
               const RobotState&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, checkOtherCollision,
              (const CollisionRequest&, CollisionResult&, const RobotState&, const RobotState&, const Robot&,
               const RobotState&, const RobotState&, const Acm&),
              (const, override));
  MOCK_METHOD(void, distanceSelf, (const DistanceRequest&, DistanceResult&, const RobotState&), (const, override));
  MOCK_METHOD(void, distanceOther,
              (const DistanceRequest&, DistanceResult&, const RobotState&, const Robot&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, updatedPaddingOrScaling, (const std::vector<std::string>&), (override));
};

// A world checker whose own queries are expectations; checkCollision and
// setWorld stay the base class's.
class MockCollisionWorld : public collision_detection::CollisionWorld {
 public:
  using CollisionWorld::CollisionWorld;
  using Robot = collision_detection::CollisionRobot;
  using World = collision_detection::CollisionWorld;
  using Acm = AllowedCollisionMatrix;

  MOCK_METHOD(void, checkRobotCollision, (const CollisionRequest&, CollisionResult&, const Robot&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, checkRobotCollision,
              (const CollisionRequest&, CollisionResult&, const Robot&, const RobotState&, const Acm&),
              (const, override));
  MOCK_METHOD(void, checkRobotCollision,
              (const CollisionRequest&, CollisionResult&, const Robot&, const RobotState&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, checkRobotCollision,
              (const CollisionRequest&, CollisionResult&, const Robot&, const RobotState&, const RobotState&,
               const Acm&),
              (const, override));
  MOCK_METHOD(void, checkWorldCollision, (const CollisionRequest&, CollisionResult&, const World&), (const, override));
  MOCK_METHOD(void, checkWorldCollision, (const CollisionRequest&, CollisionResult&, const World&, const Acm&),
              (const, override));
  MOCK_METHOD(void, distanceRobot, (const DistanceRequest&, DistanceResult&, const Robot&, const RobotState&),
              (const, override));
  MOCK_METHOD(void, distanceWorld, (const DistanceRequest&, DistanceResult&, const World&), (const, override));

  const collision_detection::WorldPtr& worldHandle() const { return world; }
  const collision_detection::WorldConstPtr& constWorldHandle() const { return world_const; }
};

}  // namespace bramlock_test
