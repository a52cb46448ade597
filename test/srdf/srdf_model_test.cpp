#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include <urdf_model/model.h>

#include "bramlock_arm_planning_core/srdf/model.h"
#include "test_support.h"

namespace {

using bramlock_test::OutputCapture;
using StringPair = std::pair<std::string, std::string>;
using Strings = std::vector<std::string>;

const char* const kFullDocument = R"(<?xml version="1.0"?>
<robot name="test_arm">
  <virtual_joint name="world_joint" type="fixed" parent_frame="world" child_link="base_link"/>
  <virtual_joint name="odom_joint" type="floating" parent_frame="odom" child_link="base_link"/>
  <group name="arm">
    <chain base_link="base_link" tip_link="link6"/>
    <joint name="joint1"/>
    <link name="link2"/>
    <chain base_link="link2" tip_link="link4"/>
  </group>
  <group name="gripper">
    <joint name="finger_joint"/>
    <joint name="finger_mimic_joint"/>
  </group>
  <group name="arm_with_gripper">
    <group name="arm"/>
    <group name="gripper"/>
  </group>
  <end_effector name="hand" parent_link="tool_link" group="gripper" parent_group="arm"/>
  <end_effector name="hand2" parent_link="link6" group="gripper"/>
  <group_state name="home" group="arm">
    <joint name="joint2" value="0.5"/>
    <joint name="joint1" value="-1.25e-1"/>
  </group_state>
  <group_state name="pose" group="base">
    <joint name="world_joint" value="1 2 3  0 0 0 1"/>
  </group_state>
  <passive_joint name="wheel_joint"/>
  <passive_joint name="caster_joint"/>
  <disable_collisions link1="link1" link2="link2" reason="Adjacent"/>
  <disable_collisions link1="base_link" link2="link1" reason="Never"/>
  <disable_collisions link1="link5" link2="tool_link"/>
  <joint_property joint_name="odom_joint" property_name="angular_distance_weight" value="0.5"/>
  <joint_property joint_name="base_joint" property_name="motion_model" value="diff_drive"/>
  <joint_property joint_name="odom_joint" property_name="unknown" value="x"/>
</robot>
)";

srdf::Model parse(const std::string& xml, bool expect_success = true) {
  urdf::ModelInterface urdf_model;
  srdf::Model model;
  EXPECT_EQ(model.initString(urdf_model, xml), expect_success);
  return model;
}

TEST(SrdfModel, ReadsEveryElementKindInDocumentOrder) {
  OutputCapture capture;
  const srdf::Model model = parse(kFullDocument);
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(model.getName(), "test_arm");

  ASSERT_EQ(model.getVirtualJoints().size(), 2u);
  const auto& odom = model.getVirtualJoints()[1];
  EXPECT_EQ(odom.name_, "odom_joint");
  EXPECT_EQ(odom.type_, "floating");
  EXPECT_EQ(odom.parent_frame_, "odom");
  EXPECT_EQ(odom.child_link_, "base_link");

  ASSERT_EQ(model.getGroups().size(), 3u);
  const auto& arm = model.getGroups()[0];
  EXPECT_EQ(arm.name_, "arm");
  EXPECT_EQ(arm.joints_, Strings{"joint1"});
  EXPECT_EQ(arm.links_, Strings{"link2"});
  EXPECT_EQ(arm.chains_, (std::vector<StringPair>{{"base_link", "link6"}, {"link2", "link4"}}));
  EXPECT_EQ(model.getGroups()[1].joints_, (Strings{"finger_joint", "finger_mimic_joint"}));
  EXPECT_EQ(model.getGroups()[2].subgroups_, (Strings{"arm", "gripper"}));

  ASSERT_EQ(model.getEndEffectors().size(), 2u);
  const auto& hand = model.getEndEffectors()[0];
  EXPECT_EQ(hand.name_, "hand");
  EXPECT_EQ(hand.parent_link_, "tool_link");
  EXPECT_EQ(hand.component_group_, "gripper");
  EXPECT_EQ(hand.parent_group_, "arm");
  EXPECT_EQ(model.getEndEffectors()[1].parent_group_, "");

  ASSERT_EQ(model.getGroupStates().size(), 2u);
  const auto& home = model.getGroupStates()[0];
  EXPECT_EQ(home.name_, "home");
  EXPECT_EQ(home.group_, "arm");
  EXPECT_EQ(home.joint_values_.at("joint1"), std::vector<double>{-0.125});
  EXPECT_EQ(home.joint_values_.at("joint2"), std::vector<double>{0.5});
  EXPECT_EQ(model.getGroupStates()[1].joint_values_.at("world_joint"), (std::vector<double>{1, 2, 3, 0, 0, 0, 1}));

  ASSERT_EQ(model.getPassiveJoints().size(), 2u);
  EXPECT_EQ(model.getPassiveJoints()[1].name_, "caster_joint");

  const auto& pairs = model.getDisabledCollisionPairs();
  ASSERT_EQ(pairs.size(), 3u);
  EXPECT_EQ(pairs[0].link1_ + "|" + pairs[0].link2_ + "|" + pairs[0].reason_, "link1|link2|Adjacent");
  EXPECT_EQ(pairs[1].link1_ + "|" + pairs[1].link2_ + "|" + pairs[1].reason_, "base_link|link1|Never");
  EXPECT_EQ(pairs[2].reason_, "");

  ASSERT_EQ(model.getJointProperties().size(), 3u);
  const auto odom_properties = model.getJointProperties("odom_joint");
  ASSERT_EQ(odom_properties.size(), 2u);
  EXPECT_EQ(odom_properties[0].property_name_, "angular_distance_weight");
  EXPECT_EQ(odom_properties[0].value_, "0.5");
  EXPECT_EQ(odom_properties[1].property_name_, "unknown");
  EXPECT_TRUE(model.getJointProperties("nobody").empty());
}

TEST(SrdfModel, BrokenDocumentsFailAndLeaveAnEmptyModel) {
  urdf::ModelInterface urdf_model;
  srdf::Model model;
  ASSERT_TRUE(model.initString(urdf_model, kFullDocument));
  for (const std::string& broken :
       {std::string("<robot name='a'><group name='g'></robot>"), std::string(""), std::string("<other name='a'/>"),
        std::string("<robot><group name='g'/></robot>")}) {
    EXPECT_FALSE(model.initString(urdf_model, broken)) << broken;
    EXPECT_EQ(model.getName(), "");
    EXPECT_TRUE(model.getGroups().empty());
    EXPECT_TRUE(model.getDisabledCollisionPairs().empty());
  }
  ASSERT_TRUE(model.initString(urdf_model, kFullDocument));
  EXPECT_FALSE(model.initFile(urdf_model, "/nonexistent/robot.srdf"));
  EXPECT_TRUE(model.getGroups().empty());
}

TEST(SrdfModel, ReadsFromFile) {
  bramlock_test::TempDir dir;
  const auto path = dir.path() / "robot.srdf";
  bramlock_test::writeFile(path, kFullDocument);
  urdf::ModelInterface urdf_model;
  srdf::Model model;
  ASSERT_TRUE(model.initFile(urdf_model, path.string()));
  EXPECT_EQ(model.getName(), "test_arm");
  EXPECT_EQ(model.getGroups().size(), 3u);
}

TEST(SrdfModel, SkipsEachBrokenElementWithOneLine) {
  OutputCapture capture;
  const srdf::Model model = parse(R"(<robot name="r">
    <group><joint name="j"/></group>
    <group name="g"><joint/><chain base_link="a"/><link name="l"/></group>
    <virtual_joint name="v" type="fixed" parent_frame="world"/>
    <end_effector name="e" parent_link="l"/>
    <group_state name="s" group="g"><joint name="j" value="1 x"/><joint name="k"/><joint name="m" value="2"/></group_state>
    <group_state group="g"/>
    <passive_joint/>
    <disable_collisions link1="a"/>
    <disable_collisions link1="a" link2="b"/>
    <joint_property joint_name="j" property_name="p"/>
  </robot>)");
  const std::string out = capture.out();
  size_t lines = 0;
  for (char c : out) lines += c == '\n';
  EXPECT_EQ(lines, 11u) << out;
  EXPECT_NE(out.find("<chain> element on line 3 without 'tip_link' attribute skipped"), std::string::npos) << out;
  EXPECT_NE(out.find("joint 'j' of group state 's' has unreadable values '1 x'"), std::string::npos) << out;

  ASSERT_EQ(model.getGroups().size(), 1u);
  EXPECT_EQ(model.getGroups()[0].links_, Strings{"l"});
  EXPECT_TRUE(model.getGroups()[0].joints_.empty());
  EXPECT_TRUE(model.getGroups()[0].chains_.empty());
  EXPECT_TRUE(model.getVirtualJoints().empty());
  EXPECT_TRUE(model.getEndEffectors().empty());
  ASSERT_EQ(model.getGroupStates().size(), 1u);
  EXPECT_EQ(model.getGroupStates()[0].joint_values_.size(), 1u);
  EXPECT_EQ(model.getGroupStates()[0].joint_values_.at("m"), std::vector<double>{2});
  EXPECT_TRUE(model.getPassiveJoints().empty());
  EXPECT_EQ(model.getDisabledCollisionPairs().size(), 1u);
  EXPECT_TRUE(model.getJointProperties().empty());
}

}  // namespace

namespace {

TEST(SrdfModel, ReadsTheTestArmDescription) {
  urdf::ModelInterface urdf_model;
  srdf::Model model;
  bramlock_test::OutputCapture capture;
  ASSERT_TRUE(model.initFile(urdf_model, bramlock_test::fixturePath("test_arm/test_arm.srdf")));
  EXPECT_EQ(capture.out(), "");
  EXPECT_EQ(model.getGroups().size(), 5u);
  EXPECT_EQ(model.getGroups()[0].chains_,
            (std::vector<std::pair<std::string, std::string>>{{"base_link", "tool_link"}}));
  EXPECT_EQ(model.getGroups()[4].links_, (std::vector<std::string>{"link5", "link6"}));
  EXPECT_EQ(model.getGroupStates().size(), 3u);
  EXPECT_EQ(model.getGroupStates()[1].joint_values_.size(), 3u);
  EXPECT_EQ(model.getDisabledCollisionPairs().size(), 11u);
  EXPECT_EQ(model.getDisabledCollisionPairs().back().reason_, "Never");
  EXPECT_EQ(model.getEndEffectors()[0].parent_group_, "arm");
}

}  // namespace
