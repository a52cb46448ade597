#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <limits>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "expect_throw_message.h"
#include "mock_checkers.h"
#include "test_arm.h"
#include "test_support.h"

namespace {

using bramlock_test::MockCollisionRobot;
using bramlock_test::OutputCapture;
using Names = std::vector<std::string>;
using Values = std::map<std::string, double>;
using ::testing::StrictMock;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();
const std::string kPaddingNegative = "collision_detection---Padding cannot be negative";
const std::string kPaddingNotFinite = "collision_detection---Padding must be finite";
const std::string kScaleNotPositive = "collision_detection---Scale must be positive";
const std::string kScaleNotFinite = "collision_detection---Scale must be finite";

class CollisionRobotTest : public ::testing::Test {
 protected:
  const std::shared_ptr<const moveit::core::RobotModel> model_ = bramlock_test::loadTestArm();
  const Names& links_ = model_->getLinkModelNamesWithCollisionGeometry();

  // Every link with collision geometry holding the value.
  Values everyLink(double value) const {
    Values values;
    for (const std::string& link : links_) values[link] = value;
    return values;
  }
};

TEST_F(CollisionRobotTest, ConstructionReplacesBadValues) {
  {
    OutputCapture capture;
    const MockCollisionRobot robot(model_, 0.05, 2.0);
    EXPECT_EQ(capture.out(), "");
    EXPECT_EQ(robot.getLinkPadding(), everyLink(0.05));
    EXPECT_EQ(robot.getLinkScale(), everyLink(2.0));
    EXPECT_EQ(robot.getRobotModel(), model_);
  }
  struct Case {
    double padding, scale;
    std::string messages;
  };
  const Case cases[] = {
      {-1.0, 0.0, kScaleNotPositive + kPaddingNegative},
      {kNaN, 1e-17, kScaleNotPositive + kPaddingNotFinite},
      {kInf, kNaN, kScaleNotFinite + kPaddingNotFinite},
      {-kInf, kInf, kScaleNotFinite + kPaddingNegative},
      {0.0, -kInf, kScaleNotPositive},
  };
  for (const Case& c : cases) {
    OutputCapture capture;
    const MockCollisionRobot robot(model_, c.padding, c.scale);
    EXPECT_EQ(capture.out(), c.messages) << c.padding << " " << c.scale;
    EXPECT_EQ(robot.getLinkPadding(), everyLink(0.0));
    EXPECT_EQ(robot.getLinkScale(), everyLink(1.0));
  }
  EXPECT_THROW_MESSAGE(MockCollisionRobot(nullptr, 0.0, 1.0), std::invalid_argument,
                       "^collision_detection---Robot model must not be null$");
}

TEST_F(CollisionRobotTest, UnknownLinksHaveNeutralValues) {
  const MockCollisionRobot robot(model_, 0.3, 4.0);
  EXPECT_EQ(robot.getLinkPadding("nope"), 0.0);
  EXPECT_EQ(robot.getLinkScale("nope"), 1.0);
  EXPECT_EQ(robot.getLinkPadding(links_.back()), 0.3);
  EXPECT_EQ(robot.getLinkScale(links_.back()), 4.0);
}

TEST_F(CollisionRobotTest, WholeRobotSettersCallTheHookOnChange) {
  StrictMock<MockCollisionRobot> robot(model_, 0.0, 1.0);
  robot.setPadding(0.0);
  robot.setScale(1.0);
  EXPECT_CALL(robot, updatedPaddingOrScaling(links_)).Times(2);
  robot.setPadding(0.02);
  robot.setScale(1.5);
  EXPECT_EQ(robot.getLinkPadding(), everyLink(0.02));
  EXPECT_EQ(robot.getLinkScale(), everyLink(1.5));
  robot.setPadding(0.02);
  robot.setScale(1.5);
  ::testing::Mock::VerifyAndClearExpectations(&robot);

  // Only the links whose value differs are listed, in model order.
  EXPECT_CALL(robot, updatedPaddingOrScaling(Names{links_[1], links_[3]}));
  robot.setLinkPadding(Values{{links_[3], 0.25}, {links_[1], 0.25}});
  ::testing::Mock::VerifyAndClearExpectations(&robot);
  Names others = links_;
  others.erase(others.begin() + 3);
  others.erase(others.begin() + 1);
  EXPECT_CALL(robot, updatedPaddingOrScaling(others));
  robot.setPadding(0.25);
  ::testing::Mock::VerifyAndClearExpectations(&robot);

  // Entries of links without collision geometry are left alone.
  robot.setLinkPadding("not_a_link", 0.0);
  EXPECT_CALL(robot, updatedPaddingOrScaling(links_));
  robot.setPadding(0.125);
  EXPECT_EQ(robot.getLinkPadding("not_a_link"), 0.0);
}

TEST_F(CollisionRobotTest, WholeRobotSettersRefuseBadValues) {
  StrictMock<MockCollisionRobot> robot(model_, 0.1, 2.0);
  const std::pair<double, std::string> paddings[] = {
      {-0.01, kPaddingNegative}, {-kInf, kPaddingNegative}, {kNaN, kPaddingNotFinite}, {kInf, kPaddingNotFinite}};
  for (const auto& [padding, message] : paddings) {
    OutputCapture capture;
    robot.setPadding(padding);
    EXPECT_EQ(capture.out(), message) << padding;
  }
  const std::pair<double, std::string> scales[] = {{0.0, kScaleNotPositive},  {1e-17, kScaleNotPositive},
                                                   {-2.0, kScaleNotPositive}, {-kInf, kScaleNotPositive},
                                                   {kNaN, kScaleNotFinite},   {kInf, kScaleNotFinite}};
  for (const auto& [scale, message] : scales) {
    OutputCapture capture;
    robot.setScale(scale);
    EXPECT_EQ(capture.out(), message) << scale;
  }
  EXPECT_EQ(robot.getLinkPadding(), everyLink(0.1));
  EXPECT_EQ(robot.getLinkScale(), everyLink(2.0));

  EXPECT_CALL(robot, updatedPaddingOrScaling(links_)).Times(2);
  robot.setPadding(1e300);  // large but finite
  robot.setScale(std::numeric_limits<double>::epsilon());
}

TEST_F(CollisionRobotTest, LinkSettersStoreAndReportOneLink) {
  StrictMock<MockCollisionRobot> robot(model_, 0.0, 1.0);
  // A new entry equal to the default is no change.
  robot.setLinkPadding("extra", 0.0);
  robot.setLinkScale("extra", 1.0);
  EXPECT_EQ(robot.getLinkPadding().count("extra"), 1u);
  EXPECT_EQ(robot.getLinkScale().count("extra"), 1u);

  EXPECT_CALL(robot, updatedPaddingOrScaling(Names{links_[2]})).Times(2);
  robot.setLinkPadding(links_[2], -1.0);  // negative padding is kept on this path
  robot.setLinkScale(links_[2], 0.5);
  EXPECT_EQ(robot.getLinkPadding(links_[2]), -1.0);
  EXPECT_EQ(robot.getLinkScale(links_[2]), 0.5);
  robot.setLinkPadding(links_[2], -1.0);
  robot.setLinkScale(links_[2], 0.5);
}

TEST_F(CollisionRobotTest, LinkSettersRefuseNonFiniteValuesAndTinyScales) {
  StrictMock<MockCollisionRobot> robot(model_, 0.0, 1.0);
  const std::string link = links_[4];
  for (const double bad : {kNaN, kInf, -kInf}) {
    OutputCapture capture;
    robot.setLinkPadding(link, bad);
    EXPECT_EQ(capture.out(), kPaddingNotFinite);
  }
  const std::pair<double, std::string> scales[] = {{0.0, kScaleNotPositive},
                                                   {1e-17, kScaleNotPositive},
                                                   {-1.0, kScaleNotPositive},
                                                   {kNaN, kScaleNotFinite},
                                                   {kInf, kScaleNotFinite}};
  for (const auto& [scale, message] : scales) {
    OutputCapture capture;
    robot.setLinkScale(link, scale);
    EXPECT_EQ(capture.out(), message) << scale;
  }
  {
    OutputCapture capture;
    robot.setLinkPadding("absent", kNaN);
    robot.setLinkScale("absent", 0.0);
  }
  EXPECT_EQ(robot.getLinkPadding(), everyLink(0.0));
  EXPECT_EQ(robot.getLinkScale(), everyLink(1.0));
}

TEST_F(CollisionRobotTest, MapSettersReportChangedNamesOnce) {
  StrictMock<MockCollisionRobot> robot(model_, 0.0, 1.0);
  // Ascending name order; unchanged and refused entries are not reported.
  EXPECT_CALL(robot, updatedPaddingOrScaling(Names{"a", "b", "z"}));
  {
    OutputCapture capture;
    robot.setLinkPadding(Values{{"z", 0.1}, {"a", -0.2}, {links_[0], 0.0}, {"b", 0.3}, {"c", kNaN}});
    EXPECT_EQ(capture.out(), kPaddingNotFinite);
  }
  EXPECT_EQ(robot.getLinkPadding("a"), -0.2);
  EXPECT_EQ(robot.getLinkPadding().count("c"), 0u);
  ::testing::Mock::VerifyAndClearExpectations(&robot);

  EXPECT_CALL(robot, updatedPaddingOrScaling(Names{links_[0], "y"}));
  {
    OutputCapture capture;
    robot.setLinkScale(Values{{"y", 3.0}, {links_[0], 2.0}, {links_[1], 1.0}, {"w", 0.0}, {"x", kInf}});
    EXPECT_EQ(capture.out(), kScaleNotPositive + kScaleNotFinite);
  }
  EXPECT_EQ(robot.getLinkScale(links_[0]), 2.0);
  EXPECT_EQ(robot.getLinkScale("w"), 1.0);
  ::testing::Mock::VerifyAndClearExpectations(&robot);

  robot.setLinkPadding(Values{});
  robot.setLinkScale(Values{{"y", 3.0}});
}

TEST_F(CollisionRobotTest, CopiesKeepModelAndValues) {
  ::testing::NiceMock<MockCollisionRobot> robot(model_, 0.0, 1.0);
  robot.setLinkPadding(links_[1], 0.7);
  robot.setLinkScale("extra", 3.0);
  const MockCollisionRobot copy(robot);
  EXPECT_EQ(copy.getRobotModel(), model_);
  EXPECT_EQ(copy.getLinkPadding(), robot.getLinkPadding());
  EXPECT_EQ(copy.getLinkScale(), robot.getLinkScale());
}

}  // namespace
