// The Collada and glTF readers: units and node transforms applied as the
// files write them, the inputs that crashed or exhausted the general loader
// refused, and mutants of small valid files read or refused, never more.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <functional>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include <Eigen/Core>
#include <nlohmann/json.hpp>

#include "mesh_file/collada_reader.h"
#include "mesh_file/gltf_reader.h"
#include "scene_file_texts.h"
#include "test_support.h"

namespace {

using bramlock::internal::MeshSurface;
using bramlock::internal::readCollada;
using bramlock::internal::readGltf;
using namespace bramlock_test;
using bramlock_test::runInChild;
using bramlock_test::TempDir;
using bramlock_test::writeFile;
using nlohmann::json;

// The box's corners moved by each pose (a plain 4 x 4 matrix) in turn; as
// floats hold them when `as_floats`.
std::vector<double> placedCorners(const std::vector<Eigen::Matrix4d>& poses, bool as_floats = false) {
  std::vector<double> vertices;
  for (const Eigen::Matrix4d& pose : poses) {
    for (int i = 0; i < 8; ++i) {
      const Eigen::Vector3d at = as_floats ? corner(i).cast<float>().cast<double>() : corner(i);
      const Eigen::Vector4d placed = pose * Eigen::Vector4d(at.x(), at.y(), at.z(), 1.0);
      vertices.insert(vertices.end(), {placed.x(), placed.y(), placed.z()});
    }
  }
  return vertices;
}

void expectNear(const std::vector<double>& read, const std::vector<double>& expected, const std::string& what) {
  ASSERT_EQ(read.size(), expected.size()) << what;
  for (size_t i = 0; i < read.size(); ++i) EXPECT_NEAR(read[i], expected[i], 1e-12) << what << " value " << i;
}

// Every vertex finite and every index naming one: what any read surface must hold.
bool wellFormed(const MeshSurface& surface) {
  for (double value : surface.vertices) {
    if (!std::isfinite(value)) return false;
  }
  for (unsigned int index : surface.triangles) {
    if (index >= surface.vertices.size() / 3) return false;
  }
  return surface.vertices.size() % 3 == 0 && surface.triangles.size() % 3 == 0;
}

// A file the reader must refuse, and what its refusal must name.
struct BadFile {
  std::string name;
  std::string bytes;
  std::string fault;
};

using Reader = std::function<std::optional<MeshSurface>(const std::string&, std::string&)>;

// Reads each file in a child process, so a crash or an abort fails the case
// instead of ending the suite.
void expectEachRefused(const std::vector<BadFile>& files, const Reader& read) {
  for (const BadFile& bad : files) {
    const bramlock_test::ChildResult child = runInChild({}, [&] {
      std::string refusal;
      if (read(bad.bytes, refusal)) return 1;
      std::fputs(refusal.c_str(), stdout);
      return 0;
    });
    EXPECT_EQ(child.exit_code, 0) << bad.name << ": read, or crashed " << child.err;
    EXPECT_NE(child.out.find(bad.fault), std::string::npos) << bad.name << ": " << child.out;
  }
}

std::string repeated(const std::string& text, int times) {
  std::string all;
  for (int k = 0; k < times; ++k) all += text;
  return all;
}

// ---- Collada -------------------------------------------------------------

std::optional<MeshSurface> readDae(const Dae& dae, std::string& refusal) { return readCollada(daeFile(dae), refusal); }

TEST(ColladaFiles, MillimetreBoxReadsAtItsSizeInMetres) {
  for (const auto& [unit, per_metre] : {std::pair{"0.001", 1000.0}, std::pair{"", 1.0}, std::pair{"1", 1.0}}) {
    Dae dae;
    dae.unit = unit;
    dae.file_units_per_metre = per_metre;
    dae.scene += "<!-- it's " + std::string(300, '=') + " -->";  // no tag of 300 attributes
    std::string refusal;
    const std::optional<MeshSurface> box = readDae(dae, refusal);
    ASSERT_TRUE(box) << unit << ": " << refusal;
    expectNear(box->vertices, placedCorners({Eigen::Matrix4d::Identity()}), unit);
    EXPECT_EQ(box->triangles, kBoxTriangles) << unit;
  }
}

TEST(ColladaFiles, UnitThatIsNoFinitePositiveLengthIsRefused) {
  for (const char* unit : {"0", "-1", "nan", "inf", "-inf", "1e300", "1e-300", "abc", "0.001x", " "}) {
    Dae dae;
    dae.unit = unit;
    std::string refusal;
    EXPECT_FALSE(readDae(dae, refusal)) << unit;
    EXPECT_NE(refusal.find("<unit meter="), std::string::npos) << unit << ": " << refusal;
  }
}

// Nested node transforms apply outermost first, each node's in the order
// written; an instanced library node brings its own matrix.
TEST(ColladaFiles, NodeTransformsApplyFromTheTopmostDown) {
  Dae dae;
  dae.scene =
      "<node id=\"top\"><matrix>1 0 0 0.5  0 0 -1 0.25  0 1 0 -1  0 0 0 1</matrix>"
      "<node id=\"inner\"><translate>0 0.1 0</translate><rotate>0 0 2 90</rotate>"
      "<matrix>1 0.5 0 0  0 1 0 0.2  0 0 1 0  0 0 0 1</matrix><scale>2 1 3</scale>"
      "<instance_geometry url=\"#box\"/></node><instance_node url=\"#lib\"/></node>";
  dae.library_nodes =
      "<node id=\"lib\"><matrix>1 0 0 0 0 1 0 0 0 0 1 0.7 0 0 0 1</matrix>"
      "<instance_geometry url=\"#box\"/></node>";
  dae.unit = "0.001";
  dae.file_units_per_metre = 1000.0;
  Eigen::Matrix4d top, translate, rotate, shear, scale, library;
  top << 1, 0, 0, 0.5, 0, 0, -1, 0.25, 0, 1, 0, -1, 0, 0, 0, 1;
  translate << 1, 0, 0, 0, 0, 1, 0, 0.1, 0, 0, 1, 0, 0, 0, 0, 1;
  rotate << 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1;
  shear << 1, 0.5, 0, 0, 0, 1, 0, 0.2, 0, 0, 1, 0, 0, 0, 0, 1;
  scale << 2, 0, 0, 0, 0, 1, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1;
  library << 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0.7, 0, 0, 0, 1;
  // The file's numbers are in millimetres: the unit scales the placed corners too.
  const Eigen::Matrix4d millimetres = Eigen::Vector4d(1e-3, 1e-3, 1e-3, 1).asDiagonal();
  const Eigen::Matrix4d in_file = Eigen::Vector4d(1e3, 1e3, 1e3, 1).asDiagonal();
  std::string refusal;
  const std::optional<MeshSurface> read = readDae(dae, refusal);
  ASSERT_TRUE(read) << refusal;
  expectNear(read->vertices,
             placedCorners({millimetres * top * translate * rotate * shear * scale * in_file,
                            millimetres * top * library * in_file}),
             "two instances");
  ASSERT_EQ(read->triangles.size(), 2 * kBoxTriangles.size());
  EXPECT_EQ(read->triangles[kBoxTriangles.size()], kBoxTriangles[0] + 8) << "the second instance's own vertices";
}

TEST(ColladaFiles, FansStripsPolygonsAndTrianglesSplitAsWritten) {
  const std::string vertex_input = "<input semantic=\"VERTEX\" source=\"#box-v\" offset=\"0\"/>";
  const std::vector<std::pair<std::string, std::vector<unsigned int>>> cases = {
      {"<triangles count=\"2\">" + vertex_input + "<p>0 1 2 2 1 3</p></triangles>", {0, 1, 2, 2, 1, 3}},
      {"<tristrips count=\"1\">" + vertex_input + "<p>0 1 2 3 4</p></tristrips>", {0, 1, 2, 2, 1, 3, 2, 3, 4}},
      {"<trifans count=\"2\">" + vertex_input + "<p>0 1 2 3</p><p>4 5 6</p></trifans>", {0, 1, 2, 0, 2, 3, 4, 5, 6}},
      {"<polygons count=\"2\">" + vertex_input + "<p>7 6 5 4 3</p><p>0 1</p></polygons>", {7, 6, 5, 7, 5, 4, 7, 4, 3}},
      {"<polylist count=\"3\">" + vertex_input + "<vcount>0 3 4</vcount><p>0 1 2 3 4 5 6</p></polylist>",
       {0, 1, 2, 3, 4, 5, 3, 5, 6}},
      {"<lines count=\"1\">" + vertex_input + "<p>0 1</p></lines>", {}},
  };
  for (const auto& [primitive, triangles] : cases) {
    Dae dae;
    dae.primitive = primitive;
    std::string refusal;
    const std::optional<MeshSurface> read = readDae(dae, refusal);
    ASSERT_TRUE(read) << primitive << ": " << refusal;
    EXPECT_EQ(read->triangles, triangles) << primitive;
  }
}

TEST(ColladaFiles, CountsIndicesAndNumbersNotWrittenWholeAreRefused) {
  const std::string vertex_input = "<input semantic=\"VERTEX\" source=\"#box-v\" offset=\"0\"/>";
  auto triangles = [&](const std::string& p) {
    return daeWith(
        [&](Dae& d) { d.primitive = "<triangles count=\"2\">" + vertex_input + "<p>" + p + "</p></triangles>"; });
  };
  auto accessor = [](const std::string& attributes) { return daeWith([&](Dae& d) { d.accessor = attributes; }); };
  auto float_array = [](const std::string& count) { return daeWith([&](Dae& d) { d.float_array_count = count; }); };
  auto scene = [](const std::string& library_nodes, const std::string& nodes) {
    return daeWith([&](Dae& d) {
      d.library_nodes = library_nodes;
      d.scene = nodes;
    });
  };
  std::string doubling,
      hundred = "<node id=\"hundred\">" + repeated("<instance_geometry url=\"#box\"/>", 100) + "</node>";
  for (int level = 0; level < 30; ++level) {
    const std::string below = level == 0 ? "<instance_geometry url=\"#box\"/>"
                                         : "<instance_node url=\"#l" + std::to_string(level - 1) + "\"/>";
    doubling += "<node id=\"l" + std::to_string(level) + "\">" + below + below + "</node>";
  }
  std::string many_attributes = "<node";
  for (int k = 0; k < 300; ++k) many_attributes += " a" + std::to_string(k) + "='>'";
  expectEachRefused(
      {{"<p> ending in a letter", triangles("0 1 2 2 1 3x"), "<p>"},
       {"<p> ending in a control byte", triangles("0 1 2 2 1 3\x01"), "<p>"},
       {"index -1", triangles("0 1 2 2 -1 3"), "<p>"},
       {"index 4000000000", triangles("0 1 2 2 4000000000 3"), "vertex 4000000000"},
       {"index 1.5", triangles("0 1 2 2 1.5 3"), "<p>"},
       {"index past the vertices", triangles("0 1 2 2 8 3"), "vertex 8"},
       {"triangle count unlike the list", triangles("0 1 2"), "count"},
       {"float_array count -1", float_array("count=\"-1\""), "count"},
       {"float_array without count", float_array(""), "count"},
       {"float_array count too large", float_array("count=\"4294967295\""), "declares"},
       {"stride 4294967295", accessor("count=\"8\" stride=\"4294967295\""), "past the end"},
       {"stride 0", accessor("count=\"8\" stride=\"0\""), "stride"},
       {"accessor count past the array", accessor("count=\"9\" stride=\"3\""), "past the end"},
       {"NaN position", daeWith([](Dae& d) { d.file_units_per_metre = std::nan(""); }), "finite"},
       {"huge positions placed past the doubles", daeWith([](Dae& d) {
          d.file_units_per_metre = 1e300;
          d.scene = "<node><scale>1e10 1 1</scale><instance_geometry url=\"#box\"/></node>";
        }),
        "not finite"},
       {"a node instancing itself",
        scene("<node id=\"lib\"><instance_node url=\"#lib\"/></node>", "<node><instance_node url=\"#lib\"/></node>"),
        "instances itself"},
       {"instances doubling 30 levels deep", scene(doubling, "<node><instance_node url=\"#l29\"/></node>"),
        "its scene"},
       {"a thousand instances of a hundred boxes",
        scene(hundred, repeated("<node><instance_node url=\"#hundred\"/></node>", 1000)), "MB of geometry"},
       {"a tag of 300 attributes", scene("", many_attributes + "/>"), "more than 256 attributes"},
       {"skinned mesh", scene("", "<node id=\"skin\"><instance_controller url=\"#c\"/></node>"), "skinned"},
       {"instance of a missing geometry", scene("", "<node><instance_geometry url=\"#gone\"/></node>"), "\"gone\""},
       {"NUL bytes", "<COLLADA>" + std::string(100000, '\0') + "</COLLADA>", "XML"},
       {"ten thousand open tags", "<COLLADA>" + std::string(10000, '<') + "</COLLADA>", "XML"},
       {"bytes 0xFF", std::string(200, '\xff'), "XML"},
       {"empty", "", "XML"},
       {"cut short", "<COLLADA><asset>", "XML"},
       {"not Collada", "<mesh/>", "<COLLADA>"}},
      [](const std::string& bytes, std::string& refusal) { return readCollada(bytes, refusal); });
}

TEST(ColladaFiles, WithoutVisualSceneEveryGeometryIsTakenAsWritten) {
  Dae dae;
  dae.scene = "";
  std::string refusal;
  const std::optional<MeshSurface> read = readDae(dae, refusal);
  ASSERT_TRUE(read) << refusal;
  expectNear(read->vertices, placedCorners({Eigen::Matrix4d::Identity()}), "untransformed");
}

// ---- glTF ----------------------------------------------------------------

std::vector<double> floatCorners(const Eigen::Matrix4d& pose) { return placedCorners({pose}, true); }

std::string dataUriGltf() {
  return gltfBox({{"byteLength", 168}, {"uri", "data:application/octet-stream;base64," + base64(boxBuffer())}}).dump();
}

TEST(GltfFiles, GlbNodeMatrixIsApplied) {
  json document = gltfBox({{"byteLength", 168}});
  // Column-major: a quarter turn about x and a shift of 3 cm along y.
  document["nodes"][0]["matrix"] = {1, 0, 0, 0, 0, 0, 1, 0, 0, -1, 0, 0, 0, 0.03, 0, 1};
  Eigen::Matrix4d pose;
  pose << 1, 0, 0, 0, 0, 0, -1, 0.03, 0, 1, 0, 0, 0, 0, 0, 1;
  std::string refusal;
  const std::optional<MeshSurface> read = readGltf(glbFile(document, boxBuffer()), "", refusal);
  ASSERT_TRUE(read) << refusal;
  expectNear(read->vertices, floatCorners(pose), "matrix");
  EXPECT_EQ(read->triangles, kBoxTriangles);
}

TEST(GltfFiles, TranslationRotationAndScaleApplyWithTheParentsFirst) {
  json document = gltfBox({{"byteLength", 168}});
  document["nodes"] = {{{"children", {1}}, {"translation", {0.1, 0, 0}}},
                       {{"mesh", 0}, {"rotation", {0, 0, std::sqrt(0.5), std::sqrt(0.5)}}, {"scale", {1, 2, 3}}}};
  Eigen::Matrix4d parent, rotate, scale;
  parent << 1, 0, 0, 0.1, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1;
  rotate << 0, -1, 0, 0, 1, 0, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1;
  scale << 1, 0, 0, 0, 0, 2, 0, 0, 0, 0, 3, 0, 0, 0, 0, 1;
  std::string refusal;
  const std::optional<MeshSurface> read = readGltf(glbFile(document, boxBuffer()), "", refusal);
  ASSERT_TRUE(read) << refusal;
  expectNear(read->vertices, floatCorners(parent * rotate * scale), "TRS");
}

TEST(GltfFiles, BufferBesideTheFileIsReadAndAMissingOneNamed) {
  TempDir dir;
  writeFile(dir.path() / "box.bin", boxBuffer());
  std::string refusal;
  const std::optional<MeshSurface> beside =
      readGltf(gltfBox({{"byteLength", 168}, {"uri", "box.bin"}}).dump(), dir.path().string(), refusal);
  ASSERT_TRUE(beside) << refusal;
  expectNear(beside->vertices, floatCorners(Eigen::Matrix4d::Identity()), "beside");
  std::filesystem::create_directory(dir.path() / "sub dir");
  writeFile(dir.path() / "sub dir" / "box.bin", boxBuffer());
  EXPECT_TRUE(
      readGltf(gltfBox({{"byteLength", 168}, {"uri", "sub%20dir/box.bin"}}).dump(), dir.path().string(), refusal))
      << refusal;
  for (const std::string tail : {"", "x", "xy"}) {  // base64 of each length modulo 3
    const std::string uri = "data:application/octet-stream;base64," + base64(boxBuffer() + tail);
    const std::optional<MeshSurface> inline_buffer =
        readGltf(gltfBox({{"byteLength", 168}, {"uri", uri}}).dump(), "", refusal);
    ASSERT_TRUE(inline_buffer) << tail << ": " << refusal;
    expectNear(inline_buffer->vertices, floatCorners(Eigen::Matrix4d::Identity()), "data URI");
    EXPECT_FALSE(readGltf(gltfBox({{"byteLength", 169 + tail.size()}, {"uri", uri}}).dump(), "", refusal)) << tail;
  }
  for (const char* uri : {"gone.bin", "../box.bin", "/etc/passwd", "file:///tmp/box.bin", "sub dir/../box.bin"}) {
    EXPECT_FALSE(readGltf(gltfBox({{"byteLength", 168}, {"uri", uri}}).dump(), dir.path().string(), refusal)) << uri;
    EXPECT_NE(refusal.find(uri), std::string::npos) << uri << ": " << refusal;
  }
  EXPECT_FALSE(readGltf(gltfBox({{"byteLength", 169}, {"uri", "box.bin"}}).dump(), dir.path().string(), refusal));
  EXPECT_NE(refusal.find("168 bytes"), std::string::npos) << refusal;
}

TEST(GltfFiles, LengthsCountsAndIndicesThatDoNotFitAreRefused) {
  const std::string glb = glbFile(gltfBox({{"byteLength", 168}}), boxBuffer());
  auto glb_with = [](const std::function<void(json&)>& change) {
    json document = gltfBox({{"byteLength", 168}});
    change(document);
    return glbFile(document, boxBuffer());
  };
  auto header_word = [&](size_t at, std::uint32_t value) {
    std::string changed = glb;
    for (size_t i = 0; i < 4; ++i) changed[at + i] = static_cast<char>(value >> (8 * i));
    return changed;
  };
  std::string infinite = boxBuffer();
  infinite.replace(0, 4, std::string("\x00\x00\x80\x7F", 4));
  expectEachRefused(
      {{"JSON chunk length 0x7FFFFFF0", header_word(12, 0x7FFFFFF0), "past the end"},
       {"header length past the file", header_word(8, 0x7FFFFFF0), "declares"},
       {"cut short", glb.substr(0, glb.size() - 4), "declares"},
       {"accessor count past its view", glb_with([](json& d) { d["accessors"][0]["count"] = 9; }), "past the end"},
       {"accessor count 2^64-1", glb_with([](json& d) { d["accessors"][1]["count"] = UINT64_MAX; }), "past the end"},
       {"negative count", glb_with([](json& d) { d["accessors"][1]["count"] = -1; }), "count"},
       {"view past its buffer", glb_with([](json& d) { d["bufferViews"][1]["byteLength"] = 4000000000u; }),
        "past the end"},
       {"stride 4294967295", glb_with([](json& d) { d["bufferViews"][0]["byteStride"] = 4294967295u; }),
        "past the end"},
       {"buffer longer than the chunk", glb_with([](json& d) { d["buffers"][0]["byteLength"] = 1u << 30; }),
        "declares"},
       {"index past the vertices", glb_with([](json& d) { d["accessors"][0]["count"] = 7; }), "names vertex 7"},
       {"node of itself", glb_with([](json& d) { d["nodes"][0]["children"] = {0}; }), "own ancestor"},
       {"missing mesh", glb_with([](json& d) { d["nodes"][0]["mesh"] = 3; }), "mesh 3"},
       {"NaN matrix", glb_with([](json& d) { d["nodes"][0]["matrix"] = std::vector<double>(16, std::nan("")); }),
        "matrix"},
       {"scales past the doubles", glb_with([](json& d) {
          d["nodes"] = {{{"children", {1}}, {"scale", {1e308, 1e308, 1e308}}},
                        {{"mesh", 0}, {"scale", {1e308, 1e308, 1e308}}}};
        }),
        "not finite"},
       {"required extension", glb_with([](json& d) { d["extensionsRequired"] = {"KHR_draco_mesh_compression"}; }),
        "KHR_draco"},
       {"infinite vertex", glbFile(gltfBox({{"byteLength", 168}}), infinite), "not finite"},
       {"empty", "", "JSON"},
       {"number past the doubles", R"({"asset": {"version": "2.0"}, "extras": 1e999})", "beyond the doubles"},
       {"JSON nested a million deep", std::string(1000000, '['), "nests deeper"},
       {"bad base64", gltfBox({{"byteLength", 3}, {"uri", "data:;base64,AB=C"}}).dump(), "base64"}},
      [](const std::string& bytes, std::string& refusal) { return readGltf(bytes, "", refusal); });
}

TEST(GltfFiles, StripsAndFansSplitAsWritten) {
  for (const auto& [mode, triangles] : {std::pair{5, std::vector<unsigned int>{0, 2, 3, 3, 2, 0, 3, 0, 3}},
                                        std::pair{6, std::vector<unsigned int>{0, 2, 3, 0, 3, 0, 0, 0, 3}}}) {
    json document = gltfBox({{"byteLength", 168}});
    document["accessors"][1]["count"] = 5;
    document["meshes"][0]["primitives"][0]["mode"] = mode;
    std::string refusal;
    const std::optional<MeshSurface> read = readGltf(glbFile(document, boxBuffer()), "", refusal);
    ASSERT_TRUE(read) << refusal;
    EXPECT_EQ(read->triangles, triangles) << "mode " << mode;
  }
}

// ---- Mutants -------------------------------------------------------------

// A copy of the file with one seeded change at byte `at`: the byte flipped,
// the end cut off there, or a digit or letter put in before it.
struct Mutant {
  std::string bytes;
  size_t at = 0;
};

Mutant mutant(const std::string& file, std::mt19937& random) {
  Mutant changed{file, std::uniform_int_distribution<size_t>(0, file.size() - 1)(random)};
  switch (random() % 4) {
    case 0:
      changed.bytes[changed.at] = static_cast<char>(changed.bytes[changed.at] ^ (1 << random() % 8));
      break;
    case 1:
      changed.bytes.resize(changed.at);
      break;
    case 2:
      changed.bytes.insert(changed.at, 1, static_cast<char>('0' + random() % 10));
      break;
    default:
      changed.bytes.insert(changed.at, 1, static_cast<char>('a' + random() % 26));
  }
  return changed;
}

// Mutants of small valid files: each is read or refused with a reason; one
// read is well formed, and where the change lies in bytes that hold no
// geometry (the Collada normals, the glTF generator's name) it is the box.
TEST(SceneFileMutants, AreReadWellFormedOrRefused) {
  TempDir dir;
  writeFile(dir.path() / "box.bin", boxBuffer());
  struct Original {
    std::string kind;
    std::string file;
    std::string inert;  // bytes that hold no geometry
    std::vector<double> box;
  };
  const std::string generator = "\"generator\":\"the scene tests\"";
  const std::vector<Original> originals = {
      {"dae", daeFile(Dae()), "<source id=\"box-n\"><float_array id=\"box-na\" count=\"3\">0 0 1</float_array>",
       placedCorners({Eigen::Matrix4d::Identity()})},
      {"gltf", dataUriGltf(), generator, floatCorners(Eigen::Matrix4d::Identity())},
      {"gltf with bin", gltfBox({{"byteLength", 168}, {"uri", "box.bin"}}).dump(), generator,
       floatCorners(Eigen::Matrix4d::Identity())},
      {"glb", glbFile(gltfBox({{"byteLength", 168}}), boxBuffer()), generator,
       floatCorners(Eigen::Matrix4d::Identity())}};
  std::mt19937 random(20261209);
  for (const Original& original : originals) {
    const size_t inert_begin = original.file.find(original.inert);
    ASSERT_NE(inert_begin, std::string::npos) << original.kind;
    size_t read_count = 0, inert_read_count = 0;
    for (int k = 0; k < 500; ++k) {
      const Mutant changed = mutant(original.file, random);
      const std::string what = original.kind + " mutant " + std::to_string(k);
      std::string refusal;
      const std::optional<MeshSurface> read = original.kind == "dae"
                                                  ? readCollada(changed.bytes, refusal)
                                                  : readGltf(changed.bytes, dir.path().string(), refusal);
      if (!read) {
        EXPECT_FALSE(refusal.empty()) << what;
        continue;
      }
      ++read_count;
      EXPECT_TRUE(wellFormed(*read)) << what;
      if (changed.at > inert_begin && changed.at < inert_begin + original.inert.size()) {
        ++inert_read_count;
        expectNear(read->vertices, original.box, what);
        EXPECT_EQ(read->triangles, kBoxTriangles) << what;
      }
    }
    EXPECT_GT(inert_read_count, 0u) << original.kind << ": no mutant of bytes that hold no geometry was read";
  }
}

}  // namespace
