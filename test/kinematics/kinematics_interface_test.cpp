#include <gtest/gtest.h>

#include <cmath>

#include "arm_test_support.h"
#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"

using kinematics_test::printedBy;

namespace {

const RobotType kRealmanLike = {6, {0, M_PI_2, 0, M_PI_2, -M_PI_2, M_PI_2}};

RobotType withFirstAlpha(double alpha) {
  RobotType type = kRealmanLike;
  type.alpha_sequence[0] = alpha;
  return type;
}

}  // namespace

TEST(RobotType, AlphasWithinATwentiethOfPiMatch) {
  bool equal = false;
  EXPECT_EQ(printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(kRealmanLike, withFirstAlpha(0.1)); }),
            "");
  EXPECT_TRUE(equal);
  EXPECT_EQ(printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(kRealmanLike, withFirstAlpha(0.2)); }),
            "alpha sequence not equal\n");
  EXPECT_FALSE(equal);

  // A difference of exactly pi/20 still matches; the next double above does not.
  const double limit = M_PI / 20;
  EXPECT_TRUE(KinematicsInterface::checkRobotTypeEqual(kRealmanLike, withFirstAlpha(limit)));
  const RobotType just_beyond = withFirstAlpha(std::nextafter(limit, 1.0));
  printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(kRealmanLike, just_beyond); });
  EXPECT_FALSE(equal);
}

TEST(RobotType, CountAndLengthMismatches) {
  bool equal = true;
  RobotType five = kRealmanLike;
  five.axis_num = 5;
  EXPECT_EQ(printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(kRealmanLike, five); }), "");
  EXPECT_FALSE(equal);
  RobotType short_sequence = kRealmanLike;
  short_sequence.alpha_sequence.pop_back();
  EXPECT_EQ(printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(kRealmanLike, short_sequence); }),
            "alpha sequence size not equal\n");
  EXPECT_FALSE(equal);
  EXPECT_TRUE(KinematicsInterface::checkRobotTypeEqual({6, {}}, {6, {}}));
  EXPECT_EQ(printedBy([&] {
              equal = KinematicsInterface::checkVectorEqual({1, 2}, {1});
            }),
            "vector a size not equal vector b size\n");
}

TEST(RobotType, EachArmMatchesOnlyItsOwnType) {
  RealmanKinematics realman;
  KestrelBotV3Kinematics kestrel;
  EXPECT_TRUE(KinematicsInterface::checkRobotTypeEqual(realman.getRobotType(), kRealmanLike));
  bool equal = true;
  printedBy([&] { equal = KinematicsInterface::checkRobotTypeEqual(realman.getRobotType(), kestrel.getRobotType()); });
  EXPECT_FALSE(equal);
  EXPECT_EQ(printedBy([&] { kestrel.printRobotType(); }),
            "robot type->axis num:5,alpha_sequence:[0.000000,1.570796,0.000000,0.000000,-1.570796,]\n");
}

TEST(KinematicsInterface, MdhToSdhRotatesLengthsAndTwistsOneToTheLeft) {
  RealmanKinematics arm;
  arm.xa = {0, 1, 2, 3, 4, 5};
  arm.alpha = {10, 11, 12, 13, 14, 15};
  arm.zd = {20, 21, 22, 23, 24, 25};
  arm.convertFromMdhToSdh();
  EXPECT_EQ(arm.xa, (std::vector<double>{1, 2, 3, 4, 5, 0}));
  EXPECT_EQ(arm.alpha, (std::vector<double>{11, 12, 13, 14, 15, 10}));
  EXPECT_EQ(arm.zd, (std::vector<double>{20, 21, 22, 23, 24, 25}));
  arm.xa.clear();
  arm.alpha.clear();
  arm.convertFromMdhToSdh();
  EXPECT_TRUE(arm.xa.empty());
}

TEST(KinematicsInterface, ArmsAreUsedAndDestroyedThroughTheInterface) {
  std::shared_ptr<KinematicsInterface> arm = std::make_shared<KestrelBotV3Kinematics>();
  std::unique_ptr<KinematicsInterface> owned(new RealmanKinematics());
  EXPECT_EQ(arm->getRobotType().axis_num, 5);
  EXPECT_EQ(owned->getRobotType().axis_num, 6);
  EXPECT_EQ(owned->zd, std::vector<double>(6, 0.0));
}
