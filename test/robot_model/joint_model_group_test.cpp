#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <limits>
#include <map>
#include <memory>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <random_numbers/random_numbers.h>

#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "expect_throw_message.h"
#include "test_arm.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::JointModel;
using moveit::core::JointModelGroup;
using moveit::core::LinkModel;
using moveit::core::RobotModel;
using Names = std::vector<std::string>;

const double kNaN = std::numeric_limits<double>::quiet_NaN();
const double kInf = std::numeric_limits<double>::infinity();

Names namesOf(const std::vector<const LinkModel*>& links) {
  Names names;
  for (const LinkModel* link : links) names.push_back(link->getName());
  return names;
}

Names namesOf(const std::vector<const JointModel*>& joints) {
  Names names;
  for (const JointModel* joint : joints) names.push_back(joint->getName());
  return names;
}

bool sortedByLinkIndex(const std::vector<const LinkModel*>& links) {
  return std::is_sorted(links.begin(), links.end(),
                        [](const LinkModel* a, const LinkModel* b) { return a->getLinkIndex() < b->getLinkIndex(); });
}

// A group made directly from joints of a model, as the model makes its own.
std::unique_ptr<JointModelGroup> makeGroup(const RobotModel& model, const std::string& name, const Names& joints) {
  srdf::Model::Group config;
  config.name_ = name;
  config.joints_ = joints;
  std::vector<const JointModel*> list;
  for (const std::string& joint : joints) list.push_back(model.getJointModel(joint));
  return std::make_unique<JointModelGroup>(name, config, list, &model);
}

std::shared_ptr<RobotModel> loadMimicModel() {
  OutputCapture quiet;
  return std::make_shared<RobotModel>(bramlock_test::fixturePath("robot_model_edges/"), "mimic.urdf",
                                      "no_virtual_joint.srdf");
}

class TestArmGroups : public ::testing::Test {
 protected:
  std::shared_ptr<RobotModel> model_ = bramlock_test::loadTestArm();
  const JointModelGroup& arm() const { return *model_->getJointModelGroup("arm"); }
  const JointModelGroup& gripper() const { return *model_->getJointModelGroup("gripper"); }
};

TEST_F(TestArmGroups, ChainGroupOfTheSixArmJoints) {
  const JointModelGroup& group = arm();
  EXPECT_EQ(group.getJointModelNames(),
            (Names{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6", "tool_joint"}));
  EXPECT_EQ(group.getActiveJointModelNames(), (Names{"joint1", "joint2", "joint3", "joint4", "joint5", "joint6"}));
  EXPECT_EQ(namesOf(group.getFixedJointModels()), Names{"tool_joint"});
  EXPECT_TRUE(group.getMimicJointModels().empty());
  EXPECT_EQ(group.getVariableIndexList(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(group.getActiveJointModelStartIndex(), (std::vector<int>{0, 1, 2, 3, 4, 5}));
  EXPECT_EQ(group.getVariableCount(), 6u);
  EXPECT_EQ(group.getActiveVariableCount(), 6u);
  EXPECT_TRUE(group.isContiguousWithinState());
  EXPECT_TRUE(group.isChain());
  EXPECT_TRUE(group.isSingleDOFJoints());
  EXPECT_EQ(namesOf(group.getJointRoots()), Names{"joint1"});
  EXPECT_EQ(group.getCommonRoot(), model_->getJointModel("joint1"));
  EXPECT_EQ(group.getLinkModelNames(), (Names{"link1", "link2", "link3", "link4", "link5", "link6", "tool_link"}));
  // Joint 1 moves its own link and everything below it, the fingers included.
  EXPECT_EQ(group.getUpdatedLinkModelNames(), (Names{"link1", "link2", "link3", "link4", "link5", "link6", "tool_link",
                                                     "finger_link", "finger_mimic_link"}));
  EXPECT_TRUE(sortedByLinkIndex(group.getUpdatedLinkModels()));
  EXPECT_EQ(group.getUpdatedLinkModelsSet().size(), 9u);
  for (const LinkModel* link : group.getUpdatedLinkModelsWithGeometry()) EXPECT_FALSE(link->getShapes().empty());
  EXPECT_TRUE(sortedByLinkIndex(group.getUpdatedLinkModelsWithGeometry()));
  for (size_t i = 0; i < 6; ++i) {
    EXPECT_EQ(group.getActiveJointModelsBounds()[i], &group.getActiveJointModels()[i]->getVariableBounds());
  }
}

TEST_F(TestArmGroups, JointListGroupAgreesWithTheChainGroup) {
  // Given out of order: the group sorts by joint index.
  const auto listed = makeGroup(*model_, "listed", {"joint4", "joint1", "joint6", "joint2", "joint5", "joint3"});
  const JointModelGroup& chain = arm();
  EXPECT_EQ(listed->getActiveJointModels(), chain.getActiveJointModels());
  EXPECT_EQ(listed->getVariableNames(), chain.getVariableNames());
  EXPECT_EQ(listed->getVariableIndexList(), chain.getVariableIndexList());
  EXPECT_TRUE(listed->isContiguousWithinState());
  EXPECT_TRUE(listed->isChain());
  EXPECT_EQ(listed->getJointRoots(), chain.getJointRoots());
  EXPECT_EQ(listed->getUpdatedLinkModels(), chain.getUpdatedLinkModels());
  EXPECT_EQ(listed->getLinkModelNames(), (Names{"link1", "link2", "link3", "link4", "link5", "link6"}));
  EXPECT_EQ(listed->getVariableGroupIndex("joint3"), 2);
}

TEST_F(TestArmGroups, TwoBranchesGiveTwoRootsAndNoChain) {
  const auto group = makeGroup(*model_, "branches", {"sensor_pan_joint", "joint1"});
  EXPECT_EQ(namesOf(group->getJointRoots()), (Names{"joint1", "sensor_pan_joint"}));
  EXPECT_FALSE(group->isChain());
  EXPECT_EQ(group->getCommonRoot(),
            model_->getCommonRoot(model_->getJointModel("joint1"), model_->getJointModel("sensor_pan_joint")));
  EXPECT_EQ(group->getCommonRoot(), model_->getRootJoint());
  EXPECT_EQ(group->getVariableIndexList(), (std::vector<int>{0, 8}));
  EXPECT_FALSE(group->isContiguousWithinState());
  EXPECT_EQ(namesOf(group->getContinuousJointModels()), Names{"sensor_pan_joint"});
  EXPECT_TRUE(sortedByLinkIndex(group->getUpdatedLinkModels()));
  EXPECT_EQ(group->getUpdatedLinkModelNames().back(), "sensor_link");

  // Joints with a gap between them are no chain either.
  EXPECT_FALSE(makeGroup(*model_, "gap", {"joint2", "joint4"})->isChain());
  EXPECT_TRUE(makeGroup(*model_, "single", {"joint3"})->isChain());
}

TEST_F(TestArmGroups, OnlyFixedJoints) {
  const auto group = makeGroup(*model_, "tool", {"tool_joint"});
  EXPECT_EQ(group->getVariableCount(), 0u);
  EXPECT_TRUE(group->getJointRoots().empty());
  EXPECT_EQ(group->getCommonRoot(), nullptr);
  EXPECT_FALSE(group->isContiguousWithinState());
  EXPECT_FALSE(group->isChain());
  EXPECT_TRUE(group->isSingleDOFJoints());
  EXPECT_TRUE(group->getUpdatedLinkModels().empty());
  double value = 0.5;
  EXPECT_EQ(group->getMaximumExtent(group->getActiveJointModelsBounds()), 0.0);
  EXPECT_EQ(group->distance(&value, &value), 0.0);
  EXPECT_TRUE(group->satisfiesPositionBounds(&value, group->getActiveJointModelsBounds()));
  EXPECT_FALSE(group->enforcePositionBounds(&value, group->getActiveJointModelsBounds()));
  EXPECT_EQ(namesOf(group->getLinkModels()), Names{"tool_link"});
}

TEST_F(TestArmGroups, LookupsAndTheirMessages) {
  const JointModelGroup& group = arm();
  OutputCapture capture;
  EXPECT_TRUE(group.hasJointModel("tool_joint"));
  EXPECT_FALSE(group.hasJointModel("finger_joint"));
  EXPECT_TRUE(group.hasLinkModel("tool_link"));
  EXPECT_FALSE(group.hasLinkModel("base_link"));
  EXPECT_EQ(group.getJointModel("joint2"), model_->getJointModel("joint2"));
  EXPECT_EQ(group.getLinkModel("link2"), model_->getLinkModel("link2"));
  EXPECT_EQ(group.getVariableGroupIndex("joint6"), 5);
  EXPECT_EQ(capture.out(), "");

  OutputCapture misses;
  EXPECT_EQ(group.getJointModel("finger_joint"), nullptr);
  EXPECT_EQ(group.getLinkModel("base_link"), nullptr);
  EXPECT_EQ(group.getVariableGroupIndex("nope"), -1);
  EXPECT_EQ(misses.out(),
            "Joint 'finger_joint' not found in group 'arm'\nLink 'base_link' not found in group 'arm'\n"
            "Variable 'nope' is not part of group 'arm'\n");
}

TEST_F(TestArmGroups, BoundsExtentDistanceAndInterpolation) {
  const JointModelGroup& group = arm();
  const auto& bounds = group.getActiveJointModelsBounds();
  double extent = 0.0;
  for (const auto* joint_bounds : bounds) extent += (*joint_bounds)[0].max_position_ - (*joint_bounds)[0].min_position_;
  EXPECT_NEAR(group.getMaximumExtent(bounds), extent, 1e-12);

  std::vector<double> inside(6, 0.1);
  EXPECT_TRUE(group.satisfiesPositionBounds(inside.data(), bounds));
  std::vector<double> outside = inside;
  outside[3] = 3.2;  // joint4 ends at 3.05
  EXPECT_FALSE(group.satisfiesPositionBounds(outside.data(), bounds));
  EXPECT_TRUE(group.satisfiesPositionBounds(outside.data(), bounds, 0.2));
  EXPECT_TRUE(group.enforcePositionBounds(outside.data(), bounds));
  EXPECT_DOUBLE_EQ(outside[3], 3.05);
  EXPECT_FALSE(group.enforcePositionBounds(outside.data(), bounds));

  std::vector<double> to = {0.5, -0.5, 1.0, 0.0, 0.2, -1.0};
  EXPECT_NEAR(group.distance(inside.data(), to.data()), 0.4 + 0.6 + 0.9 + 0.1 + 0.1 + 1.1, 1e-12);
  std::vector<double> middle(6, 0.0);
  group.interpolate(inside.data(), to.data(), 0.5, middle.data());
  for (size_t i = 0; i < 6; ++i) EXPECT_NEAR(middle[i], (inside[i] + to[i]) / 2, 1e-12);
}

TEST_F(TestArmGroups, BadNumbersAndBadArguments) {
  const JointModelGroup& group = arm();
  const auto& bounds = group.getActiveJointModelsBounds();
  for (double bad : {kNaN, kInf, -kInf, 1e300}) {
    std::vector<double> state(6, 0.0);
    state[2] = bad;
    EXPECT_FALSE(group.satisfiesPositionBounds(state.data(), bounds)) << bad;
  }
  // A continuous joint has no limits, but a value that is not a number is still out of bounds.
  const auto pan = makeGroup(*model_, "pan", {"sensor_pan_joint"});
  EXPECT_TRUE(pan->satisfiesPositionBounds(std::vector<double>{1e6}.data(), pan->getActiveJointModelsBounds()));
  EXPECT_FALSE(pan->satisfiesPositionBounds(&kNaN, pan->getActiveJointModelsBounds()));
  EXPECT_FALSE(pan->satisfiesPositionBounds(&kInf, pan->getActiveJointModelsBounds()));
  std::vector<double> model_state(model_->getVariableCount(), 0.0);
  model_state[model_->getVariableIndex("sensor_pan_joint")] = kNaN;
  EXPECT_FALSE(model_->satisfiesPositionBounds(model_state.data(), model_->getActiveJointModelsBounds()));

  // Distances and interpolation pass a value that is not a number on rather than hide it.
  std::vector<double> zeros(6, 0.0), with_nan(6, 0.0), middle(6, 0.0);
  with_nan[1] = kNaN;
  EXPECT_TRUE(std::isnan(group.distance(zeros.data(), with_nan.data())));
  group.interpolate(zeros.data(), zeros.data(), kNaN, middle.data());
  EXPECT_TRUE(std::isnan(middle[0]));
  group.interpolate(zeros.data(), with_nan.data(), 0.5, middle.data());
  EXPECT_TRUE(std::isnan(middle[1]));
  EXPECT_FALSE(group.satisfiesPositionBounds(middle.data(), bounds));
  // Sampling near a seed or within a distance that is not a finite number is refused untouched.
  random_numbers::RandomNumberGenerator seeded(9);
  for (double bad : {kNaN, kInf, -kInf}) {
    std::vector<double> near(6, 0.0), sample(6, 0.5);
    EXPECT_THROW_MESSAGE(group.getVariableRandomPositionsNearBy(seeded, sample.data(), bounds, near.data(), bad),
                         std::invalid_argument,
                         "^getVariableRandomPositionsNearBy: seed or distance is not a finite number$");
    std::vector<double> distances(6, 0.1);
    distances[4] = bad;
    EXPECT_THROW_MESSAGE(group.getVariableRandomPositionsNearBy(seeded, sample.data(), bounds, near.data(), distances),
                         std::invalid_argument,
                         "^getVariableRandomPositionsNearBy: seed or distance is not a finite number$");
    near[2] = bad;
    EXPECT_THROW_MESSAGE(group.getVariableRandomPositionsNearBy(seeded, sample.data(), bounds, near.data(), 0.1),
                         std::invalid_argument,
                         "^getVariableRandomPositionsNearBy: seed or distance is not a finite number$");
    EXPECT_EQ(sample, std::vector<double>(6, 0.5));
  }
  // A huge distance around an ordinary seed covers the whole range.
  std::vector<double> sample(6, 0.0);
  group.getVariableRandomPositionsNearBy(seeded, sample.data(), bounds, zeros.data(), 1e300);
  EXPECT_TRUE(group.satisfiesPositionBounds(sample.data(), bounds));

  std::vector<double> huge(6, 1e300);
  EXPECT_TRUE(group.enforcePositionBounds(huge.data(), bounds));
  EXPECT_TRUE(group.satisfiesPositionBounds(huge.data(), bounds));

  std::vector<double> values(6, 0.0);
  random_numbers::RandomNumberGenerator rng(7);
  EXPECT_THROW_MESSAGE(group.satisfiesPositionBounds(nullptr, bounds), std::invalid_argument,
                       "^satisfiesPositionBounds: null value array$");
  EXPECT_THROW_MESSAGE(group.enforcePositionBounds(nullptr, bounds), std::invalid_argument,
                       "^enforcePositionBounds: null value array$");
  EXPECT_THROW_MESSAGE(group.distance(values.data(), nullptr), std::invalid_argument, "^distance: null value array$");
  EXPECT_THROW_MESSAGE(group.interpolate(values.data(), values.data(), 0.5, nullptr), std::invalid_argument,
                       "^interpolate: null value array$");
  EXPECT_THROW_MESSAGE(group.updateMimicJoints(nullptr), std::invalid_argument,
                       "^updateMimicJoints: null value array$");
  EXPECT_THROW_MESSAGE(group.getVariableDefaultPositions(static_cast<double*>(nullptr)), std::invalid_argument,
                       "^getVariableDefaultPositions: null value array$");
  EXPECT_THROW_MESSAGE(group.getVariableRandomPositions(rng, nullptr, bounds), std::invalid_argument,
                       "^getVariableRandomPositions: null value array$");
  EXPECT_THROW_MESSAGE(group.getVariableRandomPositionsNearBy(rng, values.data(), bounds, nullptr, 0.1),
                       std::invalid_argument, "^getVariableRandomPositionsNearBy: null value array$");

  // A bounds list of another length is a programming error, for the extent too.
  const JointModelGroup::JointBoundsVector short_bounds(bounds.begin(), bounds.end() - 1);
  EXPECT_DEATH(group.getMaximumExtent(short_bounds), "active_joint_bounds.size");
  EXPECT_DEATH(group.satisfiesPositionBounds(values.data(), short_bounds), "active_joint_bounds.size");
  EXPECT_DEATH(group.enforcePositionBounds(values.data(), short_bounds), "active_joint_bounds.size");
  EXPECT_DEATH(group.getVariableRandomPositions(rng, values.data(), short_bounds), "active_joint_bounds.size");
}

TEST_F(TestArmGroups, RandomPositionsStayInsideBoundsAndNearTheSeed) {
  const JointModelGroup& group = arm();
  const auto& bounds = group.getActiveJointModelsBounds();
  random_numbers::RandomNumberGenerator rng(11);
  const std::vector<double> near = {0.1, 0.2, 0.3, -0.4, 0.5, -0.6};
  for (int i = 0; i < 100; ++i) {
    std::vector<double> values(6, kNaN);
    group.getVariableRandomPositions(rng, values.data(), bounds);
    EXPECT_TRUE(group.satisfiesPositionBounds(values.data(), bounds));
    group.getVariableRandomPositionsNearBy(rng, values.data(), bounds, near.data(), 0.05);
    for (size_t j = 0; j < 6; ++j) EXPECT_LE(std::fabs(values[j] - near[j]), 0.05 + 1e-12);
    const std::vector<double> distances = {0.0, 0.1, 0.0, 0.2, 0.0, 0.3};
    group.getVariableRandomPositionsNearBy(rng, values.data(), bounds, near.data(), distances);
    for (size_t j = 0; j < 6; ++j) EXPECT_LE(std::fabs(values[j] - near[j]), distances[j] + 1e-12);
  }
}

TEST_F(TestArmGroups, PerJointDistancesMustMatchTheActiveJoints) {
  const JointModelGroup& group = arm();
  random_numbers::RandomNumberGenerator rng(3);
  const std::vector<double> near(6, 0.0);
  std::vector<double> values(6, 9.0);
  OutputCapture capture;
  try {
    group.getVariableRandomPositionsNearBy(rng, values.data(), group.getActiveJointModelsBounds(), near.data(),
                                           std::vector<double>(5, 0.1));
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& error) {
    EXPECT_STREQ(error.what(), "distances.size() != active_joint_model_vector_.size()!!!.");
  }
  EXPECT_EQ(capture.out(), "distances.size() != active_joint_model_vector_.size()!!!\n");
  EXPECT_EQ(values, std::vector<double>(6, 9.0));
}

TEST_F(TestArmGroups, DistanceByJointKindReportsMissingKinds) {
  const auto group = makeGroup(*model_, "mixed", {"joint1", "finger_joint"});
  random_numbers::RandomNumberGenerator rng(5);
  const std::vector<double> near = {0.3, 0.02};
  std::vector<double> values(2, 0.0);
  OutputCapture capture;
  group->getVariableRandomPositionsNearBy(rng, values.data(), group->getActiveJointModelsBounds(), near.data(),
                                          std::map<JointModel::JointType, double>{{JointModel::REVOLUTE, 0.01}});
  EXPECT_EQ(capture.out(), "Did not pass in distance for 'finger_joint'\n");
  EXPECT_LE(std::fabs(values[0] - 0.3), 0.01);
  EXPECT_DOUBLE_EQ(values[1], 0.02);
}

TEST_F(TestArmGroups, DefaultValuesAndNamedStates) {
  const JointModelGroup& group = arm();
  std::vector<double> values(6, 7.0);
  group.getVariableDefaultPositions(values.data());
  EXPECT_EQ(values, std::vector<double>(6, 0.0));

  std::map<std::string, double> named = {{"other", 1.5}};
  group.getVariableDefaultPositions(named);
  EXPECT_EQ(named.size(), 7u);
  EXPECT_EQ(named.at("other"), 1.5);
  EXPECT_EQ(named.at("joint4"), 0.0);

  EXPECT_EQ(group.getDefaultStateNames(), (Names{"home", "ready"}));
  std::map<std::string, double> ready = {{"stale", 1.0}};
  EXPECT_TRUE(group.getVariableDefaultPositions("ready", ready));
  EXPECT_EQ(ready, (std::map<std::string, double>{{"joint2", -0.5}, {"joint3", 1.0}, {"joint5", 0.5}}));
  EXPECT_FALSE(group.getVariableDefaultPositions("nowhere", ready));
  EXPECT_EQ(ready.size(), 3u);

  auto copy = makeGroup(*model_, "copy", {"joint1"});
  copy->addDefaultState("pose", {{"joint1", 0.1}});
  copy->addDefaultState("pose", {{"joint1", 0.2}});
  EXPECT_EQ(copy->getDefaultStateNames(), (Names{"pose", "pose"}));
  std::map<std::string, double> pose;
  ASSERT_TRUE(copy->getVariableDefaultPositions("pose", pose));
  EXPECT_EQ(pose.at("joint1"), 0.2);
}

TEST_F(TestArmGroups, GripperMimicTwinFollowsTheFinger) {
  const JointModelGroup& group = gripper();
  EXPECT_EQ(group.getVariableNames(), (Names{"finger_joint", "finger_mimic_joint"}));
  EXPECT_EQ(group.getActiveJointModelNames(), Names{"finger_joint"});
  EXPECT_EQ(namesOf(group.getMimicJointModels()), Names{"finger_mimic_joint"});
  ASSERT_EQ(group.getGroupMimicUpdates().size(), 1u);
  EXPECT_EQ(group.getGroupMimicUpdates()[0].src, 0);
  EXPECT_EQ(group.getGroupMimicUpdates()[0].dest, 1);
  EXPECT_EQ(group.getVariableIndexList(), (std::vector<int>{6, 7}));
  EXPECT_TRUE(group.isContiguousWithinState());
  EXPECT_EQ(namesOf(group.getJointRoots()), Names{"finger_joint"});
  EXPECT_EQ(group.getUpdatedLinkModelNames(), (Names{"finger_link", "finger_mimic_link"}));
  EXPECT_EQ(group.getActiveVariableCount(), 1u);
}

class MimicGroups : public ::testing::Test {
 protected:
  std::shared_ptr<RobotModel> model_ = loadMimicModel();
};

// b = 2a + 0.1 and c = 6a + 0.5 (c follows b, which follows a).
void expectFollowers(const std::vector<double>& v) {
  EXPECT_NEAR(v[1], 2 * v[0] + 0.1, 1e-12);
  EXPECT_NEAR(v[2], 6 * v[0] + 0.5, 1e-12);
}

TEST_F(MimicGroups, EveryFillAppliesTheMimicUpdates) {
  const auto group = makeGroup(*model_, "follow", {"a", "b", "c"});
  const auto& bounds = group->getActiveJointModelsBounds();
  ASSERT_EQ(group->getGroupMimicUpdates().size(), 2u);
  EXPECT_EQ(namesOf(group->getJointRoots()), Names{"a"});

  std::vector<double> values(3, 9.0);
  group->getVariableDefaultPositions(values.data());
  EXPECT_EQ(values[0], 0.0);
  expectFollowers(values);

  const std::vector<double> from = {0.0, 0.0, 0.0}, to = {1.0, 0.0, 0.0};
  group->interpolate(from.data(), to.data(), 0.5, values.data());
  EXPECT_DOUBLE_EQ(values[0], 0.5);
  expectFollowers(values);

  random_numbers::RandomNumberGenerator rng(21);
  group->getVariableRandomPositions(rng, values.data(), bounds);
  expectFollowers(values);
  group->getVariableRandomPositionsNearBy(rng, values.data(), bounds, from.data(), 0.3);
  expectFollowers(values);

  values = {5.0, 0.0, 0.0};
  EXPECT_TRUE(group->enforcePositionBounds(values.data(), bounds));
  EXPECT_EQ(values[0], 2.0);
  expectFollowers(values);
  values = {1.0, 0.0, 0.0};
  EXPECT_FALSE(group->enforcePositionBounds(values.data(), bounds));
  EXPECT_EQ(values[1], 0.0);  // nothing changed, so no update either

  std::map<std::string, double> named;
  group->getVariableDefaultPositions(named);
  EXPECT_NEAR(named.at("c"), 0.5, 1e-12);
}

TEST_F(MimicGroups, FollowersWithoutTheirSourceAreLeftAlone) {
  const auto group = makeGroup(*model_, "followers", {"b", "c"});
  EXPECT_TRUE(group->getGroupMimicUpdates().empty());
  EXPECT_TRUE(group->getActiveJointModels().empty());
  EXPECT_EQ(group->getVariableCount(), 2u);
  std::vector<double> values = {4.0, 5.0};
  group->getVariableDefaultPositions(values.data());
  EXPECT_EQ(values, (std::vector<double>{4.0, 5.0}));
  std::map<std::string, double> named;
  group->getVariableDefaultPositions(named);
  EXPECT_EQ(named, (std::map<std::string, double>{{"b", 0.0}, {"c", 0.0}}));
}

TEST_F(MimicGroups, MultiVariableJointClearsSingleDof) {
  const auto group = makeGroup(*model_, "planar", {"a", "planar_p"});
  EXPECT_FALSE(group->isSingleDOFJoints());
  EXPECT_EQ(group->getVariableCount(), 4u);
  EXPECT_EQ(group->getActiveJointModelStartIndex(), (std::vector<int>{0, 1}));
  EXPECT_EQ(group->getVariableGroupIndex("planar_p"), 1);
  EXPECT_EQ(group->getVariableGroupIndex("planar_p/theta"), 3);
}

}  // namespace
