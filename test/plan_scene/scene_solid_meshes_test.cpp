// Closed link meshes, and closed meshes attached to links, are solids in the
// scene's world checks: an occupied voxel whose centre lies inside an
// unpadded mesh is a collision, however deep it lies, on both roads and at
// any padding. Three kinds of test: cases found on the published arms; an
// independent oracle (the generalized winding number, see
// solid_mesh_oracle.h) over seeded states among small voxel clusters; and
// the answers of the RM65 and the RML63 among such clusters recorded from the
// build of e3f6d69 (test/fixtures/realman/cluster_answers.txt), which must
// stay the same. The file is recorded anew, once a difference is explained,
// by running this program with BRAMLOCK_RECORD_CLUSTER_ANSWERS set and the
// filter ClusterAnswers.*.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_robot_fcl.h"
#include "bramlock_arm_planning_core/collision_detection_fcl/collision_world_fcl.h"
#include "recorded_answers.h"
#include "scene_arm.h"
#include "scene_file_texts.h"
#include "seeded_joints.h"
#include "solid_mesh_makers.h"
#include "solid_mesh_oracle.h"

namespace {

using namespace bramlock_test;

using Bounds = std::vector<std::pair<double, double>>;

// The simplify road's world check pads every link it tests by the gripper
// padding given at construction, 0.06 in the form makeRm65 uses.
constexpr double kSimplifyPadding = 0.06;

std::shared_ptr<const moveit::core::RobotModel> loadRealmanModel(const std::string& urdf, const std::string& srdf,
                                                                 ManipulatorPlanScene::MdhTable table) {
  OutputCapture quiet;
  return std::make_shared<moveit::core::RobotModel>(fixturePath("realman/"), urdf, srdf, table);
}

// Loaded once: every oracle of the RM65 shares it.
std::shared_ptr<const moveit::core::RobotModel> loadRm65Model() {
  static const auto model = loadRealmanModel("rm_description/urdf/rm_65.urdf", "rm_65.srdf", sceneArmMdhTable());
  return model;
}

std::shared_ptr<const moveit::core::RobotModel> loadRml63Model() {
  static const auto model = loadRealmanModel("rm_description/urdf/rml_63.urdf", "rml_63.srdf", rml63MdhTable());
  return model;
}

// A published arm among the clusters, the tool fixed to its last link where
// a configuration holds one. The RML63's configuration names carry a prefix.
struct Arm {
  std::string prefix;
  std::function<std::unique_ptr<ManipulatorPlanScene>(double)> make;
  std::function<std::shared_ptr<const moveit::core::RobotModel>()> model;
  std::string last_link;
};

const std::vector<Arm>& arms() {
  static const std::vector<Arm> all = {
      {"", [](double padding) { return makeRm65(padding); }, loadRm65Model, "Link6"},
      {"rml63:", [](double padding) { return makeRml63(padding); }, loadRml63Model, "link6"},
  };
  return all;
}

Bounds boundsOf(ManipulatorPlanScene& scene) {
  Bounds bounds;
  EXPECT_EQ(scene.getPlanSpaceBounds(bounds), 6);
  return bounds;
}

// Voxel centres filling the box from `low` to `high` in steps of the resolution.
std::vector<octomap::point3d> voxelsFilling(const Eigen::Vector3d& low, const Eigen::Vector3d& high,
                                            double resolution) {
  std::vector<octomap::point3d> centres;
  for (double x = low.x() + resolution / 2; x < high.x(); x += resolution) {
    for (double y = low.y() + resolution / 2; y < high.y(); y += resolution) {
      for (double z = low.z() + resolution / 2; z < high.z(); z += resolution) centres.emplace_back(x, y, z);
    }
  }
  return centres;
}

Joints lerp(const Joints& from, const Joints& to, double t) {
  Joints out(from.size());
  for (size_t i = 0; i < from.size(); ++i) out[i] = from[i] + t * (to[i] - from[i]);
  return out;
}

// A tool with no shape of its own: the RM65's Link5 mesh fixed beyond the
// flange of Link6, its long side pointing away from the flange (2 mm to 14.5 cm).
const std::string kToolMesh = "rm_description/meshes/rm_65_arm/link5.STL";

Eigen::Isometry3d toolPose() {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translate(Eigen::Vector3d(0.0, 0.0, 0.03));
  pose.rotate(Eigen::AngleAxisd(-M_PI_2, Eigen::Vector3d::UnitX()));
  return pose;
}

void attachTool(ManipulatorPlanScene& scene, const std::string& link = "Link6") {
  OutputCapture quiet;
  ASSERT_EQ(scene.addAttachedEndEffectorToLink("tool", link, {link}, toolPose().matrix(),
                                               "file://" + fixturePath("realman/" + kToolMesh), 1.0, 0.0),
            0);
}

void attachTool(SolidArmOracle& oracle, const std::string& link = "Link6") {
  oracle.attachMesh("tool", link, toolPose(), "file://" + fixturePath("realman/" + kToolMesh));
}

size_t pick(SeededJoints& draw, size_t count) {
  return std::min(count - 1, static_cast<size_t>(draw.uniform(0.0, static_cast<double>(count))));
}

// A point `depth` below the surface of the body as placed (above it when
// negative), under a point drawn on one of its triangles.
Eigen::Vector3d pointUnderSurface(const ArmBody& body, SeededJoints& draw, double depth) {
  const auto& triangle = body.mesh.triangles[pick(draw, body.mesh.triangles.size())];
  const Eigen::Vector3d& a = body.mesh.vertices[triangle[0]];
  const Eigen::Vector3d& b = body.mesh.vertices[triangle[1]];
  const Eigen::Vector3d& c = body.mesh.vertices[triangle[2]];
  double u = draw.uniform(0.0, 1.0), v = draw.uniform(0.0, 1.0);
  if (u + v > 1.0) u = 1.0 - u, v = 1.0 - v;
  const Eigen::Vector3d normal = (b - a).cross(c - a);
  const Eigen::Vector3d outwards = normal.norm() > 1e-12 ? Eigen::Vector3d(normal.normalized()) : normal;
  return body.pose * (a + u * (b - a) + v * (c - a) - depth * outwards);
}

// One to three voxels: one at the point, the others up to two voxels away from it.
void addCluster(std::vector<octomap::point3d>& points, const Eigen::Vector3d& at, double resolution,
                SeededJoints& draw) {
  points.emplace_back(at.x(), at.y(), at.z());
  const size_t more = pick(draw, 3);
  for (size_t k = 0; k < more; ++k) {
    Eigen::Vector3d offset = Eigen::Vector3d::Zero();
    while (offset.isZero()) {
      for (int axis = 0; axis < 3; ++axis) offset[axis] = static_cast<double>(pick(draw, 5)) - 2.0;
    }
    const Eigen::Vector3d next = at + resolution * offset;
    points.emplace_back(next.x(), next.y(), next.z());
  }
}

// Clusters around the bodies of the arm as the oracle placed it, up to 2 cm
// under a surface or 1 cm above one; with `far_share`, that share of them
// lies 1 to 15 cm above a surface instead. Bodies from `first_body` on (in model order) take them.
std::vector<octomap::point3d> clustersAroundArm(const SolidArmOracle& oracle, int count, double resolution,
                                                SeededJoints& draw, double far_share = 0.0, size_t first_body = 0) {
  std::vector<octomap::point3d> points;
  const size_t bodies = oracle.bodies().size();
  for (int i = 0; i < count; ++i) {
    const ArmBody& body = oracle.bodies()[first_body + pick(draw, bodies - first_body)];
    const double depth = draw.uniform(0.0, 1.0) < far_share ? draw.uniform(-0.15, -0.01) : draw.uniform(-0.01, 0.02);
    addCluster(points, pointUnderSurface(body, draw, depth), resolution, draw);
  }
  return points;
}

}  // namespace

// ---- cases found on the published arms ----

// A 15 mm cube of 5 mm voxels (octomap keeps eight of them as one 1 cm leaf)
// lies wholly inside the RM65's Link4, its centre about 20.7 mm below the
// surface: no triangle of any link touches it.
TEST(SolidMeshes, ACubeWhollyInsideTheRm65ForearmIsACollision) {
  auto scene = makeRm65(0.0);
  const auto tree = octreeWith(voxelsFilling({0.435, -0.060, 0.335}, {0.450, -0.045, 0.350}, 0.005), 0.005);
  Joints q = {3.066962, 1.166832, 0.520475, -0.686452, -0.623516, 0.779345};

  SolidArmOracle oracle(loadRm65Model(), "arm", 0.0);
  oracle.place(q);
  const Voxel cube{Eigen::Vector3d(0.4425, -0.0525, 0.3425), 0.015};
  const ArmBody* holder = nullptr;
  EXPECT_GT(oracle.deepestWinding(cube.centre, &holder), kInsideWinding);
  ASSERT_NE(holder, nullptr);
  EXPECT_EQ(holder->name, "Link4");
  for (const ArmBody& body : oracle.bodies()) EXPECT_FALSE(SolidArmOracle::touches(body, cube, false)) << body.name;
  for (const Voxel& voxel : occupiedVoxels(*tree)) EXPECT_GT(oracle.deepestWinding(voxel.centre), kInsideWinding);

  // The surface-only check accepted this state.
  ASSERT_TRUE(scene->isValid(q.data())) << "the arm alone is clear";
  ASSERT_EQ(quietly([&] { return scene->updateWorldOctomap(tree); }), 0);
  EXPECT_FALSE(scene->isValid(q.data()));
  EXPECT_FALSE(scene->isValidSimplify(q.data()));
  EXPECT_FALSE(scene->isValid(q));
}

// The RML63 with a three-box gripper turns its wrist over a 1 cm cluster of
// 5 mm voxels: link5 holds the cluster's centre from t 0.22 to 0.72 of the
// motion. On the simplify road link5's padded copy (6 cm) swallows the cluster
// whole there, so no state that road tests has a triangle on it.
TEST(SolidMeshes, TheRml63WristTurningOverASmallClusterIsACollision) {
  auto scene = makeRml63(0.0);
  // A palm on the flange and two fingers beyond it (link6's frame, metres).
  struct Box {
    Eigen::Vector3d middle;
    double size[3];
  };
  const std::vector<std::pair<std::string, Box>> gripper = {
      {"palm", {{0.0, 0.0, 0.015}, {0.08, 0.04, 0.03}}},
      {"finger_left", {{0.03, 0.0, 0.06}, {0.012, 0.02, 0.06}}},
      {"finger_right", {{-0.03, 0.0, 0.06}, {0.012, 0.02, 0.06}}},
  };
  for (auto [id, box] : gripper) {
    Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
    pose.block<3, 1>(0, 3) = box.middle;
    ASSERT_EQ(quietly([&] {
                return scene->addAttachedCollisionObjectToLink(id, "link6", {"link6"}, pose, box.size, 1.0, 0.0);
              }),
              0)
        << id;
  }
  Joints a = {-2.3769562815423715, 0.62735602345431252,  1.7611400649628024,
              0.12304267074607811, -0.40822586922209769, 3.6555111306101766};
  Joints b = {-2.3769562815423715, 0.62735602345431252,  1.7611400649628024,
              2.2331955473758907,  -0.20637645351130951, 1.5168515117027344};
  ASSERT_TRUE(scene->isValid(a.data()) && scene->isValid(b.data())) << "the arm alone is clear at both ends";
  const auto tree = octreeWith(voxelsFilling({-0.250, -0.215, 0.115}, {-0.240, -0.205, 0.125}, 0.005), 0.005);
  ASSERT_EQ(quietly([&] { return scene->updateWorldOctomap(tree); }), 0);

  SolidArmOracle oracle(loadRealmanModel("rm_description/urdf/rml_63.urdf", "rml_63.srdf", rml63MdhTable()), "arm",
                        0.0);
  const Eigen::Vector3d centre(-0.245, -0.21, 0.12);
  for (const double t : {0.25, 0.5, 0.7}) {
    oracle.place(lerp(a, b, t));
    const ArmBody* holder = nullptr;
    EXPECT_GT(oracle.deepestWinding(centre, &holder), kInsideWinding) << "t " << t;
    EXPECT_TRUE(holder && holder->name == "link5") << "t " << t;
  }

  EXPECT_TRUE(scene->isValid(a.data()));
  EXPECT_TRUE(scene->isValid(b.data()));
  EXPECT_FALSE(scene->checkMotion(a.data(), b.data()));
  // The surface-only check accepted this motion.
  EXPECT_FALSE(scene->checkMotionSimplify(a.data(), b.data()));
  Joints middle = lerp(a, b, 0.5);
  EXPECT_FALSE(scene->isValid(middle.data()));
  EXPECT_FALSE(scene->isValidSimplify(middle.data()));
}

// A unit box without its lid (z = 0.5), as an ASCII STL: an open surface.
std::string lidlessBoxStl() {
  return asciiStl(lidlessBoxMesh(Eigen::Vector3d::Constant(-0.5), Eigen::Vector3d::Constant(0.5)));
}

size_t occurrences(const std::string& text, const std::string& part) {
  size_t count = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The scene arm with every box mesh lidless: the links that carry it are
// named in one warning as the scene is built, an attached lidless mesh when
// it is attached; the closed meshes of the fixture draw no warning.
TEST(SolidMeshes, MeshesThatAreOpenSurfacesAreNamedOnce) {
  std::string closed;
  makeSceneArm("arm", "scene_arm.srdf", sceneArmAccelerationLimits(), &closed);
  EXPECT_EQ(occurrences(closed, "open surface"), 0u);

  TempDir dir;
  writeFile(dir.path() / "scene_arm.urdf", fileText(sceneArmDirectory() + "scene_arm.urdf"));
  writeFile(dir.path() / "scene_arm.srdf", fileText(sceneArmDirectory() + "scene_arm.srdf"));
  const std::filesystem::path meshes = dir.path() / "scene_arm_description" / "meshes";
  writeFile(meshes / "prism.stl", fileText(sceneArmDirectory() + "scene_arm_description/meshes/prism.stl"));
  writeFile(meshes / "box.stl", lidlessBoxStl());
  OutputCapture capture;
  auto table = sceneArmMdhTable();
  ManipulatorPlanScene scene(dir.path().string() + "/", "scene_arm.urdf", "scene_arm.srdf", "arm", 0.01, 1.0,
                             "gripper_link", table, sceneArmAccelerationLimits());
  ASSERT_EQ(scene.addAttachedEndEffectorToLink("cup", "gripper_link", {"gripper_link"}, Eigen::Matrix4d::Identity(),
                                               "file://" + (meshes / "box.stl").string(), 0.1, 0.0),
            0);
  const std::string out = capture.out();
  EXPECT_EQ(occurrences(out,
                        "link meshes that are open surfaces, not solids (an obstacle wholly inside one is not "
                        "seen): link1, link4, gripper_link, finger_link, finger_mimic_link\n"),
            1u)
      << out;
  EXPECT_EQ(occurrences(out, "attached mesh 'cup' is an open surface, not a solid"), 1u) << out;
  EXPECT_EQ(occurrences(out, "open surface"), 2u) << out;
}

// ---- closed meshes drawn in ways that hid their inside ----

namespace {

// Writes the mesh as an STL file into the directory; its URI.
std::string writtenStl(const TempDir& dir, const std::string& name, const TriangleMesh& mesh) {
  const std::filesystem::path path = dir.path() / name;
  writeFile(path, asciiStl(mesh));
  return "file://" + path.string();
}

// The occupied voxel of a tree of one point, at its own (snapped) centre.
Voxel onlyVoxel(const octomap::OcTree& tree) {
  const std::vector<Voxel> voxels = occupiedVoxels(tree);
  EXPECT_EQ(voxels.size(), 1u);
  return voxels.front();
}

// The voxel's centre lies inside the body, and the voxel meets none of its triangles.
void expectWhollyInside(const ArmBody& body, const Voxel& voxel) {
  EXPECT_GT(std::abs(SolidArmOracle::winding(body, voxel.centre)), kInsideWinding) << body.name;
  EXPECT_FALSE(SolidArmOracle::touches(body, voxel, false)) << body.name;
}

Eigen::Isometry3d translation(double x, double y, double z) {
  Eigen::Isometry3d pose = Eigen::Isometry3d::Identity();
  pose.translation() = Eigen::Vector3d(x, y, z);
  return pose;
}

// An octree of one voxel (4 mm unless given) at the point given in the body's own frame.
std::shared_ptr<const octomap::OcTree> voxelIn(const ArmBody& body, const Eigen::Vector3d& in_body,
                                               double resolution = 0.004) {
  const Eigen::Vector3d at = body.pose * in_body;
  return octreeWith({octomap::point3d(at.x(), at.y(), at.z())}, resolution);
}

// The planning road's and the simplify road's answers at the state, the octree the scene's world.
using RoadAnswers = std::array<bool, 2>;
constexpr RoadAnswers kRefusedOnBothRoads = {false, false};
constexpr RoadAnswers kAcceptedOnBothRoads = {true, true};

RoadAnswers roadAnswers(ManipulatorPlanScene& scene, Joints q, const std::shared_ptr<const octomap::OcTree>& tree) {
  EXPECT_EQ(quietly([&] { return scene.updateWorldOctomap(tree); }), 0);
  return {scene.isValid(q.data()), scene.isValidSimplify(q.data())};
}

}  // namespace

// A tool of two boxes, the smaller wound outward and the larger inward (as
// meshes built in parts come), 25 cm beyond the RM65's flange: a voxel inside
// either box is a collision, though the two are wound against each other.
TEST(SolidMeshes, AVoxelInsideEitherPartOfAToolWoundBothWaysIsACollision) {
  TempDir dir;
  const std::string tool = writtenStl(dir, "tool.stl",
                                      appended(boxMesh({-0.06, -0.02, -0.02}, {-0.02, 0.02, 0.02}),
                                               inverted(boxMesh({0.02, -0.03, -0.03}, {0.08, 0.03, 0.03}))));
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.25);
  auto scene = makeRm65(0.0);
  ASSERT_EQ(quietly([&] {
              return scene->addAttachedEndEffectorToLink("tool", "Link6", {"Link6"}, offset.matrix(), tool, 1.0, 0.0);
            }),
            0);
  Joints q = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  ASSERT_TRUE(scene->isValid(q.data())) << "the arm and its tool alone are clear";

  SolidArmOracle oracle(loadRm65Model(), "arm", 0.0);
  oracle.attachMesh("tool", "Link6", offset, tool);
  oracle.place(q);
  const ArmBody& body = oracle.bodies().back();
  // 18 mm deep in the smaller box, 25 mm deep in the larger.
  for (const Eigen::Vector3d& in_tool : {Eigen::Vector3d(-0.04, 0.0, 0.0), Eigen::Vector3d(0.05, 0.0, 0.0)}) {
    SCOPED_TRACE("in the tool's frame at " + std::to_string(in_tool.x()));
    const auto tree = voxelIn(body, in_tool);
    expectWhollyInside(body, onlyVoxel(*tree));
    EXPECT_EQ(roadAnswers(*scene, q, tree), kRefusedOnBothRoads);
  }
}

namespace {

// The RML63 with a link fixed to link6 that carries the mesh at `tool_uri`,
// its arm meshes read from the fixture: URDF and SRDF written into dir.
void writeRml63WithTool(const TempDir& dir, const std::string& tool_uri) {
  std::string urdf = fileText(fixturePath("realman/rm_description/urdf/rml_63.urdf"));
  const std::string package = "package://";
  for (size_t at = urdf.find(package); at != std::string::npos; at = urdf.find(package, at)) {
    urdf.replace(at, package.size(), "file://" + fixturePath("realman/"));
  }
  const std::string tool = R"(  <link name="tool_link">
    <collision><geometry><mesh filename=")" +
                           tool_uri + R"("/></geometry></collision>
  </link>
  <joint name="tool_joint" type="fixed">
    <parent link="link6"/>
    <child link="tool_link"/>
  </joint>
</robot>)";
  urdf.replace(urdf.rfind("</robot>"), std::string("</robot>").size(), tool);
  writeFile(dir.path() / "rml_63_tool.urdf", urdf);
  std::string srdf = fileText(fixturePath("realman/rml_63.srdf"));
  srdf.replace(srdf.rfind("</robot>"), std::string("</robot>").size(),
               R"(  <disable_collisions link1="link6" link2="tool_link" reason="Adjacent"/>
</robot>)");
  writeFile(dir.path() / "rml_63_tool.srdf", srdf);
}

}  // namespace

// A closed cylinder (radius 2 cm, from 2 to 15 cm beyond the RML63's flange)
// drawn the obvious way, its rim from angle 0 to 2 pi, so that the seam's
// vertices miss each other by the rounding of sin(2 pi): the tool link is a
// solid, not an open surface, and a 3 mm voxel at its centre is a collision
// on both roads at any padding.
TEST(SolidMeshes, AToolLinkWhoseSeamMissesByARoundingIsASolid) {
  TempDir dir;
  writeRml63WithTool(dir, writtenStl(dir, "cylinder.stl", prismMesh(circleRimWithSeam(0.02, 32), 0.02, 0.15)));
  std::shared_ptr<const moveit::core::RobotModel> model;
  {
    OutputCapture quiet;
    model = std::make_shared<moveit::core::RobotModel>(dir.path().string() + "/", "rml_63_tool.urdf",
                                                       "rml_63_tool.srdf", rml63MdhTable());
  }
  SolidArmOracle oracle(model, "arm", 0.0);
  Joints q = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  oracle.place(q);
  const auto tool = std::find_if(oracle.bodies().begin(), oracle.bodies().end(),
                                 [](const ArmBody& body) { return body.name == "tool_link"; });
  ASSERT_NE(tool, oracle.bodies().end());
  const Eigen::Vector3d at = tool->pose * Eigen::Vector3d(0.0, 0.0, 0.085);
  const auto tree = octreeWith({octomap::point3d(at.x(), at.y(), at.z())}, 0.003);
  expectWhollyInside(*tool, onlyVoxel(*tree));

  for (const double padding : {0.0, 0.02}) {
    SCOPED_TRACE("padding " + std::to_string(padding));
    OutputCapture capture;
    auto table = rml63MdhTable();
    ManipulatorPlanScene scene(dir.path().string() + "/", "rml_63_tool.urdf", "rml_63_tool.srdf", "arm", padding, 1.0,
                               "link6", table, sceneArmAccelerationLimits());
    const std::string built = capture.out();
    EXPECT_FALSE(contains(built, "open surface")) << built;
    ASSERT_TRUE(scene.isValid(q.data()) && scene.isValidSimplify(q.data())) << "the arm and its tool alone are clear";
    ASSERT_EQ(quietly([&] { return scene.updateWorldOctomap(tree); }), 0);
    EXPECT_FALSE(scene.isValid(q.data()));
    EXPECT_FALSE(scene.isValidSimplify(q.data()));
  }
}

namespace {

// Voxels of 4 mm, one at a time, at points in the body's own frame: refused
// on both roads where its triangles as written wind around them, accepted
// where they lie clear of every body.
void expectVoxelsAnswered(ManipulatorPlanScene& scene, const Joints& q, const SolidArmOracle& oracle,
                          const ArmBody& body, const std::vector<Eigen::Vector3d>& deep,
                          const std::vector<Eigen::Vector3d>& clear) {
  for (const auto& [points, expected] :
       {std::make_pair(deep, kRefusedOnBothRoads), std::make_pair(clear, kAcceptedOnBothRoads)}) {
    for (const Eigen::Vector3d& in_body : points) {
      SCOPED_TRACE(body.name + " at (" + std::to_string(in_body.x()) + ", " + std::to_string(in_body.y()) + ", " +
                   std::to_string(in_body.z()) + ")");
      const auto tree = voxelIn(body, in_body);
      const Voxel voxel = onlyVoxel(*tree);
      if (expected == kRefusedOnBothRoads) {
        expectWhollyInside(body, voxel);
      } else {
        EXPECT_TRUE(oracle.clearOfEveryBody(voxel));
      }
      EXPECT_EQ(roadAnswers(scene, q, tree), expected);
    }
  }
}

// A 100 x 60 x 40 mm box, each face a grid of its own, as a soup of triangles.
TriangleMesh gridFacedBoxSoup(const Eigen::Vector3d& low, const Eigen::Vector3d& high) {
  return soupOf(perFaceBox(low, high, 0.0, {{{1, 3}, {2, 5}, {1, 3}, {3, 5}, {5, 5}, {3, 4}}}),
                [](const Eigen::Vector3d& p, size_t, size_t) { return p; });
}

}  // namespace

// Tools whose mending once emptied them, though their triangles as written
// wind about 1 inside: a box with T-junctions along every edge and one with a
// fin on every edge, 25 cm beyond the RM65's flange.
TEST(SolidMeshes, AVoxelInsideAToolWithTJunctionsOrFinsOnItsEdgesIsACollision) {
  const Eigen::Vector3d low(-0.05, -0.03, -0.02), high(0.05, 0.03, 0.02);
  TempDir dir;
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.25);
  Joints q = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  for (const auto& [name, mesh] : {std::make_pair("grid_faced", gridFacedBoxSoup(low, high)),
                                   std::make_pair("finned", boxWithEdgeFins(low, high, 0.015))}) {
    const std::string tool = writtenStl(dir, std::string(name) + ".stl", mesh);
    auto scene = makeRm65(0.0);
    ASSERT_EQ(quietly([&] {
                return scene->addAttachedEndEffectorToLink("tool", "Link6", {"Link6"}, offset.matrix(), tool, 1.0, 0.0);
              }),
              0);
    ASSERT_TRUE(scene->isValid(q.data())) << "the arm and its tool alone are clear";
    SolidArmOracle oracle(loadRm65Model(), "arm", 0.0);
    oracle.attachMesh("tool", "Link6", offset, tool);
    oracle.place(q);
    // 6 to 20 mm deep; 3 cm beyond the box's top and its end.
    expectVoxelsAnswered(*scene, q, oracle, oracle.bodies().back(),
                         {{0.0, 0.0, 0.0}, {0.035, 0.015, 0.008}, {-0.04, -0.02, -0.01}, {0.044, 0.0, 0.0}},
                         {{0.0, 0.0, 0.05}, {0.08, 0.0, 0.0}});
  }
}

// A link 4 x 6 x 10 cm on the RML63's flange written face by face, its cracks
// twice as wide as the joining reach: solid where its triangles wind about 1.
TEST(SolidMeshes, AToolLinkWrittenFaceByFaceWithCracksIsASolid) {
  TempDir dir;
  writeRml63WithTool(dir,
                     writtenStl(dir, "cracked.stl", perFaceBox({-0.02, -0.03, 0.03}, {0.02, 0.03, 0.13}, 2e-4, 2)));
  OutputCapture capture;
  auto table = rml63MdhTable();
  ManipulatorPlanScene scene(dir.path().string() + "/", "rml_63_tool.urdf", "rml_63_tool.srdf", "arm", 0.0, 1.0,
                             "link6", table, sceneArmAccelerationLimits());
  Joints q = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  ASSERT_TRUE(scene.isValid(q.data()) && scene.isValidSimplify(q.data())) << "the arm and its tool alone are clear";
  SolidArmOracle oracle(std::make_shared<moveit::core::RobotModel>(dir.path().string() + "/", "rml_63_tool.urdf",
                                                                   "rml_63_tool.srdf", rml63MdhTable()),
                        "arm", 0.0);
  oracle.place(q);
  const auto tool = std::find_if(oracle.bodies().begin(), oracle.bodies().end(),
                                 [](const ArmBody& body) { return body.name == "tool_link"; });
  ASSERT_NE(tool, oracle.bodies().end());
  expectVoxelsAnswered(scene, q, oracle, *tool, {{0.0, 0.0, 0.08}, {0.01, 0.015, 0.045}, {-0.008, -0.02, 0.12}},
                       {{0.0, 0.0, 0.16}});
}

// Tools as exporters write them, read as their files place them: a Collada
// box in millimetres and a GLB whose node shifts the box 3 cm. The oracle
// takes the box as meant from an STL in metres: a voxel deep in it is a
// collision, voxels where the file read unscaled or unshifted would put the
// box are free.
TEST(SolidMeshes, ToolsFromColladaInMillimetresAndAGlbWithANodeMatrixSitWhereTheirFilesPutThem) {
  TempDir dir;
  const std::string dae = (dir.path() / "millimetres.dae").string();
  writeFile(dae, daeWith([](Dae& d) {
              d.unit = "0.001";
              d.file_units_per_metre = 1000.0;
            }));
  const std::string glb = (dir.path() / "shifted.glb").string();
  writeFile(glb, glbFile(gltfBoxShifted(0.03), boxBuffer()));
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.25);
  Joints q = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};
  for (const auto& [file, shift] : {std::make_pair(dae, 0.0), std::make_pair(glb, 0.03)}) {
    SCOPED_TRACE(file);
    auto scene = makeRm65(0.0);
    ASSERT_EQ(quietly([&, &file = file] {
                return scene->addAttachedEndEffectorToLink("tool", "Link6", {"Link6"}, offset.matrix(),
                                                           "file://" + file, 1.0, 0.0);
              }),
              0);
    ASSERT_TRUE(scene->isValid(q.data())) << "the arm and its tool alone are clear";
    SolidArmOracle oracle(loadRm65Model(), "arm", 0.0);
    const Eigen::Vector3d low(-0.02, shift - 0.02, -0.05), high(0.02, shift + 0.02, 0.05);
    oracle.attachMesh("tool", "Link6", offset, writtenStl(dir, "meant.stl", perFaceBox(low, high, 0.0, 1)));
    oracle.place(q);
    expectVoxelsAnswered(*scene, q, oracle, oracle.bodies().back(), {{0.0, shift, 0.0}, {0.008, shift + 0.008, 0.035}},
                         {{0.0, shift - 0.045, 0.0}, {0.0, shift, 0.09}});
  }
}

// ---- meshes written at another scale than the metre ----

namespace {

// A tool file and the scale it is attached at.
struct ScaledFile {
  std::string uri;
  double scale;
};

// The mesh (drawn in metres) written in metres, in millimetres and at half
// its size, each with the scale that makes it the mesh in metres again.
std::vector<ScaledFile> writtenAtScales(const TempDir& dir, const TriangleMesh& mesh) {
  std::vector<ScaledFile> files;
  for (const double scale : {1.0, 0.001, 2.0}) {
    TriangleMesh written = mesh;
    for (Eigen::Vector3d& point : written.points) point /= scale;
    files.push_back({writtenStl(dir, "tool_at_" + std::to_string(scale) + ".stl", written), scale});
  }
  return files;
}

int attachToFlange(ManipulatorPlanScene& scene, const ScaledFile& file, double padding, const Eigen::Isometry3d& offset,
                   const std::string& flange = "Link6") {
  return quietly([&] {
    return scene.addAttachedEndEffectorToLink("tool", flange, {flange}, offset.matrix(), file.uri, file.scale, padding);
  });
}

// The state the tools beyond the arms' flanges are checked at.
const Joints kToolState = {0.0, 0.3, 0.8, 0.0, 0.5, 0.0};

// The arm at the padding with the file attached beyond its flange, the arm
// and its tool alone clear at kToolState.
std::unique_ptr<ManipulatorPlanScene> armWithTool(const ScaledFile& file, double padding,
                                                  const Eigen::Isometry3d& offset, const Arm& arm = arms().front()) {
  auto scene = arm.make(padding);
  EXPECT_EQ(attachToFlange(*scene, file, padding, offset, arm.last_link), 0);
  Joints q = kToolState;
  EXPECT_TRUE(scene->isValid(q.data()) && scene->isValidSimplify(q.data())) << "the arm and its tool alone are clear";
  return scene;
}

// The oracle of the arm at the padding with the file attached unpadded
// beyond its flange (its last body), placed at kToolState.
SolidArmOracle armOracleWithTool(const std::string& uri, const Eigen::Isometry3d& offset, double padding = 0.0,
                                 const Arm& arm = arms().front()) {
  SolidArmOracle oracle(arm.model(), "arm", padding);
  oracle.attachMesh("tool", arm.last_link, offset, uri);
  oracle.place(kToolState);
  return oracle;
}

// At kToolState, a voxel of `resolution` at (0, 0, 0.04) in the frame of the
// tool (standing from z = 0 to 0.08, its side `half_width` off the z axis)
// lies wholly inside it and is a collision on both roads; voxels holding
// points 6 mm beyond its top and its side are clear of every body and are not.
void expectASolidTool(ManipulatorPlanScene& scene, const SolidArmOracle& oracle, double half_width, double resolution) {
  const ArmBody& body = oracle.bodies().back();
  const auto centre = voxelIn(body, {0.0, 0.0, 0.04}, resolution);
  expectWhollyInside(body, onlyVoxel(*centre));
  EXPECT_EQ(roadAnswers(scene, kToolState, centre), kRefusedOnBothRoads);
  for (const Eigen::Vector3d& beyond :
       {Eigen::Vector3d(0.0, 0.0, 0.086), Eigen::Vector3d(half_width + 0.006, 0.0, 0.07)}) {
    SCOPED_TRACE("in the tool's frame at " + std::to_string(beyond.x()) + ", " + std::to_string(beyond.z()));
    const auto outside = voxelIn(body, beyond, resolution);
    EXPECT_TRUE(oracle.clearOfEveryBody(onlyVoxel(*outside)));
    EXPECT_EQ(roadAnswers(scene, kToolState, outside), kAcceptedOnBothRoads);
  }
}

}  // namespace

// An 80 x 60 x 100 mm box standing 3 cm beyond the RM65's flange, written in
// millimetres (or at half its size) and attached at the scale that makes it
// the box in metres, is that box: a voxel at its centre, 30 mm deep, is a
// collision on both roads at any padding, and voxels near its faces answer as
// they do for the box written in metres.
TEST(SolidMeshes, AToolWrittenAtAnotherScaleAnswersAsTheToolInMetres) {
  TempDir dir;
  const std::vector<ScaledFile> files = writtenAtScales(dir, boxMesh({-0.04, -0.03, 0.0}, {0.04, 0.03, 0.1}));
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.03);
  const SolidArmOracle oracle = armOracleWithTool(files.front().uri, offset);
  const ArmBody& body = oracle.bodies().back();
  const auto centre = voxelIn(body, {0.0, 0.0, 0.05});
  expectWhollyInside(body, onlyVoxel(*centre));
  // Just inside a side and the top, just outside them, on the side's copy
  // padded by 2 cm, and 3 cm beyond the top.
  const std::vector<Eigen::Vector3d> near_faces = {{0.035, 0.0, 0.05}, {0.0, 0.0, 0.095},  {0.046, 0.0, 0.05},
                                                   {0.0, 0.0, 0.106},  {0.052, 0.0, 0.05}, {0.0, 0.0, 0.13}};
  for (const double padding : {0.0, 0.02}) {
    std::vector<std::vector<bool>> answers;
    for (const ScaledFile& file : files) {
      SCOPED_TRACE("padding " + std::to_string(padding) + ", scale " + std::to_string(file.scale));
      auto scene = armWithTool(file, padding, offset);
      EXPECT_EQ(roadAnswers(*scene, kToolState, centre), kRefusedOnBothRoads);
      std::vector<bool>& each = answers.emplace_back();
      for (const Eigen::Vector3d& in_tool : near_faces) {
        const RoadAnswers both = roadAnswers(*scene, kToolState, voxelIn(body, in_tool));
        each.insert(each.end(), both.begin(), both.end());
      }
    }
    ASSERT_EQ(answers.size(), files.size());
    const std::vector<bool>& in_metres = answers.front();
    EXPECT_GE(std::count(in_metres.begin(), in_metres.end(), false), 4) << "padding " << padding;
    EXPECT_GE(std::count(in_metres.begin(), in_metres.end(), true), 4) << "padding " << padding;
    for (const std::vector<bool>& each : answers) EXPECT_EQ(each, in_metres) << "padding " << padding;
  }
}

// Tools as exporters write them, read through the STL loader 3 cm beyond the
// RM65's flange: a box of 8 cm with a T-junction on one edge and a gridded
// top, and a fan-capped cylinder (radius 3 cm, 8 cm long) as float soups,
// each triangle with corners of its own a float rounding or two from its
// neighbours'. Each is a solid: a 4 mm voxel at its centre is a collision on
// both roads, and voxels just beyond its top and its side are not.
TEST(SolidMeshes, ExportedToolsAreSolidsOnBothRoads) {
  TempDir dir;
  TriangleMesh junctions = boxWithTJunctions(4);
  for (Eigen::Vector3d& p : junctions.points) p = 0.08 * (p - Eigen::Vector3d(0.5, 0.5, 0.0));
  std::mt19937_64 engine(89);
  struct Tool {
    std::string name;
    TriangleMesh mesh;
    double half_width;  // along x, the top lying at z = 0.08
  };
  std::vector<Tool> tools = {{"t_junctions", junctions, 0.04}};
  // Soups differ in where their cracks run; a few of them make a path through one likely.
  const TriangleMesh cylinder = prismMesh(circleRimWithSeam(0.03, 128), 0.0, 0.08);
  for (int soup = 1; soup <= 3; ++soup) {
    tools.push_back({"float_soup_" + std::to_string(soup), floatSoup(cylinder, engine), 0.03});
  }
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.03);
  for (const auto& [name, mesh, half_width] : tools) {
    SCOPED_TRACE(name);
    const ScaledFile file{writtenStl(dir, name + ".stl", mesh), 1.0};
    // The links padded as the simplify road pads them, which holds the planning road's unpadded links.
    const SolidArmOracle oracle = armOracleWithTool(file.uri, offset, kSimplifyPadding);
    auto scene = armWithTool(file, 0.0, offset);
    expectASolidTool(*scene, oracle, half_width, 0.004);
  }
}

// Tools with the flaws the inside now forgives, 3 cm beyond the flange of
// each published arm: a 6 x 6 x 8 cm box written face by face with cracks of
// 10 um between its faces, the box of 12 triangles with one flipped, and the
// box with a curved sheet of one side inside, 5 mm over its centre. Each is
// a solid: a 1 mm voxel at its centre is a collision on both roads, voxels
// 6 mm beyond its top and its side are not.
TEST(SolidMeshes, ToolsWithCracksAFlippedTriangleOrASheetInsideAreSolidsOnBothArms) {
  TempDir dir;
  const Eigen::Vector3d low(-0.03, -0.03, 0.0), high(0.03, 0.03, 0.08);
  TriangleMesh flipped = boxMesh(low, high);
  std::swap(flipped.triangles[5][1], flipped.triangles[5][2]);
  const std::vector<std::pair<std::string, TriangleMesh>> tools = {
      {"cracked", perFaceBox(low, high, 1e-5, 2)},
      {"flipped", flipped},
      {"sheet", appended(boxMesh(low, high), halfCylinderSheet({0.0, 0.0, 0.035}, 0.01, 0.04))},
  };
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.03);
  for (const Arm& arm : arms()) {
    for (const auto& [name, mesh] : tools) {
      SCOPED_TRACE(arm.last_link + " of " + arm.model()->getName() + ", " + name);
      const ScaledFile file{writtenStl(dir, name + ".stl", mesh), 1.0};
      const SolidArmOracle oracle = armOracleWithTool(file.uri, offset, kSimplifyPadding, arm);
      auto scene = armWithTool(file, 0.0, offset, arm);
      expectASolidTool(*scene, oracle, 0.03, 0.001);
    }
  }
}

// A 3 m room written as one mesh (5 cm walls, the inner shell wound
// inwards) in the world around the RM65 at home: its inside is hollow and the
// arm free in it, until the room is lowered so that its ceiling cuts through Link4.
TEST(SolidMeshes, TheRm65InAHollowRoomIsFreeUntilAWallCutsALink) {
  const auto model = loadRm65Model();
  moveit::core::RobotState home(model);
  home.setToDefaultValues();
  home.update();
  auto world = std::make_shared<collision_detection::World>();
  const collision_detection::CollisionWorldFCL checker(world);
  const collision_detection::CollisionRobotFCL robot(model);
  const shapes::ShapeConstPtr room =
      meshShape(roomMesh(Eigen::Vector3d::Constant(-1.5), Eigen::Vector3d::Constant(1.5), 0.05));
  const auto collides = [&](const Eigen::Isometry3d& pose) {
    world->clearObjects();
    EXPECT_TRUE(quietly([&] { return world->addToObject("room", room, pose); }));
    collision_detection::CollisionResult result;
    checker.checkRobotCollision(collision_detection::CollisionRequest(), result, robot, home);
    return result.collision;
  };
  EXPECT_FALSE(collides(Eigen::Isometry3d::Identity()));
  const double link4 = home.getGlobalLinkTransform(model->getLinkModel("Link4")).translation().z();
  ASSERT_GT(link4, 0.2);
  EXPECT_TRUE(collides(translation(0.0, 0.0, link4 - 1.475)));
}

// A lance of 1.8 m on the RM65's flange written in millimetres (or at half
// its size) and attached at the scale that makes it the lance in metres
// sweeps as that lance: every motion is cut into as many states, and checked
// and interpolated alike, where the sizes as written would have made the
// motions too long to test.
TEST(SolidMeshes, ALanceWrittenAtAnotherScaleSweepsAsTheLanceInMetres) {
  TempDir dir;
  const std::vector<ScaledFile> files = writtenAtScales(dir, boxMesh({-0.01, -0.01, 0.0}, {0.01, 0.01, 1.8}));
  const Eigen::Isometry3d offset = translation(0.0, 0.0, 0.03);
  std::vector<std::vector<unsigned int>> counts;
  std::vector<std::vector<bool>> checks;
  std::vector<std::vector<Joints>> interpolated;
  for (const ScaledFile& file : files) {
    SCOPED_TRACE("scale " + std::to_string(file.scale));
    auto scene = makeRm65(0.0);
    ASSERT_EQ(attachToFlange(*scene, file, 0.0, offset), 0);
    const Bounds bounds = boundsOf(*scene);
    Joints low, high;
    for (const auto& [min, max] : bounds) low.push_back(min), high.push_back(max);
    Joints bent_back = {0.0, -1.0, 0.0, 0.0, 0.0, 0.0};
    Joints bent_forth = {0.0, 1.0, 0.0, 0.0, 0.0, 0.0};
    const std::vector<std::pair<Joints*, Joints*>> motions = {{&low, &high}, {&bent_back, &bent_forth}};
    std::vector<unsigned int>& count = counts.emplace_back();
    std::vector<bool>& check = checks.emplace_back();
    for (const auto& [from, to] : motions) {
      count.push_back(scene->validSegmentCount(from->data(), to->data()));
      check.push_back(scene->checkMotion(from->data(), to->data()));
      check.push_back(scene->checkMotionSimplify(from->data(), to->data()));
    }
    interpolated.push_back(quietly([&] { return scene->interpolate(bent_back.data(), bent_forth.data()); }));
  }
  ASSERT_EQ(counts.size(), files.size());
  EXPECT_GT(counts.front()[0], counts.front()[1]);
  EXPECT_GT(counts.front()[1], 0u);
  EXPECT_FALSE(interpolated.front().empty());
  for (size_t i = 1; i < files.size(); ++i) {
    SCOPED_TRACE("scale " + std::to_string(files[i].scale));
    EXPECT_EQ(counts[i], counts.front());
    EXPECT_EQ(checks[i], checks.front());
    EXPECT_EQ(interpolated[i], interpolated.front());
  }
}

// ---- an independent oracle over seeded states among small clusters ----

namespace {

struct OracleCount {
  int states = 0;
  int accepted = 0;
  int with_centre_inside = 0;     // states with a voxel centre decidedly inside an unpadded mesh
  int clear = 0;                  // states whose voxels keep clear of every mesh and padded copy
  int accepted_inside = 0;        // accepted states of the former kind: wrong
  int refused_clear = 0;          // refused states of the latter kind: wrong
  std::set<std::string> holders;  // bodies that held a voxel centre at some state
  std::string examples;           // the first few wrong answers

  std::string summary() const {
    std::ostringstream text;
    text << states << " states, " << accepted << " accepted, " << with_centre_inside << " with a voxel centre inside, "
         << clear << " clear" << examples;
    return text.str();
  }
};

// One road's verdict on one state against the oracle with that road's padding.
void judge(bool accepted, const std::vector<Voxel>& voxels, const SolidArmOracle& oracle, const std::string& where,
           OracleCount& count) {
  ++count.states;
  count.accepted += accepted;
  std::ostringstream wrong;
  bool inside = false;
  for (const Voxel& voxel : voxels) {
    const ArmBody* holder = nullptr;
    const double winding = oracle.deepestWinding(voxel.centre, &holder);
    if (winding <= kInsideWinding) continue;  // outside, or undecided near an open edge
    count.holders.insert(holder->name);
    if (!inside && accepted) {
      wrong << "\n  " << where << ": accepted, though the voxel centre (" << voxel.centre.transpose() << ") of side "
            << voxel.side << " lies inside " << holder->name << " (winding number " << winding << ")";
    }
    inside = true;
  }
  count.with_centre_inside += inside;
  count.accepted_inside += inside && accepted;
  const bool clear =
      std::all_of(voxels.begin(), voxels.end(), [&](const Voxel& voxel) { return oracle.clearOfEveryBody(voxel); });
  count.clear += clear;
  count.refused_clear += clear && !accepted;
  if (clear && !accepted) wrong << "\n  " << where << ": refused, though every voxel keeps clear of every mesh";
  if (count.accepted_inside + count.refused_clear <= 5) count.examples += wrong.str();
}

}  // namespace

// At states the arm alone passes, among one to three clusters of 3 or 5 mm
// voxels placed around its bodies: a state accepted by either road holds no
// voxel centre inside an unpadded link mesh or attached mesh; a state whose
// voxels all keep clear of every mesh and of its padded copy is accepted.
TEST(SolidMeshOracle, StatesAmongClustersAnswerAsTheMeshesSolidsSay) {
  struct Case {
    std::string name;
    double padding;
    bool tool;
  };
  const std::vector<Case> cases = {
      {"padding 0", 0.0, false},
      {"padding 0.02", 0.02, false},
      {"padding 0 with a mesh tool", 0.0, true},
      {"padding 0.02 with a mesh tool", 0.02, true},
  };
  constexpr int kStatesPerCase = 160;
  const auto model = loadRm65Model();
  const auto empty = octreeWith({}, 0.005);
  for (const Case& each : cases) {
    auto scene = makeRm65(each.padding);
    SolidArmOracle planning(model, "arm", each.padding);
    SolidArmOracle simplify(model, "arm", kSimplifyPadding);
    if (each.tool) {
      attachTool(*scene);
      attachTool(planning);
      attachTool(simplify);
    }
    const Bounds bounds = boundsOf(*scene);
    SeededJoints draw(7700 + (&each - cases.data()));
    OracleCount planning_count, simplify_count;
    for (int state = 0; state < kStatesPerCase; ++state) {
      Joints q = draw.within(bounds);
      quietly([&] { return scene->updateWorldOctomap(empty); });
      if (!scene->isValid(q.data()) || !scene->isValidSimplify(q.data())) continue;  // in collision with itself
      planning.place(q);
      simplify.place(q);
      const double resolution = state % 2 ? 0.005 : 0.003;
      const auto tree = octreeWith(clustersAroundArm(planning, 1 + pick(draw, 3), resolution, draw, 0.6), resolution);
      quietly([&] { return scene->updateWorldOctomap(tree); });
      const std::vector<Voxel> voxels = occupiedVoxels(*tree);
      const std::string where = each.name + ", state " + std::to_string(state);
      judge(scene->isValid(q.data()), voxels, planning, where + " (planning road)", planning_count);
      judge(scene->isValidSimplify(q.data()), voxels, simplify, where + " (simplify road)", simplify_count);
    }
    for (const OracleCount& count : {planning_count, simplify_count}) {
      EXPECT_EQ(count.accepted_inside, 0) << each.name << ": " << count.summary();
      EXPECT_EQ(count.refused_clear, 0) << each.name << ": " << count.summary();
      // Enough of each kind of state for the claims to mean something.
      EXPECT_GE(count.states, kStatesPerCase / 2) << each.name << ": " << count.summary();
      EXPECT_GE(count.with_centre_inside, count.states / 5) << each.name << ": " << count.summary();
      EXPECT_GE(count.clear, 5) << each.name << ": " << count.summary();
      EXPECT_GE(count.accepted, 5) << each.name << ": " << count.summary();
      for (const ArmBody& body : planning.bodies()) EXPECT_EQ(count.holders.count(body.name), 1u) << body.name;
    }
  }
}

// ---- answers recorded from an earlier build ----

namespace {

const std::string kAnswersFile = "realman/cluster_answers.txt";
constexpr int kStates = 300;
constexpr int kMotions = 100;
// Differing answers explained by the oracle per set; sampling a motion is slow.
constexpr size_t kExplainedPerSet = 5;

// Clusters placed around the arm (and the tool, attached or not) at seeded
// states, as a workcell of small parts might hold them; none around the
// first two links, which would stand in the way of most states, nor where the
// base and the first link stand at every state.
struct Workcell {
  std::shared_ptr<const octomap::OcTree> tree;
  std::vector<Joints> placements;
};

Workcell clusterWorkcell(SolidArmOracle& oracle, const Bounds& bounds, std::uint64_t seed, double resolution,
                         int placements) {
  SeededJoints draw(seed);
  Workcell cell;
  std::vector<octomap::point3d> points;
  while (static_cast<int>(cell.placements.size()) < placements) {
    const Joints q = draw.within(bounds);
    oracle.place(q);
    const auto cluster = clustersAroundArm(oracle, 1, resolution, draw, 0.0, 2);
    const octomap::point3d& first = cluster.front();
    if (std::hypot(first.x(), first.y()) < 0.1 && first.z() < 0.32) continue;
    cell.placements.push_back(q);
    points.insert(points.end(), cluster.begin(), cluster.end());
  }
  cell.tree = octreeWith(points, resolution);
  return cell;
}

struct Inputs {
  Workcell coarse;  // 5 mm voxels
  Workcell fine;    // 3 mm voxels
  std::vector<Joints> states;
  std::vector<std::pair<Joints, Joints>> motions;
};

// A quarter of the states are those the clusters were placed at, the others
// drawn anew; short motions pass near a placement.
Inputs makeInputs(const Arm& arm) {
  auto scene = arm.make(0.0);
  const Bounds bounds = boundsOf(*scene);
  SolidArmOracle oracle(arm.model(), "arm", 0.0);
  attachTool(oracle, arm.last_link);
  Inputs in;
  in.coarse = clusterWorkcell(oracle, bounds, 5005, 0.005, 24);
  in.fine = clusterWorkcell(oracle, bounds, 3003, 0.003, 32);
  SeededJoints draw(20261208);
  for (int i = 0; i < kStates; ++i) {
    const auto& placed = i % 8 == 0 ? in.coarse.placements : in.fine.placements;
    in.states.push_back(i % 4 == 0 ? placed[(i / 8) % placed.size()] : draw.within(bounds));
  }
  for (int i = 0; i < kMotions; ++i) {
    const auto& placed = i % 2 == 0 ? in.coarse.placements : in.fine.placements;
    const Joints& around = placed[(i / 2) % placed.size()];
    const Joints from = draw.near(around, bounds, 0.1);
    in.motions.emplace_back(from, draw.near(around, bounds, 0.1));
  }
  return in;
}

const Inputs& inputs(const Arm& arm) {
  static std::map<const Arm*, Inputs> made;
  auto found = made.find(&arm);
  if (found == made.end()) found = made.emplace(&arm, makeInputs(arm)).first;
  return found->second;
}

// What the scene holds in a configuration.
struct Setting {
  const Arm* arm;
  double padding;
  std::shared_ptr<const octomap::OcTree> tree;
  bool tool;
};

struct Configuration {
  std::string name;
  Setting setting;
};

// Taken in this order by one scene per arm and padding, each changing its
// world and its tool from where the configuration before left it.
std::vector<Configuration> configurations() {
  std::vector<Configuration> all;
  for (const Arm& arm : arms()) {
    const auto& coarse = inputs(arm).coarse.tree;
    const auto& fine = inputs(arm).fine.tree;
    const std::vector<Configuration> own = {
        {"coarse", {&arm, 0.0, coarse, false}},     {"coarse+padded", {&arm, 0.02, coarse, false}},
        {"fine+padded", {&arm, 0.02, fine, false}}, {"fine+tool+padded", {&arm, 0.02, fine, true}},
        {"fine+tool", {&arm, 0.0, fine, true}},
    };
    for (const Configuration& each : own) all.push_back({arm.prefix + each.name, each.setting});
  }
  return all;
}

const Setting& settingOf(const std::string& configuration) {
  static const std::map<std::string, Setting> settings = [] {
    std::map<std::string, Setting> by_name;
    for (const Configuration& each : configurations()) by_name.emplace(each.name, each.setting);
    return by_name;
  }();
  return settings.at(configuration);
}

std::string setName(const std::string& configuration, bool motions, bool simplify) {
  return configuration + (motions ? " motions" : " states") + (simplify ? " simplify" : " planning");
}

const AnswerSets& today() {
  static const AnswerSets answers = [] {
    AnswerSets sets;
    struct Held {
      std::unique_ptr<ManipulatorPlanScene> scene;
      Setting setting;
    };
    std::map<std::pair<const Arm*, double>, Held> scenes;
    for (const Configuration& configuration : configurations()) {
      const Setting& wanted = configuration.setting;
      const Arm& arm = *wanted.arm;
      Held& held = scenes[{&arm, wanted.padding}];
      if (!held.scene) held = {arm.make(wanted.padding), {&arm, wanted.padding, nullptr, false}};
      ManipulatorPlanScene& scene = *held.scene;
      if (held.setting.tree != wanted.tree) {
        EXPECT_EQ(quietly([&] { return scene.updateWorldOctomap(wanted.tree); }), 0);
      }
      if (held.setting.tool != wanted.tool) {
        if (wanted.tool) {
          attachTool(scene, arm.last_link);
        } else {
          scene.removeAttachedCollisionObjectFromLink("tool");
        }
      }
      held.setting = wanted;
      for (const bool simplify : {false, true}) {
        Answers& states = sets[setName(configuration.name, false, simplify)];
        for (Joints q : inputs(arm).states) {
          states.push_back(simplify ? scene.isValidSimplify(q.data()) : scene.isValid(q.data()));
        }
        Answers& motions = sets[setName(configuration.name, true, simplify)];
        for (auto [from, to] : inputs(arm).motions) {
          motions.push_back(simplify ? scene.checkMotionSimplify(from.data(), to.data())
                                     : scene.checkMotion(from.data(), to.data()));
        }
      }
    }
    return sets;
  }();
  return answers;
}

void writeAnswers(const AnswerSets& sets) {
  writeAnswerSets(fixturePath(kAnswersFile),
                  "Answers of the RM65's and the RML63's checks among voxel clusters (1 = valid); see\n"
                  "test/plan_scene/scene_solid_meshes_test.cpp.",
                  sets);
}

AnswerSets recordedAnswers() { return readAnswerSets(fixturePath(kAnswersFile)); }

// What the oracle says of the voxels about the arm at one or more states.
struct OracleView {
  double deepest = 0.0;  // the largest winding number of a voxel centre in an unpadded mesh
  std::string holder;    // the body of that mesh
  bool clear = true;     // every voxel kept clear of every mesh and padded copy

  void look(const SolidArmOracle& oracle, const std::vector<Voxel>& voxels) {
    for (const Voxel& voxel : voxels) {
      const ArmBody* body = nullptr;
      const double winding = oracle.deepestWinding(voxel.centre, &body);
      if (winding > deepest) deepest = winding, holder = body->name;
      clear = clear && oracle.clearOfEveryBody(voxel);
    }
  }

  std::string text() const {
    std::ostringstream out;
    out << "deepest voxel centre winding " << deepest << (deepest < kOutsideWinding ? "" : " in " + holder)
        << ", voxels " << (clear ? "clear of" : "touching or inside") << " the meshes and their padded copies";
    return out.str();
  }
};

// The oracle's view over the straight motion, sampled so closely that no
// vertex moves more than 0.5 mm from one sample to the next, and at no fewer
// than 400 samples.
OracleView viewAlongMotion(SolidArmOracle& oracle, const std::vector<Voxel>& voxels, const Joints& from,
                           const Joints& to) {
  oracle.place(from);
  // A vertex lies within 2 * reach of any joint axis (reach: the furthest
  // vertex from the base at the start; the joints lie within it too, and over
  // a short motion the arm hardly stretches), so a joint's turn moves it by
  // at most that times the angle.
  double reach = 0.0;
  for (const Eigen::Vector3d& vertex : oracle.placedVertices()) reach = std::max(reach, vertex.norm());
  double turn = 0.0;
  for (size_t j = 0; j < from.size(); ++j) turn += std::abs(to[j] - from[j]);
  const int samples = std::max(400, static_cast<int>(std::ceil(turn * 2.0 * reach / 0.0005)));
  OracleView view;
  for (int k = 0; k <= samples; ++k) {
    oracle.place(lerp(from, to, static_cast<double>(k) / samples));
    view.look(oracle, voxels);
  }
  return view;
}

// The first differing answers of a set, each with the oracle's view at the
// road's padding (at the state, or over the motion).
std::string explainDifferences(const std::string& name, const Answers& now, const std::vector<size_t>& differing) {
  const Setting& setting = settingOf(name.substr(0, name.find(' ')));
  SolidArmOracle oracle(setting.arm->model(), "arm", contains(name, " simplify") ? kSimplifyPadding : setting.padding);
  if (setting.tool) attachTool(oracle, setting.arm->last_link);
  const std::vector<Voxel> voxels = occupiedVoxels(*setting.tree);
  const Inputs& in = inputs(*setting.arm);
  std::ostringstream out;
  for (size_t k = 0; k < std::min(differing.size(), kExplainedPerSet); ++k) {
    const size_t i = differing[k];
    OracleView view;
    if (contains(name, " motions ")) {
      view = viewAlongMotion(oracle, voxels, in.motions[i].first, in.motions[i].second);
    } else {
      oracle.place(in.states[i]);
      view.look(oracle, voxels);
    }
    out << "\n  " << name << ' ' << i << ": now " << (now[i] ? "valid" : "invalid") << "; oracle: " << view.text();
  }
  return out.str();
}

}  // namespace

// Every answer is the recorded one. A difference lists the inputs that
// differ, with what the oracle says of them, so that it can be explained
// before the file is recorded anew.
TEST(ClusterAnswers, StatesAndMotionsAnswerAsRecorded) {
  if (std::getenv("BRAMLOCK_RECORD_CLUSTER_ANSWERS")) {
    writeAnswers(today());
    GTEST_SKIP() << "recorded " << fixturePath(kAnswersFile);
  }
  const AnswerSets recorded = recordedAnswers();
  ASSERT_EQ(recorded.size(), today().size());
  for (const auto& [name, answers] : recorded) {
    const auto found = today().find(name);
    ASSERT_NE(found, today().end()) << name;
    ASSERT_EQ(found->second.size(), answers.size()) << name;
    std::vector<size_t> differing;
    for (size_t i = 0; i < answers.size(); ++i) {
      if (found->second[i] != answers[i]) differing.push_back(i);
    }
    EXPECT_TRUE(differing.empty()) << name << ": " << differing.size() << " answers differ from the record"
                                   << explainDifferences(name, found->second, differing);
  }
}

// Both answers are common in every recorded set, so a check that answered
// one way throughout would stand out.
TEST(ClusterAnswers, RecordedSetsHoldBothAnswers) {
  const AnswerSets recorded = recordedAnswers();
  EXPECT_EQ(recorded.size(), configurations().size() * 4);
  for (const auto& [name, answers] : recorded) {
    EXPECT_GE(std::count(answers.begin(), answers.end(), false), 5) << name;
    EXPECT_GE(std::count(answers.begin(), answers.end(), true), 5) << name;
  }
}
