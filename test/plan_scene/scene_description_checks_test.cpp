// Descriptions that cannot describe the arm are refused when the scene is
// built: unusable collision meshes, MDH tables with values that are not
// finite. Each case is a bad copy of the scene arm fixture written to a
// temporary directory.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <pcl/PolygonMesh.h>

#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "expect_throw_message.h"
#include "ply_files.h"
#include "realman_copy.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

// text with its only occurrence of from replaced by to.
std::string replacedOnce(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  EXPECT_EQ(text.find(from, at + 1), std::string::npos) << from;
  if (at != std::string::npos) text.replace(at, from.size(), to);
  return text;
}

// The scene arm's URDF with every package reference made absolute, so a copy
// in another directory still finds the fixture meshes.
std::string sceneArmUrdfWithAbsoluteMeshes() {
  std::string urdf = fileText(sceneArmDirectory() + "scene_arm.urdf");
  const std::string package = "package://";
  for (size_t at = urdf.find(package); at != std::string::npos; at = urdf.find(package, at)) {
    urdf.replace(at, package.size(), "file://" + sceneArmDirectory());
  }
  return urdf;
}

const std::string kLink2Mesh =
    "<mesh filename=\"package://scene_arm_description/meshes/prism.stl\" scale=\"0.09 0.09 0.146\"/>";

// link2's collision mesh element as the absolute copy holds it.
std::string link2MeshElement() { return replacedOnce(kLink2Mesh, "package://", "file://" + sceneArmDirectory()); }

// A scene arm copy in dir with the given URDF text; the SRDF is the fixture's.
std::unique_ptr<ManipulatorPlanScene> buildCopy(const TempDir& dir, const std::string& urdf,
                                                std::string* output = nullptr) {
  writeFile(dir.path() / "arm.urdf", urdf);
  writeFile(dir.path() / "scene_arm.srdf", fileText(sceneArmDirectory() + "scene_arm.srdf"));
  OutputCapture capture;
  auto table = sceneArmMdhTable();
  std::unique_ptr<ManipulatorPlanScene> scene;
  try {
    scene = std::make_unique<ManipulatorPlanScene>(dir.path().string() + "/", "arm.urdf", "scene_arm.srdf", "arm",
                                                   kSceneArmRobotPadding, 1.0, "gripper_link", table,
                                                   sceneArmAccelerationLimits());
  } catch (...) {
    if (output) *output = capture.out();
    throw;
  }
  if (output) *output = capture.out();
  return scene;
}

// The message of the exception building the copy throws; empty when it builds.
std::string refusal(const std::string& urdf) {
  TempDir dir;
  try {
    buildCopy(dir, urdf);
  } catch (const std::exception& error) {
    return error.what();
  }
  return "";
}

std::string prismStl() { return fileText(sceneArmDirectory() + "scene_arm_description/meshes/prism.stl"); }

// The prism with one coordinate of its first vertex (binary STL: 80-byte
// header, count, then 50 bytes per facet of which 12 are the normal) replaced.
std::string prismWithFirstCoordinate(float value) {
  std::string stl = prismStl();
  std::memcpy(&stl[84 + 12], &value, sizeof value);
  return stl;
}

struct BadMesh {
  std::string name;
  std::string content;  // written as the mesh file; unset: no file
  bool written = true;
  std::string extension = ".stl";
};

std::vector<BadMesh> badMeshFiles() {
  std::string garbage;
  for (int i = 0; i < 300; ++i) garbage.push_back(static_cast<char>((i * 37 + 11) % 251));
  std::vector<BadMesh> files = {{"missing", "", false},
                                {"empty", ""},
                                {"garbage", garbage},
                                {"truncated", prismStl().substr(0, 84 + 50 * 3 + 20)},
                                {"NaN vertex", prismWithFirstCoordinate(std::numeric_limits<float>::quiet_NaN())},
                                {"infinite vertex", prismWithFirstCoordinate(std::numeric_limits<float>::infinity())}};
  for (const CorruptPly& corrupt : corruptPlyFiles()) files.push_back({corrupt.name, corrupt.content, true, ".ply"});
  return files;
}

}  // namespace

TEST(SceneDescriptionChecks, TheFixtureCopyBuildsAndPlans) {
  TempDir dir;
  std::string out;
  auto scene = buildCopy(dir, sceneArmUrdfWithAbsoluteMeshes(), &out);
  std::vector<std::pair<double, double>> bounds;
  EXPECT_EQ(scene->getPlanSpaceBounds(bounds), 6);
  EXPECT_FALSE(contains(out, "gripper link")) << out;
}

TEST(SceneDescriptionChecks, UnusableCollisionMeshFilesAreRefusedNamingTheLinkAndTheFile) {
  for (const BadMesh& bad : badMeshFiles()) {
    TempDir dir;
    const std::string mesh = (dir.path() / ("bad" + bad.extension)).string();
    if (bad.written) writeFile(mesh, bad.content);
    const std::string urdf = replacedOnce(sceneArmUrdfWithAbsoluteMeshes(), link2MeshElement(),
                                          "<mesh filename=\"file://" + mesh + "\" scale=\"0.09 0.09 0.146\"/>");
    try {
      buildCopy(dir, urdf);
      ADD_FAILURE() << bad.name << ": built";
    } catch (const moveit::core::Exception& error) {
      const std::string what = error.what();
      EXPECT_TRUE(contains(what, "link 'link2'")) << bad.name << ": " << what;
      EXPECT_TRUE(contains(what, mesh)) << bad.name << ": " << what;
    }
  }
}

// The RM65 with Link6's collision mesh a binary PLY box 0.1 m beyond the
// flange, its data starting with a line feed: the box is the link's geometry
// as written, so an obstacle at its centre is a collision.
TEST(SceneDescriptionChecks, ABinaryPlyLinkMeshIsTheLinkAsWritten) {
  TempDir dir;
  const std::string box = (dir.path() / "box.ply").string();
  writeFile(box, plyFile(plyBox(), PlyFormat::kLittleEndian));
  const std::string collision = "<collision><origin xyz=\"0 0 0.1\" rpy=\"0 0 0\"/><geometry><mesh filename=\"file://" +
                                box + "\"/></geometry></collision>";
  auto scene = makeRm65Copy(
      dir, withElementOf(rm65UrdfWithAbsoluteMeshes(), "name=\"Link6\"", "<collision>", "</collision>", collision));
  std::vector<double> zero(6, 0.0);
  const Eigen::Vector4d centre = scene->getToolEndTransform(zero) * Eigen::Vector4d(0.0, 0.0, 0.1, 1.0);
  setOctree(*scene, {octomap::point3d(centre.x(), centre.y(), centre.z())});
  EXPECT_FALSE(scene->isValid(zero.data()));
  const Eigen::Vector4d beside = scene->getToolEndTransform(zero) * Eigen::Vector4d(0.0, 0.05, 0.1, 1.0);
  setOctree(*scene, {octomap::point3d(beside.x(), beside.y(), beside.z())});
  EXPECT_TRUE(scene->isValid(zero.data())) << "3 cm outside the box's side";
}

TEST(SceneDescriptionChecks, ZeroOrNonFiniteMeshScalesAreRefusedNamingTheLinkAndTheFile) {
  const std::string prism = "scene_arm_description/meshes/prism.stl";
  for (const char* scale : {"0 0 0", "0.09 0 0.146", "nan 1 1", "1 inf 1"}) {
    const std::string urdf =
        replacedOnce(sceneArmUrdfWithAbsoluteMeshes(), link2MeshElement(),
                     "<mesh filename=\"file://" + sceneArmDirectory() + prism + "\" scale=\"" + scale + "\"/>");
    const std::string what = refusal(urdf);
    EXPECT_TRUE(contains(what, "link 'link2'")) << scale << ": " << what;
    EXPECT_TRUE(contains(what, prism)) << scale << ": " << what;
  }
}

TEST(SceneDescriptionChecks, ZeroJointAxesAreRefusedNamingTheJoint) {
  const std::string urdf = sceneArmUrdfWithAbsoluteMeshes();
  const std::string revolute = replacedOnce(urdf,
                                            "<parent link=\"link2\"/><child link=\"link3\"/>\n    <origin xyz=\"0.256 "
                                            "0.0 0.0\" rpy=\"0.0 0.0 1.570796326794897\"/>\n    <axis xyz=\"0 0 1\"/>",
                                            "<parent link=\"link2\"/><child link=\"link3\"/>\n    <origin xyz=\"0.256 "
                                            "0.0 0.0\" rpy=\"0.0 0.0 1.570796326794897\"/>\n    <axis xyz=\"0 0 0\"/>");
  EXPECT_TRUE(contains(refusal(revolute), "joint 'joint3'")) << refusal(revolute);
  const std::string prismatic = replacedOnce(urdf, "<axis xyz=\"0 1 0\"/>", "<axis xyz=\"0 0 0\"/>");
  EXPECT_TRUE(contains(refusal(prismatic), "joint 'finger_joint'")) << refusal(prismatic);
}

TEST(SceneDescriptionChecks, MdhTablesWithValuesThatAreNotFiniteAreRefusedNamingTheCell) {
  struct Cell {
    size_t row;
    size_t column;
    double value;
    const char* text;
  };
  const double inf = std::numeric_limits<double>::infinity();
  for (const Cell& cell : {Cell{0, 0, inf, "row 0 (zd), column 0"}, Cell{1, 2, kNaN, "row 1 (xa), column 2"},
                           Cell{1, 2, -inf, "row 1 (xa), column 2"}, Cell{3, 5, kNaN, "row 3 (alpha), column 5"},
                           Cell{2, 4, inf, "row 2 (qzero), column 4"}}) {
    auto table = sceneArmMdhTable();
    table[cell.row][cell.column] = cell.value;
    OutputCapture quiet;
    try {
      ManipulatorPlanScene scene(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0,
                                 "gripper_link", table, sceneArmAccelerationLimits());
      ADD_FAILURE() << cell.text << ": built";
    } catch (const std::invalid_argument& error) {
      EXPECT_TRUE(contains(error.what(), cell.text)) << error.what();
    }
  }
}

TEST(SceneDescriptionChecks, MdhTablesOfTheWrongShapeStillBuildWithoutASolver) {
  auto table = sceneArmMdhTable();
  table[1].pop_back();
  std::string out;
  std::unique_ptr<ManipulatorPlanScene> scene;
  {
    OutputCapture capture;
    scene = std::make_unique<ManipulatorPlanScene>(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01,
                                                   1.0, "gripper_link", table, sceneArmAccelerationLimits());
    out = capture.out();
  }
  EXPECT_TRUE(contains(out, "REVOLUTE joint generate Mdh Para failed!!!")) << out;
  Eigen::MatrixXd pose = Eigen::MatrixXd::Constant(2, 2, 7.0);
  OutputCapture quiet;
  EXPECT_EQ(scene->forwardKinematics(Joints(6, 0.0), pose), -100);
  EXPECT_EQ(pose, Eigen::MatrixXd::Constant(2, 2, 7.0));
}

TEST(SceneDescriptionChecks, AnUnknownGripperLinkIsNamedAtConstruction) {
  std::string out;
  {
    OutputCapture capture;
    auto table = sceneArmMdhTable();
    ManipulatorPlanScene scene(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0, "griper_link",
                               table, sceneArmAccelerationLimits());
    out = capture.out();
  }
  EXPECT_TRUE(contains(out, "gripper link 'griper_link' is not a link of the robot.\n")) << out;
  std::string known;
  makeSceneArm("arm", "scene_arm.srdf", sceneArmAccelerationLimits(), &known);
  EXPECT_FALSE(contains(known, "is not a link of the robot")) << known;
}

// A link without shapes and a shape that is not a mesh stop the export.
TEST(SceneDescriptionChecks, MeshExportCodesForLinksWithoutMeshes) {
  const std::string urdf = sceneArmUrdfWithAbsoluteMeshes();
  const std::string without_shapes = replacedOnce(
      replacedOnce(urdf, "<link name=\"link3\">\n    <collision>", "<link name=\"link3\">\n    <!--"),
      "scale=\"0.08 0.08 0.16\"/></geometry>\n    </collision>", "scale=\"0.08 0.08 0.16\"/></geometry>\n    -->");
  const std::string with_box = replacedOnce(urdf,
                                            "<mesh filename=\"file://" + sceneArmDirectory() +
                                                "scene_arm_description/meshes/prism.stl\" scale=\"0.08 0.08 0.16\"/>",
                                            "<box size=\"0.08 0.08 0.16\"/>");
  struct Case {
    const std::string* urdf;
    int code;
    const char* line;
  };
  for (const Case& each :
       {Case{&without_shapes, -1, "link_shapes.size()<=0!\n"}, Case{&with_box, -2, "type is not shapes::Mesh\n"}}) {
    TempDir dir;
    auto scene = buildCopy(dir, *each.urdf);
    std::vector<pcl::PolygonMesh> meshes;
    OutputCapture capture;
    EXPECT_EQ(scene->getLinkPolygonMeshs(Joints(6, 0.1), meshes), each.code);
    EXPECT_EQ(capture.out(), each.line);
    EXPECT_EQ(meshes.size(), 2u) << "link1 and link2 come before link3";
  }
}

// A group holding a joint of several variables would give the bounds code
// -2, but its extent is not finite, so the scene never plans for it.
TEST(SceneDescriptionChecks, AGroupWithAPlanarJointCannotBePlannedFor) {
  TempDir dir;
  const std::string srdf = replacedOnce(
      replacedOnce(fileText(sceneArmDirectory() + "scene_arm.srdf"), "type=\"fixed\"", "type=\"planar\""),
      "<group name=\"hand\">", "<group name=\"base\"><joint name=\"world_joint\"/></group>\n  <group name=\"hand\">");
  writeFile(dir.path() / "planar.srdf", srdf);
  const std::string relative = std::filesystem::relative(dir.path(), sceneArmDirectory()).string() + "/";
  OutputCapture quiet;
  auto table = sceneArmMdhTable();
  ManipulatorPlanScene scene(sceneArmDirectory(), "scene_arm.urdf", relative + "planar.srdf", "arm", 0.01, 1.0,
                             "gripper_link", table, sceneArmAccelerationLimits());
  EXPECT_THROW_MESSAGE(scene.setPlannedJointGroup("base"), std::runtime_error,
                       "^longest_valid_segment is not finite!\n$");
  std::vector<std::pair<double, double>> bounds;
  EXPECT_EQ(scene.getPlanSpaceBounds(bounds), 6) << "the arm stays selected";
}
