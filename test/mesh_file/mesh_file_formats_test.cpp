// Each format the core reads gives the surface its file writes, however the
// file lays it out, and every file whose content names no surface (indices
// that name no vertex, counts the data does not hold, no triangle at all, a
// format not read) is refused with the fault named.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "mesh_file/mesh_file.h"
#include "mesh_file_texts.h"
#include "scene_arm.h"
#include "test_support.h"

namespace {

using bramlock::internal::loadMeshFile;
using bramlock::internal::MeshFile;
using namespace bramlock_test;

MeshFile loaded(const std::string& name, const std::string& content) {
  TempDir dir;
  const std::string path = (dir.path() / name).string();
  writeFile(path, content);
  return loadMeshFile("file://" + path);
}

// The text with its first `from` replaced by `to`.
std::string replaced(std::string text, const std::string& from, const std::string& to) {
  const size_t at = text.find(from);
  EXPECT_NE(at, std::string::npos) << from;
  return at == std::string::npos ? text : text.replace(at, from.size(), to);
}

// Every second line joined to the one before it.
std::string twoLinesAsOne(std::string text) {
  bool join = true;
  for (char& c : text) {
    if (c != '\n') continue;
    if (join) c = ' ';
    join = !join;
  }
  return text;
}

std::string asciiBox() { return plyFile(plyBox(), PlyFormat::kAscii); }

TEST(MeshFileFormats, EveryFormatGivesTheBoxItWrites) {
  const std::vector<std::pair<std::string, std::string>> files = {
      {"box.stl", boxBinaryStl()},
      {"box_text.stl", boxAsciiStl()},
      {"box.obj", boxObj()},
      {"box.off", boxOff()},
      {"box.ply", asciiBox()},
      {"box_binary.ply", plyFile(plyBox(), PlyFormat::kBigEndian)},
      // Named otherwise, a PLY file is still read as PLY.
      {"box_ply.stl", asciiBox()},
      {"box_text", boxAsciiStl()},
      {"box_binary", boxBinaryStl()},
      {"box_off", boxOff()},
      {"box.OBJ", boxObj()},
      {"colour.off", replaced(replaced(boxOff(), "OFF\n", "COFF # coloured\n# more\n"), "4 0 2 3 1\n",
                              "4 0 2 3 1 255 0 0 255 # red\n")},
      {"counts_on_header.off", replaced(boxOff(), "OFF\n# a box\n", "OFF ")},
      // Corners without texture and normal, and counted back from the last vertex.
      {"relative.obj", replaced(boxObj(), "f 1/1/1 3/1/1 4/1/1 2/1/1", "f -8//1 -6 -5/1 2")},
  };
  for (const auto& [name, content] : files) {
    const MeshFile file = loaded(name, content);
    ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << name << ": " << file.reason;
    EXPECT_TRUE(sameTriangles(trianglePoints(*file.mesh), boxTrianglePoints())) << name;
  }
}

// Header comments anywhere, any element order, values laid over lines in
// any way, every face element, extra properties and lists: the ASCII file
// gives its binary twin's triangles.
TEST(MeshFileFormats, AsciiPlyLayoutsGiveTheBinaryTwinsTriangles) {
  const std::string box = asciiBox();
  const std::string header = box.substr(0, box.find("end_header\n") + 11);
  const std::string data = box.substr(header.size());
  const std::string vertex_header = "element vertex 8\nproperty float x\nproperty float y\nproperty float z\n";
  const std::string face_header = "element face 6\nproperty list uchar int vertex_indices\n";
  const std::string vertex_data = data.substr(0, data.find("4 0 2 3 1"));
  const std::string face_data = data.substr(vertex_data.size());
  std::string one_line = data;
  for (char& c : one_line) c = c == '\n' ? ' ' : c;
  std::string one_value_a_line = data;
  for (char& c : one_value_a_line) c = c == ' ' ? '\n' : c;
  std::string extra_vertex_data;
  for (size_t start = 0; start < vertex_data.size();) {
    const size_t end = vertex_data.find('\n', start);
    extra_vertex_data += "2 7 7 " + vertex_data.substr(start, end - start) + " 0.5\n";
    start = end + 1;
  }
  const std::vector<std::pair<std::string, std::string>> layouts = {
      {"comment between properties",
       replaced(replaced(box, "property float y\n", "comment y next\nproperty float y\nobj_info made here\n"),
                "end_header", "comment last\nend_header")},
      {"faces before vertices",
       "ply\nformat ascii 1.0\n" + face_header + vertex_header + "end_header\n" + face_data + vertex_data},
      {"all on one line", header + one_line},
      {"one value a line", header + one_value_a_line},
      {"two vertices a line, a face over two lines",
       header + twoLinesAsOne(vertex_data) + "4 0 2\n3 1" + face_data.substr(9)},
      {"two blank lines after the header", header + "\n\n" + data},
      {"a carriage return inside a line and CRLF",
       replaced(replaced(box, "4 0 2 3 1\n", "4 0\r2 3 1\r\n"), "ply\n", "ply\r\n")},
      {"faces in two elements",
       replaced(replaced(box, face_header, "element face 2\nproperty list uchar int vertex_indices\n"), "end_header\n",
                "element face 4\nproperty list uchar int vertex_index\nend_header\n")},
      {"extra properties and lists",
       replaced(replaced(box, vertex_header,
                         "element vertex 8\nproperty list uchar int neighbours\nproperty float x\nproperty float y\n"
                         "property float z\nproperty double confidence\n"),
                vertex_data, extra_vertex_data)},
      {"an element of its own between",
       replaced(replaced(box, "element face", "element material 2\nproperty uchar red\nelement face"), "4 0 2 3 1",
                "12\n200\n4 0 2 3 1")},
      {"faces of no corner",
       replaced(replaced(box, "element face 6", "element face 8"), "4 0 2 3 1\n", "0\n4 0 2 3 1\n0\n")},
  };
  for (const auto& [name, content] : layouts) {
    const MeshFile file = loaded("layout.ply", content);
    ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << name << ": " << file.reason;
    EXPECT_TRUE(sameTriangles(trianglePoints(*file.mesh), boxTrianglePoints(), 0.0)) << name;
  }
}

// A 255-corner polygon, ASCII and binary: fanned whole from its first corner.
TEST(MeshFileFormats, APolygonOf255CornersIsFannedWhole) {
  PlyBox disc;
  disc.vertices.clear();
  disc.faces = {{}};
  for (int k = 0; k < 255; ++k) {
    const double angle = 2.0 * M_PI * k / 255;
    disc.vertices.insert(disc.vertices.end(),
                         {static_cast<float>(std::cos(angle)), static_cast<float>(std::sin(angle)), 0.0f});
    disc.faces[0].push_back(k);
  }
  for (PlyFormat format : {PlyFormat::kAscii, PlyFormat::kLittleEndian}) {
    const MeshFile file = loaded("disc.ply", plyFile(disc, format));
    ASSERT_EQ(file.outcome, MeshFile::Outcome::kLoaded) << file.reason;
    EXPECT_EQ(file.mesh->triangle_count, 253u);
    EXPECT_TRUE(sameTriangles(trianglePoints(*file.mesh), boxTrianglePoints(disc), 0.0));
  }
  const MeshFile obj = loaded("disc.obj", boxObj(disc));
  ASSERT_EQ(obj.outcome, MeshFile::Outcome::kLoaded) << obj.reason;
  EXPECT_TRUE(sameTriangles(trianglePoints(*obj.mesh), boxTrianglePoints(disc)));
}

struct BadFile {
  std::string name;
  std::string content;
  std::string fault;  // a part of the refusal
};

std::string plyWithFloatIndices(const std::string& index, PlyFormat format) {
  std::string box = replaced(plyFile(plyBox(), PlyFormat::kAscii), "uchar int", "uchar float");
  if (format == PlyFormat::kAscii) return replaced(box, "4 0 2 3 1", "4 0 2 " + index + " 1");
  box = replaced(box.substr(0, box.find("end_header\n") + 11), "ascii", "binary_little_endian");
  const PlyBox plain = plyBox();
  for (float value : plain.vertices) appendBinary(box, value, format);
  for (size_t f = 0; f < plain.faces.size(); ++f) {
    appendBinary(box, std::uint8_t{4}, format);
    for (size_t k = 0; k < 4; ++k) {
      const float written = f == 0 && k == 2 ? std::stof(index) : static_cast<float>(plain.faces[f][k]);
      appendBinary(box, written, format);
    }
  }
  return box;
}

// Indices must be whole numbers naming vertices of the file, in every format.
TEST(MeshFileFormats, IndicesThatNameNoVertexAreRefusedNamingTheFault) {
  std::vector<BadFile> files;
  for (const std::string& index : {std::string("nan"), std::string("1.5"), std::string("-1"), std::string("8")}) {
    const std::string fault = index == "nan" || index == "1.5" ? "not a whole number" : "of 8";
    files.push_back({"ply ascii " + index, plyWithFloatIndices(index, PlyFormat::kAscii), "face 0 names vertex"});
    files.push_back({"ply binary " + index, plyWithFloatIndices(index, PlyFormat::kLittleEndian), fault});
    files.push_back(
        {"off " + index, replaced(boxOff(), "4 0 2 3 1", "4 0 2 " + index + " 1"),
         index == "nan" || index == "1.5" ? "not a whole number" : "face 0 names vertex " + index + " of 8"});
  }
  for (const std::string& index : {std::string("nan"), std::string("1.5"), std::string("1e0")}) {
    files.push_back({"obj " + index, replaced(boxObj(), "f 1/1/1", "f " + index + "/1/1"), "not a whole number"});
  }
  for (const std::string& index : {std::string("0"), std::string("9"), std::string("-9")}) {
    files.push_back({"obj " + index, replaced(boxObj(), "f 1/1/1", "f " + index + "/1/1"),
                     "face 0 on line 17 names vertex " + index + " of 8 written before it"});
  }
  files.push_back({"obj naming a vertex written after it",
                   replaced(boxObj(), "v 0.0199999996 0.0199999996 0.0500000007\n", "") + "v 0.02 0.02 0.05\n",
                   "names vertex 8 of 7 written before it"});
  for (const BadFile& bad : files) {
    const bool ply = bad.name.substr(0, 3) == "ply";
    const MeshFile file = loaded(ply ? "bad.ply" : bad.name.substr(0, 3) == "off" ? "bad.off" : "bad.obj", bad.content);
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << bad.name;
    EXPECT_TRUE(contains(file.reason, bad.fault)) << bad.name << ": " << file.reason;
  }
}

TEST(MeshFileFormats, FilesWithoutTrianglesAreRefused) {
  const std::string box = plyFile(plyBox(), PlyFormat::kLittleEndian);
  const std::string header = box.substr(0, box.find("end_header\n") + 11);
  const std::string vertices = box.substr(header.size(), 8 * 12);
  const std::string no_face_element = replaced(header, "element face 6\nproperty list uchar int vertex_indices\n", "");
  const std::vector<std::pair<std::string, std::string>> files = {
      {"face0.ply", replaced(header, "element face 6", "element face 0") + vertices},
      {"nofaces.ply", no_face_element + vertices},
      {"novertices.ply", replaced(no_face_element, "element vertex 8", "element vertex 0")},
      {"segment.ply",
       "ply\nformat ascii 1.0\nelement vertex 2\nproperty float x\nproperty float y\nproperty float z\n"
       "element face 1\nproperty list uchar int vertex_indices\nend_header\n0 0 0\n1 0 0\n2 0 1\n"},
      {"empty.obj", "# nothing\n"},
      {"text.obj", "not a mesh at all\n"},
      {"vertices.obj", "v 0 0 0\nv 1 0 0\nv 0 1 0\n"},
      {"empty.off", "OFF\n0 0 0\n"},
      {"points.off", "OFF\n3 0 0\n0 0 0\n1 0 0\n0 1 0\n"},
      {"empty.stl", "solid nothing\nendsolid nothing\n"},
      {"empty_binary.stl", std::string(80, ' ') + std::string(4, '\0')},
  };
  for (const auto& [name, content] : files) {
    const MeshFile file = loaded(name, content);
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << name << ": " << file.reason;
    EXPECT_TRUE(contains(file.reason, "no triangles")) << name << ": " << file.reason;
  }
}

// Counts beyond what the data can hold are refused before anything is sized
// by them; data that ends early or goes on is refused too.
TEST(MeshFileFormats, DeclaredCountsTheDataDoesNotHoldAreRefused) {
  const std::string off = boxOff();
  const std::string stl = boxBinaryStl();
  const std::vector<BadFile> files = {
      {"huge.off", "OFF\n100000000 100000000 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", "more than its"},
      {"negative.off", "OFF\n-3 1 0\n0 0 0\n1 0 0\n0 1 0\n3 0 1 2\n", "is negative"},
      {"fewer_vertices.off", replaced(off, "8 6 0", "9 6 0"), "of the 6 faces"},
      {"fewer_faces.off", replaced(off, "8 6 0", "8 7 0"), "ends after 6 of the 7 faces"},
      {"more.off", off + "3 0 1 2\n", "more than the vertices and faces it declares"},
      {"nan.off", replaced(off, "-0.0199999996", "nan"), "not finite"},
      {"four_d.off", replaced(off, "OFF", "4OFF"), "is not OFF"},
      {"binary.off", replaced(off, "OFF", "OFF BINARY"), "its vertex count"},
      {"short.stl", stl.substr(0, stl.size() - 1), "not 84 + 50 x 12 bytes long"},
      {"long.stl", stl + "trailing bytes", "not 84 + 50 x 12 bytes long"},
      {"huge.stl", replaced(stl, std::string("\x0c\0\0\0", 4), std::string("\xff\xff\xff\x7f", 4)),
       "not 84 + 50 x 2147483647"},
      {"unclosed.stl", boxAsciiStl().substr(0, 200), "line"},
      {"nan.stl", replaced(boxAsciiStl(), "vertex -0.0199999996", "vertex nan"), "not finite"},
      {"inf.obj", replaced(boxObj(), "v -0.0199999996", "v -inf"), "not finite"},
      {"letters.obj", replaced(boxObj(), "v -0.0199999996", "v x"), "not a number"},
  };
  for (const BadFile& bad : files) {
    const MeshFile file = loaded(bad.name, bad.content);
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << bad.name << ": " << file.reason;
    EXPECT_TRUE(contains(file.reason, bad.fault)) << bad.name << ": " << file.reason;
  }
}

// A file whose first line is "ply" in another case or with white space after
// it is read by the PLY reader, never by another: loaded where the rest is
// PLY, else refused saying what is wrong.
TEST(MeshFileFormats, FirstLinesLikePlyReachOnlyThePlyReader) {
  const std::string box = asciiBox();
  EXPECT_EQ(loaded("a.ply", replaced(box, "ply\n", "ply \n")).outcome, MeshFile::Outcome::kLoaded);
  EXPECT_EQ(loaded("a.ply", replaced(box, "ply\n", "ply\r\n")).outcome, MeshFile::Outcome::kLoaded);
  const MeshFile upper = loaded("a.stl", replaced(box, "ply\n", "PLY\n"));
  EXPECT_EQ(upper.outcome, MeshFile::Outcome::kRefused);
  EXPECT_TRUE(contains(upper.reason, "PLY file: it does not start with the line \"ply\" (its first line is \"PLY\")"))
      << upper.reason;
  std::string carriage_returns = box;
  for (char& c : carriage_returns) c = c == '\n' ? '\r' : c;
  const MeshFile old_mac = loaded("a.ply", carriage_returns);
  EXPECT_EQ(old_mac.outcome, MeshFile::Outcome::kRefused);
  EXPECT_TRUE(contains(old_mac.reason, "no end_header line")) << old_mac.reason;
  const MeshFile spinning = loaded("a.ply", "ply \nformat ascii 1.0\nelement vertex 1\nproperty float x\n");
  EXPECT_EQ(spinning.outcome, MeshFile::Outcome::kRefused);
  EXPECT_TRUE(contains(spinning.reason, "no end_header line")) << spinning.reason;
}

TEST(MeshFileFormats, FormatsNotReadAreRefusedNamingTheFormat) {
  const MeshFile other = loaded("tool.3ds", "MM\x10\0\0\0");
  EXPECT_EQ(other.outcome, MeshFile::Outcome::kNotLoaded);
  EXPECT_TRUE(contains(other.reason, "is a .3ds file, a format not read")) << other.reason;
  const MeshFile unnamed = loaded("tool", "some bytes");
  EXPECT_EQ(unnamed.outcome, MeshFile::Outcome::kNotLoaded);
  EXPECT_TRUE(contains(unnamed.reason, "format not told by its name or content")) << unnamed.reason;
  for (const auto& [name, format] :
       {std::pair{"tool.dae", "Collada"}, std::pair{"tool.gltf", "glTF"}, std::pair{"tool.GLB", "GLB"}}) {
    const MeshFile file = loaded(name, "{}");
    EXPECT_EQ(file.outcome, MeshFile::Outcome::kRefused) << name;
    EXPECT_TRUE(contains(file.reason, std::string("is not a readable ") + format + " file")) << file.reason;
  }
  // Another scheme is fetched, not handed to a loader: nothing listens there.
  const MeshFile fetched = loadMeshFile("http://127.0.0.1:1/tool.stl");
  EXPECT_EQ(fetched.outcome, MeshFile::Outcome::kNotLoaded);
  EXPECT_TRUE(contains(fetched.reason, "cannot be fetched")) << fetched.reason;
}

}  // namespace
