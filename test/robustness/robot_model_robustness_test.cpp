// Bad numbers in robot descriptions and MDH tables: joint-property values that
// are not finite are skipped like any text that is no number, an MDH column
// holding such a value is refused like a missing one, and the SRDF keeps no
// group-state value that is not a finite number. Descriptions no arm can have
// (links that do not form a tree, limits with no position between them) are
// refused by the model and the scene.

#include <gtest/gtest.h>

#include <cmath>
#include <csignal>
#include <filesystem>
#include <functional>
#include <string>
#include <vector>

#include <urdf_model/model.h>

#include "bad_numbers.h"
#include "bramlock_arm_planning_core/kinematics/realman_kinematics.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_model/planar_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/revolute_joint_model.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/srdf/model.h"
#include "scene_arm.h"
#include "test_support.h"

namespace {

using moveit::core::MdhTable;
using moveit::core::PlanarJointModel;
using moveit::core::RevoluteJointModel;
using moveit::core::RobotModel;

const std::vector<std::string> kNonFiniteTexts = {"nan", "NaN", "inf", "-inf", "infinity"};

std::string planarSrdf(const std::string& property, const std::string& value) {
  return "<?xml version=\"1.0\"?>\n<robot name=\"small_robot\">\n"
         "  <virtual_joint name=\"base_joint\" type=\"planar\" parent_frame=\"odom\" child_link=\"base_link\"/>\n"
         "  <joint_property joint_name=\"base_joint\" property_name=\"" +
         property + "\" value=\"" + value + "\"/>\n</robot>\n";
}

TEST(RobotModelRobustness, JointPropertiesThatAreNotFiniteAreSkipped) {
  bramlock_test::TempDir dir;
  std::filesystem::copy_file(bramlock_test::fixturePath("robot_model_edges/small.urdf"), dir.path() / "small.urdf");
  for (const std::string property : {"angular_distance_weight", "min_translational_distance"}) {
    for (const std::string& text : kNonFiniteTexts) {
      bramlock_test::writeFile(dir.path() / "small.srdf", planarSrdf(property, text));
      bramlock_test::OutputCapture quiet;
      const RobotModel model(dir.path().string() + "/", "small.urdf", "small.srdf");
      quiet.out();
      const auto* planar = dynamic_cast<const PlanarJointModel*>(model.getRootJoint());
      ASSERT_NE(planar, nullptr);
      EXPECT_EQ(planar->getAngularDistanceWeight(), 1.0) << property << " " << text;
      EXPECT_TRUE(std::isfinite(planar->getMinTranslationalDistance())) << property << " " << text;
      const std::vector<double> from(model.getVariableCount(), 0.0);
      std::vector<double> to(model.getVariableCount(), 0.5);
      EXPECT_TRUE(std::isfinite(model.distance(from.data(), to.data()))) << property << " " << text;
    }
  }
}

// The bounds operations hold one entry per active joint as a contract: a short
// list stops at the assertion instead of reading past its end.
TEST(RobotModelRobustness, ShortBoundsListsStopAtTheContractAssertion) {
  bramlock_test::OutputCapture quiet;
  const RobotModel model(bramlock_test::fixturePath("robot_model_edges/"), "mimic.urdf", "planar_root.srdf");
  quiet.out();
  const RobotModel::JointBoundsVector all = model.getActiveJointModelsBounds();
  ASSERT_GT(all.size(), 1u);
  model.getMaximumExtent(all);  // infinite here: the planar root has no limits
  const RobotModel::JointBoundsVector shorter(all.begin(), all.end() - 1);
  std::vector<double> state(model.getVariableCount(), 0.0);
  const std::vector<std::function<void()>> calls = {
      [&] { model.getMaximumExtent(shorter); },
      [&] { model.satisfiesPositionBounds(state.data(), shorter, 0.0); },
      [&] { model.enforcePositionBounds(state.data(), shorter); },
  };
  for (std::size_t k = 0; k < calls.size(); ++k) {
    const bramlock_test::ChildResult child = bramlock_test::runInChild({}, [&] {
      calls[k]();
      return 0;
    });
    EXPECT_EQ(child.exit_code, 128 + SIGABRT) << k;
    EXPECT_NE(child.err.find("active_joint_bounds.size() == active_joint_model_vector_.size()"), std::string::npos)
        << k << child.err;
  }
}

MdhTable tableOf(double value) { return MdhTable(4, std::vector<double>(6, value)); }

TEST(RobotModelRobustness, MdhColumnsHoldingValuesThatAreNotFiniteAreRefused) {
  for (std::size_t row = 0; row < 4; ++row) {
    for (double bad : robustness::nonFiniteNumbers()) {
      MdhTable table = tableOf(0.25);
      table[row][2] = bad;
      RevoluteJointModel joint3("joint3", 0, 0);
      EXPECT_EQ(joint3.generateMdhPara(table), -1) << robustness::caseName("row", row, bad);
      EXPECT_EQ(joint3.getZd(), 0.0);
      EXPECT_EQ(joint3.getAlpha(), 0.0);
      RevoluteJointModel joint2("joint2", 0, 0);
      EXPECT_EQ(joint2.generateMdhPara(table), 0) << "other columns stay usable";
    }
  }
  RevoluteJointModel joint1("joint1", 0, 0);
  EXPECT_EQ(joint1.generateMdhPara(tableOf(1e300)), 0);  // huge but finite: the caller's choice
}

TEST(RobotModelRobustness, GroupStateValuesThatAreNotFiniteNumbersAreSkipped) {
  const urdf::ModelInterface no_urdf;
  for (const std::string text : {"nan", "inf", "-inf", "1e999", "0.1 nan", "1 2 inf"}) {
    srdf::Model srdf_model;
    bramlock_test::OutputCapture quiet;
    ASSERT_TRUE(srdf_model.initString(no_urdf,
                                      "<robot name=\"r\"><group_state name=\"home\" group=\"arm\">"
                                      "<joint name=\"a\" value=\"" +
                                          text + "\"/><joint name=\"b\" value=\"0.5\"/></group_state></robot>"));
    quiet.out();
    ASSERT_EQ(srdf_model.getGroupStates().size(), 1u) << text;
    const auto& values = srdf_model.getGroupStates()[0].joint_values_;
    EXPECT_EQ(values.count("a"), 0u) << text;
    EXPECT_EQ(values.at("b"), std::vector<double>{0.5}) << text;
  }
}

TEST(RobotModelRobustness, MdhToSdhRotatesEachTableOnItsOwn) {
  // One table filled and the other empty once moved past the empty one's end.
  RealmanKinematics arm;
  arm.xa = {1.0, 2.0, 3.0};
  arm.alpha.clear();
  arm.convertFromMdhToSdh();
  EXPECT_EQ(arm.xa, (std::vector<double>{2.0, 3.0, 1.0}));
  EXPECT_TRUE(arm.alpha.empty());
  arm.xa.clear();
  arm.alpha = {robustness::kNaN, 1.0};
  arm.convertFromMdhToSdh();
  EXPECT_TRUE(arm.xa.empty());
  EXPECT_EQ(arm.alpha[0], 1.0);
  EXPECT_TRUE(std::isnan(arm.alpha[1]));
}

// Copies of the scene arm: a link that is the child of two joints (closing a
// loop), a joint whose parent and child are one link, a joint whose lower
// limit lies above its upper one, and links hanging in a cycle off the root.
struct BrokenArm {
  const char* urdf;
  std::vector<std::string> named;
};

// The text of the model's exception while building, or "built".
std::string refusal(const std::function<void()>& build) {
  bramlock_test::OutputCapture quiet;
  try {
    build();
  } catch (const moveit::core::Exception& error) {
    return error.what();
  }
  return "built";
}

TEST(RobotModelRobustness, LinksThatAreNoTreeAndInvertedLimitsAreRefusedNamingTheJointOrLinks) {
  const std::vector<BrokenArm> arms = {
      {"scene_arm_link_with_two_parents.urdf", {"link 'link3'", "joint 'joint3'", "joint 'wrist_brace_joint'"}},
      {"scene_arm_joint_on_one_link.urdf", {"joint 'link4_loop_joint'", "link 'link4'"}},
      {"scene_arm_inverted_limits.urdf", {"joint 'joint2'", "lower limit 2.27 above its upper limit -2.27"}},
      {"scene_arm_links_off_the_root.urdf",
       {"links 'finger_link', 'finger_mimic_link', 'gripper_link', 'link1', 'link2', 'link3', 'link4', 'link5', "
        "'link6' cannot be reached through joints from the root link 'base_link'"}},
  };
  const std::string dir = bramlock_test::sceneArmDirectory();
  for (const BrokenArm& arm : arms) {
    MdhTable table = bramlock_test::sceneArmMdhTable();
    const std::string by_model = refusal([&] { RobotModel(dir, arm.urdf, "scene_arm.srdf", table); });
    const std::string by_scene = refusal([&] {
      ManipulatorPlanScene(dir, arm.urdf, "scene_arm.srdf", "arm", bramlock_test::kSceneArmRobotPadding, 1.0,
                           "gripper_link", table, bramlock_test::sceneArmAccelerationLimits());
    });
    for (const std::string& name : arm.named) {
      EXPECT_TRUE(bramlock_test::contains(by_model, name)) << arm.urdf << ": " << by_model;
      EXPECT_TRUE(bramlock_test::contains(by_scene, name)) << arm.urdf << ": " << by_scene;
    }
  }
}

}  // namespace
