// Files that crashed, hung or exhausted the host through the general loader,
// each attached (then a state checked) and as a link mesh, in a child
// process so that a crash fails its case instead of ending the suite: each
// is loaded as written or refused, with the file and the fault named. And a
// mesh without triangles handed over as a shape is refused, not taken.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include <geometric_shapes/shapes.h>

#include "bramlock_arm_planning_core/collision_detection/world.h"
#include "bramlock_arm_planning_core/robot_model/exceptions.h"
#include "bramlock_arm_planning_core/robot_state/attached_body.h"
#include "mesh_file_texts.h"
#include "realman_copy.h"
#include "scene_arm.h"
#include "scene_file_texts.h"
#include "test_support.h"

namespace {

using namespace bramlock_test;

struct Family {
  std::string name;
  std::string file_name;
  std::string content;
  std::string fault;  // empty for a file that loads
};

std::string replacedOnce(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// A Collada box's faces as one <triangles> list of the given indices.
std::string colladaTriangles(const std::string& indices) {
  return "<triangles count=\"1\"><input semantic=\"VERTEX\" source=\"#box-v\" offset=\"0\"/><p>" + indices +
         "</p></triangles>";
}

std::string withWordAt(std::string bytes, size_t at, std::uint32_t word) {
  for (size_t i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>((word >> (8 * i)) & 0xFF);
  return bytes;
}

std::vector<Family> families() {
  const std::string ascii = plyFile(plyBox(), PlyFormat::kAscii);
  const std::string binary = plyFile(plyBox(), PlyFormat::kLittleEndian);
  const std::string header = binary.substr(0, binary.find("end_header\n") + 11);
  const std::string off = boxOff();
  std::vector<Family> list = {
      {"blank lines after the header", "box.ply", replacedOnce(ascii, "end_header\n", "end_header\n\n\n"), ""},
      {"a carriage return in a data line", "box.ply", replacedOnce(ascii, "4 0 2 3 1", "4 0 2\r3 1"), ""},
      {"first line 'ply '", "box.ply", replacedOnce(ascii, "ply\n", "ply \n"), ""},
      {"first line 'PLY'", "box.ply", replacedOnce(ascii, "ply\n", "PLY\n"), "does not start with the line \"ply\""},
      {"first line 'ply\\r' alone", "tiny.ply", "ply\rformat ascii 1.0\relement vertex 1\rend_header\r",
       "no end_header line"},
      {"binary data starting with a line feed", "box.ply", binary, ""},
      {"13 bytes after the data", "box.ply", binary + "thirteen more", "longer than the elements"},
      {"binary element face 0", "box.ply",
       replacedOnce(header, "element face 6", "element face 0") + binary.substr(header.size(), 96), "no triangles"},
      {"binary without vertices", "box.ply",
       replacedOnce(replacedOnce(header, "element vertex 8", "element vertex 0"), "element face 6", "element face 0"),
       "no triangles"},
      {"OFF with fewer vertices than declared", "box.off", replacedOnce(off, "8 6 0", "12 6 0"), "of the 6 faces"},
      {"OFF with fewer faces than declared", "box.off", replacedOnce(off, "8 6 0", "8 9 0"), "of the 9 faces"},
      {"OFF declaring 1e8 vertices", "box.off", "OFF\n100000000 100000000 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n",
       "more than its"},
      {"OFF index past the end", "box.off", replacedOnce(off, "4 0 2 3 1", "4 0 2 3 8"), "names vertex 8 of 8"},
      {"OFF index -1", "box.off", replacedOnce(off, "4 0 2 3 1", "4 0 2 3 -1"), "names vertex -1 of 8"},
      {"OBJ index 1.5", "box.obj", replacedOnce(boxObj(), "f 1/1/1", "f 1.5/1/1"), "not a whole number"},
      {"empty OBJ", "box.obj", "# nothing here\n", "no triangles"},
      {"binary STL", "box.stl", boxBinaryStl(), ""},
      {"Collada in millimetres", "box.dae", daeWith([](Dae& d) {
         d.unit = "0.001";
         d.file_units_per_metre = 1000.0;
       }),
       ""},
      {"Collada <p> ending in a letter", "box.dae", daeWith([](Dae& d) { d.primitive = colladaTriangles("0 1 2x"); }),
       "<p>"},
      {"Collada <p> ending in a control byte", "box.dae",
       daeWith([](Dae& d) { d.primitive = colladaTriangles("0 1 2\x01"); }), "<p>"},
      {"Collada float_array count -1", "box.dae", daeWith([](Dae& d) { d.float_array_count = "count=\"-1\""; }),
       "count"},
      {"Collada float_array without count", "box.dae", daeWith([](Dae& d) { d.float_array_count = ""; }), "count"},
      {"Collada stride 4294967295", "box.dae",
       daeWith([](Dae& d) { d.accessor = "count=\"8\" stride=\"4294967295\""; }), "past the end"},
      {"Collada unit 0", "box.dae", daeWith([](Dae& d) { d.unit = "0"; }), "unit"},
      {"GLB with a node matrix", "box.glb", glbFile(gltfBoxShifted(0.03), boxBuffer()), ""},
      {"GLB JSON chunk length 0x7FFFFFF0", "box.glb",
       withWordAt(glbFile(gltfBoxShifted(0.03), boxBuffer()), 12, 0x7FFFFFF0), "past the end"},
  };
  for (const char* count_type : {"uchar", "ushort", "uint", "char", "short", "int"}) {
    list.push_back({std::string("ASCII face of 0 corners, ") + count_type + " counts", "box.ply",
                    replacedOnce(replacedOnce(replacedOnce(ascii, "list uchar", std::string("list ") + count_type),
                                              "element face 6", "element face 7"),
                                 "4 0 2 3 1\n", "0\n4 0 2 3 1\n"),
                    ""});
  }
  return list;
}

// 0 when attaching the file to the scene arm's gripper ends as the family
// says (attached, or -1 with a line naming the file and the fault) and a
// state is checked after it; else a message on standard error and 1.
int attachedAsExpected(const Family& family, const std::string& path) {
  auto scene = makeSceneArm();
  OutputCapture capture;
  Eigen::Matrix4d pose = Eigen::Matrix4d::Identity();
  pose(2, 3) = 0.2;
  const int code =
      scene->addAttachedEndEffectorToLink("tool", "gripper_link", {"gripper_link"}, pose, "file://" + path, 1.0, 0.0);
  std::vector<double> joints(6, 0.3);
  scene->isValid(joints.data());
  const std::string out = capture.out();
  const bool as_expected = family.fault.empty()
                               ? code == 0
                               : code == -1 && contains(out, "mesh file://" + path) && contains(out, family.fault);
  if (!as_expected) std::fprintf(stderr, "attached with %d: %s\n", code, out.c_str());
  return as_expected ? 0 : 1;
}

// The same for the file as Link6's collision mesh of the RM65: the scene is
// built (and checks a state), or its construction stops naming link, file and fault.
int linkMeshAsExpected(const Family& family, const std::string& path) {
  TempDir dir;
  const std::string collision = "<collision><origin xyz=\"0 0 0.1\" rpy=\"0 0 0\"/><geometry><mesh filename=\"file://" +
                                path + "\"/></geometry></collision>";
  const std::string urdf =
      withElementOf(rm65UrdfWithAbsoluteMeshes(), "name=\"Link6\"", "<collision>", "</collision>", collision);
  try {
    auto scene = makeRm65Copy(dir, urdf);
    std::vector<double> joints(6, 0.3);
    scene->isValid(joints.data());
    if (family.fault.empty()) return 0;
    std::fprintf(stderr, "built\n");
  } catch (const moveit::core::Exception& error) {
    const std::string what = error.what();
    if (!family.fault.empty() && contains(what, "link 'Link6'") && contains(what, path) &&
        contains(what, family.fault)) {
      return 0;
    }
    std::fprintf(stderr, "refused: %s\n", what.c_str());
  }
  return 1;
}

TEST(MeshFileHosts, FilesThatCrashedTheHostLoadOrAreRefusedNamingTheFault) {
  for (const Family& family : families()) {
    TempDir dir;
    const std::string path = (dir.path() / family.file_name).string();
    writeFile(path, family.content);
    EXPECT_EXIT(std::exit(attachedAsExpected(family, path)), ::testing::ExitedWithCode(0), "") << family.name;
    EXPECT_EXIT(std::exit(linkMeshAsExpected(family, path)), ::testing::ExitedWithCode(0), "") << family.name;
  }
}

// A mesh without triangles gives the broad phase a bounding volume tree
// with no node: the world and an attached body do not take it.
TEST(MeshFileHosts, AMeshWithoutTrianglesIsNoShapeTheChecksTake) {
  auto points = std::make_shared<shapes::Mesh>(3, 0);
  for (unsigned int i = 0; i < 9; ++i) points->vertices[i] = 0.01 * i;
  collision_detection::World world;
  EXPECT_FALSE(quietly([&] { return world.addToObject("points", points, Eigen::Isometry3d::Identity()); }));
  EXPECT_FALSE(world.hasObject("points"));
  const auto model = loadSceneArmModel();
  EXPECT_THROW(moveit::core::AttachedBody(model->getLinkModel("gripper_link"), "points", {points},
                                          {Eigen::Isometry3d::Identity()}, {}),
               std::invalid_argument);
}

}  // namespace
