#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

#include <kdl/chainfksolverpos_recursive.hpp>
#include <kdl/tree.hpp>
#include <kdl_parser/kdl_parser.hpp>

#include "expect_throw_message.h"
#include "state_test_support.h"

namespace {

using bramlock_test::OutputCapture;
using bramlock_test::transformsNear;
using moveit::core::JointModelGroup;
using moveit::core::LinkModel;
using moveit::core::RobotModel;
using moveit::core::RobotState;

Eigen::Isometry3d toIsometry(const KDL::Frame& frame) {
  Eigen::Isometry3d result = Eigen::Isometry3d::Identity();
  for (int r = 0; r < 3; ++r) {
    for (int c = 0; c < 3; ++c) result(r, c) = frame.M(r, c);
    result(r, 3) = frame.p(r);
  }
  return result;
}

// Forward kinematics of the URDF by KDL, with the joint values of a state.
class KdlOracle {
 public:
  explicit KdlOracle(const RobotModel& model) : model_(model) {
    EXPECT_TRUE(kdl_parser::treeFromFile(bramlock_test::testArmDirectory() + "test_arm.urdf", tree_));
  }

  Eigen::Isometry3d linkTransform(const std::string& link, const RobotState& state) const {
    KDL::Chain chain;
    EXPECT_TRUE(tree_.getChain(model_.getRootLink()->getName(), link, chain)) << link;
    KDL::JntArray values(chain.getNrOfJoints());
    unsigned int next = 0;
    for (const KDL::Segment& segment : chain.segments) {
      if (segment.getJoint().getType() == KDL::Joint::None) continue;
      values(next++) = state.getVariablePositions()[model_.getVariableIndex(segment.getJoint().getName())];
    }
    KDL::ChainFkSolverPos_recursive solver(chain);
    KDL::Frame frame;
    EXPECT_GE(solver.JntToCart(values, frame), 0);
    return toIsometry(frame);
  }

 private:
  const RobotModel& model_;
  KDL::Tree tree_;
};

class RobotStateTransforms : public ::testing::Test {
 protected:
  std::shared_ptr<const RobotModel> model_ = bramlock_test::loadStateTestArm();

  const JointModelGroup* group(const std::string& name) const { return model_->getJointModelGroup(name); }
  const LinkModel* link(const std::string& name) const { return model_->getLinkModel(name); }

  // Every link and collision-body transform of two updated states agree.
  void expectSameTransforms(const RobotState& actual, const RobotState& expected, double tolerance) const {
    for (const LinkModel* l : model_->getLinkModels()) {
      EXPECT_TRUE(transformsNear(actual.getGlobalLinkTransform(l), expected.getGlobalLinkTransform(l), tolerance))
          << l->getName();
      for (size_t i = 0; i < l->getShapes().size(); ++i) {
        EXPECT_TRUE(
            transformsNear(actual.getCollisionBodyTransform(l, i), expected.getCollisionBodyTransform(l, i), tolerance))
            << l->getName() << " shape " << i;
      }
    }
  }
};

TEST_F(RobotStateTransforms, LinkAndCollisionBodyTransformsMatchKdlForwardKinematics) {
  const KdlOracle kdl(*model_);
  RobotState state(model_);
  std::mt19937 rng(17);
  for (int sample = 0; sample < 50; ++sample) {
    state.setVariablePositions(bramlock_test::randomActiveValues(*model_, rng));
    state.update();
    ASSERT_TRUE(state.checkCollisionTransforms());
    for (const LinkModel* l : model_->getLinkModels()) {
      const Eigen::Isometry3d expected = kdl.linkTransform(l->getName(), state);
      EXPECT_TRUE(transformsNear(state.getGlobalLinkTransform(l), expected, 1e-9)) << l->getName();
      for (size_t i = 0; i < l->getShapes().size(); ++i) {
        EXPECT_TRUE(transformsNear(state.getCollisionBodyTransform(l, i),
                                   expected * l->getCollisionOriginTransforms()[i], 1e-9))
            << l->getName() << " shape " << i;
      }
    }
  }
}

// Random partial writes on different branches, with updates in between, must
// leave the same transforms as a full recomputation of the final values.
TEST_F(RobotStateTransforms, PartialWritesThenUpdateMatchAFullUpdate) {
  const std::vector<std::string> groups = {"arm", "gripper", "sensor", "wrist", "spread", "pan_and_lift"};
  RobotState state = bramlock_test::updatedDefaultState(model_);
  std::mt19937 rng(5);
  for (int round = 0; round < 300; ++round) {
    const JointModelGroup* g = group(groups[rng() % groups.size()]);
    std::vector<double> values;
    for (const std::string& name : g->getVariableNames()) {
      const size_t index = model_->getVariableIndex(name);
      values.push_back(bramlock_test::randomValue(model_->getJointOfVariable(index)->getVariableBounds()[0], rng));
    }
    switch (rng() % 3) {
      case 0:
        state.setJointGroupPositions(g, values.data());
        break;
      case 1:
        state.setVariablePositions(g->getVariableNames(), values);
        break;
      default:
        values.resize(g->getActiveVariableCount());
        state.setJointGroupActivePositions(g, values);
        break;
    }
    switch (rng() % 4) {
      case 0:
        state.updateLinkTransforms();
        break;
      case 1:
        state.update(false);
        break;
      default:
        break;
    }
    if (round % 10 != 9) continue;
    state.update(false);
    RobotState fresh(model_);
    fresh.setVariablePositions(state.getVariablePositions());
    fresh.update(true);
    expectSameTransforms(state, fresh, 1e-12);
  }
}

TEST_F(RobotStateTransforms, DirtyTrackingThroughTheUpdateSteps) {
  RobotState state = bramlock_test::updatedDefaultState(model_);
  OutputCapture capture;
  EXPECT_TRUE(state.checkLinkTransforms());
  const double values[] = {0.1, 0.2, 0.3, 0.4, 0.5, 0.6};
  state.setJointGroupPositions(group("arm"), values);
  EXPECT_FALSE(state.checkLinkTransforms());
  state.updateLinkTransforms();
  EXPECT_TRUE(state.checkLinkTransforms());
  EXPECT_FALSE(state.checkCollisionTransforms());
  state.updateCollisionBodyTransforms();
  EXPECT_TRUE(state.checkCollisionTransforms());
  EXPECT_TRUE(state.checkJointTransforms(model_->getJointModel("joint3")));
  state.setVariablePositions(std::map<std::string, double>{{"joint3", 1.0}});
  EXPECT_FALSE(state.checkJointTransforms(model_->getJointModel("joint3")));
  EXPECT_EQ(capture.out(),
            "Returning dirty link transforms\nReturning dirty collision body transforms\n"
            "Returning dirty joint transforms for joint 'joint3'\n");
}

TEST_F(RobotStateTransforms, CopiesCarryValuesTransformsAndDirtyState) {
  RobotState source = bramlock_test::updatedDefaultState(model_);
  const double values[] = {0.3, -0.2, 0.5, 0.1, 0.7, -1.0};
  source.setJointGroupPositions(group("arm"), values);
  source.update();

  RobotState copy(source);
  EXPECT_TRUE(copy.checkCollisionTransforms());
  expectSameTransforms(copy, source, 0.0);

  // A state dirty from the root copies only values; the copy recomputes all.
  RobotState fresh(model_);
  fresh.setVariablePositions(source.getVariablePositions());
  RobotState assigned = bramlock_test::updatedDefaultState(model_);
  assigned = fresh;
  {
    OutputCapture quiet;
    EXPECT_FALSE(assigned.checkLinkTransforms());
  }
  assigned.update();
  expectSameTransforms(assigned, source, 0.0);

  // Accelerations alone still travel with the copy (velocities lie between).
  source.setVariableAccelerations(std::map<std::string, double>{{"joint2", 4.0}});
  RobotState with_accelerations(source);
  EXPECT_TRUE(with_accelerations.hasAccelerations());
  EXPECT_FALSE(with_accelerations.hasVelocities());
  EXPECT_EQ(with_accelerations.getVariableAccelerations()[model_->getVariableIndex("joint2")], 4.0);

  RobotState& self = assigned;
  assigned = self;
  expectSameTransforms(assigned, source, 0.0);
}

TEST_F(RobotStateTransforms, AssignmentBetweenModelsIsRefused) {
  const auto other_model = bramlock_test::loadStateTestArm();
  RobotState state = bramlock_test::updatedDefaultState(model_);
  RobotState other(other_model);
  other.setToDefaultValues();
  EXPECT_THROW_MESSAGE(state = other, std::invalid_argument,
                       "^RobotState::operator=: the states belong to different models$");
  EXPECT_THROW_MESSAGE(RobotState(nullptr), std::invalid_argument,
                       "^RobotState cannot be constructed with nullptr RobotModelConstPtr$");
}

TEST_F(RobotStateTransforms, FreshStateIsZeroedAndCompletelyDirty) {
  RobotState state(model_);
  for (size_t i = 0; i < model_->getVariableCount(); ++i) EXPECT_EQ(state.getVariablePositions()[i], 0.0);
  OutputCapture quiet;
  EXPECT_FALSE(state.checkLinkTransforms());
  for (const moveit::core::JointModel* joint : model_->getJointModels())
    EXPECT_FALSE(state.checkJointTransforms(joint));
}

TEST_F(RobotStateTransforms, UpdateStateWithLinkAtMovesTheWholeRobot) {
  RobotState state = bramlock_test::updatedDefaultState(model_);
  const double values[] = {0.4, -0.3, 0.8, 0.2, -0.6, 1.1};
  state.setJointGroupPositions(group("arm"), values);
  state.update();
  const RobotState before(state);

  Eigen::Isometry3d target = Eigen::Isometry3d::Identity();
  target.translate(Eigen::Vector3d(0.3, -0.2, 1.0))
      .rotate(Eigen::AngleAxisd(0.7, Eigen::Vector3d(1, 2, 3).normalized()));
  // tool_link hangs from a fixed joint: the backward walk passes it without a joint transform of its own.
  state.updateStateWithLinkAt(link("tool_link"), target, true);
  state.update();
  const Eigen::Isometry3d shift = target * before.getGlobalLinkTransform(link("tool_link")).inverse();
  for (const LinkModel* l : model_->getLinkModels()) {
    EXPECT_TRUE(transformsNear(state.getGlobalLinkTransform(l), shift * before.getGlobalLinkTransform(l), 1e-9))
        << l->getName();
  }
  EXPECT_TRUE(transformsNear(state.getCollisionBodyTransform(link("base_link"), 0),
                             shift * before.getCollisionBodyTransform(link("base_link"), 0), 1e-9));

  // Forward only: the links above stay, those below follow.
  RobotState forward(before);
  forward.updateStateWithLinkAt(link("link4"), target);
  forward.update();
  EXPECT_TRUE(
      transformsNear(forward.getGlobalLinkTransform(link("link3")), before.getGlobalLinkTransform(link("link3")), 0.0));
  const Eigen::Isometry3d local =
      before.getGlobalLinkTransform(link("link4")).inverse() * before.getGlobalLinkTransform(link("link6"));
  EXPECT_TRUE(transformsNear(forward.getGlobalLinkTransform(link("link6")), target * local, 1e-9));
}

TEST_F(RobotStateTransforms, UpdateStateWithLinkAtRefusesBadInput) {
  RobotState state = bramlock_test::updatedDefaultState(model_);
  Eigen::Isometry3d bad = Eigen::Isometry3d::Identity();
  bad(0, 3) = std::nan("");
  EXPECT_THROW_MESSAGE(state.updateStateWithLinkAt(link("link3"), bad), std::invalid_argument,
                       "^RobotState::updateStateWithLinkAt: the transform is not a finite rigid motion$");
  bad(0, 3) = std::numeric_limits<double>::infinity();
  EXPECT_THROW_MESSAGE(state.updateStateWithLinkAt(link("link3"), bad), std::invalid_argument,
                       "^RobotState::updateStateWithLinkAt: the transform is not a finite rigid motion$");
  Eigen::Isometry3d scaled = Eigen::Isometry3d::Identity();
  scaled.linear() *= 2.0;
  EXPECT_THROW_MESSAGE(state.updateStateWithLinkAt(link("link3"), scaled), std::invalid_argument,
                       "^RobotState::updateStateWithLinkAt: the transform is not a finite rigid motion$");
  EXPECT_THROW_MESSAGE(state.updateStateWithLinkAt(nullptr, Eigen::Isometry3d::Identity()), std::invalid_argument,
                       "^RobotState::updateStateWithLinkAt: not a link of this state's model$");
  EXPECT_TRUE(state.checkCollisionTransforms());
}

TEST_F(RobotStateTransforms, LinksJointsAndGroupsOfOtherModelsAreRefused) {
  const auto other_model = bramlock_test::loadStateTestArm();
  RobotState state = bramlock_test::updatedDefaultState(model_);
  const RobotState& const_state = state;
  const LinkModel* foreign_link = other_model->getLinkModel("link3");
  EXPECT_THROW_MESSAGE(state.getGlobalLinkTransform(foreign_link), std::invalid_argument,
                       "^RobotState::getGlobalLinkTransform: not a link of this state's model$");
  EXPECT_THROW_MESSAGE(const_state.getGlobalLinkTransform(nullptr), std::invalid_argument,
                       "^RobotState::getGlobalLinkTransform: not a link of this state's model$");
  EXPECT_THROW_MESSAGE(state.getCollisionBodyTransform(foreign_link, 0), std::invalid_argument,
                       "^RobotState::getCollisionBodyTransform: not a link of this state's model$");
  EXPECT_THROW_MESSAGE(state.getCollisionBodyTransform(link("link3"), 2), std::out_of_range,
                       "^RobotState::getCollisionBodyTransform: link 'link3' has no shape 2$");
  EXPECT_NO_THROW(state.getCollisionBodyTransform(link("link3"), 1));
  EXPECT_THROW_MESSAGE(state.getJointTransform(nullptr), std::invalid_argument,
                       "^RobotState::getJointTransform: not a joint of this state's model$");
  EXPECT_THROW_MESSAGE(state.getJointTransform(other_model->getJointModel("joint2")), std::invalid_argument,
                       "^RobotState::getJointTransform: not a joint of this state's model$");
  EXPECT_THROW_MESSAGE(state.updateStateWithLinkAt(foreign_link, Eigen::Isometry3d::Identity()), std::invalid_argument,
                       "^RobotState::updateStateWithLinkAt: not a link of this state's model$");
  const double values[] = {0, 0, 0, 0, 0, 0};
  EXPECT_THROW_MESSAGE(state.setJointGroupPositions(other_model->getJointModelGroup("arm"), values),
                       std::invalid_argument,
                       "^RobotState::setJointGroupPositions: not a group of this state's model$");
  EXPECT_THROW_MESSAGE(state.getMinDistanceToPositionBounds(other_model->getActiveJointModels()), std::invalid_argument,
                       "^RobotState::getMinDistanceToPositionBounds: not a joint of this state's model$");
  EXPECT_TRUE(state.checkCollisionTransforms());
}

TEST_F(RobotStateTransforms, FramesByLinkNameModelFrameAndAttachedBody) {
  RobotState state = bramlock_test::updatedDefaultState(model_);
  const LinkModel* found_link = nullptr;
  bool found = false;
  EXPECT_TRUE(transformsNear(state.getFrameInfo("//link5", found_link, found),
                             state.getGlobalLinkTransform(link("link5")), 0.0));
  EXPECT_TRUE(found);
  EXPECT_EQ(found_link, link("link5"));

  EXPECT_TRUE(state.getFrameInfo(model_->getModelFrame(), found_link, found).matrix().isIdentity(0.0));
  EXPECT_EQ(found_link, model_->getRootLink());

  OutputCapture capture;
  const RobotState& const_state = state;
  EXPECT_TRUE(const_state.getFrameTransform("nowhere").matrix().isIdentity(0.0));
  bool flag = true;
  state.getFrameTransform("nowhere", &flag);
  EXPECT_FALSE(flag);
  EXPECT_EQ(capture.out(), "getFrameTransform() did not find a frame with name nowhere.\n");

  EXPECT_TRUE(state.knowsFrameTransform("/link2"));
  EXPECT_FALSE(state.knowsFrameTransform("cup"));
}

}  // namespace
