#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <map>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <random_numbers/random_numbers.h>

#include "expect_throw_message.h"
#include "state_test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::JointModel;
using moveit::core::JointModelGroup;
using moveit::core::RobotModel;
using moveit::core::RobotState;

constexpr double kNaN = std::numeric_limits<double>::quiet_NaN();
constexpr double kInf = std::numeric_limits<double>::infinity();

class RobotStateValues : public ::testing::Test {
 protected:
  std::shared_ptr<const RobotModel> model_ = bramlock_test::loadStateTestArm();
  RobotState state_ = bramlock_test::updatedDefaultState(model_);

  const JointModelGroup* group(const std::string& name) const { return model_->getJointModelGroup(name); }
  double position(const std::string& name) const { return state_.getVariablePositions()[index(name)]; }
  size_t index(const std::string& name) const { return model_->getVariableIndex(name); }
  std::vector<double> positions() const {
    return std::vector<double>(state_.getVariablePositions(),
                               state_.getVariablePositions() + model_->getVariableCount());
  }
};

TEST_F(RobotStateValues, GroupWritesReachTheirVariablesOnly) {
  for (const char* name : {"arm", "spread", "pan_and_lift", "manipulator"}) {
    SCOPED_TRACE(name);
    const JointModelGroup* g = group(name);
    state_.setToDefaultValues();
    std::vector<double> expected = positions();
    std::vector<double> values;
    for (size_t i = 0; i < g->getVariableCount(); ++i) values.push_back(0.01 * (i + 1));
    const std::vector<std::string>& names = g->getVariableNames();
    for (size_t i = 0; i < names.size(); ++i) expected[index(names[i])] = values[i];
    if (g->hasJointModel("finger_mimic_joint")) expected[index("finger_mimic_joint")] = expected[index("finger_joint")];

    state_.setJointGroupPositions(g, values.data());
    EXPECT_EQ(positions(), expected);
    std::vector<double> copied(g->getVariableCount());
    state_.copyJointGroupPositions(g, copied.data());
    Eigen::VectorXd vector;
    state_.copyJointGroupPositions(g, vector);
    EXPECT_EQ(std::vector<double>(vector.data(), vector.data() + vector.size()), copied);

    state_.setToDefaultValues();
    state_.setJointGroupPositions(g, Eigen::Map<const Eigen::VectorXd>(values.data(), values.size()));
    EXPECT_EQ(positions(), expected);
  }
  // The non-consecutive group's order is the group's, not the state's.
  EXPECT_EQ(group("pan_and_lift")->getVariableNames(), (std::vector<std::string>{"joint1", "sensor_pan_joint"}));
}

TEST_F(RobotStateValues, GroupVelocitiesAndAccelerationsUseTheirArrays) {
  const JointModelGroup* spread = group("spread");
  const double values[] = {0.5, -0.25};
  state_.setJointGroupVelocities(spread, values);
  EXPECT_TRUE(state_.hasVelocities());
  EXPECT_EQ(state_.getVariableVelocities()[index("joint5")], -0.25);
  EXPECT_EQ(state_.getVariableVelocities()[index("joint1")], 0.0);
  state_.setJointGroupAccelerations(spread, Eigen::Vector2d(1.0, 2.0));
  double copied[2];
  state_.copyJointGroupAccelerations(spread, copied);
  EXPECT_EQ(copied[1], 2.0);
  Eigen::VectorXd velocities;
  state_.copyJointGroupVelocities(spread, velocities);
  EXPECT_EQ(velocities(0), 0.5);
  EXPECT_TRUE(state_.checkCollisionTransforms());  // no position changed
}

TEST_F(RobotStateValues, MimicJointsFollowTheirSource) {
  state_.setJointGroupPositions(group("gripper"), std::vector<double>{0.03, 0.0}.data());
  EXPECT_EQ(position("finger_mimic_joint"), 0.03);
  state_.setVariablePositions(std::map<std::string, double>{{"finger_joint", 0.02}});
  EXPECT_EQ(position("finger_mimic_joint"), 0.02);
  state_.setJointGroupActivePositions(group("manipulator"), std::vector<double>{0, 0, 0, 0, 0, 0, 0.01});
  EXPECT_EQ(position("finger_mimic_joint"), 0.01);
  state_.update();
  const Eigen::Isometry3d tool = state_.getGlobalLinkTransform(model_->getLinkModel("tool_link"));
  const Eigen::Isometry3d mimic = state_.getGlobalLinkTransform(model_->getLinkModel("finger_mimic_link"));
  // The mimic finger moves along -y by its value from its origin (0, -0.01, 0.05).
  EXPECT_TRUE(bramlock_test::transformsNear(tool.inverse() * mimic,
                                            Eigen::Isometry3d(Eigen::Translation3d(0, -0.02, 0.05)), 1e-12));
}

TEST_F(RobotStateValues, AccelerationsAndEffortsShareOneArray) {
  state_.setVariableEffort(std::map<std::string, double>{{"joint1", 7.0}});
  EXPECT_TRUE(state_.hasEffort());
  state_.markAcceleration();
  EXPECT_FALSE(state_.hasEffort());
  EXPECT_EQ(state_.getVariableAccelerations()[index("joint1")], 0.0);
  state_.getVariableAccelerations()[index("joint1")] = 3.0;
  state_.markAcceleration();
  EXPECT_EQ(state_.getVariableAccelerations()[index("joint1")], 3.0);

  const double effort = 9.0;
  {
    OutputCapture capture;
    state_.setJointEfforts(model_->getJointModel("joint2"), &effort);
    EXPECT_EQ(capture.out(), "Unable to set joint efforts because array is being used for accelerations\n");
  }
  EXPECT_EQ(state_.getVariableEffort()[index("joint2")], 0.0);

  // Left-over accelerations must not pass for efforts.
  state_.dropAccelerations();
  state_.setJointEfforts(model_->getJointModel("joint2"), &effort);
  EXPECT_TRUE(state_.hasEffort());
  EXPECT_EQ(state_.getVariableEffort()[index("joint2")], 9.0);
  EXPECT_EQ(state_.getVariableEffort()[index("joint1")], 0.0);

  state_.setVariableVelocities(std::vector<std::string>{"joint3"}, std::vector<double>{2.0});
  state_.invertVelocity();
  EXPECT_EQ(state_.getVariableVelocities()[index("joint3")], -2.0);
  state_.setToDefaultValues();
  EXPECT_TRUE(state_.hasVelocities());
  EXPECT_TRUE(state_.hasEffort());
  EXPECT_EQ(state_.getVariableVelocities()[index("joint3")], 0.0);
  EXPECT_EQ(state_.getVariableEffort()[index("joint2")], 0.0);
  state_.dropDynamics();
  state_.getVariableVelocities()[index("joint3")] = 1.0;
  state_.invertVelocity();
  EXPECT_EQ(state_.getVariableVelocities()[index("joint3")], 1.0);
}

TEST_F(RobotStateValues, NamedWritesAndMissingKeys) {
  std::vector<std::string> missing;
  state_.setVariablePositions(std::map<std::string, double>{{"joint1", 0.5}, {"finger_joint", 0.01}}, missing);
  EXPECT_EQ(missing, (std::vector<std::string>{"joint2", "joint3", "joint4", "joint5", "joint6", "sensor_pan_joint"}));
  std::map<std::string, double> all;
  for (const std::string& name : model_->getVariableNames()) all[name] = 0.0;
  all.erase("finger_mimic_joint");
  state_.getMissingKeys(all, missing);
  EXPECT_TRUE(missing.empty());

  // Entries before an unknown name stay written.
  EXPECT_THROW_MESSAGE(
      state_.setVariablePositions(std::vector<std::string>{"joint2", "no_joint"}, std::vector<double>{0.2, 1}),
      std::runtime_error, "^Variable 'no_joint' is not known to model 'test_arm'$");
  EXPECT_EQ(position("joint2"), 0.2);
  EXPECT_TRUE(state_.setToDefaultValues(group("arm"), "ready"));
  EXPECT_EQ(position("joint3"), 1.0);
  EXPECT_FALSE(state_.setToDefaultValues(group("arm"), "nowhere"));
}

TEST_F(RobotStateValues, BoundsEnforcementAndHarmonisation) {
  state_.setVariablePositions(std::map<std::string, double>{{"joint1", 5.0}, {"finger_joint", 0.1}});
  state_.update();
  EXPECT_FALSE(state_.satisfiesBounds());
  EXPECT_FALSE(state_.satisfiesBounds(group("gripper")));
  EXPECT_TRUE(state_.satisfiesBounds(group("wrist")));
  state_.enforceBounds(group("gripper"));
  EXPECT_EQ(position("finger_joint"), 0.04);
  EXPECT_EQ(position("finger_mimic_joint"), 0.04);
  state_.enforceBounds();
  EXPECT_EQ(position("joint1"), 3.05);  // the soft limit 3.2 lies beyond the hard one
  {
    OutputCapture quiet;
    EXPECT_FALSE(state_.checkLinkTransforms());  // enforcement moved joints
  }
  EXPECT_TRUE(state_.satisfiesBounds());
  EXPECT_FALSE(state_.satisfiesBounds(kNaN));

  state_.setVariableVelocities(std::map<std::string, double>{{"joint2", -10.0}});
  EXPECT_FALSE(state_.satisfiesBounds());
  EXPECT_TRUE(state_.satisfiesBounds(8.0));
  state_.enforceBounds();
  EXPECT_EQ(state_.getVariableVelocities()[index("joint2")], -3.0);

  state_.setVariablePositions(std::map<std::string, double>{{"joint6", 7.0}});
  state_.update();
  const Eigen::Isometry3d before = state_.getGlobalLinkTransform(model_->getLinkModel("link6"));
  state_.harmonizePositions(group("arm"));
  EXPECT_NEAR(position("joint6"), 7.0 - 4 * M_PI, 1e-12);
  state_.update(true);
  EXPECT_TRUE(
      bramlock_test::transformsNear(state_.getGlobalLinkTransform(model_->getLinkModel("link6")), before, 1e-12));
}

TEST_F(RobotStateValues, DistanceToBoundsSkipsUnlimitedJoints) {
  state_.setVariablePositions(std::map<std::string, double>{{"joint4", 3.0}});
  const auto nearest = state_.getMinDistanceToPositionBounds(group("arm"));
  EXPECT_EQ(nearest.second, model_->getJointModel("joint4"));
  EXPECT_NEAR(nearest.first, 0.05, 1e-12);
  const auto none = state_.getMinDistanceToPositionBounds(group("sensor"));
  EXPECT_EQ(none.first, std::numeric_limits<double>::max());
  EXPECT_EQ(none.second, nullptr);
  // The fingers at their lower limit of 0 are nearest over the whole model.
  EXPECT_EQ(state_.getMinDistanceToPositionBounds().first, 0.0);
}

TEST_F(RobotStateValues, VelocityMovesDistancesAndIntegration) {
  const JointModelGroup* arm = group("arm");
  RobotState other(state_);
  EXPECT_TRUE(state_.isValidVelocityMove(other, arm, 0.0));
  other.setVariablePositions(std::map<std::string, double>{{"joint2", 0.3}});
  EXPECT_FALSE(state_.isValidVelocityMove(other, arm, 0.0));
  EXPECT_FALSE(state_.isValidVelocityMove(other, arm, 0.09));  // joint2 moves at most 3 rad/s
  EXPECT_TRUE(state_.isValidVelocityMove(other, arm, 0.11));
  EXPECT_FALSE(state_.isValidVelocityMove(other, arm, kNaN));
  EXPECT_FALSE(state_.isValidVelocityMove(other, arm, kInf));
  EXPECT_NEAR(state_.distance(other, arm), 0.3, 1e-15);

  Eigen::VectorXd qdot = Eigen::VectorXd::Zero(6);
  qdot(1) = 10.0;
  std::vector<double> seen;
  const bool accepted = state_.integrateVariableVelocity(
      arm, qdot, 1.0, [&seen](moveit::core::RobotState*, const JointModelGroup*, const double* values) {
        seen.assign(values, values + 6);
        return false;
      });
  EXPECT_FALSE(accepted);
  EXPECT_EQ(position("joint2"), 2.2);
  EXPECT_EQ(seen[1], 2.2);
  EXPECT_TRUE(state_.integrateVariableVelocity(arm, -qdot, 0.1, nullptr));
  EXPECT_NEAR(position("joint2"), 1.2, 1e-12);
}

TEST_F(RobotStateValues, RandomPositionsStayInBoundsAndNearTheSeed) {
  const JointModelGroup* arm = group("arm");
  random_numbers::RandomNumberGenerator rng(11);
  const RobotState seed(state_);
  for (int i = 0; i < 50; ++i) {
    const double joint1 = position("joint1");
    state_.setToRandomPositions(group("spread"), rng);
    EXPECT_TRUE(state_.satisfiesBounds());
    EXPECT_EQ(position("joint1"), joint1);
    state_.setToRandomPositionsNearBy(arm, seed, 0.1, rng);
    for (const JointModel* joint : arm->getActiveJointModels()) {
      EXPECT_LE(std::fabs(position(joint->getName()) - seed.getVariablePositions()[index(joint->getName())]), 0.1);
    }
  }
  state_.setToRandomPositionsNearBy(arm, seed, std::vector<double>{0, 0, 0, 0, 0, 0.5}, rng);
  EXPECT_EQ(position("joint1"), seed.getVariablePositions()[index("joint1")]);
  EXPECT_THROW_MESSAGE(state_.setToRandomPositionsNearBy(arm, seed, std::vector<double>{0.1}), std::invalid_argument,
                       "^distances\\.size\\(\\) == joints\\.size\\(\\)$");
  state_.setToRandomPositions();
  EXPECT_TRUE(state_.satisfiesBounds());
}

// Every entry point that takes numbers refuses non-finite values, short
// arrays and null pointers without changing the state.
TEST_F(RobotStateValues, BadNumbersAreRefusedAndLeaveTheStateAlone) {
  const JointModelGroup* arm = group("arm");
  const std::vector<double> before = positions();
  std::vector<double> full(model_->getVariableCount(), 0.1);
  for (double bad : {kNaN, kInf, -kInf}) {
    SCOPED_TRACE(bad);
    full[3] = bad;
    EXPECT_THROW_MESSAGE(state_.setVariablePositions(full.data()), std::invalid_argument,
                         "^RobotState::setVariablePositions: value 3 is not finite$");
    const std::vector<double> group_values = {0.1, 0.1, bad, 0.1, 0.1, 0.1};
    EXPECT_THROW_MESSAGE(state_.setJointGroupPositions(arm, group_values.data()), std::invalid_argument,
                         "^RobotState::setJointGroupPositions: value 2 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setJointGroupActivePositions(arm, group_values), std::invalid_argument,
                         "^RobotState::setJointGroupActivePositions: value 2 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setJointGroupVelocities(arm, group_values.data()), std::invalid_argument,
                         "^RobotState::setJointGroupVelocities: value 2 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setJointGroupAccelerations(arm, group_values.data()), std::invalid_argument,
                         "^RobotState::setJointGroupAccelerations: value 2 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setVariablePositions(std::map<std::string, double>{{"joint1", 0.1}, {"joint2", bad}}),
                         std::invalid_argument,
                         "^RobotState::setVariablePositions: the value of 'joint2' is not finite$");
    EXPECT_THROW_MESSAGE(state_.setVariableVelocities(std::vector<std::string>{"joint1"}, std::vector<double>{bad}),
                         std::invalid_argument, "^RobotState::setVariableVelocities: value 0 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setVariableAccelerations(std::map<std::string, double>{{"joint1", bad}}),
                         std::invalid_argument,
                         "^RobotState::setVariableAccelerations: the value of 'joint1' is not finite$");
    EXPECT_THROW_MESSAGE(state_.setVariableEffort(std::map<std::string, double>{{"joint1", bad}}),
                         std::invalid_argument, "^RobotState::setVariableEffort: the value of 'joint1' is not finite$");
    EXPECT_THROW_MESSAGE(state_.setJointEfforts(model_->getJointModel("joint1"), &bad), std::invalid_argument,
                         "^RobotState::setJointEfforts: value 0 is not finite$");
    EXPECT_THROW_MESSAGE(state_.setToRandomPositionsNearBy(arm, state_, bad), std::invalid_argument,
                         "^RobotState::setToRandomPositionsNearBy: a distance is negative or not finite$");
    EXPECT_THROW_MESSAGE(state_.integrateVariableVelocity(arm, Eigen::VectorXd::Constant(6, 1.0), bad, nullptr),
                         std::invalid_argument, "^RobotState::[A-Za-z]+: value 0 is not finite$");
  }
  EXPECT_THROW_MESSAGE(state_.setToRandomPositionsNearBy(arm, state_, -0.1), std::invalid_argument,
                       "^RobotState::setToRandomPositionsNearBy: a distance is negative or not finite$");
  EXPECT_THROW_MESSAGE(state_.setVariablePositions(static_cast<const double*>(nullptr)), std::invalid_argument,
                       "^RobotState::setVariablePositions: null position array$");
  EXPECT_THROW_MESSAGE(state_.setJointGroupPositions(arm, static_cast<const double*>(nullptr)), std::invalid_argument,
                       "^RobotState::setJointGroupPositions: null value array$");
  EXPECT_THROW_MESSAGE(state_.setJointGroupPositions(nullptr, full.data()), std::invalid_argument,
                       "^RobotState::setJointGroupPositions: not a group of this state's model$");
  EXPECT_THROW_MESSAGE(state_.setJointGroupPositions(arm, Eigen::VectorXd::Zero(5)), std::invalid_argument,
                       "^values\\.size\\(\\) == group->getVariableCount\\(\\)$");
  EXPECT_THROW_MESSAGE(state_.setJointGroupActivePositions(arm, std::vector<double>(7, 0.0)), std::invalid_argument,
                       "^gstate\\.size\\(\\) == group->getActiveVariableCount\\(\\)$");
  EXPECT_THROW_MESSAGE(state_.setJointGroupVelocities(arm, Eigen::VectorXd::Zero(2)), std::invalid_argument,
                       "^values\\.size\\(\\) == group->getVariableCount\\(\\)$");
  EXPECT_THROW_MESSAGE(
      state_.setVariablePositions(std::vector<std::string>{"joint1", "joint2"}, std::vector<double>{0.1}),
      std::invalid_argument, "^variable_names\\.size\\(\\) == variable_position\\.size\\(\\)$");
  EXPECT_THROW_MESSAGE(state_.setVariableEffort(std::vector<std::string>{"joint1"}, std::vector<double>{}),
                       std::invalid_argument, "^variable_names\\.size\\(\\) == variable_effort\\.size\\(\\)$");
  EXPECT_THROW_MESSAGE(state_.copyJointGroupPositions(arm, static_cast<double*>(nullptr)), std::invalid_argument,
                       "^RobotState::copyJointGroupPositions: null value array$");
  EXPECT_THROW_MESSAGE(state_.setJointEfforts(nullptr, full.data()), std::invalid_argument,
                       "^RobotState::setJointEfforts: not a joint of this state's model$");
  EXPECT_THROW_MESSAGE(state_.satisfiesBounds(nullptr), std::invalid_argument,
                       "^RobotState::satisfiesBounds: not a group of this state's model$");
  EXPECT_THROW_MESSAGE(state_.integrateVariableVelocity(arm, Eigen::VectorXd::Zero(3), 0.1, nullptr),
                       std::invalid_argument, "^qdot\\.size\\(\\) == group->getVariableCount\\(\\)$");
  EXPECT_EQ(positions(), before);
  EXPECT_TRUE(state_.checkCollisionTransforms());
  EXPECT_FALSE(state_.hasVelocities());
  EXPECT_FALSE(state_.hasEffort());

  // Huge finite values are kept, give finite transforms and fail the bounds.
  const std::vector<double> huge = {1e300, -1e300, 1e300, 1e300, 1e300, 1e300};
  state_.setJointGroupPositions(arm, huge.data());
  state_.setVariablePositions(std::map<std::string, double>{{"finger_joint", 1e300}});
  state_.update();
  for (const moveit::core::LinkModel* link : model_->getLinkModels()) {
    EXPECT_TRUE(state_.getGlobalLinkTransform(link).matrix().allFinite()) << link->getName();
  }
  EXPECT_FALSE(state_.satisfiesBounds());
  state_.enforceBounds();
  EXPECT_TRUE(state_.satisfiesBounds());
}

}  // namespace
