#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <functional>
#include <iomanip>
#include <map>
#include <memory>
#include <sstream>
#include <stdexcept>
#include <string>
#include <vector>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "test_arm.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::RobotModel;
using Names = std::vector<std::string>;

class RobotModelQueries : public ::testing::Test {
 protected:
  std::shared_ptr<RobotModel> model_ = bramlock_test::loadTestArm();

  std::vector<double> state(double value = 0.0) const { return std::vector<double>(model_->getVariableCount(), value); }
  size_t index(const std::string& name) const { return model_->getVariableIndex(name); }
};

TEST_F(RobotModelQueries, LookupsByNameAndIndex) {
  const RobotModel& model = *model_;
  OutputCapture capture;
  EXPECT_TRUE(model.hasJointModel("joint4"));
  EXPECT_FALSE(model.hasJointModel("link4"));
  EXPECT_TRUE(model.hasLinkModel("link4"));
  EXPECT_EQ(model.getJointModel("joint4")->getName(), "joint4");
  EXPECT_EQ(model.getJointModel(size_t{4})->getName(), "joint4");
  EXPECT_EQ(model.getLinkModel(size_t{10})->getName(), "sensor_link");
  EXPECT_EQ(model.getLinkModel("link5")->getName(), "link5");
  EXPECT_EQ(capture.out(), "");
}

TEST_F(RobotModelQueries, MissesPrintTheirMessages) {
  const RobotModel& model = *model_;
  const std::pair<std::function<const void*()>, std::string> cases[] = {
      {[&] { return model.getJointModel("nope"); }, "Joint 'nope' not found in model 'test_arm'"},
      {[&] { return model.getJointModel(size_t{11}); }, "Joint index '11' out of bounds of joints in model 'test_arm'"},
      {[&] { return model.getLinkModel(size_t{11}); }, "Link index '11' out of bounds of links in model 'test_arm'"},
      {[&] { return model.getLinkModel("nope"); }, "Link 'nope' not found in model 'test_arm'"},
      {[&] { return model.getJointModelGroup("legs"); }, "Group 'legs' not found in model 'test_arm'\n"},
      {[&] { return model.getEndEffector("claw"); }, "End-effector 'claw' not found in model 'test_arm'\n"},
      // A group that is no end effector does not answer as one.
      {[&] { return model.getEndEffector("arm"); }, "End-effector 'arm' not found in model 'test_arm'\n"},
  };
  for (const auto& [lookup, message] : cases) {
    OutputCapture capture;
    EXPECT_EQ(lookup(), nullptr) << message;
    EXPECT_EQ(capture.out(), message);
  }
  EXPECT_FALSE(model.hasJointModelGroup("legs"));
  EXPECT_FALSE(model.hasEndEffector("claw"));
}

TEST_F(RobotModelQueries, LinkLookupFlagMeansFound) {
  OutputCapture capture;
  bool found = false;
  EXPECT_NE(model_->getLinkModel("tool_link", &found), nullptr);
  EXPECT_TRUE(found);
  EXPECT_EQ(model_->getLinkModel("nope", &found), nullptr);
  EXPECT_FALSE(found);
  EXPECT_EQ(capture.out(), "");
  moveit::core::LinkModel* writable = model_->getLinkModel("link2", &found);
  EXPECT_TRUE(found);
  EXPECT_EQ(writable->getName(), "link2");
}

TEST_F(RobotModelQueries, VariableIndexOfJointsVariablesAndUnknownNames) {
  EXPECT_EQ(model_->getVariableIndex("finger_mimic_joint"), 7u);
  try {
    model_->getVariableIndex("joint7");
    FAIL() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "Variable 'joint7' is not known to model 'test_arm'");
  }
}

TEST_F(RobotModelQueries, DefaultAndRandomStatesRespectBoundsAndMimics) {
  std::vector<double> values = state(9.0);
  model_->getVariableDefaultPositions(values.data());
  EXPECT_EQ(values, state(0.0));
  std::map<std::string, double> named{{"stale", 1.0}};
  model_->getVariableDefaultPositions(named);
  EXPECT_EQ(named.size(), model_->getVariableCount());
  EXPECT_EQ(named.count("stale"), 0u);

  random_numbers::RandomNumberGenerator rng(21);
  for (int i = 0; i < 100; ++i) {
    model_->getVariableRandomPositions(rng, values.data());
    ASSERT_TRUE(model_->satisfiesPositionBounds(values.data(), model_->getActiveJointModelsBounds()));
    ASSERT_EQ(values[index("finger_mimic_joint")], values[index("finger_joint")]);
  }
  model_->getVariableRandomPositions(rng, named);
  EXPECT_EQ(named.at("finger_mimic_joint"), named.at("finger_joint"));
  EXPECT_GE(named.at("joint1"), -2.9);
  EXPECT_LE(named.at("joint1"), 3.05);
}

TEST_F(RobotModelQueries, BoundsEnforcementAndMargins) {
  const auto& bounds = model_->getActiveJointModelsBounds();
  std::vector<double> values = state();
  const std::vector<double> inside = values;
  EXPECT_FALSE(model_->enforcePositionBounds(values.data(), bounds));
  EXPECT_EQ(values, inside);

  values[index("joint2")] = 2.25;
  values[index("finger_joint")] = 0.05;
  values[index("sensor_pan_joint")] = 4.0;
  EXPECT_FALSE(model_->satisfiesPositionBounds(values.data(), bounds, 0.0));
  values[index("finger_joint")] = 0.02;
  EXPECT_TRUE(model_->satisfiesPositionBounds(values.data(), bounds, 0.1));  // continuous joints always pass
  values[index("finger_joint")] = 0.05;
  EXPECT_TRUE(model_->enforcePositionBounds(values.data(), bounds));
  EXPECT_EQ(values[index("joint2")], 2.2);
  EXPECT_EQ(values[index("finger_joint")], 0.04);
  EXPECT_EQ(values[index("finger_mimic_joint")], 0.04);  // mimics follow a change
  EXPECT_NEAR(values[index("sensor_pan_joint")], 4.0 - 2 * M_PI, 1e-12);
}

TEST_F(RobotModelQueries, DistanceInterpolationAndExtent) {
  std::vector<double> from = state(), to = state();
  to[index("joint1")] = 1.0;
  to[index("joint2")] = -0.5;
  to[index("finger_joint")] = 0.04;
  to[index("finger_mimic_joint")] = 0.04;
  from[index("sensor_pan_joint")] = 3.0;
  to[index("sensor_pan_joint")] = -3.0;
  EXPECT_NEAR(model_->distance(from.data(), to.data()), 1.0 + 0.5 + 0.04 + (2 * M_PI - 6), 1e-12);

  std::vector<double> mid = state(7.0);
  model_->interpolate(from.data(), to.data(), 0.5, mid.data());
  EXPECT_NEAR(mid[index("joint1")], 0.5, 1e-12);
  EXPECT_NEAR(mid[index("joint2")], -0.25, 1e-12);
  EXPECT_NEAR(mid[index("finger_joint")], 0.02, 1e-12);
  EXPECT_NEAR(mid[index("finger_mimic_joint")], 0.02, 1e-12);
  EXPECT_NEAR(std::fabs(mid[index("sensor_pan_joint")]), M_PI, 1e-12);

  const double expected = (3.05 + 2.9) + 4.4 + 5.2 + 6.1 + 4.2 + 12.4 + 0.04 + 2 * M_PI;
  EXPECT_NEAR(model_->getMaximumExtent(), expected, 1e-12);
  EXPECT_NEAR(model_->getMaximumExtent(model_->getActiveJointModelsBounds()), expected, 1e-12);
}

TEST_F(RobotModelQueries, MissingVariableNamesLeaveOutMimics) {
  std::vector<std::string> missing{"stale"};
  model_->getMissingVariableNames({"joint1", "joint2", "joint3", "joint4", "joint5"}, missing);
  EXPECT_EQ(missing, (Names{"joint6", "finger_joint", "sensor_pan_joint"}));
  model_->getMissingVariableNames(model_->getVariableNames(), missing);
  EXPECT_TRUE(missing.empty());
}

TEST_F(RobotModelQueries, PrintCommonJointRoots) {
  OutputCapture capture;
  model_->printCommonJointRoots();
  const std::string out = capture.out();
  const size_t n = model_->getJointModelCount();
  EXPECT_EQ(std::count(out.begin(), out.end(), '\n'), static_cast<long>(n * n));
  EXPECT_EQ(out.substr(0, 42), "common_joint_roots_0:0\ncommon_joint_roots_");
  EXPECT_NE(out.find("common_joint_roots_12:1\n"), std::string::npos);  // (joint1, joint1)
}

TEST(RobotModelPrint, ModelInfoText) {
  OutputCapture quiet;
  RobotModel model(bramlock_test::fixturePath("robot_model_edges/"), "mimic.urdf", "planar_root.srdf");
  quiet.out();
  std::ostringstream out;
  out << std::setprecision(3);
  model.printModelInfo(out);
  const std::string text = out.str();
  const std::string expected_start =
      "Model mimic_robot in frame odom, using 10 variables\n"
      "Joints: \n"
      " 'base_joint' (Planar)\n"
      "  * Joint Index: 0\n"
      "  * 3 variables:     * 'base_joint/x', index 0 in full state, passive\n"
      "        P.bounded [-inf, inf]; V.unbounded [0.00000, 0.00000]; A.unbounded [0.00000, 0.00000]; "
      "J.unbounded [0.00000, 0.00000];\n";
  EXPECT_EQ(text.substr(0, expected_start.size()), expected_start);
  const std::string mimic_joint =
      " 'b' (Revolute)\n"
      "  * Joint Index: 2\n"
      "  * 1 variable:\n"
      "     * 'b', index 4 in full state, mimic 'a'\n"
      "        P.bounded [-2.00000, 2.00000]; V.bounded [-1.00000, 1.00000]; A.unbounded [0.00000, 0.00000]; "
      "J.unbounded [0.00000, 0.00000];\n";
  EXPECT_NE(text.find(mimic_joint), std::string::npos) << text;
  const std::string links =
      "\nLinks: \n"
      " 'base_link' with 0 geoms\n"
      "   * joint origin transform is identity\n"
      " 'link_a' with 0 geoms\n"
      "   * joint origin transform is identity\n";
  EXPECT_NE(text.find(links), std::string::npos) << text;
  EXPECT_EQ(text.substr(text.size() - 19), "Available groups: \n");
  // The caller's stream format comes back after the joint section.
  std::ostringstream after;
  after.copyfmt(out);
  after << 1.23456;
  EXPECT_EQ(after.str(), "1.23");
}

TEST(RobotModelDeathTest, BoundsListsMustMatchTheActiveJoints) {
  GTEST_FLAG_SET(death_test_style, "threadsafe");
  const auto model = bramlock_test::loadTestArm();
  std::vector<double> values(model->getVariableCount(), 0.0);
  RobotModel::JointBoundsVector short_bounds(model->getActiveJointModelsBounds().begin(),
                                             model->getActiveJointModelsBounds().end() - 1);
  EXPECT_DEATH(model->satisfiesPositionBounds(values.data(), short_bounds), "active_joint_bounds.size");
  EXPECT_DEATH(model->enforcePositionBounds(values.data(), short_bounds), "active_joint_bounds.size");
  EXPECT_DEATH(model->getMaximumExtent(short_bounds), "active_joint_bounds.size");
}

}  // namespace
