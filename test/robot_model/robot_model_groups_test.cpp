#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/kinematics/kestrel_bot_v3_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rev5u800_kinematics.h"
#include "bramlock_arm_planning_core/kinematics/rml63b_kinematics.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "test_arm.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using moveit::core::JointModelGroup;
using moveit::core::KinematicsSlover;
using moveit::core::LinkModel;
using moveit::core::RobotModel;
using Names = std::vector<std::string>;

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

// Records what the group hands it; answers the diagnostic's calls with fixed values.
class RecordingKinematics : public KinematicsInterface {
 public:
  explicit RecordingKinematics(const std::vector<double>& alphas) { initRobotType(alphas); }

  int setMdhPara(std::vector<double> zds, std::vector<double> xas, std::vector<double> alphas,
                 std::vector<double> qzeros) override {
    tables.push_back({zds, xas, alphas, qzeros});
    return 0;
  }
  Eigen::MatrixXd forwardKinematics(std::vector<double> q) override {
    forward_q = q;
    Eigen::MatrixXd pose = Eigen::MatrixXd::Identity(4, 4);
    pose(0, 3) = 0.25;
    return pose;
  }
  int inverseKinematics(Eigen::MatrixXd T, std::vector<double> ref_q, std::vector<double>& q) override {
    inverse_pose = T;
    inverse_ref = ref_q;
    q = {1.5, -2.25};
    return 0;
  }
  int inverseKinematics(Eigen::MatrixXd, int*, std::vector<double>&) override { return -1; }
  int inverseKinematics(Eigen::MatrixXd, std::vector<double>&) override { return -1; }
  int inverseKinematics(Eigen::MatrixXd, std::vector<std::vector<double>>&) override { return -1; }
  int inverseKinematics(Eigen::MatrixXd, std::vector<double>, std::vector<std::vector<double>>&) override { return -1; }
  int getMinEigenvalue(const std::vector<double>&, double&) override { return 0; }

  std::vector<std::array<std::vector<double>, 4>> tables;
  std::vector<double> forward_q;
  std::vector<double> inverse_ref;
  Eigen::MatrixXd inverse_pose;
};

const std::vector<double> kTestArmAlphas = {0.0, -M_PI_2, 0.0, M_PI_2, -M_PI_2, -M_PI_2};

KinematicsSlover entryOf(const std::shared_ptr<RecordingKinematics>& solver) {
  return {solver->getRobotType(), solver};
}

class GroupBinding : public ::testing::Test {
 protected:
  std::shared_ptr<RobotModel> model_ = bramlock_test::loadTestArm();
  JointModelGroup& arm() { return *model_->getJointModelGroup("arm"); }
};

TEST_F(GroupBinding, FirstMatchingSolverGetsTheActiveJointsMdhValuesInOrder) {
  auto other = std::make_shared<RecordingKinematics>(std::vector<double>{0, M_PI_2, 0, M_PI_2, -M_PI_2, M_PI_2});
  // Within pi/20 of the arm's alphas: still a match.
  std::vector<double> near_alphas = kTestArmAlphas;
  near_alphas[3] += 0.15;
  auto first = std::make_shared<RecordingKinematics>(near_alphas);
  auto second = std::make_shared<RecordingKinematics>(kTestArmAlphas);
  std::vector<KinematicsSlover> solvers = {entryOf(other), entryOf(first), entryOf(second)};
  OutputCapture quiet;
  arm().initKinematicsInstance(solvers);
  EXPECT_EQ(arm().getKinematicsInterface(), first);
  EXPECT_TRUE(other->tables.empty());
  EXPECT_TRUE(second->tables.empty());
  ASSERT_EQ(first->tables.size(), 1u);
  const moveit::core::MdhTable table = bramlock_test::testArmMdhTable();
  EXPECT_EQ(first->tables[0][0], table[moveit::core::kMdhRowZd]);
  EXPECT_EQ(first->tables[0][1], table[moveit::core::kMdhRowXa]);
  EXPECT_EQ(first->tables[0][2], table[moveit::core::kMdhRowAlpha]);
  EXPECT_EQ(first->tables[0][3], table[moveit::core::kMdhRowQzero]);
  EXPECT_EQ(first.use_count(), 3);  // the test, the list, the group
}

TEST_F(GroupBinding, EmptyListOrNoMatchLeavesTheGroupWithoutSolver) {
  auto solver = std::make_shared<RecordingKinematics>(kTestArmAlphas);
  std::vector<KinematicsSlover> solvers = {entryOf(solver)};
  {
    OutputCapture quiet;
    arm().initKinematicsInstance(solvers);
  }
  ASSERT_EQ(arm().getKinematicsInterface(), solver);
  std::vector<KinematicsSlover> none;
  OutputCapture empty;
  arm().initKinematicsInstance(none);
  EXPECT_EQ(empty.out(), "kinematics slovers size ==0 error!\n");
  EXPECT_EQ(arm().getKinematicsInterface(), nullptr);
  EXPECT_EQ(solver.use_count(), 2);

  std::vector<double> other_alphas = kTestArmAlphas;
  other_alphas[5] = M_PI_2;
  std::vector<KinematicsSlover> mismatched = {entryOf(std::make_shared<RecordingKinematics>(other_alphas)),
                                              entryOf(std::make_shared<RecordingKinematics>(std::vector<double>(
                                                  kTestArmAlphas.begin(), kTestArmAlphas.end() - 1)))};
  OutputCapture unmatched;
  arm().initKinematicsInstance(mismatched);
  EXPECT_TRUE(contains(unmatched.out(), "This joint group does not has the kinematics slover !\n"));
  EXPECT_EQ(arm().getKinematicsInterface(), nullptr);
}

TEST_F(GroupBinding, PrintRobotTypeRunsOneInverseKinematicsRound) {
  {
    OutputCapture capture;
    model_->getJointModelGroup("wrist")->printRobotType();
    EXPECT_EQ(capture.out(), "This joint group does not include a robot type.\n");
  }
  auto solver = std::make_shared<RecordingKinematics>(kTestArmAlphas);
  std::vector<KinematicsSlover> solvers = {entryOf(solver)};
  {
    OutputCapture quiet;
    arm().initKinematicsInstance(solvers);
  }
  OutputCapture capture;
  arm().printRobotType();
  EXPECT_TRUE(contains(capture.out(), "robot type->axis num:6,alpha_sequence:[")) << capture.out();
  EXPECT_EQ(capture.out().substr(capture.out().size() - 20), "\n1.500000,-2.250000,");
  EXPECT_EQ(solver->forward_q, (std::vector<double>{-2.8329526717891627, 1.6923442160180873, 1.9966807626168634,
                                                    0.8249184719381422, 0.17992302484749878, -0.687674236599662}));
  EXPECT_EQ(solver->inverse_ref, (std::vector<double>{-2.7, 1.5, 1.99, 0.8, 0.179923, -0.787674236599662}));
  EXPECT_EQ(solver->inverse_pose(0, 3), 0.25);
}

TEST(SolverRegistry, FourArmsInSearchOrderWithTheirOwnRobotTypes) {
  const auto model = bramlock_test::loadTestArm();
  const std::vector<KinematicsSlover>& solvers = model->getKinematicsSlovers();
  ASSERT_EQ(solvers.size(), 4u);
  EXPECT_NE(dynamic_cast<RealmanKinematics*>(solvers[0].kinematics.get()), nullptr);
  EXPECT_NE(dynamic_cast<KestrelBotV3Kinematics*>(solvers[1].kinematics.get()), nullptr);
  EXPECT_NE(dynamic_cast<Rml63BKinematics*>(solvers[2].kinematics.get()), nullptr);
  EXPECT_NE(dynamic_cast<Rev5U800Kinematics*>(solvers[3].kinematics.get()), nullptr);
  for (const KinematicsSlover& solver : solvers) {
    const RobotType own = solver.kinematics->getRobotType();
    EXPECT_EQ(solver.robot_type.axis_num, own.axis_num);
    EXPECT_EQ(solver.robot_type.alpha_sequence, own.alpha_sequence);
  }
}

TEST(SolverRegistry, OnlyTheArmGroupOfTheTestArmGetsASolver) {
  const auto model = bramlock_test::loadTestArm();
  const auto& rml = model->getKinematicsSlovers()[2].kinematics;
  EXPECT_EQ(model->getJointModelGroup("arm")->getKinematicsInterface(), rml);
  EXPECT_EQ(rml.use_count(), 2);  // the registry and the arm group
  for (const char* name : {"gripper", "manipulator", "sensor", "wrist"}) {
    EXPECT_EQ(model->getJointModelGroup(name)->getKinematicsInterface(), nullptr) << name;
  }
  // The solver holds the arm's MDH values.
  const moveit::core::MdhTable table = bramlock_test::testArmMdhTable();
  EXPECT_EQ(rml->zd, table[moveit::core::kMdhRowZd]);
  EXPECT_EQ(rml->qzero, table[moveit::core::kMdhRowQzero]);
}

TEST(RobotModelGroups, TestArmGroupsSubgroupsAndEndEffector) {
  const auto model = bramlock_test::loadTestArm();
  EXPECT_EQ(model->getJointModelGroupNames(), (Names{"arm", "gripper", "manipulator", "sensor", "wrist"}));
  const JointModelGroup* manipulator = model->getJointModelGroup("manipulator");
  EXPECT_EQ(manipulator->getSubgroupNames(), (Names{"arm", "gripper", "wrist"}));
  std::vector<const JointModelGroup*> subgroups;
  manipulator->getSubgroups(subgroups);
  ASSERT_EQ(subgroups.size(), 3u);
  EXPECT_EQ(subgroups[1], model->getJointModelGroup("gripper"));
  EXPECT_EQ(model->getJointModelGroup("arm")->getSubgroupNames(), Names{"wrist"});
  EXPECT_TRUE(model->getJointModelGroup("gripper")->getSubgroupNames().empty());
  EXPECT_EQ(model->getJointModelGroup("wrist")->getJointModelNames(), (Names{"joint5", "joint6"}));

  const JointModelGroup* gripper = model->getJointModelGroup("gripper");
  EXPECT_EQ(gripper->getEndEffectorName(), "hand");
  EXPECT_EQ(gripper->getEndEffectorParentGroup(), std::make_pair(std::string("arm"), std::string("tool_link")));
  EXPECT_EQ(model->getEndEffector("hand"), gripper);
  EXPECT_EQ(model->getEndEffector("gripper"), gripper);
  ASSERT_EQ(model->getEndEffectors().size(), 1u);
  EXPECT_EQ(model->getJointModelGroup("arm")->getAttachedEndEffectorNames(), Names{"hand"});
  EXPECT_EQ(manipulator->getAttachedEndEffectorNames(), Names{"hand"});

  const JointModelGroup* arm = model->getJointModelGroup("arm");
  Names tips;
  EXPECT_TRUE(arm->getEndEffectorTips(tips));
  EXPECT_EQ(tips, Names{"tool_link"});
  EXPECT_EQ(arm->getOnlyOneEndEffectorTip(), model->getLinkModel("tool_link"));
  OutputCapture capture;
  EXPECT_EQ(gripper->getOnlyOneEndEffectorTip(), nullptr);
  EXPECT_EQ(capture.out(), "No end effector tips found in joint model group\n");
}

class GroupEdges : public ::testing::Test {
 protected:
  void SetUp() override {
    OutputCapture capture;
    model_ = std::make_shared<RobotModel>(bramlock_test::testArmDirectory(), "test_arm.urdf", "group_edges.srdf",
                                          bramlock_test::testArmMdhTable());
    out_ = capture.out();
  }
  Names jointsOf(const std::string& group) const { return model_->getJointModelGroup(group)->getJointModelNames(); }

  std::shared_ptr<RobotModel> model_;
  std::string out_;
};

TEST_F(GroupEdges, GroupsThatCannotBeMadeAreReportedAndLeftOut) {
  EXPECT_EQ(model_->getJointModelGroupNames(),
            (Names{"across", "below", "claws", "fingers", "later_user", "pinch", "tool_only", "tool_pair", "upper"}));
  EXPECT_TRUE(contains(out_, "A group named 'upper' already exists. Not adding.Failed to add group 'upper'\n"));
  EXPECT_TRUE(contains(out_,
                       "Joint 'nope' not found in model 'test_arm'Group 'empty' must have at least one valid joint"
                       "Failed to add group 'empty'\n"));
  EXPECT_TRUE(contains(out_,
                       "Could not process group 'loop_a' due to unmet subgroup dependencies"
                       "Could not process group 'loop_b' due to unmet subgroup dependencies"));
  // The first group named upper is the one kept; the later user was made in a second pass.
  EXPECT_EQ(jointsOf("upper"), (Names{"joint1", "joint2"}));
  EXPECT_EQ(jointsOf("later_user"), (Names{"joint1", "joint2"}));
  EXPECT_EQ(model_->getJointModelGroup("upper")->getSubgroupNames(), Names{"later_user"});
}

TEST_F(GroupEdges, ChainsWhoseBaseIsNotAboveTheTip) {
  // The walks from both ends meet at the root joint.
  EXPECT_EQ(jointsOf("across"), (Names{"world_joint", "joint1", "joint2", "sensor_pan_joint"}));
  // A base below the tip: up from the base to the tip's joint.
  EXPECT_EQ(jointsOf("below"), (Names{"joint2", "joint3", "joint4"}));
}

TEST_F(GroupEdges, EndEffectorParents) {
  auto parentOf = [this](const std::string& group) {
    return model_->getJointModelGroup(group)->getEndEffectorParentGroup();
  };
  using Parent = std::pair<std::string, std::string>;
  // No parent group named: the candidate with fewest joints.
  EXPECT_EQ(parentOf("fingers"), Parent("tool_only", "tool_link"));
  EXPECT_TRUE(contains(out_,
                       "Group 'upper' was specified as parent group for end-effector 'bad_parent' but it does "
                       "not include the parent link 'tool_link'"));
  EXPECT_EQ(parentOf("claws"), Parent("tool_only", "tool_link"));
  EXPECT_TRUE(contains(out_, "Group 'pinch' for end-effector 'self' cannot be its own parent"));
  EXPECT_EQ(parentOf("pinch"), Parent("fingers", "finger_mimic_link"));
  EXPECT_TRUE(contains(out_, "Could not identify parent group for end-effector 'orphan'"));
  EXPECT_EQ(parentOf("across"), Parent("", "sensor_link"));
  EXPECT_TRUE(contains(out_,
                       "Group name 'ghost' not found (specified as parent group for end-effector 'lost')"
                       "Could not identify parent group for end-effector 'lost'"));

  Names eefs;
  for (const JointModelGroup* group : model_->getEndEffectors()) eefs.push_back(group->getName());
  EXPECT_EQ(eefs, (Names{"across", "below", "claws", "fingers", "pinch"}));
  EXPECT_EQ(model_->getJointModelGroup("tool_pair")->getAttachedEndEffectorNames(), (Names{"bad_parent", "grip"}));
  // End-effector groups look for no solver; the others do and find none.
  EXPECT_EQ(model_->getJointModelGroup("fingers")->getKinematicsInterface(), nullptr);
  EXPECT_TRUE(contains(out_, "This joint group does not has the kinematics slover !\n"));

  // Two end effectors on one link give one tip.
  Names tips;
  EXPECT_TRUE(model_->getJointModelGroup("tool_only")->getEndEffectorTips(tips));
  EXPECT_EQ(tips, Names{"tool_link"});
  std::vector<const LinkModel*> links = {model_->getLinkModel("link1")};
  EXPECT_TRUE(model_->getJointModelGroup("upper")->getEndEffectorTips(links));
  EXPECT_TRUE(links.empty());
}

TEST_F(GroupEdges, TipsOfUnknownEndEffectorsFail) {
  JointModelGroup* upper = model_->getJointModelGroup("upper");
  upper->attachEndEffector("grip");
  upper->attachEndEffector("nobody");
  std::vector<const LinkModel*> links;
  Names names = {"kept"};
  OutputCapture capture;
  EXPECT_FALSE(upper->getEndEffectorTips(links));
  EXPECT_EQ(links.size(), 1u);  // what was found before the failure
  EXPECT_FALSE(upper->getEndEffectorTips(names));
  EXPECT_EQ(names, Names{"kept"});
  EXPECT_TRUE(contains(capture.out(), "Unable to find joint model group for eef\n"));

  // Two different tips: no single one.
  JointModelGroup* pair = model_->getJointModelGroup("tool_pair");
  pair->attachEndEffector("self");
  OutputCapture two;
  Names tips;
  EXPECT_TRUE(pair->getEndEffectorTips(tips));
  EXPECT_EQ(tips.size(), 2u);
  EXPECT_EQ(pair->getOnlyOneEndEffectorTip(), nullptr);
  EXPECT_TRUE(
      contains(two.out(), "More than one end effector tip found for joint model group, so cannot return only one\n"));
}

TEST_F(GroupEdges, GroupStates) {
  const JointModelGroup* upper = model_->getJointModelGroup("upper");
  EXPECT_EQ(upper->getDefaultStateNames(), (Names{"s_ok", "s_foreign", "s_count"}));
  std::map<std::string, double> values;
  ASSERT_TRUE(upper->getVariableDefaultPositions("s_ok", values));
  EXPECT_EQ(values, (std::map<std::string, double>{{"joint1", 0.1}, {"joint2", 0.2}}));
  ASSERT_TRUE(upper->getVariableDefaultPositions("s_foreign", values));
  EXPECT_EQ(values, (std::map<std::string, double>{{"joint1", 0.3}}));
  ASSERT_TRUE(upper->getVariableDefaultPositions("s_count", values));
  EXPECT_EQ(values, (std::map<std::string, double>{{"joint1", 0.4}}));
  EXPECT_FALSE(upper->getVariableDefaultPositions("s_nothing", values));
  EXPECT_TRUE(contains(out_,
                       "Group state 's_foreign' specifies value for joint 'joint5', but that joint is not part "
                       "of group 'upper'"));
  EXPECT_TRUE(contains(out_,
                       "The model for joint 'joint2' requires 1 variable values, but only 2 variable values "
                       "were supplied in default state 's_count' for group 'upper'"));
  EXPECT_TRUE(contains(out_, "Group state 's_missing' specified for group 'nowhere', but that group does not exist"));
}

}  // namespace
