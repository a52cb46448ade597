#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "bramlock_arm_planning_core/rdf_loader/rdf_loader.h"
#include "test_support.h"

using bramlock_test::Environment;
using bramlock_test::OutputCapture;
using bramlock_test::ScopedEnvironment;
using bramlock_test::TempDir;
using rdf_loader::RDFLoader;

namespace {

const char* const kArmSrdf = R"(<?xml version="1.0"?>
<robot name="RAV5-A800-Z4O3V4I">
  <group name="arm">
    <chain base_link="base_link" tip_link="link6"/>
  </group>
  <disable_collisions link1="link1" link2="link2" reason="Adjacent"/>
</robot>
)";

// Stands in for "rosrun xacro xacro": reports each argument after those two
// words on a line of its own, then prints the file named last.
const char* const kEchoingRosrun = R"(#!/bin/sh
if [ "$1" != xacro ] || [ "$2" != xacro ]; then echo "not run as rosrun xacro xacro" >&2; exit 3; fi
shift 2
for argument in "$@"; do printf 'argument[%s]\n' "$argument"; last="$argument"; done
cat "$last"
)";

const char* const kFailingRosrun = "#!/bin/sh\nexit 1\n";

std::string armUrdf() {
  std::string text;
  EXPECT_TRUE(RDFLoader::loadFileToString(
      text, bramlock_test::fixturePath(
                "ament_prefix/share/bramlock_arm_description/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf")));
  return text;
}

// Puts an executable `rosrun` with the given script first on PATH for its lifetime.
class FakeRosrun {
 public:
  explicit FakeRosrun(const std::string& script) : path_(installed(bin_, script)) {}

 private:
  static Environment installed(const TempDir& bin, const std::string& script) {
    const std::filesystem::path program = bin.path() / "rosrun";
    bramlock_test::writeFile(program, script);
    std::filesystem::permissions(program, std::filesystem::perms::owner_all);
    return {{"PATH", bin.path().string() + ":" + std::getenv("PATH")}};
  }

  TempDir bin_;
  ScopedEnvironment path_;
};

struct XacroRun {
  bool loaded;
  std::string buffer;
  std::string out;
};

XacroRun runXacro(const std::string& buffer, const std::string& path, const std::vector<std::string>& args) {
  XacroRun run{false, buffer, ""};
  OutputCapture capture;
  run.loaded = RDFLoader::loadXacroFileToString(run.buffer, path, args);
  run.out = capture.out();
  return run;
}

}  // namespace

TEST(RDFLoaderParsing, UrdfAndSrdfTextsBecomeBothModels) {
  const RDFLoader loader(armUrdf(), kArmSrdf);
  ASSERT_NE(loader.getURDF(), nullptr);
  ASSERT_NE(loader.getSRDF(), nullptr);
  EXPECT_EQ(loader.getURDF()->getName(), "RAV5-A800-Z4O3V4I");
  EXPECT_NE(loader.getURDF()->getLink("link6"), nullptr);
  ASSERT_EQ(loader.getSRDF()->getGroups().size(), 1u);
  EXPECT_EQ(loader.getSRDF()->getGroups()[0].name_, "arm");
  EXPECT_EQ(loader.getSRDF()->getDisabledCollisionPairs().size(), 1u);
  EXPECT_EQ(loader.getRobotDescription(), "");
}

TEST(RDFLoaderParsing, BadTextsLeaveTheirModelsNull) {
  OutputCapture parser_messages;
  const RDFLoader bad_srdf(armUrdf(), "<robot name=\"x\"><group");
  EXPECT_NE(bad_srdf.getURDF(), nullptr);
  EXPECT_EQ(bad_srdf.getSRDF(), nullptr);

  // Without a URDF model no SRDF is read, however good it is.
  const RDFLoader bad_urdf("<robot><link", kArmSrdf);
  EXPECT_EQ(bad_urdf.getURDF(), nullptr);
  EXPECT_EQ(bad_urdf.getSRDF(), nullptr);

  const RDFLoader by_name("robot_description");
  EXPECT_EQ(by_name.getURDF(), nullptr);
  EXPECT_EQ(by_name.getSRDF(), nullptr);
  EXPECT_EQ(by_name.getRobotDescription(), "");
}

TEST(RDFLoaderFiles, XacroFilesAreKnownByTheirNameInAnyCase) {
  EXPECT_TRUE(RDFLoader::isXacroFile("/robots/arm.XACRO"));
  EXPECT_TRUE(RDFLoader::isXacroFile("arm.urdf.Xacro"));
  EXPECT_TRUE(RDFLoader::isXacroFile("arm.xacro.bak"));
  EXPECT_TRUE(RDFLoader::isXacroFile("机械臂/手臂.xAcRo"));
  EXPECT_FALSE(RDFLoader::isXacroFile("机械臂/arm.urdf"));
  EXPECT_FALSE(RDFLoader::isXacroFile("xacro/arm_xacro.urdf"));
  EXPECT_FALSE(RDFLoader::isXacroFile(""));
}

TEST(RDFLoaderFiles, PlainFileReplacesTheBufferAndFailuresAreSilent) {
  TempDir dir;
  const std::string content = std::string("<robot name=\"a\">\n\0binary\xff tail", 30) + std::string(5000, 'x');
  bramlock_test::writeFile(dir.path() / "arm.urdf", content);

  OutputCapture capture;
  std::string buffer = "previous text";
  EXPECT_TRUE(RDFLoader::loadXmlFileToString(buffer, (dir.path() / "arm.urdf").string(), {"ignored:=1"}));
  EXPECT_EQ(buffer, content);

  std::string untouched = "keep";
  EXPECT_FALSE(RDFLoader::loadFileToString(untouched, ""));
  EXPECT_FALSE(RDFLoader::loadFileToString(untouched, (dir.path() / "missing.urdf").string()));
  EXPECT_FALSE(RDFLoader::loadXmlFileToString(untouched, (dir.path() / "missing.urdf").string(), {}));
  EXPECT_FALSE(RDFLoader::loadFileToString(untouched, dir.path().string()));
  EXPECT_EQ(untouched, "keep");
  EXPECT_EQ(capture.out(), "");
}

TEST(RDFLoaderFiles, XacroFailuresBeforeRunningArePrinted) {
  TempDir dir;
  std::string buffer = "keep";
  OutputCapture capture;
  EXPECT_FALSE(RDFLoader::loadXmlFileToString(buffer, (dir.path() / "missing.urdf.xacro").string(), {}));
  EXPECT_FALSE(RDFLoader::loadXacroFileToString(buffer, "", {}));
  EXPECT_EQ(capture.out(), "File does not exist!!!\nPath is empty!!!\n");
  EXPECT_EQ(buffer, "keep");
}

TEST(RDFLoaderXacro, OutputIsAppendedWithEveryArgumentPassedIntact) {
  TempDir dir;
  const std::string path = (dir.path() / "arm.urdf.xacro").string();
  const std::string long_line = std::string(300, 'L');
  bramlock_test::writeFile(path, "<robot name=\"arm\"/>\n" + long_line + "\n");
  FakeRosrun rosrun(kEchoingRosrun);

  const XacroRun run = runXacro("<!-- head -->\n", path, {"prefix:=left_", "label:=it's a $(arm) ; test", ""});
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(run.buffer,
            "<!-- head -->\n"
            "argument[prefix:=left_]\n"
            "argument[label:=it's a $(arm) ; test]\n"
            "argument[]\n"
            "argument[" +
                path +
                "]\n"
                "<robot name=\"arm\"/>\n" +
                long_line + "\n");
  EXPECT_EQ(run.out, "");
}

TEST(RDFLoaderXacro, PathWithBlankAndSemicolonStaysOneArgument) {
  TempDir dir;
  const std::string path = (dir.path() / "my robots" / "arm; echo INJECTED.xacro").string();
  bramlock_test::writeFile(path, "<robot name=\"arm\"/>\n");
  FakeRosrun rosrun(kEchoingRosrun);

  const XacroRun run = runXacro("", path, {});
  EXPECT_TRUE(run.loaded);
  EXPECT_EQ(run.buffer, "argument[" + path + "]\n<robot name=\"arm\"/>\n");
}

TEST(RDFLoaderXacro, FailingOrMissingToolReportsFailureAndKeepsTheBuffer) {
  TempDir dir;
  const std::string path = (dir.path() / "arm.xacro").string();
  bramlock_test::writeFile(path, "<robot name=\"arm\"/>\n");
  {
    FakeRosrun rosrun(kFailingRosrun);
    const XacroRun run = runXacro("keep", path, {});
    EXPECT_FALSE(run.loaded);
    EXPECT_EQ(run.buffer, "keep");
    EXPECT_EQ(run.out, "xacro failed on " + path + "!!!\n");
  }
  TempDir empty_bin;
  ScopedEnvironment no_rosrun({{"PATH", empty_bin.path().string()}});
  const XacroRun run = runXacro("keep", path, {});
  EXPECT_FALSE(run.loaded);
  EXPECT_EQ(run.buffer, "keep");
  EXPECT_EQ(run.out, "xacro failed on " + path + "!!!\n");
}

TEST(RDFLoaderFiles, PackageFilesCannotBeFound) {
  ScopedEnvironment environment({{"AMENT_PREFIX_PATH", bramlock_test::amentPrefixPath()}});
  std::string buffer = "keep";
  OutputCapture capture;
  EXPECT_FALSE(RDFLoader::loadPkgFileToString(buffer, "bramlock_arm_description",
                                              "/urdf/RAV5-A800-Z4O3V4I/RAV5-A800-Z4O3V4I.urdf", {}));
  EXPECT_FALSE(RDFLoader::loadPkgFileToString(buffer, "no_such_package", "/a.urdf", {}));
  EXPECT_EQ(capture.out(),
            "Unable to find the package name bramlock_arm_description!!!\n"
            "Unable to find the package name no_such_package!!!\n");
  EXPECT_EQ(buffer, "keep");
}
