#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <limits>
#include <stdexcept>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "expect_throw_message.h"
#include "realman_copy.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

using Bounds = std::vector<std::pair<double, double>>;

struct Built {
  std::unique_ptr<ManipulatorPlanScene> scene;
  std::string out;
};

template <typename... Args>
Built build(Args&&... args) {
  OutputCapture capture;
  auto scene = std::make_unique<ManipulatorPlanScene>(std::forward<Args>(args)...);
  return {std::move(scene), capture.out()};
}

Built fiveArgumentScene(const std::string& srdf = "scene_arm.srdf") {
  return build(sceneArmDirectory(), "scene_arm.urdf", srdf, 0.01, 1.0);
}

// The part of the console text that loading the model prints.
std::string modelReport(const std::string& out) {
  const std::string first = "start build robot model...\n";
  const std::string last = "build robot model success!\n";
  const size_t begin = out.find(first);
  const size_t end = out.find(last, begin);
  if (begin == std::string::npos || end == std::string::npos) return "";
  return out.substr(begin, end + last.size() - begin);
}

// The values of every "xa:...;" line, in printed order, as records.
std::vector<ArmMDHParams> printedMdhRecords(const std::string& out) {
  std::vector<ArmMDHParams> records;
  for (size_t at = out.find("\nxa:"); at != std::string::npos; at = out.find("\nxa:", at + 1)) {
    ArmMDHParams record;
    EXPECT_EQ(std::sscanf(out.c_str() + at, "\nxa:%lf,alpha:%lf,zd:%lf,qzero:%lf;", &record.a, &record.alpha, &record.d,
                          &record.theta),
              4);
    records.push_back(record);
  }
  return records;
}

void expectSameRecords(const std::vector<ArmMDHParams>& actual, const std::vector<ArmMDHParams>& expected,
                       double tolerance) {
  ASSERT_EQ(actual.size(), expected.size());
  for (size_t i = 0; i < actual.size(); ++i) {
    EXPECT_NEAR(actual[i].alpha, expected[i].alpha, tolerance) << i;
    EXPECT_NEAR(actual[i].a, expected[i].a, tolerance) << i;
    EXPECT_NEAR(actual[i].d, expected[i].d, tolerance) << i;
    EXPECT_NEAR(actual[i].theta, expected[i].theta, tolerance) << i;
  }
}

const std::string kLink6Mesh = "realman/rm_description/meshes/rm_65_arm/link6.STL";

// The RM65 with Link6's collision element holding the given origin and geometry.
std::string rm65WithLink6Collision(const std::string& xyz, const std::string& geometry) {
  return withElementOf(
      rm65UrdfWithAbsoluteMeshes(), "name=\"Link6\"", "<collision>", "</collision>",
      "<collision><origin xyz=\"" + xyz + "\" rpy=\"0 0 0\"/><geometry>" + geometry + "</geometry></collision>");
}

std::string meshElement(const std::string& path) { return "<mesh filename=\"file://" + path + "\"/>"; }

// What building the RM65 copy throws; empty when it builds.
std::string refusalOf(const std::string& urdf) {
  TempDir dir;
  try {
    makeRm65Copy(dir, urdf);
  } catch (const moveit::core::Exception& error) {
    return error.what();
  }
  return "";
}

}  // namespace

TEST(SceneConstruction, FullFormReportsTheModelTheGroupsAndTheCollisionSetUp) {
  std::string out;
  auto scene = makeSceneArm("arm", "scene_arm.srdf", bramlock_test::sceneArmAccelerationLimits(), &out);
  for (const char* line : {"start build robot model...\n",
                           "getJointModelCount:",
                           "getLinkModelCount:10\n",
                           "getLinkGeometryCount:10\n",
                           "+++++++++++++++++++++arm+++++++++++++++++++++\n",
                           "+++++++++++++++++++++hand+++++++++++++++++++++\n",
                           "Subgroup size:0\n",
                           "getCommonRoot()->getName():joint1\n",
                           "Parent link name:base_link\n",
                           "Joint Name:gripper_joint\n",
                           "Joint Name:joint3\n",
                           "axis:0,0,1\n",
                           "mdh para:\n",
                           "xa:0.256,alpha:0,zd:0,qzero:1.5708;\n",
                           "build robot model success!\n",
                           "---------robot_state init success.---------\n",
                           "FCL LinkModelNames:gripper_link\n",
                           "FCL DisabledCollisionPairs:link6,gripper_link\n",
                           "acm:\n",
                           "---------CollisionRobotFCL, CollisionWorldFCL  init success.---------\n",
                           "---------group_input_state_map_ (size=2) init success.---------\n",
                           "we find <arm> joint group.\n",
                           "max_extent_=",
                           "longest_valid_segment_="}) {
    EXPECT_TRUE(contains(out, line)) << line;
  }
  EXPECT_FALSE(contains(out, "set Planned JointGroup error"));
  Bounds bounds;
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6);
}

TEST(SceneConstruction, MdhRecordsComeOncePerRevoluteJointOfEveryGroup) {
  EXPECT_EQ(makeSceneArm()->getArmMdhParams().size(), 6u) << "the hand has no revolute joint";
  auto scene = makeSceneArm("arm", "scene_arm_nested.srdf");
  const auto& records = scene->getArmMdhParams();
  ASSERT_EQ(records.size(), 12u);  // two groups over the same six joints
  const auto table = bramlock_test::sceneArmMdhTable();
  for (size_t i = 0; i < records.size(); ++i) {
    const size_t joint = i % 6;
    EXPECT_TRUE(records[i].valid);
    EXPECT_DOUBLE_EQ(records[i].d, table[0][joint]);
    EXPECT_DOUBLE_EQ(records[i].a, table[1][joint]);
    EXPECT_DOUBLE_EQ(records[i].theta, table[2][joint]);
    EXPECT_DOUBLE_EQ(records[i].alpha, table[3][joint]);
  }
}

TEST(SceneConstruction, EveryFormReportsTheModelAndCollectsTheRecordsItPrints) {
  auto table = bramlock_test::sceneArmMdhTable();
  const std::string dir = sceneArmDirectory();
  const std::string srdf = "scene_arm_nested.srdf";  // two groups over the same joints
  std::vector<Built> with_table;
  with_table.push_back(build(dir, "scene_arm.urdf", srdf, "arm", 0.01, 1.0, "gripper_link", table,
                             bramlock_test::sceneArmAccelerationLimits()));
  with_table.push_back(build(dir, "scene_arm.urdf", srdf, "arm", 0.01, 1.0, "gripper_link", table));
  std::vector<Built> without_table;
  without_table.push_back(build(dir, "scene_arm.urdf", srdf, "arm", 0.01, 1.0, "gripper_link"));
  without_table.push_back(build(dir, "scene_arm.urdf", srdf, "arm", 0.01, 1.0));
  without_table.push_back(build(dir, "scene_arm.urdf", srdf, 0.01, 1.0));
  for (const std::vector<Built>* forms : {&with_table, &without_table}) {
    const Built& first = forms->front();
    const std::string report = modelReport(first.out);
    ASSERT_FALSE(report.empty()) << first.out;
    // Printed with six significant digits, the rows hold values below 10.
    expectSameRecords(first.scene->getArmMdhParams(), printedMdhRecords(report), 1e-5);
    EXPECT_EQ(first.scene->getArmMdhParams().size(), 12u);
    for (const Built& built : *forms) {
      EXPECT_EQ(modelReport(built.out), report);
      expectSameRecords(built.scene->getArmMdhParams(), first.scene->getArmMdhParams(), 0.0);
      for (const ArmMDHParams& record : built.scene->getArmMdhParams()) EXPECT_TRUE(record.valid);
    }
  }
}

TEST(SceneConstruction, GroupSelectionCodes) {
  std::string out;
  auto scene = makeSceneArm("no_such_group", "scene_arm.srdf", {}, &out);
  EXPECT_TRUE(
      contains(out, "we can not find <no_such_group> joint group. \nset Planned JointGroup error when initialize!\n"));
  Bounds bounds;
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), -1);
  std::vector<double> zeros(6, 0.0);
  EXPECT_FALSE(scene->isValid(zeros.data()));
  EXPECT_FALSE(scene->checkMotion(zeros.data(), zeros.data()));
  EXPECT_EQ(scene->validSegmentCount(zeros.data(), zeros.data()), 0u);

  OutputCapture capture;
  EXPECT_EQ(scene->setPlannedJointGroup("hand"), 0);
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 1);
  EXPECT_EQ(scene->setPlannedJointGroup("missing"), -2);
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 1) << "a failed switch keeps the planned group";
  EXPECT_EQ(scene->setPlannedJointGroup("arm"), 0);
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6);
  EXPECT_TRUE(contains(capture.out(), "we find <hand> joint group.\n"));
}

TEST(SceneConstruction, TheOnlyCandidateGroupIsTakenForAnyName) {
  // In the nested variant the chain holds every joint of "arm_joints", so only
  // "arm_joints" (no subgroups) gets an input buffer.
  for (const char* srdf : {"scene_arm_one_group.srdf", "scene_arm_nested.srdf"}) {
    std::string out;
    auto scene = makeSceneArm("anything", srdf, {}, &out);
    EXPECT_TRUE(contains(out, "(size=1) init success")) << srdf;
    EXPECT_FALSE(contains(out, "set Planned JointGroup error")) << srdf;
    EXPECT_FALSE(contains(out, "we find")) << srdf;
    Bounds bounds;
    EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6) << srdf;
  }

  Bounds bounds;
  Built unselected = fiveArgumentScene("scene_arm_nested.srdf");
  EXPECT_EQ(unselected.scene->getPlanSpaceBounds(bounds), -1);
  OutputCapture quiet;
  EXPECT_EQ(unselected.scene->setPlannedJointGroup(""), 0);
  EXPECT_EQ(unselected.scene->getPlanSpaceBounds(bounds), 6);
}

TEST(SceneConstruction, JointListGroupPlansLikeTheChain) {
  auto scene = makeSceneArm("arm", "scene_arm_joint_list.srdf");
  Bounds bounds;
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6);
  EXPECT_EQ(bounds, bramlock_test::sceneArmBounds());
}

TEST(SceneConstruction, ModelWithoutGroupsCannotSelectOne) {
  std::string out;
  auto scene = makeSceneArm("arm", "scene_arm_no_group.srdf", {}, &out);
  EXPECT_TRUE(contains(out, "joint_model_groups_size==0 error.\n"));
  EXPECT_TRUE(contains(out, "joint group size is 0, init error!\nset Planned JointGroup error when initialize!\n"));
  OutputCapture quiet;
  EXPECT_EQ(scene->setPlannedJointGroup("arm"), -1);
}

TEST(SceneConstruction, StartingAgainRebuildsEverythingAroundTheNewModel) {
  // The planned group used to point into the replaced model (freed with its
  // last state), and links of the new model met states of the old one.
  for (const bool whole_start_up : {true, false}) {
    auto scene = makeSceneArm();
    OutputCapture quiet;
    if (whole_start_up) {
      scene->initialize();
    } else {
      EXPECT_EQ(scene->buildRobot(), 0);
    }
    Bounds bounds;
    EXPECT_EQ(scene->getPlanSpaceBounds(bounds), -1) << "no group is selected after a new start";
    EXPECT_FALSE(scene->isValid(Joints(6, 0.0)));
    ASSERT_EQ(scene->setPlannedJointGroup("arm"), 0);
    EXPECT_TRUE(scene->isValid(Joints(6, 0.0)));
    EXPECT_EQ(scene->getLinkTransforms(Joints(6, 0.0).data()).size(), 7u);
    double box[] = {0.02, 0.02, 0.02};
    EXPECT_EQ(
        scene->addAttachedCollisionObjectToLink("box", "link3", {"link3"}, Eigen::Matrix4d::Identity(), box, 1.0, 0.0),
        0);
  }
}

TEST(SceneConstruction, FiveArgumentFormSelectsNoGroupUntilAsked) {
  Built built = fiveArgumentScene("scene_arm_one_group.srdf");
  EXPECT_FALSE(contains(built.out, "max_extent_="));
  Bounds bounds;
  EXPECT_EQ(built.scene->getPlanSpaceBounds(bounds), -1);
  OutputCapture quiet;
  EXPECT_EQ(built.scene->setPlannedJointGroup(""), 0) << "the single candidate is taken";
  EXPECT_EQ(built.scene->getPlanSpaceBounds(bounds), 6);
  std::vector<double> vmax, amax;
  EXPECT_EQ(built.scene->getVmaxAndAmax(vmax, amax), 0) << "no acceleration limits in this form";
}

TEST(SceneConstruction, OtherFormsSelectTheGroupButGiveNoLimits) {
  auto table = bramlock_test::sceneArmMdhTable();
  const std::string dir = sceneArmDirectory();
  std::vector<Built> scenes;
  scenes.push_back(build(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0, "gripper_link", table));
  scenes.push_back(build(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0, "gripper_link"));
  scenes.push_back(build(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0));
  for (Built& built : scenes) {
    Bounds bounds;
    EXPECT_EQ(built.scene->getPlanSpaceBounds(bounds), 6);
    std::vector<double> vmax{7.0}, amax{7.0};
    EXPECT_EQ(built.scene->getVmaxAndAmax(vmax, amax), 0);
    EXPECT_EQ(vmax, std::vector<double>{7.0}) << "outputs untouched";
  }
}

TEST(SceneConstruction, DefaultFormCannotLoadFromEmptyPaths) {
  OutputCapture quiet;
  EXPECT_THROW_MESSAGE(ManipulatorPlanScene scene, moveit::core::Exception,
                       "^Error retrieving file \\[.*\\]: Unable to read the URDF file$");
}

TEST(SceneConstruction, MissingDescriptionFilesLeaveTheConstructor) {
  OutputCapture quiet;
  EXPECT_THROW_MESSAGE(ManipulatorPlanScene(sceneArmDirectory(), "missing.urdf", "scene_arm.srdf", "arm", 0.0, 1.0),
                       moveit::core::Exception,
                       "^Error retrieving file \\[.*missing\\.urdf\\]: Unable to read the URDF file$");
}

TEST(SceneConstruction, NonFiniteOrHugeGeometryArgumentsAreRefused) {
  OutputCapture quiet;
  const std::string dir = sceneArmDirectory();
  // Huge ones make padded meshes that swallow every obstacle.
  for (double padding : {kNaN, kInf, -kInf, 1e300, -1e300}) {
    EXPECT_THROW_MESSAGE(ManipulatorPlanScene(dir, "scene_arm.urdf", "scene_arm.srdf", "arm", padding, 1.0),
                         std::invalid_argument, "^robot padding must be finite and at most 1e6$");
  }
  for (double scale : {kNaN, kInf, 0.0, -1.0, 1e300}) {
    EXPECT_THROW_MESSAGE(ManipulatorPlanScene(dir, "scene_arm.urdf", "scene_arm.srdf", 0.01, scale),
                         std::invalid_argument, "^scale must be finite, positive and at most 1e6$");
  }
}

TEST(SceneConstruction, LimitsFollowTheBoundsQuery) {
  auto scene = makeSceneArm();
  std::vector<double> vmax, amax;
  EXPECT_EQ(scene->getVmaxAndAmax(vmax, amax), 0) << "nothing before the bounds query";
  EXPECT_TRUE(vmax.empty());
  Bounds bounds;
  ASSERT_EQ(scene->getPlanSpaceBounds(bounds), 6);
  EXPECT_EQ(bounds, bramlock_test::sceneArmBounds());
  EXPECT_EQ(scene->getVmaxAndAmax(vmax, amax), 6);
  EXPECT_EQ(vmax, bramlock_test::sceneArmVelocityLimits());
  EXPECT_EQ(amax, bramlock_test::sceneArmAccelerationLimits());
}

TEST(SceneConstruction, AccelerationLimitListsOfOtherLengths) {
  Bounds bounds;
  std::vector<double> vmax, amax;
  auto longer = makeSceneArm("arm", "scene_arm.srdf", {1, 2, 3, 4, 5, 6, 7, 8});
  longer->getPlanSpaceBounds(bounds);
  EXPECT_EQ(longer->getVmaxAndAmax(vmax, amax), 6);
  EXPECT_EQ(amax, (std::vector<double>{1, 2, 3, 4, 5, 6, 0, 0}));

  auto shorter = makeSceneArm("arm", "scene_arm.srdf", {1, 2, 3});
  shorter->getPlanSpaceBounds(bounds);
  vmax.clear();
  EXPECT_EQ(shorter->getVmaxAndAmax(vmax, amax), 0);
  EXPECT_TRUE(vmax.empty());

  for (double bad : {kNaN, kInf}) {
    auto scene = makeSceneArm("arm", "scene_arm.srdf", {1, 2, bad, 4, 5, 6});
    scene->getPlanSpaceBounds(bounds);
    EXPECT_EQ(scene->getVmaxAndAmax(vmax, amax), 0);
  }
}

TEST(SceneConstruction, SubReplaceRewritesEveryOccurrenceOnce) {
  auto scene = makeSceneArm();
  EXPECT_EQ(scene->subReplace("a package://x and package://y", "package://", "file:///d/"),
            "a file:///d/x and file:///d/y");
  // A directory that itself holds the pattern must not be rewritten again.
  EXPECT_EQ(scene->subReplace("package://p/m.stl", "package://", "file:///tmp/package://dir/"),
            "file:///tmp/package://dir/p/m.stl");
  EXPECT_EQ(scene->subReplace("abc", "", "x"), "abc");
  EXPECT_EQ(scene->subReplace("aaa", "a", "aa"), "aaaaaa");
}

TEST(SceneConstruction, LinkGeometryThatCannotBeCheckedIsRefusedNamingTheLinkAndTheFile) {
  EXPECT_EQ(refusalOf(rm65WithLink6Collision("0 0 0", meshElement(fixturePath(kLink6Mesh)))), "")
      << "the copy as published builds";
  TempDir meshes;
  for (const float x : {std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity(), 1e30f}) {
    const std::string mesh = (meshes.path() / "link6.STL").string();
    writeFile(mesh, stlWithFirstVertexX(kLink6Mesh, x));
    const std::string what = refusalOf(rm65WithLink6Collision("0 0 0", meshElement(mesh)));
    EXPECT_TRUE(contains(what, "link 'Link6'")) << x << ": " << what;
    EXPECT_TRUE(contains(what, mesh)) << x << ": " << what;
  }
  for (const auto& [xyz, geometry] : {std::pair{"1e30 0 0", meshElement(fixturePath(kLink6Mesh))},
                                      std::pair{"0 0 0", std::string("<box size=\"1e30 0.1 0.1\"/>")},
                                      std::pair{"0 0 0", std::string("<sphere radius=\"2e6\"/>")},
                                      std::pair{"0 0 0", std::string("<box size=\"0.1 -0.1 0.1\"/>")},
                                      std::pair{"0 0 0", std::string("<sphere radius=\"-0.05\"/>")},
                                      std::pair{"0 0 0", std::string("<cylinder radius=\"-0.05\" length=\"0.1\"/>")},
                                      std::pair{"0 0 0", std::string("<cylinder radius=\"0.05\" length=\"-0.1\"/>")}}) {
    const std::string what = refusalOf(rm65WithLink6Collision(xyz, geometry));
    EXPECT_TRUE(contains(what, "link 'Link6'")) << geometry << ": " << what;
    EXPECT_TRUE(contains(what, "rm_65.urdf]")) << geometry << ": " << what;
  }
}
