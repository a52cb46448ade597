#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <memory>
#include <string>
#include <vector>

#include <geometric_shapes/mesh_operations.h>
#include <geometric_shapes/shapes.h>
#include <pcl/PolygonMesh.h>
#include <pcl/conversions.h>
#include <pcl/point_cloud.h>
#include <pcl/point_types.h>

#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/plan_scene/manipulator_plan_scene.h"
#include "bramlock_arm_planning_core/robot_model/robot_model.h"
#include "bramlock_arm_planning_core/robot_state/robot_state.h"
#include "ply_files.h"
#include "realman_copy.h"
#include "scene_arm.h"

namespace {

using namespace bramlock_test;

const std::set<std::string> kGripperTouches = {"gripper_link"};

// At the zero state the gripper link's origin is at z 0.8705 on the z axis,
// its z axis pointing up. Voxels are 2 cm cubes; their centres lie on odd
// multiples of 1 cm.
const octomap::point3d kAboveGripper(0.05f, 0.01f, 1.05f);

Eigen::Matrix4d translation(double x, double y, double z) {
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose.block<3, 1>(0, 3) = Eigen::Vector3d(x, y, z);
  return pose;
}

// Poses no body can be attached at: so far out that FCL's bounding boxes
// overflow (which crashed its broad phase), mirrored, scaled, or with a
// bottom row other than (0 0 0 1) (which attaching would silently drop).
std::vector<Eigen::Matrix4d> unattachablePoses() {
  Eigen::Matrix4d far_out = Eigen::Matrix4d::Identity();
  far_out(0, 3) = 1e200;
  Eigen::Matrix4d mirrored = Eigen::Matrix4d::Identity();
  mirrored(1, 1) = -1.0;
  Eigen::Matrix4d scaled = Eigen::Matrix4d::Identity();
  scaled.topLeftCorner<3, 3>() *= 2.0;
  Eigen::Matrix4d projective = Eigen::Matrix4d::Identity();
  projective(3, 0) = 0.5;
  Eigen::Matrix4d weighted = Eigen::Matrix4d::Identity();
  weighted(3, 3) = 2.0;
  return {far_out, mirrored, scaled, projective, weighted};
}

std::string prismPath() {
  return "file://" + bramlock_test::sceneArmDirectory() + "scene_arm_description/meshes/prism.stl";
}

// The unit prism scaled to 0.1 m, standing 0.15..0.25 m above the gripper
// origin, so that its side (radius 0.05) cuts the voxel above the gripper.
int attachPrism(ManipulatorPlanScene& scene, const std::string& id, const std::string& path,
                std::string* out = nullptr) {
  OutputCapture capture;
  const int code =
      scene.addAttachedEndEffectorToLink(id, "gripper_link", kGripperTouches, translation(0, 0, 0.2), path, 0.1, 0.0);
  if (out) *out = capture.out();
  return code;
}

int attachBox(ManipulatorPlanScene& scene, const std::string& id, const Eigen::Matrix4d& pose, double* size,
              std::string* out = nullptr) {
  OutputCapture capture;
  const int code = scene.addAttachedCollisionObjectToLink(id, "gripper_link", kGripperTouches, pose, size, 1.0, 0.0);
  if (out) *out = capture.out();
  return code;
}

// A box whose side cuts the voxel above the gripper, and one far from it.
double kCuttingBox[] = {0.1, 0.1, 0.1};
const Eigen::Matrix4d kCuttingBoxPose = translation(0, 0, 0.2);
double kSmallBox[] = {0.02, 0.02, 0.02};
const Eigen::Matrix4d kSmallBoxPose = translation(0, 0, 0.16);

// The published RM65 with one voxel 0.1 m beyond its flange at the zero
// pose, where the bodies attached below have their centre.
std::unique_ptr<ManipulatorPlanScene> rm65WithVoxelBeyondFlange() {
  auto scene = makeRm65(0.0);
  const Eigen::Vector4d centre = scene->getToolEndTransform(Joints(6, 0.0)) * Eigen::Vector4d(0.0, 0.0, 0.1, 1.0);
  setOctree(*scene, {octomap::point3d(centre.x(), centre.y(), centre.z())});
  return scene;
}

}  // namespace

TEST(SceneAttached, EndEffectorMeshMakesANearbyObstacleCollide) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kAboveGripper});
  Joints zero(6, 0.0);
  ASSERT_TRUE(scene->isValid(zero.data()));
  std::string out;
  ASSERT_EQ(attachPrism(*scene, "tool", prismPath(), &out), 0);
  EXPECT_TRUE(contains(out, "[INFO] Mesh created from path: " + prismPath()));
  EXPECT_TRUE(
      contains(out, "\033[2mrobot_state_ has not AttachedBody,shapes 'tool' attached to link 'gripper_link' \033[0m"));
  EXPECT_FALSE(scene->isValid(zero.data()));
  EXPECT_FALSE(scene->isValidSimplify(zero.data()));

  ASSERT_EQ(attachPrism(*scene, "tool", prismPath(), &out), 0);
  EXPECT_TRUE(contains(out, "robot_state_ has AttachedBody,shapes 'tool' attached to link 'gripper_link' "));
  Joints turned = {0.0, 1.0, 0.0, 0.0, 0.0, 0.0};
  EXPECT_TRUE(scene->isValid(turned.data())) << "the tool moves with its link";
  // States alternating between the two poses, nudged so that the scene's
  // memo of checked states never answers: the tool's object goes along.
  for (int round = 1; round <= 3; ++round) {
    Joints near_zero = zero, near_turned = turned;
    near_zero[0] = near_turned[0] = 1e-9 * round;
    EXPECT_FALSE(scene->isValid(near_zero.data())) << "round " << round;
    EXPECT_TRUE(scene->isValid(near_turned.data())) << "round " << round;
  }
}

TEST(SceneAttached, EndEffectorFailures) {
  auto scene = makeSceneArm();
  std::string out;
  const std::string missing = "file:///no/such/dir/tool.stl";
  EXPECT_EQ(attachPrism(*scene, "tool", missing, &out), -1);
  EXPECT_TRUE(contains(out, "[ERROR] mesh " + missing + " cannot be opened\n")) << out;
  {
    OutputCapture capture;
    EXPECT_EQ(
        scene->addAttachedEndEffectorToLink("tool", "no_link", {}, Eigen::Matrix4d::Identity(), prismPath(), 1.0, 0.0),
        -1);
    out = capture.out();
  }
  EXPECT_TRUE(contains(out, "[ERROR] getTcpLink error in processAttachedCollisionObject\n"));
  Eigen::Matrix4d not_finite = Eigen::Matrix4d::Identity();
  not_finite(0, 3) = kNaN;
  OutputCapture quiet;
  EXPECT_EQ(scene->addAttachedEndEffectorToLink("tool", "gripper_link", {}, not_finite, prismPath(), 1.0, 0.0), -1);
  for (const Eigen::Matrix4d& pose : unattachablePoses()) {
    EXPECT_EQ(scene->addAttachedEndEffectorToLink("tool", "gripper_link", {}, pose, prismPath(), 1.0, 0.0), -1);
  }
}

TEST(SceneAttached, BoxCollidesAtOnceAndBodiesKeepTheirOwnPlaces) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kAboveGripper});
  Joints zero(6, 0.0);
  std::string out;
  ASSERT_EQ(attachBox(*scene, "a", kSmallBoxPose, kSmallBox, &out), 0);
  EXPECT_TRUE(contains(
      out,
      "robot_state_ not hasAttachedBody,shapes 'a' attached to link 'gripper_link' (0.020000 0.020000 0.020000)\n"));
  EXPECT_TRUE(scene->isValid(zero.data()));
  ASSERT_EQ(attachBox(*scene, "b", kCuttingBoxPose, kCuttingBox), 0);
  EXPECT_FALSE(scene->isValid(zero.data())) << "seen without an end-effector attach";

  {
    OutputCapture capture;
    EXPECT_EQ(scene->removeAttachedCollisionObjectFromLink("a"), 0);
    EXPECT_EQ(capture.out(), "remove 'a' AttachedBody \n");
  }
  EXPECT_FALSE(scene->isValid(zero.data())) << "the remaining box is checked in its own place";
  OutputCapture quiet;
  EXPECT_EQ(scene->removeAttachedCollisionObjectFromLink("b"), 0);
  EXPECT_TRUE(scene->isValid(zero.data()));
  EXPECT_EQ(scene->removeAttachedCollisionObjectFromLink("never_attached"), 0);
}

TEST(SceneAttached, BoxReplacesBodiesAndWorldObjectsOfItsId) {
  auto scene = makeSceneArm();
  setOctree(*scene, {kAboveGripper});
  Joints zero(6, 0.0);
  ASSERT_EQ(attachBox(*scene, "box", kCuttingBoxPose, kCuttingBox), 0);
  EXPECT_FALSE(scene->isValid(zero.data()));
  std::string out;
  ASSERT_EQ(attachBox(*scene, "box", kSmallBoxPose, kSmallBox, &out), 0);
  EXPECT_TRUE(contains(out, "robot_state_ does hasAttachedBody,shapes 'box' attached to tcp link 'gripper_link'"));
  EXPECT_TRUE(scene->isValid(zero.data())) << "the small box replaced the cutting one";

  // A body named like the octomap object takes the octomap out of the world.
  ASSERT_EQ(attachBox(*scene, "world_octomap", kCuttingBoxPose, kCuttingBox), 0);
  EXPECT_TRUE(scene->isValid(zero.data()));
}

TEST(SceneAttached, BoxArgumentsThatCannotMakeABox) {
  auto scene = makeSceneArm();
  double not_finite[] = {0.1, kNaN, 0.1};
  double flat[] = {0.1, 0.0, 0.1};
  double huge_negative[] = {0.1, -1e300, 0.1};
  double huge[] = {0.1, 1e300, 0.1};
  EXPECT_EQ(attachBox(*scene, "box", kSmallBoxPose, nullptr), -1);
  for (double* size : {not_finite, flat, huge_negative, huge}) {
    EXPECT_EQ(attachBox(*scene, "box", kSmallBoxPose, size), -1);
  }
  Eigen::Matrix4d pose = kSmallBoxPose;
  pose(2, 3) = std::numeric_limits<double>::infinity();
  EXPECT_EQ(attachBox(*scene, "box", pose, kSmallBox), -1);
  for (const Eigen::Matrix4d& far_or_bent : unattachablePoses()) {
    EXPECT_EQ(attachBox(*scene, "box", far_or_bent, kSmallBox), -1);
  }
  EXPECT_TRUE(scene->isValid(Joints(6, 0.0))) << "no box was attached";
  std::string out;
  {
    OutputCapture capture;
    EXPECT_EQ(scene->addAttachedCollisionObjectToLink("box", "no_link", {}, kSmallBoxPose, kSmallBox, 1.0, 0.0), -1);
    out = capture.out();
  }
  EXPECT_TRUE(contains(out, "getTcpLink error in processAttachedCollisionObject\n"));
}

TEST(SceneAttached, PaddingsSetAndRecoveredFlipValidity) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  // Beside the forearm (radius 0.04, z 0.4965..0.6565 at the zero state), 2 to 2.5 cm clear of it.
  setOctree(*scene, {octomap::point3d(0.07f, 0.01f, 0.57f)});
  ASSERT_TRUE(scene->isValid(zero.data()));
  EXPECT_EQ(quietly([&] { return scene->setRobotPadding(0.08); }), 0);
  EXPECT_FALSE(scene->isValid(zero.data()));
  EXPECT_EQ(quietly([&] { return scene->recoverRobotPadding(); }), 0);
  EXPECT_TRUE(scene->isValid(zero.data()));

  // Beside the gripper box along its narrow side (half width 0.03), 3 cm clear of it.
  const Eigen::Matrix4d gripper = scene->getToolEndTransform(zero);
  const bool narrow_along_x = std::abs(gripper(0, 0)) > 0.5;
  setOctree(*scene, {narrow_along_x ? octomap::point3d(0.07f, 0.01f, 0.93f) : octomap::point3d(0.01f, 0.07f, 0.93f)});
  ASSERT_TRUE(scene->isValid(zero.data()));
  EXPECT_EQ(scene->setGripperPadding(0.1), 0);
  EXPECT_FALSE(scene->isValid(zero.data()));
  EXPECT_EQ(scene->setGripperPadding(0.0), 0);
  EXPECT_TRUE(scene->isValid(zero.data()));
  EXPECT_EQ(quietly([&] { return scene->setGripperPadding(kNaN); }), -1);
  EXPECT_EQ(quietly([&] { return scene->setRobotPadding(kNaN); }), -1);
  EXPECT_EQ(quietly([&] { return scene->setGripperPadding(nullptr, 0.1); }), -1);
}

TEST(SceneAttached, HugePaddingsAreRefusedAndKeepThePaddingInForce) {
  auto scene = makeSceneArm();
  Joints zero(6, 0.0);
  // Beside the forearm as above: a padding of 8 cm reaches it.
  setOctree(*scene, {octomap::point3d(0.07f, 0.01f, 0.57f)});
  ASSERT_EQ(quietly([&] { return scene->setRobotPadding(0.08); }), 0);
  ASSERT_FALSE(scene->isValid(zero.data()));
  // Meshes padded by such amounts overflow in FCL and collide with nothing.
  for (double huge : {1e300, -1e300, 2e6}) {
    EXPECT_EQ(quietly([&] { return scene->setRobotPadding(huge); }), -1) << huge;
    EXPECT_EQ(quietly([&] { return scene->setGripperPadding(huge); }), -1) << huge;
    EXPECT_FALSE(scene->isValid(zero.data())) << huge;
  }
  EXPECT_EQ(quietly([&] { return scene->setRobotPadding(ManipulatorPlanScene::kMaxPaddingOrScale); }), 0);
}

TEST(SceneAttached, GripperPaddingOnAGivenChecker) {
  auto scene = makeSceneArm();
  std::shared_ptr<collision_detection::CollisionRobotFCL> robot;
  {
    OutputCapture quiet;
    robot = std::make_shared<collision_detection::CollisionRobotFCL>(loadSceneArmModel());
  }
  OutputCapture capture;
  EXPECT_EQ(scene->setGripperPadding(robot, 0.05), 0);
  EXPECT_EQ(capture.out(), "gripper_name:gripper_link\n");
  EXPECT_EQ(robot->getLinkPadding("gripper_link"), 0.05);
}

TEST(SceneAttached, GroupsWithoutGripperRefusePaddings) {
  auto scene = makeSceneArm("arm", "scene_arm_joint_list.srdf");
  OutputCapture capture;
  EXPECT_EQ(scene->setGripperPadding(0.1), -1);
  EXPECT_EQ(scene->setRobotPadding(0.1), -1);
  EXPECT_EQ(scene->recoverRobotPadding(), -1);
  EXPECT_EQ(capture.out(),
            "The robot does not have gripper.\nThe robot does not have gripper.\nThe robot does not have gripper.\n");
}

TEST(SceneAttached, GripperPaddingsNeedAGripperLinkOfTheModel) {
  std::unique_ptr<ManipulatorPlanScene> unnamed, misnamed;
  {
    OutputCapture quiet;
    auto table = sceneArmMdhTable();
    unnamed = std::make_unique<ManipulatorPlanScene>(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm",
                                                     kSceneArmRobotPadding, 1.0);
    misnamed = std::make_unique<ManipulatorPlanScene>(sceneArmDirectory(), "scene_arm.urdf", "scene_arm.srdf", "arm",
                                                      kSceneArmRobotPadding, 1.0, "griper_link", table);
  }
  std::shared_ptr<collision_detection::CollisionRobotFCL> robot;
  {
    OutputCapture quiet;
    robot = std::make_shared<collision_detection::CollisionRobotFCL>(loadSceneArmModel());
  }
  OutputCapture capture;
  // Reported as done before, while no geometry changed.
  EXPECT_EQ(unnamed->setGripperPadding(0.1), -1);
  EXPECT_EQ(misnamed->setGripperPadding(0.1), -1);
  EXPECT_EQ(misnamed->setGripperPadding(robot, 0.1), -1);
  EXPECT_EQ(capture.out(),
            "gripper link '' is not a link of the robot.\n"
            "gripper link 'griper_link' is not a link of the robot.\n"
            "gripper link 'griper_link' is not a link of the robot.\n");
  EXPECT_EQ(misnamed->setRobotPadding(0.1), 0) << "the robot padding does not need the gripper link";
}

TEST(SceneAttached, ExportedMeshesAreTheCollisionBodiesInPlace) {
  auto scene = makeSceneArm();
  const Joints q = {0.4, -0.3, 0.9, 0.2, -0.7, 1.1};
  std::vector<pcl::PolygonMesh> meshes(1);  // appended to, not cleared
  ASSERT_EQ(scene->getLinkPolygonMeshs(q, meshes), 0);
  ASSERT_EQ(meshes.size(), 8u);

  // The same poses from a robot state of a model of its own.
  const auto model = loadSceneArmModel();
  moveit::core::RobotState state(model);
  state.setToDefaultValues();
  state.setJointGroupPositions(model->getJointModelGroup("arm"), q.data());
  state.update(true);
  const std::vector<std::string> links = {"link1", "link2", "link3", "link4", "link5", "link6", "gripper_link"};
  for (size_t i = 0; i < links.size(); ++i) {
    const moveit::core::LinkModel* link = model->getLinkModel(links[i]);
    const auto& shape = static_cast<const shapes::Mesh&>(*link->getShapes().front());
    const Eigen::Isometry3d pose = state.getGlobalLinkTransform(link) * link->getCollisionOriginTransforms().front();
    pcl::PointCloud<pcl::PointXYZ> cloud;
    pcl::fromPCLPointCloud2(meshes[i + 1].cloud, cloud);
    ASSERT_EQ(cloud.size(), shape.vertex_count) << links[i];
    ASSERT_EQ(meshes[i + 1].polygons.size(), shape.triangle_count) << links[i];
    for (unsigned int v = 0; v < shape.vertex_count; ++v) {
      const Eigen::Vector3d expected =
          pose * Eigen::Vector3d(shape.vertices[3 * v], shape.vertices[3 * v + 1], shape.vertices[3 * v + 2]);
      EXPECT_LT((cloud[v].getVector3fMap().cast<double>() - expected).norm(), 1e-6) << links[i] << " vertex " << v;
    }
    for (unsigned int t = 0; t < shape.triangle_count; ++t) {
      for (int c = 0; c < 3; ++c) EXPECT_EQ(meshes[i + 1].polygons[t].vertices[c], shape.triangles[3 * t + c]);
    }
  }
  EXPECT_EQ(scene->getLinkPolygonMeshs(Joints(5, 0.0), meshes), -3);
  EXPECT_EQ(scene->getLinkPolygonMeshs({0, 0, kNaN, 0, 0, 0}, meshes), -3);
  EXPECT_EQ(meshes.size(), 8u);
}

TEST(SceneAttached, InterpolationLeavesOutCollidingStates) {
  auto scene = makeSceneArm();
  setOctree(*scene, {octomap::point3d(0.05f, 0.01f, 0.49f)});  // cut by the upright upper arm
  Joints from = {0.0, -0.5, 0.0, 0.0, 0.0, 0.0};
  Joints to = {0.0, 0.5, 0.0, 0.0, 0.0, 0.0};
  ASSERT_TRUE(scene->isValid(from));
  ASSERT_TRUE(scene->isValid(to));
  const unsigned int n = scene->validSegmentCount(from.data(), to.data());
  std::vector<Joints> states;
  std::string out;
  {
    OutputCapture capture;
    states = scene->interpolate(from.data(), to.data());
    out = capture.out();
  }
  size_t warnings = 0;
  for (size_t at = out.find("[WARN] interpolate failed,joints is "); at != std::string::npos;
       at = out.find("[WARN] interpolate failed,joints is ", at + 1)) {
    ++warnings;
  }
  EXPECT_GT(warnings, 0u);
  EXPECT_EQ(states.size() + warnings, n - 1);
  for (const Joints& state : states) {
    ASSERT_EQ(state.size(), 6u);
    EXPECT_TRUE(scene->isValid(state));
    const double k = (state[1] - from[1]) / (to[1] - from[1]) * n;
    EXPECT_NEAR(k, std::round(k), 1e-9) << "on the motion check's grid";
  }
  EXPECT_TRUE(scene->interpolate(from.data(), from.data()).empty());
  EXPECT_TRUE(scene->interpolate(nullptr, to.data()).empty());
  for (double bad : {kNaN, 1e300}) {
    Joints far = to;
    far[1] = bad;
    EXPECT_TRUE(scene->interpolate(from.data(), far.data()).empty()) << bad;
  }
}

// A binary PLY box whose data starts with a line feed is attached as written
// and holds an obstacle at its centre; corrupt PLY files and a binary STL with
// a vertex not a number are refused naming the file, nothing attached.
TEST(SceneAttached, PlyFilesAttachAsWrittenAndCorruptFilesAreRefusedNamingTheFile) {
  auto scene = rm65WithVoxelBeyondFlange();
  Joints zero(6, 0.0);
  ASSERT_TRUE(scene->isValid(zero.data()));
  TempDir dir;
  std::string out;
  const auto attach = [&](const std::string& name, const std::string& content) {
    const std::string path = (dir.path() / name).string();
    writeFile(path, content);
    OutputCapture capture;
    const int code = scene->addAttachedEndEffectorToLink("box", "Link6", {"Link6"}, translation(0, 0, 0.1),
                                                         "file://" + path, 1.0, 0.0);
    out = capture.out();
    return code;
  };
  ASSERT_EQ(attach("box.ply", plyFile(plyBox(), PlyFormat::kLittleEndian)), 0) << out;
  EXPECT_FALSE(scene->isValid(zero.data())) << "the voxel lies at the box's centre";
  quietly([&] { return scene->removeAttachedCollisionObjectFromLink("box"); });
  ASSERT_TRUE(scene->isValid(zero.data()));

  std::vector<CorruptPly> corrupt = corruptPlyFiles();
  std::string stl = fileText(fixturePath("scene_arm/scene_arm_description/meshes/box.stl"));
  const float nan = std::numeric_limits<float>::quiet_NaN();
  std::memcpy(&stl[84 + 12 + 4], &nan, sizeof nan);
  for (const CorruptPly& file : corrupt) {
    EXPECT_EQ(attach("corrupt.ply", file.content), -1) << file.name;
    EXPECT_TRUE(contains(out, "[ERROR] mesh file://" + (dir.path() / "corrupt.ply").string())) << file.name << out;
    EXPECT_TRUE(scene->isValid(zero.data())) << file.name << ": nothing attached";
  }
  EXPECT_EQ(attach("nan.stl", stl), -1);
  EXPECT_TRUE(contains(out, "[ERROR] mesh file://" + (dir.path() / "nan.stl").string() +
                                " is not a readable STL file: vertex 0 is not finite"))
      << out;
  EXPECT_TRUE(scene->isValid(zero.data()));
}

TEST(SceneAttached, InterpolationGivesEveryVariableOfTheGroup) {
  auto scene = makeSceneArm("hand");
  double from[] = {0.0};
  double to[] = {0.03};
  const std::vector<Joints> states = scene->interpolate(from, to);
  ASSERT_FALSE(states.empty());
  for (const Joints& state : states) {
    ASSERT_EQ(state.size(), 2u) << "the finger and its mimic twin";
    EXPECT_DOUBLE_EQ(state[0], state[1]);
  }
}

// On the published RM65, a 4 cm cube (the unit box scaled) 0.1 m beyond the
// flange holds an obstacle at its centre; copies of it with one vertex not
// finite or too far out are refused and leave the body attached before in place.
TEST(SceneAttached, MeshesWithVerticesNotFiniteOrTooFarAreRefusedNamingTheFile) {
  auto scene = rm65WithVoxelBeyondFlange();
  Joints zero(6, 0.0);
  ASSERT_TRUE(scene->isValid(zero.data()));
  const std::string cube = "scene_arm/scene_arm_description/meshes/box.stl";
  std::string out;
  const auto attachCube = [&](const std::string& path, double scale) {
    OutputCapture capture;
    const int code = scene->addAttachedEndEffectorToLink("cube", "Link6", {"Link6"}, translation(0, 0, 0.1),
                                                         "file://" + path, scale, 0.0);
    out = capture.out();
    return code;
  };
  ASSERT_EQ(attachCube(fixturePath(cube), 0.04), 0);
  ASSERT_FALSE(scene->isValid(zero.data()));
  quietly([&] { return scene->removeAttachedCollisionObjectFromLink("cube"); });
  ASSERT_TRUE(scene->isValid(zero.data()));

  TempDir dir;
  const std::string path = (dir.path() / "cube.stl").string();
  // 1e5 is within the limit until scaled by 20.
  for (const auto& [x, scale] :
       {std::pair{kNaN, 0.04}, std::pair{kInf, 0.04}, std::pair{1e30, 0.04}, std::pair{1e5, 20.0}}) {
    writeFile(path, stlWithFirstVertexX(cube, static_cast<float>(x)));
    EXPECT_EQ(attachCube(path, scale), -1) << x;
    // Not finite: refused by the reader; too far: by the attach.
    const std::string fault =
        std::isfinite(x) ? " has a vertex" : " is not a readable STL file: vertex 0 is not finite";
    EXPECT_TRUE(contains(out, "[ERROR] mesh file://" + path + fault)) << out;
    EXPECT_TRUE(scene->isValid(zero.data())) << x << ": nothing attached";
    EXPECT_TRUE(scene->isValidSimplify(zero.data())) << x;
    EXPECT_TRUE(scene->checkMotion(zero.data(), zero.data())) << x;
  }

  ASSERT_EQ(attachCube(fixturePath(cube), 0.04), 0);
  writeFile(path, stlWithFirstVertexX(cube, kNaN));
  EXPECT_EQ(attachCube(path, 0.04), -1);
  EXPECT_FALSE(scene->isValid(zero.data())) << "the cube attached before stays";
}
